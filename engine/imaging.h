// Whole-disk imaging in the engine: the fast "ws" pass, the single-sector
// reads and re-reads with their retry rules, the checks of an image once it
// is in memory, and the naming and saving of the D64 with its ".log" and
// ".md5".  GLib only; the image store is d64_storage.
#pragma once

#include "engine/engine.h"
#include "image/imagefile.h"

#include <cstdint>
#include <functional>

// Codes of engine_ui::sector_cell (the GUI's grid paints them).
enum engine_cell {
    ENGINE_CELL_INACCESSIBLE = 0,
    ENGINE_CELL_NO_SYNC = 1,
    ENGINE_CELL_GCR_FAILED = 2,
    ENGINE_CELL_CHECKSUM_FAILED = 3,
    ENGINE_CELL_READ_OK = 4,
    ENGINE_CELL_RETRYING = 5,
    ENGINE_CELL_READING = 6,
    ENGINE_CELL_KEPT_EXISTING = 7,
    ENGINE_CELL_KEPT_CHECKSUM = 8,
    ENGINE_CELL_KEPT_CHECKSUM_AGAIN = 9,
    ENGINE_CELL_WRITTEN = 10,
    // A sector received twice in the fast pass, now left unread: paint it
    // as not read; its log line came as a log_line already.
    ENGINE_CELL_LEFT_UNREAD = 11,
    // A verify read the sector cleanly, but its bytes are not the image's.
    ENGINE_CELL_DIFFERS = 12,
};

// The log line of a sector cell event (g_free it), or null for an event
// that has none.  *both: 1 when the line goes to the log view as well as to
// the per-disk log.
char *engine_cell_log_line(int code, int track, int sector, int checksum, int *both);

// ---------------------------------------------------------------- sector reads

// One connection on which "w1 <device>" has been sent.  A function that
// returns 0 leaves in `failure` what went wrong; the caller closes the port.
struct engine_sector_reader {
    const engine_ui *ui;
    int handle;
    int device;
    engine_error failure;
};

// Up to `retries` attempts at track/sector.  reread 0: first read (the first
// attempt that arrives intact is stored whatever it is); reread 1: only a
// strictly better read replaces what the image holds (good over checksum
// failed over GCR failed over no sync).  1 when the attempts ended
// normally, read or not.
int engine_read_sector_with_retries(engine_sector_reader *r, int track, int sector, int retries,
                                    int reread);
// Up to `tries` attempts at track/sector into `data` (256 bytes), leaving
// the image store, the grid and the error counts alone: *good is 1 once an
// attempt arrived with a correct checksum.  0 when the link failed.
int engine_read_sector_copy(engine_sector_reader *r, int track, int sector, int tries,
                            uint8_t *data, int *good);
// A first read of a sector an earlier first read of the same operation
// stored is weighed as a re-read; this starts a new operation's record.
void engine_sector_reads_forget(void);
// Re-reads every sector of the track whose error byte is neither 0x01 nor
// 0x0F, in interleaved order, each with `retries` attempts in re-read mode.
int engine_reread_track(engine_sector_reader *r, int track, int retries);
// The order in which a track of n sectors (1 to 21) is visited: every sector
// once, three apart.  Writes n sector numbers to order; returns n.
int engine_interleaved_order(int n, int *order);

// ---------------------------------------------------------------- the read

// Before a read: every sector back to data zero and "not read" (0x03), and
// no first reads remembered.
void engine_reset_image_store(void);

struct engine_imaging_params {
    const char *port;
    int device;                // 8 to 11
    int retries;               // attempts per faulty sector in the re-read phase; 0: none
    int max_errors;            // more accessible errors than this: no re-read phase
    int outmost_track;         // 1 to 5: where the drive's head can still read
    int pre_initialize;        // "di" before the pass
    int retry_once_per_pass;   // re-read every sector once per pass instead of all tries at once
    int notify_beyond_35;      // ask about tracks beyond 35 when hints are found
    int notify_side_b;         // ask about a disk that looks like side B of a 1571 disk
    // The D64 to write; when null, auto_naming makes the name (in folder,
    // when given) from side_b and offset, else ask_file_name asks for one.
    const char *path;
    int auto_naming;
    const char *folder;
    int side_b, offset;        // automatic naming: 0001A, 0001B, ...
    filer_naming naming;       // how generated names look
    int md5;                   // write NAME.md5 beside the image
    int overwrite;             // replace an existing file without asking
    // The damage report also when nothing was read (the window's log has it).
    int damage_report_unread;
    // The front end has shown the separator and the title: the title goes
    // to the per-disk log only.
    int heading_shown;
    // A taken name that is not to be replaced: the image goes under a free
    // name beside it (said through notice) instead of being thrown away.
    int keep_under_free_name;
    // An abort, a failure or a signal does not throw the read away: cut
    // short in the re-read phase the image is saved as it is; cut short in
    // the pass, what arrived goes to NAME.partial.d64 (never over a file).
    // A repeated abort (engine_abort_repeated) keeps nothing.
    int keep_on_early_end;
    // Where the image goes when its save fails although the destination
    // was fine before the read (the disk filled up meanwhile), or null:
    // saved there named by time and disk, and said through notice.
    const char *fallback_folder;
};

