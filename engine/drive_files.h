// Work on the disk in a drive through its own DOS: the directory listing,
// PRG export and import, scratch, validate, format and fast format, and the
// dump of a 1541 or 1571 ROM.  GLib only; see engine/engine.h.
#pragma once

#include <glib.h>

#include <cstdint>

#include "engine/engine.h"

constexpr int DIR_STORAGE_SIZE = 4800;
// 664 blocks of 254 bytes: the largest file a 35-track disk holds.
constexpr int PRG_STORAGE_SIZE = 168656;

// What every job here needs.
struct engine_drive_job {
    const char *port;
    int device;               // 8 to 11
    // The caller has logged the separator and the title and logs the closing
    // word itself (the GUI does both on its own thread).
    int framed_by_caller;
    // When the port cannot be opened, log which ports answer as the board.
    int report_visible_ports;
};

// How received bytes end up in a file.
struct engine_save_target {
    // Where to save; null: ask through ask_file_name with the suggested name;
    // a cancelled question saves nothing.  Ignored when `save` is 0.
    const char *path;
    int save;       // 0: the caller keeps the bytes and saves them itself
    int overwrite;  // replace an existing file (else the save fails)
    int uppercase_extension;  // the asked name is offered as "NAME.PRG", not "NAME.prg"
};

// Logs which serial ports answer as the board (a scan of up to 1.5 s):
// a wrong or renamed port setting is easier to put right that way.
void engine_report_visible_ports(const engine_ui *ui);

// ---------------------------------------------------------------- names

// The C64 name a PC file is imported under: its base name cut before the
// last ".PRG", else ".Prg", else ".prg", then limited to 16 characters.
void drive_files_c64_name_from_path(const char *path, char name17[17]);
// Blocks of 254 bytes a file of `size` bytes occupies.
int drive_files_blocks_of_size(int size);

// 1 when a C64 file name can stand inside a quoted drive command: no quote,
// CR or LF (they would end or split the command line), not empty, and for
// scratching no wildcard, which would scratch every file that matches.
int drive_files_name_is_safe_for_command(const char *name, int for_scratch);

// Why a C64 name given by the user cannot be used (English), or null.
const char *drive_files_name_problem(const char *name, int for_scratch);

// Why a disk name and ID cannot be formatted with (English), or null:
// at most 16 name and 2 ID characters, no quote, comma, CR or LF.
const char *drive_files_format_problem(const char *name, const char *id);
// The drive commands of a normal and a fast format; g_free them.
char *drive_files_format_command(const char *name, const char *id, int fast);

// The name offered for a received file: the C64 name cleaned for a file
// name, a point and "PRG" or "prg".  g_free it.
char *drive_files_suggested_file_name(const char *c64_name, int uppercase_extension);

// Writes the bytes to `path` through a temporary file in the same folder,
// so that an existing file is never left half written.  Without `overwrite`
// an existing file is kept and the save fails.  1 on success; else *error
// holds why (g_free it).
int drive_files_write_file(const char *path, const uint8_t *data, int size, int overwrite,
                           char **error);

// ---------------------------------------------------------------- directory

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

// Relinks a received "$" program in place and appends its listing text
// (PETSCII lines ended by CR) to `text`.  1 when the whole listing converted.
int drive_files_listing_text(uint8_t *program, int size, GString *text);

// Initialises the disk and receives the "$" program into `buffer`, posting
// the listing events as the lines arrive.  *received: bytes stored (0 on
// failure).
int engine_list_directory(const engine_ui *ui, const engine_drive_job *job, uint8_t *buffer,
                          int capacity, int *received);

// ---------------------------------------------------------------- PRG files

// Receives the file `c64_name` into `buffer` (load address first).
// `blocks` (0: unknown) gives the progress.  Saved per `target`.
int engine_export_prg(const engine_ui *ui, const engine_drive_job *job, const char *c64_name,
                      int blocks, uint8_t *buffer, int capacity, int *received,
                      const engine_save_target *target);

// Sends `size` bytes as the file `c64_name`.
int engine_import_prg(const engine_ui *ui, const engine_drive_job *job, const char *c64_name,
                      const uint8_t *data, int size);

// ---------------------------------------------------------------- DOS commands

// Sends a drive command word ("dc \"S:NAME\"", "dc \"V0\"", "ff ...", "di")
// with the device number and reads the answer.  With `status` (holding
// ENGINE_STATUS_SIZE bytes) the drive's error channel is read afterwards,
// also when the drive refused the command, so that the user sees why.
int engine_drive_dos_command(const engine_ui *ui, const engine_drive_job *job,
                             const char *command, const char *title, char *status);

// ---------------------------------------------------------------- drive ROM

// Pages of a drive ROM: the top of the drive's address space.
enum { DRIVE_ROM_PAGES_1541 = 64, DRIVE_ROM_PAGES_1571 = 128 };

// Receives the top `pages` pages of the drive's memory into `buffer` as a
// PRG (load address first), bytes in their normal order.  Saved per `target`.
int engine_dump_drive_rom(const engine_ui *ui, const engine_drive_job *job, int pages,
                          uint8_t *buffer, int capacity, int *received,
                          const engine_save_target *target);
