// dir, get, put, scratch, validate, format, rom: the disk in a drive through
// its own DOS.
#include "cli/cli.h"
#include "cli/rescue.h"

#include "engine/destination.h"

#include "engine/options.h"
#include "engine/drive_files.h"
#include "engine/input_file.h"
#include "image/listing.h"
#include "image/petscii.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace {

// ---------------------------------------------------------------- progress

// A bar that redraws itself on a terminal; a line per tenth otherwise, so
// that a log file stays short.
struct progress_bar {
    const char *what;
    bool tty;
    int last = -1;  // last percent (terminal) or tenth (plain) shown
    bool drawn = false;
};

struct files_terminal {
    cli_terminal terminal;
    engine_ui base;  // the terminal's own callbacks: outcome and files
    progress_bar bar;
};

void bar_update(progress_bar *bar, double fraction)
{
    if (fraction < 0)
        fraction = 0;
    if (fraction > 1)
        fraction = 1;
    int percent = (int)(fraction * 100 + 0.5);
    if (bar->tty) {
        if (percent == bar->last)
            return;
        bar->last = percent;
        int filled = percent * 30 / 100;
        fprintf(stderr, "\r%s [%.*s%*s] %3d%%", bar->what, filled,
                "##############################", 30 - filled, "", percent);
        bar->drawn = true;
    } else {
        int tenth = percent / 10;
        if (tenth == bar->last)
            return;
        bar->last = tenth;
        fprintf(stderr, "%s: %d%%\n", bar->what, tenth * 10);
    }
    fflush(stderr);
}

void bar_end(progress_bar *bar)
{
    if (bar->tty && bar->drawn)
        fputc('\n', stderr);
    bar->drawn = false;
}

void files_log_line(void *user, const char *line, int)
{
    files_terminal *t = static_cast<files_terminal *>(user);
    if (!t->terminal.verbose)
        return;
    // A log line must not land in the middle of the bar.
    if (t->bar.tty && t->bar.drawn) {
        fputc('\n', stderr);
        t->bar.drawn = false;
        t->bar.last = -1;
    }
    fputs(line, stderr);
}

void files_progress(void *user, double fraction)
{
    bar_update(&static_cast<files_terminal *>(user)->bar, fraction);
}

void files_finished(void *user, const engine_outcome *outcome)
{
    files_terminal *t = static_cast<files_terminal *>(user);
    bar_end(&t->bar);
    t->base.finished(t->base.user, outcome);
}

// The terminal's engine_ui with a progress bar named `what`.
engine_ui files_ui(files_terminal *t, const cli_args &args, const char *what)
{
    t->terminal.verbose = args.verbose;
    t->base = cli_terminal_ui(&t->terminal);
    t->bar.what = what;
    t->bar.tty = isatty(STDERR_FILENO) != 0;
    engine_ui ui = {};
    ui.user = t;
    ui.log_line = files_log_line;
    ui.progress = files_progress;
    ui.finished = files_finished;
    return ui;
}

engine_drive_job job_of(const cli_args &args)
{
    return engine_drive_job{args.port.c_str(), args.device, 0, 0};
}

JsonBuilder *drive_members(const cli_args &args)
{
    JsonBuilder *b = cli_json_members();
    cli_json_add_int(b, "drive", args.device);
    return b;
}

// ---------------------------------------------------------------- PETSCII

// Listing text outside a file's name, as a C64 shows it: control codes
// (reverse on, colours) print nothing, a shifted space is a space, a byte
// with no form of its own is '?'.
std::string shown_around(const std::string &petscii)
{
    std::string out;
    for (unsigned char c : petscii) {
        if (c < 0x20 || (c >= 0x80 && c < 0xA0))
            continue;
        // 0x61-0x7A look like the shifted letters they copy; a file's name
        // keeps them apart (petscii_to_text), the rest of a line need not.
        std::string text = c == 0xA0                 ? " "
                           : c >= 0x61 && c <= 0x7A ? std::string(1, (char)c)
                                                    : petscii_to_text(std::string(1, (char)c));
        out += text.compare(0, 2, "{$") == 0 ? "?" : text;
    }
    return out;
}

