// The main window, its process-wide globals and the small accessors other
// modules use to address it.
#pragma once

#include <gtk/gtk.h>

extern GtkWidget *window_main;
extern GtkWidget *window_connection_settings;
extern GtkWidget *window_format_parameters;
extern GtkWidget *window_application_settings;
extern GtkWidget *window_sector_contents;
extern GtkWidget *progressbar_main;

// Drop targets of the main window: "text/uri-list" only.
extern GtkTargetEntry target_list[];
extern const guint n_targets;

GtkWidget *create_window_main(void);

void notebook_main_set_page(int page);
// Keeps the main window inside the work area after it grew or moved; the
// pages scroll when the screen is too small for them.
void window_main_fit_on_screen(void);
void statusbar_main_update(const char *text);
void window_main_title_update(const char *name);
void button_warpsave_to_d64_give_focus(void);
void button_directory_give_focus(void);

// Signal handlers of the main window.
void on_menuitem_view_disk_imaging_tab_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_view_files_directory_tab_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_view_logging_tab_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_select_folder_activate(GtkMenuItem *item, gpointer data);
void on_window_main_drag_data_received(GtkWidget *widget, GdkDragContext *context,
                                       gint x, gint y, GtkSelectionData *selection,
                                       guint info, guint time, gpointer data);

// The file a drop names, or null when the drop must be refused (busy, no
// data, not 8-bit, no URI).  Newly allocated.
char *window_main_drop_file_name(GtkSelectionData *selection);
// Applies the chosen font to the log view.
void window_main_set_textview_fonts(void);
