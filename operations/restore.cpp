#include "operations/restore.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstring>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "app/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "render/dirview.h"
#include "ui/dialogs.h"
#include "ui/filechooser.h"
#include "ui/handlers.h"
#include "ui/sector_grid.h"
#include "ui/window_main.h"

namespace {

const char text_no_port[] = "Unable to access communication port to device";
const char text_no_restore_request[] = "Unable to initiate imaging process on device";

uint8_t packet[WARP_PACKET_SIZE];

void finish(const char *failure)
{
    operation_idle_add(idle_finish_disk_image_sending, const_cast<char *>(failure));
}

// Waits for the device's "d", then sends the packet.
int send_on_request(int handle)
{
    uint8_t request;
    if (!console_read(handle, &request, 1, &flag_abort_requested) || request != 'd')
        return 0;
    return console_write(handle, packet, sizeof packet, &flag_abort_requested);
}

void refuse(const char *status, const char *log_line)
{
    statusbar_main_update(status);
    log_textview_append(log_line);
}

}  // namespace

int restore_sector_order(int sectors, int *order)
{
    if (sectors == 21) {
        for (int i = 0; i < 21; i++)
            order[i] = i * 4 % 21;
        return 1;
    }
    if (sectors == 18) {
        // Three passes in steps of 3, starting at 0, 1 and 2.
        for (int i = 0; i < 18; i++)
            order[i] = i % 6 * 3 + i / 6;
        return 1;
    }
    if (sectors != 17 && sectors != 19)
        return 0;
    int s = 0, pass = 0;
    for (int i = 0; i < sectors; i++) {
        order[i] = s;
        s += 3;
        if (s >= sectors) {
            pass++;
            s = (pass == 3 || s == sectors) ? 1 : 2 * pass;
        }
    }
    return 1;
}

void thread_send_disk_image(void)
{
    int handle = -1;
    if (!serial_connect_and_configure_port(&handle, options_device_port_string)) {
        finish(text_no_port);
        return;
    }
    const char *failure = nullptr;
    char command[16];
    g_snprintf(command, sizeof command, "wr %d", ped.device);
    if (!console_synch_with_device(handle, &flag_abort_requested))
        failure = console_text_unable_to_sync;
    else if (!console_execute_command(handle, command, &flag_abort_requested))
        failure = text_no_restore_request;
    for (int t = 1; !failure && t <= TRACKS; t++) {
        int order[21];
        int sectors = d64_sectors_of_track(t);
        restore_sector_order(sectors, order);
        for (int i = 0; i < sectors; i++) {
            int s = order[i];
            sector_grid_queue_cell(t, s, 0, CELL_WRITTEN);
            warp_encode_gcr_stream(d64_storage + d64_sector_offset(t, s), packet, (uint8_t)s,
                                   (uint8_t)t);
            warp_shift_outgoing_stream(packet);
            if (!send_on_request(handle)) {
                failure = console_text_communication_error;
                break;
            }
        }
    }
    if (!failure) {
        // Track 0 tells the device that the image is complete.
        packet[WARP_PACKET_SIZE - 1] = 0;
        if (!send_on_request(handle))
            failure = console_text_communication_error;
    }
    serial_disconnect_port(handle);
    finish(failure);
}

gboolean idle_finish_disk_image_sending(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" Restore aborted: please wait for the drive to finish"),
                                _(" Restore failed: %s")) == OPERATION_SUCCEEDED) {
        char *text = g_strdup_printf(_(" Restore completed in %.2lf seconds"),
                                     operation_elapsed_seconds());
        statusbar_main_update(text);
        g_free(text);
        options_save_to_file();
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_button_load_image_from_D64_clicked(GtkButton *, gpointer)
{
    if (!operation_check_device_port() || !get_user_confirmation_to_modify_disk())
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

    char *contents = nullptr;
    gsize length = 0;
    GError *error = nullptr;
    if (!g_file_get_contents(path, &contents, &length, &error)) {
        statusbar_main_update(_(" Restore failed: Unable to load from image"));
        char *line = g_strdup_printf("Unable to load from image: %s\n", error ? error->message : "");
        log_textview_append(line);
        g_free(line);
        g_clear_error(&error);
        g_free(path);
        g_free(status);
        return;
    }
    g_free(path);
    gsize with_errors = (gsize)(d64_base_size + d64_block_error_info_size);
    if (length != (gsize)d64_base_size && length != with_errors) {
        g_free(contents);
        g_free(status);
        refuse(_(" Restore failed: Image size is not as expected"),
               TRACKS == 40 ? "Image size is not as expected for a 40-track disk\n"
                            : "Image size is not as expected for a 35-track disk\n");
        return;
    }
    memcpy(d64_storage, contents, length);
    g_free(contents);
    ped.received_size = (int)length;
    if (length == with_errors) {
        controls_set_accessible_sector_error_count(
            d64_count_accessible_sector_errors(d64_storage, 1, TRACKS));
        for (int64_t i = 0; i < d64_block_error_info_size; i++) {
            if (d64_storage[d64_base_size + i] != D64_ERR_OK) {
                refuse(_(" Restore failed: Image contains errors"),
                       "Image contains errors and won't be restored\n");
                g_free(status);
                return;
            }
        }
    } else {
        controls_set_accessible_sector_error_count(0);
        d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    }
    drawingarea_sector_grid_reset();
    drawingarea_directory_listing_reset();
    // Status and log title are up already.
    operation_start_info info = {status, nullptr, 0, 1, "sender", thread_send_disk_image, nullptr};
    operation_start(&info);
    g_free(status);
}