// A listing line: a file's name between its quotes as it is typed back
// (petscii_to_text), the rest as shown.  The disk name of the header line
// is shown only, its padding as spaces.
std::string listing_line_text(const std::string &petscii, bool header)
{
    size_t open = petscii.find('"');
    size_t close = open == std::string::npos ? open : petscii.find('"', open + 1);
    if (header || close == std::string::npos)
        return shown_around(petscii);
    return shown_around(petscii.substr(0, open + 1)) +
           petscii_to_text(petscii.substr(open + 1, close - open - 1)) +
           shown_around(petscii.substr(close));
}

// A name typed for get, put or scratch as the drive's bytes; false after
// the usage error line (a character with no C64 form).
bool typed_name(const cli_args &args, const std::string &typed, std::string *petscii,
                int *status)
{
    if (petscii_from_text(typed, petscii))
        return true;
    *status = cli_fail(args, CLI_EXIT_USAGE,
                       "\"%s\" holds a character that C64 names do not have; write bytes "
                       "without one as {$xx}",
                       typed.c_str());
    return false;
}

// One file of the listing.
struct dir_entry {
    int blocks = 0;
    std::string name;   // readable, between the quotes
    std::string type;   // "PRG", "SEQ", ...; empty when the line shows none
    bool closed = true; // no splat
    bool locked = false;
};

struct dir_listing {
    std::vector<std::string> lines;  // readable, as a C64 lists them
    std::string disk_name, disk_id;
    std::vector<dir_entry> entries;
    int blocks_free = -1;
};

