// Small modal dialogs: yes/no confirmation, notice, the one-time warning
// before a disk is modified, and the About box.
#pragma once

#include <gtk/gtk.h>

// 1 until the modify-disk warning has been shown once in this run.
extern int request_confirmation_to_modify_disk;

GtkWidget *create_dialog_yes_no_confirmation(void);
GtkWidget *create_dialog_notice(void);
GtkWidget *create_dialog_about(void);

// True only when the user answers Yes.
gboolean get_user_confirmation(const char *markup);
gboolean get_user_confirmation_to_modify_disk(void);
void get_user_acknowledgement(const char *markup);

// Help > About.
void on_menuitem_about_activate(GtkMenuItem *item, gpointer data);
