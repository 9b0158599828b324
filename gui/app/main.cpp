#include <gtk/gtk.h>
#include <libintl.h>

#include <clocale>
#include <csignal>

#include "gui/app/startup.h"

int main(int argc, char *argv[])
{
    // Workers hand their results over through idle callbacks that take the
    // GDK lock, so the lock has to exist before anything else runs.
    gdk_threads_init();
    // A file size limit makes a save fail as a full disk does, rather than
    // end the program with a temporary file left behind.
    signal(SIGXFSZ, SIG_IGN);
    gtk_set_locale();
    bindtextdomain(GETTEXT_PACKAGE, DRAVLEN_LOCALEDIR);
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    textdomain(GETTEXT_PACKAGE);
    gtk_init(&argc, &argv);

    gdk_threads_enter();
    startup_initialise();
    startup_watch_signals();
    gtk_main();
    gdk_threads_leave();
    // Ended by a signal, the program says so to its parent as well.
    if (int sig = startup_ending_signal()) {
        signal(sig, SIG_DFL);
        raise(sig);
    }
    return 0;
}
