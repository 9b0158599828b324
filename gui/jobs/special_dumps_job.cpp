#include "gui/jobs/special_dumps_job.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "gui/jobs/disk_checks_job.h"
#include "gui/jobs/imaging_job.h"
#include "gui/jobs/sector_reads_job.h"
#include "gui/jobs/unsaved.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dirview_panel.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

// What tells the three dumps apart.
struct special_dump {
    imaging_window_job job;
    filer_dump_kind kind;
    engine_dump_kind engine_kind;
    const char *started;    // status format with the device number
    const char *aborted;
    const char *failed;     // status format with the message
    const char *thread_name;
    void (*worker)(void);
};

const special_dump dir_track_dump = {
    {N_(" Track 18 read completed in %.2lf seconds [%d/%d]"), 0, idle_finish_dir_track_receipt,
     N_("The dump")},
    FILER_DUMP_DIR_TRACK,
    ENGINE_DUMP_DIR_TRACK,
    N_(" Track 18 read process started on drive %d"),
    N_(" Track 18 read aborted: please wait for the drive to finish"),
    N_(" Track 18 read failed: %s"),
    "dir_track_receiver",
    thread_receive_dir_track,
};

const special_dump dir_track_first_sector_dump = {
    {N_(" Track 18+ read completed in %.2lf seconds [%d/%d]"), 0,
     idle_finish_dir_track_and_first_sector_receipt, N_("The dump")},
    FILER_DUMP_DIR_TRACK_FIRST_SECTORS,
    ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS,
    N_(" Track 18+ read process started on drive %d"),
    N_(" Track 18+ read aborted: please wait for the drive to finish"),
    N_(" Track 18+ read failed: %s"),
    "dir_track_and_first_sector_receiver",
    thread_receive_dir_track_and_first_sector,
};

const special_dump allocated_dump = {
    {N_(" BAM-based read completed in %.2lf seconds [%d/%d]"), 0,
     idle_finish_allocated_sector_receipt, N_("The dump")},
    FILER_DUMP_BAM,
    ENGINE_DUMP_ALLOCATED,
    N_(" BAM based read process started on drive %d"),
    N_(" BAM-based read aborted: please wait for the drive to finish"),
    N_(" BAM-based read failed: %s"),
    "allocated_sector_receiver",
    thread_receive_allocated_sectors,
};

// The worker of the three dumps: the engine reads on the connection the
// worker opened (which also lists the ports that answer when it cannot),
// then shows, names and saves the image.
void run_dump(const special_dump &dump)
{
    int handle = operation_open_port_and_sync(imaging_window_idle_failed, ped.device);
    if (handle < 0)
        return;
    engine_ui ui = imaging_window_ui(&dump.job);
    engine_sector_job job = dumps_job_from_ped(handle);
    const imaging_window_naming *n = imaging_window_current_naming();
    job.auto_naming = n->auto_naming;
    job.folder = n->folder;
    job.side_b = n->side_b;
    job.offset = n->offset;
    job.naming = n->naming;
    job.md5 = n->md5;
    job.overwrite = n->overwrite;
    job.heading_shown = 1;
    engine_special_dump(&ui, dump.engine_kind, &job);
}

void start_special_dump(const special_dump &dump)
{
    if (!operation_check_device_port() || !unsaved_confirm(UNSAVED_ANOTHER_READ))
        return;
    dumps_copy_controls_to_ped(1);

    char *status = g_strdup_printf(_(dump.started), ped.device);
    char *title = engine_dump_heading(dump.engine_kind, ped.outmost_track);
    log_warpsave_new(0);
    // The view gets the separator and the heading from the start sequence.
    log_warpsave_append(title);

    sector_reads_reset_image_and_views();
    imaging_window_begin(&dump.job);
    notebook_main_set_page(0);
    controls_set_accessible_sector_error_count(0);

    operation_start_info info = {status, title, 0, 1, dump.thread_name, dump.worker, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(title);
}

gboolean finish_special_dump(const special_dump &dump, gpointer result)
{
    if (imaging_window_finish(static_cast<const imaging_window_result *>(result), _(dump.aborted),
                              _(dump.failed)))
        flag_dir_in_track_18 = 1;
    operation_finish_cleanup();
    return FALSE;
}

}  // namespace

void dumps_copy_controls_to_ped(int with_outmost)
{
    int index = combo_active_drive_get_index();
    int retries = spinbutton_sector_read_retry_get_value();
    options_drive_index = index;
    options_max_sector_errors = spinbutton_max_sector_error_count_get_value();
    options_sector_read_retries = retries;
    options_outmost_track = spinbutton_outmost_track_get_value();
    ped.device = index + 8;
    ped.pre_initialize = checkbox_pre_initialize_disk_get_active();
    ped.max_sector_errors = options_max_sector_errors;
    ped.tries_per_sector = retries + 1;
    if (with_outmost)
        ped.outmost_track = options_outmost_track;
}

engine_sector_job dumps_job_from_ped(int handle)
{
    engine_sector_job job = {};
    job.port = options_device_port_string;
    job.handle = handle;
    job.device = ped.device;
    job.tries = ped.tries_per_sector;
    job.max_errors = ped.max_sector_errors;
    job.outmost_track = ped.outmost_track;
    job.range_first = ped.range_first_track;
    job.range_last = ped.range_last_track;
    job.retry_once_per_pass = options_retry_sectors_once_per_pass;
    job.first_sector_in_dir_order = options_first_sector_in_dir_order;
    return job;
}

int dumps_show_directory_and_allocated_sectors(void)
{
    engine_ui ui = disk_checks_gui_ui();
    if (!engine_show_read_image(&ui, ped.outmost_track))
        return 0;
    flag_dir_in_track_18 = 1;
    return 1;
}

void thread_receive_dir_track(void)
{
    run_dump(dir_track_dump);
}

void thread_receive_dir_track_and_first_sector(void)
{
    run_dump(dir_track_first_sector_dump);
}

void thread_receive_allocated_sectors(void)
{
    run_dump(allocated_dump);
}

gboolean idle_finish_dir_track_receipt(gpointer result)
{
    return finish_special_dump(dir_track_dump, result);
}

gboolean idle_finish_dir_track_and_first_sector_receipt(gpointer result)
{
    return finish_special_dump(dir_track_first_sector_dump, result);
}

gboolean idle_finish_allocated_sector_receipt(gpointer result)
{
    return finish_special_dump(allocated_dump, result);
}

void on_menuitem_dump_track_18_only_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_dump);
}

void on_menuitem_dump_track_18_and_first_sector_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_first_sector_dump);
}

void on_menuitem_dump_bam_based_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_special_dump(allocated_dump);
}
