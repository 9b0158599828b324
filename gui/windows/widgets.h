// Widget registry: every named widget is stored on its toplevel window under
// its name, so any part of the program can find it from any widget of the
// same window tree.
#pragma once

#include <gtk/gtk.h>

// Stores `widget` on `toplevel` under `name`, holding a reference for the
// lifetime of the toplevel.  Also names the widget (gtk_widget_set_name).
void widgets_register(GtkWidget *toplevel, GtkWidget *widget, const char *name);
// Stores a widget's toplevel for widgets that have no parent (menus, popups).
void widgets_set_parent_key(GtkWidget *widget, GtkWidget *toplevel);
// Registers a non-widget object (adjustment, accel group, tooltips...).
void widgets_register_object(GtkWidget *toplevel, GObject *object, const char *name);

// The widget called `name` in the window tree of `widget`, or null with the
// warning "Widget not found: %s".
GtkWidget *lookup_widget(GtkWidget *widget, const char *name);

// Functions that release a module's drawing resources when the program
// quits, run in the order they were added.
void widgets_add_quit_cleanup(void (*cleanup)(void));
void widgets_run_quit_cleanups(void);
