// dump: the partial dumps (directory track, with first sectors, allocated
// sectors) into a D64; reread: the faulty sectors of a D64 read again and the
// file updated in place.
#include "cli/cli.h"
#include "cli/rescue.h"

#include "engine/destination.h"
#include "engine/options.h"
#include "engine/dumps.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/imagefile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

// What a run showed on the terminal and left behind.
struct sector_run {
    cli_terminal terminal;
    cli_live_line line;
    int track;
    int errors;  // the engine's running count of accessible errors
    std::set<std::pair<int, int>> touched;  // sectors the drive was asked for
    std::vector<std::string> files;
    std::vector<unsigned char> codes;
    std::vector<unsigned char> image;  // the image saved, for the damage report
    bool force = false;  // reread --force: take another disk's sectors all the same
};

void track_done(sector_run *r)
{
    if (!r->line.live && r->track > 0)
        fprintf(stderr, "track %d done (%s so far)\n", r->track,
                cli_count((long)r->touched.size(), "sector", "sectors").c_str());
}

void on_cell(void *user, int track, int sector, int code, int checksum)
{
    auto *r = static_cast<sector_run *>(user);
    // The error lines come as log lines too.
    if (r->terminal.verbose)
        cli_show_cell_log_line(&r->line, track, sector, code, checksum, true);
    if (track != r->track) {
        track_done(r);
        r->track = track;
    }
    // Attempted counts: a sector whose every answer was lost is still one
    // the dump failed to read.
    r->touched.insert({track, sector});
    if (cli_live_line_due(&r->line, false))
        cli_live_line_show(&r->line, "track %2d/%d  sectors read %3d  errors %d", track, TRACKS,
                           (int)r->touched.size(), r->errors);
}

void on_log(void *user, const char *line, int)
{
    auto *r = static_cast<sector_run *>(user);
    if (!r->terminal.verbose)
        return;
    cli_live_line_clear(&r->line);
    fputs(line, stderr);
}

void on_error_step(void *user, int delta)
{
    auto *r = static_cast<sector_run *>(user);
    r->errors = std::max(0, r->errors + delta);
}

// Questions on the terminal when stdin is one; else the safe answer.
int on_ask(void *user, engine_question question, const char *text)
{
    auto *r = static_cast<sector_run *>(user);
    cli_live_line_clear(&r->line);
    // Another disk is refused unless the command line said otherwise; the
    // question's first line names both disks.
    if (question == ENGINE_ASK_OTHER_DISK) {
        if (!r->force)
            cli_error("%.*s: not re-read (--force re-reads it all the same)",
                      (int)strcspn(text, "\n"), text);
        return r->force ? 1 : 0;
    }
    return cli_answer_question(question, text, nullptr);
}

void on_finished(void *user, const engine_outcome *outcome)
{
    auto *r = static_cast<sector_run *>(user);
    cli_keep_outcome(&r->terminal, &r->files, &r->codes, outcome);
    cli_keep_image(&r->image, outcome);
    cli_live_line_clear(&r->line);
    track_done(r);
}

void on_warning(void *user, const char *text)
{
    cli_live_line_clear(&static_cast<sector_run *>(user)->line);
    fprintf(stderr, "%s: warning: %s\n", cli_program_name, text);
}

engine_ui run_ui(sector_run *r, const cli_args &args)
{
    r->terminal.verbose = args.verbose;
    r->line.live = isatty(STDERR_FILENO);
    engine_ui ui = {};
    ui.user = r;
    ui.sector_cell = on_cell;
    ui.log_line = on_log;
    ui.error_count_step = on_error_step;
    ui.ask = on_ask;
    ui.finished = on_finished;
    ui.warning = on_warning;
    return ui;
}

// Error byte of a sector from the outcome (0x01 when unknown).
int code_of(const sector_run &r, int track, int sector)
{
    size_t i = (size_t)(start_sector_of_track[track] + sector);
    return i < r.codes.size() ? (int)r.codes[i] : (int)D64_ERR_OK;
}

// The sectors counted in the summary: those the dump read, or (all) every
// sector of the image.
std::vector<std::pair<int, int>> counted(const sector_run &r, bool all)
{
    std::vector<std::pair<int, int>> out;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (all || r.touched.count({t, s}))
                out.push_back({t, s});
    return out;
}

struct bad_sector {
    int track, sector, code;
};

struct tally {
    int good = 0, bad = 0;
    std::vector<bad_sector> bad_sectors;
};

tally count_sectors(const sector_run &r, bool all)
{
    tally n;
    for (auto [t, s] : counted(r, all)) {
        int code = code_of(r, t, s);
        if (code == D64_ERR_OK) {
            n.good++;
        } else if (d64_is_accessible_error(code)) {
            n.bad++;
            n.bad_sectors.push_back({t, s, code});
        }
    }
    return n;
}

