// The directory panel's side in the window: listing the image in memory
// with its log lines, Tools > Export directory to PNG, and the connection of
// the panel's signals and of the D64 chooser's preview.
#pragma once

#include <gtk/gtk.h>

// Connects the panel's signals and the chooser preview hooks; call once
// after the main window is built, before it is shown.
void dirview_module_init(void);

// Lists d64_storage in the panel; the caller has checked the header sector
// and set flag_dir_in_track_18 to 1.
void decode_and_show_directory_listing(void);
gboolean idle_decode_and_show_directory_listing(gpointer data);

// Tools > Export directory to PNG.
void on_menuitem_export_directory_to_png_activate(GtkMenuItem *item, gpointer data);

// The suggested file name of the PNG export (g_free it).
gchar *dirview_png_suggested_name(void);
