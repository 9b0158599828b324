#include "operations/sector_reads.h"

#include <cstdint>
#include <cstring>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "device/console.h"
#include "gcr/warp.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "render/dirview.h"
#include "ui/sector_grid.h"

const char sector_reads_text_unable_to_read[] = "Unable to read sector from device";
const char sector_reads_text_communication_error[] = "Communication error";
const char sector_reads_text_unable_to_sync[] = "Unable to sync with device";

namespace {

// Used only by the one worker that runs at a time.
uint8_t receive_buffer[WARP_PACKET_SIZE];
uint8_t decode_buffer[256];

enum read_outcome { OUTCOME_NO_SECTOR, OUTCOME_TRANSMISSION, OUTCOME_GCR, OUTCOME_CHECKSUM,
                    OUTCOME_GOOD };

// Sectors for which a first read of the current operation stored an attempt
// (and so raised the error count unless it was good).  Another first read of
// such a sector, as when the first-sector pass meets a file starting on the
// directory track, is weighed like a re-read: it must not replace a better
// read nor count the sector twice.
bool first_read_stored[D64_MAX_SECTORS];

bool &stored_flag(int track, int sector)
{
    return first_read_stored[start_sector_of_track[track] + sector];
}

void post_fail(GSourceFunc fail, const char *text)
{
    operation_idle_add(fail, const_cast<char *>(text));
}

// One "w2" exchange.  0 after posting `fail`.
int read_once(int handle, int track, int sector, GSourceFunc fail, read_outcome *outcome,
              uint8_t *checksum)
{
    char command[32];
    g_snprintf(command, sizeof command, "w2 %d %d %d", ped.device, track, sector);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        post_fail(fail, sector_reads_text_unable_to_read);
        return 0;
    }
    if (!console_read(handle, receive_buffer, sizeof receive_buffer, &flag_abort_requested)) {
        post_fail(fail, sector_reads_text_communication_error);
        return 0;
    }
    if (!console_synch_with_device(handle, &flag_abort_requested)) {
        post_fail(fail, sector_reads_text_unable_to_sync);
        return 0;
    }
    *checksum = 0;
    if (warp_incoming_stream_is_empty(receive_buffer)) {
        *outcome = OUTCOME_NO_SECTOR;
        return 1;
    }
    if (!warp_validate_incoming_stream(receive_buffer)) {
        *outcome = OUTCOME_TRANSMISSION;
        return 1;
    }
    warp_normalise_incoming_stream(receive_buffer);
    uint32_t decoded_sector, checksum_ok, end_of_track;
    int gcr_ok = warp_decode_gcr_stream(receive_buffer, decode_buffer, &decoded_sector, checksum,
                                        &checksum_ok, &end_of_track);
    if (!gcr_ok)
        *outcome = OUTCOME_GCR;
    else
        *outcome = checksum_ok ? OUTCOME_GOOD : OUTCOME_CHECKSUM;
    return 1;
}

void take(int track, int sector, uint8_t error)
{
    memcpy(d64_storage + d64_sector_offset(track, sector), decode_buffer, 256);
    d64_set_block_error_info(d64_storage, track, sector, error);
}

// Stores an attempt unconditionally: what a first read does with the first
// attempt that arrived intact.
void store_first(int track, int sector, read_outcome outcome, uint8_t checksum)
{
    switch (outcome) {
    case OUTCOME_NO_SECTOR:
        d64_set_block_error_info(d64_storage, track, sector, D64_ERR_NO_SYNC);
        sector_grid_queue_cell(track, sector, 0, CELL_NO_SYNC);
        break;
    case OUTCOME_GCR:
        take(track, sector, D64_ERR_GCR);
        sector_grid_queue_cell(track, sector, checksum, CELL_GCR_FAILED);
        break;
    case OUTCOME_CHECKSUM:
        take(track, sector, D64_ERR_CHECKSUM);
        sector_grid_queue_cell(track, sector, checksum, CELL_CHECKSUM_FAILED);
        break;
    case OUTCOME_GOOD:
        take(track, sector, D64_ERR_OK);
        sector_grid_queue_cell(track, sector, checksum, CELL_READ_OK);
        break;
    case OUTCOME_TRANSMISSION:
        break;
    }
}