std::string trim_right(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string trim(std::string s)
{
    s = trim_right(s);
    size_t i = s.find_first_not_of(' ');
    return i == std::string::npos ? "" : s.substr(i);
}

// Takes the listing text apart: "<number> <PETSCII text>" lines ended by CR.
dir_listing parse_listing(const char *text)
{
    dir_listing d;
    gchar **lines = g_strsplit(text, "\r", -1);
    for (int i = 0; lines[i]; i++) {
        std::string raw = lines[i];
        if (raw.empty())
            continue;
        size_t space = raw.find(' ');
        int number = atoi(raw.c_str());
        std::string petscii = space == std::string::npos ? "" : raw.substr(space + 1);
        std::string shown = listing_line_text(petscii, d.lines.empty());
        d.lines.push_back(trim_right(std::to_string(number) + " " + shown));
        size_t open = shown.find('"');
        size_t close = open == std::string::npos ? open : shown.find('"', open + 1);
        if (d.lines.size() == 1 && close != std::string::npos) {
            d.disk_name = trim_right(shown.substr(open + 1, close - open - 1));
            d.disk_id = trim(shown.substr(close + 1));
        } else if (close != std::string::npos) {
            dir_entry e;
            e.blocks = number;
            e.name = shown.substr(open + 1, close - open - 1);
            std::string after = shown.substr(close + 1);
            for (const char *type : {"DEL", "SEQ", "PRG", "USR", "REL"}) {
                size_t at = after.rfind(type);
                if (at == std::string::npos)
                    continue;
                e.type = type;
                e.closed = !(at > 0 && after[at - 1] == '*');
                e.locked = after.compare(at + 3, 1, "<") == 0;
                break;
            }
            d.entries.push_back(e);
        } else if (shown.find("BLOCKS FREE") != std::string::npos) {
            d.blocks_free = number;
        }
    }
    g_strfreev(lines);
    return d;
}

void add_listing(JsonBuilder *b, const dir_listing &d)
{
    cli_json_add_text(b, "disk_name", d.disk_name.c_str());
    cli_json_add_text(b, "disk_id", d.disk_id.c_str());
    json_builder_set_member_name(b, "entries");
    json_builder_begin_array(b);
    for (const dir_entry &e : d.entries) {
        json_builder_begin_object(b);
        cli_json_add_int(b, "blocks", e.blocks);
        cli_json_add_text(b, "name", e.name.c_str());
        cli_json_add_text(b, "type", e.type.c_str());
        cli_json_add_bool(b, "closed", e.closed);
        cli_json_add_bool(b, "locked", e.locked);
        json_builder_end_object(b);
    }
    json_builder_end_array(b);
    if (d.blocks_free >= 0)
        cli_json_add_int(b, "blocks_free", d.blocks_free);
}

// Refuses an output file that exists (unless --overwrite) before the drive
// is bothered.  0 when it may be written, else the exit status of the refusal.
int output_refused(const cli_args &args, const std::string &path)
{
    if (!args.overwrite && g_file_test(path.c_str(), G_FILE_TEST_EXISTS))
        return cli_fail(args, CLI_EXIT_FAILED, "%s already exists (use --overwrite to replace it)",
                        path.c_str());
    char *folder = g_path_get_dirname(path.c_str());
    int status = CLI_EXIT_OK;
    if (!g_file_test(folder, G_FILE_TEST_IS_DIR))
        status = cli_fail(args, CLI_EXIT_FAILED, "cannot write %s: no such folder %s",
                          path.c_str(), folder);
    g_free(folder);
    destination_verdict verdict =
        status == CLI_EXIT_OK ? destination_check(path.c_str()) : DESTINATION_OK;
    if (verdict != DESTINATION_OK && verdict != DESTINATION_TAKEN)
        status = cli_fail(args, CLI_EXIT_FAILED, "cannot write %s: %s", path.c_str(),
                          destination_text(verdict));
    return status;
}

// The exit status of a DOS command, its error line told: the drive's own
// status when it refused.
int dos_command_status(const cli_args &args, const files_terminal &t, const char *what,
                       const char *status)
{
    if (t.terminal.finished && t.terminal.outcome.kind == ENGINE_FAILED && status[0] &&
        strncmp(status, "00,", 3) != 0) {
        cli_error("drive %d refused the %s: %s", args.device, what, status);
        return CLI_EXIT_FAILED;
    }
    return cli_report_outcome(args, t.terminal, what);
}

// The status line a DOS command leaves, shown on stdout, or the JSON summary
// with `members` (the drive first) and the status.
void show_dos_command(const cli_args &args, const files_terminal &t, JsonBuilder *members,
                      const char *status, int exit_status, const char *error = nullptr,
                      const std::vector<std::string> *scratched = nullptr)
{
    if (args.json) {
        if (status[0])
            cli_json_add_text(members, "status", status);
        if (scratched) {
            json_builder_set_member_name(members, "scratched");
            json_builder_begin_array(members);
            for (const std::string &n : *scratched)
                cli_json_add_text_value(members, n.c_str());
            json_builder_end_array(members);
        }
        cli_json_print(args, t.terminal, members, exit_status, nullptr, error);
    } else {
        g_object_unref(members);
        if (status[0])
            printf("%s\n", status);
    }
    fflush(stdout);
}

int finish_dos_command(const cli_args &args, files_terminal &t, const char *what,
                       const char *status, JsonBuilder *members)
{
    int exit_status = dos_command_status(args, t, what, status);
    show_dos_command(args, t, members, status, exit_status);
    return exit_status;
}

}  // namespace

std::string cli_petscii_text(const std::string &petscii)
{
    return shown_around(petscii);
}

// ---------------------------------------------------------------- dir

void cli_print_listing(const char *text, bool json, const std::string &json_head)
{
    dir_listing listing = parse_listing(text);
    if (json) {
        printf("%s%s}\n", json_head.c_str(),
               cli_json_spliced([&](JsonBuilder *b) { add_listing(b, listing); }).c_str());
    } else {
        for (const std::string &line : listing.lines)
            printf("%s\n", line.c_str());
    }
    fflush(stdout);
}

