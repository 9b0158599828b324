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

extern const char engine_text_no_port[];
extern const char engine_text_no_bootloader_port[];

struct engine_update_request {
    const char *port;             // the board's port
    const char *bootloader_port;  // as configured; empty: the port that appears is taken
    const char *hex_folder;       // avrdude's working folder, holding firmware_file_name;
                                  // null: the current folder
    bool keep_ctrl_c_off_avrdude; // run avrdude in a process group of its own
};

// Sends "j", waits for the bootloader (Abort ends the wait and nothing is
// flashed), logs "Bootloader port: ...", runs avrdude to its end and reports
// the outcome.  Logs no title or closing word: the caller frames the log.
// 1 on success.
int engine_update_firmware(const engine_ui *ui, const engine_update_request *request);
