#include "operations/imaging.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "app/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "operations/disk_checks.h"
#include "operations/sector_reads.h"
#include "render/dirview.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

namespace {

// The fast pass has its own receive buffer: the single-sector reads keep theirs.
uint8_t receive_buffer[WARP_PACKET_SIZE];

// The stream is drained in as large reads as the port offers, but never past
// the packets that must still come (at least one per remaining track), so
// the prompt after the pass stays in the port for the re-read phase.
struct pass_reader {
    uint8_t buffer[32 * WARP_PACKET_SIZE];
    size_t start, end;
};
pass_reader reader;

const uint8_t prompt_bytes[4] = {'\r', '\n', '>', ' '};
// How long the prompt must stand alone before it counts as the end of the
// stream rather than the start of a packet: the device sends a packet in
// one go.
const int prompt_quiet_ms = 250;

// Reads the next packet; sets *prompt instead when the device came back to
// its prompt, so a pass that expected more packets than came still ends.
int read_packet(int handle, size_t bytes_still_due, uint8_t *packet, int *prompt)
{
    *prompt = 0;
    while (reader.end - reader.start < WARP_PACKET_SIZE) {
        if (reader.end - reader.start == sizeof prompt_bytes &&
            memcmp(reader.buffer + reader.start, prompt_bytes, sizeof prompt_bytes) == 0) {
            int ready = serial_wait_readable(handle, prompt_quiet_ms, &flag_abort_requested);
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
        if (flag_abort_requested.load(std::memory_order_relaxed) ||
            !serial_read_chunk(handle, reader.buffer + reader.end, ask, &got,
                               &flag_abort_requested))
            return 0;
        reader.end += got;
    }
    memcpy(packet, reader.buffer + reader.start, WARP_PACKET_SIZE);
    reader.start += WARP_PACKET_SIZE;
    return 1;
}

// The fast pass announces every sector.  One idle source per announcement
// costs the worker more than reading the stream, so the worker's callbacks
// go into one ordered queue that a single idle source drains, a few
// milliseconds at a time so the window stays responsive.  Everything the
// worker posts goes through it up to the re-read phase, which waits for it
// to run dry before the single-sector reads post on their own.
std::mutex batch_lock;
std::condition_variable batch_drained;
std::deque<std::pair<GSourceFunc, gpointer>> batch;
bool batch_posted = false;

gboolean idle_run_batch(gpointer)
{
    gint64 deadline = g_get_monotonic_time() + 8000;
    for (;;) {
        std::pair<GSourceFunc, gpointer> call;
        {
            std::lock_guard<std::mutex> hold(batch_lock);
            if (batch.empty()) {
                batch_posted = false;
                batch_drained.notify_all();
                return FALSE;
            }
            call = batch.front();
            batch.pop_front();
        }
        call.first(call.second);
        if (g_get_monotonic_time() > deadline)
            return TRUE;
    }
}

void post(GSourceFunc function, gpointer data)
{
    std::lock_guard<std::mutex> hold(batch_lock);
    batch.emplace_back(function, data);
    if (!batch_posted) {
        batch_posted = true;
        operation_idle_add(idle_run_batch, nullptr);
    }
}

void wait_until_batch_drained()
{
    std::unique_lock<std::mutex> hold(batch_lock);
    batch_drained.wait(hold, [] { return batch.empty() && !batch_posted; });
}

void post_cell(int track, int sector, uint8_t checksum, int code)
{
    auto *rec = g_try_new(cell_activation_record, 1);
    if (!rec)
        return;
    rec->track = track;
    rec->sector = sector;
    rec->checksum = checksum;
    rec->code = code;
    post(idle_drawingarea_sector_grid_activate_cell_and_free, rec);
}

void post_log(const char *format, ...) G_GNUC_PRINTF(1, 2);
void post_log(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    post(idle_log_warpsave_and_log_textview_append_and_free, text);
}

void finish(const char *message)
{
    post(idle_finish_disk_image_receipt, const_cast<char *>(message));
}

gboolean idle_paint_unread_cell(gpointer data)
{
    int code = GPOINTER_TO_INT(data);
    drawingarea_sector_grid_activate_cell(code >> 8, code & 0xFF, CELL_NO_SYNC);
    return FALSE;
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
    uint32_t doubled[D64_MAX_TRACKS + 1];  // sectors received twice: left unread
    bool listing_posted;
};
pass_state pass;

// Readings kept apart at most; beyond that those on one track are merged.
const size_t max_readings = 256;

enum pass_event { EVENT_PACKET, EVENT_LOST, EVENT_NO_SECTOR, EVENT_END };

bool reading_over(const pass_reading &r)
{
    return r.track > TRACKS;
}

void place(int track, const pass_packet &p)
{
    int s = p.sector;
    if (s >= d64_sectors_of_track(track)) {
        post_log("Invalid sector value received: %d\n", s);
        return;
    }
    uint32_t bit = 1u << s;
    if (pass.doubled[track] & bit)
        return;
    if (pass.placed[track] & bit) {
        // Two packets named the same sector, so one of them carries another
        // sector's data, and nothing tells which.
        pass.doubled[track] |= bit;
        memset(d64_storage + d64_sector_offset(track, s), 0, 256);
        d64_set_block_error_info(d64_storage, track, s, D64_ERR_NO_SYNC);
        post_log("Sector t/s %2d/%-2d received twice: left unread\n", track, s);
        post(idle_paint_unread_cell, GINT_TO_POINTER(track << 8 | s));
        return;
    }
    pass.placed[track] |= bit;
    if (p.error == D64_ERR_OK) {
        post_cell(track, s, p.checksum, CELL_READ_OK);
    } else {
        post_cell(track, s, p.checksum,
                  p.error == D64_ERR_CHECKSUM ? CELL_CHECKSUM_FAILED : CELL_GCR_FAILED);
        post(idle_increase_accessible_sector_error_count, nullptr);
    }
    memcpy(d64_storage + d64_sector_offset(track, s), p.data, 256);
    d64_set_block_error_info(d64_storage, track, s, p.error);
}

void drop_pending_front()
{
    post_log("Track of sector %d uncertain after a lost packet: left unread\n",
             pass.pending.front().sector);
    pass.pending.pop_front();
    for (pass_reading &r : pass.readings)
        r.where.pop_front();
}

// Stores the oldest pending packets while every reading agrees on their
// track.  At the end of the pass (final) the rest is dropped.
void flush(bool final)
{
    while (!pass.pending.empty()) {
        if (pass.readings.empty()) {
            drop_pending_front();
            continue;
        }
        int track = pass.readings[0].where.front();
        for (const pass_reading &r : pass.readings)
            if (r.where.front() != track)
                track = 0;
        if (track == 0 && (final || pass.readings.size() == 1)) {
            drop_pending_front();
            continue;
        }
        if (track == 0)
            break;
        place(track, pass.pending.front());
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
            post(idle_decode_and_show_directory_listing, nullptr);
        }
    }
}

// When too many readings are kept apart, those on one track become one that
// allows what any of them allows (fewest packets).
// Every way the stream can still go stays open, so nothing in doubt is
// stored; the pass only settles later.
void merge_by_track()
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
void step(pass_event event, bool end_of_track = false)
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
        merge_by_track();
}

