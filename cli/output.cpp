// What the program shows: the engine's callbacks on a terminal, error lines
// and JSON summaries.
#include "cli/cli.h"

#include "engine/destination.h"

#include "device/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

const char *cli_program_name = "dravlen";

void cli_error(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    // One line whatever the text holds: a device text or a file name could
    // carry a line break.
    for (char *p = text; *p; p++)
        if (*p == '\n' || *p == '\r')
            *p = ' ';
    fprintf(stderr, "%s: %s\n", cli_program_name, text);
    g_free(text);
}

static void terminal_log_line(void *user, const char *line, int)
{
    if (static_cast<cli_terminal *>(user)->verbose)
        fputs(line, stderr);
}

static void terminal_finished(void *user, const engine_outcome *outcome)
{
    cli_terminal *t = static_cast<cli_terminal *>(user);
    t->finished = true;
    t->outcome = *outcome;
    t->files.clear();
    for (const char *const *f = outcome->files; f && *f; f++)
        t->files.push_back(*f);
    // The lists belong to the engine and end with the call.
    t->outcome.files = nullptr;
    t->outcome.error_codes = nullptr;
}

engine_ui cli_terminal_ui(cli_terminal *terminal)
{
    terminal->finished = false;
    terminal->outcome = engine_outcome{};
    terminal->files.clear();
    engine_ui ui = {};
    ui.user = terminal;
    ui.log_line = terminal_log_line;
    ui.finished = terminal_finished;
    return ui;
}

std::string cli_port_problem(const std::string &port)
{
    std::string path = port;
    // The device layer also tries a bare name under /dev/.
    if (path.find('/') == std::string::npos && access(path.c_str(), F_OK) != 0)
        path = "/dev/" + path;
    if (access(path.c_str(), F_OK) != 0)
        return "no such port";
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EACCES)
            return "permission denied (is the user in the dialout group?)";
        if (errno == EBUSY)
            return "the port is in use by another program";
        return strerror(errno);
    }
    std::string problem;
    if (!isatty(fd))
        problem = "not a serial port";
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        problem = "the port is in use by another program";
    close(fd);
    return problem;
}

std::string cli_port_shown(const cli_args &args)
{
    if (!args.port_is_default)
        return args.port;
    return args.port + " (the default port: none set with --port or in the client's settings)";
}

int cli_report_outcome(const cli_args &args, const cli_terminal &terminal, const char *what)
{
    if (!terminal.finished) {
        cli_error("%s failed: no outcome", what);
        return CLI_EXIT_FAILED;
    }
    switch (terminal.outcome.kind) {
    case ENGINE_SUCCEEDED:
        return CLI_EXIT_OK;
    case ENGINE_ABORTED:
        cli_error("%s interrupted", what);
        return CLI_EXIT_INTERRUPTED;
    case ENGINE_FAILED:
        break;
    }
    const char *failure = terminal.outcome.failure ? terminal.outcome.failure : "failed";
    if (terminal.outcome.error == ENGINE_ERROR_NO_PORT) {
        std::string problem = cli_port_problem(args.port);
        if (!problem.empty()) {
            cli_error("cannot open %s: %s", cli_port_shown(args).c_str(), problem.c_str());
            return CLI_EXIT_FAILED;
        }
    }
    if (terminal.outcome.error == ENGINE_ERROR_DEVICE_NOT_PRESENT)
        cli_error("%s failed: drive %d: %s", what, args.device, failure);
    else
        cli_error("%s failed: %s", what, failure);
    return CLI_EXIT_FAILED;
}

void cli_print_written(const std::vector<std::string> &files)
{
    for (const std::string &f : files) {
        gchar *shown = g_filename_display_name(f.c_str());
        fprintf(stderr, "wrote %s\n", shown);
        g_free(shown);
    }
}

bool cli_settle_destination(const cli_args &args, const std::string &path, int *overwrite)
{
    destination_verdict verdict = destination_check(path.c_str());
    if (verdict == DESTINATION_OK)
        return true;
    if (verdict != DESTINATION_TAKEN) {
        cli_error("cannot save to %s: %s", path.c_str(), destination_text(verdict));
        return false;
    }
    if (args.overwrite) {
        *overwrite = 1;
        return true;
    }
    gchar *shown = g_filename_display_name(path.c_str());
    gchar *text = g_strdup_printf("A file named \"%s\" already exists. Replace it?", shown);
    int yes = cli_answer_question(ENGINE_ASK_OVERWRITE, text, nullptr);
    g_free(text);
    g_free(shown);
    if (!yes) {
        cli_error("%s exists: nothing read (use --overwrite to replace it)", path.c_str());
        return false;
    }
    *overwrite = 1;
    return true;
}

void cli_print_notice(void *, const char *text)
{
    cli_error("%s", text);
}

int cli_answer_question(engine_question question, const char *text, const char *prompt)
{
    std::string one_line = text;
    for (char &c : one_line)
        if (c == '\n')
            c = ' ';
    if (question == ENGINE_ASK_SIDE_B_1571 || question == ENGINE_ASK_TRACKS_BEYOND_35) {
        // Notices: what was read is kept either way.
        fprintf(stderr, "%s: warning: %s\n", cli_program_name, one_line.c_str());
        return 1;
    }
    if (!isatty(STDIN_FILENO)) {
        fprintf(stderr, "%s: %s -> no (not a terminal)\n", cli_program_name, one_line.c_str());
        return 0;
    }
    fprintf(stderr, "%s [y/N] ", prompt ? prompt : one_line.c_str());
    fflush(stderr);
    char answer[64];
    if (!fgets(answer, sizeof answer, stdin))
        return 0;
    return answer[0] == 'y' || answer[0] == 'Y';
}

void cli_keep_outcome(cli_terminal *terminal, std::vector<std::string> *files,
                      std::vector<unsigned char> *codes, const engine_outcome *outcome)
{
    terminal->finished = true;
    terminal->outcome = *outcome;
    for (const char *const *f = outcome->files; f && *f; f++)
        files->push_back(*f);
    if (outcome->error_codes)
        codes->assign(outcome->error_codes, outcome->error_codes + outcome->sector_count);
    // The lists belong to the engine and end with the call.
    terminal->outcome.files = nullptr;
    terminal->outcome.error_codes = nullptr;
}

void cli_live_line_clear(cli_live_line *line)
{
    if (line->live && line->shown) {
        fputs("\r\033[K", stderr);
        line->shown = false;
    }
}

int cli_live_line_due(cli_live_line *line, bool force)
{
    if (!line->live)
        return 0;
    gint64 now = g_get_monotonic_time();
    if (!force && now - line->last_draw_us < 100000)
        return 0;
    line->last_draw_us = now;
    return 1;
}

void cli_live_line_show(cli_live_line *line, const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *text = g_strdup_vprintf(format, ap);
    va_end(ap);
    // A line that wrapped could not be redrawn in place.
    fputs("\r\033[K", stderr);
    fputs(cli_fit_width(text, cli_terminal_width(STDERR_FILENO)).c_str(), stderr);
    g_free(text);
    line->shown = true;
    fflush(stderr);
}
