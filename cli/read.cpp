// read: whole-disk imaging into a D64 with its .log (and .md5), one disk or
// a batch of them.
#include "cli/cli.h"
#include "cli/rescue.h"

#include "cli/batch.h"

#include "engine/destination.h"
#include "engine/options.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/imagefile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

// What one disk's read showed on the terminal and left behind.
struct disk_run {
    cli_terminal terminal;
    cli_live_line bar;
    int track;
    bool rereading;           // the pass is over: faulty sectors are read again
    int errors;
    std::set<std::pair<int, int>> read;  // sectors that gave an answer
    std::vector<std::string> files;
    std::vector<unsigned char> codes;    // error byte per sector, from the outcome
    std::vector<unsigned char> image;    // the image read, for the damage report
    std::string failure;                 // the outcome's text, which ends with the call
    std::string reread_skipped;          // why faulty sectors were not read again
};

int total_sectors()
{
    int n = 0;
    for (int t = 1; t <= TRACKS; t++)
        n += d64_sectors_of_track(t);
    return n;
}

void draw_progress(disk_run *r, bool force)
{
    if (!cli_live_line_due(&r->bar, force))
        return;
    int total = total_sectors();
    int done = (int)r->read.size();
    const int width = 30;
    int filled = total ? done * width / total : 0;
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    cli_live_line_show(&r->bar, "[%s] track %2d/%d  sectors %3d/%d  errors %d%s", bar.c_str(),
                       r->track, TRACKS, done, total, r->errors,
                       r->rereading ? "  re-reading" : "");
}

void on_cell(void *user, int track, int sector, int code, int checksum)
{
    disk_run *r = static_cast<disk_run *>(user);
    if (track != r->track) {
        // The pass goes outwards in; a step back starts the re-read phase.
        bool back = track < r->track;
        if (!r->bar.live && r->track > 0 && !r->rereading)
            fprintf(stderr, "track %d of %d done: %s read, %s\n", r->track, TRACKS,
                    cli_count((long)r->read.size(), "sector", "sectors").c_str(),
                    cli_count(r->errors, "error", "errors").c_str());
        if (back && !r->rereading) {
            r->rereading = true;
            cli_live_line_clear(&r->bar);
            fprintf(stderr, "re-reading faulty sectors (%s)\n",
                    cli_count(r->errors, "error", "errors").c_str());
        }
        r->track = track;
    }
    if (r->terminal.verbose)
        cli_show_cell_log_line(&r->bar, track, sector, code, checksum, false);
    if (code >= ENGINE_CELL_NO_SYNC && code <= ENGINE_CELL_READ_OK)
        r->read.insert({track, sector});
    draw_progress(r, false);
}

void on_log(void *user, const char *line, int)
{
    disk_run *r = static_cast<disk_run *>(user);
    if (!r->terminal.verbose)
        return;
    cli_live_line_clear(&r->bar);
    fputs(line, stderr);
}

void on_error_count(void *user, int count)
{
    static_cast<disk_run *>(user)->errors = count;
}

void on_error_step(void *user, int delta)
{
    disk_run *r = static_cast<disk_run *>(user);
    r->errors = std::max(0, r->errors + delta);
}

void on_reread_skipped(void *user, const char *text)
{
    disk_run *r = static_cast<disk_run *>(user);
    r->reread_skipped = text;
    cli_live_line_clear(&r->bar);
    fprintf(stderr, "%s\n", text);
}

// A question on the terminal when there is one to ask; else the safe answer.
// A many-line question is shown as the engine wrote it.
int on_ask(void *user, engine_question question, const char *text)
{
    cli_live_line_clear(&static_cast<disk_run *>(user)->bar);
    return cli_answer_question(question, text, text);
}

void on_finished(void *user, const engine_outcome *outcome)
{
    disk_run *r = static_cast<disk_run *>(user);
    cli_keep_outcome(&r->terminal, &r->files, &r->codes, outcome);
    cli_keep_image(&r->image, outcome);
    if (outcome->failure) {
        r->failure = outcome->failure;
        r->terminal.outcome.failure = r->failure.c_str();
    }
    draw_progress(r, true);
    cli_live_line_clear(&r->bar);
    if (!r->bar.live && r->track > 0 && !r->rereading)
        fprintf(stderr, "track %d of %d done: %s read, %s\n", r->track, TRACKS,
                cli_count((long)r->read.size(), "sector", "sectors").c_str(),
                cli_count(r->errors, "error", "errors").c_str());
}

