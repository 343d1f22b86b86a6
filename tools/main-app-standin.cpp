// A stand-in of the Quillory main app: a GTK application whose id is
// me.ombrel.quillory, so its window counts as the main app. It can put a
// clip on the clipboard, as the main app does before it asks for a paste,
// and keeps owning it while it runs. Reports on standard output:
//   window <X window id>   once its window is on screen ("wayland" for a native one)
//   clip                   once the clip is on the clipboard
// Usage: quillory-main-app-standin [--clip TEXT]
#include <gdk/gdkwayland.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string clip;
bool hasClip = false;

void report(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

gboolean onMapped(GtkWidget* window, GdkEvent*, gpointer) {
    // A native Wayland window has no id that another client could use.
    GdkWindow* shown = gtk_widget_get_window(window);
    char id[32] = "wayland";
    if (GDK_IS_X11_WINDOW(shown))
        std::snprintf(id, sizeof id, "0x%lx", static_cast<unsigned long>(gdk_x11_window_get_xid(shown)));
    report(std::string("window ") + id);
    return FALSE;
}

void copyClip() {
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), clip.c_str(), -1);
    report("clip");
}

gboolean onFocused(GtkWidget* window, GdkEvent*, gpointer) {
    g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(onFocused), nullptr);
    copyClip();
    return FALSE;
}

void onActivate(GtkApplication* application, gpointer) {
    // GTK 3 names a Wayland window's app_id after the program, not the
    // application: the main app's is its application id.
    if (GDK_IS_WAYLAND_DISPLAY(gdk_display_get_default()))
        g_set_prgname(g_application_get_application_id(G_APPLICATION(application)));
    GtkWidget* window = gtk_application_window_new(application);
    gtk_window_set_title(GTK_WINDOW(window), "Quillory (stand-in)");
    gtk_window_set_default_size(GTK_WINDOW(window), 360, 200);
    gtk_window_move(GTK_WINDOW(window), 400, 300);
    GtkWidget* label =
        gtk_label_new(hasClip ? ("Clip on the clipboard: " + clip).c_str() : "Quillory (stand-in)");
    gtk_container_add(GTK_CONTAINER(window), label);
    g_signal_connect(window, "map-event", G_CALLBACK(onMapped), nullptr);
    gtk_widget_show_all(window);
    if (!hasClip) return;
    // A Wayland compositor takes the clipboard only from the client with the
    // keyboard: the clip is copied once the window has it.
    if (!GDK_IS_X11_WINDOW(gtk_widget_get_window(window))) {
        g_signal_connect(window, "focus-in-event", G_CALLBACK(onFocused), nullptr);
        return;
    }
    copyClip();
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--clip") == 0 && i + 1 < argc) {
            clip = argv[++i];
            hasClip = true;
        } else {
            std::fprintf(stderr, "usage: %s [--clip TEXT]\n", argv[0]);
            return 2;
        }
    }
    // Several stand-ins may run at once (tests); each keeps its own window.
    GtkApplication* application = gtk_application_new("me.ombrel.quillory", G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(onActivate), nullptr);
    char* arguments[] = {argv[0], nullptr};
    const int status = g_application_run(G_APPLICATION(application), 1, arguments);
    g_object_unref(application);
    return status;
}
