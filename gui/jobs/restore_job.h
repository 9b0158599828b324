// Writing a clean D64 image onto the disk in a drive: the GUI's start
// handler, worker and finisher around the engine's restore.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

// restore_sector_order
#include "engine/restore.h"

// Worker of the "sender" thread and its finisher.
void thread_send_disk_image(void);
gboolean idle_finish_disk_image_sending(gpointer failure);
// Worker of the "verifier" thread (the disk against the image in memory)
// and its finisher; the finisher of a restore starts it when the setting
// "Verify after restore" is on.
void thread_verify_disk(void);
gboolean idle_finish_disk_verify(gpointer failure);

// The Warpsave to disk button and Special > Verify disk against image.
void on_button_load_image_from_D64_clicked(GtkButton *button, gpointer data);
void on_menuitem_verify_disk_against_image_activate(GtkMenuItem *item, gpointer data);
