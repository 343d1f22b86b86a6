#include "GtkDialogs.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace platform::linux_desktop {

namespace {

struct Showing {
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

void onResponse(GtkDialog*, gint response, gpointer data) {
    static_cast<Showing*>(data)->answer(response >= alertFirstButtonReturn ? response : closedResponse);
}

std::uint32_t xWindowOf(GtkWidget* widget) {
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return 0;
    return static_cast<std::uint32_t>(gdk_x11_window_get_xid(window));
}

gboolean onMapped(GtkWidget* dialog, GdkEvent*, gpointer data) {
    // Mapped is not yet in front: the window manager may hold a new window
    // of a background process back.
    if (std::uint32_t window = xWindowOf(dialog))
        (*static_cast<const GtkDialogs::ActivateWindow*>(data))(window);
    return FALSE;
}

std::string withoutMnemonic(const std::string& title) {
    std::string escaped;
    for (char c : title) {
        if (c == '_') escaped += '_';
        escaped += c;
    }
    return escaped;
}

void filterGtkMessages(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer) {
    // An alert of an agent has no window to belong to.
    if (message != nullptr && std::strstr(message, "without a transient parent") != nullptr) return;
    g_log_default_handler(domain, level, message, nullptr);
}

class Dialogs : public GtkDialogs {
public:
    ModalResponse runModal(const Alert& alert, const ActivateWindow& activateWindow) override {
        if (isDisplayLost_) return abortedResponse;
        GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                                   GTK_BUTTONS_NONE, "%s", alert.messageText().c_str());
        if (!alert.informativeText().empty()) {
            gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                                     alert.informativeText().c_str());
        }
        gtk_window_set_title(GTK_WINDOW(dialog), "");
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        const std::vector<std::string>& buttons = alert.buttons();
        // The first button is the default one and, as on this desktop's own
        // dialogs, stands rightmost: added last.
        for (std::size_t i = buttons.size(); i-- > 0;) {
            gtk_dialog_add_button(GTK_DIALOG(dialog), withoutMnemonic(buttons[i]).c_str(),
                                  static_cast<gint>(alertFirstButtonReturn + static_cast<ModalResponse>(i)));
        }
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), static_cast<gint>(alertFirstButtonReturn));
        if (GtkWidget* first =
                gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), alertFirstButtonReturn)) {
            gtk_widget_grab_focus(first);
        }

        Showing showing;
        showing.dialog = dialog;
        showing.loop = g_main_loop_new(nullptr, FALSE);
        g_signal_connect(dialog, "response", G_CALLBACK(onResponse), &showing);
        g_signal_connect(dialog, "map-event", G_CALLBACK(onMapped),
                         const_cast<ActivateWindow*>(&activateWindow));
        showing_.push_back(&showing);

        gtk_window_present(GTK_WINDOW(dialog));
        g_main_loop_run(showing.loop);

        showing_.erase(std::find(showing_.begin(), showing_.end(), &showing));
        g_signal_handlers_disconnect_by_data(dialog, &showing);
        g_signal_handlers_disconnect_by_data(dialog, const_cast<ActivateWindow*>(&activateWindow));
        gtk_widget_destroy(dialog);
        g_main_loop_unref(showing.loop);
        return showing.response;
    }

    void bringToFront(const ActivateWindow& activateWindow) override {
        if (showing_.empty() || isDisplayLost_) return;
        GtkWidget* dialog = showing_.back()->dialog;
        gtk_window_present(GTK_WINDOW(dialog));
        if (std::uint32_t window = xWindowOf(dialog)) activateWindow(window);
    }

    void abortAll() override {
        for (Showing* showing : showing_) showing->answer(abortedResponse);
    }

    bool isDisplayLost() const override { return isDisplayLost_; }

    void displayLost() {
        isDisplayLost_ = true;
        abortAll();
    }

private:
    std::vector<Showing*> showing_;
    bool isDisplayLost_ = false;
};

Dialogs* dialogs = nullptr;
bool hasFailed = false;

int ignoreXlibIOError(Display*) { return 0; }

// Xlib (under GDK) ends the process when its connection breaks, unless the
// exit handler returns. The dead socket would stay readable for ever and
// keep the main loop spinning, so a quiet pipe takes its place.
void survivedXlibIOError(Display* display, void*) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) == 0) {
        dup3(pipeEnds[0], ConnectionNumber(display), O_CLOEXEC);
        close(pipeEnds[0]);
        // The write end stays open, so the read end never reports its end.
    }
    if (dialogs != nullptr) dialogs->displayLost();
}

}  // namespace

}  // namespace platform::linux_desktop

extern "C" __attribute__((visibility("default"))) platform::linux_desktop::GtkDialogs* quilloryGtkDialogs() {
    using namespace platform::linux_desktop;
    if (dialogs != nullptr || hasFailed) return dialogs;
    // The alert belongs on the X display the desktop watches; the process
    // keeps its own locale settings (log text must not change with them).
    gdk_set_allowed_backends("x11");
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) {
        hasFailed = true;
        return nullptr;
    }
    g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, filterGtkMessages, nullptr);
    XSetIOErrorHandler(ignoreXlibIOError);
    XSetIOErrorExitHandler(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), survivedXlibIOError, nullptr);
    dialogs = new Dialogs;
    return dialogs;
}
