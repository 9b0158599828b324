// Re-reads of the faulty sectors of an image that came from a D64 file, and
// for the command line the load before and the save back after.
#include "engine/dumps.h"
#include "engine/dumps_shared.h"

#include <glib/gi18n.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "device/console.h"
#include "device/serial.h"
#include "engine/destination.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/petscii.h"
#include "image/directory.h"
#include "version.h"

namespace {

void tracks_of(engine_reread_selection selection, const engine_sector_job *job, int *first,
               int *last)
{
    switch (selection) {
    case ENGINE_REREAD_DIR_TRACK:
    case ENGINE_REREAD_DIR_TRACK_PRGS:
        *first = *last = 18;
        break;
    case ENGINE_REREAD_TRACK_RANGE:
        *first = job->range_first;
        *last = job->range_last;
        break;
    default:
        *first = dumps_first_track(job->outmost_track);
        *last = TRACKS;
        break;
    }
}

// One pass over the selected tracks with `tries` reads per faulty sector.
int reread_pass(engine_sector_reader *r, int first, int last, int tries)
{
    for (int t = first; t <= last; t++)
        if (!engine_reread_track(r, t, tries))
            return 0;
    return 1;
}

int reread_selected_tracks(engine_sector_reader *r, int first, int last,
                           const engine_sector_job *job)
{
    if (!job->retry_once_per_pass)
        return job->tries < 1 || reread_pass(r, first, last, job->tries);
    // A sector that stays bad gets its reads spread over the passes.
    for (int pass = 0; pass < job->tries; pass++)
        if (!reread_pass(r, first, last, 1))
            return 0;
    return 1;
}

engine_error no_errors_failure(engine_reread_selection selection)
{
    switch (selection) {
    case ENGINE_REREAD_DIR_TRACK:
        return ENGINE_ERROR_NOTHING_ON_TRACK_18;
    case ENGINE_REREAD_TRACK_RANGE:
        return ENGINE_ERROR_NOTHING_IN_RANGE;
    default:
        return ENGINE_ERROR_NOTHING_ON_DISK;
    }
}

// Every allocated sector the drive can reach, faulty or not.
engine_error reread_allocated(engine_sector_reader *r, const engine_sector_job *job)
{
    if (d64_is_bam_sector_error_free(d64_storage))
        dumps_log(r->ui, 1, "BAM sector was already correctly read previously, using its contents\n");
    else if (!engine_read_sector_with_retries(r, 18, 0, job->tries, 1))
        return r->failure;
    return dumps_read_allocated_sectors(r, job, 1);
}

// Another disk is in the drive, as `text` says: asked whether to go on.
// ENGINE_ERROR_NONE to go on, else the failure.
engine_error other_disk_found(engine_sector_reader *r, const std::string &text)
{
    dumps_log(r->ui, 1, "%s\n", text.c_str());
    std::string question = text + "\nRe-read its sectors into the image all the same?";
    if (r->ui->ask && r->ui->ask(r->ui->user, ENGINE_ASK_OTHER_DISK, question.c_str())) {
        dumps_log(r->ui, 1, "Re-reading the other disk into the image, as asked\n");
        return ENGINE_ERROR_NONE;
    }
    return ENGINE_ERROR_OTHER_DISK;
}

// Without both header sectors, sectors the image holds good tell the disks
// apart: a few of varied bytes (an empty sector looks alike on any disk),
// from the directory track on, a track apart at least.  Read good from the
// drive, the same disk gives the same bytes.  ENGINE_ERROR_NONE to go on,
// else the failure.
engine_error compare_witness_sector(engine_sector_reader *r, const engine_sector_job *job)
{
    int compared = 0, last_track = 0;
    for (int pass = 0; pass < 2 && compared < 3; pass++)
        for (int t = pass ? 1 : 18; t <= (pass ? TRACKS : 18); t++)
            for (int s = 0; s < d64_sectors_of_track(t); s++) {
                if (compared >= 3 || (t == 18 && (s == 0 || pass)) || t == last_track ||
                    d64_get_block_error_info(d64_storage, t, s) != D64_ERR_OK)
                    continue;
                const uint8_t *held = d64_storage + d64_sector_offset(t, s);
                if (std::all_of(held, held + 256, [held](uint8_t b) { return b == held[0]; }))
                    continue;
                uint8_t drive[256];
                int good = 0;
                if (!engine_read_sector_copy(r, t, s, std::max(job->tries, 1), drive, &good))
                    return r->failure;
                if (!good)
                    continue;
                compared++;
                last_track = t;
                if (memcmp(held, drive, 256) == 0)
                    continue;
                return other_disk_found(r, "Another disk in drive " + std::to_string(job->device) +
                                               ": its sector " + std::to_string(t) + "/" +
                                               std::to_string(s) +
                                               " holds other bytes than the image's");
            }
    if (!compared)
        dumps_log(r->ui, 1, "No sector to compare the disk in the drive with the image\n");
    return ENGINE_ERROR_NONE;
}

// Before any sector is taken: is the disk in the drive the image's?  The
// header sectors tell when both are read correctly, else a sector both
// hold good.  ENGINE_ERROR_NONE to go on, else the failure.
engine_error check_same_disk(engine_sector_reader *r, const engine_sector_job *job)
{
    if (!job->same_disk_check)
        return ENGINE_ERROR_NONE;
    if (d64_get_block_error_info(d64_storage, 18, 0) != D64_ERR_OK) {
        dumps_log(r->ui, 1, "Header sector of the image not read: the disk in the drive is "
                            "compared with it by another sector\n");
        return compare_witness_sector(r, job);
    }
    uint8_t drive[256];
    int good = 0;
    if (!engine_read_sector_copy(r, 18, 0, std::max(job->tries, 1), drive, &good))
        return r->failure;
    if (!good) {
        dumps_log(r->ui, 1, "Header sector of the disk in the drive not read: it is compared "
                            "with the image by another sector\n");
        return compare_witness_sector(r, job);
    }
    const uint8_t *held = d64_storage + d64_sector_offset(18, 0);
    const char *what = engine_other_disk_difference(held, drive);
    if (!what)
        return ENGINE_ERROR_NONE;
    return other_disk_found(r, "Another disk in drive " + std::to_string(job->device) + ": \"" +
                                   engine_header_label(drive) + "\" where the image holds \"" +
                                   engine_header_label(held) + "\" (" + what + " differ)");
}

// The reads of a re-read.  ENGINE_ERROR_NONE on success, else the failure.
engine_error reread_into_store(const engine_ui *ui, engine_reread_selection selection,
                               const engine_sector_job *job)
{
    int handle = -1;
    if (engine_error failure = dumps_open_port(job, &handle))
        return failure;
    engine_sector_reader r = {ui, handle, job->device, ENGINE_ERROR_NONE};
    engine_error failure = ENGINE_ERROR_NONE;
    if (selection == ENGINE_REREAD_ALLOCATED) {
        failure = dumps_start_sector_reads(handle, job->device);
        if (!failure)
            failure = check_same_disk(&r, job);
        if (!failure)
            failure = reread_allocated(&r, job);
        engine_close_port(ui, handle);
        return failure;
    }

    int first, last;
    tracks_of(selection, job, &first, &last);
    int count = d64_count_accessible_sector_errors(d64_storage, first, last);
    if (count == 0 && selection != ENGINE_REREAD_DIR_TRACK_PRGS) {
        failure = no_errors_failure(selection);
        dumps_log(ui, 1, "%s\n", engine_error_text(failure));
    } else if (count > job->max_errors) {
        if (selection == ENGINE_REREAD_TRACK_RANGE) {
            dumps_log(ui, 1, "Too many errors in track range (%d) to retry reading (max is %d)\n",
                      count, job->max_errors);
            failure = ENGINE_ERROR_TOO_MANY_IN_RANGE;
        } else {
            dumps_log(ui, 1, "Too many errors (%d) to retry reading (max is %d)\n", count,
                      job->max_errors);
            failure = ENGINE_ERROR_TOO_MANY;
        }
    }
    // The first-sector pass needs the drive's sector code too, so "di" and
    // "w1" go out even when track 18 is clean.
    if (!failure)
        failure = dumps_start_sector_reads(handle, job->device);
    if (!failure)
        failure = check_same_disk(&r, job);
    if (!failure && count > 0 && !reread_selected_tracks(&r, first, last, job))
        failure = r.failure;
    if (!failure && selection == ENGINE_REREAD_DIR_TRACK_PRGS &&
        !dumps_read_first_sectors(&r, job->tries, 1, job->first_sector_in_dir_order))
        failure = r.failure;
    if (!failure && selection != ENGINE_REREAD_DIR_TRACK_PRGS)
        g_usleep(10);
    engine_close_port(ui, handle);
    return failure;
}

// The file a path names, through any symbolic links: a re-read replaces
// that file in its own folder, not the link.
std::string link_target(const char *path)
{
    char resolved[PATH_MAX];
    return realpath(path, resolved) ? std::string(resolved) : std::string(path);
}

// The bytes of a file, or "" with *ok 0 when it cannot be read.
std::string file_bytes(const std::string &path, int *ok)
{
    gchar *data = nullptr;
    gsize length = 0;
    *ok = g_file_get_contents(path.c_str(), &data, &length, nullptr) ? 1 : 0;
    std::string bytes = *ok ? std::string(data, length) : std::string();
    g_free(data);
    return bytes;
}

}  // namespace