// The members a dump or re-read starts with: drive and track count.
JsonBuilder *run_members(const cli_args &args)
{
    JsonBuilder *b = cli_json_members();
    cli_json_add_int(b, "drive", args.device);
    cli_json_add_int(b, "tracks", TRACKS);
    return b;
}

// Ends the summary with the counted sectors and prints it.
void print_json(const cli_args &args, const sector_run &r, const tally &n, int status,
                JsonBuilder *b)
{
    cli_json_add_int(b, "sectors_good", n.good);
    cli_json_add_int(b, "sectors_bad", n.bad);
    json_builder_set_member_name(b, "bad_sectors");
    json_builder_begin_array(b);
    for (const bad_sector &bad : n.bad_sectors) {
        json_builder_begin_object(b);
        cli_json_add_int(b, "track", bad.track);
        cli_json_add_int(b, "sector", bad.sector);
        cli_json_add_int(b, "code", bad.code);
        json_builder_end_object(b);
    }
    json_builder_end_array(b);
    cli_json_print(args, r.terminal, b, status, &r.files);
}

int tries_from(const cli_args &args)
{
    return (args.retries >= 0 ? args.retries : options_sector_read_retries) + 1;
}

int outmost_from(const cli_args &args)
{
    return args.first_track > 0 ? args.first_track : options_outmost_track;
}

struct dump_name {
    const char *word;
    engine_dump_kind kind;
};
const dump_name dump_names[] = {
    {"dir", ENGINE_DUMP_DIR_TRACK},
    {"dir-first", ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS},
    {"bam", ENGINE_DUMP_ALLOCATED},
};

}  // namespace

bool cli_takes_read_option(const std::string &subcommand, const std::string &name)
{
    if (subcommand == "read")
        return true;
    if (subcommand == "dump")
        return name != "--batch" && name != "--pre-init" && name != "--max-errors";
    if (subcommand == "reread")
        return name == "--retries" || name == "--max-errors" || name == "--first-track" ||
               name == "--md5";
    return false;
}

bool cli_parse_track_range(const std::string &text, int *first, int *last)
{
    size_t dash = text.find('-');
    std::string a = text.substr(0, dash), b = text.substr(dash + 1);
    char *end_a = nullptr, *end_b = nullptr;
    errno = 0;
    long x = strtol(a.c_str(), &end_a, 10);
    long y = strtol(b.c_str(), &end_b, 10);
    if (a.empty() || b.empty() || *end_a || *end_b || errno == ERANGE || x < 1 || y > TRACKS ||
        x > y) {
        cli_error("--tracks must be a range A-B of tracks 1 to %d with A <= B, not \"%s\"",
                  TRACKS, text.c_str());
        return false;
    }
    *first = (int)x;
    *last = (int)y;
    return true;
}

int cli_run_dump(const cli_args &args)
{
    const dump_name *which = nullptr;
    for (const dump_name &d : dump_names)
        if (args.operands[0] == d.word)
            which = &d;
    if (!which)
        return cli_fail(args, CLI_EXIT_USAGE, "unknown dump \"%s\": use dir, dir-first or bam",
                        args.operands[0].c_str());
    if (TRACKS == 40 && which->kind == ENGINE_DUMP_ALLOCATED)
        return cli_fail(args, CLI_EXIT_USAGE,
                        "dump bam reads the 35-track BAM: use dravlen (--tracks 35)");
    d64_module_init();

    engine_sector_job job = {};
    job.port = args.port.c_str();
    job.handle = -1;
    job.device = args.device;
    job.tries = tries_from(args);
    job.outmost_track = outmost_from(args);
    job.first_sector_in_dir_order = options_first_sector_in_dir_order;
    job.path = args.operands.size() > 1 ? args.operands[1].c_str() : nullptr;
    // Automatic names go where the user runs the program, not the GUI's folder.
    job.auto_naming = 1;
    job.folder = nullptr;
    job.naming = options_file_naming();
    job.md5 = args.md5 || options_create_md5_digest;
    job.side_b = args.side_b > 0 ? 1 : 0;
    job.offset = args.offset > 0 ? args.offset : 1;
    job.overwrite = args.overwrite;
    job.keep_under_free_name = 1;
    if (job.path && !cli_settle_destination(args, job.path, &job.overwrite))
        return CLI_EXIT_FAILED;
    if (!job.path) {
        destination_verdict verdict = destination_check_folder(".");
        if (verdict != DESTINATION_OK) {
            cli_error("cannot save in this folder: %s", destination_text(verdict));
            return CLI_EXIT_FAILED;
        }
    }

    sector_run r = {};
    engine_ui ui = run_ui(&r, args);
    ui.notice = cli_print_notice;
    engine_reset_image_store();
    engine_special_dump(&ui, which->kind, &job);

    int status;
    if (r.terminal.finished && r.terminal.outcome.kind == ENGINE_ABORTED) {
        cli_error("dump interrupted: nothing saved");
        status = CLI_EXIT_INTERRUPTED;
    } else {
        status = cli_report_outcome(args, r.terminal, "dump");
    }
    if (status == CLI_EXIT_FAILED)
        cli_print_written(r.files);
    tally n = count_sectors(r, false);
    if (status == CLI_EXIT_OK) {
        // Only what the dump read counts: the rest of the image is unread by design.
        status = n.bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
        cli_print_written(r.files);
        fprintf(stderr, "%s read: %d good, %d with errors, in %.2f seconds\n",
                cli_count((long)r.touched.size(), "sector", "sectors").c_str(), n.good, n.bad,
                r.terminal.outcome.elapsed_seconds);
        cli_show_rescue(args, r.image, 0);
    }
    if (args.json) {
        JsonBuilder *b = run_members(args);
        cli_json_add_text(b, "dump", which->word);
        cli_json_add_int(b, "sectors_read", (gint64)r.touched.size());
        if (status == CLI_EXIT_OK || status == CLI_EXIT_SECTOR_ERRORS)
            cli_json_add_image_damage(b, r.image, 0);
        print_json(args, r, n, status, b);
    }
    return status;
}

