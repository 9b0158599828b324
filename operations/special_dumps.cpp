#include "operations/special_dumps.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "ui/log.h"
#include "app/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "operations/disk_checks.h"
#include "operations/imaging.h"
#include "operations/sector_reads.h"
#include "operations/unsaved.h"
#include "render/dirview.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

namespace {

// What tells the three dumps apart.
struct special_dump {
    filer_dump_kind kind;
    engine_dump_kind engine_kind;
    const char *started;    // status format with the device number
    const char *aborted;
    const char *failed;     // status format with the message
    const char *completed;  // status format with seconds, N and P
    const char *thread_name;
    void (*worker)(void);
};

const special_dump dir_track_dump = {
    FILER_DUMP_DIR_TRACK,
    ENGINE_DUMP_DIR_TRACK,
    N_(" Track 18 read process started on drive %d"),
    N_(" Track 18 read aborted: please wait for the drive to finish"),
    N_(" Track 18 read failed: %s"),
    N_(" Track 18 read completed in %.2lf seconds [%d/%d]"),
    "dir_track_receiver",
    thread_receive_dir_track,
};

const special_dump dir_track_first_sector_dump = {
    FILER_DUMP_DIR_TRACK_FIRST_SECTORS,
    ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS,
    N_(" Track 18+ read process started on drive %d"),
    N_(" Track 18+ read aborted: please wait for the drive to finish"),
    N_(" Track 18+ read failed: %s"),
    N_(" Track 18+ read completed in %.2lf seconds [%d/%d]"),
    "dir_track_and_first_sector_receiver",
    thread_receive_dir_track_and_first_sector,
};

const special_dump allocated_dump = {
    FILER_DUMP_BAM,
    ENGINE_DUMP_ALLOCATED,
    N_(" BAM based read process started on drive %d"),
    N_(" BAM-based read aborted: please wait for the drive to finish"),
    N_(" BAM-based read failed: %s"),
    N_(" BAM-based read completed in %.2lf seconds [%d/%d]"),
    "allocated_sector_receiver",
    thread_receive_allocated_sectors,
};

// The worker's finisher; one operation runs at a time.
GSourceFunc worker_finisher = nullptr;

void gui_show(void *, engine_image_view what)
{
    if (what == ENGINE_SHOW_ALLOCATED_SECTORS)
        operation_idle_add(idle_decode_bam_and_show_allocated_sectors, nullptr);
    else if (what == ENGINE_SHOW_DIRECTORY)
        operation_idle_add(idle_decode_and_show_directory_listing, nullptr);
}

void gui_finished(void *, const engine_outcome *outcome)
{
    operation_idle_add(worker_finisher, const_cast<char *>(outcome->failure));
}

// The worker of the three dumps: the engine reads on the connection the
// worker opened (which also lists the ports that answer when it cannot).
void run_dump(engine_dump_kind kind, GSourceFunc finisher)
{
    int handle = operation_open_port_and_sync(finisher, ped.device);
    if (handle < 0)
        return;
    engine_ui ui = dumps_worker_ui(finisher);
    engine_sector_job job = dumps_job_from_ped(handle);
    engine_special_dump(&ui, kind, &job);
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
    notebook_main_set_page(0);
    controls_set_accessible_sector_error_count(0);

    operation_start_info info = {status, title, 0, 1, dump.thread_name, dump.worker, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(title);
}

// The three finishers differ in their texts and in the list they free.
gboolean finish_special_dump(const special_dump &dump, const char *message)
{
    operation_outcome outcome = operation_finish_decide(message, _(dump.aborted), _(dump.failed));
    unsaved_read_ended(_("The dump"));
    if (outcome == OPERATION_ABORTED) {
        log_warpsave_append("Aborted\n");
    } else if (outcome == OPERATION_FAILED) {
        log_warpsave_append("Failed\n");
    } else {
        int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
        int prg_errors = count_accessible_sector_errors_on_first_sector_of_all_prgs();
        char *text = g_strdup_printf(_(dump.completed), operation_elapsed_seconds(), errors,
                                     prg_errors);
        statusbar_main_update(text);
        g_free(text);
        controls_set_accessible_sector_error_count(errors);

        int read_data = dumps_show_directory_and_allocated_sectors();
        char name[D64_NAME_BUFFER_SIZE];
        filer_disk_name_for_file(d64_storage, read_data, name);
        log_warpsave_and_log_textview_append("Completed\n");
        if (read_data) {
            engine_ui checks = disk_checks_gui_ui();
            engine_log_damage_report(&checks, 0);
            dirview_mark_damaged_files(0);
        }

        GtkWidget *auto_naming = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(auto_naming))) {
            gchar *path = filer_auto_name_path(dump.kind, name);
            if (unsaved_saved(save_d64_image_and_ancillary_files(path, 1, 0)))
                auto_naming_next_combination();
            g_free(path);
        } else {
            gchar *suggestion = filer_suggested_name(dump.kind, name);
            char *path = nullptr;
            if (fileopen_save_d64_file(suggestion, &path)) {
                unsaved_saved(save_d64_image_and_ancillary_files(path, 0, 0));
                g_free(path);
            } else {
                log_textview_append(_("Disk image not saved at user's request\n"));
            }
            g_free(suggestion);
        }
    }
    if (dump.kind == FILER_DUMP_DIR_TRACK_FIRST_SECTORS)
        sector_query_list_free();
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

engine_ui dumps_worker_ui(GSourceFunc finisher)
{
    worker_finisher = finisher;
    engine_ui ui = sector_reads_gui_ui();
    ui.directory_ready = gui_show;
    ui.finished = gui_finished;
    return ui;
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
    run_dump(ENGINE_DUMP_DIR_TRACK, idle_finish_dir_track_receipt);
}

void thread_receive_dir_track_and_first_sector(void)
{
    run_dump(ENGINE_DUMP_DIR_TRACK_FIRST_SECTORS, idle_finish_dir_track_and_first_sector_receipt);
}

void thread_receive_allocated_sectors(void)
{
    run_dump(ENGINE_DUMP_ALLOCATED, idle_finish_allocated_sector_receipt);
}

gboolean idle_finish_dir_track_receipt(gpointer message)
{
    return finish_special_dump(dir_track_dump, static_cast<const char *>(message));
}

gboolean idle_finish_dir_track_and_first_sector_receipt(gpointer message)
{
    return finish_special_dump(dir_track_first_sector_dump, static_cast<const char *>(message));
}

gboolean idle_finish_allocated_sector_receipt(gpointer message)
{
    return finish_special_dump(allocated_dump, static_cast<const char *>(message));
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_track_18_only_activate)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_dump);
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_track_18_and_first_sector_activate)
{
    (void)item;
    (void)data;
    start_special_dump(dir_track_first_sector_dump);
}

DRAVLEN_MENU_HANDLER(on_menuitem_dump_bam_based_activate)
{
    (void)item;
    (void)data;
    start_special_dump(allocated_dump);
}
