// The settings windows (connection ports, format parameters, application
// settings) and the font and colour dialogs.  The three windows are built once
// at start-up and only shown and hidden; the two dialogs are built per use.
// Every confirmed change is written to the options file at once.
#pragma once

#include <gtk/gtk.h>

// Window builders: each returns a new hidden top-level with its named widgets
// registered for lookup_widget.
GtkWidget *create_window_connection_settings(void);
GtkWidget *create_window_format_parameters(void);
GtkWidget *create_window_application_settings(void);
GtkWidget *create_fontselectiondialog_select_font(void);
GtkWidget *create_dialog_colorselection(void);

// Menu handlers: copy the options into the window's controls and show it.
void on_menuitem_connection_activate(GtkMenuItem *menuitem, gpointer user_data);
void on_menuitem_format_parameters_activate(GtkMenuItem *menuitem, gpointer user_data);
void on_menuitem_application_settings_activate(GtkMenuItem *menuitem, gpointer user_data);

// Font choice for the log view: runs the font dialog until OK, Cancel or close.
void on_menuitem_fonts_activate(GtkMenuItem *menuitem, gpointer user_data);

// OK buttons: copy the controls into the options, hide, save the options file.
void on_button_connection_settings_ok_clicked(GtkButton *button, gpointer user_data);
// Probes the serial ports in the background, lists the ones that answer and
// puts the first into the device port entry.
void on_button_connection_settings_detect_clicked(GtkButton *button, gpointer user_data);
void on_button_format_parameters_ok_clicked(GtkButton *button, gpointer user_data);
void on_button_application_settings_ok_clicked(GtkButton *button, gpointer user_data);

// Closing a secondary window hides it (it is reused), and Escape does the
// same; other keys go on to the window's normal handling.
gboolean on_window_connection_settings_delete_event(GtkWidget *widget, GdkEvent *event, gpointer user_data);
gboolean on_window_format_parameters_delete_event(GtkWidget *widget, GdkEvent *event, gpointer user_data);
gboolean on_window_application_settings_delete_event(GtkWidget *widget, GdkEvent *event, gpointer user_data);
gboolean on_window_sector_contents_delete_event(GtkWidget *widget, GdkEvent *event, gpointer user_data);
gboolean on_window_connection_settings_key_press_event(GtkWidget *widget, GdkEventKey *event, gpointer user_data);
gboolean on_window_format_parameters_key_press_event(GtkWidget *widget, GdkEventKey *event, gpointer user_data);
gboolean on_window_application_settings_key_press_event(GtkWidget *widget, GdkEventKey *event, gpointer user_data);
gboolean on_window_sector_contents_key_press_event(GtkWidget *widget, GdkEventKey *event, gpointer user_data);

// Typing filter of the disk name and ID entries: an insertion holding anything
// but ASCII letters, digits and spaces is dropped whole; otherwise it goes in
// upper-cased.  `handler` is the signal handler function to block while the
// upper-cased text is inserted.
void force_entry_text_to_alphanum_uppercase(GtkEditable *editable, const gchar *new_text,
                                            gint new_text_length, gint *position,
                                            gpointer handler);
void on_entry_format_parameters_disk_name_insert_text(GtkEditable *editable, gchar *new_text,
                                                      gint new_text_length, gint *position,
                                                      gpointer user_data);
void on_entry_format_parameters_disk_id_insert_text(GtkEditable *editable, gchar *new_text,
                                                    gint new_text_length, gint *position,
                                                    gpointer user_data);

// Background colour of the sector grid.  Runs the colour dialog; on OK stores
// the colour in options_sector_da_bg_color, saves the options file and returns
// 1 (the caller then repaints the grid).  Returns 0 on any other answer, with
// nothing changed.
int get_user_color_selection(void);
