// dravlen: the command-line program on the engine.  Shared parts of its
// modules: parsed arguments, exit statuses, output helpers.
#pragma once

#include "engine/engine.h"

#include <json-glib/json-glib.h>

#include <string>
#include <vector>

enum cli_exit {
    CLI_EXIT_OK = 0,
    CLI_EXIT_FAILED = 1,
    CLI_EXIT_USAGE = 2,
    CLI_EXIT_SECTOR_ERRORS = 3,
    CLI_EXIT_NOT_VERIFIED = 4,  // written, but the disk does not match the image
    CLI_EXIT_INTERRUPTED = 130,
};

struct cli_args {
    std::string subcommand;
    std::vector<std::string> operands;
    std::string port;       // --port, or the GUI's setting
    bool port_given = false;
    bool port_is_default = false;  // from neither --port nor the GUI's settings
    double timeout = 0;     // --timeout: the board's silence limit in seconds; 0: default
    int device = 0;         // --drive, or the GUI's selected drive
    bool json = false;
    bool verbose = false;
    bool bus = false;       // reset --bus
    bool yes = false;       // write --yes: no question before writing
    bool no_verify = false; // write --no-verify: no read-back after writing
    std::string hex;        // update --hex
    std::string bootloader_port;  // update --bootloader-port, or the GUI's setting
    // read: -1 where the GUI's setting (or the default) applies
    int retries = -1;
    int max_errors = -1;
    int first_track = -1;
    bool pre_initialize = false;
    int side_b = -1;
    int offset = -1;
    bool overwrite = false; // read, dump, get, rom: replace an existing file
    bool md5 = false;
    bool batch = false;
    std::string read_option;  // the first read-only option given, for the usage check
    std::vector<std::string> read_options;  // every one of them, for dump and reread
    // reread --tracks A-B: 0 when not given
    int range_first = 0;
    int range_last = 0;
    bool fast = false;      // format --fast
    bool pattern = false;   // scratch --pattern: the drive's wildcards apply
    bool no_map = false;    // read, dump, reread --no-map: no sector map at the end
    // merge --force: stack dumps that look like other disks; reread --force:
    // re-read another disk into the image
    bool force = false;
    std::string output;     // merge -o
};

// Whether the subcommand takes the read option `name` ("--retries"); only
// read, dump and reread take any.
bool cli_takes_read_option(const std::string &subcommand, const std::string &name);
// "A-B" with 1 <= A <= B <= TRACKS; false after a usage error line.
bool cli_parse_track_range(const std::string &text, int *first, int *last);

// The subcommands that exist, in the order --help lists them.
struct cli_subcommand {
    const char *name;
    const char *summary;              // one line for the overview
    const char *usage;                // the whole --help text
    int (*run)(const cli_args &args); // returns the exit status
    int min_operands, max_operands;
    bool takes_drive;
    bool takes_bus;
    bool takes_fast;
    bool takes_overwrite;
    bool offline = false;  // works on image files: no port, no drive
};
extern const cli_subcommand cli_subcommands[];
extern const int cli_subcommand_count;
const cli_subcommand *cli_find_subcommand(const std::string &name);

// The overview printed by "dravlen --help".
std::string cli_overview_usage(void);

// "dravlen" or "dravlen40": the name messages start with.
extern const char *cli_program_name;

// One line on stderr: "<program>: <text>".
void cli_error(const char *format, ...) G_GNUC_PRINTF(1, 2);

// The subcommands.
int cli_run_info(const cli_args &args);
int cli_run_status(const cli_args &args);
int cli_run_command(const cli_args &args);
int cli_run_reset(const cli_args &args);
int cli_run_write(const cli_args &args);
int cli_run_update(const cli_args &args);
int cli_run_read(const cli_args &args);
int cli_run_dump(const cli_args &args);
int cli_run_reread(const cli_args &args);
int cli_run_dir(const cli_args &args);
int cli_run_get(const cli_args &args);
int cli_run_put(const cli_args &args);
int cli_run_scratch(const cli_args &args);
int cli_run_validate(const cli_args &args);
int cli_run_format(const cli_args &args);
int cli_run_rom(const cli_args &args);
int cli_run_ls(const cli_args &args);
int cli_run_extract(const cli_args &args);
int cli_run_map(const cli_args &args);
int cli_run_merge(const cli_args &args);

// A directory listing (PETSCII lines ended by CR, as the drive or
// d64_create_directory_listing make it) as dir shows it: readable lines on
// stdout, or with json the object that starts with json_head (no closing
// brace) plus the listing's members.
void cli_print_listing(const char *text, bool json, const std::string &json_head);

// The terminal's side of the engine: log lines on stderr when verbose, the
// outcome kept for the caller.
struct cli_terminal {
    bool verbose;
    bool finished;
    engine_outcome outcome;
    std::vector<std::string> files;  // the outcome's files, kept past the call
};
engine_ui cli_terminal_ui(cli_terminal *terminal);

