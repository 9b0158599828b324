// Whole-disk imaging: the fast "ws" pass over every track, the re-read
// phase of the faulty sectors, and for the command line the checks and the
// save that the GUI does in its finisher.
#include "engine/imaging.h"

#include "engine/destination.h"

#include <glib/gi18n.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/dumps_shared.h"
#include "engine/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "version.h"

namespace {

void log_printf(const engine_ui *ui, const char *format, ...) G_GNUC_PRINTF(2, 3);
void log_printf(const engine_ui *ui, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    if (ui && ui->log_line)
        ui->log_line(ui->user, text, 1);
    g_free(text);
}

void cell(const engine_ui *ui, int track, int sector, int checksum, int code)
{
    if (ui && ui->sector_cell)
        ui->sector_cell(ui->user, track, sector, code, checksum);
}

void step_errors(const engine_ui *ui, int delta)
{
    if (ui && ui->error_count_step)
        ui->error_count_step(ui->user, delta);
}

void show(const engine_ui *ui, engine_image_view what)
{
    if (ui && ui->directory_ready)
        ui->directory_ready(ui->user, what);
}



// The stream is drained in as large reads as the port offers, but never past
// the packets that must still come (at least one per remaining track), so
// the prompt after the pass stays in the port for the re-read phase.
struct pass_reader {
    uint8_t buffer[32 * WARP_PACKET_SIZE];
    size_t start, end;
};

const uint8_t prompt_bytes[4] = {'\r', '\n', '>', ' '};
// How long the prompt must stand alone before it counts as the end of the
// stream rather than the start of a packet: the device sends a packet in
// one go.
const int prompt_quiet_ms = 250;

// Reads the next packet; sets *prompt instead when the device came back to
// its prompt, so a pass that expected more packets than came still ends.
int read_packet(pass_reader &reader, int handle, size_t bytes_still_due, uint8_t *packet,
                int *prompt)
{
    *prompt = 0;
    while (reader.end - reader.start < WARP_PACKET_SIZE) {
        if (reader.end - reader.start == sizeof prompt_bytes &&
            memcmp(reader.buffer + reader.start, prompt_bytes, sizeof prompt_bytes) == 0) {
            int ready = serial_wait_readable(handle, prompt_quiet_ms, engine_abort_flag());
            if (ready < 0)
                return 0;
            if (ready == 0) {
                reader.start = reader.end = 0;
                *prompt = 1;
                return 1;
            }
        }
        if (reader.start > 0) {
            memmove(reader.buffer, reader.buffer + reader.start, reader.end - reader.start);
            reader.end -= reader.start;
            reader.start = 0;
        }
        size_t need = WARP_PACKET_SIZE - reader.end;
        size_t ask = need;
        int waiting = 0;
        if (serial_bytes_waiting(handle, &waiting) && waiting > 0) {
            size_t limit = bytes_still_due > reader.end ? bytes_still_due - reader.end : 0;
            size_t room = sizeof reader.buffer - reader.end;
            size_t more = (size_t)waiting < limit ? (size_t)waiting : limit;
            if (more > room)
                more = room;
            if (more > ask)
                ask = more;
        }
        size_t got = 0;
        if (engine_abort_flag()->load(std::memory_order_relaxed) ||
            !serial_read_chunk(handle, reader.buffer + reader.end, ask, &got,
                               engine_abort_flag()))
            return 0;
        reader.end += got;
    }
    memcpy(packet, reader.buffer + reader.start, WARP_PACKET_SIZE);
    reader.start += WARP_PACKET_SIZE;
    return 1;
}

// ---------------------------------------------------------------- fast pass
//
// A packet lost to its transmission check may have been the one that ended
// its track, and nothing in the stream says which.  So the pass follows
// every reading of the stream that fits what the drive sends (per track at
// most its sector count of packets, each sector once, the last one flagged;
// a no-sector packet only for a track that sent nothing; nothing after the
// last track), and stores a packet only once every reading left puts it on
// the same track.  A packet still in doubt at the end is not stored: its
// sector stays unread for the re-read phase, which names the track.

struct pass_packet {
    int sector;  // as carried, possibly invalid
    uint8_t error, checksum;
    uint8_t data[256];
};

struct pass_reading {
    int track;      // where the next packet belongs; past TRACKS: nothing more comes
    int count;      // packets of that track so far, lost ones included
    std::deque<int> where;  // track of each pending packet; 0 when merged readings disagree
};

struct pass_state {
    std::vector<pass_reading> readings;  // empty: lost track, store nothing more
    std::deque<pass_packet> pending;     // received, not yet stored
    uint32_t placed[D64_MAX_TRACKS + 1];   // sectors stored in this pass
    uint32_t left_unread[D64_MAX_TRACKS + 1];  // named twice or out of turn
    // The drive sends a track as it turns under the head: sector numbers
    // rise, wrapping to 0 at most once, and never come back to where the
    // track began.  A packet that breaks this carries a wrong number (or its
    // neighbour does), and its data may be another sector's.
    int first_sector[D64_MAX_TRACKS + 1];  // -1: nothing stored on the track yet
    int last_sector[D64_MAX_TRACKS + 1];
    int wrap_from[D64_MAX_TRACKS + 1];     // the fall taken as the wrap; -1: none yet
    int wrap_to[D64_MAX_TRACKS + 1];
    bool listing_posted;
};

// Readings kept apart at most; beyond that those on one track are merged.
const size_t max_readings = 256;

enum pass_event { EVENT_PACKET, EVENT_LOST, EVENT_NO_SECTOR, EVENT_END };

bool reading_over(const pass_reading &r)
{
    return r.track > TRACKS;
}

void leave_unread(pass_state &pass, const engine_ui *ui, int track, int s, const char *why)
{
    uint32_t bit = 1u << s;
    if (pass.left_unread[track] & bit)
        return;
    pass.left_unread[track] |= bit;
    memset(d64_storage + d64_sector_offset(track, s), 0, 256);
    d64_set_block_error_info(d64_storage, track, s, D64_ERR_NO_SYNC);
    log_printf(ui, "Sector t/s %2d/%-2d %s: left unread\n", track, s, why);
    cell(ui, track, s, 0, ENGINE_CELL_LEFT_UNREAD);
}

// Follows the sector numbers of a track in the order they came; where they
// break the turn, the packets on both sides of the break are left unread,
// with the first one of the turn and those of the wrap taken so far, since
// any of them may be the one with the wrong number.  The packets after a
// break start a new turn, so that one wrong number costs a few sectors and
// not the rest of the track.
void check_turn(pass_state &pass, const engine_ui *ui, int track, int s)
{
    const char *why = "out of turn on its track";
    int last = pass.last_sector[track];
    pass.last_sector[track] = s;
    if (last < 0) {
        pass.first_sector[track] = s;
        return;
    }
    bool broken = false;
    if (s < last) {
        if (pass.wrap_from[track] < 0) {
            pass.wrap_from[track] = last;
            pass.wrap_to[track] = s;
        } else {
            broken = true;  // a second fall
        }
    }
    if (pass.wrap_from[track] >= 0 && s >= pass.first_sector[track])
        broken = true;  // past where the track began
    if (!broken)
        return;
    leave_unread(pass, ui, track, pass.first_sector[track], why);
    leave_unread(pass, ui, track, pass.wrap_from[track], why);
    leave_unread(pass, ui, track, pass.wrap_to[track], why);
    leave_unread(pass, ui, track, last, why);
    leave_unread(pass, ui, track, s, why);
    pass.first_sector[track] = s;
    pass.wrap_from[track] = pass.wrap_to[track] = -1;
}

void place(pass_state &pass, const engine_ui *ui, int track, const pass_packet &p)
{
    int s = p.sector;
    if (s >= d64_sectors_of_track(track)) {
        log_printf(ui, "Invalid sector value received: %d\n", s);
        return;
    }
    uint32_t bit = 1u << s;
    if (pass.left_unread[track] & bit)
        return;
    if (pass.placed[track] & bit) {
        // Two packets named the same sector, so one of them carries another
        // sector's data, and nothing tells which.
        leave_unread(pass, ui, track, s, "received twice");
        return;
    }
    pass.placed[track] |= bit;
    if (p.error == D64_ERR_OK) {
        cell(ui, track, s, p.checksum, ENGINE_CELL_READ_OK);
    } else {
        cell(ui, track, s, p.checksum,
             p.error == D64_ERR_CHECKSUM ? ENGINE_CELL_CHECKSUM_FAILED : ENGINE_CELL_GCR_FAILED);
        step_errors(ui, +1);
    }
    memcpy(d64_storage + d64_sector_offset(track, s), p.data, 256);
    d64_set_block_error_info(d64_storage, track, s, p.error);
    check_turn(pass, ui, track, s);
}

void drop_pending_front(pass_state &pass, const engine_ui *ui)
{
    log_printf(ui, "Track of sector %d uncertain after a lost packet: left unread\n",
             pass.pending.front().sector);
    pass.pending.pop_front();
    for (pass_reading &r : pass.readings)
        r.where.pop_front();
}

// Stores the oldest pending packets while every reading agrees on their
// track.  At the end of the pass (final) the rest is dropped.
void flush(pass_state &pass, const engine_ui *ui, bool final)
{
    while (!pass.pending.empty()) {
        if (pass.readings.empty()) {
            drop_pending_front(pass, ui);
            continue;
        }
        int track = pass.readings[0].where.front();
        for (const pass_reading &r : pass.readings)
            if (r.where.front() != track)
                track = 0;
        if (track == 0 && (final || pass.readings.size() == 1)) {
            drop_pending_front(pass, ui);
            continue;
        }
        if (track == 0)
            break;
        place(pass, ui, track, pass.pending.front());
        pass.pending.pop_front();
        for (pass_reading &r : pass.readings)
            r.where.pop_front();
    }
    if (!pass.listing_posted && pass.pending.empty()) {
        // The directory is shown as soon as track 18 is surely stored.
        bool past_18 = !pass.readings.empty();
        for (const pass_reading &r : pass.readings)
            past_18 = past_18 && r.track > 18;
        if (past_18 || final) {
            pass.listing_posted = true;
            show(ui, ENGINE_SHOW_DIRECTORY);
        }
    }
}

// When too many readings are kept apart, those on one track become one that
// allows what any of them allows (fewest packets).
// Every way the stream can still go stays open, so nothing in doubt is
// stored; the pass only settles later.
void merge_by_track(pass_state &pass)
{
    std::vector<pass_reading> merged;
    for (pass_reading &r : pass.readings) {
        pass_reading *same = nullptr;
        for (pass_reading &k : merged)
            if (k.track == r.track)
                same = &k;
        if (!same) {
            merged.push_back(std::move(r));
            continue;
        }
        same->count = std::min(same->count, r.count);
        for (size_t i = 0; i < same->where.size(); i++)
            if (same->where[i] != r.where[i])
                same->where[i] = 0;
    }
    pass.readings = std::move(merged);
}

// Carries every reading over one event of the stream, keeping those that
// still fit, and merges readings that have come to the same state.
void step(pass_state &pass, pass_event event, bool end_of_track = false)
{
    std::vector<pass_reading> next;
    for (pass_reading &r : pass.readings) {
        bool over = reading_over(r);
        int n = over ? 0 : d64_sectors_of_track(r.track);
        switch (event) {
        case EVENT_END:
            if (over)
                next.push_back(std::move(r));
            break;
        case EVENT_NO_SECTOR:
            if (!over && r.count == 0) {
                r.track++;
                next.push_back(std::move(r));
            }
            break;
        case EVENT_LOST:
            if (over || r.count + 1 > n)
                break;
            // The lost packet ended its track ...
            next.push_back(r);
            next.back().track++;
            next.back().count = 0;
            // ... or the track's last packet is still to come.
            if (r.count + 2 <= n) {
                r.count++;
                next.push_back(std::move(r));
            }
            break;
        case EVENT_PACKET:
            if (over || r.count + 1 > n || (!end_of_track && r.count + 2 > n))
                break;
            r.where.push_back(r.track);
            r.count++;
            if (end_of_track) {
                r.track++;
                r.count = 0;
            }
            next.push_back(std::move(r));
            break;
        }
    }
    // A sector named twice on a track is no reason to drop a reading: a
    // packet can carry a wrong sector number, and the reading that needs
    // fewest such faults need not be the true one.
    pass.readings.clear();
    for (pass_reading &r : next) {
        // Readings at the same point of the same track become one; packets
        // they put apart are in doubt.
        pass_reading *same = nullptr;
        for (pass_reading &k : pass.readings)
            if (k.track == r.track && k.count == r.count)
                same = &k;
        if (!same) {
            pass.readings.push_back(std::move(r));
            continue;
        }
        for (size_t i = 0; i < same->where.size(); i++)
            if (same->where[i] != r.where[i])
                same->where[i] = 0;
    }
    if (pass.readings.size() > max_readings)
        merge_by_track(pass);
}

// The track that a no-sector packet ended, for its log line.
int track_just_ended(const pass_state &pass)
{
    int track = pass.readings.empty() ? 0 : pass.readings[0].track - 1;
    for (const pass_reading &r : pass.readings)
        track = std::min(track, r.track - 1);
    return track;
}

// The "ws" stream from the first track to TRACKS.  0 on a failed read;
// *prompt_taken tells that the prompt after the stream has been read.
int receive_fast_pass(const engine_ui *ui, int handle, int first_track, int *prompt_taken)
{
    *prompt_taken = 0;
    // The pass's own state and receive buffer: the single-sector reads keep theirs.
    auto owned = std::make_unique<pass_state>();
    auto owned_reader = std::make_unique<pass_reader>();
    pass_state &pass = *owned;
    pass_reader &reader = *owned_reader;
    uint8_t receive_buffer[WARP_PACKET_SIZE];
    pass.readings.clear();
    pass.readings.push_back(pass_reading{first_track, 0, {}});
    pass.pending.clear();
    memset(pass.placed, 0, sizeof pass.placed);
    memset(pass.left_unread, 0, sizeof pass.left_unread);
    for (int t = 0; t <= D64_MAX_TRACKS; t++)
        pass.first_sector[t] = pass.last_sector[t] = pass.wrap_from[t] = pass.wrap_to[t] = -1;
    pass.listing_posted = first_track > 18;
    reader.start = reader.end = 0;
    for (;;) {
        bool all_over = !pass.readings.empty();
        size_t due = pass.readings.empty() ? 0 : SIZE_MAX;
        for (const pass_reading &r : pass.readings) {
            all_over = all_over && reading_over(r);
            // At least one packet per track still to come.
            size_t left = reading_over(r) ? 0 : (size_t)(TRACKS - r.track + 1);
            due = std::min(due, left * WARP_PACKET_SIZE);
        }
        if (all_over)
            break;
        int prompt = 0;
        if (!read_packet(reader, handle, due, receive_buffer, &prompt))
            return 0;
        if (prompt) {
            *prompt_taken = 1;
            step(pass, EVENT_END);
            break;
        }
        if (pass.readings.empty())
            continue;  // lost track: the rest of the stream is only drained
        if (warp_incoming_stream_is_empty(receive_buffer)) {
            step(pass, EVENT_NO_SECTOR);
            flush(pass, ui, false);
            if (!pass.readings.empty())
                log_printf(ui, "Sector retries exhausted for track %d\n", track_just_ended(pass));
            continue;
        }
        if (!warp_validate_incoming_stream(receive_buffer)) {
            // Dropped whole, end-of-track flag included.
            log_printf(ui, "Transmission validation failed, skipping packet\n");
            step(pass, EVENT_LOST);
            flush(pass, ui, false);
            continue;
        }
        warp_normalise_incoming_stream(receive_buffer);
        pass.pending.emplace_back();
        pass_packet &p = pass.pending.back();
        uint32_t sector, checksum_ok, end_of_track;
        int gcr_ok = warp_decode_gcr_stream(receive_buffer, p.data, &sector, &p.checksum,
                                            &checksum_ok, &end_of_track);
        p.sector = (int)sector;
        p.error = !gcr_ok ? D64_ERR_GCR : (checksum_ok ? D64_ERR_OK : D64_ERR_CHECKSUM);
        step(pass, EVENT_PACKET, end_of_track != 0);
        flush(pass, ui, false);
    }
    flush(pass, ui, true);
    return 1;
}

// The re-read phase once it has been decided on.  0 with the failure.
int reread_faulty_sectors(const engine_ui *ui, int handle, const engine_imaging_params *p,
                          int first_track, int prompt_taken, engine_error *failure)
{
    if (!prompt_taken && !console_synch_with_device(handle, engine_abort_flag())) {
        *failure = ENGINE_ERROR_SYNC;
        return 0;
    }
    char command[16];
    g_snprintf(command, sizeof command, "w1 %d", p->device);
    if (!console_execute_command(handle, command, engine_abort_flag())) {
        *failure = ENGINE_ERROR_NO_SECTOR_READ;
        return 0;
    }
    if (!console_synch_with_device(handle, engine_abort_flag())) {
        *failure = ENGINE_ERROR_SYNC;
        return 0;
    }
    engine_sector_reader r = {ui, handle, p->device, ENGINE_ERROR_NONE};
    if (p->retry_once_per_pass) {
        for (int n = 0; n < p->retries; n++)
            for (int t = first_track; t <= TRACKS; t++)
                if (!engine_reread_track(&r, t, 1)) {
                    *failure = r.failure;
                    return 0;
                }
    } else {
        for (int t = first_track; t <= TRACKS; t++)
            if (!engine_reread_track(&r, t, p->retries)) {
                *failure = r.failure;
                return 0;
            }
    }
    return 1;
}

// The pass and the re-read phase.  ENGINE_ERROR_NONE on success, else the
// failure; *rereading is 1 once the pass is over and the re-read phase has
// begun.
engine_error read_into_store(const engine_ui *ui, const engine_imaging_params *p, int *rereading)
{
    *rereading = 0;
    int handle = -1;
    if (!p->port || !*p->port || !serial_connect_and_configure_port(&handle, p->port))
        return ENGINE_ERROR_NO_PORT;
    engine_error failure = ENGINE_ERROR_NONE;
    int first = engine_imaging_first_track(p->outmost_track);
    char command[32];
    int prompt_taken = 0;
    if ((failure = engine_sync_with_drive(handle, p->device))) {
    } else if (p->pre_initialize &&
               (failure = engine_error_from_console(
                    console_process_command(handle, p->device, "di", engine_abort_flag())))) {
    } else if (g_snprintf(command, sizeof command, "ws %d %d %d", TRACKS, p->device, first),
               !console_execute_command(handle, command, engine_abort_flag())) {
        failure = ENGINE_ERROR_NO_IMAGING;
    } else if (!receive_fast_pass(ui, handle, first, &prompt_taken)) {
        failure = ENGINE_ERROR_COMMUNICATION;
    }
    if (failure) {
        engine_close_port(ui, handle);
        return failure;
    }

    int count = d64_count_accessible_sector_errors(d64_storage, first, TRACKS);
    if (ui && ui->error_count)
        ui->error_count(ui->user, count);

    imaging_reread_verdict verdict =
        imaging_reread_decide(d64_storage, first, p->retries, p->max_errors, count);
    if (ui && ui->reread_skipped && count > 0 && verdict != IMAGING_REREAD_RUN) {
        gchar *why = engine_reread_skipped_text(verdict, count, p->max_errors);
        ui->reread_skipped(ui->user, why);
        g_free(why);
    }
    switch (verdict) {
    case IMAGING_REREAD_UNFORMATTED:
        log_printf(ui, "The disk appears to be unformatted so no retry will be performed\n");
        break;
    case IMAGING_REREAD_BAD_DIR_LINK:
        log_printf(ui, "Unexpected first dir t/s link: not retrying any sectors with errors; if "
                   "the disk is shifted, re-read any sectors with errors\n");
        break;
    case IMAGING_REREAD_TOO_MANY:
        log_printf(ui, "Too many errors (%d) to retry reading (max is %d)\n", count, p->max_errors);
        break;
    case IMAGING_REREAD_RUN:
        *rereading = 1;
        reread_faulty_sectors(ui, handle, p, first, prompt_taken, &failure);
        break;
    case IMAGING_REREAD_DISABLED:
    case IMAGING_REREAD_NOTHING_TO_DO:
        break;
    }
    g_usleep(10);
    engine_close_port(ui, handle);
    return failure;
}

// ---------------------------------------------------------------- saving

// The D64's name as the request gives it, never asking: the one asked
// for, else the automatic one.
std::string image_path(const engine_imaging_params *p, int first)
{
    if (p->path && *p->path)
        return p->path;
    char name[D64_NAME_BUFFER_SIZE];
    engine_disk_name_for_file(first, name);
    gchar *full = filer_auto_name_path(p->naming, FILER_DUMP_WHOLE_DISK, p->folder, p->offset,
                                       p->side_b, name);
    std::string path = full;
    g_free(full);
    return path;
}

// Names the D64 (asking for a name when neither a path nor automatic
// naming is given) and saves it with its ".log" and ".md5".
// ENGINE_ERROR_NONE on success or when no name was given, else the failure;
// *files gets what was written.
engine_error save_image(dumps_job_ui *j, const engine_imaging_params *p, int first,
                       std::vector<std::string> *files)
{
    char name[D64_NAME_BUFFER_SIZE];
    engine_disk_name_for_file(first, name);
    std::string path;
    int chosen = 0;
    if (!dumps_image_name(j, FILER_DUMP_WHOLE_DISK, p->path, p->auto_naming, p->folder, p->offset,
                          p->side_b, p->naming, name, &path, &chosen))
        return ENGINE_ERROR_NONE;
    return dumps_confirm_and_save(j, path, p->overwrite || chosen, p->keep_under_free_name,
                                  p->folder, files);
}

// The text of a failed save: its reason when it gave one.
const char *failure_text(const dumps_job_ui &j, engine_error failure)
{
    return j.failure_text ? j.failure_text : engine_error_text(failure);
}

// "NAME.partial.d64" for "NAME.d64".
std::string partial_path(const std::string &path)
{
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        dot = path.size();
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

// The image's save failed: it goes to the fallback folder instead, as
// "YYYYMMDD-HHMMSS_DISKNAME.d64", and the user is told where; `failure`
// is the text of why the save failed.  1 when it was saved there.
int save_to_fallback(dumps_job_ui *j, const engine_imaging_params *p, int first,
                     const char *failure, std::vector<std::string> *files)
{
    if (!p->fallback_folder || g_mkdir_with_parents(p->fallback_folder, 0700) != 0)
        return 0;
    char name[D64_NAME_BUFFER_SIZE];
    engine_disk_name_for_file(first, name);
    GDateTime *now = g_date_time_new_now_local();
    gchar *stamp = g_date_time_format(now, "%Y%m%d-%H%M%S");
    g_date_time_unref(now);
    gchar *file = g_strdup_printf("%s_%s.%s", stamp, name, filer_d64_extension(p->naming));
    gchar *full = g_build_filename(p->fallback_folder, file, nullptr);
    std::string path = destination_free_name(full);
    if (!g_file_test(full, G_FILE_TEST_EXISTS))
        path = full;
    g_free(full);
    g_free(file);
    g_free(stamp);
    std::vector<std::string> kept;
    if (dumps_save_image(j, path.c_str(), 0, &kept))
        return 0;
    // The first save's reason stays the outcome's.
    j->failure_text = failure;
    files->insert(files->end(), kept.begin(), kept.end());
    gchar *shown = g_filename_display_name(path.c_str());
    gchar *line = g_strdup_printf("the image could not be saved (%s): it is kept in %s", failure,
                                  shown);
    dumps_log(&j->ui, 0, "%s\n", line);
    if (j->user_ui->notice)
        j->user_ui->notice(j->user_ui->user, line);
    g_free(line);
    g_free(shown);
    return 1;
}

// A read cut short keeps what it read: the whole image when only re-reads
// were cut, else the sectors that arrived as NAME.partial.d64.  Neither
// replaces a file: a taken name gives way to a free one.  No question is
// asked, as the user is stopping the job.  Returns ENGINE_EARLY_*, or
// ENGINE_EARLY_NONE when nothing was kept; *save_failure: why a save failed.
int keep_early_end(dumps_job_ui *j, const engine_imaging_params *p, int first, int rereading,
                   std::vector<std::string> *files, engine_error *save_failure)
{
    *save_failure = ENGINE_ERROR_NONE;
    if (!p->keep_on_early_end || engine_abort_repeated() || imaging_nothing_read(d64_storage, first))
        return ENGINE_EARLY_NONE;
    std::string path = image_path(p, first);
    int kind = rereading ? ENGINE_EARLY_REREADS_CUT : ENGINE_EARLY_PARTIAL;
    if (kind == ENGINE_EARLY_PARTIAL)
        path = partial_path(path);
    if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) && !(p->overwrite && rereading)) {
        std::string free_name = destination_free_name(path);
        gchar *was = g_filename_display_name(path.c_str());
        gchar *now = g_filename_display_name(free_name.c_str());
        gchar *line = g_strdup_printf("%s exists: the image goes to %s", was, now);
        dumps_log(&j->ui, 1, "%s\n", line);
        if (j->user_ui->notice)
            j->user_ui->notice(j->user_ui->user, line);
        g_free(line);
        g_free(now);
        g_free(was);
        path = free_name;
    }
    j->ui.log_line(j, kind == ENGINE_EARLY_PARTIAL
                          ? "Read cut short: the sectors that arrived are kept, the rest marked "
                            "not read\n"
                          : "Re-reads cut short: the image is kept with its error info\n",
                   1);
    *save_failure = dumps_save_image(j, path.c_str(), 0, files);
    return *save_failure ? ENGINE_EARLY_NONE : kind;
}

}  // namespace

