#include "engine/errors.h"

#include <glib/gi18n.h>

namespace {

// From ENGINE_ERROR_NO_PORT on; the ones before are the console layer's.
const char *const TEXTS[] = {
    "Unable to access communication port to device",
    "Unable to initiate sector read on device",
    "Unable to initiate imaging process on device",
    "Unable to request directory on device",
    "Unable to request PRG loading on device",
    "Unable to request PRG saving on device",
    "Unable to request ROM dumping on device",
    "Unable to read sector from device",
    "Received data does not fit into the buffer",
    "Device asked for more bytes than the file holds",
    "No errors to correct on track 18",
    "No errors to correct in track range",
    "No errors to correct on disk",
    "Too many errors in track range to retry",
    "Too many errors to retry",
    "Another disk is in the drive",
    "No image file",
    "Another re-read of this image is running",
    "Unable to lock the image file",
    "BAM sector contains errors",
    "Unexpected first dir t/s link",
    "file exists",
    "Unable to save to file",
    "Disk image saved, but not every file beside it",
    "Unable to load from image",
    "Image size is not as expected",
    "Image contains errors",
    "Writing to the disk was not confirmed",
    "Disk does not match the image",
    "No bootloader port appeared",
    N_("This build carries no board firmware: name a firmware file"),
    N_("Flashing the firmware was not confirmed"),
    "Unable to initiate reset on device",
    "The avrdude executable exited with error",
    "Unable to start the avrdude executable",
    "Aborted before avrdude was started",
    N_("The firmware file is not a regular file"),
    N_("The firmware file is too large"),
    N_("Unable to read the firmware file"),
    N_("The firmware file is no Intel HEX file"),
    N_("Unable to prepare the firmware file for avrdude"),
};
static_assert(sizeof TEXTS / sizeof *TEXTS == ENGINE_ERROR_COUNT - ENGINE_ERROR_NO_PORT,
              "one text per engine_error");

}  // namespace

const char *engine_error_text(engine_error error)
{
    if (error < ENGINE_ERROR_NO_PORT)
        return console_error_text((console_error)error);
    return error < ENGINE_ERROR_COUNT ? TEXTS[error - ENGINE_ERROR_NO_PORT] : nullptr;
}

engine_error engine_error_from_console(console_error error)
{
    return error < CONSOLE_ERROR_COUNT ? (engine_error)error : ENGINE_ERROR_COMMUNICATION;
}

bool engine_error_is_nothing_to_reread(engine_error error)
{
    return error == ENGINE_ERROR_NOTHING_ON_TRACK_18 || error == ENGINE_ERROR_NOTHING_IN_RANGE ||
           error == ENGINE_ERROR_NOTHING_ON_DISK;
}
