#pragma once

namespace quillory {

// Every logger of the helper logs under this subsystem.
inline constexpr const char* logSubsystem = "me.ombrel.quillory.autopastehelper";

}  // namespace quillory
