// Device maintenance: the firmware version and its verdict, the reset into
// the bootloader, the firmware update through avrdude, and the drive's error
// channel.  The handlers are declared in ui/handlers.h.
#pragma once

#include <glib.h>

#include <string>
#include <vector>

// firmware_version_verdict
#include "device/firmware.h"

// Workers and their finishers.
void thread_receive_firmware_version(void);
gboolean idle_finish_firmware_version_receipt(gpointer failure);
void thread_reset_device(void);
gboolean idle_finish_device_reset(gpointer failure);
void thread_update_device(void);
gboolean idle_finish_device_update(gpointer failure);
void thread_receive_status_message(void);
gboolean idle_finish_drive_status_receipt(gpointer failure);

// avrdude's argument vector for the bootloader port (g_strfreev it).
char **maintenance_avrdude_argv(const char *bootloader_port);

// The port to flash through after "j": the configured bootloader port once
// it exists, else the first probed port that was not there `before`; waits
// up to wait_ms for either (or until Abort), then falls back to the
// configured one.  Worker thread.
std::string maintenance_find_bootloader_port(const char *configured,
                                             const std::vector<std::string> &before,
                                             int wait_ms);
