#pragma once

#include <string>

#include "LinuxDesktop.h"
#include "platform/Accessibility.h"
#include "platform/Alert.h"
#include "platform/KeyboardEvents.h"

// What stands in for the graphical desktop when there is no display.
namespace platform::linux_platform {

// Answers matching no button, so that no button's action is taken.
inline constexpr ModalResponse headlessAlertResponse = -1000;

// Writes each alert to the log (message, informative text, buttons) and
// answers it at once.
class HeadlessAlerts : public AlertPresenter {
public:
    explicit HeadlessAlerts(std::string subsystem) : subsystem_(std::move(subsystem)) {}
    ModalResponse runModal(const Alert& alert) override;

private:
    std::string subsystem_;
};

// No display, no events: every source fails, for the reason given.
class HeadlessKeyboardEvents : public KeyboardEvents {
public:
    explicit HeadlessKeyboardEvents(std::string reason) : reason_(std::move(reason)) {}
    std::shared_ptr<EventSource> createSource(EventSourceStateID) override { return nullptr; }
    std::shared_ptr<KeyboardEvent> createKeyboardEvent(EventSource&, VirtualKeyCode, bool) override {
        return nullptr;
    }
    void setFlags(KeyboardEvent&, EventFlags) override {}
    void post(EventTapLocation, KeyboardEvent&) override {}
    std::optional<Error> unavailability() override { return Error{reason_}; }

private:
    std::string reason_;
};

// Trusted when the desktop can post synthetic input; there is no one to ask.
class LinuxAccessibility : public Accessibility {
public:
    explicit LinuxAccessibility(linux_desktop::Desktop* desktop) : desktop_(desktop) {}
    bool isProcessTrusted() override { return desktop_ != nullptr && desktop_->canPostEvents(); }
    bool requestPostEventAccess() override { return isProcessTrusted(); }

private:
    linux_desktop::Desktop* desktop_;
};

}  // namespace platform::linux_platform
