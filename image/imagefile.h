// Files written and read for a disk image: the D64 file with its ".log" and
// ".md5" companions, the names generated for dumps, and loading a D64 file
// back into the image store.  GLib only; the GUI plugs in through filer_hooks.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the GUI provides.  Every hook may stay NULL: texts are then dropped,
// there is no per-disk log, and an overwrite question counts as declined.
struct filer_ui_hooks {
    int (*confirm)(const char *markup);        // yes/no question, 1 for yes
    void (*status)(const char *text);          // status bar
    void (*log_view)(const char *text);        // log view only
    void (*log_both)(const char *text);        // per-disk log and log view
    const char *(*per_disk_log)(int *length);  // per-disk log text, NULL if none
    void (*window_title)(const char *name);    // main window title
    // The auto-naming controls (side radio buttons and offset spin button).
    // Without them the state lives in filer_auto_naming_side_b/_offset.
    void (*auto_naming_get)(int *side_b, int *offset);
    void (*auto_naming_set)(int side_b, int offset);
};
extern filer_ui_hooks filer_hooks;

extern int filer_auto_naming_side_b;  // 0 side A, 1 side B
extern int filer_auto_naming_offset;  // 1 to 9999

// Last image saved or opened; the file re-reads write back to.  Owned here.
// It belongs to the image in memory: only a successful save or load sets it,
// and whatever resets or replaces the store forgets it first.
extern gchar *utf8_path_lastopenfile_d64;
void filer_forget_image_path(void);

// The dumps that name their files differently.
enum filer_dump_kind {
    FILER_DUMP_WHOLE_DISK,
    FILER_DUMP_DIR_TRACK,               // track 18
    FILER_DUMP_DIR_TRACK_FIRST_SECTORS, // track 18 and first sectors of files
    FILER_DUMP_BAM,                     // allocated sectors
};

// Which files beside the image a save wrote: 1 written, 0 failed, -1 not
// written because there was nothing to write (no per-disk log, no digest
// wanted).  `error` holds the first failure's message.
struct filer_saved {
    int log = -1;
    int md5 = -1;
    std::string error;
};

// Writes the image store to path (with error info when any sector is not
// clean), then its log and, when wanted, its digest.  auto_naming 1 asks
// before replacing a file; reread 1 appends to "P-reread.log".  1 when the
// image file was written; *saved (may be null) tells about the others.
int save_d64_image_and_ancillary_files(const char *path, int auto_naming, int reread,
                                       filer_saved *saved = nullptr);

// Reads a D64 file apart from the store, with the size checks of
// filer_load_d64_image: *image gets its data and error info (0x01 for every
// sector of a file without).  1 on success, else 0 with *error set.
int filer_read_d64_file(const char *path, std::vector<uint8_t> *image, GError **error);

// Writes an image held apart from the store (data and error info) to path
// as a save does, error info only when a sector is not clean, then its log
// as path.log; each through a temporary name and a rename.  1 on success,
// else 0 with *error set.
int filer_save_image_with_log(const char *path, const uint8_t *image, const std::string &log,
                              GError **error);

// Bytes of the image store that a save writes.
int64_t filer_image_size_to_save(const uint8_t *image);

// Cleans a disk name (buffer of at least 17 bytes) for use in a file name.
void sanitize_filename(char *name);

// Steps side and offset after an auto-named save: 0001A, 0001B, 0002A, ...
void auto_naming_next_combination();
void filer_auto_naming_advance(int *side_b, int *offset);

// "d64" or "D64" as the options say.
const char *filer_d64_extension();
// Generated name for a dump (no folder); g_free the result.
gchar *filer_auto_name(filer_dump_kind kind, int offset, int side_b, const char *disk_name);
// Name offered in the save dialog; g_free the result.
gchar *filer_suggested_name(filer_dump_kind kind, const char *disk_name);
// Generated name from the current auto-naming state, inside the image folder
// when one is set; g_free the result.
gchar *filer_auto_name_path(filer_dump_kind kind, const char *disk_name);
// The image's disk name made fit for a file name: "NO NAME" when nothing is
// left of it, "UNFORMATTED" when the image holds no read data.
void filer_disk_name_for_file(const uint8_t *image, int has_read_data, char *name17);

// 32 lowercase hex digits of the MD5 of data; g_free the result.
gchar *filer_md5_hex(const void *data, size_t length);

// Reads a D64 file into d64_storage after the size checks; a file without
// error info gets every error byte set to 0x01.  On failure the store is not
// touched.  1 on success; the file's size goes to *file_size when given.
// A file of the wrong size also forgets utf8_path_lastopenfile_d64, so do not
// pass that string itself as path.
int filer_load_d64_image(const char *path, guint64 *file_size);
