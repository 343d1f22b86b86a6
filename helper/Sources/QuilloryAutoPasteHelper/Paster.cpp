#include "Paster.h"

#include <array>
#include <string>
#include <vector>

#include "LogSubsystem.h"
#include "platform/Accessibility.h"
#include "platform/Dispatch.h"
#include "platform/KeyboardEvents.h"
#include "platform/Posix.h"
#include "platform/Workspace.h"

namespace quillory {

namespace {

constexpr double delayBeforeChoosingTarget = 0.03;
constexpr double waitAfterReactivating = 0.06;
constexpr double delayBeforePermissionRecheck = 0.15;
constexpr unsigned pauseBetweenEventsMicroseconds = 8000;

constexpr platform::VirtualKeyCode commandKey = 55;
constexpr platform::VirtualKeyCode vKey = 9;

struct KeyStroke {
    platform::VirtualKeyCode keyCode;
    bool keyDown;
    platform::EventFlags flags;
};

// The Command key events themselves carry no flags: a Command flag on the
// Command key-up would leave Command held down in the user's session.
constexpr std::array<KeyStroke, 4> commandV{{
    {commandKey, true, 0},
    {vKey, true, platform::eventFlagMaskCommand},
    {vKey, false, platform::eventFlagMaskCommand},
    {commandKey, false, 0},
}};

std::string nameForLog(const platform::RunningApplication& application) {
    return application.bundleIdentifier().value_or("unknown");
}

}  // namespace

Paster::Paster()
    : log(logSubsystem, "paste"),
      tracker(PasteTargetTracker::make()),
      permissionPrompt(std::make_unique<PermissionPrompt>()) {}

void Paster::paste(std::function<void(bool)> completion) {
    if (!platform::Accessibility::shared().isProcessTrusted()) {
        log.error("Paste requested but the permission to post events looks missing; trying anyway.");
    }
    auto self = shared_from_this();
    platform::DispatchQueue::main().asyncAfter(
        delayBeforeChoosingTarget, [self, completion = std::move(completion)]() mutable {
            self->focusPasteTarget([self, completion = std::move(completion)] {
                const bool posted = self->postCommandV();
                if (completion) completion(posted);
                platform::DispatchQueue::main().asyncAfter(delayBeforePermissionRecheck, [self] {
                    if (!platform::Accessibility::shared().isProcessTrusted()) {
                        self->permissionPrompt->showIfDue();
                    }
                });
            });
        });
}

void Paster::focusPasteTarget(std::function<void()> then) {
    const auto front = platform::Workspace::shared().frontmostApplication();
    if (front && tracker->isPasteTarget(*front)) {
        log.info("Posting ⌘V; %{public}s is already in front.", nameForLog(*front));
        then();
        return;
    }
    const auto remembered = tracker->lastExternalApp;
    if (remembered && !remembered->isTerminated()) {
        log.info("Re-activating %{public}s before pasting.", nameForLog(*remembered));
        // Whether the system honours the activation is not checked: after the
        // wait the keystroke goes to whatever is in front.
        remembered->activate(platform::ApplicationActivationOptions::none);
        platform::DispatchQueue::main().asyncAfter(
            waitAfterReactivating, [self = shared_from_this(), then = std::move(then)] { then(); });
        return;
    }
    log.info("No earlier app to paste into; posting ⌘V to the current frontmost app.");
    then();
}

bool Paster::postCommandV() {
    auto& keyboard = platform::KeyboardEvents::shared();
    auto source = keyboard.createSource(platform::eventSourceStateCombinedSessionState);
    if (!source) source = keyboard.createSource(platform::eventSourceStateHIDSystemState);

    // Either all four events are made or none is posted: half a keystroke
    // could leave Command held down.
    std::vector<std::shared_ptr<platform::KeyboardEvent>> events;
    if (source) {
        for (const auto& stroke : commandV) {
            auto event = keyboard.createKeyboardEvent(*source, stroke.keyCode, stroke.keyDown);
            if (!event) break;
            keyboard.setFlags(*event, stroke.flags);
            events.push_back(std::move(event));
        }
    }
    if (events.size() != commandV.size()) {
        // The platform's reason, where it has one, on the same line: the
        // user reads why in the one message each refused paste leaves.
        if (const auto why = keyboard.unavailability()) {
            log.error("Could not create the ⌘V keyboard events. %{public}s", why->localizedDescription);
        } else {
            log.error("Could not create the ⌘V keyboard events.");
        }
        return false;
    }

    for (std::size_t i = 0; i < events.size(); ++i) {
        keyboard.post(platform::sessionEventTap, *events[i]);
        if (i + 1 < events.size()) platform::Posix::shared().usleep(pauseBetweenEventsMicroseconds);
    }
    return true;
}

}  // namespace quillory
