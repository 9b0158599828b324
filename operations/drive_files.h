// Work on the disk in a drive through its own DOS: directory listing, PRG
// export and import, scratch, validate, format, fast format, and the dump of
// a 1541 or 1571 ROM.  The button and menu handlers are declared in
// ui/handlers.h.
#pragma once

#include <glib.h>

#include <cstdint>

constexpr int DIR_STORAGE_SIZE = 4800;
// 664 blocks of 254 bytes: the largest file a 35-track disk holds.
constexpr int PRG_STORAGE_SIZE = 168656;

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

// Failure texts of transfers that do not fit.
extern const char drive_files_text_too_large[];
extern const char drive_files_text_overrequest[];

// The C64 name a PC file is imported under: its base name cut before the
// last ".PRG", else ".Prg", else ".prg", then limited to 16 characters.
void drive_files_c64_name_from_path(const char *path, char name17[17]);
// Blocks of 254 bytes a file of `size` bytes occupies.
int drive_files_blocks_of_size(int size);

// 1 when a C64 file name can stand inside a quoted drive command: no quote,
// CR or LF (they would end or split the command line), not empty, and for
// scratching no wildcard, which would scratch every file that matches.
int drive_files_name_is_safe_for_command(const char *name, int for_scratch);

// The lines shown while a "$" program arrives.  Call after every piece with
// the bytes received so far; appends the new lines (g_free'd strings) to
// `lines`.  *clear_first is set when the panel must be cleared before them.
struct drive_files_listing_progress {
    int shown_bytes;  // bytes already turned into lines
    int lines;        // lines shown, 15 at most
    int finished;     // the "in progress" line has been posted
};
void drive_files_listing_progress_lines(const uint8_t *data, int received,
                                        drive_files_listing_progress *progress, GPtrArray *lines,
                                        int *clear_first);
