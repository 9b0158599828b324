#include "gui/jobs/operation.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "gui/windows/log.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

#include "engine/options.h"

#include "device/console.h"
#include "device/serial.h"
#include "engine/drive_files.h"

GTimer *tmr = nullptr;


static const char *const locked_controls[] = {
    "menuitem_configuration",
    "menuitem_firmware",
    "menuitem_tools",
    "menuitem_special_dumps",
    "combobox_drive",
    "button_save_image_to_D64",
    "checkbutton_disk_dump_auto_naming",
    "spinbutton_disk_dump_auto_naming_offset",
    "radiobutton_disk_dump_auto_naming_side_a",
    "radiobutton_disk_dump_auto_naming_side_b",
    "spinbutton_max_sector_errors",
    "spinbutton_sector_read_retries",
    "spinbutton_outmost_track",
    "checkbutton_pre_initialize_disk",
    "button_load_image_from_D64",
    "button_directory",
    "button_save_PRG",
    "button_load_PRG",
    "button_scratch_file",
    "button_validate_disk",
    "button_format_disk",
};

void controls_enable(int state)
{
    operation_set_running(state != 1);
    gtk_image_set_from_stock(GTK_IMAGE(lookup_widget(window_main, "image_overall_status")),
                             state == 1 ? "gtk-yes" : "gtk-no", GTK_ICON_SIZE_BUTTON);
    for (const char *name : locked_controls)
        gtk_widget_set_sensitive(lookup_widget(window_main, name), state == 1);
    gtk_widget_set_sensitive(lookup_widget(window_main, "button_abort_operation"), state != 1);
}

void on_button_abort_operation_clicked(GtkButton *, gpointer)
{
    flag_abort_requested.store(1, std::memory_order_relaxed);
}

int combo_active_drive_get_index(void)
{
    return gtk_combo_box_get_active(GTK_COMBO_BOX(lookup_widget(window_main, "combobox_drive")));
}

int checkbox_pre_initialize_disk_get_active(void)
{
    return gtk_toggle_button_get_active(
        GTK_TOGGLE_BUTTON(lookup_widget(window_main, "checkbutton_pre_initialize_disk")));
}

static int spin_value(const char *name)
{
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(lookup_widget(window_main, name)));
}

int spinbutton_max_sector_error_count_get_value(void)
{
    return spin_value("spinbutton_max_sector_errors");
}

int spinbutton_sector_read_retry_get_value(void)
{
    return spin_value("spinbutton_sector_read_retries");
}

int spinbutton_outmost_track_get_value(void)
{
    return spin_value("spinbutton_outmost_track");
}

void controls_set_accessible_sector_error_count(int count)
{
    char text[16];
    g_snprintf(text, sizeof text, "%d", count);
    gtk_label_set_text(GTK_LABEL(lookup_widget(window_main, "label_sector_errors_count")), text);
}

// The label's number, or 0 when it does not hold one.
static int error_count_label_value(int *value)
{
    const char *text =
        gtk_label_get_text(GTK_LABEL(lookup_widget(window_main, "label_sector_errors_count")));
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end || v < 0 || v > G_MAXINT - 1)
        return 0;
    *value = (int)v;
    return 1;
}

void controls_increase_accessible_sector_error_count(void)
{
    int value;
    if (error_count_label_value(&value))
        controls_set_accessible_sector_error_count(value + 1);
}

void controls_decrease_accessible_sector_error_count(void)
{
    int value;
    if (error_count_label_value(&value) && value > 0)
        controls_set_accessible_sector_error_count(value - 1);
}

gboolean idle_progressbar_update(gpointer)
{
    double fraction = ped_get_progress();
    if (fraction <= 1.0 && fraction >= 0.0) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progressbar_main), fraction);
        if (fraction == 1.0)
            gtk_widget_hide(progressbar_main);
    }
    return FALSE;
}

gboolean idle_set_accessible_sector_error_count(gpointer count)
{
    controls_set_accessible_sector_error_count(GPOINTER_TO_INT(count));
    return FALSE;
}

gboolean idle_increase_accessible_sector_error_count(gpointer)
{
    controls_increase_accessible_sector_error_count();
    return FALSE;
}

