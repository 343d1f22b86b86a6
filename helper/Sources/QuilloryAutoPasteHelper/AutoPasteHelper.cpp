#include "AutoPasteHelper.h"

#include "HelperXPC.h"
#include "LogSubsystem.h"
#include "platform/Bundle.h"
#include "platform/ProcessInfo.h"

namespace quillory {

AutoPasteHelper::AutoPasteHelper()
    : log(logSubsystem, "main"),
      launchedExecutable(ExecutableIdentity::current()),
      launchBundlePath(platform::Bundle::main().bundlePath()) {}

bool AutoPasteHelper::isAgent() {
    const auto environment = platform::ProcessInfo::shared().environment();
    const auto found = environment.find("KVX_AUTOPASTE_AGENT");
    return found != environment.end() && found->second == "1";
}

void AutoPasteHelper::applicationDidFinishLaunching() {
    if (isAgent()) {
        runAsAgent();
    } else {
        setUp();
    }
}

void AutoPasteHelper::applicationWillTerminate() {
    if (isAgent()) HelperXPC::post(HelperXPC::willStop);
}

bool AutoPasteHelper::applicationShouldHandleReopen(bool) {
    if (isAgent()) handleReopen();
    return false;
}

void AutoPasteHelper::runAsAgent() {}

void AutoPasteHelper::uninstall() {}

void AutoPasteHelper::handleReopen() {}

void AutoPasteHelper::handOverToReplacement() {}

void AutoPasteHelper::setUp() {}

void AutoPasteHelper::stopRunningAgents(std::function<void()> then) { then(); }

}  // namespace quillory