namespace {

// Lists the directory into *listing; whether the drive sent one, and in
// *complete whether all of it could be read.
bool read_listing(const cli_args &args, files_terminal *t, dir_listing *listing, bool *complete)
{
    engine_ui ui = files_ui(t, args, "directory");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(DIR_STORAGE_SIZE);
    int received = 0;
    engine_list_directory(&ui, &job, buffer.data(), (int)buffer.size(), &received);
    bool got = t->terminal.finished && t->terminal.outcome.kind == ENGINE_SUCCEEDED;
    *complete = false;
    if (got) {
        GString *text = g_string_new(nullptr);
        *complete = drive_files_listing_text(buffer.data(), received, text);
        *listing = parse_listing(text->str);
        g_string_free(text, TRUE);
    }
    return got;
}

}  // namespace

int cli_run_dir(const cli_args &args)
{
    files_terminal t;
    dir_listing listing;
    bool complete = false;
    bool got = read_listing(args, &t, &listing, &complete);
    const char *damaged =
        "the drive's directory listing is damaged; shown as far as it could be read";
    int exit_status = CLI_EXIT_FAILED;
    if (got && !complete)
        cli_error("%s", damaged);
    else
        exit_status = cli_report_outcome(args, t.terminal, "directory listing");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        if (got)
            add_listing(b, listing);
        cli_json_print(args, t.terminal, b, exit_status, nullptr,
                       got && !complete ? damaged : nullptr);
    } else {
        for (const std::string &line : listing.lines)
            printf("%s\n", line.c_str());
    }
    fflush(stdout);
    return exit_status;
}

// ---------------------------------------------------------------- get

int cli_run_get(const cli_args &args)
{
    const std::string &name = args.operands[0];
    std::string petscii;
    int refused = 0;
    if (!typed_name(args, name, &petscii, &refused))
        return refused;
    if (const char *problem = drive_files_name_problem(petscii.c_str(), 0))
        return cli_fail(args, CLI_EXIT_USAGE, "%s", problem);
    std::string out;
    if (args.operands.size() > 1) {
        out = args.operands[1];
    } else {
        char *suggested =
            drive_files_suggested_file_name(name.c_str(), options_file_extensions_uppercase == 1);
        out = suggested;
        g_free(suggested);
        if (out[0] == '.')
            return cli_fail(args, CLI_EXIT_USAGE, "\"%s\" makes no file name: give OUT.prg",
                            name.c_str());
    }
    if ((refused = output_refused(args, out)))
        return refused;
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "get");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(PRG_STORAGE_SIZE);
    int received = 0;
    engine_save_target target = {out.c_str(), 1, args.overwrite, 0};
    engine_export_prg(&ui, &job, petscii.c_str(), 0, buffer.data(), (int)buffer.size(), &received,
                      &target);
    bool saved = !t.terminal.files.empty();
    int exit_status = cli_report_outcome(args, t.terminal, "get");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        cli_json_add_text(b, "name", name.c_str());
        if (saved)
            cli_json_add_int(b, "bytes", received);
        cli_json_print(args, t.terminal, b, exit_status);
    } else if (saved) {
        printf("%s: %s (%s)\n", out.c_str(), cli_count(received, "byte", "bytes").c_str(),
               cli_count(drive_files_blocks_of_size(received), "block", "blocks").c_str());
    }
    fflush(stdout);
    return exit_status;
}

// ---------------------------------------------------------------- put