const char *engine_other_disk_difference(const uint8_t *a, const uint8_t *b)
{
    // The name, the two padding bytes and the ID.
    if (memcmp(a + D64_BAM_DISKNAME_OFFSET, b + D64_BAM_DISKNAME_OFFSET,
               D64_BAM_DISKID_OFFSET + 2 - D64_BAM_DISKNAME_OFFSET) != 0)
        return "disk name and ID";
    // The allocation entries of every track.
    if (memcmp(a + 4, b + 4, D64_BAM_DISKNAME_OFFSET - 4) != 0)
        return "BAM";
    return nullptr;
}

std::string engine_header_label(const uint8_t *header)
{
    // As the listings show names, so that the user can tell the disks apart.
    auto field = [&](int offset, int length) {
        std::string petscii;
        for (int i = 0; i < length && header[offset + i] != 0xA0; i++)
            petscii += (char)header[offset + i];
        return petscii_to_text(petscii);
    };
    return field(D64_BAM_DISKNAME_OFFSET, 16) + "," + field(D64_BAM_DISKID_OFFSET, 2);
}

int engine_reread(const engine_ui *ui, engine_reread_selection selection,
                  const engine_sector_job *job)
{
    gint64 start_us = g_get_monotonic_time();
    engine_ui none = {};
    if (!ui)
        ui = &none;
    std::vector<std::string> files;
    dumps_job_ui j;
    j.forward_to(ui, "Log file opened by Dravlen client " DRAVLEN_VERSION "\n");
    j.md5 = job->md5;
    const engine_ui *u = &j.ui;
    // A loaded file is written back where a symbolic link points.
    std::string path = !job->path ? std::string() : job->load_path ? link_target(job->path)
                                                                   : std::string(job->path);
    // Without a file to write back to, an image in memory is only re-read.
    engine_error failure =
        job->path || !job->load_path ? ENGINE_ERROR_NONE : ENGINE_ERROR_NO_IMAGE_FILE;
    int lock = -1;
    int loaded_ok = 1;
    std::string loaded;
    if (job->load_path) {
        dumps_log(ui, 0, "================================\n");
        dumps_log(ui, 0, "Loading disk image\n");
        engine_reset_image_store();
        guint64 size = 0;
        // Held until the job ends: a second re-read of the file is refused
        // rather than one of them wiping out the other's result.
        lock = failure ? -1 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) != 0) {
            failure = errno == EWOULDBLOCK ? ENGINE_ERROR_REREAD_RUNNING : ENGINE_ERROR_NO_LOCK;
            dumps_log(ui, 0, "%s\n", engine_error_text(failure));
        }
        loaded_ok = 0;
        loaded = failure ? std::string() : file_bytes(path, &loaded_ok);
        if (!failure)
            failure = dumps_load_image(&j, path.c_str(), &size);
        if (!failure) {
            engine_correct_track_shift(u, 0);
            gchar *base = g_filename_display_basename(job->path);
            dumps_log(ui, 0, "Completed (%s, %llu bytes)\n", base, (unsigned long long)size);
            g_free(base);
        }
    }
    if (!failure) {
        char *heading = engine_reread_heading(selection, job->outmost_track, job->range_first,
                                              job->range_last);
        // An image already in memory is the front end's: it frames the job.
        dumps_log_heading(&j, heading, job->heading_shown || !job->load_path);
        g_free(heading);
        failure = reread_into_store(u, selection, job);
    }
    if (!failure && !engine_abort_requested()) {
        if (ui->read_done)
            ui->read_done(ui->user);
        int full = selection == ENGINE_REREAD_ALL;
        if (full)
            engine_reread_checks(u, job->outmost_track);
        dumps_log(u, 1, "Completed\n");
        // Changed meanwhile (another program, a save from elsewhere): that
        // file is kept, and the result goes beside it.
        int still_ok = 0;
        std::string target = path;
        if (job->load_path && (file_bytes(path, &still_ok) != loaded || !still_ok || !loaded_ok)) {
            target = destination_free_name(path);
            gchar *was = g_filename_display_basename(path.c_str());
            gchar *now = g_filename_display_basename(target.c_str());
            dumps_log(u, 1, "%s changed during the re-read: the result goes to %s\n", was, now);
            g_free(now);
            g_free(was);
        }
        // Shown or asked about during the checks: an abort then saves nothing.
        if (!engine_abort_requested() && job->path) {
            engine_log_damage_report(u, 1);
            failure = dumps_save_image(&j, target.c_str(), 1, &files);
        }
        if (!failure && engine_show_read_image(u, job->outmost_track) && full)
            engine_notification_checks(u, job->notify_beyond_35, job->notify_side_b);
    }
    sector_query_list_free();
    if (lock >= 0)
        close(lock);
    return dumps_finish(ui, start_us, failure, &files, ENGINE_EARLY_NONE, &j);
}