// The exit status of one disk.
int disk_status(const disk_run &r)
{
    if (!r.terminal.finished)
        return CLI_EXIT_FAILED;
    switch (r.terminal.outcome.kind) {
    case ENGINE_ABORTED:
        return CLI_EXIT_INTERRUPTED;
    case ENGINE_FAILED:
        return CLI_EXIT_FAILED;
    case ENGINE_SUCCEEDED:
        break;
    }
    return r.terminal.outcome.sectors_bad > 0 ? CLI_EXIT_SECTOR_ERRORS : CLI_EXIT_OK;
}

// Worse first: interrupted, failed, saved with errors, clean.
int rank(int status)
{
    switch (status) {
    case CLI_EXIT_INTERRUPTED:
        return 3;
    case CLI_EXIT_FAILED:
        return 2;
    case CLI_EXIT_SECTOR_ERRORS:
        return 1;
    default:
        return 0;
    }
}

// What the summary keeps of one disk that was read.
struct disk_summary {
    std::vector<std::string> files;
    int sectors_good, sectors_bad;
    std::vector<unsigned char> codes;
    std::string reread_skipped;
    std::vector<unsigned char> image;  // for the damage report
    bool same_as_previous = false;     // a batch's disk that reads as the one before
};

disk_summary summary_of(const disk_run &r)
{
    const engine_outcome &o = r.terminal.outcome;
    return disk_summary{r.files, o.sectors_good, o.sectors_bad, r.codes, r.reread_skipped,
                        r.image, false};
}

// One disk's members: sectors good and bad, each bad one with its code.
void add_disk_members(JsonBuilder *b, const disk_summary &d)
{
    cli_json_add_int(b, "sectors_good", d.sectors_good);
    cli_json_add_int(b, "sectors_bad", d.sectors_bad);
    json_builder_set_member_name(b, "bad_sectors");
    json_builder_begin_array(b);
    int i = 0;
    int inaccessible = 0;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++, i++) {
            int code = i < (int)d.codes.size() ? (int)d.codes[i] : (int)D64_ERR_OK;
            if (code == D64_ERR_INACCESSIBLE)
                inaccessible++;
            if (!d64_is_accessible_error(code))
                continue;
            json_builder_begin_object(b);
            cli_json_add_int(b, "track", t);
            cli_json_add_int(b, "sector", s);
            cli_json_add_int(b, "code", code);
            json_builder_end_object(b);
        }
    json_builder_end_array(b);
    cli_json_add_int(b, "sectors_inaccessible", inaccessible);
    cli_json_add_image_damage(b, d.image, 1);
    if (!d.reread_skipped.empty())
        cli_json_add_text(b, "reread_skipped", d.reread_skipped.c_str());
}

// What a read cut short in its pass kept, and how to go on from there.
void report_partial(const disk_run &r)
{
    const engine_outcome &o = r.terminal.outcome;
    cli_print_written(r.files);
    gchar *quoted = g_shell_quote(r.files.empty() ? "" : r.files[0].c_str());
    fprintf(stderr,
            "%d of %d sectors kept, the rest marked not read; to read what is missing: "
            "%s reread --max-errors %d %s\n",
            o.sectors_good, total_sectors(), cli_program_name, o.sectors_bad, quoted);
    g_free(quoted);
}

