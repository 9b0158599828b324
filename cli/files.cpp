// dir, get, put, scratch, validate, format, rom: the disk in a drive through
// its own DOS.
#include "cli/cli.h"

#include "engine/destination.h"

#include "engine/options.h"
#include "engine/drive_files.h"

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

std::string drive_member(const cli_args &args)
{
    return ",\"drive\":" + std::to_string(args.device);
}

// ---------------------------------------------------------------- PETSCII

// A PETSCII byte as readable text: plain letters as capitals, as a C64
// shows them after switching on; shifted letters (graphics there) as small
// letters, which is how they read in the C64's other character set; other
// graphics as '?'.  Names typed for get, put and scratch go to the drive
// byte for byte, so "GAME" matches what dir shows as GAME.
std::string petscii_readable(unsigned char c)
{
    if (c >= 0x20 && c <= 0x5B)
        return std::string(1, (char)c);
    switch (c) {
    case 0x5C: return "\xC2\xA3";      // pound sign
    case 0x5D: return "]";
    case 0x5E: return "\xE2\x86\x91";  // up arrow
    case 0x5F: return "\xE2\x86\x90";  // left arrow
    case 0xA0: return " ";             // shifted space
    case 0xFF: return "\xCF\x80";      // pi
    }
    if (c >= 0x61 && c <= 0x7A)
        return std::string(1, (char)(c - 0x61 + 'a'));
    if (c >= 0xC1 && c <= 0xDA)
        return std::string(1, (char)(c - 0xC1 + 'a'));
    if (c < 0x20 || (c >= 0x80 && c < 0xA0))
        return "";  // control codes (reverse on, colours) print nothing
    return "?";
}

std::string readable(const std::string &petscii)
{
    std::string out;
    for (unsigned char c : petscii)
        out += petscii_readable(c);
    return out;
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
        std::string shown = readable(petscii);
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

std::string json_listing(const dir_listing &d)
{
    std::string out = ",\"disk_name\":" + cli_json_string(d.disk_name.c_str()) +
                      ",\"disk_id\":" + cli_json_string(d.disk_id.c_str()) + ",\"entries\":[";
    for (size_t i = 0; i < d.entries.size(); i++) {
        const dir_entry &e = d.entries[i];
        out += std::string(i ? "," : "") + "{\"blocks\":" + std::to_string(e.blocks) +
               ",\"name\":" + cli_json_string(e.name.c_str()) +
               ",\"type\":" + cli_json_string(e.type.c_str()) +
               ",\"closed\":" + (e.closed ? "true" : "false") +
               ",\"locked\":" + (e.locked ? "true" : "false") + "}";
    }
    out += "]";
    if (d.blocks_free >= 0)
        out += ",\"blocks_free\":" + std::to_string(d.blocks_free);
    return out;
}

// Refuses an output file that exists (unless --overwrite) before the drive
// is bothered.  1 when it may be written.
int output_usable(const cli_args &args, const std::string &path)
{
    if (!args.overwrite && g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
        cli_error("%s already exists (use --overwrite to replace it)", path.c_str());
        return 0;
    }
    char *folder = g_path_get_dirname(path.c_str());
    bool ok = g_file_test(folder, G_FILE_TEST_IS_DIR);
    if (!ok)
        cli_error("cannot write %s: no such folder %s", path.c_str(), folder);
    g_free(folder);
    destination_verdict verdict = ok ? destination_check(path.c_str()) : DESTINATION_OK;
    if (verdict != DESTINATION_OK && verdict != DESTINATION_TAKEN) {
        cli_error("cannot write %s: %s", path.c_str(), destination_text(verdict));
        ok = false;
    }
    return ok;
}

// The status line a DOS command leaves, shown on stdout; the JSON summary.
int finish_dos_command(const cli_args &args, files_terminal &t, const char *what,
                       const char *status, const std::string &extra_json)
{
    if (args.json)
        printf("%s%s%s%s}\n", cli_json_head(args, t.terminal).c_str(), drive_member(args).c_str(),
               extra_json.c_str(),
               status[0] ? (",\"status\":" + cli_json_string(status)).c_str() : "");
    else if (status[0])
        printf("%s\n", status);
    fflush(stdout);
    if (t.terminal.finished && t.terminal.outcome.kind == ENGINE_FAILED && status[0] &&
        strncmp(status, "00,", 3) != 0) {
        cli_error("drive %d refused the %s: %s", args.device, what, status);
        return CLI_EXIT_FAILED;
    }
    return cli_report_outcome(args, t.terminal, what);
}

}  // namespace

