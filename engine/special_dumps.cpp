// The partial dumps, the first-sector pass the matching re-read reuses, and
// what the dumps and re-reads share: the connection with the drive's sector
// code, the outcome, and for the command line the per-disk log and the save.
#include "engine/dumps.h"
#include "engine/dumps_shared.h"

#include <glib/gi18n.h>

#include <cstdarg>
#include <cstring>

#include "engine/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "engine/destination.h"
#include "engine/imaging.h"
#include "image/basic.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "version.h"

GSList *sector_query_list = nullptr;

void sector_query_list_free(void)
{
    g_slist_free_full(sector_query_list, g_free);
    sector_query_list = nullptr;
}

// ---------------------------------------------------------------- shared

void dumps_log(const engine_ui *ui, int for_disk_log, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    if (ui && ui->log_line)
        ui->log_line(ui->user, text, for_disk_log);
    g_free(text);
}

void dumps_log_heading(dumps_job_ui *j, const char *heading, int shown)
{
    if (shown) {
        j->disk_log += heading;
        return;
    }
    dumps_log(j->user_ui, 0, "================================\n");
    dumps_log(&j->ui, 1, "%s", heading);
}

void dumps_show(const engine_ui *ui, engine_image_view what)
{
    if (ui && ui->directory_ready)
        ui->directory_ready(ui->user, what);
}

engine_error dumps_open_port(const engine_sector_job *job, int *handle)
{
    *handle = job->handle;
    if (*handle >= 0)
        return ENGINE_ERROR_NONE;
    if (!job->port || !*job->port || !serial_connect_and_configure_port(handle, job->port)) {
        *handle = -1;
        return ENGINE_ERROR_NO_PORT;
    }
    if (engine_error failure = engine_sync_with_drive(*handle, job->device)) {
        serial_disconnect_port(*handle);
        *handle = -1;
        return failure;
    }
    return ENGINE_ERROR_NONE;
}

engine_error dumps_start_sector_reads(int handle, int device)
{
    if (console_error failure = console_process_command(handle, device, "di", engine_abort_flag()))
        return engine_error_from_console(failure);
    char command[16];
    g_snprintf(command, sizeof command, "w1 %d", device);
    if (!console_execute_command(handle, command, engine_abort_flag()))
        return ENGINE_ERROR_NO_SECTOR_READ;
    if (!console_synch_with_device(handle, engine_abort_flag()))
        return ENGINE_ERROR_SYNC;
    return ENGINE_ERROR_NONE;
}

int dumps_first_track(int outmost_track)
{
    return outmost_track < 1 ? 1 : outmost_track;
}

engine_error dumps_bam_gate_failure(void)
{
    if (!d64_is_bam_sector_error_free(d64_storage))
        return ENGINE_ERROR_BAM_ERRORS;
    if (!d64_is_first_dir_link_valid(d64_storage))
        return ENGINE_ERROR_DIR_LINK;
    return ENGINE_ERROR_NONE;
}

engine_error dumps_read_allocated_sectors(engine_sector_reader *r, const engine_sector_job *job,
                                          int mode)
{
    if (engine_error failure = dumps_bam_gate_failure())
        return failure;
    dumps_show(r->ui, ENGINE_SHOW_ALLOCATED_SECTORS);
    for (int t = dumps_first_track(job->outmost_track); t <= TRACKS; t++) {
        int order[21];
        int n = engine_allocated_visit_order(t, order);
        for (int i = 0; i < n; i++) {
            int s = order[i];
            if (!d64_is_sector_allocated(d64_storage, t, s))
                continue;
            // An inaccessible sector lies where the drive cannot reach.
            if (mode == 1 && d64_get_block_error_info(d64_storage, t, s) == D64_ERR_INACCESSIBLE)
                continue;
            if (!engine_read_sector_with_retries(r, t, s, job->tries, mode))
                return r->failure;
        }
    }
    return ENGINE_ERROR_NONE;
}

