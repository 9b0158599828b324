// Firmware update: the board jumps into its bootloader, which shows up as a
// serial port of its own, and avrdude flashes the image through it.
#pragma once

#include "engine/engine.h"

#include <string>
#include <vector>

// avrdude's argument vector for the bootloader port (g_strfreev it).  The
// image is firmware_file_name in avrdude's working folder.
char **maintenance_avrdude_argv(const char *bootloader_port);

// The port to flash through after "j": the configured bootloader port once
// it exists, else the first probed port that was not there `before`; waits
// up to wait_ms for either (or until Abort), then falls back to the
// configured one.
std::string maintenance_find_bootloader_port(const char *configured,
                                             const std::vector<std::string> &before,
                                             int wait_ms);

struct engine_update_request {
    const char *port;             // the board's port
    const char *bootloader_port;  // as configured; empty: the port that appears is taken
    const char *hex_file;         // the Intel HEX file to flash; null or empty: the carried image
    bool keep_ctrl_c_off_avrdude; // run avrdude in a process group of its own
};

// Why the request cannot flash anything, before the board is touched: a
// build carrying only the test image and no file named
// (ENGINE_ERROR_NO_BOARD_FIRMWARE), or a file that is no regular file, too
// large, unreadable or no Intel HEX.  ENGINE_ERROR_NONE when it can.
engine_error engine_update_problem(const engine_update_request *request);

// The question asked before flashing, naming the board's port and the file
// (the carried image by its file name and version).  g_free it.
char *engine_update_question(const engine_update_request *request);

// Checks the request, asks ENGINE_ASK_FLASH_FIRMWARE with
// engine_update_question (no: ENGINE_ERROR_FLASH_NOT_CONFIRMED, the board
// untouched), puts the image into a folder of its own, sends "j", waits for
// the bootloader (Abort ends the wait and nothing is flashed), makes sure its
// port exists, logs "Bootloader port: ...", runs avrdude to its end with
// each line of its output logged, and reports the outcome.  Logs no title or
// closing word: the caller frames the log.  1 on success.
int engine_update_firmware(const engine_ui *ui, const engine_update_request *request);