// Reports a failed or aborted operation on stderr (one line) and returns
// the exit status for it; `what` names the operation ("status reading").
int cli_report_outcome(const cli_args &args, const cli_terminal &terminal, const char *what);

// The port as messages name it: with a note when it is only the default.
std::string cli_port_shown(const cli_args &args);

// Why the port cannot be used, as a short English phrase, or "" when it
// looks usable (then the fault is elsewhere).
std::string cli_port_problem(const std::string &port);

// A whole-disk or sector run's answer to the engine's questions: notices
// (side B, tracks beyond 35) go on as warnings; the rest are asked on the
// terminal, or answered no when stdin is none.  `prompt` is the text shown
// before [y/N] (the question itself, or the question on one line).
int cli_answer_question(engine_question question, const char *text, const char *prompt);
// Settles where a job's file goes before the drive is touched: the folder
// exists and takes files, the name is free or a regular file, and a taken
// name is replaced only with --overwrite or a yes on the terminal
// (*overwrite is set then).  False after an error line naming why.
bool cli_settle_destination(const cli_args &args, const std::string &path, int *overwrite);
// Prints a notice of the engine on stderr: "<program>: <text>".
void cli_print_notice(void *user, const char *text);
// Keeps from an outcome what ends with the call: the files it wrote and
// the error byte per sector; the terminal's copy of the outcome no longer
// points at them.
void cli_keep_outcome(cli_terminal *terminal, std::vector<std::string> *files,
                      std::vector<unsigned char> *codes, const engine_outcome *outcome);
// "wrote NAME" on stderr, a line per file.
void cli_print_written(const std::vector<std::string> &files);

// "1 sector", "2 sectors": the count with the word that fits it.
std::string cli_count(long n, const char *singular, const char *plural);
// Columns of the terminal on `fd`, else $COLUMNS, else 80.
int cli_terminal_width(int fd);
// The text cut so that it fits `width` columns without wrapping (counting
// UTF-8 characters, one column each).
std::string cli_fit_width(const std::string &text, int width);
// A name or ID from a disk (PETSCII) as dir shows it.
std::string cli_petscii_text(const std::string &petscii);

// One progress line on stderr, redrawn in place when stderr is a terminal
// (`live`); elsewhere the callers print whole lines instead.
struct cli_live_line {
    bool live;
    bool shown;
    gint64 last_draw_us;
};
// Wipes the line, so that what follows starts on a clean one.
void cli_live_line_clear(cli_live_line *line);
// Whether to redraw now: live, and a tenth of a second since the last time
// (or `force`); marks the time.
int cli_live_line_due(cli_live_line *line, bool force);
// Redraws the line with the text, cut to the terminal's width.
void cli_live_line_show(cli_live_line *line, const char *format, ...) G_GNUC_PRINTF(2, 3);

// ---------------------------------------------------------------- JSON summary

// With --json every ending prints one object on stdout: command, port,
// outcome (from the exit status: 0 and 3 "succeeded", 130 "interrupted",
// else "failed"), error (when failed), elapsed_seconds, files, then the
// subcommand's own members in the order added, then exit_status.

// A builder for the subcommand's own members, its object begun.
JsonBuilder *cli_json_members(void);
// Adds one member; a text is made valid UTF-8 first, a null text is JSON null.
void cli_json_add_int(JsonBuilder *b, const char *name, gint64 value);
void cli_json_add_bool(JsonBuilder *b, const char *name, bool value);
void cli_json_add_text(JsonBuilder *b, const char *name, const char *text);
// A text as the next value of an array or member.
void cli_json_add_text_value(JsonBuilder *b, const char *text);
// A list of file names as shown to the user.
void cli_json_add_files(JsonBuilder *b, const char *name, const std::vector<std::string> &files);
// Prints the summary and frees `members` (may be null).  `files` replaces
// the terminal's; `error` the engine's failure text.
void cli_json_print(const cli_args &args, const cli_terminal &terminal, JsonBuilder *members,
                    int exit_status, const std::vector<std::string> *files = nullptr,
                    const char *error = nullptr);
// A failure of the program's own (no engine outcome): the line on stderr
// and, with --json, the summary with it as error.  Returns exit_status.
int cli_fail(const cli_args &args, int exit_status, const char *format, ...) G_GNUC_PRINTF(3, 4);
// For -v: the log line of a sector cell event ("Retrying t/s ...", "Kept
// existing ..."), as the per-disk .log has it, on stderr below the live
// line.  skip_logged: not the lines the engine also sends as log lines.
void cli_show_cell_log_line(cli_live_line *line, int track, int sector, int code, int checksum,
                            bool skip_logged);
