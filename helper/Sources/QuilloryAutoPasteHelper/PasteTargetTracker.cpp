#include "PasteTargetTracker.h"

#include <any>
#include <string>

#include "platform/Bundle.h"
#include "platform/Dispatch.h"

namespace quillory {

namespace {

constexpr const char* mainAppBundleIdentifier = "me.ombrel.quillory";

}  // namespace

std::shared_ptr<PasteTargetTracker> PasteTargetTracker::make() {
    // The activation handler needs a weak reference, which exists only once
    // the tracker is owned by a shared pointer.
    std::shared_ptr<PasteTargetTracker> tracker(new PasteTargetTracker());
    const auto front = platform::Workspace::shared().frontmostApplication();
    if (front && isPasteTarget(*front)) tracker->lastExternalApp = front;
    tracker->observeActivations();
    return tracker;
}

PasteTargetTracker::~PasteTargetTracker() {
    if (observer) platform::Workspace::shared().notificationCenter().removeObserver(*observer);
}

bool PasteTargetTracker::isPasteTarget(const platform::RunningApplication& application) {
    const auto identifier = application.bundleIdentifier();
    if (identifier && *identifier == mainAppBundleIdentifier) return false;
    // Two absent identifiers count as equal: an unnamed process is taken for
    // the helper when the helper itself has no name.
    return identifier != platform::Bundle::main().bundleIdentifier();
}

void PasteTargetTracker::observeActivations() {
    std::weak_ptr<PasteTargetTracker> weak = weak_from_this();
    observer = platform::Workspace::shared().notificationCenter().addObserver(
        platform::workspaceDidActivateApplicationNotification, platform::DispatchQueue::main(),
        [weak](const platform::Notification& notification) {
            if (const auto tracker = weak.lock()) tracker->applicationDidActivate(notification);
        });
}

void PasteTargetTracker::applicationDidActivate(const platform::Notification& notification) {
    if (!notification.userInfo) return;
    const auto entry = notification.userInfo->find(platform::workspaceApplicationKey);
    if (entry == notification.userInfo->end()) return;
    const auto* application = std::any_cast<platform::RunningApplicationRef>(&entry->second);
    if (application == nullptr || *application == nullptr) return;
    // Activating the main app or the helper keeps the one before them.
    if (isPasteTarget(**application)) lastExternalApp = *application;
}

}  // namespace quillory
