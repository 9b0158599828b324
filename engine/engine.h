// The engine: everything between a user's request and the device or the
// files on the PC, with no user interface in it.  It reaches its user only
// through the callbacks of engine_ui; the GUI implements them with its
// ordered idle queue, the command line on a terminal.
//
// An operation runs to its end in the calling thread (the GUI calls it from
// its worker thread) and reports exactly one outcome through `finished`.
// Callbacks come from that thread, in order.  GLib only, no GTK.
#pragma once

#include "engine/errors.h"

#include <glib.h>

#include <atomic>

enum engine_outcome_kind { ENGINE_SUCCEEDED, ENGINE_FAILED, ENGINE_ABORTED };

// Questions an operation may ask before it goes on.
enum engine_question {
    ENGINE_ASK_OVERWRITE,        // the image file exists: replace it?
    ENGINE_ASK_SIDE_B_1571,      // the disk looks like side B of a 1571 disk: go on?
    ENGINE_ASK_TRACKS_BEYOND_35, // tracks beyond 35 seem to be in use: go on?
    ENGINE_ASK_WRITE_DISK,       // the disk in the drive will be overwritten: go on?
    ENGINE_ASK_SHIFT_TRACKS,     // the tracks were read a few positions off: shift them back?
    ENGINE_ASK_FLASH_FIRMWARE,   // the board's flash will be overwritten: go on?
    ENGINE_ASK_OTHER_DISK,       // a re-read finds another disk in the drive than the image's: go on?
};

// What of the image store can be shown now.
enum engine_image_view {
    ENGINE_SHOW_DIRECTORY,         // the directory track is in: list the directory
    ENGINE_SHOW_ALLOCATED_SECTORS, // the BAM is in: mark the allocated sectors
    ENGINE_SHOW_SECTOR_ERRORS,     // the error info changed as a whole: repaint every sector
    ENGINE_SHOW_DAMAGED_FILES,     // the damage report is logged: mark the damaged files
};

// Steps of a directory listing that the drive sends.
enum engine_listing_event {
    ENGINE_LISTING_CLEAR,   // start the shown listing over (text is null)
    ENGINE_LISTING_LINE,    // one more listing line, PETSCII as the drive lists it
    ENGINE_LISTING_NOTICE,  // a short notice in place of the listing ("READING DIR...")
};

// How an operation ended.  Texts are English texts that live at least until
// the next operation.
struct engine_outcome {
    engine_outcome_kind kind;
    engine_error error;           // ENGINE_FAILED: what went wrong; else ENGINE_ERROR_NONE
    const char *failure;          // ENGINE_FAILED: its text, with details where known; else null
    double elapsed_seconds;       // from the start of the operation
    const char *const *files;     // null-terminated list of files written, or null
    int sectors_good;             // disk reads: sectors read correctly
    int sectors_bad;              // disk reads: accessible sector errors
    const unsigned char *error_codes; // disk reads: one error byte per sector, or null
    int sector_count;             // length of error_codes
    const unsigned char *image;   // disk reads: the image's data, followed by error_codes, or null
    // A read that keeps what it read when it ends early (ENGINE_EARLY_*):
    // how it ended, and so what the files hold.
    int ended_early;
    // A job that saves an image: how far the save got (engine_save_state),
    // and why a failed save failed ("No space left on device"), or null.
    int save;
    const char *save_reason;
};

enum engine_save_state {
    ENGINE_SAVE_NOT_REACHED = 0, // the job ended before its save
    ENGINE_SAVE_WRITTEN,         // the image file was written
    ENGINE_SAVE_DECLINED,        // the file exists and was not to be replaced
    ENGINE_SAVE_CANCELLED,       // no file name was given
    ENGINE_SAVE_FAILED,          // writing the image file failed
};

enum engine_early_end {
    ENGINE_EARLY_NONE = 0,
    ENGINE_EARLY_REREADS_CUT = 1, // the pass was whole, re-reads were cut short: saved as is
    ENGINE_EARLY_PARTIAL = 2,     // the pass was cut short: what arrived, as NAME.partial.d64
};

// The user of the engine.  Any callback may be null: nothing is reported
// (a null question counts as "no", a null file name as "cancel").
struct engine_ui {
    void *user;  // handed back to every callback

    // A sector's grid cell changed: track (from 1), sector (from 0), cell code (engine_cell), data checksum.
    void (*sector_cell)(void *user, int track, int sector, int code, int checksum);
    // One log line, ending in "\n"; for_disk_log: it belongs in the per-disk ".log" too.
    void (*log_line)(void *user, const char *line, int for_disk_log);
    // Progress of the running operation, a fraction from 0.0 to 1.0.
    void (*progress)(void *user, double fraction);
    // The count of accessible sector errors is now `count` (never below 0).
    void (*error_count)(void *user, int count);
    // Part of the image store is in and can be shown (directory, allocated sectors).
    void (*directory_ready)(void *user, engine_image_view what);
    // The drive's directory listing as it arrives (drive file operations).
    void (*listing)(void *user, engine_listing_event event, const char *text);
    // A yes/no question with its English text; returns 1 for yes.  Blocks until answered.
    int (*ask)(void *user, engine_question question, const char *text);
    // Asks for a file name, offering `suggested`; returns a g_malloc'd name, or null to cancel.
    char *(*ask_file_name)(void *user, const char *suggested);
    // The operation ended; called exactly once, last.  `outcome` lives until the call returns.
    void (*finished)(void *user, const engine_outcome *outcome);
    // The count of accessible sector errors went up (+1) or down (-1) by one
    // sector; error_count gives the whole count where it is known.
    void (*error_count_step)(void *user, int delta);
    // A whole-disk read leaves sectors with errors as the pass read them:
    // why, once, as an English text ("not re-read: 19 errors, more than the
    // maximum of 10").
    void (*reread_skipped)(void *user, const char *text);
    // Something the user should know that does not stop the operation
    // (an image file's error bytes that no D64 defines), English, one line.
    void (*warning)(void *user, const char *text);
    // Something the user must be told even when the log is not shown, such
    // as a file saved under another name than the one asked for; no "\n".
    void (*notice)(void *user, const char *text);
    // A read's drive part is over and went well; its checks, naming and save
    // follow (with their questions) before `finished`.
    void (*read_done)(void *user);
    // Asks before replacing the existing file `path`; `folder` is the image
    // folder the name was made in, or null.  Returns 1 for yes.  When null,
    // ask is used with ENGINE_ASK_OVERWRITE.  Blocks until answered.
    int (*ask_overwrite)(void *user, const char *path, const char *folder);
};

