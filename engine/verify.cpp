#include "engine/verify.h"

#include <cstring>

#include "engine/imaging.h"
#include "image/d64.h"


namespace {

void log_line(const engine_ui *ui, const char *line)
{
    if (ui && ui->log_line)
        ui->log_line(ui->user, line, 0);
}

void log_sector(const engine_ui *ui, const char *what, int t, int s)
{
    char *line = g_strdup_printf("Verify: t/s %2d/%-2d %s\n", t, s, what);
    log_line(ui, line);
    g_free(line);
}

}  // namespace

int engine_verify_disk(const engine_ui *ui, const engine_verify_request *request,
                       engine_verify_result *result)
{
    *result = engine_verify_result();
    gint64 start_us = g_get_monotonic_time();
    if (!request->framed_by_caller) {
        log_line(ui, "================================\n");
        log_line(ui, "Verifying disk against image\n");
    }
    // The image may be the store the read goes into.
    std::vector<unsigned char> expected(request->image, request->image + d64_base_size);
    std::vector<unsigned char> kept(d64_storage, d64_storage + D64_STORAGE_SIZE);

    engine_reset_image_store();
    engine_imaging_params p = {};
    p.port = request->port;
    p.device = request->device;
    p.retries = request->retries;
    p.max_errors = D64_MAX_SECTORS;  // every sector that failed gets its re-reads
    p.outmost_track = 1;
    p.retry_once_per_pass = request->retry_once_per_pass;
    engine_error failure = engine_read_disk_into_store(ui, &p);

    if (!failure && !engine_abort_requested()) {
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < d64_sectors_of_track(t); s++) {
                result->compared++;
                int64_t at = d64_sector_offset(t, s);
                if (d64_get_block_error_info(d64_storage, t, s) != D64_ERR_OK) {
                    result->unreadable.push_back({t, s});
                    log_sector(ui, "could not be read", t, s);
                } else if (memcmp(d64_storage + at, expected.data() + at, 256) != 0) {
                    result->differing.push_back({t, s});
                    log_sector(ui, "differs from the image", t, s);
                    if (ui && ui->sector_cell)
                        ui->sector_cell(ui->user, t, s, ENGINE_CELL_DIFFERS, 0);
                } else {
                    result->matching++;
                }
            }
        char *line = g_strdup_printf("Verified: %d of %d sectors match\n", result->matching,
                                     result->compared);
        log_line(ui, line);
        g_free(line);
        if (result->matching != result->compared)
            failure = ENGINE_ERROR_DISK_DIFFERS;
    }
    memcpy(d64_storage, kept.data(), kept.size());

    return engine_finish_job(ui, start_us, failure, !request->framed_by_caller);
}