// The log's title line of a read; g_free it.
char *engine_imaging_title(int outmost_track);
// The first track the pass reads: outmost_track within 1 to 5.
int engine_imaging_first_track(int outmost_track);

// Images the disk into d64_storage, which the caller has reset, then runs
// the checks, names the image and saves it; the outcome's files name what
// was written.  Calls ui->finished exactly once.  1 when the disk was read
// and saved.
int engine_read_disk(const engine_ui *ui, const engine_imaging_params *p);

// The damage report of d64_storage (damage_report_make) as per-disk log
// lines, after the checks and before the save.  whole_disk 0 for a partial
// dump: sectors it did not read are no damage.
void engine_log_damage_report(const engine_ui *ui, int whole_disk);
// The pass and the re-read phase of engine_read_disk alone, into
// d64_storage (which the caller has reset), reporting to `ui`: no checks,
// no saving, no `finished`.  ENGINE_ERROR_NONE on success, else the failure.
engine_error engine_read_disk_into_store(const engine_ui *ui, const engine_imaging_params *p);

// 1 when every sector of tracks first_track to TRACKS still has error byte
// 0x03 (nothing was read).
int imaging_nothing_read(const uint8_t *image, int first_track);

// Why the re-read phase does not run, as the first rule that applies.
enum imaging_reread_verdict {
    IMAGING_REREAD_RUN,
    IMAGING_REREAD_DISABLED,      // no retries asked for
    IMAGING_REREAD_UNFORMATTED,   // nothing had sync
    IMAGING_REREAD_NOTHING_TO_DO, // no errors
    IMAGING_REREAD_BAD_DIR_LINK,  // good BAM sector, unexpected first directory link
    IMAGING_REREAD_TOO_MANY,      // more errors than allowed
};
imaging_reread_verdict imaging_reread_decide(const uint8_t *image, int first_track, int tries,
                                             int max_errors, int error_count);
// What the user is told when the verdict leaves `error_count` sectors with
// errors unread again (engine_ui.reread_skipped); g_malloc'd, or null for
// IMAGING_REREAD_RUN and IMAGING_REREAD_NOTHING_TO_DO.
gchar *engine_reread_skipped_text(imaging_reread_verdict verdict, int error_count,
                                  int max_errors);

// PRG files whose first sector carries an accessible sector error.
int imaging_count_prg_first_sector_errors(const uint8_t *image);

// ---------------------------------------------------------------- checks

// Looks for the header sector one to five tracks off track 18 and asks
// (ENGINE_ASK_SHIFT_TRACKS) to shift the image back; after a shift the grid
// is to be repainted (ENGINE_SHOW_SECTOR_ERRORS).  Lines carry
// for_disk_log = log_both.  k > 0 shifted inwards by k, -k outwards, 0 not.
int engine_correct_track_shift(const engine_ui *ui, int log_both);
// Tells (both logs) whether the BAM allocates anything on tracks 1 to last_track.
void engine_check_inaccessible_tracks(const engine_ui *ui, int last_track);
// Hints that files go on beyond track 35: tells it as ENGINE_ASK_TRACKS_BEYOND_35.
void engine_check_tracks_beyond_35(const engine_ui *ui);
// A disk that looks like side B of a 1571 disk: tells it as ENGINE_ASK_SIDE_B_1571.
// The answer to these two is not used: what was read is kept either way.
void engine_check_side_b_1571(const engine_ui *ui);
// The allocated sectors can be shown when the BAM sector and the first
// directory link are sound; else says why not (log view).  Nothing with 40 tracks.
void engine_show_allocated_sectors_if_trusted(const engine_ui *ui);
// Every check after a whole-disk read, in the order the user sees them:
// shift, inaccessible tracks, directory, allocated sectors, tracks beyond
// 35, side B.  Returns 1.
int engine_check_read_image(const engine_ui *ui, int first_track, int notify_beyond_35,
                            int notify_side_b);

// The image-only halves of the checks.
// k of the inwards sign (1 to 5), or 0.
int disk_checks_find_inwards_shift(const uint8_t *image);
// k of the outwards sign (1 to 5), or 0.
int disk_checks_find_outwards_shift(const uint8_t *image);
// Track d receives what was read at d - k; tracks 1 to k become inaccessible.
void disk_checks_shift_tracks_inwards(uint8_t *image, int k);
// Track d receives what was read at d + k; the last k tracks become unread.
void disk_checks_shift_tracks_outwards(uint8_t *image, int k);
// 1 when the BAM allocates a sector on tracks 1 to last_track.
int disk_checks_inaccessible_tracks_in_use(const uint8_t *image, int last_track);
// Number of hints that PRG chains use tracks 36 to 42.
int disk_checks_count_tracks_beyond_35_hints(const uint8_t *image);
int disk_checks_looks_like_1571_side_b(const uint8_t *image);

// Calls visit(number, entry) for every PRG entry of the image's directory
// (numbered from 1, at most D64_DIR_MAX_ENTRIES entries looked at); stops
// when visit returns 0 and returns 0 then, else 1.
int engine_for_each_prg_entry(const uint8_t *image,
                              const std::function<int(int, const uint8_t *)> &visit);

// The image's disk name made fit for a file name ("UNFORMATTED" when
// nothing was read from first_track on).  name17 holds 17 bytes.
void engine_disk_name_for_file(int first_track, char *name17);
