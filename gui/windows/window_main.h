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

// How a row of the menu table becomes a menu bar entry.
enum window_main_menu_kind {
    WINDOW_MAIN_MENU,       // a top-level menu; the rows after it fill it
    WINDOW_MAIN_ITEM,       // an item; one without a handler holds the radio rows after it
    WINDOW_MAIN_RADIO,      // a radio item of that submenu; the first one starts active
    WINDOW_MAIN_SEPARATOR,  // a separator
    WINDOW_MAIN_STOCK,      // a stock item: label is the stock id, text and accelerator its own
};

// One menu bar entry: widget name, text with its mnemonic (marked with N_,
// translated when built), icon, accelerator (key 0 for none), tooltip and
// the handler of "activate".
struct window_main_menu_row {
    window_main_menu_kind kind;
    const char *name;
    const char *label;
    const char *stock;
    guint key;
    GdkModifierType mods;
    const char *tooltip;
    GCallback handler;
};

// A handler connected to a named widget of the main window once it is built.
struct window_main_binding {
    const char *widget;
    const char *signal;
    GCallback handler;
};

// Builds the main window with the menu bar the rows describe, in their
// order, and connects the bindings.
GtkWidget *create_window_main(const window_main_menu_row *rows, int n_rows,
                              const window_main_binding *bindings, int n_bindings);

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

// The file a drop names, or null when the drop must be refused (busy, no
// data, not 8-bit, no URI).  Newly allocated.
char *window_main_drop_file_name(GtkSelectionData *selection);
// Applies the chosen font to the log view.
void window_main_set_textview_fonts(void);
