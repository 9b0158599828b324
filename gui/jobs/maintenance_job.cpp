#include "gui/jobs/maintenance_job.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstdarg>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "device/firmware.h"
#include "engine/update.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/window_main.h"

#include <string>

namespace {

// The short jobs' side of the engine: the window frames the job and shows
// its result; a port that cannot be opened gets the ports that answer.
// The worker's buffer for the device's answer, and the finisher to queue.
struct short_job_run {
    GSourceFunc finisher;
    char text[ENGINE_STATUS_SIZE];
};

// What the finisher gets (and frees): the failure text, if any, and the
// answer, both copied while the worker still holds them.
struct short_job_result {
    bool failed;
    std::string failure;
    std::string text;
};

void short_job_finished(void *user, const engine_outcome *outcome)
{
    auto *run = static_cast<short_job_run *>(user);
    auto *result = new short_job_result{outcome->kind == ENGINE_FAILED, "", run->text};
    if (result->failed && outcome->failure)
        result->failure = outcome->failure;
    if (outcome->kind == ENGINE_FAILED && outcome->error == ENGINE_ERROR_NO_PORT)
        operation_log_visible_ports();
    operation_idle_add(run->finisher, result);
}

engine_ui short_job_ui(short_job_run *run)
{
    run->text[0] = 0;
    engine_ui ui = operation_engine_ui(run->finisher);
    ui.user = run;
    ui.finished = short_job_finished;
    return ui;
}

// Decides a short job's end (abort first); the caller frees the result.
operation_outcome short_job_decide(const short_job_result *result, const char *aborted_text,
                                   const char *failed_format)
{
    return operation_finish_decide(result->failed ? result->failure.c_str() : nullptr,
                                   aborted_text, failed_format);
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

// The firmware file chosen for the update that runs; empty: the carried image.
std::string update_hex_file;

engine_update_request update_request(void)
{
    return {options_device_port_string, options_bootloader_port_string, update_hex_file.c_str(),
            false};
}

// The window asked the engine's question before the worker started.
int already_confirmed(void *, engine_question, const char *)
{
    return 1;
}

// The GUI's side of the update worker: the bootloader port line and the
// finisher, in the order they come.
void queue_update_log_line(void *, const char *line, int)
{
    log_queue_printf("%s", line);
}

void queue_update_finisher(void *, const engine_outcome *outcome)
{
    if (outcome->error == ENGINE_ERROR_NO_PORT)
        operation_log_visible_ports();
    operation_idle_add(idle_finish_device_update, const_cast<char *>(outcome->failure));
}

}  // namespace

// ---------------------------------------------------------------- version

void thread_receive_firmware_version(void)
{
    short_job_run run = {idle_finish_firmware_version_receipt, {}};
    engine_ui ui = short_job_ui(&run);
    engine_read_firmware_version(&ui, options_device_port_string, run.text);
}

gboolean idle_finish_firmware_version_receipt(gpointer data)
{
    auto *result = static_cast<short_job_result *>(data);
    if (short_job_decide(result, _(" Firmware version reading aborted"),
                         _(" Firmware version reading failed: %s")) == OPERATION_SUCCEEDED) {
        char *version = displayable(result->text.c_str());
        show_status_printf(_(" Firmware version: v%s (%s)"), version,
                           _(firmware_version_verdict(result->text.c_str())));
        char *line = g_strdup_printf("%s\n", version);
        log_textview_append(line);
        g_free(line);
        g_free(version);
        operation_log_completed();
    }
    operation_finish_cleanup();
    delete result;
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

void thread_reset_device(void)
{
    short_job_run run = {idle_finish_device_reset, {}};
    engine_ui ui = short_job_ui(&run);
    engine_reset_into_bootloader(&ui, options_device_port_string);
}

gboolean idle_finish_device_reset(gpointer data)
{
    auto *result = static_cast<short_job_result *>(data);
    if (short_job_decide(result, _(" Device reset aborted"), _(" Device reset failed: %s")) ==
        OPERATION_SUCCEEDED) {
        statusbar_main_update(_(" Device reset succeeded"));
        operation_log_completed();
    }
    operation_finish_cleanup();
    delete result;
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
    engine_ui ui = {};
    ui.log_line = queue_update_log_line;
    ui.finished = queue_update_finisher;
    ui.ask = already_confirmed;
    engine_update_request request = update_request();
    engine_update_firmware(&ui, &request);
}

gboolean idle_finish_device_update(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure), _(" Firmware update aborted"),
                                _(" Firmware update failed: %s")) == OPERATION_SUCCEEDED) {
        statusbar_main_update(_(" Firmware update succeeded"));
        operation_log_completed();
    }
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
    // A build without the board's firmware flashes only a file the user names.
    update_hex_file.clear();
    if (firmware_is_test_image) {
        char *path = nullptr;
        if (!fileopen_load_firmware_file(&path))
            return;
        update_hex_file = path;
        g_free(path);
    }
    engine_update_request request = update_request();
    if (engine_error problem = engine_update_problem(&request)) {
        show_status_printf(_(" Firmware update failed: %s"), _(engine_error_text(problem)));
        return;
    }
    char *question = engine_update_question(&request);
    char *markup = g_markup_escape_text(question, -1);
    gboolean yes = get_user_confirmation(markup);
    g_free(markup);
    g_free(question);
    if (!yes)
        return;
    operation_start_info info = {_(" Firmware update requested"), "Updating device firmware\n", 0,
                                 0, "update", thread_update_device, nullptr};
    operation_start(&info);
}

// ---------------------------------------------------------------- error channel

void thread_receive_status_message(void)
{
    short_job_run run = {idle_finish_drive_status_receipt, {}};
    engine_ui ui = short_job_ui(&run);
    engine_read_drive_status(&ui, options_device_port_string, ped.device, run.text, true);
}

gboolean idle_finish_drive_status_receipt(gpointer data)
{
    auto *result = static_cast<short_job_result *>(data);
    if (short_job_decide(result, _(" Status reading aborted: please wait for the drive to finish"),
                         _(" Status reading failed: %s")) == OPERATION_SUCCEEDED) {
        char *status = displayable(result->text.c_str());
        show_status_printf(_(" Status read in %.2lf seconds: %s"), operation_elapsed_seconds(),
                           status);
        char *line = g_strdup_printf("%s\n", status);
        log_textview_append(line);
        g_free(line);
        g_free(status);
        operation_log_completed();
    }
    operation_finish_cleanup();
    delete result;
    return FALSE;
}

void on_menuitem_query_error_channel_activate(GtkMenuItem *, gpointer)
{
    start_drive_job(_(" Status requested on drive %d"), "Reading disk status\n", "status",
                    thread_receive_status_message);
}
