// Device maintenance: the firmware version and its verdict, the reset into
// the bootloader, the firmware update through avrdude, and the drive's error
// channel.  The handlers are declared in gui/windows/handlers.h.
#pragma once

#include <glib.h>

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

// maintenance_avrdude_argv, maintenance_find_bootloader_port
#include "engine/update.h"