// The track that a no-sector packet ended, for its log line.
int track_just_ended()
{
    int track = pass.readings.empty() ? 0 : pass.readings[0].track - 1;
    for (const pass_reading &r : pass.readings)
        track = std::min(track, r.track - 1);
    return track;
}

// The "ws" stream from the first track to TRACKS.  0 on a failed read;
// *prompt_taken tells that the prompt after the stream has been read.
int receive_fast_pass(int handle, int first_track, int *prompt_taken)
{
    *prompt_taken = 0;
    pass.readings.clear();
    pass.readings.push_back(pass_reading{first_track, 0, {}});
    pass.pending.clear();
    memset(pass.placed, 0, sizeof pass.placed);
    memset(pass.doubled, 0, sizeof pass.doubled);
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
        if (!read_packet(handle, due, receive_buffer, &prompt))
            return 0;
        if (prompt) {
            *prompt_taken = 1;
            step(EVENT_END);
            break;
        }
        if (pass.readings.empty())
            continue;  // lost track: the rest of the stream is only drained
        if (warp_incoming_stream_is_empty(receive_buffer)) {
            step(EVENT_NO_SECTOR);
            flush(false);
            if (!pass.readings.empty())
                post_log("Sector retries exhausted for track %d\n", track_just_ended());
            continue;
        }
        if (!warp_validate_incoming_stream(receive_buffer)) {
            // Dropped whole, end-of-track flag included.
            post_log("Transmission validation failed, skipping packet\n");
            step(EVENT_LOST);
            flush(false);
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
        step(EVENT_PACKET, end_of_track != 0);
        flush(false);
    }
    flush(true);
    return 1;
}