gboolean idle_decrease_accessible_sector_error_count(gpointer)
{
    controls_decrease_accessible_sector_error_count();
    return FALSE;
}

void operation_idle_add(GSourceFunc function, gpointer data)
{
    gdk_threads_add_idle(function, data);
}

namespace {
struct waiting_call {
    std::function<void()> body;
    GMutex lock;
    GCond cond;
    bool done = false;
};
}  // namespace

gboolean operation_run_waiting_call(gpointer data)
{
    auto *call = static_cast<waiting_call *>(data);
    call->body();
    g_mutex_lock(&call->lock);
    call->done = true;
    g_cond_signal(&call->cond);
    g_mutex_unlock(&call->lock);
    return FALSE;
}

void operation_run_on_gui_and_wait(void (*post)(GSourceFunc, gpointer), GSourceFunc runner,
                                   std::function<void()> body)
{
    waiting_call call;
    call.body = std::move(body);
    g_mutex_init(&call.lock);
    g_cond_init(&call.cond);
    post(runner, &call);
    g_mutex_lock(&call.lock);
    while (!call.done)
        g_cond_wait(&call.cond, &call.lock);
    g_mutex_unlock(&call.lock);
    g_cond_clear(&call.cond);
    g_mutex_clear(&call.lock);
}

void operation_report_progress(double fraction)
{
    ped_set_progress(fraction);
    operation_idle_add(idle_progressbar_update, nullptr);
}

int operation_check_device_port(void)
{
    if (options_device_port_string && *options_device_port_string)
        return 1;
    statusbar_main_update(_(" Error: Invalid device port"));
    return 0;
}

namespace {
struct thread_start {
    void (*worker)(void);
};

gpointer thread_trampoline(gpointer data)
{
    auto *start = static_cast<thread_start *>(data);
    void (*worker)(void) = start->worker;
    g_free(start);
    worker();
    return nullptr;
}
}  // namespace

int operation_thread_create_default(const char *name, void (*worker)(void), GError **error)
{
    auto *start = g_new(thread_start, 1);
    start->worker = worker;
    GThread *thread = g_thread_try_new(name, thread_trampoline, start, error);
    if (!thread) {
        g_free(start);
        return 0;
    }
    g_thread_unref(thread);  // runs detached
    return 1;
}

int (*operation_thread_create)(const char *, void (*)(void), GError **) =
    operation_thread_create_default;

int operation_start(const operation_start_info *info)
{
    statusbar_main_update(info->status_text);
    if (info->log_title) {  // null: the handler has logged them already
        log_textview_append("================================\n");
        log_textview_append(info->log_title);
    }
    if (info->with_progress) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progressbar_main), 0.0);
        gtk_widget_show(progressbar_main);
        ped_set_progress(0.0);
    }
    controls_enable(0);
    flag_abort_requested.store(0, std::memory_order_relaxed);
    if (tmr)
        g_timer_destroy(tmr);
    tmr = info->with_timer ? g_timer_new() : nullptr;

    GError *error = nullptr;
    if (operation_thread_create(info->thread_name, info->worker, &error))
        return 1;

    char *text = g_strdup_printf(_(" Failed: %s"), error ? error->message : "");
    statusbar_main_update(text);
    g_free(text);
    log_textview_append("Failed to start thread\n");
    g_clear_error(&error);
    if (tmr) {
        g_timer_destroy(tmr);
        tmr = nullptr;
    }
    log_warpsave_delete();
    if (info->undo)
        info->undo();
    if (info->with_progress)
        gtk_widget_hide(progressbar_main);
    controls_enable(1);
    return 0;
}

operation_outcome operation_finish_decide(const char *failure, const char *aborted_text,
                                          const char *failed_format)
{
    if (tmr)
        g_timer_stop(tmr);
    if (flag_abort_requested.load(std::memory_order_relaxed)) {
        statusbar_main_update(aborted_text);
        log_textview_append("Aborted\n");
        return OPERATION_ABORTED;
    }
    if (failure) {
        char *text = g_strdup_printf(failed_format, failure);
        statusbar_main_update(text);
        g_free(text);
        log_textview_append("Failed\n");
        return OPERATION_FAILED;
    }
    return OPERATION_SUCCEEDED;
}