// ---------------------------------------------------------------- dir

int cli_run_dir(const cli_args &args)
{
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "directory");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(DIR_STORAGE_SIZE);
    int received = 0;
    engine_list_directory(&ui, &job, buffer.data(), (int)buffer.size(), &received);
    bool got = t.terminal.finished && t.terminal.outcome.kind == ENGINE_SUCCEEDED;
    dir_listing listing;
    bool complete = false;
    if (got) {
        GString *text = g_string_new(nullptr);
        complete = drive_files_listing_text(buffer.data(), received, text);
        listing = parse_listing(text->str);
        g_string_free(text, TRUE);
    }
    if (args.json) {
        std::string out = cli_json_head(args, t.terminal) + drive_member(args);
        if (got)
            out += json_listing(listing);
        printf("%s}\n", out.c_str());
    } else {
        for (const std::string &line : listing.lines)
            printf("%s\n", line.c_str());
    }
    fflush(stdout);
    if (got && !complete) {
        cli_error("the drive's directory listing is damaged; shown as far as it could be read");
        return CLI_EXIT_FAILED;
    }
    return cli_report_outcome(args, t.terminal, "directory listing");
}

// ---------------------------------------------------------------- get

int cli_run_get(const cli_args &args)
{
    const std::string &name = args.operands[0];
    if (const char *problem = drive_files_name_problem(name.c_str(), 0)) {
        cli_error("%s", problem);
        return CLI_EXIT_USAGE;
    }
    std::string out;
    if (args.operands.size() > 1) {
        out = args.operands[1];
    } else {
        char *suggested =
            drive_files_suggested_file_name(name.c_str(), options_file_extensions_uppercase == 1);
        out = suggested;
        g_free(suggested);
        if (out[0] == '.') {
            cli_error("\"%s\" makes no file name: give OUT.prg", name.c_str());
            return CLI_EXIT_USAGE;
        }
    }
    if (!output_usable(args, out))
        return CLI_EXIT_FAILED;
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "get");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(PRG_STORAGE_SIZE);
    int received = 0;
    engine_save_target target = {out.c_str(), 1, args.overwrite};
    engine_export_prg(&ui, &job, name.c_str(), 0, buffer.data(), (int)buffer.size(), &received,
                      &target);
    bool saved = !t.terminal.files.empty();
    if (args.json)
        printf("%s%s,\"name\":%s%s}\n", cli_json_head(args, t.terminal).c_str(),
               drive_member(args).c_str(), cli_json_string(name.c_str()).c_str(),
               saved ? (",\"bytes\":" + std::to_string(received)).c_str() : "");
    else if (saved)
        printf("%s: %d bytes (%d blocks)\n", out.c_str(), received,
               drive_files_blocks_of_size(received));
    fflush(stdout);
    return cli_report_outcome(args, t.terminal, "get");
}

// ---------------------------------------------------------------- put

int cli_run_put(const cli_args &args)
{
    const std::string &path = args.operands[0];
    char name[17];
    if (args.operands.size() > 1) {
        const std::string &given = args.operands[1];
        if (const char *problem = drive_files_name_problem(given.c_str(), 0)) {
            cli_error("%s", problem);
            return CLI_EXIT_USAGE;
        }
        g_strlcpy(name, given.c_str(), sizeof name);
    } else {
        drive_files_c64_name_from_path(path.c_str(), name);
        if (const char *problem = drive_files_name_problem(name, 0)) {
            cli_error("%s (give the C64 name after the file)", problem);
            return CLI_EXIT_USAGE;
        }
    }
    gchar *contents = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
        cli_error("cannot read %s", error ? error->message : path.c_str());
        g_clear_error(&error);
        return CLI_EXIT_FAILED;
    }
    if (length > (gsize)PRG_STORAGE_SIZE) {
        cli_error("%s is too large for a disk (%lu bytes, at most %d)", path.c_str(),
                  (unsigned long)length, PRG_STORAGE_SIZE);
        g_free(contents);
        return CLI_EXIT_FAILED;
    }
    if (length < 2) {
        cli_error("%s is too small to be a PRG file", path.c_str());
        g_free(contents);
        return CLI_EXIT_FAILED;
    }
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "put");
    engine_drive_job job = job_of(args);
    engine_import_prg(&ui, &job, name, (const uint8_t *)contents, (int)length);
    g_free(contents);
    int blocks = drive_files_blocks_of_size((int)length);
    bool ok = t.terminal.finished && t.terminal.outcome.kind == ENGINE_SUCCEEDED;
    if (args.json)
        printf("%s%s,\"name\":%s,\"bytes\":%d,\"blocks\":%d}\n",
               cli_json_head(args, t.terminal).c_str(), drive_member(args).c_str(),
               cli_json_string(name).c_str(), (int)length, blocks);
    else if (ok)
        printf("\"%s\": %d bytes (%d blocks) written\n", name, (int)length, blocks);
    fflush(stdout);
    return cli_report_outcome(args, t.terminal, "put");
}

