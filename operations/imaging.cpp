#include "operations/imaging.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <condition_variable>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <mutex>
#include <utility>

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

// The fast pass has its own buffers: the single-sector reads keep theirs.
uint8_t receive_buffer[WARP_PACKET_SIZE];
uint8_t decode_buffer[256];

// The stream is drained in as large reads as the port offers, but never past
// the packets that must still come (at least one per remaining track), so
// the prompt after the pass stays in the port for the re-read phase.
struct pass_reader {
    uint8_t buffer[32 * WARP_PACKET_SIZE];
    size_t start, end;
};
pass_reader reader;

int read_packet(int handle, size_t bytes_still_due, uint8_t *packet)
{
    while (reader.end - reader.start < WARP_PACKET_SIZE) {
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

// The "ws" stream from the first track to TRACKS.  0 on a failed read.
void next_track(int *track, uint32_t *seen, int *lost)
{
    if (*track == 18)
        post(idle_decode_and_show_directory_listing, nullptr);
    (*track)++;
    *seen = 0;
    *lost = 0;
}

int receive_fast_pass(int handle, int first_track)
{
    int track = first_track;
    uint32_t seen = 0;  // sectors of this track received so far
    int lost = 0;       // a packet of this track failed its transmission check
    reader.start = reader.end = 0;
    while (track <= TRACKS) {
        // After a lost packet this track's end may already have gone by.
        size_t due = (size_t)(TRACKS - track + (lost ? 0 : 1)) * WARP_PACKET_SIZE;
        if (!read_packet(handle, due, receive_buffer))
            return 0;
        if (warp_incoming_stream_is_empty(receive_buffer)) {
            post_log("Sector retries exhausted for track %d\n", track);
            track++;
            seen = 0;
            lost = 0;
            continue;
        }
        if (!warp_validate_incoming_stream(receive_buffer)) {
            // Dropped whole, end-of-track flag included.
            post_log("Transmission validation failed, skipping packet\n");
            lost = 1;
            continue;
        }
        warp_normalise_incoming_stream(receive_buffer);
        uint32_t sector, checksum_ok, end_of_track;
        uint8_t checksum;
        int gcr_ok = warp_decode_gcr_stream(receive_buffer, decode_buffer, &sector, &checksum,
                                            &checksum_ok, &end_of_track);
        // The drive sends every sector of a track once.  A sector this track
        // already received, after a packet was lost, means the lost one
        // carried the end of the track: this packet opens the next track and
        // must not overwrite the previous one.
        if (lost && sector < 32 && (seen & (1u << sector))) {
            next_track(&track, &seen, &lost);
            if (track > TRACKS)
                break;
        }
        if (sector < 32)
            seen |= 1u << sector;
        if (sector >= (uint32_t)d64_sectors_of_track(track)) {
            post_log("Invalid sector value received: %d\n", (int)sector);
        } else {
            int s = (int)sector;
            uint8_t error;
            if (gcr_ok && checksum_ok) {
                error = D64_ERR_OK;
                post_cell(track, s, checksum, CELL_READ_OK);
            } else if (gcr_ok) {
                error = D64_ERR_CHECKSUM;
                post_cell(track, s, checksum, CELL_CHECKSUM_FAILED);
                post(idle_increase_accessible_sector_error_count, nullptr);
            } else {
                error = D64_ERR_GCR;
                post_cell(track, s, checksum, CELL_GCR_FAILED);
                post(idle_increase_accessible_sector_error_count, nullptr);
            }
            memcpy(d64_storage + d64_sector_offset(track, s), decode_buffer, 256);
            d64_set_block_error_info(d64_storage, track, s, error);
        }
        if (end_of_track)
            next_track(&track, &seen, &lost);
    }
    return 1;
}

// The re-read phase once it has been decided on.  0 after a failure whose
// finisher has been posted.
int reread_faulty_sectors(int handle, int first_track)
{
    wait_until_batch_drained();
    if (!console_synch_with_device(handle, &flag_abort_requested)) {
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
    if (!receive_fast_pass(handle, first)) {
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
        if (!reread_faulty_sectors(handle, first)) {
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
