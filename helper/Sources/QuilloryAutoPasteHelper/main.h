#pragma once

#include <memory>

#include "AutoPasteHelper.h"
#include "platform/Application.h"

namespace quillory {

// The process-wide references that keep the application object and the one
// delegate alive until the process ends.
namespace process {
inline platform::Application* application = nullptr;
inline std::shared_ptr<AutoPasteHelper> delegate;
}  // namespace process

// The program's entry, once the platform is installed: builds the delegate,
// makes the helper an accessory application and runs the event loop.
int helperMain();

}  // namespace quillory
