#include "gui/jobs/sector_reads_job.h"

#include <cstdint>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "device/console.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/sector_grid.h"

const char sector_reads_text_unable_to_read[] = "Unable to read sector from device";
const char sector_reads_text_communication_error[] = "Communication error";
const char sector_reads_text_unable_to_sync[] = "Unable to sync with device";

namespace {

void gui_cell(void *, int track, int sector, int code, int checksum)
{
    sector_grid_queue_cell(track, sector, (uint8_t)checksum, code);
}

void gui_log(void *, const char *line, int)
{
    log_queue_printf("%s", line);
}

void gui_error_step(void *, int delta)
{
    operation_idle_add(delta > 0 ? idle_increase_accessible_sector_error_count
                                 : idle_decrease_accessible_sector_error_count,
                       nullptr);
}

const engine_ui gui_ui = [] {
    engine_ui ui = {};
    ui.sector_cell = gui_cell;
    ui.log_line = gui_log;
    ui.error_count_step = gui_error_step;
    return ui;
}();

engine_sector_reader reader_on(int handle)
{
    return engine_sector_reader{&gui_ui, handle, ped.device, ENGINE_ERROR_NONE};
}

// The engine's failure text goes to the finisher, as one idle call.
int done(int ok, const engine_sector_reader &r, GSourceFunc fail)
{
    if (!ok)
        operation_idle_add(fail, const_cast<char *>(engine_error_text(r.failure)));
    return ok;
}

}  // namespace

static_assert((int)ENGINE_CELL_WRITTEN == (int)CELL_WRITTEN &&
                  (int)ENGINE_CELL_READ_OK == (int)CELL_READ_OK &&
                  (int)ENGINE_CELL_KEPT_CHECKSUM_AGAIN == (int)CELL_KEPT_CHECKSUM_AGAIN &&
                  (int)ENGINE_CELL_DIFFERS == (int)CELL_DIFFERS,
              "the engine's cell codes are the grid's");

engine_ui sector_reads_gui_ui(void)
{
    return gui_ui;
}

int wrapper_read_sector_with_retries(int handle, int track, int sector, int retries, int reread,
                                     GSourceFunc fail)
{
    engine_sector_reader r = reader_on(handle);
    return done(engine_read_sector_with_retries(&r, track, sector, retries, reread), r, fail);
}

void sector_reads_forget_reads(void)
{
    engine_sector_reads_forget();
}

int wrapper_read_dir_track_sector_with_retries(int handle, int sector, int retries, int reread,
                                               GSourceFunc fail)
{
    return wrapper_read_sector_with_retries(handle, 18, sector, retries, reread, fail);
}

int sector_reads_interleaved_order(int n, int *order)
{
    return engine_interleaved_order(n, order);
}

int wrapper_reread_all_sectors_in_track(int handle, int track, int retries, GSourceFunc fail)
{
    engine_sector_reader r = reader_on(handle);
    return done(engine_reread_track(&r, track, retries), r, fail);
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
    engine_reset_image_store();
    drawingarea_sector_grid_reset();
    drawingarea_directory_listing_reset();
}
