#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

// What LaunchServices does on macOS: one running instance per bundle, which
// hears "reopen" when the application is opened again. The instance is the
// process that owns the bundle identifier as a name on the session bus; it
// serves org.freedesktop.Application there, and Activate is the reopen.
namespace platform::linux_platform {

class ApplicationInstance {
public:
    enum class Claim { running, forwarded };

    // `reopened` runs in the main context each time another start is
    // forwarded here.
    ApplicationInstance(GDBusConnection* bus, const std::string& bundleIdentifier,
                        std::function<void()> reopened);
    ~ApplicationInstance();
    ApplicationInstance(const ApplicationInstance&) = delete;
    ApplicationInstance& operator=(const ApplicationInstance&) = delete;

    // A new instance (an agent started by the login-item service, a launch
    // that asks for one) queues for the name and always runs. Any other
    // start becomes the instance if there is none, and otherwise forwards a
    // reopen to it and should end.
    Claim claim(bool newInstance);

    const std::string& busName() const { return busName_; }
    const std::string& objectPath() const { return objectPath_; }

private:
    static void handleMethod(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                             GVariant*, GDBusMethodInvocation* invocation, gpointer self);
    enum class Forward { delivered, noInstance, noAnswer };
    Forward forwardReopen();

    GDBusConnection* bus_;
    std::string busName_;
    std::string objectPath_;
    std::function<void()> reopened_;
    guint registration_ = 0;
};

}  // namespace platform::linux_platform
