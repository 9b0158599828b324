#include "operations/maintenance.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "app/log.h"
#include "app/operation.h"
#include "app/operation_state.h"
#include "app/options.h"
#include "device/console.h"
#include "device/firmware.h"
#include "device/serial.h"
#include "ui/handlers.h"
#include "ui/window_main.h"

const char maintenance_old_firmware_version[] = "1.13.0.35";

namespace {

const char text_no_version_request[] = "Unable to request firmware version on device";
const char text_no_reset[] = "Unable to initiate reset on device";
const char text_no_status_request[] = "Unable to request status on device";
const char text_avrdude_failed[] = "The avrdude executable exited with error";
const char text_avrdude_not_started[] = "Unable to start the avrdude executable";

const char text_not_flashed[] = "Aborted before avrdude was started";

// The device needs this long to come back as its bootloader port.
const gint64 bootloader_wait_us = 2000000;
// How often that wait looks at the abort flag.
const gulong abort_check_us = 10000;

constexpr auto open_and_sync = operation_open_port_and_sync;
constexpr auto close_and_finish = operation_close_and_finish;

// "<digits>" at *p into *value; false without digits or on overflow.
bool read_number(const char **p, int *value)
{
    if (!g_ascii_isdigit(**p))
        return false;
    errno = 0;
    char *end = nullptr;
    long v = strtol(*p, &end, 10);
    if (errno == ERANGE || v > INT_MAX)
        return false;
    *value = (int)v;
    *p = end;
    return true;
}

// Device texts may hold anything; widgets want UTF-8.
char *displayable(const char *text)
{
    return g_utf8_make_valid(text, -1);
}

void show_status_printf(const char *format, ...) G_GNUC_PRINTF(1, 2);
void show_status_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    statusbar_main_update(text);
    g_free(text);
}

void start_drive_job(const char *status_format, const char *log_title, const char *thread_name,
                     void (*worker)(void))
{
    if (!operation_check_device_port())
        return;
    int index = combo_active_drive_get_index();
    options_drive_index = index;
    ped.device = index + 8;
    char *status = g_strdup_printf(status_format, ped.device);
    operation_start_info info = {status, log_title, 0, 1, thread_name, worker, nullptr};
    operation_start(&info);
    g_free(status);
}

void undo_update(void)
{
    firmware_unlink_firmware();
}

// Waits for the board to come back as its bootloader; 0 when Abort came
// first.
int wait_for_bootloader(void)
{
    gint64 end = g_get_monotonic_time() + bootloader_wait_us;
    while (g_get_monotonic_time() < end) {
        if (flag_abort_requested.load(std::memory_order_relaxed))
            return 0;
        g_usleep(abort_check_us);
    }
    return flag_abort_requested.load(std::memory_order_relaxed) ? 0 : 1;
}

}  // namespace

const char *firmware_version_verdict(const char *version)
{
    const char *p = version;
    int major, minor;
    if (!read_number(&p, &major) || *p++ != '.' || !read_number(&p, &minor))
        return N_("unknown version");
    long long diff = ((long long)major - FIRMWARE_VERSION_MAJOR) * 1000 + minor -
                     FIRMWARE_VERSION_MINOR;
    if (diff == 0)
        return N_("current");
    return diff < 0 ? N_("should upgrade") : N_("should downgrade");
}

char **maintenance_avrdude_argv(const char *bootloader_port)
{
    char **argv = g_new0(char *, 9);
    argv[0] = g_strdup("avrdude");
    argv[1] = g_strdup("-v");
    argv[2] = g_strdup("-pm32u4");
    argv[3] = g_strdup("-cavr109");
    argv[4] = g_strdup_printf("-P%s", bootloader_port);
    argv[5] = g_strdup("-b57600");
    argv[6] = g_strdup("-D");
    argv[7] = g_strdup_printf("-Uflash:w:%s:i", firmware_file_name);
    return argv;
}

// ---------------------------------------------------------------- version

void thread_receive_firmware_version(void)
{
    GSourceFunc fin = idle_finish_firmware_version_receipt;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    if (!console_execute_command(handle, "v", &flag_abort_requested)) {
        close_and_finish(handle, fin, text_no_version_request);
        return;
    }
    if (!console_read(handle, version_storage, 1, &flag_abort_requested)) {
        close_and_finish(handle, fin, console_text_communication_error);
        return;
    }
    if (version_storage[0] == '>') {
        // The prompt came at once: a firmware that does not know "v".
        g_strlcpy(version_storage, maintenance_old_firmware_version, sizeof version_storage);
        close_and_finish(handle, fin, nullptr);
        return;
    }
    for (int i = 1;; i++) {
        if (!console_read(handle, version_storage + i, 1, &flag_abort_requested)) {
            version_storage[i] = 0;
            close_and_finish(handle, fin, console_text_communication_error);
            return;
        }
        char c = version_storage[i];
        if (c == '\r' || c == '\n' || i == (int)sizeof version_storage - 1) {
            version_storage[i] = 0;
            break;
        }
    }
    close_and_finish(handle, fin, nullptr);
}

gboolean idle_finish_firmware_version_receipt(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" Firmware version reading aborted"),
                                _(" Firmware version reading failed: %s")) == OPERATION_SUCCEEDED) {
        char *version = displayable(version_storage);
        show_status_printf(_(" Firmware version: v%s (%s)"), version,
                           _(firmware_version_verdict(version_storage)));
        char *line = g_strdup_printf("%s\n", version);
        log_textview_append(line);
        g_free(line);
        g_free(version);
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_menuitem_read_firmware_version_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port())
        return;
    operation_start_info info = {_(" Firmware version requested"), "Reading firmware version\n",
                                 0, 1, "version", thread_receive_firmware_version, nullptr};
    operation_start(&info);
}

