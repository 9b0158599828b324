// dravlen: the command-line program on the engine.  Shared parts of its
// modules: parsed arguments, exit statuses, output helpers.
#pragma once

#include "engine/engine.h"

#include <string>
#include <vector>

enum cli_exit {
    CLI_EXIT_OK = 0,
    CLI_EXIT_FAILED = 1,
    CLI_EXIT_USAGE = 2,
    CLI_EXIT_SECTOR_ERRORS = 3,
    CLI_EXIT_INTERRUPTED = 130,
};

struct cli_args {
    std::string subcommand;
    std::vector<std::string> operands;
    std::string port;       // --port, or the GUI's setting
    bool port_given = false;
    int device = 0;         // --drive, or the GUI's selected drive
    bool json = false;
    bool verbose = false;
    bool bus = false;       // reset --bus
    bool yes = false;       // write --yes: no question before writing
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
    bool force = false;     // reread --force: re-read another disk into the image
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

// Why the port cannot be used, as a short English phrase, or "" when it
// looks usable (then the fault is elsewhere).
std::string cli_port_problem(const std::string &port);

// JSON text helpers.
std::string cli_json_string(const char *text);
// The members every summary object starts with: command, port, outcome,
// error (when failed), elapsed_seconds, files.
std::string cli_json_head(const cli_args &args, const cli_terminal &terminal);
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
// The files as a JSON list of display names.
std::string cli_json_files(const std::vector<std::string> &files);
// cli_json_head with `files` as its file list.
std::string cli_json_head_with_files(const cli_args &args, const cli_terminal &terminal,
                                     const std::vector<std::string> &files);
// "wrote NAME" on stderr, a line per file.
void cli_print_written(const std::vector<std::string> &files);

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
// Redraws the line with the text.
void cli_live_line_show(cli_live_line *line, const char *format, ...) G_GNUC_PRINTF(2, 3);
