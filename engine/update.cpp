// Firmware update through the board's bootloader and avrdude.
#include "engine/update.h"

#include "engine/input_file.h"

#include "device/console.h"
#include "device/detect.h"
#include "device/firmware.h"
#include "device/serial.h"

#include <glib/gi18n.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The 32U4's 32 KiB of flash take about 90 KB of Intel HEX; a file much
// larger is not firmware for this board.
const goffset hex_size_limit = 1024 * 1024;

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

// In avrdude's child before exec: its messages all come through the one
// pipe, and Ctrl+C on a terminal, which goes to the whole foreground group,
// does not stop it halfway (that could leave the board without firmware).
void avrdude_child_setup(gpointer own_group)
{
    if (own_group)
        setpgid(0, 0);
    dup2(STDOUT_FILENO, STDERR_FILENO);
}

void log_text(const engine_ui *ui, const std::string &line)
{
    if (ui && ui->log_line)
        ui->log_line(ui->user, (line + "\n").c_str(), 0);
}

// Logs every line avrdude writes until it closes its output.
void log_avrdude_output(const engine_ui *ui, int fd)
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, (size_t)n);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            log_text(ui, line);
        }
    }
    if (!pending.empty())
        log_text(ui, pending);
}

// Runs avrdude in `folder` to its end; ENGINE_ERROR_NONE or the failure.
engine_error run_avrdude(const engine_ui *ui, const engine_update_request *request,
                          const char *folder, const char *port)
{
    // An argument vector: a port name with spaces or quotes stays one
    // argument.
    char **argv = maintenance_avrdude_argv(port);
    GPid pid = 0;
    int out = -1;
    GError *error = nullptr;
    gboolean started = g_spawn_async_with_pipes(
        folder, argv, nullptr, (GSpawnFlags)(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD),
        avrdude_child_setup, request->keep_ctrl_c_off_avrdude ? (gpointer)1 : nullptr, &pid,
        nullptr, &out, nullptr, &error);
    g_strfreev(argv);
    if (!started) {
        g_clear_error(&error);
        return ENGINE_ERROR_AVRDUDE_NOT_STARTED;
    }
    log_avrdude_output(ui, out);
    close(out);
    int wait_status = 0;
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    g_spawn_close_pid(pid);
#if GLIB_CHECK_VERSION(2, 70, 0)
    gboolean exited_fine = g_spawn_check_wait_status(wait_status, nullptr);
#else
    gboolean exited_fine = g_spawn_check_exit_status(wait_status, nullptr);
#endif
    return exited_fine ? ENGINE_ERROR_NONE : ENGINE_ERROR_AVRDUDE_FAILED;
}

bool has_hex_file(const engine_update_request *request)
{
    return request->hex_file && *request->hex_file;
}

// The image to flash into *text; ENGINE_ERROR_NONE or why not.  The file is looked at
// before it is read: a FIFO or a device would block or never end.
engine_error load_image(const engine_update_request *request, std::string *text)
{
    if (!has_hex_file(request)) {
        if (firmware_is_test_image)
            return ENGINE_ERROR_NO_BOARD_FIRMWARE;
        text->assign(firmware);
        return ENGINE_ERROR_NONE;
    }
    // Small enough to read at once, so no abort test: the window checks
    // before its job starts, while the flag may still hold the last abort.
    long long size = 0;
    char *message = nullptr;
    engine_input_result input =
        engine_read_input_file(request->hex_file, hex_size_limit, text, &size, &message, nullptr);
    g_free(message);
    switch (input) {
    case ENGINE_INPUT_READ:
        break;
    case ENGINE_INPUT_NOT_REGULAR:
        return ENGINE_ERROR_HEX_NOT_REGULAR;
    case ENGINE_INPUT_TOO_LARGE:
        return ENGINE_ERROR_HEX_TOO_LARGE;
    default:
        return ENGINE_ERROR_HEX_UNREADABLE;
    }
    // Text records up to the end record.
    size_t first = text->find_first_not_of(" \t\r\n");
    if (first == std::string::npos || (*text)[first] != ':' ||
        text->find(":00000001FF") == std::string::npos)
        return ENGINE_ERROR_HEX_NOT_INTEL;
    return ENGINE_ERROR_NONE;
}

