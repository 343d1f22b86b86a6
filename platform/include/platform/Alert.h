#pragma once

#include <string>
#include <vector>

namespace platform {

using ModalResponse = long;
inline constexpr ModalResponse alertFirstButtonReturn = 1000;
inline constexpr ModalResponse alertSecondButtonReturn = 1001;

// A modal alert, built like an NSAlert and shown by the platform's presenter.
class Alert {
public:
    void setMessageText(std::string text) { messageText_ = std::move(text); }
    void setInformativeText(std::string text) { informativeText_ = std::move(text); }
    void addButton(std::string title) { buttons_.push_back(std::move(title)); }

    // Blocks the main thread until a button is pressed; main-queue work goes
    // on meanwhile. 1000 for the first button added, 1001 for the second.
    ModalResponse runModal() const;

    const std::string& messageText() const { return messageText_; }
    const std::string& informativeText() const { return informativeText_; }
    const std::vector<std::string>& buttons() const { return buttons_; }

private:
    std::string messageText_;
    std::string informativeText_;
    std::vector<std::string> buttons_;
};

class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;
    virtual ModalResponse runModal(const Alert& alert) = 0;

    static AlertPresenter& shared();
};

}  // namespace platform
