// Runs the dravlen program as a user does, for tests: arguments, its own
// config folder, output, exit status, and Ctrl+C at a chosen moment.
#pragma once

#include <glib.h>

#include <string>
#include <csignal>
#include <vector>

struct cli_run_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    double seconds_after_sigint = -1;  // cli_run_interrupted: how long it took to end
    bool ended_before_sigint = false;
};

// Runs `program` with the arguments and XDG_CONFIG_HOME=config_home
// (XDG_STATE_HOME=config_home/state), in
// `cwd` (empty: the test's own folder), with an empty stdin that is no
// terminal (so questions get "no"); waits for it, but kills it after 60 s
// and says so in `err`.
cli_run_result cli_run(const std::string &program, const std::vector<std::string> &args,
                       const std::string &config_home, const std::string &cwd = std::string());

// The same, but sends `stop` (SIGINT: Ctrl+C) after `delay_ms` and measures how long the
// program takes to end then (it is killed after 5 s).  Output is read all
// along, so a talkative program never blocks on a full pipe.
cli_run_result cli_run_interrupted(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, int delay_ms,
                                   const std::string &cwd = std::string(), int stop = SIGINT);

// Runs `program` as cli_run does, but with stdin and stderr on a terminal
// (a pty) `columns` wide; stdout goes nowhere.  `input` is typed once the
// terminal shows `prompt` (or at once when it is empty).  Returns the exit
// status in `status` and what the terminal showed in `err`; the program is
// killed after 60 s.
cli_run_result cli_run_on_terminal(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, const std::string &cwd,
                                   int columns, const std::string &prompt = std::string(),
                                   const std::string &input = std::string());

// A program started and left running, its stdin, stdout and stderr on
// pipes; what it writes gathers in out_text and err_text.
struct cli_child {
    GPid pid = 0;
    int in = -1, out = -1, err = -1;
    std::string out_text, err_text;
};

// Starts `program` as cli_run does, but returns at once; 1 on success.
int cli_child_start(cli_child *c, const std::string &program,
                    const std::vector<std::string> &args, const std::string &config_home,
                    const std::string &cwd = std::string());
// Gathers what the child has written so far.
void cli_child_drain(cli_child *c);
// Gathers output until stderr holds `count` copies of `text`; false when
// that takes longer than `seconds`.
bool cli_child_wait_for_stderr(cli_child *c, const std::string &text, int count,
                               double seconds = 20);
// Closes stdin and waits for the exit (killing it after `seconds`); the
// exit status, or 128 + signal.
int cli_child_finish(cli_child *c, double seconds = 60);

// Whether `text` holds `part`.
bool contains(const std::string &text, const std::string &part);
// The lines `text` ends, without their newlines.
std::vector<std::string> cli_output_lines(const std::string &text);
// How many lines `text` ends (its newlines).
int line_count(const std::string &text);
// The arguments on one line, to name a case in a failure message.
std::string cli_shown_args(const std::vector<std::string> &args);
// What makes `r` no usage error of `program` (exit status 2, one line on
// stderr that starts with "program: "); "" when it is one.
std::string cli_usage_error_fault(const cli_run_result &r, const std::string &program);