engine_error update(const engine_ui *ui, const engine_update_request *request,
                    const char *folder, int *handle)
{
    // The bootloader shows up as a port of its own after "j"; what exists
    // before tells it apart.
    std::vector<std::string> ports_before = detect_list_ports();
    if (!request->port || !*request->port ||
        !serial_connect_and_configure_port(handle, request->port))
        return ENGINE_ERROR_NO_PORT;
    if (!console_synch_with_device(*handle, engine_abort_flag()))
        return ENGINE_ERROR_SYNC;
    if (!console_write(*handle, "j\r", 2, engine_abort_flag()))
        return ENGINE_ERROR_NO_RESET;
    // Abort during the wait means nothing is flashed; once avrdude runs it
    // is left to finish, as stopping it could leave the board without
    // firmware.
    if (!wait_for_bootloader())
        return ENGINE_ERROR_NOT_FLASHED;
    const char *configured = request->bootloader_port ? request->bootloader_port : "";
    std::string port =
        maintenance_find_bootloader_port(configured, ports_before, bootloader_extra_wait_ms);
    if (engine_abort_requested())
        return ENGINE_ERROR_NOT_FLASHED;
    // avrdude would wait on a missing port or take a file of that name.
    if (!port_exists(port.c_str()))
        return ENGINE_ERROR_NO_BOOTLOADER_PORT;
    log_text(ui, "Bootloader port: " + port);
    return run_avrdude(ui, request, folder, port.c_str());
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

engine_error engine_update_problem(const engine_update_request *request)
{
    std::string text;
    return load_image(request, &text);
}

char *engine_update_question(const engine_update_request *request)
{
    char *file = has_hex_file(request)
                     ? g_strdup(request->hex_file)
                     : g_strdup_printf("the carried firmware v%d.%d.%d (%s)",
                                       FIRMWARE_VERSION_MAJOR, FIRMWARE_VERSION_MINOR,
                                       FIRMWARE_VERSION_PATCH, firmware_source_name);
    char *question = g_strdup_printf("Flash %s onto the board at %s?", file,
                                     request->port ? request->port : "");
    g_free(file);
    return question;
}

// Asks, then flashes from a folder of its own: avrdude reads the image
// under a plain name from its working folder.
static engine_error confirm_and_update(const engine_ui *ui,
                                       const engine_update_request *request, int *handle)
{
    std::string image;
    if (engine_error problem = load_image(request, &image))
        return problem;
    char *question = engine_update_question(request);
    int yes = ui && ui->ask && ui->ask(ui->user, ENGINE_ASK_FLASH_FIRMWARE, question);
    g_free(question);
    if (!yes)
        return ENGINE_ERROR_FLASH_NOT_CONFIRMED;
    if (engine_abort_requested())
        return ENGINE_ERROR_NOT_FLASHED;
    char *folder = g_dir_make_tmp("dravlen-update-XXXXXX", nullptr);
    if (!folder)
        return ENGINE_ERROR_NO_FOLDER;
    char *path = g_build_filename(folder, firmware_file_name, nullptr);
    engine_error failure = g_file_set_contents(path, image.data(), (gssize)image.size(), nullptr)
                               ? update(ui, request, folder, handle)
                               : ENGINE_ERROR_NO_FOLDER;
    g_unlink(path);
    g_rmdir(folder);
    g_free(path);
    g_free(folder);
    return failure;
}

int engine_update_firmware(const engine_ui *ui, const engine_update_request *request)
{
    gint64 start = g_get_monotonic_time();
    int handle = -1;
    // The board's port stays open while avrdude runs.
    engine_error failure = confirm_and_update(ui, request, &handle);
    if (handle >= 0)
        serial_disconnect_port(handle);
    engine_outcome outcome = {};
    outcome.elapsed_seconds = (g_get_monotonic_time() - start) / 1e6;
    outcome.kind = engine_abort_requested() ? ENGINE_ABORTED
                   : failure                ? ENGINE_FAILED
                                            : ENGINE_SUCCEEDED;
    if (outcome.kind == ENGINE_FAILED) {
        outcome.error = failure;
        outcome.failure = engine_error_text(failure);
    }
    if (ui && ui->finished)
        ui->finished(ui->user, &outcome);
    return outcome.kind == ENGINE_SUCCEEDED;
}
