#include "GtkDialog.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AlertAnswers.h"

namespace platform::linux_desktop {

namespace {

struct Showing {
    GMainLoop* loop = nullptr;
    const std::function<void(std::uint32_t)>* shown = nullptr;
    ModalResponse response = closedResponse;
};

void onResponse(GtkDialog*, gint response, gpointer data) {
    auto* showing = static_cast<Showing*>(data);
    showing->response = response >= alertFirstButtonReturn ? response : closedResponse;
    g_main_loop_quit(showing->loop);
}

gboolean onMapped(GtkWidget* dialog, GdkEvent*, gpointer data) {
    // Mapped is not yet in front: the window manager may hold a new window
    // of a background process back, so the agent asks for it as a pager.
    GdkWindow* window = gtk_widget_get_window(dialog);
    if (window != nullptr && GDK_IS_X11_WINDOW(window)) {
        (*static_cast<Showing*>(data)->shown)(static_cast<std::uint32_t>(gdk_x11_window_get_xid(window)));
    }
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

}  // namespace

bool setUpGtk() {
    // The alert belongs on the display the desktop watches: X11, or the
    // Wayland compositor when the agent says so. The locale is the process's
    // own, as in the agent.
    const char* backend = std::getenv("QUILLORY_ALERT_BACKEND");
    const bool onWayland = backend != nullptr && std::strcmp(backend, "wayland") == 0;
    gdk_set_allowed_backends(onWayland ? "wayland" : "x11");
    // A Wayland window's app_id comes from the program's name; the agent's
    // desktop recognises its own windows by it.
    const char* appId = std::getenv("QUILLORY_ALERT_APP_ID");
    if (onWayland && appId != nullptr && appId[0] != '\0') g_set_prgname(appId);
    gtk_disable_setlocale();
    if (!gtk_init_check(nullptr, nullptr)) return false;
    g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, filterGtkMessages, nullptr);
    return true;
}

ModalResponse runGtkDialog(const Alert& alert, const std::function<void(std::uint32_t window)>& shown) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE,
                                               "%s", alert.messageText().c_str());
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
    if (GtkWidget* first = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), alertFirstButtonReturn)) {
        gtk_widget_grab_focus(first);
    }

    // Closing the window destroys the dialog before the loop returns.
    g_object_ref(dialog);
    Showing showing;
    showing.loop = g_main_loop_new(nullptr, FALSE);
    showing.shown = &shown;
    g_signal_connect(dialog, "response", G_CALLBACK(onResponse), &showing);
    g_signal_connect(dialog, "map-event", G_CALLBACK(onMapped), &showing);

    gtk_window_present(GTK_WINDOW(dialog));
    g_main_loop_run(showing.loop);

    g_signal_handlers_disconnect_by_data(dialog, &showing);
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
    g_main_loop_unref(showing.loop);
    return showing.response;
}

}  // namespace platform::linux_desktop
