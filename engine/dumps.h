// Sector-by-sector work on the image store: the partial dumps (directory
// track, directory track with the first sector of every PRG, the sectors the
// BAM allocates) and the re-reads of the faulty sectors of an image loaded
// from a D64 file, saved back over that file.  GLib only.
#pragma once

#include <glib.h>

#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "image/imagefile.h"

enum engine_dump_kind {
    ENGINE_DUMP_DIR_TRACK,              // track 18
    ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS, // track 18, then the first sector of every PRG
    ENGINE_DUMP_ALLOCATED,              // what the BAM allocates
};

// Which sectors a re-read looks at.
enum engine_reread_selection {
    ENGINE_REREAD_ALL,            // tracks outmost_track to TRACKS
    ENGINE_REREAD_DIR_TRACK,      // track 18
    ENGINE_REREAD_DIR_TRACK_PRGS, // track 18, then the first sector of every PRG
    ENGINE_REREAD_TRACK_RANGE,    // range_first to range_last
    ENGINE_REREAD_ALLOCATED,      // every allocated sector, faulty or not
};

struct engine_sector_job {
    const char *port;
    // >= 0: a connection already open and at the prompt, used instead of
    // opening `port`.  The operation closes it either way.
    int handle;
    int device;                 // 8 to 11
    int tries;                  // reads per sector: retries + 1
    int max_errors;             // re-reads: more faulty sectors than this: refused
    int outmost_track;          // where the drive's head can still read (0: not set, 1)
    int range_first, range_last; // ENGINE_REREAD_TRACK_RANGE
    int retry_once_per_pass;    // re-reads: one try per sector and pass, `tries` passes
    int first_sector_in_dir_order; // the first-sector pass walks the directory, not the tracks

    // Dumps: the D64 to write; when null, auto_naming makes the name (in
    // folder, when given) from side_b and offset, else ask_file_name asks.
    // Re-reads: the D64 to save back to (loaded first with load_path).
    const char *path;
    int auto_naming;
    const char *folder;
    int side_b, offset;
    filer_naming naming;        // how generated names look
    int md5;                    // write NAME.md5 beside the image
    // Re-reads: load `path` first (and hold it locked) instead of working
    // on the image already in d64_storage.
    int load_path;
    // The front end has shown the separator and the heading: the heading
    // goes to the per-disk log only (always so for a re-read without load_path).
    int heading_shown;
    int overwrite;              // dumps: replace an existing file without asking
    int keep_under_free_name;   // dumps: a taken name not replaced: save beside it
    int notify_beyond_35;       // full re-read: hints of tracks beyond 35
    int notify_side_b;          // full re-read: a disk that looks like side B of a 1571
    // Re-reads: before any sector is taken, the header sector of the disk in
    // the drive is compared with the image's; another disk is taken only
    // when ENGINE_ASK_OTHER_DISK is answered yes.
    int same_disk_check;
};

// First sectors of the PRGs in the order the pass read them (records are
// sector_query_record of image/directory.h, owned by the list).  The
// dir-track-and-first-sector dump empties it first; whoever shows the
// result frees it.
extern GSList *sector_query_list;
void sector_query_list_free(void);

// Reads the dump into d64_storage, which the caller has reset
// (engine_reset_image_store), shows what can be shown and saves the D64
// with its ".log" (and ".md5").  Calls ui->finished exactly once.  1 on
// success.
int engine_special_dump(const engine_ui *ui, engine_dump_kind kind, const engine_sector_job *job);

// Re-reads the selection of the image in d64_storage and, after a
// successful re-read and its checks, saves it over job->path with the
// "-reread" log.  With load_path, job->path is loaded first and the image
// goes back over the file a symbolic link points to, in its folder; the
// file is locked meanwhile, so a second re-read of it is refused, and when
// it no longer holds what was loaded, the result goes beside it under a
// free name instead.  Calls ui->finished exactly once.
int engine_reread(const engine_ui *ui, engine_reread_selection selection,
                  const engine_sector_job *job);

// What identifies a disk in its header sector (18/0): the disk name and
// ID, and the BAM.  Null when `a` and `b` are the same disk, else what
// differs ("disk name and ID", "BAM").
const char *engine_other_disk_difference(const uint8_t *a, const uint8_t *b);
// The disk name and ID of a header sector as the directory shows them
// ("NAME,ID"), in the text the listings use (petscii_to_text).
std::string engine_header_label(const uint8_t *header);

// The log headings; g_free them.
char *engine_dump_heading(engine_dump_kind kind, int outmost_track);
char *engine_reread_heading(engine_reread_selection selection, int outmost_track, int range_first,
                            int range_last);

// Track range: what a chooser offers for the last range (start, end) with
// the outermost track o, [max(start, o), min(end, TRACKS)]; and the range an
// answer (s, e) selects, both clamped to [o, TRACKS], the end never below the
// start.
void engine_track_range_bounds(int start, int end, int outmost, int *low, int *high);
void engine_track_range_resolve(int s, int e, int outmost, int *first, int *last);

// Sectors of a track in the order the allocated-sector reads visit them:
// interleaved, without the BAM sector on track 18.  Returns the count
// (room for 21).
int engine_allocated_visit_order(int track, int *order);

// The "First BASIC line" text of a first sector's 256 bytes, or "" when the
// sector does not start a BASIC program at $0801.  g_free it.
gchar *engine_first_basic_line(const uint8_t *sector);

// After a dump or a re-read: when the image holds read data from the
// outermost track on, shows the directory (or says why not, log view) and
// the allocated sectors.  1 when it holds read data.
int engine_show_read_image(const engine_ui *ui, int outmost_track);
// What a full re-read checks before saving: the track shift (reading from
// track 1) or whether files use the tracks the drive cannot reach.
void engine_reread_checks(const engine_ui *ui, int outmost_track);
// The notices after a load or a full re-read, each when asked for.
void engine_notification_checks(const engine_ui *ui, int notify_beyond_35, int notify_side_b);
