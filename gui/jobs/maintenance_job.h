// Device maintenance: the firmware version and its verdict, the reset into
// the bootloader, the firmware update through avrdude, and the drive's error
// channel. 
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

// firmware_version_verdict
#include "device/firmware.h"

// Firmware menu and Tools > Query error channel.
void on_menuitem_read_firmware_version_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_reset_into_bootloader_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_update_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_query_error_channel_activate(GtkMenuItem *item, gpointer data);

// Workers and their finishers.  The version, reset and status finishers take
// the result their worker queued (its answer with it) and free it.
void thread_receive_firmware_version(void);
gboolean idle_finish_firmware_version_receipt(gpointer result);
void thread_reset_device(void);
gboolean idle_finish_device_reset(gpointer result);
void thread_update_device(void);
gboolean idle_finish_device_update(gpointer failure);
void thread_receive_status_message(void);
gboolean idle_finish_drive_status_receipt(gpointer result);

// maintenance_avrdude_argv, maintenance_find_bootloader_port
#include "engine/update.h"