int cli_run_put(const cli_args &args)
{
    const std::string &path = args.operands[0];
    char name[17];
    if (args.operands.size() > 1) {
        std::string given;
        int refused = 0;
        if (!typed_name(args, args.operands[1], &given, &refused))
            return refused;
        if (const char *problem = drive_files_name_problem(given.c_str(), 0))
            return cli_fail(args, CLI_EXIT_USAGE, "%s", problem);
        g_strlcpy(name, given.c_str(), sizeof name);
    } else {
        drive_files_c64_name_from_path(path.c_str(), name);
        if (const char *problem = drive_files_name_problem(name, 0))
            return cli_fail(args, CLI_EXIT_USAGE, "%s (give the C64 name after the file)",
                            problem);
    }
    const std::string shown = petscii_to_text(name);
    std::string file;
    long long length = 0;
    char *message = nullptr;
    engine_input_result input =
        engine_read_input_file(path.c_str(), PRG_STORAGE_SIZE, &file, &length, &message,
                               engine_abort_flag());
    if (input == ENGINE_INPUT_TOO_LARGE) {
        cli_fail(args, CLI_EXIT_FAILED, "%s is too large for a disk (%lld bytes, at most %d)",
                 path.c_str(), length, PRG_STORAGE_SIZE);
    } else if (input != ENGINE_INPUT_READ) {
        cli_fail(args, CLI_EXIT_FAILED, "%s", message);
    } else if (length < 2) {
        cli_fail(args, CLI_EXIT_FAILED, "%s is too small to be a PRG file", path.c_str());
    }
    g_free(message);
    if (input == ENGINE_INPUT_ABORTED)
        return CLI_EXIT_INTERRUPTED;
    if (input != ENGINE_INPUT_READ || length < 2)
        return CLI_EXIT_FAILED;
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "put");
    engine_drive_job job = job_of(args);
    engine_import_prg(&ui, &job, name, (const uint8_t *)file.data(), (int)length);
    int blocks = drive_files_blocks_of_size((int)length);
    bool ok = t.terminal.finished && t.terminal.outcome.kind == ENGINE_SUCCEEDED;
    int exit_status = cli_report_outcome(args, t.terminal, "put");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        cli_json_add_text(b, "name", shown.c_str());
        cli_json_add_int(b, "bytes", (gint64)length);
        cli_json_add_int(b, "blocks", blocks);
        cli_json_print(args, t.terminal, b, exit_status);
    } else if (ok) {
        printf("\"%s\": %s (%s) written\n", shown.c_str(),
               cli_count((long)length, "byte", "bytes").c_str(),
               cli_count(blocks, "block", "blocks").c_str());
    }
    fflush(stdout);
    return exit_status;
}

// ---------------------------------------------------------------- DOS commands

int cli_run_scratch(const cli_args &args)
{
    const std::string &name = args.operands[0];
    std::string petscii;
    int refused = 0;
    if (!typed_name(args, name, &petscii, &refused))
        return refused;
    if (const char *problem = drive_files_name_problem(petscii.c_str(), args.pattern ? 0 : 1))
        return cli_fail(args, CLI_EXIT_USAGE, "%s%s", problem,
                        args.pattern ? "" : " (give --pattern to scratch by pattern)");
    // With a pattern the drive decides what goes: the listings before and
    // after name it.
    dir_listing before, after;
    bool complete = false;
    if (args.pattern) {
        files_terminal listed;
        if (!read_listing(args, &listed, &before, &complete) || !complete)
            return cli_fail(args, CLI_EXIT_FAILED,
                            "not scratching: the directory could not be listed first");
    }
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "scratch");
    engine_drive_job job = job_of(args);
    std::string command = "dc \"S:" + petscii + "\"";
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, command.c_str(), "Scratching file\n", status);
    int exit_status = dos_command_status(args, t, "scratch", status);
    // "01, FILES SCRATCHED,00,00": the command went through, but no file had the name.
    std::string none;
    if (exit_status == CLI_EXIT_OK && strncmp(status, "01,", 3) == 0) {
        gchar **fields = g_strsplit(status, ",", -1);
        if (g_strv_length(fields) >= 3 && atoi(fields[2]) == 0) {
            none = "no file \"" + name + "\" on the disk in drive " + std::to_string(args.device);
            cli_error("%s", none.c_str());
            exit_status = CLI_EXIT_FAILED;
        }
        g_strfreev(fields);
    }
    std::vector<std::string> scratched;
    if (exit_status == CLI_EXIT_OK && !args.pattern) {
        scratched.push_back(name);
    } else if (exit_status == CLI_EXIT_OK) {
        files_terminal listed;
        if (!read_listing(args, &listed, &after, &complete) || !complete) {
            none = "the files scratched are unknown: the directory could not be listed after";
            cli_error("%s", none.c_str());
            exit_status = CLI_EXIT_FAILED;
        }
        // Every entry of the listing before that the one after lacks.
        for (const dir_entry &e : before.entries) {
            auto kept = std::find_if(after.entries.begin(), after.entries.end(),
                                     [&](const dir_entry &a) { return a.name == e.name; });
            if (kept == after.entries.end())
                scratched.push_back(e.name);
            else
                after.entries.erase(kept);
        }
    }
    JsonBuilder *b = drive_members(args);
    cli_json_add_text(b, "name", name.c_str());
    show_dos_command(args, t, b, status, exit_status, none.empty() ? nullptr : none.c_str(),
                     &scratched);
    if (!args.json && args.pattern)
        for (const std::string &n : scratched)
            printf("scratched \"%s\"\n", n.c_str());
    fflush(stdout);
    return exit_status;
}

