// The one-command drive jobs of the Tools menu: Initialize disk, Reset drive
// (soft), Reset the IEC bus (hard).
#pragma once

#include <gtk/gtk.h>

void on_menuitem_initialize_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reset_drive_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reset_the_iec_bus_activate(GtkMenuItem *item, gpointer data);