// The re-read phase once it has been decided on.  0 after a failure whose
// finisher has been posted.
int reread_faulty_sectors(int handle, int first_track, int prompt_taken)
{
    wait_until_batch_drained();
    if (!prompt_taken && !console_synch_with_device(handle, &flag_abort_requested)) {
        finish(console_text_unable_to_sync);
        return 0;
    }
    char command[16];
    g_snprintf(command, sizeof command, "w1 %d", ped.device);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        finish("Unable to initiate sector read on device");
        return 0;
    }
    if (!console_synch_with_device(handle, &flag_abort_requested)) {
        finish(console_text_unable_to_sync);
        return 0;
    }
    GSourceFunc fail = idle_finish_disk_image_receipt;
    if (options_retry_sectors_once_per_pass) {
        for (int pass = 0; pass < ped.tries_per_sector; pass++)
            for (int t = first_track; t <= TRACKS; t++)
                if (!wrapper_reread_all_sectors_in_track_once(handle, t, fail))
                    return 0;
    } else {
        for (int t = first_track; t <= TRACKS; t++)
            if (!wrapper_reread_all_sectors_in_track(handle, t, ped.tries_per_sector, fail))
                return 0;
    }
    return 1;
}

int first_track_of_pass()
{
    int first = ped.outmost_track;
    return first < 1 ? 1 : (first > 5 ? 5 : first);
}

void start_imaging(void)
{
    core_save_whole_disk_image_to_D64();
}

}  // namespace

