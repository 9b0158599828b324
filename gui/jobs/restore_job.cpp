#include "gui/jobs/restore_job.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstring>
#include <vector>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "gui/jobs/unsaved.h"
#include "engine/options.h"
#include "engine/restore.h"
#include "engine/verify.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/window_main.h"

namespace {

// The GUI's side of the sending: the cells the worker announces and the
// finisher, in the order they come.
void queue_cell(void *, int track, int sector, int code, int checksum)
{
    sector_grid_queue_cell(track, sector, (uint8_t)checksum, code);
}

void log_now(void *, const char *line, int)
{
    log_textview_append(line);
}

void show_refusal(engine_error refused)
{
    statusbar_main_update(refused == ENGINE_ERROR_UNABLE_TO_LOAD
                              ? _(" Restore failed: Unable to load from image")
                          : refused == ENGINE_ERROR_WRONG_IMAGE_SIZE
                              ? _(" Restore failed: Image size is not as expected")
                              : _(" Restore failed: Image contains errors"));
}

// Set by the sender before its finisher is queued: the write request went
// out, so a failure leaves the disk partly overwritten.
int restore_written = 0;
// The verify worker's result, read by its finisher.
engine_verify_result verify_result;

void queue_verify_finisher(void *, const engine_outcome *outcome)
{
    operation_idle_add(idle_finish_disk_verify, const_cast<char *>(outcome->failure));
}

void start_verify(void)
{
    drawingarea_sector_grid_reset();
    char *status = g_strdup_printf(_(" Verify started on drive %d"), ped.device);
    operation_start_info info = {status, "Verifying disk against image\n", 0, 1, "verifier",
                                 thread_verify_disk, nullptr};
    operation_start(&info);
    g_free(status);
}

}  // namespace

void thread_send_disk_image(void)
{
    engine_ui ui = operation_engine_ui(idle_finish_disk_image_sending);
    ui.progress = nullptr;
    ui.sector_cell = queue_cell;
    engine_restore_send(&ui, options_device_port_string, ped.device, d64_storage,
                        &restore_written);
}

gboolean idle_finish_disk_image_sending(gpointer failure)
{
    char *aborted = g_strdup(_(" Restore aborted: please wait for the drive to finish"));
    char *failed = g_strdup(_(" Restore failed: %s"));
    if (restore_written) {
        g_free(aborted);
        g_free(failed);
        aborted = g_strdup_printf(_(" Restore aborted: the disk in drive %d is now partly "
                                    "overwritten; please wait for the drive to finish"),
                                  ped.device);
        failed = g_strdup_printf(_(" Restore failed: %%s; the disk in drive %d is now partly "
                                   "overwritten"),
                                 ped.device);
    }
    bool verify = false;
    if (operation_finish_decide(static_cast<const char *>(failure), aborted, failed) ==
        OPERATION_SUCCEEDED) {
        char *text = g_strdup_printf(_(" Restore completed in %.2lf seconds"),
                                     operation_elapsed_seconds());
        statusbar_main_update(text);
        g_free(text);
        options_save_to_file();
        operation_log_completed();
        verify = options_verify_after_restore != 0;
    }
    g_free(aborted);
    g_free(failed);
    operation_finish_cleanup();
    if (verify)
        start_verify();
    return FALSE;
}

// ---------------------------------------------------------------- verify

void thread_verify_disk(void)
{
    engine_ui ui = operation_engine_ui(idle_finish_disk_verify);
    ui.progress = nullptr;
    ui.sector_cell = queue_cell;
    ui.finished = queue_verify_finisher;
    engine_verify_request request = {options_device_port_string, ped.device, d64_storage,
                                     options_sector_read_retries,
                                     options_retry_sectors_once_per_pass, 1};
    engine_verify_disk(&ui, &request, &verify_result);
}

gboolean idle_finish_disk_verify(gpointer failure)
{
    const engine_verify_result &r = verify_result;
    operation_outcome outcome = operation_finish_decide(
        static_cast<const char *>(failure),
        _(" Verify aborted: please wait for the drive to finish"), _(" Verify failed: %s"));
    if (outcome == OPERATION_SUCCEEDED) {
        char *text = g_strdup_printf(_(" Verify completed in %.2lf seconds: %d of %d sectors "
                                       "match"),
                                     operation_elapsed_seconds(), r.matching, r.compared);
        statusbar_main_update(text);
        g_free(text);
        operation_log_completed();
    } else if (outcome == OPERATION_FAILED && r.compared > 0) {
        char *text = g_strdup_printf(_(" Verify failed: %d of %d sectors match, %d differ, %d "
                                       "could not be read"),
                                     r.matching, r.compared, (int)r.differing.size(),
                                     (int)r.unreadable.size());
        statusbar_main_update(text);
        g_free(text);
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_menuitem_verify_disk_against_image_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port())
        return;
    if (!sector_grid_image_holds_read_data()) {
        statusbar_main_update(_(" First dump a disk or load a disk image"));
        return;
    }
    ped.device = combo_active_drive_get_index() + 8;
    start_verify();
}

void on_button_load_image_from_D64_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port() || !unsaved_confirm(UNSAVED_RESTORE) ||
        !get_user_confirmation_to_modify_disk())
        return;
    char *path = nullptr;
    if (!fileopen_load_d64_file(&path, _("Select a disk image to restore to the disk currently in use"),
                                utf8_path_lastopenfile_d64))
        return;
    char *base = g_filename_display_basename(path);
    window_main_title_update(base);
    g_free(base);
    // The store is about to hold this file, which re-reads must not write
    // over the image saved before.
    filer_forget_image_path();

    int index = combo_active_drive_get_index();
    options_drive_index = index;
    ped.device = index + 8;
    char *status = g_strdup_printf(_(" Restore process started on drive %d"), ped.device);
    statusbar_main_update(status);
    log_textview_append("================================\n");
    log_textview_append("Restoring disk image\n");

    // Read and checked here, before the job starts: a refused image starts no job.
    engine_ui ui = {};
    ui.log_line = log_now;
    engine_write_request request = {options_device_port_string, ped.device, path, nullptr, 0};
    std::vector<unsigned char> image;
    int error_count = 0;
    engine_error refused = engine_write_image_load(&ui, &request, &image, &error_count, nullptr);
    g_free(path);
    if (refused == ENGINE_ERROR_UNABLE_TO_LOAD || refused == ENGINE_ERROR_WRONG_IMAGE_SIZE) {
        g_free(status);
        show_refusal(refused);
        return;
    }
    // A refused image stays loaded, with its error count shown.
    size_t length = image.size();
    memcpy(d64_storage, image.data(), length);
    ped.received_size = (int)length;
    controls_set_accessible_sector_error_count(error_count);
    if (refused) {
        unsaved_forget();
        show_refusal(refused);
        g_free(status);
        return;
    }
    if (length == (size_t)d64_base_size)
        d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    unsaved_forget();
    drawingarea_sector_grid_reset();
    drawingarea_directory_listing_reset();
    // Status and log title are up already.
    operation_start_info info = {status, nullptr, 0, 1, "sender", thread_send_disk_image, nullptr};
    operation_start(&info);
    g_free(status);
}
