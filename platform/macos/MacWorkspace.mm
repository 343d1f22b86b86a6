#include "MacWorkspace.h"

#import <AppKit/AppKit.h>

#include "MacLog.h"
#include "MacStrings.h"

namespace platform::macos {

namespace {

class MacRunningApplication : public RunningApplication {
public:
    explicit MacRunningApplication(NSRunningApplication* application) : application_(application) {}

    std::optional<std::string> bundleIdentifier() const override {
        return toOptionalString(application_.bundleIdentifier);
    }
    ProcessIdentifier processIdentifier() const override { return application_.processIdentifier; }
    bool isTerminated() const override { return application_.terminated; }
    bool activate(ApplicationActivationOptions options) override {
        const BOOL requested =
            [application_ activateWithOptions:static_cast<NSApplicationActivationOptions>(options)];
        // Since macOS 14 activation is a request the system may ignore: YES
        // says it was sent or allowed, not that the application came forward.
        // Logged for whoever investigates a paste that went astray; nothing
        // acts on it.
        NSString* name = application_.bundleIdentifier ?: @"unknown";
        os_log_debug(platformLog("paste"), "Activation request for %{public}s (pid %d) returned %{bool}d",
                     name.UTF8String, application_.processIdentifier, requested == YES);
        return requested;
    }

private:
    NSRunningApplication* application_;
};

// The seam names AppKit's notifications by their constants' names; the
// values are AppKit's to choose.
NSNotificationName toNotificationName(const std::string& name) {
    if (name == workspaceDidActivateApplicationNotification)
        return NSWorkspaceDidActivateApplicationNotification;
    return toNSString(name);
}

std::string toName(NSNotificationName name) {
    if ([name isEqualToString:NSWorkspaceDidActivateApplicationNotification])
        return workspaceDidActivateApplicationNotification;
    return toString(name);
}

Notification toNotification(NSNotification* notification) {
    Notification converted{toName(notification.name), std::nullopt};
    NSDictionary* userInfo = notification.userInfo;
    if (userInfo == nil) return converted;
    converted.userInfo.emplace();
    // Only the application key crosses the seam; a value of another kind
    // arrives as an empty value, which the reader skips like a missing one.
    id application = userInfo[NSWorkspaceApplicationKey];
    if (application == nil) return converted;
    std::any& value = (*converted.userInfo)[workspaceApplicationKey];
    if ([application isKindOfClass:[NSRunningApplication class]]) value = wrapRunningApplication(application);
    return converted;
}

}  // namespace

RunningApplicationRef wrapRunningApplication(NSRunningApplication* application) {
    if (application == nil) return nullptr;
    return std::make_shared<MacRunningApplication>(application);
}

ObserverToken MacWorkspaceNotificationCenter::addObserver(std::string name, DispatchQueue& queue,
                                                          Handler handler) {
    // Received where AppKit posts it and handed to the queue, the main queue
    // included: NSOperationQueue.mainQueue is GCD's, which waits while an
    // alert is up.
    DispatchQueue* target = &queue;
    id observer = [NSWorkspace.sharedWorkspace.notificationCenter
        addObserverForName:toNotificationName(name)
                    object:nil
                     queue:nil
                usingBlock:^(NSNotification* notification) {
                  target->async([handler, converted = toNotification(notification)] { handler(converted); });
                }];
    const ObserverToken token{nextId_++};
    observers_[token.id] = observer;
    return token;
}

void MacWorkspaceNotificationCenter::removeObserver(ObserverToken token) {
    const auto found = observers_.find(token.id);
    if (found == observers_.end()) return;
    [NSWorkspace.sharedWorkspace.notificationCenter removeObserver:found->second];
    observers_.erase(found);
}

RunningApplicationRef MacWorkspace::frontmostApplication() {
    return wrapRunningApplication(NSWorkspace.sharedWorkspace.frontmostApplication);
}

std::vector<RunningApplicationRef> MacWorkspace::runningApplications(const std::string& bundleIdentifier) {
    std::vector<RunningApplicationRef> applications;
    for (NSRunningApplication* application in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:toNSString(bundleIdentifier)]) {
        applications.push_back(wrapRunningApplication(application));
    }
    return applications;
}

void MacWorkspace::openApplication(const std::string& bundlePath, const OpenConfiguration& configuration,
                                   OpenCompletion completion) {
    NSWorkspaceOpenConfiguration* open = [NSWorkspaceOpenConfiguration configuration];
    open.createsNewApplicationInstance = configuration.createsNewApplicationInstance;
    open.activates = configuration.activates;
    NSMutableDictionary<NSString*, NSString*>* environment = [NSMutableDictionary dictionary];
    for (const auto& [name, value] : configuration.environment)
        environment[toNSString(name)] = toNSString(value);
    open.environment = environment;
    [NSWorkspace.sharedWorkspace openApplicationAtURL:[NSURL fileURLWithPath:toNSString(bundlePath)
                                                                 isDirectory:YES]
                                        configuration:open
                                    completionHandler:^(NSRunningApplication* application, NSError* error) {
                                      std::optional<Error> failure;
                                      if (error != nil) failure = Error{toString(error.localizedDescription)};
                                      completion(wrapRunningApplication(application), failure);
                                    }];
}

bool MacWorkspace::openURL(const std::string& url) {
    NSURL* target = [NSURL URLWithString:toNSString(url)];
    return target != nil && [NSWorkspace.sharedWorkspace openURL:target];
}

}  // namespace platform::macos
