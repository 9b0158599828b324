// Files written and read for a disk image: the D64 file with its ".log" and
// ".md5" companions, the names generated for dumps, and loading a D64 file
// back into the image store.  GLib only; what is said about it is the caller's.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// How generated file names look (the user's settings).
struct filer_naming {
    int uppercase_extension;  // "D64" instead of "d64"
    int uppercase_side;       // "0001A" instead of "0001a"
    int flags_before_offset;  // "T18_0001a" instead of "0001a_T18"
    int append_disk_name;     // "0001a_GAMES"
};

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
    std::string error;   // why a file could not be written ("No space left on device")
    std::string failed;  // which file that was
};

// Writes image (data, then error info when any sector is not clean) to
// path, then `log` (when given) as path.log, or appended to
// "path-reread.log" with reread 1, then path.md5 when want_md5 or when one
// is there already (kept in step).  All are written under temporary names
// first and renamed at the end, the old digest removed before: a failure
// while writing changes no file.  1 when the image file was written;
// *saved (may be null) tells about the others and holds the failure.
int filer_save_d64(const char *path, const uint8_t *image, const std::string *log, int reread,
                   int want_md5, filer_saved *saved);

// The question before replacing path, as dialog markup, naming the folder
// (or, when null, the file's own folder); g_free it.
gchar *filer_overwrite_markup(const char *path, const char *folder);

// Reads a D64 file apart from the store, with the size checks of
// filer_load_d64_image: *image gets its data and error info (0x01 for every
// sector of a file without).  1 on success, else 0 with *error set.
int filer_read_d64_file(const char *path, std::vector<uint8_t> *image, GError **error);

// Bytes of the image store that a save writes.
int64_t filer_image_size_to_save(const uint8_t *image);

// Cleans a disk name (buffer of at least 17 bytes) for use in a file name.
void sanitize_filename(char *name);

// Steps side and offset after an auto-named save: 0001A, 0001B, 0002A, ...
void filer_auto_naming_advance(int *side_b, int *offset);

// "d64" or "D64".
const char *filer_d64_extension(const filer_naming &naming);
// Generated name for a dump (no folder); g_free the result.
gchar *filer_auto_name(const filer_naming &naming, filer_dump_kind kind, int offset, int side_b,
                       const char *disk_name);
// Name offered in the save dialog; g_free the result.
gchar *filer_suggested_name(const filer_naming &naming, filer_dump_kind kind,
                            const char *disk_name);
// Generated name inside `folder` (null: no folder); g_free the result.
gchar *filer_auto_name_path(const filer_naming &naming, filer_dump_kind kind, const char *folder,
                            int offset, int side_b, const char *disk_name);
// The image's disk name made fit for a file name: "NO NAME" when nothing is
// left of it, "UNFORMATTED" when the image holds no read data.
void filer_disk_name_for_file(const uint8_t *image, int has_read_data, char *name17);

// 32 lowercase hex digits of the MD5 of data; g_free the result.
gchar *filer_md5_hex(const void *data, size_t length);

// Why a load failed: the status bar text, the same without " Load failed: "
// (English), and the log view line.
struct filer_load_problem {
    const char *status = nullptr;
    const char *reason = nullptr;
    std::string log;
};

// Reads a D64 file into d64_storage after the size checks; a file without
// error info gets every error byte set to 0x01.  On failure the store is not
// touched and *problem (may be null) says why.  1 on success; the file's
// size goes to *file_size when given.
// A file of the wrong size also forgets utf8_path_lastopenfile_d64, so do not
// pass that string itself as path.
int filer_load_d64_image(const char *path, guint64 *file_size, filer_load_problem *problem);