// Weighs an attempt against the error byte the image holds: only a strictly
// better read replaces it.  A sector already read correctly is never
// degraded.
void store_if_better(int track, int sector, read_outcome outcome, uint8_t checksum)
{
    int held = d64_get_block_error_info(d64_storage, track, sector);
    int kept_code = held == D64_ERR_CHECKSUM ? CELL_KEPT_CHECKSUM : CELL_KEPT_EXISTING;
    switch (outcome) {
    case OUTCOME_NO_SECTOR:
        if (held == D64_ERR_NO_SYNC)
            store_first(track, sector, outcome, checksum);
        else
            sector_grid_queue_cell(track, sector, 0, kept_code);
        break;
    case OUTCOME_GCR:
        if (held == D64_ERR_CHECKSUM || held == D64_ERR_GCR || held == D64_ERR_OK)
            sector_grid_queue_cell(track, sector, 0, kept_code);
        else
            store_first(track, sector, outcome, checksum);
        break;
    case OUTCOME_CHECKSUM:
        if (held == D64_ERR_CHECKSUM)
            sector_grid_queue_cell(track, sector, checksum, CELL_KEPT_CHECKSUM_AGAIN);
        else if (held == D64_ERR_OK)
            sector_grid_queue_cell(track, sector, 0, CELL_KEPT_EXISTING);
        else
            store_first(track, sector, outcome, checksum);
        break;
    case OUTCOME_GOOD:
        store_first(track, sector, outcome, checksum);
        break;
    case OUTCOME_TRANSMISSION:
        break;
    }
}

}  // namespace

int wrapper_read_sector_with_retries(int handle, int track, int sector, int retries, int reread,
                                     GSourceFunc fail)
{
    int first_read = reread != 1 && !stored_flag(track, sector);
    int reading_code = reread != 1 ? CELL_READING : CELL_RETRYING;
    int stored = 0;  // an attempt of this call got past the transmission check
    for (int attempt = 0; attempt < retries; attempt++) {
        sector_grid_queue_cell(track, sector, 0, reading_code);
        int held = d64_get_block_error_info(d64_storage, track, sector);
        read_outcome outcome;
        uint8_t checksum;
        if (!read_once(handle, track, sector, fail, &outcome, &checksum))
            return 0;
        if (outcome == OUTCOME_TRANSMISSION) {
            log_queue_printf("Transmission validation failed, skipping packet\n");
            continue;
        }
        // Later attempts of a first read follow the merit rule too, so a bad
        // last attempt cannot undo a better earlier one.
        if (first_read && !stored)
            store_first(track, sector, outcome, checksum);
        else
            store_if_better(track, sector, outcome, checksum);
        stored = 1;
        if (first_read)
            stored_flag(track, sector) = true;
        if (outcome == OUTCOME_GOOD) {
            if (!first_read && d64_is_accessible_error(held))
                operation_idle_add(idle_decrease_accessible_sector_error_count, nullptr);
            return 1;
        }
    }
    if (first_read && stored)
        operation_idle_add(idle_increase_accessible_sector_error_count, nullptr);
    return 1;
}

void sector_reads_forget_reads(void)
{
    memset(first_read_stored, 0, sizeof first_read_stored);
}

int wrapper_read_dir_track_sector_with_retries(int handle, int sector, int retries, int reread,
                                               GSourceFunc fail)
{
    return wrapper_read_sector_with_retries(handle, 18, sector, retries, reread, fail);
}

int sector_reads_interleaved_order(int n, int *order)
{
    int sector = 0, pass = 0;
    for (int i = 0; i < n; i++) {
        order[i] = sector;
        sector += 3;
        if (sector >= n) {
            pass++;
            if (n % 3 == 0)
                sector = pass;
            else if (pass == 3 || sector == n)
                sector = 1;
            else
                sector = 2 * pass;
        }
    }
    return n;
}

int wrapper_reread_all_sectors_in_track(int handle, int track, int retries, GSourceFunc fail)
{
    int order[21];
    int n = sector_reads_interleaved_order(d64_sectors_of_track(track), order);
    for (int i = 0; i < n; i++) {
        int error = d64_get_block_error_info(d64_storage, track, order[i]);
        if (!d64_is_accessible_error(error))
            continue;
        if (!wrapper_read_sector_with_retries(handle, track, order[i], retries, 1, fail))
            return 0;
    }
    return 1;
}

int wrapper_reread_all_sectors_in_track_once(int handle, int track, GSourceFunc fail)
{
    return wrapper_reread_all_sectors_in_track(handle, track, 1, fail);
}

int wrapper_reread_all_sectors_in_dir_track(int handle, int retries, GSourceFunc fail)
{
    return wrapper_reread_all_sectors_in_track(handle, 18, retries, fail);
}

void sector_reads_reset_image_and_views(void)
{
    // A re-read must never write this image over the file of the one before.
    filer_forget_image_path();
    sector_reads_forget_reads();
    d64_init_disk_image_contents(d64_storage);
    d64_init_error_info_contents_inaccessible_tracks(d64_storage, 1, D64_ERR_INACCESSIBLE);
    drawingarea_sector_grid_reset();
    drawingarea_directory_listing_reset();
}
