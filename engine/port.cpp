// What every job does with the board's port around its own work: the check
// that the drive is there before anything is read or written (without it, a
// job for an absent drive runs on a bus with no listener and reports no-sync
// sectors, an all-$FF ROM or a write that went nowhere), the longer silence
// of a format, the note in the log when the board stopped answering, and
// the one report of the job's outcome.
#include "engine/engine.h"

#include "device/console.h"
#include "device/serial.h"

engine_error engine_sync_with_drive(int handle, int device)
{
    if (!console_synch_with_device(handle, engine_abort_flag()))
        return ENGINE_ERROR_SYNC;
    if (device < ENGINE_FIRST_DEVICE || device > ENGINE_LAST_DEVICE)
        return ENGINE_ERROR_NONE;
    // Reading the channel clears it; every job reads it afresh when it needs it.
    char status[ENGINE_STATUS_SIZE];
    if (console_error failure = console_request_status(handle, device, status, sizeof status,
                                                       engine_abort_flag()))
        return engine_error_from_console(failure);
    if (!console_synch_with_device(handle, engine_abort_flag()))
        return ENGINE_ERROR_SYNC;
    return ENGINE_ERROR_NONE;
}

void engine_set_silence_limit(double seconds)
{
    serial_set_default_silence_limit((int)(seconds * 1000 + 0.5));
}

void engine_allow_long_silence(int handle)
{
    serial_set_silence_limit(handle, serial_default_silence_limit() * ENGINE_LONG_SILENCE_FACTOR);
}

int engine_finish_job(const engine_ui *ui, gint64 start_us, engine_error failure, bool framed)
{
    engine_outcome outcome = {};
    outcome.elapsed_seconds = (g_get_monotonic_time() - start_us) / 1e6;
    if (engine_abort_requested())
        outcome.kind = ENGINE_ABORTED;
    else if (failure)
        outcome.kind = ENGINE_FAILED;
    else
        outcome.kind = ENGINE_SUCCEEDED;
    if (outcome.kind == ENGINE_FAILED) {
        outcome.error = failure;
        outcome.failure = engine_error_text(failure);
    }
    if (framed && ui && ui->log_line)
        ui->log_line(ui->user,
                     outcome.kind == ENGINE_ABORTED  ? "Aborted\n"
                     : outcome.kind == ENGINE_FAILED ? "Failed\n"
                                                     : "Completed\n",
                     0);
    if (ui && ui->finished)
        ui->finished(ui->user, &outcome);
    return outcome.kind == ENGINE_SUCCEEDED;
}

void engine_close_port(const engine_ui *ui, int handle)
{
    if (handle < 0)
        return;
    if (serial_fell_silent(handle) && !engine_abort_requested() && ui && ui->log_line) {
        char *line = g_strdup_printf("The board stopped answering: nothing came for %.1f s\n",
                                     serial_silence_limit(handle) / 1000.0);
        ui->log_line(ui->user, line, 0);
        g_free(line);
    }
    serial_disconnect_port(handle);
}