void dumps_job_ui::forward_to(const engine_ui *to, const char *opening)
{
    user_ui = to;
    disk_log = opening;
    ui = engine_ui{};
    ui.user = this;
    ui.log_line = [](void *self, const char *line, int for_disk_log) {
        auto *j = static_cast<dumps_job_ui *>(self);
        if (for_disk_log)
            j->disk_log += line;
        if (j->user_ui->log_line)
            j->user_ui->log_line(j->user_ui->user, line, for_disk_log);
    };
    ui.sector_cell = [](void *self, int t, int s, int code, int checksum) {
        auto *j = static_cast<dumps_job_ui *>(self);
        if (j->user_ui->sector_cell)
            j->user_ui->sector_cell(j->user_ui->user, t, s, code, checksum);
        int both = 0;
        if (char *line = engine_cell_log_line(code, t, s, checksum, &both)) {
            j->disk_log += line;
            if (both && j->user_ui->log_line)
                j->user_ui->log_line(j->user_ui->user, line, 1);
            g_free(line);
        }
    };
    if (to->error_count)
        ui.error_count = [](void *self, int count) {
            auto *j = static_cast<dumps_job_ui *>(self);
            j->user_ui->error_count(j->user_ui->user, count);
        };
    if (to->error_count_step)
        ui.error_count_step = [](void *self, int delta) {
            auto *j = static_cast<dumps_job_ui *>(self);
            j->user_ui->error_count_step(j->user_ui->user, delta);
        };
    if (to->reread_skipped)
        ui.reread_skipped = [](void *self, const char *text) {
            auto *j = static_cast<dumps_job_ui *>(self);
            j->user_ui->reread_skipped(j->user_ui->user, text);
        };
    if (to->progress)
        ui.progress = [](void *self, double fraction) {
            auto *j = static_cast<dumps_job_ui *>(self);
            j->user_ui->progress(j->user_ui->user, fraction);
        };
    if (to->directory_ready)
        ui.directory_ready = [](void *self, engine_image_view what) {
            auto *j = static_cast<dumps_job_ui *>(self);
            j->user_ui->directory_ready(j->user_ui->user, what);
        };
    if (to->ask)
        ui.ask = [](void *self, engine_question question, const char *text) {
            auto *j = static_cast<dumps_job_ui *>(self);
            return j->user_ui->ask(j->user_ui->user, question, text);
        };
}

engine_error dumps_save_image(dumps_job_ui *j, const char *path, int reread,
                              std::vector<std::string> *files)
{
    j->failure_text = nullptr;
    j->save_reason = nullptr;
    filer_saved saved;
    if (!filer_save_d64(path, d64_storage, &j->disk_log, reread, j->md5, &saved)) {
        j->save = ENGINE_SAVE_FAILED;
        j->save_reason = saved.error.empty() ? nullptr : g_intern_string(saved.error.c_str());
        // The file that failed, never the temporary name it was written under.
        gchar *failed = g_filename_display_name(saved.failed.c_str());
        std::string text = path ? std::string("Unable to save disk image to file: ") + failed +
                                      ": " + saved.error
                                : std::string("Unable to save to file");
        g_free(failed);
        j->failure_text = g_intern_string(text.c_str());
        if (path)
            j->ui.log_line(j, (text + "\n").c_str(), 1);
        return ENGINE_ERROR_NOT_SAVED;
    }
    j->save = ENGINE_SAVE_WRITTEN;
    // Texts shown take the display name: a file name need not be UTF-8.
    gchar *shown_path = g_filename_display_name(path);
    dumps_log(&j->ui, 0, "Disk image saved to: %s\n", shown_path);
    g_free(shown_path);
    // Only what was written is listed; a file beside the image that could
    // not be written fails the save, the image itself being kept.
    files->push_back(path);
    std::string log = std::string(path) + (reread ? "-reread.log" : ".log");
    std::string md5 = std::string(path) + ".md5";
    if (saved.log == 1)
        files->push_back(log);
    if (saved.md5 == 1)
        files->push_back(md5);
    if (saved.log == 0 || saved.md5 == 0) {
        gchar *shown = g_filename_display_name((saved.log == 0 ? log : md5).c_str());
        std::string text = std::string("Disk image saved, but not ") + shown + ": " + saved.error;
        g_free(shown);
        j->ui.log_line(j, (text + "\n").c_str(), 0);
        j->failure_text = g_intern_string(text.c_str());
        return ENGINE_ERROR_PARTLY_SAVED;
    }
    return ENGINE_ERROR_NONE;
}

