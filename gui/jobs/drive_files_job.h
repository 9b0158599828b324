// The GUI side of the drive file operations (the work itself is in
// engine/drive_files): what each button asks and checks, the buffers the
// views read, and the finishers that show the results.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <cstdint>

#include "engine/drive_files.h"

// The "$" program received from the drive, load address first.
extern uint8_t dir_storage[DIR_STORAGE_SIZE];
// A received PRG or ROM dump (load address first), or a PRG to send.
extern uint8_t prg_storage[PRG_STORAGE_SIZE];

// The Files / Directory buttons.
void on_button_directory_clicked(GtkButton *button, gpointer data);
void on_button_save_PRG_clicked(GtkButton *button, gpointer data);
void on_button_format_disk_clicked(GtkButton *button, gpointer data);
void on_button_validate_disk_clicked(GtkButton *button, gpointer data);
void on_button_scratch_file_clicked(GtkButton *button, gpointer data);
void on_button_load_PRG_clicked(GtkButton *button, gpointer data);

// Tools > Disk directory, Format II, Dump 1541 / 1571 drive ROM.
void on_menuitem_disk_directory_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_format_ii_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_dump_1541_drive_rom_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_dump_1571_drive_rom_activate(GtkMenuItem *item, gpointer data);

// Start routines (GUI thread).
void core_list_directory(void);
void core_export_drive_rom_activate(int pages);

// Workers and finishers.
void thread_receive_directory_listing(void);
gboolean idle_finish_directory_listing_receipt(gpointer failure);
void thread_export_prg_file(void);
void thread_import_prg_file(void);
gboolean idle_finish_prg_file_import_delivery(gpointer failure);
void thread_export_drive_rom(void);

