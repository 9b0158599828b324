// GUI side of running one device job on a worker thread: the controls that
// are locked while it runs, Abort, the start sequence, the timer, the
// finisher steps and the idle helpers through which workers reach the GUI.
#pragma once

#include <glib.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <functional>

#include "engine/operation_state.h"
#include "engine/engine.h"

// Timer of the running operation, or null.
extern GTimer *tmr;

// 1: idle (controls usable, Abort insensitive); 0: an operation runs.
void controls_enable(int state);

int combo_active_drive_get_index(void);
int checkbox_pre_initialize_disk_get_active(void);
int spinbutton_max_sector_error_count_get_value(void);
int spinbutton_sector_read_retry_get_value(void);
int spinbutton_outmost_track_get_value(void);

void controls_set_accessible_sector_error_count(int count);
void controls_increase_accessible_sector_error_count(void);
void controls_decrease_accessible_sector_error_count(void);

// Idle callbacks (one-shot): queue them with operation_idle_add.
gboolean idle_progressbar_update(gpointer data);
gboolean idle_set_accessible_sector_error_count(gpointer count);
gboolean idle_increase_accessible_sector_error_count(gpointer data);
gboolean idle_decrease_accessible_sector_error_count(gpointer data);

// Queues a one-shot callback on the GUI thread (GDK lock held while it runs);
// callbacks run in the order they were queued.  Safe from any thread.
void operation_idle_add(GSourceFunc function, gpointer data);
// Worker side: runs `body` on the GUI thread (a dialog, say) and waits until
// it has run.  `post` queues `runner` with the call, behind what the worker
// queued before; the runner hands it to operation_run_waiting_call, at once
// or from where it must run.
void operation_run_on_gui_and_wait(void (*post)(GSourceFunc, gpointer), GSourceFunc runner,
                                   std::function<void()> body);
// GUI side: runs a waiting call (`data`) and wakes its worker.
gboolean operation_run_waiting_call(gpointer data);
// Formats a line on a worker and queues it for both logs.
void log_queue_printf(const char *format, ...) G_GNUC_PRINTF(1, 2);
// Queues a sector grid cell event (paint and log line) from a worker.
void sector_grid_queue_cell(int track, int sector, uint8_t checksum, int code);

// Worker prologue shared by every device job: opens the device port and waits
// for the prompt; a drive from 8 to 11 must answer too (0: the board
// alone).  Returns the handle, or -1 after queueing `finisher` with the
// failure text ("Unable to access communication port to device", "Unable
// to sync with device" or "Device not present").
int operation_open_port_and_sync(GSourceFunc finisher, int device);
// Worker side: queues log lines telling which ports answer as the board,
// so that a wrong or renamed device port setting can be put right.
void operation_log_visible_ports(void);
// Worker epilogue: closes the port, then queues the finisher.
void operation_close_and_finish(int handle, GSourceFunc finisher, const char *failure);

// Worker side: stores the fraction under lock_ped and queues the bar update.
void operation_report_progress(double fraction);

// Start step 1: refuses an empty device port with " Error: Invalid device port".
int operation_check_device_port(void);

struct operation_start_info {
    const char *status_text;   // already formatted and translated
    const char *log_title;     // e.g. "Initializing drive\n"; null when already logged
    int with_progress;         // show and reset the progress bar
    int with_timer;            // create tmr
    const char *thread_name;
    void (*worker)(void);
    void (*undo)(void);        // on thread start failure, after the common steps; may be null
};

// Start steps 3 to 8.  Returns 1 when the worker runs, 0 when its thread
// could not be created (the controls are usable again).
int operation_start(const operation_start_info *info);

// Creates and detaches a named worker thread; replaceable for tests.
extern int (*operation_thread_create)(const char *name, void (*worker)(void), GError **error);
int operation_thread_create_default(const char *name, void (*worker)(void), GError **error);

enum operation_outcome { OPERATION_ABORTED, OPERATION_FAILED, OPERATION_SUCCEEDED };

// Finisher steps 1 to 3 for the aborted and failed outcomes: stops tmr and
// decides (abort first).  Aborted and failed are reported here (status bar
// with `aborted_text` or `failed_format` filled with the failure text, and
// the log word); on success the caller reports its result, then calls
// operation_log_completed.
operation_outcome operation_finish_decide(const char *failure, const char *aborted_text,
                                          const char *failed_format);
void operation_log_completed(void);
// Elapsed seconds of tmr (0 without a timer).
double operation_elapsed_seconds(void);
// Finisher step 5: destroys tmr, drops the per-disk log, re-enables controls.
void operation_finish_cleanup(void);

// The GUI's side of the engine for a worker: log lines and progress become
// the idle calls workers queue, and the end of the operation queues
// `finisher` with the failure text (null unless it failed).
engine_ui operation_engine_ui(GSourceFunc finisher);

// The generic one-command job (initialise, reset drive, reset bus, scratch,
// validate, format, fast format): sends ped.command for ped.device.
void thread_console_cmd_execute(void);
gboolean idle_finish_cmd_execution(gpointer failure);
// Starts the generic command `command` on the selected drive.
int core_console_cmd_execute(const char *command, const char *thread_name,
                             const char *status_text, const char *log_title);

// The Abort button: asks the running operation to stop.
void on_button_abort_operation_clicked(GtkButton *button, gpointer data);
