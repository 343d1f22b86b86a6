#include "GtkAlertPresenter.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/Bundle.h"
#include "platform/Log.h"

namespace platform::linux_desktop {

namespace {

const Logger log{"me.ombrel.quillory.autopastehelper", "desktop"};

GtkAlertPresenter* presenterOfDisplay = nullptr;
// GTK is set up once per process, whatever the number of presenters.
enum class GtkState { untried, ready, failed } gtkState = GtkState::untried;

int ignoreXlibIOError(Display*) { return 0; }

// Xlib (under GDK) ends the process when its connection breaks, unless the
// exit handler returns. The dead socket stays readable for ever and would keep
// the main loop spinning, so a quiet pipe takes its place.
void survivedXlibIOError(Display* display, void*) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) == 0) {
        dup3(pipeEnds[0], ConnectionNumber(display), O_CLOEXEC);
        close(pipeEnds[0]);
        // The write end stays open, so the read end never reports its end.
    }
    if (presenterOfDisplay != nullptr) presenterOfDisplay->displayLost();
}

void filterGtkMessages(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    // An alert of an agent has no window to belong to.
    if (message != nullptr && std::strstr(message, "without a transient parent") != nullptr) return;
    g_log_default_handler(domain, level, message, nullptr);
}

std::string withoutMnemonic(const std::string& title) {
    std::string escaped;
    for (char c : title) {
        if (c == '_') escaped += '_';
        escaped += c;
    }
    return escaped;
}

}  // namespace

struct GtkAlertPresenter::Showing {
    GtkWidget* dialog = nullptr;
    GMainLoop* loop = nullptr;
    ModalResponse response = abortedResponse;
    bool isAnswered = false;

    void answer(ModalResponse value) {
        if (isAnswered) return;
        isAnswered = true;
        response = value;
        g_main_loop_quit(loop);
    }
};

namespace {

void onResponse(GtkDialog*, gint response, gpointer data) {
    auto* showing = static_cast<GtkAlertPresenter::Showing*>(data);
    showing->answer(response >= alertFirstButtonReturn ? response : GtkAlertPresenter::closedResponse);
}

gboolean onMapped(GtkWidget* dialog, GdkEvent*, gpointer data) {
    auto* activateWindow = static_cast<std::function<void(std::uint32_t)>*>(data);
    if (GdkWindow* window = gtk_widget_get_window(dialog); window != nullptr && GDK_IS_X11_WINDOW(window)) {
        (*activateWindow)(static_cast<std::uint32_t>(gdk_x11_window_get_xid(window)));
    }
    return FALSE;
}

}  // namespace

GtkAlertPresenter::GtkAlertPresenter(std::function<void(std::uint32_t)> activateWindow)
    : activateWindow_(std::move(activateWindow)) {}

GtkAlertPresenter::~GtkAlertPresenter() {
    if (presenterOfDisplay == this) presenterOfDisplay = nullptr;
}

bool GtkAlertPresenter::setUpGtk() {
    if (gtkState != GtkState::untried) {
        if (gtkState == GtkState::ready) presenterOfDisplay = this;
        return gtkState == GtkState::ready;
    }
    // The alert belongs on the X display the desktop watches; the process
    // keeps its own locale settings (log text must not change with them).
    gdk_set_allowed_backends("x11");
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) {
        gtkState = GtkState::failed;
        return false;
    }
    g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, filterGtkMessages, nullptr);
    presenterOfDisplay = this;
    XSetIOErrorHandler(ignoreXlibIOError);
    XSetIOErrorExitHandler(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), survivedXlibIOError, nullptr);
    gtkState = GtkState::ready;
    return true;
}

ModalResponse GtkAlertPresenter::runModal(const Alert& alert) {
    if (isDisplayLost_ || !setUpGtk()) {
        log.error("Could not show the alert \"%{public}s\": there is no display.", alert.messageText());
        return abortedResponse;
    }
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE,
                                               "%s", alert.messageText().c_str());
    if (!alert.informativeText().empty()) {
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                                 alert.informativeText().c_str());
    }
    gtk_window_set_title(GTK_WINDOW(dialog), "");
    std::vector<std::string> buttons = alert.buttons();
    // An alert given no button has one, as on macOS.
    if (buttons.empty()) buttons.push_back(localized("OK"));
    // The first button is the default one and, as on this desktop's own
    // dialogs, stands rightmost: added last.
    for (std::size_t i = buttons.size(); i-- > 0;) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), withoutMnemonic(buttons[i]).c_str(),
                              static_cast<gint>(alertFirstButtonReturn + static_cast<ModalResponse>(i)));
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<gint>(alertFirstButtonReturn));
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), alertFirstButtonReturn));

    Showing showing;
    showing.dialog = dialog;
    showing.loop = g_main_loop_new(nullptr, FALSE);
    g_signal_connect(dialog, "response", G_CALLBACK(onResponse), &showing);
    g_signal_connect(dialog, "map-event", G_CALLBACK(onMapped), &activateWindow_);
    showing_.push_back(&showing);

    gtk_window_present(GTK_WINDOW(dialog));
    g_main_loop_run(showing.loop);

    showing_.erase(std::find(showing_.begin(), showing_.end(), &showing));
    g_signal_handlers_disconnect_by_data(dialog, &showing);
    g_signal_handlers_disconnect_by_data(dialog, &activateWindow_);
    gtk_widget_destroy(dialog);
    g_main_loop_unref(showing.loop);
    return showing.response;
}

void GtkAlertPresenter::bringToFront() {
    if (showing_.empty() || isDisplayLost_) return;
    GtkWidget* dialog = showing_.back()->dialog;
    gtk_window_present(GTK_WINDOW(dialog));
    if (GdkWindow* window = gtk_widget_get_window(dialog); window != nullptr && GDK_IS_X11_WINDOW(window)) {
        activateWindow_(static_cast<std::uint32_t>(gdk_x11_window_get_xid(window)));
    }
}

void GtkAlertPresenter::displayLost() {
    isDisplayLost_ = true;
    for (Showing* showing : showing_) showing->answer(abortedResponse);
}

}  // namespace platform::linux_desktop