int cli_run_validate(const cli_args &args)
{
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "validate");
    engine_drive_job job = job_of(args);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, "dc \"V0\"", "Validating disk\n", status);
    return finish_dos_command(args, t, "validation", status, drive_members(args));
}

int cli_run_format(const cli_args &args)
{
    const std::string &spec = args.operands[0];
    size_t comma = spec.find(',');
    if (comma == std::string::npos)
        return cli_fail(args, CLI_EXIT_USAGE, "format needs NAME,ID, for example \"GAMES,01\"");
    std::string name = spec.substr(0, comma), id = spec.substr(comma + 1);
    if (const char *problem = drive_files_format_problem(name.c_str(), id.c_str()))
        return cli_fail(args, CLI_EXIT_USAGE, "%s", problem);
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "format");
    engine_drive_job job = job_of(args);
    char *command = drive_files_format_command(name.c_str(), id.c_str(), args.fast);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, command,
                             args.fast ? "Fast formatting disk\n" : "Formatting disk\n", status);
    g_free(command);
    JsonBuilder *b = drive_members(args);
    cli_json_add_text(b, "disk_name", name.c_str());
    cli_json_add_text(b, "disk_id", id.c_str());
    cli_json_add_bool(b, "fast", args.fast);
    return finish_dos_command(args, t, "format", status, b);
}

// ---------------------------------------------------------------- rom

int cli_run_rom(const cli_args &args)
{
    const std::string &model = args.operands[0];
    int pages = model == "1541" ? DRIVE_ROM_PAGES_1541
                : model == "1571" ? DRIVE_ROM_PAGES_1571
                                  : 0;
    if (!pages)
        return cli_fail(args, CLI_EXIT_USAGE, "unknown drive \"%s\": use 1541 or 1571",
                        model.c_str());
    const std::string &out = args.operands[1];
    if (int refused = output_refused(args, out))
        return refused;
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "rom");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(pages * 256 + 2);
    int received = 0;
    engine_save_target target = {out.c_str(), 1, args.overwrite, 0};
    engine_dump_drive_rom(&ui, &job, pages, buffer.data(), (int)buffer.size(), &received, &target);
    bool saved = !t.terminal.files.empty();
    int exit_status = cli_report_outcome(args, t.terminal, "ROM dump");
    if (args.json) {
        JsonBuilder *b = drive_members(args);
        cli_json_add_text(b, "model", model.c_str());
        if (saved)
            cli_json_add_int(b, "bytes", received);
        cli_json_print(args, t.terminal, b, exit_status);
    } else if (saved) {
        printf("%s: %s ROM, %d bytes\n", out.c_str(), model.c_str(), received);
    }
    fflush(stdout);
    return exit_status;
}
