// File > Merge another dump into this image.
#pragma once

#include <gtk/gtk.h>

void on_menuitem_merge_dump_activate(GtkMenuItem *item, gpointer data);
