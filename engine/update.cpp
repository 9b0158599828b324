// Firmware update through the board's bootloader and avrdude.
#include "engine/update.h"

#include "device/console.h"
#include "device/detect.h"
#include "device/firmware.h"
#include "device/serial.h"

#include <cstring>

#include <unistd.h>

const char engine_text_no_port[] = "Unable to access communication port to device";
const char engine_text_no_bootloader_port[] = "No bootloader port appeared";

namespace {

const char text_no_reset[] = "Unable to initiate reset on device";
const char text_avrdude_failed[] = "The avrdude executable exited with error";
const char text_avrdude_not_started[] = "Unable to start the avrdude executable";
const char text_not_flashed[] = "Aborted before avrdude was started";

// The device needs this long to come back as its bootloader port.
const gint64 bootloader_wait_us = 2000000;
// How often waits look at the abort flag.
const gulong abort_check_us = 10000;
// A slow USB enumeration gets this much longer to show the port.
const int bootloader_extra_wait_ms = 3000;

// Waits for the board to come back as its bootloader; 0 when Abort came
// first.
int wait_for_bootloader(void)
{
    gint64 end = g_get_monotonic_time() + bootloader_wait_us;
    while (g_get_monotonic_time() < end) {
        if (engine_abort_requested())
            return 0;
        g_usleep(abort_check_us);
    }
    return engine_abort_requested() ? 0 : 1;
}

bool port_exists(const char *name)
{
    if (!*name)
        return false;
    if (g_file_test(name, G_FILE_TEST_EXISTS))
        return true;
    // A bare name is opened under /dev/, as the serial layer does.
    std::string under_dev = std::string("/dev/") + name;
    return !strchr(name, '/') && g_file_test(under_dev.c_str(), G_FILE_TEST_EXISTS);
}

// Ctrl+C on a terminal goes to the whole foreground group; avrdude stopped
// halfway could leave the board without firmware.
void own_process_group(gpointer)
{
    setpgid(0, 0);
}

// Runs avrdude to its end; null or the failure text.
const char *run_avrdude(const engine_update_request *request, const char *port)
{
    // An argument vector: a port name with spaces or quotes stays one
    // argument.  avrdude's output goes where ours goes.
    char **argv = maintenance_avrdude_argv(port);
    int wait_status = 0;
    GError *error = nullptr;
    const char *failure = nullptr;
    if (!g_spawn_sync(request->hex_folder, argv, nullptr, G_SPAWN_SEARCH_PATH,
                      request->keep_ctrl_c_off_avrdude ? own_process_group : nullptr, nullptr,
                      nullptr, nullptr, &wait_status, &error)) {
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
    return failure;
}

const char *update(const engine_ui *ui, const engine_update_request *request, int *handle)
{
    // The bootloader shows up as a port of its own after "j"; what exists
    // before tells it apart.
    std::vector<std::string> ports_before = detect_list_ports();
    if (!request->port || !*request->port ||
        !serial_connect_and_configure_port(handle, request->port))
        return engine_text_no_port;
    if (!console_synch_with_device(*handle, engine_abort_flag()))
        return console_text_unable_to_sync;
    if (!console_write(*handle, "j\r", 2, engine_abort_flag()))
        return text_no_reset;
    // Abort during the wait means nothing is flashed; once avrdude runs it
    // is left to finish, as stopping it could leave the board without
    // firmware.
    if (!wait_for_bootloader())
        return text_not_flashed;
    const char *configured = request->bootloader_port ? request->bootloader_port : "";
    std::string port =
        maintenance_find_bootloader_port(configured, ports_before, bootloader_extra_wait_ms);
    if (engine_abort_requested())
        return text_not_flashed;
    if (port.empty())
        return engine_text_no_bootloader_port;
    if (ui && ui->log_line) {
        char *line = g_strdup_printf("Bootloader port: %s\n", port.c_str());
        ui->log_line(ui->user, line, 0);
        g_free(line);
    }
    return run_avrdude(request, port.c_str());
}

}  // namespace

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

std::string maintenance_find_bootloader_port(const char *configured,
                                             const std::vector<std::string> &before,
                                             int wait_ms)
{
    gint64 end = g_get_monotonic_time() + (gint64)wait_ms * 1000;
    for (;;) {
        if (port_exists(configured))
            return configured;
        std::vector<std::string> fresh = detect_new_ports(before, detect_list_ports());
        if (!fresh.empty())
            return fresh[0];
        if (g_get_monotonic_time() >= end || engine_abort_requested())
            return configured;
        g_usleep(abort_check_us * 5);
    }
}

int engine_update_firmware(const engine_ui *ui, const engine_update_request *request)
{
    gint64 start = g_get_monotonic_time();
    int handle = -1;
    // The board's port stays open while avrdude runs.
    const char *failure = update(ui, request, &handle);
    if (handle >= 0)
        serial_disconnect_port(handle);
    engine_outcome outcome = {};
    outcome.elapsed_seconds = (g_get_monotonic_time() - start) / 1e6;
    outcome.kind = engine_abort_requested() ? ENGINE_ABORTED
                   : failure                ? ENGINE_FAILED
                                            : ENGINE_SUCCEEDED;
    if (outcome.kind == ENGINE_FAILED)
        outcome.failure = failure;
    if (ui && ui->finished)
        ui->finished(ui->user, &outcome);
    return outcome.kind == ENGINE_SUCCEEDED;
}