void operation_log_completed(void)
{
    log_textview_append("Completed\n");
}

double operation_elapsed_seconds(void)
{
    return tmr ? g_timer_elapsed(tmr, nullptr) : 0.0;
}

void operation_finish_cleanup(void)
{
    if (tmr) {
        g_timer_destroy(tmr);
        tmr = nullptr;
    }
    log_warpsave_delete();
    controls_enable(1);
}

gboolean idle_finish_cmd_execution(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure),
                                _(" Command aborted: please wait for the drive to finish"),
                                _(" Command failed: %s")) == OPERATION_SUCCEEDED) {
        char *text =
            g_strdup_printf(_(" Command completed in %.2lf seconds"), operation_elapsed_seconds());
        statusbar_main_update(text);
        g_free(text);
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

// Tells which ports answer as the board, so a wrong or renamed device port
// setting can be put right.
void operation_log_visible_ports(void)
{
    engine_ui ui = operation_engine_ui(nullptr);
    engine_report_visible_ports(&ui);
}

int operation_open_port_and_sync(GSourceFunc finisher, int device)
{
    int handle = -1;
    if (!serial_connect_and_configure_port(&handle, options_device_port_string)) {
        operation_log_visible_ports();
        operation_idle_add(finisher, (gpointer)engine_error_text(ENGINE_ERROR_NO_PORT));
        return -1;
    }
    if (engine_error failure = engine_sync_with_drive(handle, device)) {
        engine_ui ui = operation_engine_ui(nullptr);
        engine_close_port(&ui, handle);
        operation_idle_add(finisher, const_cast<char *>(engine_error_text(failure)));
        return -1;
    }
    return handle;
}

void operation_close_and_finish(int handle, GSourceFunc finisher, const char *failure)
{
    engine_ui ui = operation_engine_ui(nullptr);
    engine_close_port(&ui, handle);
    operation_idle_add(finisher, const_cast<char *>(failure));
}

namespace {

void engine_log_line(void *, const char *line, int)
{
    operation_idle_add(idle_log_warpsave_and_log_textview_append_and_free, g_strdup(line));
}

void engine_progress(void *, double fraction)
{
    operation_report_progress(fraction);
}

void engine_finished(void *user, const engine_outcome *outcome)
{
    // The finisher looks at the abort flag first, as it always did.
    const char *failure = outcome->kind == ENGINE_FAILED ? outcome->failure : nullptr;
    operation_idle_add(reinterpret_cast<GSourceFunc>(user), const_cast<char *>(failure));
}

}  // namespace

engine_ui operation_engine_ui(GSourceFunc finisher)
{
    engine_ui ui = {};
    ui.user = reinterpret_cast<void *>(finisher);
    ui.log_line = engine_log_line;
    ui.progress = engine_progress;
    ui.finished = engine_finished;
    return ui;
}

void thread_console_cmd_execute(void)
{
    engine_ui ui = operation_engine_ui(idle_finish_cmd_execution);
    engine_drive_job job = {options_device_port_string, ped.device, 1, 1};
    engine_drive_dos_command(&ui, &job, ped.command, nullptr, nullptr);
}

int core_console_cmd_execute(const char *command, const char *thread_name,
                             const char *status_text, const char *log_title)
{
    if (!operation_check_device_port())
        return 0;
    // Never cut: a shortened command is another command.
    if (strlen(command) >= sizeof ped.command) {
        statusbar_main_update(_(" Error: Invalid command"));
        return 0;
    }
    int index = combo_active_drive_get_index();
    options_drive_index = index;
    ped.device = index + 8;
    g_strlcpy(ped.command, command, sizeof ped.command);
    operation_start_info info = {status_text, log_title, 0, 1, thread_name,
                                 thread_console_cmd_execute, nullptr};
    return operation_start(&info);
}

void log_queue_printf(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    operation_idle_add(idle_log_warpsave_and_log_textview_append_and_free, text);
}

void sector_grid_queue_cell(int track, int sector, uint8_t checksum, int code)
{
    if (auto *rec = sector_grid_new_cell_record(track, sector, checksum, code))
        operation_idle_add(idle_drawingarea_sector_grid_activate_cell_and_free, rec);
}
