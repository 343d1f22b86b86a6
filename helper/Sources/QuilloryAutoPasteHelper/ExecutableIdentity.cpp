#include "ExecutableIdentity.h"

#include "platform/Bundle.h"

namespace quillory {

ExecutableIdentity ExecutableIdentity::current() {
    const auto path = platform::Bundle::main().executablePath();
    if (!path) return {};
    platform::Error ignored;
    const auto attributes = platform::FileManager::shared().attributesOfItem(*path, &ignored);
    if (!attributes) return {};
    return ExecutableIdentity{attributes->fileSystemFileNumber, attributes->modificationDate};
}

}  // namespace quillory