int cli_run_reread(const cli_args &args)
{
    d64_module_init();
    const std::string &path = args.operands[0];
    if (!g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR))
        return cli_fail(args, CLI_EXIT_FAILED, "cannot re-read %s: no such file", path.c_str());

    engine_sector_job job = {};
    job.port = args.port.c_str();
    job.handle = -1;
    job.device = args.device;
    job.tries = tries_from(args);
    job.max_errors = args.max_errors >= 0 ? args.max_errors : options_max_sector_errors;
    job.outmost_track = outmost_from(args);
    job.range_first = args.range_first;
    job.range_last = args.range_last;
    job.retry_once_per_pass = options_retry_sectors_once_per_pass;
    job.first_sector_in_dir_order = options_first_sector_in_dir_order;
    job.load_path = 1;
    job.md5 = args.md5 || options_create_md5_digest;
    job.path = path.c_str();
    job.notify_beyond_35 = options_notify_tracks_beyond_35;
    job.notify_side_b = options_notify_side_b_1571;
    job.same_disk_check = 1;

    sector_run r = {};
    r.force = args.force;
    engine_ui ui = run_ui(&r, args);
    engine_reread_selection selection =
        args.range_first > 0 ? ENGINE_REREAD_TRACK_RANGE : ENGINE_REREAD_ALL;
    engine_reread(&ui, selection, &job);

    const engine_outcome &o = r.terminal.outcome;
    // Nothing to re-read is no failure: the file stays as it is.
    bool nothing_to_do = r.terminal.finished && o.kind == ENGINE_FAILED &&
                         engine_error_is_nothing_to_reread(o.error);
    int status;
    tally n = count_sectors(r, true);
    if (nothing_to_do) {
        status = n.bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
        fprintf(stderr, "%s: nothing re-read, %s left as it was\n", o.failure, path.c_str());
    } else if (r.terminal.finished && o.kind == ENGINE_ABORTED) {
        cli_error("re-read interrupted: %s left as it was", path.c_str());
        status = CLI_EXIT_INTERRUPTED;
    } else {
        status = cli_report_outcome(args, r.terminal, "re-read");
        if (status == CLI_EXIT_FAILED)
            cli_print_written(r.files);
        if (status == CLI_EXIT_OK) {
            status = n.bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
            cli_print_written(r.files);
            fprintf(stderr, "%s re-read, %s still with errors, in %.2f seconds\n",
                    cli_count((long)r.touched.size(), "sector", "sectors").c_str(),
                    cli_count(n.bad, "sector", "sectors").c_str(), o.elapsed_seconds);
            cli_show_rescue(args, r.image, 1);
        }
    }
    if (args.json) {
        JsonBuilder *b = run_members(args);
        cli_json_add_int(b, "sectors_reread", (gint64)r.touched.size());
        if (args.range_first > 0) {
            json_builder_set_member_name(b, "range");
            json_builder_begin_array(b);
            json_builder_add_int_value(b, args.range_first);
            json_builder_add_int_value(b, args.range_last);
            json_builder_end_array(b);
        }
        if (status == CLI_EXIT_OK || status == CLI_EXIT_SECTOR_ERRORS)
            cli_json_add_image_damage(b, r.image, 1);
        // A run with nothing to do is no failure in the summary either: the
        // outcome follows the exit status.
        print_json(args, r, n, status, b);
    }
    return status;
}