int dumps_image_name(dumps_job_ui *j, filer_dump_kind kind, const char *path, int auto_naming,
                     const char *folder, int offset, int side_b, const filer_naming &naming,
                     const char *disk_name, std::string *name, int *chosen)
{
    *chosen = 0;
    if (path && *path) {
        *name = path;
        return 1;
    }
    if (auto_naming) {
        gchar *full = filer_auto_name_path(naming, kind, folder, offset, side_b, disk_name);
        *name = full;
        g_free(full);
        return 1;
    }
    gchar *suggested = filer_suggested_name(naming, kind, disk_name);
    char *given = j->user_ui->ask_file_name
                      ? j->user_ui->ask_file_name(j->user_ui->user, suggested)
                      : nullptr;
    g_free(suggested);
    if (!given) {
        j->save = ENGINE_SAVE_CANCELLED;
        dumps_log(&j->ui, 0, "%s", _("Disk image not saved at user's request\n"));
        return 0;
    }
    *name = given;
    g_free(given);
    *chosen = 1;
    return 1;
}

engine_error dumps_confirm_and_save(dumps_job_ui *j, const std::string &path, int overwrite,
                                    int keep_under_free_name, const char *folder,
                                    std::vector<std::string> *files)
{
    std::string target = path;
    if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) && !overwrite) {
        gchar *shown = g_filename_display_name(path.c_str());
        int yes = 0;
        if (j->user_ui->ask_overwrite) {
            yes = j->user_ui->ask_overwrite(j->user_ui->user, path.c_str(), folder);
        } else {
            gchar *text = g_strdup_printf("A file named \"%s\" already exists. Replace it?", shown);
            yes = j->ui.ask ? j->ui.ask(j, ENGINE_ASK_OVERWRITE, text) : 0;
            g_free(text);
        }
        if (!yes && keep_under_free_name) {
            // What was read is kept: it may not come back a second time.
            target = destination_free_name(path);
            gchar *free_shown = g_filename_display_name(target.c_str());
            gchar *line = g_strdup_printf("%s exists: the image goes to %s", shown, free_shown);
            dumps_log(&j->ui, 1, "%s\n", line);
            if (j->user_ui->notice)
                j->user_ui->notice(j->user_ui->user, line);
            g_free(line);
            g_free(free_shown);
        } else if (!yes) {
            g_free(shown);
            j->save = ENGINE_SAVE_DECLINED;
            j->ui.log_line(j, "Unable to save disk image to file: file exists\n", 0);
            return ENGINE_ERROR_FILE_EXISTS;
        }
        g_free(shown);
    }
    // An abort that came in during the checks or the question writes nothing.
    if (engine_abort_requested())
        return ENGINE_ERROR_NONE;
    return dumps_save_image(j, target.c_str(), 0, files);
}

char *engine_replace_undefined_errors(void)
{
    int first[2] = {0, 0};
    int count = d64_replace_undefined_errors(d64_storage, TRACKS, first);
    if (!count)
        return nullptr;
    int t = 1;
    while (t < TRACKS && start_sector_of_track[t + 1] <= first[0])
        t++;
    return g_strdup_printf("%d sectors carry error bytes that no D64 defines (first %d/%d: "
                           "0x%02X); they count as not read",
                           count, t, first[0] - start_sector_of_track[t], first[1]);
}

engine_error dumps_load_image(dumps_job_ui *j, const char *path, guint64 *size)
{
    j->failure_text = nullptr;
    filer_load_problem problem;
    if (filer_load_d64_image(path, size, &problem)) {
        if (char *text = engine_replace_undefined_errors()) {
            std::string line = std::string(text) + "\n";
            j->ui.log_line(j, line.c_str(), 1);
            if (j->user_ui && j->user_ui->warning)
                j->user_ui->warning(j->user_ui->user, text);
            g_free(text);
        }
        return ENGINE_ERROR_NONE;
    }
    j->ui.log_line(j, problem.log.c_str(), 0);
    if (problem.reason)
        j->failure_text = g_intern_string(problem.reason);
    return ENGINE_ERROR_UNABLE_TO_LOAD;
}

