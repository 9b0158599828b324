// Restore: the image checks and the sending of the sectors.
#include "engine/restore.h"

#include "engine/input_file.h"

#include "device/console.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/d64.h"

#include <cstring>
#include <vector>

namespace {

// The grid's cell code of a sector that went out to the disk.
const int cell_written = 10;

void log_line(const engine_ui *ui, const char *line)
{
    if (ui && ui->log_line)
        ui->log_line(ui->user, line, 0);
}

// Waits for the device's "d", then sends the packet.
int send_on_request(int handle, const uint8_t *packet)
{
    uint8_t request;
    if (!console_read(handle, &request, 1, engine_abort_flag()) || request != 'd')
        return 0;
    return console_write(handle, packet, WARP_PACKET_SIZE, engine_abort_flag());
}

// The transfer itself; ENGINE_ERROR_NONE or the failure.
engine_error send_image(const engine_ui *ui, const char *port, int device,
                         const unsigned char *image, int *written)
{
    int dummy = 0;
    if (!written)
        written = &dummy;
    *written = 0;
    int handle = -1;
    if (!port || !*port || !serial_connect_and_configure_port(&handle, port))
        return ENGINE_ERROR_NO_PORT;
    engine_error failure = ENGINE_ERROR_NONE;
    char command[16];
    g_snprintf(command, sizeof command, "wr %d", device);
    if ((failure = engine_sync_with_drive(handle, device))) {
    } else if (*written = 1, !console_execute_command(handle, command, engine_abort_flag())) {
        failure = ENGINE_ERROR_NO_IMAGING;
    }
    // The drive formats the disk before it asks for the first track.
    engine_allow_long_silence(handle);
    uint8_t packet[WARP_PACKET_SIZE];
    const int total = (int)(d64_base_size / 256);
    int sent = 0;
    for (int t = 1; !failure && t <= TRACKS; t++) {
        int order[21];
        int sectors = d64_sectors_of_track(t);
        restore_sector_order(sectors, order);
        for (int i = 0; i < sectors; i++) {
            int s = order[i];
            if (ui && ui->sector_cell)
                ui->sector_cell(ui->user, t, s, cell_written, 0);
            warp_encode_gcr_stream(image + d64_sector_offset(t, s), packet, (uint8_t)s,
                                   (uint8_t)t);
            warp_shift_outgoing_stream(packet);
            if (!send_on_request(handle, packet)) {
                failure = ENGINE_ERROR_COMMUNICATION;
                break;
            }
            if (ui && ui->progress)
                ui->progress(ui->user, (double)++sent / total);
        }
    }
    if (!failure) {
        // Track 0 tells the device that the image is complete.
        packet[WARP_PACKET_SIZE - 1] = 0;
        if (!send_on_request(handle, packet))
            failure = ENGINE_ERROR_COMMUNICATION;
    }
    engine_close_port(ui, handle);
    if (*written && (failure || engine_abort_requested())) {
        char *line = g_strdup_printf("The disk in drive %d is now partly overwritten\n", device);
        log_line(ui, line);
        g_free(line);
    }
    return failure;
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

engine_image_check engine_restore_check_image(const unsigned char *data, size_t length,
                                              int *error_count)
{
    *error_count = 0;
    size_t plain = (size_t)d64_base_size;
    size_t with_info = plain + (size_t)d64_block_error_info_size;
    if (length != plain && length != with_info)
        return ENGINE_IMAGE_WRONG_SIZE;
    if (length == plain)
        return ENGINE_IMAGE_CLEAN;
    *error_count = d64_count_accessible_sector_errors(data, 1, TRACKS);
    // $0F (no such sector) is no accessible error, but the disk would still
    // come out different from the image.
    for (size_t i = plain; i < with_info; i++)
        if (data[i] != D64_ERR_OK)
            return ENGINE_IMAGE_HAS_ERRORS;
    return ENGINE_IMAGE_CLEAN;
}

const char *engine_restore_refusal_log_line(engine_image_check check)
{
    if (check == ENGINE_IMAGE_WRONG_SIZE)
        return TRACKS == 40 ? "Image size is not as expected for a 40-track disk\n"
                            : "Image size is not as expected for a 35-track disk\n";
    if (check == ENGINE_IMAGE_HAS_ERRORS)
        return "Image contains errors and won't be restored\n";
    return "";
}

int engine_restore_send(const engine_ui *ui, const char *port, int device,
                          const unsigned char *image, int *written)
{
    gint64 start = g_get_monotonic_time();
    return engine_finish_job(ui, start, send_image(ui, port, device, image, written), false);
}

engine_error engine_write_image_load(const engine_ui *ui, const engine_write_request *request,
                                    std::vector<unsigned char> *bytes, int *error_count,
                                    std::atomic<int> *abort)
{
    bytes->clear();
    *error_count = 0;
    if (request->image) {
        bytes->assign(request->image, request->image + request->image_size);
    } else {
        std::string contents;
        long long size = 0;
        char *message = nullptr;
        // No image is larger than a 40-track one with error info.
        engine_input_result input =
            request->image_path
                ? engine_read_input_file(request->image_path, 768 * 257, &contents, &size,
                                         &message, abort)
                : ENGINE_INPUT_UNREADABLE;
        if (input != ENGINE_INPUT_READ && input != ENGINE_INPUT_TOO_LARGE) {
            char *line = g_strdup_printf("Unable to load from image: %s\n",
                                         message ? message : "no file");
            log_line(ui, line);
            g_free(line);
            g_free(message);
            return ENGINE_ERROR_UNABLE_TO_LOAD;
        }
        g_free(message);
        // A file larger than any image is refused by its size.
        if (input == ENGINE_INPUT_TOO_LARGE)
            contents.assign(1, '\0');
        bytes->assign(contents.begin(), contents.end());
    }
    engine_image_check check = engine_restore_check_image(bytes->data(), bytes->size(), error_count);
    if (check == ENGINE_IMAGE_CLEAN)
        return ENGINE_ERROR_NONE;
    log_line(ui, engine_restore_refusal_log_line(check));
    return check == ENGINE_IMAGE_WRONG_SIZE ? ENGINE_ERROR_WRONG_IMAGE_SIZE
                                            : ENGINE_ERROR_IMAGE_HAS_ERRORS;
}

int engine_write_image(const engine_ui *ui, const engine_write_request *request)
{
    gint64 start = g_get_monotonic_time();
    log_line(ui, "================================\n");
    log_line(ui, "Restoring disk image\n");

    std::vector<unsigned char> bytes;
    int error_count = 0;
    engine_error refused =
        engine_write_image_load(ui, request, &bytes, &error_count, engine_abort_flag());
    if (refused) {
        if (refused == ENGINE_ERROR_IMAGE_HAS_ERRORS && ui && ui->error_count)
            ui->error_count(ui->user, error_count);
        return engine_finish_job(ui, start, refused, true);
    }

    char *base = g_path_get_basename(request->image_path ? request->image_path : "the image");
    char *question = g_strdup_printf("Write %s to the disk in drive %d?", base, request->device);
    g_free(base);
    int yes = ui && ui->ask && ui->ask(ui->user, ENGINE_ASK_WRITE_DISK, question);
    g_free(question);
    // An abort while the question was open counts as the answer.
    if (!yes || engine_abort_requested())
        return engine_finish_job(ui, start, ENGINE_ERROR_WRITE_NOT_CONFIRMED, true);
    return engine_finish_job(
        ui, start, send_image(ui, request->port, request->device, bytes.data(), request->written),
        true);
}
