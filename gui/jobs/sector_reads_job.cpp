#include "gui/jobs/sector_reads_job.h"

#include "engine/imaging.h"
#include "image/imagefile.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/sector_grid.h"

static_assert((int)ENGINE_CELL_WRITTEN == (int)CELL_WRITTEN &&
                  (int)ENGINE_CELL_READ_OK == (int)CELL_READ_OK &&
                  (int)ENGINE_CELL_KEPT_CHECKSUM_AGAIN == (int)CELL_KEPT_CHECKSUM_AGAIN &&
                  (int)ENGINE_CELL_DIFFERS == (int)CELL_DIFFERS,
              "the engine's cell codes are the grid's");

void sector_reads_reset_image_and_views(void)
{
    // A re-read must never write this image over the file of the one before.
    filer_forget_image_path();
    engine_reset_image_store();
    drawingarea_sector_grid_reset();
    drawingarea_directory_listing_reset();
}