int imaging_nothing_read(const uint8_t *image, int first_track)
{
    for (int t = first_track; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (d64_get_block_error_info(image, t, s) != D64_ERR_NO_SYNC)
                return 0;
    return 1;
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

int thread_receive_disk_image(void)
{
    int handle = -1;
    if (!serial_connect_and_configure_port(&handle, options_device_port_string)) {
        finish("Unable to access communication port to device");
        return 0;
    }
    if (!console_synch_with_device(handle, &flag_abort_requested)) {
        serial_disconnect_port(handle);
        finish(console_text_unable_to_sync);
        return 0;
    }
    if (ped.pre_initialize &&
        !wrapper_process_command(handle, ped.device, "di", idle_finish_disk_image_receipt)) {
        serial_disconnect_port(handle);
        return 0;
    }
    int first = first_track_of_pass();
    char command[32];
    g_snprintf(command, sizeof command, "ws %d %d %d", TRACKS, ped.device, first);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        serial_disconnect_port(handle);
        finish("Unable to initiate imaging process on device");
        return 0;
    }
    int prompt_taken = 0;
    if (!receive_fast_pass(handle, first, &prompt_taken)) {
        serial_disconnect_port(handle);
        finish(console_text_communication_error);
        return 0;
    }

    int count = d64_count_accessible_sector_errors(d64_storage, first, TRACKS);
    post(idle_set_accessible_sector_error_count, GINT_TO_POINTER(count));

    switch (imaging_reread_decide(d64_storage, first, ped.tries_per_sector, ped.max_sector_errors,
                                  count)) {
    case IMAGING_REREAD_UNFORMATTED:
        post_log("The disk appears to be unformatted so no retry will be performed\n");
        break;
    case IMAGING_REREAD_BAD_DIR_LINK:
        post_log("Unexpected first dir t/s link: not retrying any sectors with errors; if "
                      "the disk is shifted, re-read any sectors with errors\n");
        break;
    case IMAGING_REREAD_TOO_MANY:
        post_log("Too many errors (%d) to retry reading (max is %d)\n", count,
                      ped.max_sector_errors);
        break;
    case IMAGING_REREAD_RUN:
        if (!reread_faulty_sectors(handle, first, prompt_taken)) {
            serial_disconnect_port(handle);
            return 0;
        }
        break;
    case IMAGING_REREAD_DISABLED:
    case IMAGING_REREAD_NOTHING_TO_DO:
        break;
    }

    g_usleep(10);
    serial_disconnect_port(handle);
    finish(nullptr);
    return 0;
}

int imaging_count_prg_first_sector_errors(const uint8_t *image)
{
    int count = 0;
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(image, &pos, &entry);
    for (int n = 0; n < D64_DIR_MAX_ENTRIES; n++) {
        if (n > 0 && !d64_next_dir_entry(image, &pos, &entry))
            break;
        int t, s;
        if ((entry[D64_ENTRY_TYPE] & 0x3F) != 2 ||
            !d64_get_file_first_track_and_sector(entry, &t, &s))
            continue;
        if (d64_is_accessible_error(d64_get_block_error_info(image, t, s)))
            count++;
    }
    return count;
}

int count_accessible_sector_errors_on_first_sector_of_all_prgs(void)
{
    return imaging_count_prg_first_sector_errors(d64_storage);
}

void core_save_whole_disk_image_to_D64(void)
{
    if (!operation_check_device_port())
        return;

    int index = combo_active_drive_get_index();
    ped.device = index + 8;
    ped.pre_initialize = checkbox_pre_initialize_disk_get_active();
    ped.max_sector_errors = spinbutton_max_sector_error_count_get_value();
    ped.tries_per_sector = spinbutton_sector_read_retry_get_value();
    ped.outmost_track = spinbutton_outmost_track_get_value();
    options_drive_index = index;
    options_max_sector_errors = ped.max_sector_errors;
    options_sector_read_retries = ped.tries_per_sector;
    options_outmost_track = ped.outmost_track;

    char *status = g_strdup_printf(_(" Imaging process started on drive %d"), ped.device);
    char *title = ped.outmost_track != 1
                      ? g_strdup_printf("Imaging disk (expected outermost track: %d)\n",
                                        ped.outmost_track)
                      : g_strdup("Imaging disk\n");
    log_warpsave_delete();
    log_warpsave_new(0);
    // The view gets the separator and the title from the start sequence.
    log_warpsave_append(title);

    sector_reads_reset_image_and_views();
    notebook_main_set_page(0);
    controls_set_accessible_sector_error_count(0);

    operation_start_info info = {status, title, 0, 1, "receiver",
                                 [] { thread_receive_disk_image(); }, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(title);
}

gboolean idle_finish_disk_image_receipt(gpointer message)
{
    operation_outcome outcome = operation_finish_decide(
        static_cast<const char *>(message), _(" Imaging aborted: please wait for the drive to finish"),
        _(" Imaging failed: %s"));
    if (outcome == OPERATION_ABORTED) {
        log_warpsave_append("Aborted\n");
    } else if (outcome == OPERATION_FAILED) {
        log_warpsave_append("Failed\n");
    } else {
        int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
        int prg_errors = count_accessible_sector_errors_on_first_sector_of_all_prgs();
        char *text = g_strdup_printf(_(" Imaging completed in %.2lf seconds [%d/%d]"),
                                     operation_elapsed_seconds(), errors, prg_errors);
        statusbar_main_update(text);
        g_free(text);
        controls_set_accessible_sector_error_count(errors);
        log_warpsave_and_log_textview_append("Completed\n");

        int first = first_track_of_pass();
        if (first <= 1) {
            int k = verify_and_correct_misaligned_tracks(1);
            if (k != 0) {
                if (k > 0)
                    check_if_inaccessible_tracks_are_used(k);
                flag_dir_in_track_18 = 1;
                if (d64_is_bam_sector_error_free(d64_storage))
                    decode_and_show_directory_listing();
                else
                    log_textview_append(
                        _("BAM sector contains errors: not listing directory contents\n"));
            }
        } else {
            check_if_inaccessible_tracks_are_used(first - 1);
        }

        int read_data = !imaging_nothing_read(d64_storage, first);
        if (read_data) {
#if TRACKS != 40
            disk_checks_show_allocated_sectors_if_trusted();
            if (options_notify_tracks_beyond_35)
                check_if_tracks_beyond_35_are_used();
#endif
            if (options_notify_side_b_1571)
                check_if_1571_side_b();
        }
        char name[D64_NAME_BUFFER_SIZE];
        filer_disk_name_for_file(d64_storage, read_data, name);

        GtkWidget *auto_naming = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(auto_naming))) {
            gchar *path = filer_auto_name_path(FILER_DUMP_WHOLE_DISK, name);
            save_d64_image_and_ancillary_files(path, 1, 0);
            g_free(path);
            auto_naming_next_combination();
        } else {
            gchar *suggestion = filer_suggested_name(FILER_DUMP_WHOLE_DISK, name);
            char *path = nullptr;
            if (fileopen_save_d64_file(suggestion, &path)) {
                save_d64_image_and_ancillary_files(path, 0, 0);
                g_free(path);
            } else {
                log_textview_append(_("Disk image not saved at user's request\n"));
            }
            g_free(suggestion);
        }
    }
    operation_finish_cleanup();
    button_warpsave_to_d64_give_focus();
    return FALSE;
}

DRAVLEN_BUTTON_HANDLER(on_button_save_image_to_D64_clicked)
{
    (void)button;
    (void)data;
    start_imaging();
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_the_whole_disk_activate)
{
    (void)item;
    (void)data;
    start_imaging();
}