char *engine_reread_heading(engine_reread_selection selection, int outmost_track, int range_first,
                            int range_last)
{
    switch (selection) {
    case ENGINE_REREAD_ALL:
        return outmost_track != 1
                   ? g_strdup_printf("Re-reading sectors (expected outermost track: %d)\n",
                                     outmost_track)
                   : g_strdup("Re-reading sectors with errors\n");
    case ENGINE_REREAD_DIR_TRACK:
        return g_strdup("Re-reading track 18 sectors with errors\n");
    case ENGINE_REREAD_DIR_TRACK_PRGS:
        return g_strdup("Re-reading track 18+ sectors with errors\n");
    case ENGINE_REREAD_TRACK_RANGE:
        return g_strdup_printf(
            "Re-reading sectors with errors in track range %d-%d (both inclusive)\n", range_first,
            range_last);
    case ENGINE_REREAD_ALLOCATED:
        break;
    }
    return outmost_track != 1
               ? g_strdup_printf(
                     "Re-reading allocated sectors only (expected outermost track: %d)\n",
                     outmost_track)
               : g_strdup("Re-reading allocated sectors only\n");
}

void engine_track_range_bounds(int start, int end, int outmost, int *low, int *high)
{
    *low = std::max(start, outmost);
    *high = std::min(end, TRACKS);
}

void engine_track_range_resolve(int s, int e, int outmost, int *first, int *last)
{
    *first = std::min(std::max(s, outmost), TRACKS);
    *last = std::min(std::max(e, outmost), TRACKS);
    if (*last < *first)
        *last = *first;
}

void engine_reread_checks(const engine_ui *ui, int outmost_track)
{
    if (outmost_track <= 1) {
        int k = engine_correct_track_shift(ui, 1);
        if (k > 0)
            engine_check_inaccessible_tracks(ui, k);
    } else {
        engine_check_inaccessible_tracks(ui, outmost_track - 1);
    }
}