// ---------------------------------------------------------------- DOS commands

int cli_run_scratch(const cli_args &args)
{
    const std::string &name = args.operands[0];
    if (const char *problem = drive_files_name_problem(name.c_str(), 1)) {
        cli_error("%s", problem);
        return CLI_EXIT_USAGE;
    }
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "scratch");
    engine_drive_job job = job_of(args);
    std::string command = "dc \"S:" + name + "\"";
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, command.c_str(), "Scratching file\n", status);
    int exit_status = finish_dos_command(args, t, "scratch", status,
                                         ",\"name\":" + cli_json_string(name.c_str()));
    // "01, FILES SCRATCHED,00,00": the command went through, but no file had the name.
    if (exit_status == CLI_EXIT_OK && strncmp(status, "01,", 3) == 0) {
        gchar **fields = g_strsplit(status, ",", -1);
        bool none = g_strv_length(fields) >= 3 && atoi(fields[2]) == 0;
        g_strfreev(fields);
        if (none) {
            cli_error("no file \"%s\" on the disk in drive %d", name.c_str(), args.device);
            return CLI_EXIT_FAILED;
        }
    }
    return exit_status;
}

int cli_run_validate(const cli_args &args)
{
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "validate");
    engine_drive_job job = job_of(args);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, "dc \"V0\"", "Validating disk\n", status);
    return finish_dos_command(args, t, "validation", status, "");
}

int cli_run_format(const cli_args &args)
{
    const std::string &spec = args.operands[0];
    size_t comma = spec.find(',');
    if (comma == std::string::npos) {
        cli_error("format needs NAME,ID, for example \"GAMES,01\"");
        return CLI_EXIT_USAGE;
    }
    std::string name = spec.substr(0, comma), id = spec.substr(comma + 1);
    if (const char *problem = drive_files_format_problem(name.c_str(), id.c_str())) {
        cli_error("%s", problem);
        return CLI_EXIT_USAGE;
    }
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "format");
    engine_drive_job job = job_of(args);
    char *command = drive_files_format_command(name.c_str(), id.c_str(), args.fast);
    char status[ENGINE_STATUS_SIZE];
    engine_drive_dos_command(&ui, &job, command,
                             args.fast ? "Fast formatting disk\n" : "Formatting disk\n", status);
    g_free(command);
    return finish_dos_command(args, t, "format", status,
                              ",\"disk_name\":" + cli_json_string(name.c_str()) +
                                  ",\"disk_id\":" + cli_json_string(id.c_str()) +
                                  ",\"fast\":" + (args.fast ? "true" : "false"));
}

// ---------------------------------------------------------------- rom

int cli_run_rom(const cli_args &args)
{
    const std::string &model = args.operands[0];
    int pages = model == "1541" ? DRIVE_ROM_PAGES_1541
                : model == "1571" ? DRIVE_ROM_PAGES_1571
                                  : 0;
    if (!pages) {
        cli_error("unknown drive \"%s\": use 1541 or 1571", model.c_str());
        return CLI_EXIT_USAGE;
    }
    const std::string &out = args.operands[1];
    if (!output_usable(args, out))
        return CLI_EXIT_FAILED;
    files_terminal t;
    engine_ui ui = files_ui(&t, args, "rom");
    engine_drive_job job = job_of(args);
    std::vector<uint8_t> buffer(pages * 256 + 2);
    int received = 0;
    engine_save_target target = {out.c_str(), 1, args.overwrite};
    engine_dump_drive_rom(&ui, &job, pages, buffer.data(), (int)buffer.size(), &received, &target);
    bool saved = !t.terminal.files.empty();
    if (args.json)
        printf("%s%s,\"model\":%s%s}\n", cli_json_head(args, t.terminal).c_str(),
               drive_member(args).c_str(), cli_json_string(model.c_str()).c_str(),
               saved ? (",\"bytes\":" + std::to_string(received)).c_str() : "");
    else if (saved)
        printf("%s: %s ROM, %d bytes\n", out.c_str(), model.c_str(), received);
    fflush(stdout);
    return cli_report_outcome(args, t.terminal, "ROM dump");
}
