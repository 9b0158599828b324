// Single-sector reads with the device's "w2" command, the retry loop around
// them and the rule for when a new read may replace what the image holds.
#include "engine/imaging.h"

#include <cstring>

#include "device/console.h"
#include "gcr/warp.h"
#include "image/d64.h"

namespace {

// Used only by the one operation that runs at a time.
uint8_t receive_buffer[WARP_PACKET_SIZE];
uint8_t decode_buffer[256];

// OUTCOME_WRONG_SECTOR: the reply names another sector, so its data is
// not the one asked for.
enum read_outcome { OUTCOME_NO_SECTOR, OUTCOME_TRANSMISSION, OUTCOME_WRONG_SECTOR, OUTCOME_GCR,
                    OUTCOME_CHECKSUM, OUTCOME_GOOD };

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

void cell(engine_sector_reader *r, int track, int sector, int checksum, int code)
{
    if (r->ui && r->ui->sector_cell)
        r->ui->sector_cell(r->ui->user, track, sector, code, checksum);
}

void step_errors(engine_sector_reader *r, int delta)
{
    if (r->ui && r->ui->error_count_step)
        r->ui->error_count_step(r->ui->user, delta);
}

int fail(engine_sector_reader *r, engine_error failure)
{
    r->failure = failure;
    return 0;
}

// One "w2" exchange.
int read_once(engine_sector_reader *r, int track, int sector, read_outcome *outcome,
              uint8_t *checksum)
{
    char command[32];
    g_snprintf(command, sizeof command, "w2 %d %d %d", r->device, track, sector);
    if (!console_execute_command(r->handle, command, engine_abort_flag()))
        return fail(r, ENGINE_ERROR_UNABLE_TO_READ);
    if (!console_read(r->handle, receive_buffer, sizeof receive_buffer, engine_abort_flag()))
        return fail(r, ENGINE_ERROR_COMMUNICATION);
    if (!console_synch_with_device(r->handle, engine_abort_flag()))
        return fail(r, ENGINE_ERROR_SYNC);
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
    if (decoded_sector != (uint32_t)sector) {
        *outcome = OUTCOME_WRONG_SECTOR;
        if (r->ui && r->ui->log_line) {
            char line[96];
            g_snprintf(line, sizeof line, "Sector t/s %2d/%-2d: reply named sector %u, skipping packet\n",
                       track, sector, (unsigned)decoded_sector);
            r->ui->log_line(r->ui->user, line, 1);
        }
    } else if (!gcr_ok)
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
void store_first(engine_sector_reader *r, int track, int sector, read_outcome outcome,
                 uint8_t checksum)
{
    switch (outcome) {
    case OUTCOME_NO_SECTOR:
        d64_set_block_error_info(d64_storage, track, sector, D64_ERR_NO_SYNC);
        cell(r, track, sector, 0, ENGINE_CELL_NO_SYNC);
        break;
    case OUTCOME_GCR:
        take(track, sector, D64_ERR_GCR);
        cell(r, track, sector, checksum, ENGINE_CELL_GCR_FAILED);
        break;
    case OUTCOME_CHECKSUM:
        take(track, sector, D64_ERR_CHECKSUM);
        cell(r, track, sector, checksum, ENGINE_CELL_CHECKSUM_FAILED);
        break;
    case OUTCOME_GOOD:
        take(track, sector, D64_ERR_OK);
        cell(r, track, sector, checksum, ENGINE_CELL_READ_OK);
        break;
    case OUTCOME_TRANSMISSION:
    case OUTCOME_WRONG_SECTOR:
        break;
    }
}

// Weighs an attempt against the error byte the image holds by
// d64_error_merit: only a strictly better read replaces it.  A sector already
// read correctly is never degraded.
void store_if_better(engine_sector_reader *r, int track, int sector, read_outcome outcome,
                     uint8_t checksum)
{
    int held = d64_get_block_error_info(d64_storage, track, sector);
    int kept_code = held == D64_ERR_CHECKSUM ? ENGINE_CELL_KEPT_CHECKSUM : ENGINE_CELL_KEPT_EXISTING;
    switch (outcome) {
    case OUTCOME_NO_SECTOR:
        if (held == D64_ERR_NO_SYNC)
            store_first(r, track, sector, outcome, checksum);
        else
            cell(r, track, sector, 0, kept_code);
        break;
    case OUTCOME_GCR:
        if (d64_error_merit(held) >= d64_error_merit(D64_ERR_GCR))
            cell(r, track, sector, 0, kept_code);
        else
            store_first(r, track, sector, outcome, checksum);
        break;
    case OUTCOME_CHECKSUM:
        if (held == D64_ERR_CHECKSUM)
            cell(r, track, sector, checksum, ENGINE_CELL_KEPT_CHECKSUM_AGAIN);
        else if (d64_error_merit(held) > d64_error_merit(D64_ERR_CHECKSUM))
            cell(r, track, sector, 0, ENGINE_CELL_KEPT_EXISTING);
        else
            store_first(r, track, sector, outcome, checksum);
        break;
    case OUTCOME_GOOD:
        store_first(r, track, sector, outcome, checksum);
        break;
    case OUTCOME_TRANSMISSION:
    case OUTCOME_WRONG_SECTOR:
        break;
    }
}

}  // namespace

int engine_read_sector_with_retries(engine_sector_reader *r, int track, int sector, int retries,
                                    int reread)
{
    int first_read = reread != 1 && !stored_flag(track, sector);
    int reading_code = reread != 1 ? ENGINE_CELL_READING : ENGINE_CELL_RETRYING;
    int stored = 0;  // an attempt of this call got past the transmission check
    for (int attempt = 0; attempt < retries; attempt++) {
        cell(r, track, sector, 0, reading_code);
        int held = d64_get_block_error_info(d64_storage, track, sector);
        read_outcome outcome;
        uint8_t checksum;
        if (!read_once(r, track, sector, &outcome, &checksum))
            return 0;
        if (outcome == OUTCOME_TRANSMISSION) {
            if (r->ui && r->ui->log_line)
                r->ui->log_line(r->ui->user, "Transmission validation failed, skipping packet\n", 1);
            continue;
        }
        if (outcome == OUTCOME_WRONG_SECTOR)
            continue;
        // Later attempts of a first read follow the merit rule too, so a bad
        // last attempt cannot undo a better earlier one.
        if (first_read && !stored)
            store_first(r, track, sector, outcome, checksum);
        else
            store_if_better(r, track, sector, outcome, checksum);
        stored = 1;
        if (first_read)
            stored_flag(track, sector) = true;
        if (outcome == OUTCOME_GOOD) {
            if (!first_read && d64_is_accessible_error(held))
                step_errors(r, -1);
            return 1;
        }
    }
    if (first_read && stored)
        step_errors(r, +1);
    return 1;
}

int engine_read_sector_copy(engine_sector_reader *r, int track, int sector, int tries,
                            uint8_t *data, int *good)
{
    *good = 0;
    for (int attempt = 0; attempt < tries && !*good; attempt++) {
        read_outcome outcome;
        uint8_t checksum;
        if (!read_once(r, track, sector, &outcome, &checksum))
            return 0;
        if (outcome == OUTCOME_GOOD) {
            memcpy(data, decode_buffer, 256);
            *good = 1;
        }
    }
    return 1;
}

void engine_sector_reads_forget(void)
{
    memset(first_read_stored, 0, sizeof first_read_stored);
}

void engine_reset_image_store(void)
{
    engine_sector_reads_forget();
    d64_init_disk_image_contents(d64_storage);
    d64_init_error_info_contents_inaccessible_tracks(d64_storage, 1, D64_ERR_INACCESSIBLE);
}

int engine_interleaved_order(int n, int *order)
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

int engine_reread_track(engine_sector_reader *r, int track, int retries)
{
    int order[21];
    int n = engine_interleaved_order(d64_sectors_of_track(track), order);
    for (int i = 0; i < n; i++) {
        int error = d64_get_block_error_info(d64_storage, track, order[i]);
        if (!d64_is_accessible_error(error))
            continue;
        if (!engine_read_sector_with_retries(r, track, order[i], retries, 1))
            return 0;
    }
    return 1;
}
