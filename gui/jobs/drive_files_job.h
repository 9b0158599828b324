// The GUI side of the drive file operations (the work itself is in
// engine/drive_files): what each button asks and checks, the buffers the
// views read, and the finishers that show the results.  The button and menu
// handlers are declared in gui/windows/handlers.h.
#pragma once

#include <glib.h>

#include <cstdint>

#include "engine/drive_files.h"

// The "$" program received from the drive, load address first.
extern uint8_t dir_storage[DIR_STORAGE_SIZE];
// A received PRG or ROM dump (load address first), or a PRG to send.
extern uint8_t prg_storage[PRG_STORAGE_SIZE];

// Start routines (GUI thread).
void core_list_directory(void);
void core_export_drive_rom_activate(int pages);

// Workers and finishers.
void thread_receive_directory_listing(void);
gboolean idle_finish_directory_listing_receipt(gpointer failure);
void thread_export_prg_file(void);
gboolean idle_finish_prg_file_export_receipt(gpointer failure);
void thread_import_prg_file(void);
gboolean idle_finish_prg_file_import_delivery(gpointer failure);
void thread_export_drive_rom(void);
gboolean idle_finish_drive_rom_export_receipt(gpointer failure);