// After an image was loaded into the store: error bytes that no D64 defines
// become "not read" (D64_ERR_NO_SYNC).  The text that says so (g_malloc'd,
// one line without "\n"), or null when there were none.
char *engine_replace_undefined_errors(void);

// ---------------------------------------------------------------- abort

// The flag every serial read and write tests (flag_abort_requested): a set
// flag ends any wait of the device layer within 50 ms.
std::atomic<int> *engine_abort_flag(void);
// Sets the flag.  Safe from a signal handler.
void engine_request_abort(void);
// Clears it; the caller does this before starting an operation, never the
// operation itself, so an abort that came first is not lost.
void engine_clear_abort(void);
int engine_abort_requested(void);
// engine_request_abort came twice or more since the last clear: a job that
// keeps what it read when stopped early keeps nothing then.
int engine_abort_repeated(void);

// ---------------------------------------------------------------- maintenance

// Size of the texts the board and the drives send back, with terminator.
enum { ENGINE_VERSION_SIZE = 32, ENGINE_STATUS_SIZE = 128 };
enum { ENGINE_FIRST_DEVICE = 8, ENGINE_LAST_DEVICE = 11 };

struct engine_board_info {
    char version[ENGINE_VERSION_SIZE]; // the firmware version as the board printed it
    const char *verdict;               // firmware_version_verdict of it
    // Per device 8 to 11: 1 answers, 0 not present, -1 not asked (the
    // operation ended first).  An answering drive's error channel is read
    // (which clears it) into `status`.
    int present[4];
    char status[4][ENGINE_STATUS_SIZE];
};

// On a freshly opened port: waits for the prompt and, for a device from 8
// to 11, makes sure that the drive answers (reading its error channel, which
// clears it), then waits for the prompt again.  ENGINE_ERROR_NONE when the
// drive is there, else ENGINE_ERROR_DEVICE_NOT_PRESENT or the failure of the
// step.  Every job that talks to a drive calls it before anything else.
engine_error engine_sync_with_drive(int handle, int device);

// How much longer than its usual limit the board may stay silent during a
// drive command or a write, which may format the whole disk first (some
// 90 s on a 1541 with the default limit of 10 s).
enum { ENGINE_LONG_SILENCE_FACTOR = 9 };
// The usual limit, in seconds, for every port opened from now on (10 s
// unless set); a program sets it once, at its start.
void engine_set_silence_limit(double seconds);
// Gives the open port that longer limit for the rest of the job.
void engine_allow_long_silence(int handle);
// Reports a job's one outcome, abort first, then failure, else success, with
// the elapsed time since start_us; logs "Aborted", "Failed" or "Completed"
// when `framed`.  1 on success.
int engine_finish_job(const engine_ui *ui, gint64 start_us, engine_error failure, bool framed);
// Closes the port; when the board stopped answering (the port's silence
// limit passed) and no abort came first, says so in the log.
void engine_close_port(const engine_ui *ui, int handle);

// The board's firmware version and the drives 8 to 11 that answer.
// 1 on success.
int engine_read_board_info(const engine_ui *ui, const char *port, engine_board_info *info);

// The drive's error channel ("de").  `status` holds ENGINE_STATUS_SIZE bytes.
// quiet: the front end frames the job in its log and shows the status (as
// the drive sent it); else the log gets the frame and the printable status.
int engine_read_drive_status(const engine_ui *ui, const char *port, int device, char *status,
                             bool quiet = false);

// For a front end that frames the job in its log and shows the result: the
// board's firmware version alone ("v"; `version` holds ENGINE_VERSION_SIZE
// bytes), and the jump into the bootloader ("j").  1 on success.
int engine_read_firmware_version(const engine_ui *ui, const char *port, char *version);
int engine_reset_into_bootloader(const engine_ui *ui, const char *port);

// Whether `text` can be sent as a drive command: not empty, one line, no
// quote, and short enough for the monitor's line.  Null when it can, else
// why not (English).
const char *engine_drive_command_problem(const char *text);

// Sends the drive command `text` ("dc") and then reads the error channel
// into `status` (also when the drive refused the command, so that the user
// sees why).  `status` holds ENGINE_STATUS_SIZE bytes; empty when unread.
int engine_drive_command(const engine_ui *ui, const char *port, int device, const char *text,
                         char *status);

// Replaces the bytes of a drive's text that cannot be shown with '?'.
void engine_make_printable(char *text);

// Resets the drive ("rs"), or the whole serial bus ("rb", sent with the
// device number like every simple command).
int engine_reset_drive(const engine_ui *ui, const char *port, int device);
int engine_reset_bus(const engine_ui *ui, const char *port, int device);

// ---------------------------------------------------------------- settings

// Loads the options the GUI keeps, without creating or rewriting anything:
// the defaults when there is no file.  Returns the path looked at (g_free it).
char *engine_load_options_read_only(void);
