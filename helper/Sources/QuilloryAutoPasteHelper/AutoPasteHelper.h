#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ExecutableIdentity.h"
#include "platform/Application.h"
#include "platform/Log.h"
#include "platform/RunningApplication.h"

namespace quillory {

class PasteService;

// The application delegate: chooses the mode when launching has finished and
// owns the agent's objects for the life of the process.
class AutoPasteHelper : public platform::ApplicationDelegate,
                        public std::enable_shared_from_this<AutoPasteHelper> {
public:
    AutoPasteHelper();

    // True exactly when KVX_AUTOPASTE_AGENT is "1"; read anew each time.
    static bool isAgent();

    void applicationDidFinishLaunching() override;
    void applicationWillTerminate() override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;

private:
    void runAsAgent();
    void uninstall();
    void handleReopen();
    void handOverToReplacement();
    void setUp();
    void stopRunningAgents(std::function<void()> then);
    void check(std::vector<platform::ProcessIdentifier> agents, std::chrono::nanoseconds deadline,
               std::function<void()> then);

    const platform::Logger log;
    std::shared_ptr<PasteService> service;
    const ExecutableIdentity launchedExecutable;
    const std::string launchBundlePath;
    bool isUninstalling = false;
};

}  // namespace quillory
