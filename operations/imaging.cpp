#include "operations/imaging.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "ui/log.h"
#include "app/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "operations/disk_checks.h"
#include "operations/sector_reads.h"
#include "operations/unsaved.h"
#include "render/dirview.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

namespace {

// The fast pass announces every sector.  One idle source per announcement
// costs the worker more than reading the stream, so the worker's callbacks
// go into one ordered queue that a single idle source drains, a few
// milliseconds at a time so the window stays responsive.  Everything the
// worker posts goes through it, the re-read phase and the finisher too, so
// nothing overtakes what the pass posted.
std::mutex batch_lock;
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

void post_cell(int track, int sector, uint8_t checksum, int code)
{
    if (auto *rec = sector_grid_new_cell_record(track, sector, checksum, code))
        post(idle_drawingarea_sector_grid_activate_cell_and_free, rec);
}

gboolean idle_paint_unread_cell(gpointer data)
{
    int code = GPOINTER_TO_INT(data);
    drawingarea_sector_grid_activate_cell(code >> 8, code & 0xFF, CELL_NO_SYNC);
    return FALSE;
}

// The window's side of the engine's read: every event goes through the
// one ordered queue, so the window shows them in the order they came.
void gui_cell(void *, int track, int sector, int code, int checksum)
{
    if (code == ENGINE_CELL_LEFT_UNREAD)
        post(idle_paint_unread_cell, GINT_TO_POINTER(track << 8 | sector));
    else
        post_cell(track, sector, (uint8_t)checksum, code);
}

void gui_log(void *, const char *line, int)
{
    post(idle_log_warpsave_and_log_textview_append_and_free, g_strdup(line));
}

void gui_error_count(void *, int count)
{
    post(idle_set_accessible_sector_error_count, GINT_TO_POINTER(count));
}

void gui_error_step(void *, int delta)
{
    post(delta > 0 ? idle_increase_accessible_sector_error_count
                   : idle_decrease_accessible_sector_error_count,
         nullptr);
}

void gui_show(void *, engine_image_view what)
{
    if (what == ENGINE_SHOW_DIRECTORY)
        post(idle_decode_and_show_directory_listing, nullptr);
}

// Why faulty sectors were not read again, for the status text at the end;
// set and read on the GUI thread only.
std::string reread_skipped_note;

gboolean idle_note_reread_skipped(gpointer text)
{
    reread_skipped_note = static_cast<char *>(text);
    g_free(text);
    return FALSE;
}

void gui_reread_skipped(void *, const char *text)
{
    post(idle_note_reread_skipped, g_strdup(text));
}

void gui_finished(void *, const engine_outcome *outcome)
{
    post(idle_finish_disk_image_receipt, const_cast<char *>(outcome->failure));
}

int first_track_of_pass()
{
    return engine_imaging_first_track(ped.outmost_track);
}

void start_imaging(void)
{
    core_save_whole_disk_image_to_D64();
}

}  // namespace

int thread_receive_disk_image(void)
{
    engine_ui ui = {};
    ui.sector_cell = gui_cell;
    ui.log_line = gui_log;
    ui.error_count = gui_error_count;
    ui.error_count_step = gui_error_step;
    ui.directory_ready = gui_show;
    ui.finished = gui_finished;
    ui.reread_skipped = gui_reread_skipped;
    engine_imaging_params p = {};
    p.port = options_device_port_string;
    p.device = ped.device;
    p.retries = ped.tries_per_sector;
    p.max_errors = ped.max_sector_errors;
    p.outmost_track = ped.outmost_track;
    p.pre_initialize = ped.pre_initialize;
    p.retry_once_per_pass = options_retry_sectors_once_per_pass;
    engine_read_disk(&ui, &p);
    return 0;
}

int count_accessible_sector_errors_on_first_sector_of_all_prgs(void)
{
    return imaging_count_prg_first_sector_errors(d64_storage);
}

void core_save_whole_disk_image_to_D64(void)
{
    if (!operation_check_device_port() || !unsaved_confirm(UNSAVED_ANOTHER_READ))
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
    char *title = engine_imaging_title(ped.outmost_track);
    log_warpsave_delete();
    log_warpsave_new(0);
    // The view gets the separator and the title from the start sequence.
    log_warpsave_append(title);

    sector_reads_reset_image_and_views();
    reread_skipped_note.clear();
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
    unsaved_read_ended(_("The whole-disk read"));
    if (outcome == OPERATION_ABORTED) {
        log_warpsave_append("Aborted\n");
    } else if (outcome == OPERATION_FAILED) {
        log_warpsave_append("Failed\n");
    } else {
        int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
        int prg_errors = count_accessible_sector_errors_on_first_sector_of_all_prgs();
        char *text = g_strdup_printf(_(" Imaging completed in %.2lf seconds [%d/%d]"),
                                     operation_elapsed_seconds(), errors, prg_errors);
        if (!reread_skipped_note.empty()) {
            char *with_note = g_strdup_printf("%s; %s", text, reread_skipped_note.c_str());
            g_free(text);
            text = with_note;
        }
        statusbar_main_update(text);
        g_free(text);
        controls_set_accessible_sector_error_count(errors);
        log_warpsave_and_log_textview_append("Completed\n");

        int first = first_track_of_pass();
        engine_ui checks = disk_checks_gui_ui();
        engine_check_read_image(&checks, first, options_notify_tracks_beyond_35,
                                options_notify_side_b_1571);
        engine_log_damage_report(&checks, 1);
        dirview_mark_damaged_files(1);
        char name[D64_NAME_BUFFER_SIZE];
        engine_disk_name_for_file(first, name);

        GtkWidget *auto_naming = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
        if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(auto_naming))) {
            gchar *path = filer_auto_name_path(FILER_DUMP_WHOLE_DISK, name);
            if (unsaved_saved(save_d64_image_and_ancillary_files(path, 1, 0)))
                auto_naming_next_combination();
            g_free(path);
        } else {
            gchar *suggestion = filer_suggested_name(FILER_DUMP_WHOLE_DISK, name);
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
