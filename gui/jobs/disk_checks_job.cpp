#include "gui/jobs/disk_checks_job.h"

#include "gui/windows/log.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dirview_panel.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/sector_grid.h"

namespace {

void gui_log(void *, const char *line, int for_disk_log)
{
    if (for_disk_log)
        log_warpsave_and_log_textview_append(line);
    else
        log_textview_append(line);
}

int gui_ask(void *, engine_question question, const char *text)
{
    if (question == ENGINE_ASK_SHIFT_TRACKS)
        return get_user_confirmation(text) ? 1 : 0;
    get_user_acknowledgement(text);
    return 1;
}

void gui_show(void *, engine_image_view what)
{
    switch (what) {
    case ENGINE_SHOW_DIRECTORY:
        flag_dir_in_track_18 = 1;
        decode_and_show_directory_listing();
        break;
    case ENGINE_SHOW_ALLOCATED_SECTORS:
        decode_bam_and_show_allocated_sectors();
        break;
    case ENGINE_SHOW_SECTOR_ERRORS:
        drawingarea_sector_grid_refresh_from_error_info();
        break;
    case ENGINE_SHOW_DAMAGED_FILES:
        dirview_mark_damaged_files(1);
        break;
    }
}

}  // namespace

engine_ui disk_checks_gui_ui(void)
{
    engine_ui ui = {};
    ui.log_line = gui_log;
    ui.ask = gui_ask;
    ui.directory_ready = gui_show;
    return ui;
}

int verify_and_correct_misaligned_tracks(int log_both)
{
    engine_ui ui = disk_checks_gui_ui();
    return engine_correct_track_shift(&ui, log_both == 1);
}

void decode_bam_and_show_allocated_sectors(void)
{
#if TRACKS != 40
    drawingarea_sector_grid_show_allocated_sectors();
#endif
}

void disk_checks_show_allocated_sectors_if_trusted(void)
{
    engine_ui ui = disk_checks_gui_ui();
    engine_show_allocated_sectors_if_trusted(&ui);
}

gboolean idle_decode_bam_and_show_allocated_sectors(gpointer)
{
    disk_checks_show_allocated_sectors_if_trusted();
    return FALSE;
}