// The summary line on stderr after a disk.
void report_disk(const cli_args &args, const disk_run &r, int status)
{
    const engine_outcome &o = r.terminal.outcome;
    bool partial = r.terminal.finished && o.ended_early == ENGINE_EARLY_PARTIAL;
    if (status == CLI_EXIT_INTERRUPTED) {
        cli_error(partial ? "read interrupted" : "read interrupted: nothing saved");
        if (partial)
            report_partial(r);
        return;
    }
    if (status == CLI_EXIT_FAILED) {
        // A save that failed beside the image still names what it wrote.
        cli_print_written(r.files);
        cli_report_outcome(args, r.terminal, "read");
        if (partial) {
            report_partial(r);
        } else if (r.terminal.finished && o.ended_early == ENGINE_EARLY_REREADS_CUT) {
            fprintf(stderr, "the image is saved with its error info\n");
            cli_print_written(r.files);
        }
        return;
    }
    if (o.ended_early == ENGINE_EARLY_REREADS_CUT)
        fprintf(stderr, "re-reads stopped: the image is saved with its error info\n");
    cli_print_written(r.files);
    fprintf(stderr, "%s good, %d with errors, in %.2f seconds\n",
            cli_count(o.sectors_good, "sector", "sectors").c_str(), o.sectors_bad,
            o.elapsed_seconds);
    cli_show_rescue(args, r.image, 1);
}

// Waits for the next disk; 0 to stop (q, end of input, Ctrl+C).
int next_disk_wanted(void)
{
    fprintf(stderr, "Insert the next disk and press Enter (q to stop)\n");
    fflush(stderr);
    char line[64];
    if (!fgets(line, sizeof line, stdin) || engine_abort_requested())
        return 0;
    return line[0] != 'q' && line[0] != 'Q';
}

// Automatic naming: the folder must take the file.  A name known before
// the read (no disk name in it) that is taken moves on to the next free
// combination, and the program says so; --overwrite keeps the name.
bool settle_automatic_name(const cli_args &args, engine_imaging_params *p)
{
    gchar *name = filer_auto_name(p->naming, FILER_DUMP_WHOLE_DISK, p->offset, p->side_b, nullptr);
    destination_verdict verdict = destination_check(name);
    if (verdict != DESTINATION_OK && verdict != DESTINATION_TAKEN) {
        cli_error("cannot save to %s: %s", name, destination_text(verdict));
        g_free(name);
        return false;
    }
    if (verdict == DESTINATION_TAKEN && !args.overwrite && !options_append_disk_name) {
        gchar *taken = g_strdup(name);
        while (p->offset <= 9999 && destination_check(name) == DESTINATION_TAKEN) {
            filer_auto_naming_advance(&p->side_b, &p->offset);
            g_free(name);
            name = filer_auto_name(p->naming, FILER_DUMP_WHOLE_DISK, p->offset, p->side_b, nullptr);
        }
        fprintf(stderr, "%s exists: this disk goes to %s\n", taken, name);
        g_free(taken);
    }
    g_free(name);
    return true;
}

// The ending of a read refused before the drive was touched.
int finish_refused(const cli_args &args)
{
    if (args.json) {
        cli_terminal t = {};
        t.finished = true;
        t.outcome.kind = ENGINE_FAILED;
        cli_json_print(args, t, nullptr, CLI_EXIT_FAILED, nullptr, "destination not usable");
    }
    return CLI_EXIT_FAILED;
}

}  // namespace