int dumps_finish(const engine_ui *ui, gint64 start_us, engine_error failure,
                 std::vector<std::string> *files, int ended_early, const dumps_job_ui *j)
{
    const char *text = j && j->failure_text ? j->failure_text : engine_error_text(failure);
    engine_outcome outcome = {};
    if (j) {
        outcome.save = j->save;
        outcome.save_reason = j->save_reason;
    }
    outcome.elapsed_seconds = (g_get_monotonic_time() - start_us) / 1e6;
    outcome.ended_early = ended_early;
    // An abort that comes once the files are written is too late to stop
    // anything: then the outcome says what was done, files and all.
    if (engine_abort_requested() && files->empty()) {
        outcome.kind = ENGINE_ABORTED;
        // The cause goes along: the GUI's finisher takes the worker's text.
        outcome.error = failure;
        outcome.failure = text;
        files->clear();
    } else if (ended_early == ENGINE_EARLY_PARTIAL && engine_abort_requested()) {
        outcome.kind = ENGINE_ABORTED;
        outcome.error = failure;
        outcome.failure = text;
    } else {
        outcome.kind = failure ? ENGINE_FAILED : ENGINE_SUCCEEDED;
        outcome.error = failure;
        outcome.failure = text;
    }
    std::vector<const char *> names;
    for (const std::string &f : *files)
        names.push_back(f.c_str());
    names.push_back(nullptr);
    outcome.files = names.data();
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            int e = d64_get_block_error_info(d64_storage, t, s);
            outcome.sectors_good += e == D64_ERR_OK;
            outcome.sectors_bad += d64_is_accessible_error(e) ? 1 : 0;
        }
    outcome.image = d64_storage;
    outcome.error_codes = d64_storage + d64_base_size;
    outcome.sector_count = (int)d64_block_error_info_size;
    if (ui && ui->finished)
        ui->finished(ui->user, &outcome);
    return outcome.kind == ENGINE_SUCCEEDED;
}

// ---------------------------------------------------------------- first sectors

namespace {

const char separator_tildes[] = "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\n";

// Reads one first sector as the pass does; 0 after a failed read.
int read_first_sector(engine_sector_reader *r, int track, int sector, int tries, int mode)
{
    int error = d64_get_block_error_info(d64_storage, track, sector);
    if (error == D64_ERR_OK) {
        dumps_log(r->ui, 1, "Sector was already correctly read and decoded, if applicable\n");
    } else if (error == D64_ERR_INACCESSIBLE) {
        // The drive cannot reach it: whatever it read there belongs elsewhere.
        dumps_log(r->ui, 1, "Sector is inaccessible: not reading it\n");
        return 1;
    } else if (!engine_read_sector_with_retries(r, track, sector, tries, mode)) {
        return 0;
    }
    if (d64_get_block_error_info(d64_storage, track, sector) == D64_ERR_OK) {
        gchar *line = engine_first_basic_line(d64_storage + d64_sector_offset(track, sector));
        if (*line)
            dumps_log(r->ui, 1, "First BASIC line: %s\n", line);
        g_free(line);
    }
    return 1;
}

void entry_name(const uint8_t *entry, char *name17)
{
    d64_get_filename(entry, name17);
    sanitize_filename(name17);
}

}  // namespace

