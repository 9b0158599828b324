// Start-up after toolkit initialisation, and the three ways of quitting.
#pragma once

#include <gtk/gtk.h>

// Initialises the modules, builds the windows, loads and applies the options
// and writes the start-up log lines.  Returns the options file path.
const char *startup_initialise(void);

// Frees what the drawing modules hold and asks a running worker to stop.
void prepare_to_quit_program(void);

// Modules that hold drawing surfaces or text screens register a function
// here to free them when the program quits; they run in registration order.

// File > Quit, closing the main window, and the main window's "destroy":
// each stops a running operation and leaves the main loop.
void on_menuitem_quit_activate(GtkMenuItem *item, gpointer data);
gboolean on_window_main_delete_event(GtkWidget *widget, GdkEvent *event, gpointer data);
void quit_program(GtkWidget *widget, gpointer data);

// SIGTERM, SIGHUP and SIGINT end the window without a question: a running
// job is aborted and given up to 10 s to end, an unsaved read is saved
// (unsaved_keep, the path on stderr), the options are saved, and the main
// loop is left.  A signal ignored when the program started stays ignored.
void startup_watch_signals(void);
// The signal that ended the main loop, or 0.
int startup_ending_signal(void);