int cli_run_read(const cli_args &args)
{
    d64_module_init();

    engine_imaging_params p = {};
    p.port = args.port.c_str();
    p.device = args.device;
    p.retries = args.retries >= 0 ? args.retries : options_sector_read_retries;
    p.max_errors = args.max_errors >= 0 ? args.max_errors : options_max_sector_errors;
    p.outmost_track = args.first_track > 0 ? args.first_track : options_outmost_track;
    p.pre_initialize = args.pre_initialize;
    p.retry_once_per_pass = options_retry_sectors_once_per_pass;
    p.notify_beyond_35 = options_notify_tracks_beyond_35;
    p.notify_side_b = options_notify_side_b_1571;
    p.path = args.operands.empty() ? nullptr : args.operands[0].c_str();
    p.side_b = args.side_b >= 0 ? args.side_b : 0;
    p.offset = args.offset > 0 ? args.offset : 1;
    p.overwrite = args.overwrite;
    // Names come from the command line, not the GUI's folder: the files go
    // where the user runs the program (or where FILE says).
    p.auto_naming = 1;
    p.folder = nullptr;
    p.naming = options_file_naming();
    p.md5 = args.md5 || options_create_md5_digest;
    // A name taken after the read (one made from the disk name, or a file
    // that appeared meanwhile) is no reason to throw the read away.
    p.keep_under_free_name = 1;
    p.keep_on_early_end = 1;
    // A save that fails after all keeps the image here instead.
    gchar *state = g_build_filename(g_get_user_state_dir(), "dravlen", nullptr);
    std::string fallback = state;
    g_free(state);
    p.fallback_folder = fallback.c_str();
    if (p.path && !cli_settle_destination(args, p.path, &p.overwrite))
        return finish_refused(args);

    int worst = CLI_EXIT_OK;
    double elapsed = 0;
    std::vector<std::string> all_files;
    std::vector<disk_summary> disks;
    cli_terminal last = {};
    std::string last_failure;
    cli_batch batch;
    for (int disk = 1;; disk++) {
        disk_run r = {};
        r.terminal.verbose = args.verbose;
        r.bar.live = isatty(STDERR_FILENO);
        engine_ui ui = {};
        ui.user = &r;
        ui.sector_cell = on_cell;
        ui.log_line = on_log;
        ui.error_count = on_error_count;
        ui.error_count_step = on_error_step;
        ui.ask = on_ask;
        ui.reread_skipped = on_reread_skipped;
        ui.finished = on_finished;

        if (args.batch)
            fprintf(stderr, "reading disk %d\n", disk);
        if (!p.path && !settle_automatic_name(args, &p))
            return finish_refused(args);
        ui.notice = cli_print_notice;
        engine_reset_image_store();
        engine_read_disk(&ui, &p);
        int status = disk_status(r);
        report_disk(args, r, status);
        if (args.batch) {
            const engine_outcome &o = r.terminal.outcome;
            bool saved = status == CLI_EXIT_OK || status == CLI_EXIT_SECTOR_ERRORS;
            cli_batch_disk line = {disk, status, saved && !r.files.empty() ? r.files[0] : "",
                                   "", "", o.sectors_good, o.sectors_bad, -1, false};
            cli_batch_disk_done(&batch, line, saved);
        }
        if (rank(status) > rank(worst))
            worst = status;
        elapsed += r.terminal.outcome.elapsed_seconds;
        all_files.insert(all_files.end(), r.files.begin(), r.files.end());
        last = r.terminal;
        last_failure = r.failure;
        if (last.outcome.failure)
            last.outcome.failure = last_failure.c_str();
        if (r.terminal.finished && r.terminal.outcome.kind != ENGINE_FAILED) {
            disks.push_back(summary_of(r));
            disks.back().same_as_previous = args.batch && batch.disks.back().same_as_previous;
        }
        // Ctrl+C that only cut the re-reads short still ends the batch.
        if (status == CLI_EXIT_INTERRUPTED || !args.batch || engine_abort_requested())
            break;
        // The next disk gets the next name, as the GUI steps after a save.
        if (status != CLI_EXIT_FAILED)
            filer_auto_naming_advance(&p.side_b, &p.offset);
        if (!next_disk_wanted()) {
            if (engine_abort_requested()) {
                cli_error("read interrupted");
                worst = CLI_EXIT_INTERRUPTED;
            }
            break;
        }
    }

    if (args.batch)
        cli_batch_print_summary(&batch);
    if (args.json) {
        last.outcome.elapsed_seconds = elapsed;
        JsonBuilder *b = cli_json_members();
        cli_json_add_int(b, "drive", args.device);
        cli_json_add_int(b, "tracks", TRACKS);
        if (args.batch) {
            json_builder_set_member_name(b, "disks");
            json_builder_begin_array(b);
            for (const disk_summary &d : disks) {
                json_builder_begin_object(b);
                cli_json_add_files(b, "files", d.files);
                add_disk_members(b, d);
                if (d.same_as_previous)
                    cli_json_add_bool(b, "same_as_previous", true);
                json_builder_end_object(b);
            }
            json_builder_end_array(b);
        } else if (!disks.empty()) {
            add_disk_members(b, disks.back());
        }
        cli_json_print(args, last, b, worst, &all_files);
    }
    return worst;
}
