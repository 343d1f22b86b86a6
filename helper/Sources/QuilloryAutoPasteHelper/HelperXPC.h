#pragma once

#include <string>
#include <string_view>

#include "platform/XPC.h"

namespace quillory {

// The contract with the main app: where it connects, who may, and what the
// agent announces.
namespace HelperXPC {

inline constexpr std::string_view machServiceName = "7RVD2LMQ5X.me.ombrel.quillory.autopaste";

// Admits the main app, signed by the team directly or through the App Store.
inline constexpr std::string_view clientRequirement =
    "anchor apple generic and identifier \"me.ombrel.quillory\" and "
    "(certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate leaf[subject.OU] = \"7RVD2LMQ5X\")";

// The requirement every connection is held to: the main app's alone, or, with
// a development client's requirement, either.
std::string servedClientRequirement(std::string_view developmentClientRequirement);

inline constexpr std::string_view didStart = "me.ombrel.quillory.helper.didStart";
inline constexpr std::string_view willStop = "me.ombrel.quillory.helper.willStop";

// Posts a notification the way the agent always does: no object, no user
// info, delivered at once.
void post(std::string_view name);

}  // namespace HelperXPC

// The protocol the agent exports. Each request is answered exactly once.
class AutoPasteHelperXPC : public platform::XPCExportedObject {
public:
    using Reply = platform::XPCReply;

    static constexpr std::string_view protocolName = "AutoPasteHelperXPC";
    static constexpr std::string_view pingSelector = "pingWithReply:";
    static constexpr std::string_view pasteSelector = "pasteWithReply:";

    // True while this copy is still installed.
    virtual void ping(Reply reply) = 0;
    // True when the four Command-V key events were posted.
    virtual void paste(Reply reply) = 0;

    static platform::XPCInterface interface();

    void invoke(std::string_view selector, Reply reply) final;
};

}  // namespace quillory
