// A window with a text field that reports what reaches it, one line each on
// standard output:
//   window <index> <X window id>   once the window is on screen ("wayland" for a
//                                  native Wayland window)
//   focus <index>                  when the window gets the keyboard focus
//   blur <index>                   when it loses it
//   key <index> <key name> <modifiers>
//   text <index> <text of the field>   after every change (newlines as \n)
// Usage: quillory-paste-target [--windows N] [--title TITLE]
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct TargetWindow {
    int index;
};

void report(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string escaped(const char* text) {
    std::string result;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '\n') {
            result += "\\n";
        } else if (*c == '\\') {
            result += "\\\\";
        } else {
            result += *c;
        }
    }
    return result;
}

gboolean onMapped(GtkWidget* window, GdkEvent*, gpointer data) {
    auto* target = static_cast<TargetWindow*>(data);
    // A native Wayland window has no id that another client could use.
    GdkWindow* shown = gtk_widget_get_window(window);
    char id[32] = "wayland";
    if (GDK_IS_X11_WINDOW(shown))
        std::snprintf(id, sizeof id, "0x%lx", static_cast<unsigned long>(gdk_x11_window_get_xid(shown)));
    report("window " + std::to_string(target->index) + " " + id);
    return FALSE;
}

gboolean onFocus(GtkWidget*, GdkEvent*, gpointer data) {
    report("focus " + std::to_string(static_cast<TargetWindow*>(data)->index));
    return FALSE;
}

gboolean onBlur(GtkWidget*, GdkEvent*, gpointer data) {
    report("blur " + std::to_string(static_cast<TargetWindow*>(data)->index));
    return FALSE;
}

gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    std::string modifiers;
    if (event->state & GDK_CONTROL_MASK) modifiers += "control+";
    if (event->state & GDK_SHIFT_MASK) modifiers += "shift+";
    if (event->state & GDK_MOD1_MASK) modifiers += "alt+";
    if (event->state & GDK_SUPER_MASK) modifiers += "super+";
    if (modifiers.empty()) {
        modifiers = "none";
    } else {
        modifiers.pop_back();
    }
    const char* name = gdk_keyval_name(event->keyval);
    report("key " + std::to_string(static_cast<TargetWindow*>(data)->index) + " " + (name ? name : "?") +
           " " + modifiers);
    return FALSE;
}

void onChanged(GtkEditable* field, gpointer data) {
    report("text " + std::to_string(static_cast<TargetWindow*>(data)->index) + " " +
           escaped(gtk_entry_get_text(GTK_ENTRY(field))));
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    int count = 1;
    std::string title = "Paste target";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--windows") == 0 && i + 1 < argc) {
            count = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--title") == 0 && i + 1 < argc) {
            title = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--windows N] [--title TITLE]\n", argv[0]);
            return 2;
        }
    }
    for (int index = 0; index < count; ++index) {
        auto* target = new TargetWindow{index};
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window),
                             count == 1 ? title.c_str() : (title + " " + std::to_string(index + 1)).c_str());
        gtk_window_set_default_size(GTK_WINDOW(window), 480, 120);
        gtk_window_move(GTK_WINDOW(window), 40 + 60 * index, 40 + 60 * index);
        GtkWidget* field = gtk_entry_new();
        gtk_entry_set_placeholder_text(GTK_ENTRY(field), "Pasted text lands here");
        gtk_container_set_border_width(GTK_CONTAINER(window), 24);
        gtk_container_add(GTK_CONTAINER(window), field);
        g_signal_connect(window, "map-event", G_CALLBACK(onMapped), target);
        g_signal_connect(window, "focus-in-event", G_CALLBACK(onFocus), target);
        g_signal_connect(window, "focus-out-event", G_CALLBACK(onBlur), target);
        g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), target);
        g_signal_connect(field, "changed", G_CALLBACK(onChanged), target);
        g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
        gtk_widget_show_all(window);
    }
    gtk_main();
    return 0;
}
