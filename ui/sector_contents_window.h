// The sector contents window (hex and character dump of one sector).
#pragma once

#include <gtk/gtk.h>

GtkWidget *create_window_sector_contents(void);
void statusbar_sector_contents_update(const char *text);