// ---------------------------------------------------------------- reset and update

// Sends the jump into the bootloader; 0 after queueing the finisher.
static int request_bootloader(int handle, GSourceFunc fin)
{
    if (!console_write(handle, "j\r", 2, &flag_abort_requested)) {
        close_and_finish(handle, fin, text_no_reset);
        return 0;
    }
    return 1;
}

void thread_reset_device(void)
{
    GSourceFunc fin = idle_finish_device_reset;
    int handle = open_and_sync(fin);
    if (handle < 0 || !request_bootloader(handle, fin))
        return;
    close_and_finish(handle, fin, nullptr);
}

gboolean idle_finish_device_reset(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure), _(" Device reset aborted"),
                                _(" Device reset failed: %s")) == OPERATION_SUCCEEDED) {
        statusbar_main_update(_(" Device reset succeeded"));
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_menuitem_reset_into_bootloader_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port())
        return;
    operation_start_info info = {_(" Device reset requested"), "Resetting device\n", 0, 0, "reset",
                                 thread_reset_device, nullptr};
    operation_start(&info);
}

void thread_update_device(void)
{
    GSourceFunc fin = idle_finish_device_update;
    int handle = open_and_sync(fin);
    if (handle < 0 || !request_bootloader(handle, fin))
        return;
    // Abort during the wait means nothing is flashed; once avrdude runs it
    // is left to finish, as stopping it could leave the board without
    // firmware.
    if (!wait_for_bootloader()) {
        close_and_finish(handle, fin, text_not_flashed);
        return;
    }

    // An argument vector: a port name with spaces or quotes stays one
    // argument.  avrdude's output goes where ours goes.
    char **argv = maintenance_avrdude_argv(options_bootloader_port_string);
    int wait_status = 0;
    GError *error = nullptr;
    const char *failure = nullptr;
    if (!g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      nullptr, &wait_status, &error)) {
        failure = text_avrdude_not_started;
        g_clear_error(&error);
    } else {
#if GLIB_CHECK_VERSION(2, 70, 0)
        gboolean exited_fine = g_spawn_check_wait_status(wait_status, nullptr);
#else
        gboolean exited_fine = g_spawn_check_exit_status(wait_status, nullptr);
#endif
        if (!exited_fine)
            failure = text_avrdude_failed;
    }
    g_strfreev(argv);
    close_and_finish(handle, fin, failure);
}

gboolean idle_finish_device_update(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure), _(" Firmware update aborted"),
                                _(" Firmware update failed: %s")) == OPERATION_SUCCEEDED) {
        statusbar_main_update(_(" Firmware update succeeded"));
        operation_log_completed();
    }
    firmware_unlink_firmware();
    operation_finish_cleanup();
    return FALSE;
}

void on_menuitem_update_activate(GtkMenuItem *, gpointer)
{
    if (!operation_check_device_port())
        return;
    if (!options_bootloader_port_string || !*options_bootloader_port_string) {
        statusbar_main_update(_(" Error: Invalid bootloader port"));
        return;
    }
    if (!firmware_save_firmware()) {
        statusbar_main_update(_(" Error: Could not copy firmware"));
        return;
    }
    operation_start_info info = {_(" Firmware update requested"), "Updating device firmware\n", 0,
                                 0, "update", thread_update_device, undo_update};
    operation_start(&info);
}

// ---------------------------------------------------------------- error channel

void thread_receive_status_message(void)
{
    GSourceFunc fin = idle_finish_drive_status_receipt;
    int handle = open_and_sync(fin);
    if (handle < 0)
        return;
    char command[16];
    g_snprintf(command, sizeof command, "de %d", ped.device);
    if (!console_execute_command(handle, command, &flag_abort_requested)) {
        close_and_finish(handle, fin, text_no_status_request);
        return;
    }
    char answer[2];
    if (!console_read(handle, answer, sizeof answer, &flag_abort_requested)) {
        close_and_finish(handle, fin, console_text_communication_error);
        return;
    }
    if (answer[0] != 'O' || answer[1] != 'K') {
        close_and_finish(handle, fin, console_answer_failure_text(answer));
        return;
    }
    unsigned char length;
    if (!console_read(handle, &length, 1, &flag_abort_requested)) {
        close_and_finish(handle, fin, console_text_communication_error);
        return;
    }
    size_t n = length < sizeof status_storage - 1 ? length : sizeof status_storage - 1;
    if (!console_read(handle, status_storage, n, &flag_abort_requested)) {
        status_storage[0] = 0;
        close_and_finish(handle, fin, console_text_communication_error);
        return;
    }
    status_storage[n] = 0;
    close_and_finish(handle, fin, nullptr);
}

gboolean idle_finish_drive_status_receipt(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" Status reading aborted: please wait for the drive to finish"),
                                _(" Status reading failed: %s")) == OPERATION_SUCCEEDED) {
        char *status = displayable(status_storage);
        show_status_printf(_(" Status read in %.2lf seconds: %s"), operation_elapsed_seconds(),
                           status);
        char *line = g_strdup_printf("%s\n", status);
        log_textview_append(line);
        g_free(line);
        g_free(status);
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void on_menuitem_query_error_channel_activate(GtkMenuItem *, gpointer)
{
    start_drive_job(_(" Status requested on drive %d"), "Reading disk status\n", "status",
                    thread_receive_status_message);
}