int dumps_read_first_sectors(engine_sector_reader *r, int tries, int mode, int dir_order)
{
    const engine_ui *ui = r->ui;
    if (!d64_is_bam_sector_error_free(d64_storage)) {
        dumps_log(ui, 1, "BAM sector contains errors: not iterating through PRG files\n");
        return 1;
    }
    if (!d64_is_first_dir_link_valid(d64_storage)) {
        dumps_log(ui, 1, "Unexpected first dir t/s link: not iterating through PRG files\n");
        return 1;
    }
    dumps_show(ui, ENGINE_SHOW_ALLOCATED_SECTORS);
    dumps_show(ui, ENGINE_SHOW_DIRECTORY);

    if (dir_order) {
        return engine_for_each_prg_entry(d64_storage, [&](int number, const uint8_t *entry) {
            char name[D64_NAME_BUFFER_SIZE];
            entry_name(entry, name);
            int t, s;
            if (!d64_get_file_first_track_and_sector(entry, &t, &s)) {
                dumps_log(ui, 1, "%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d %s\n",
                          separator_tildes, number, name, entry[D64_ENTRY_FIRST_TRACK],
                          entry[D64_ENTRY_FIRST_SECTOR], "(invalid)");
                return 1;
            }
            dumps_log(ui, 1, "%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d %s\n",
                      separator_tildes, number, name, t, s, "");
            return read_first_sector(r, t, s, tries, mode);
        });
    }

    engine_for_each_prg_entry(d64_storage, [&](int number, const uint8_t *entry) {
        char name[D64_NAME_BUFFER_SIZE];
        entry_name(entry, name);
        int t, s;
        if (!d64_get_file_first_track_and_sector(entry, &t, &s)) {
            dumps_log(ui, 1, "%sFile #%03d, %-16s, is a PRG but starts at an invalid t/s %2d/%-2d\n",
                      separator_tildes, number, name, entry[D64_ENTRY_FIRST_TRACK],
                      entry[D64_ENTRY_FIRST_SECTOR]);
            return 1;
        }
        auto *record = g_new0(sector_query_record, 1);
        g_strlcpy(record->filename, name, sizeof record->filename);
        record->entry_number = number;
        record->track = t;
        record->sector = s;
        // Prepending and reversing keeps the walk linear.
        sector_query_list = g_slist_prepend(sector_query_list, record);
        return 1;
    });
    sector_query_list = g_slist_reverse(sector_query_list);
    // A merge sort: files on one track keep their directory order.
    sector_query_list = g_slist_sort(sector_query_list, compare_track_func);
    for (GSList *l = sector_query_list; l; l = l->next) {
        auto *record = static_cast<const sector_query_record *>(l->data);
        dumps_log(ui, 1, "%sFile #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d\n",
                  separator_tildes, record->entry_number, record->filename, record->track,
                  record->sector);
        if (!read_first_sector(r, record->track, record->sector, tries, mode))
            return 0;
    }
    return 1;
}

// ---------------------------------------------------------------- the dumps

namespace {

// The 19 sectors of the directory track as first reads.
int read_dir_track(engine_sector_reader *r, int tries)
{
    int order[21];
    int n = engine_interleaved_order(d64_sectors_of_track(18), order);
    for (int i = 0; i < n; i++)
        if (!engine_read_sector_with_retries(r, 18, order[i], tries, 0))
            return 0;
    return 1;
}

// The BAM sector, then every allocated sector from the outermost track on.
engine_error read_allocated(engine_sector_reader *r, const engine_sector_job *job)
{
    if (!engine_read_sector_with_retries(r, 18, 0, job->tries, 1))
        return r->failure;
    return dumps_read_allocated_sectors(r, job, 0);
}

// The reads of a dump.  ENGINE_ERROR_NONE on success, else the failure.
engine_error dump_into_store(const engine_ui *ui, engine_dump_kind kind,
                             const engine_sector_job *job)
{
    int handle = -1;
    if (engine_error failure = dumps_open_port(job, &handle))
        return failure;
    engine_error failure = dumps_start_sector_reads(handle, job->device);
    engine_sector_reader r = {ui, handle, job->device, ENGINE_ERROR_NONE};
    if (!failure) {
        switch (kind) {
        case ENGINE_DUMP_DIR_TRACK:
            if (!read_dir_track(&r, job->tries))
                failure = r.failure;
            break;
        case ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS:
            sector_query_list_free();
            if (!read_dir_track(&r, job->tries) ||
                !dumps_read_first_sectors(&r, job->tries, 0, job->first_sector_in_dir_order))
                failure = r.failure;
            break;
        case ENGINE_DUMP_ALLOCATED:
            failure = read_allocated(&r, job);
            break;
        }
    }
    engine_close_port(ui, handle);
    return failure;
}

filer_dump_kind file_kind(engine_dump_kind kind)
{
    switch (kind) {
    case ENGINE_DUMP_DIR_TRACK:
        return FILER_DUMP_DIR_TRACK;
    case ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS:
        return FILER_DUMP_DIR_TRACK_FIRST_SECTORS;
    case ENGINE_DUMP_ALLOCATED:
        break;
    }
    return FILER_DUMP_BAM;
}

// Names the dump's file and saves it.  ENGINE_ERROR_NONE on success, else
// the failure.
engine_error name_and_save(dumps_job_ui *j, engine_dump_kind kind, const engine_sector_job *job,
                           int read_data, std::vector<std::string> *files)
{
    char name[D64_NAME_BUFFER_SIZE];
    filer_disk_name_for_file(d64_storage, read_data, name);
    std::string path;
    int chosen = 0;
    if (!dumps_image_name(j, file_kind(kind), job->path, job->auto_naming, job->folder,
                          job->offset > 0 ? job->offset : 1, job->side_b, job->naming, name, &path,
                          &chosen))
        return ENGINE_ERROR_NONE;
    return dumps_confirm_and_save(j, path, job->overwrite || chosen, job->keep_under_free_name,
                                  job->folder, files);
}

}  // namespace

