// Whole-disk imaging: one fast "ws" pass over every track, then single-sector
// re-reads of the faulty sectors, the checks of the image, and the save with
// its ".log" and ".md5" files.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <cstdint>

#include "engine/imaging.h"

// Start routine (GUI thread): F1, the menu item and the button.
void core_save_whole_disk_image_to_D64(void);
// Worker of the "receiver" thread; always ends in exactly one finisher.
int thread_receive_disk_image(void);
// Finisher: data is null on success or a constant failure text.
gboolean idle_finish_disk_image_receipt(gpointer message);

// PRG files whose first sector carries an accessible sector error.
int count_accessible_sector_errors_on_first_sector_of_all_prgs(void);

// The Warpsave button and Special > Warpsave the whole disk.
void on_button_save_image_to_D64_clicked(GtkButton *button, gpointer data);
void on_menuitem_dump_the_whole_disk_activate(GtkMenuItem *item, gpointer data);
