// Every way a job can fail, with one table of its English texts.  Callers
// tell failures apart by these codes; the texts are only shown.
#pragma once

#include "device/console.h"

enum engine_error {
    ENGINE_ERROR_NONE = CONSOLE_OK,
    // The command steps of the board's monitor: the console layer's codes
    // and texts.
    ENGINE_ERROR_REQUEST_COMMAND = CONSOLE_ERROR_REQUEST_COMMAND,
    ENGINE_ERROR_COMMUNICATION = CONSOLE_ERROR_COMMUNICATION,
    ENGINE_ERROR_SYNC = CONSOLE_ERROR_SYNC,
    ENGINE_ERROR_DEVICE_NOT_PRESENT = CONSOLE_ERROR_DEVICE_NOT_PRESENT,
    ENGINE_ERROR_FILENAME_MISSING = CONSOLE_ERROR_FILENAME_MISSING,
    ENGINE_ERROR_FILE_NOT_FOUND = CONSOLE_ERROR_FILE_NOT_FOUND,
    ENGINE_ERROR_COMMAND_FAILED = CONSOLE_ERROR_COMMAND_FAILED,
    ENGINE_ERROR_REQUEST_VERSION = CONSOLE_ERROR_REQUEST_VERSION,
    ENGINE_ERROR_REQUEST_STATUS = CONSOLE_ERROR_REQUEST_STATUS,
    // Ports and requests.
    ENGINE_ERROR_NO_PORT = CONSOLE_ERROR_COUNT, // "Unable to access communication port to device"
    ENGINE_ERROR_NO_SECTOR_READ,      // "Unable to initiate sector read on device"
    ENGINE_ERROR_NO_IMAGING,          // "Unable to initiate imaging process on device"
    ENGINE_ERROR_NO_DIRECTORY_REQUEST,
    ENGINE_ERROR_NO_LOAD_REQUEST,
    ENGINE_ERROR_NO_SAVE_REQUEST,
    ENGINE_ERROR_NO_ROM_REQUEST,
    ENGINE_ERROR_UNABLE_TO_READ,      // "Unable to read sector from device"
    ENGINE_ERROR_TOO_LARGE,           // received data does not fit into the buffer
    ENGINE_ERROR_OVERREQUEST,         // the drive asked for more bytes than the file holds
    // Reads and re-reads.
    ENGINE_ERROR_NOTHING_ON_TRACK_18, // "No errors to correct on track 18"
    ENGINE_ERROR_NOTHING_IN_RANGE,    // "No errors to correct in track range"
    ENGINE_ERROR_NOTHING_ON_DISK,     // "No errors to correct on disk"
    ENGINE_ERROR_TOO_MANY_IN_RANGE,   // "Too many errors in track range to retry"
    ENGINE_ERROR_TOO_MANY,            // "Too many errors to retry"
    ENGINE_ERROR_OTHER_DISK,          // "Another disk is in the drive"
    ENGINE_ERROR_NO_IMAGE_FILE,       // "No image file"
    ENGINE_ERROR_REREAD_RUNNING,      // "Another re-read of this image is running"
    ENGINE_ERROR_NO_LOCK,             // "Unable to lock the image file"
    ENGINE_ERROR_BAM_ERRORS,          // "BAM sector contains errors"
    ENGINE_ERROR_DIR_LINK,            // "Unexpected first dir t/s link"
    // Files on the PC.
    ENGINE_ERROR_FILE_EXISTS,         // "file exists": not to be replaced
    ENGINE_ERROR_NOT_SAVED,           // "Unable to save to file"
    ENGINE_ERROR_PARTLY_SAVED,        // the image was saved, a file beside it was not
    ENGINE_ERROR_UNABLE_TO_LOAD,      // "Unable to load from image"
    // Writing a disk.
    ENGINE_ERROR_WRONG_IMAGE_SIZE,    // "Image size is not as expected"
    ENGINE_ERROR_IMAGE_HAS_ERRORS,    // "Image contains errors"
    ENGINE_ERROR_WRITE_NOT_CONFIRMED, // "Writing to the disk was not confirmed"
    ENGINE_ERROR_DISK_DIFFERS,        // "Disk does not match the image"
    // The firmware update.
    ENGINE_ERROR_NO_BOOTLOADER_PORT,
    ENGINE_ERROR_NO_BOARD_FIRMWARE,
    ENGINE_ERROR_FLASH_NOT_CONFIRMED,
    ENGINE_ERROR_NO_RESET,
    ENGINE_ERROR_AVRDUDE_FAILED,
    ENGINE_ERROR_AVRDUDE_NOT_STARTED,
    ENGINE_ERROR_NOT_FLASHED,
    ENGINE_ERROR_HEX_NOT_REGULAR,
    ENGINE_ERROR_HEX_TOO_LARGE,
    ENGINE_ERROR_HEX_UNREADABLE,
    ENGINE_ERROR_HEX_NOT_INTEL,
    ENGINE_ERROR_NO_FOLDER,
    ENGINE_ERROR_COUNT
};

// The constant English text of a failure; null for ENGINE_ERROR_NONE.
const char *engine_error_text(engine_error error);
// The engine's code of a failure of the monitor's command steps.
engine_error engine_error_from_console(console_error error);
// Whether a re-read ended because there was nothing to re-read.
bool engine_error_is_nothing_to_reread(engine_error error);
