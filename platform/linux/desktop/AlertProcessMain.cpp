// The alert process of the bundle (Contents/Libexec): shows one alert with
// GTK and prints its answer, so that the agent never loads GTK.
//   <program name> MESSAGE INFORMATIVE-TEXT BUTTON...
// argv[0] is the agent's program name, which GTK shows as the application's
// (window class, the screen reader's application name). Standard output
// carries the lines of AlertAnswers.h; standard input ends when the agent
// wants the alert gone or has itself ended, and then so does this process.

#include <glib-unix.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "AlertAnswers.h"
#include "GtkDialog.h"

using namespace platform::linux_desktop;

namespace {

gboolean onAgentGone(gint fd, GIOCondition, gpointer) {
    char ignored[64];
    if (::read(fd, ignored, sizeof ignored) > 0) return G_SOURCE_CONTINUE;
    std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s MESSAGE INFORMATIVE-TEXT BUTTON...\n", argv[0]);
        return 2;
    }
    platform::Alert alert;
    alert.setMessageText(argv[1]);
    alert.setInformativeText(argv[2]);
    for (int i = 3; i < argc; ++i) alert.addButton(argv[i]);

    // GTK's own texts in the user's language, as the agent's would be.
    std::setlocale(LC_MESSAGES, "");
    if (!setUpGtk()) return 1;
    g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), onAgentGone,
                  nullptr);

    const platform::ModalResponse response = runGtkDialog(alert, [](std::uint32_t window) {
        std::printf("%s%u\n", windowLinePrefix, window);
        std::fflush(stdout);
    });
    std::printf("%s%ld\n", responseLinePrefix, response);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