int engine_special_dump(const engine_ui *ui, engine_dump_kind kind, const engine_sector_job *job)
{
    gint64 start_us = g_get_monotonic_time();
    engine_ui none = {};
    if (!ui)
        ui = &none;
    dumps_job_ui j;
    j.forward_to(ui, "Log file created by Dravlen client " DRAVLEN_VERSION "\n");
    j.md5 = job->md5;
    const engine_ui *u = &j.ui;
    char *heading = engine_dump_heading(kind, job->outmost_track);
    dumps_log_heading(&j, heading, job->heading_shown);
    g_free(heading);
    engine_error failure = dump_into_store(u, kind, job);
    std::vector<std::string> files;
    if (!failure && !engine_abort_requested()) {
        if (ui->read_done)
            ui->read_done(ui->user);
        int read_data = engine_show_read_image(u, job->outmost_track);
        dumps_log(u, 1, "Completed\n");
        if (read_data)
            engine_log_damage_report(u, 0);
        failure = name_and_save(&j, kind, job, read_data, &files);
    }
    sector_query_list_free();
    return dumps_finish(ui, start_us, failure, &files, ENGINE_EARLY_NONE, &j);
}

char *engine_dump_heading(engine_dump_kind kind, int outmost_track)
{
    const char *what = kind == ENGINE_DUMP_DIR_TRACK                 ? "track 18"
                       : kind == ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS ? "track 18+"
                                                                     : "allocated sectors only";
    return outmost_track != 1
               ? g_strdup_printf("Dumping %s (expected outermost track: %d)\n", what, outmost_track)
               : g_strdup_printf("Dumping %s\n", what);
}

int engine_allocated_visit_order(int track, int *order)
{
    int all[21];
    int n = engine_interleaved_order(d64_sectors_of_track(track), all);
    int count = 0;
    for (int i = 0; i < n; i++)
        if (track != 18 || all[i] != 0)
            order[count++] = all[i];
    return count;
}

gchar *engine_first_basic_line(const uint8_t *sector)
{
    GString *text = g_string_new(nullptr);
    // The data bytes after the link: load address, then the program.
    if (!basic_list_basic_program_escaped(sector + 2, 254, 1, text))
        g_string_truncate(text, 0);
    return g_string_free(text, FALSE);
}

int engine_show_read_image(const engine_ui *ui, int outmost_track)
{
    if (imaging_nothing_read(d64_storage, dumps_first_track(outmost_track)))
        return 0;
    if (d64_is_bam_sector_error_free(d64_storage))
        dumps_show(ui, ENGINE_SHOW_DIRECTORY);
    else
        dumps_log(ui, 0, "%s", _("BAM sector contains errors: not listing directory contents\n"));
    engine_show_allocated_sectors_if_trusted(ui);
    return 1;
}