char *engine_imaging_title(int outmost_track)
{
    return outmost_track != 1
               ? g_strdup_printf("Imaging disk (expected outermost track: %d)\n", outmost_track)
               : g_strdup("Imaging disk\n");
}

int engine_imaging_first_track(int outmost_track)
{
    return outmost_track < 1 ? 1 : (outmost_track > 5 ? 5 : outmost_track);
}

int imaging_nothing_read(const uint8_t *image, int first_track)
{
    for (int t = first_track; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (d64_get_block_error_info(image, t, s) != D64_ERR_NO_SYNC)
                return 0;
    return 1;
}

gchar *engine_reread_skipped_text(imaging_reread_verdict verdict, int error_count,
                                  int max_errors)
{
    switch (verdict) {
    case IMAGING_REREAD_TOO_MANY:
        return g_strdup_printf("not re-read: %d errors, more than the maximum of %d",
                               error_count, max_errors);
    case IMAGING_REREAD_UNFORMATTED:
        return g_strdup("not re-read: the disk appears to be unformatted");
    case IMAGING_REREAD_BAD_DIR_LINK:
        return g_strdup("not re-read: unexpected first directory link (the disk may be shifted)");
    case IMAGING_REREAD_DISABLED:
        return g_strdup_printf("not re-read: %d errors, and no retries are set", error_count);
    case IMAGING_REREAD_RUN:
    case IMAGING_REREAD_NOTHING_TO_DO:
        break;
    }
    return nullptr;
}

imaging_reread_verdict imaging_reread_decide(const uint8_t *image, int first_track, int tries,
                                             int max_errors, int error_count)
{
    if (tries <= 0)
        return IMAGING_REREAD_DISABLED;
    if (imaging_nothing_read(image, first_track))
        return IMAGING_REREAD_UNFORMATTED;
    if (error_count == 0)
        return IMAGING_REREAD_NOTHING_TO_DO;
    if (d64_is_bam_sector_error_free(image) && !d64_is_first_dir_link_valid(image))
        return IMAGING_REREAD_BAD_DIR_LINK;
    if (max_errors < error_count)
        return IMAGING_REREAD_TOO_MANY;
    return IMAGING_REREAD_RUN;
}

int imaging_count_prg_first_sector_errors(const uint8_t *image)
{
    int count = 0;
    engine_for_each_prg_entry(image, [&](int, const uint8_t *entry) {
        int t, s;
        if (d64_get_file_first_track_and_sector(entry, &t, &s) &&
            d64_is_accessible_error(d64_get_block_error_info(image, t, s)))
            count++;
        return 1;
    });
    return count;
}

void engine_disk_name_for_file(int first_track, char *name17)
{
    filer_disk_name_for_file(d64_storage, !imaging_nothing_read(d64_storage, first_track), name17);
}

engine_error engine_read_disk_into_store(const engine_ui *ui, const engine_imaging_params *p)
{
    int rereading = 0;
    return read_into_store(ui, p, &rereading);
}

int engine_read_disk(const engine_ui *ui, const engine_imaging_params *p)
{
    gint64 start_us = g_get_monotonic_time();
    engine_ui none = {};
    if (!ui)
        ui = &none;
    dumps_job_ui job;
    // The same opening as the GUI's per-disk log.
    job.forward_to(ui, "Log file created by Dravlen client " DRAVLEN_VERSION "\n");
    job.md5 = p->md5;

    int first = engine_imaging_first_track(p->outmost_track);
    char *title = engine_imaging_title(p->outmost_track);
    if (p->heading_shown) {
        job.disk_log += title;
    } else {
        if (ui->log_line)
            ui->log_line(ui->user, "================================\n", 0);
        job.ui.log_line(&job, title, 1);
    }
    g_free(title);
    int rereading = 0;
    // The pass reports through the job, which keeps the per-disk log.
    engine_error failure = read_into_store(&job.ui, p, &rereading);
    std::vector<std::string> files;
    int ended_early = ENGINE_EARLY_NONE;
    if (!failure && !engine_abort_requested()) {
        if (ui->read_done)
            ui->read_done(ui->user);
        job.ui.log_line(&job, "Completed\n", 1);
        engine_check_read_image(&job.ui, first, p->notify_beyond_35, p->notify_side_b);
        if (!imaging_nothing_read(d64_storage, first) || p->damage_report_unread)
            engine_log_damage_report(&job.ui, 1);
        failure = save_image(&job, p, first, &files);
        if (failure && files.empty())
            save_to_fallback(&job, p, first, failure_text(job, failure), &files);
    } else {
        engine_error save_failure = ENGINE_ERROR_NONE;
        ended_early = keep_early_end(&job, p, first, rereading, &files, &save_failure);
        if (save_failure &&
            save_to_fallback(&job, p, first, failure_text(job, save_failure), &files))
            ended_early = rereading ? ENGINE_EARLY_REREADS_CUT : ENGINE_EARLY_PARTIAL;
        // Stopped by the user in the re-read phase: the image is whole, so
        // that is a saved image, not a failure.
        if (ended_early == ENGINE_EARLY_REREADS_CUT && engine_abort_requested())
            failure = ENGINE_ERROR_NONE;
        if (save_failure)
            failure = save_failure;
    }
    return dumps_finish(ui, start_us, failure, &files, ended_early, &job);
}

char *engine_cell_log_line(int code, int t, int s, int c, int *both)
{
    *both = 0;
    switch (code) {
    case ENGINE_CELL_NO_SYNC:
        *both = 1;
        return g_strdup_printf(_("Sync not found for t/s %2d/%-2d\n"), t, s);
    case ENGINE_CELL_GCR_FAILED:
        *both = 1;
        return g_strdup_printf(_("GCR decoding failed for t/s %2d/%-2d\n"), t, s);
    case ENGINE_CELL_CHECKSUM_FAILED:
        *both = 1;
        return g_strdup_printf(_("Data checksum failed for t/s %2d/%-2d (checksum: $%02x)\n"), t,
                               s, c);
    case ENGINE_CELL_READ_OK:
        return g_strdup_printf(_("Correctly processed t/s %2d/%-2d (checksum: $%02x)\n"), t, s, c);
    case ENGINE_CELL_RETRYING:
        return g_strdup_printf(_("Retrying t/s %2d/%-2d\n"), t, s);
    case ENGINE_CELL_READING:
        return g_strdup_printf(_("Reading t/s %2d/%-2d\n"), t, s);
    case ENGINE_CELL_KEPT_EXISTING:
    case ENGINE_CELL_KEPT_CHECKSUM:
        return g_strdup_printf(_("Kept existing t/s %2d/%-2d as the new read is not better\n"), t,
                               s);
    case ENGINE_CELL_KEPT_CHECKSUM_AGAIN:
        return g_strdup_printf(
            _("Kept existing t/s %2d/%-2d as the new read is not better (new checksum: $%02x)\n"),
            t, s, c);
    default:
        return nullptr;
    }
}
