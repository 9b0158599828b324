// Short device jobs: firmware version and the drives that answer, the error
// channel, drive commands and resets.
#include "engine/engine.h"

#include "device/console.h"
#include "device/firmware.h"
#include "device/serial.h"
#include "engine/update.h"

#include <cstdarg>
#include <cstring>
#include <string>

namespace {

// One running operation: its user, its start time and its port.  A quiet
// job leaves the framing (separator, title, last word) and the showing of
// its result to the front end.
struct job {
    const engine_ui *ui;
    gint64 start_us;
    int handle;
    bool quiet = false;
};

void log_line(const job &j, const char *line)
{
    if (j.ui && j.ui->log_line)
        j.ui->log_line(j.ui->user, line, 0);
}

void log_printf(const job &j, const char *format, ...) G_GNUC_PRINTF(2, 3);
void log_printf(const job &j, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    log_line(j, text);
    g_free(text);
}

// Opens the port and waits for the prompt; ENGINE_ERROR_NONE or the failure.
// A device from 8 to 11 must answer too (engine_sync_with_drive); 0: the
// board alone.
engine_error open_and_sync(job *j, const char *port, const char *title, int device = 0)
{
    j->start_us = g_get_monotonic_time();
    j->handle = -1;
    if (!j->quiet) {
        log_line(*j, "================================\n");
        log_line(*j, title);
    }
    if (!port || !*port || !serial_connect_and_configure_port(&j->handle, port))
        return ENGINE_ERROR_NO_PORT;
    return engine_sync_with_drive(j->handle, device);
}

// Closes the port and reports the outcome, abort first.  1 on success.
int finish(job *j, engine_error failure)
{
    if (j->handle >= 0)
        engine_close_port(j->ui, j->handle);
    j->handle = -1;
    engine_outcome outcome = {};
    outcome.elapsed_seconds = (g_get_monotonic_time() - j->start_us) / 1e6;
    const char *word;
    if (engine_abort_requested()) {
        outcome.kind = ENGINE_ABORTED;
        word = "Aborted\n";
    } else if (failure) {
        outcome.kind = ENGINE_FAILED;
        outcome.error = failure;
        outcome.failure = engine_error_text(failure);
        word = "Failed\n";
    } else {
        outcome.kind = ENGINE_SUCCEEDED;
        word = "Completed\n";
    }
    if (!j->quiet)
        log_line(*j, word);
    if (j->ui && j->ui->finished)
        j->ui->finished(j->ui->user, &outcome);
    return outcome.kind == ENGINE_SUCCEEDED;
}

}  // namespace

// Drive texts are PETSCII-ish bytes; the user wants one readable line.
void engine_make_printable(char *text)
{
    for (char *p = text; *p; p++)
        if ((unsigned char)*p < 0x20 || (unsigned char)*p >= 0x7f)
            *p = '?';
}

int engine_read_board_info(const engine_ui *ui, const char *port, engine_board_info *info)
{
    memset(info, 0, sizeof *info);
    info->verdict = "";
    for (int &p : info->present)
        p = -1;
    job j = {ui, 0, -1};
    engine_error failure = open_and_sync(&j, port, "Reading firmware version\n");
    int prompt_taken = 0;
    if (!failure)
        failure = engine_error_from_console(console_request_version(
            j.handle, info->version, sizeof info->version, engine_abort_flag(), &prompt_taken));
    if (failure)
        return finish(&j, failure);
    // The rest of the version line and the prompt stand between us and the
    // next command; a firmware without "v" left only the prompt's space.
    char space;
    if (prompt_taken ? !console_read(j.handle, &space, 1, engine_abort_flag())
                     : !console_synch_with_device(j.handle, engine_abort_flag()))
        return finish(&j, prompt_taken ? ENGINE_ERROR_COMMUNICATION : ENGINE_ERROR_SYNC);
    info->verdict = firmware_version_verdict(info->version);
    log_printf(j, "%s\n", info->version);
    // A drive that is there answers on its error channel; "NP" says it is not.
    for (int device = ENGINE_FIRST_DEVICE; device <= ENGINE_LAST_DEVICE && !failure; device++) {
        int i = device - ENGINE_FIRST_DEVICE;
        console_error f = console_request_status(j.handle, device, info->status[i],
                                                 sizeof info->status[i], engine_abort_flag());
        if (f == CONSOLE_ERROR_DEVICE_NOT_PRESENT) {
            info->present[i] = 0;
            log_printf(j, "Drive %d: not present\n", device);
        } else if (f) {
            failure = engine_error_from_console(f);
        } else {
            info->present[i] = 1;
            engine_make_printable(info->status[i]);
            log_printf(j, "Drive %d: %s\n", device, info->status[i]);
        }
        // The monitor shows its prompt after every command.
        if (!failure && !console_synch_with_device(j.handle, engine_abort_flag()))
            failure = ENGINE_ERROR_SYNC;
    }
    return finish(&j, failure);
}

int engine_read_firmware_version(const engine_ui *ui, const char *port, char *version)
{
    version[0] = 0;
    job j = {ui, 0, -1, true};
    engine_error failure = open_and_sync(&j, port, "");
    if (!failure)
        failure = engine_error_from_console(
            console_request_version(j.handle, version, ENGINE_VERSION_SIZE, engine_abort_flag()));
    return finish(&j, failure);
}

int engine_reset_into_bootloader(const engine_ui *ui, const char *port)
{
    job j = {ui, 0, -1, true};
    engine_error failure = open_and_sync(&j, port, "");
    if (!failure && !console_write(j.handle, "j\r", 2, engine_abort_flag()))
        failure = ENGINE_ERROR_NO_RESET;
    return finish(&j, failure);
}

int engine_read_drive_status(const engine_ui *ui, const char *port, int device, char *status,
                             bool quiet)
{
    status[0] = 0;
    job j = {ui, 0, -1, quiet};
    engine_error failure = open_and_sync(&j, port, "Reading disk status\n");
    if (!failure)
        failure = engine_error_from_console(console_request_status(
            j.handle, device, status, ENGINE_STATUS_SIZE, engine_abort_flag()));
    if (!failure && !quiet) {
        engine_make_printable(status);
        log_printf(j, "%s\n", status);
    }
    return finish(&j, failure);
}

const char *engine_drive_command_problem(const char *text)
{
    if (!text || !*text)
        return "the drive command is empty";
    if (strpbrk(text, "\r\n"))
        return "the drive command holds a line break";
    if (strchr(text, '"'))
        return "the drive command holds a quote";
    // "dc \"TEXT\" 11\r\n" must fit the monitor's 256-byte line.
    if (strlen(text) > 256 - strlen("dc \"\" 11\r\n"))
        return "the drive command is too long";
    return nullptr;
}

int engine_drive_command(const engine_ui *ui, const char *port, int device, const char *text,
                         char *status)
{
    status[0] = 0;
    job j = {ui, 0, -1};
    engine_error failure = open_and_sync(&j, port, "Sending drive command\n", device);
    if (failure)
        return finish(&j, failure);
    if (engine_drive_command_problem(text))
        return finish(&j, ENGINE_ERROR_REQUEST_COMMAND);
    log_printf(j, "%s\n", text);
    std::string word = std::string("dc \"") + text + "\"";
    char answer[2];
    engine_allow_long_silence(j.handle);  // a format or a validate takes its time
    failure = engine_error_from_console(
        console_process_command(j.handle, device, word.c_str(), engine_abort_flag(), answer));
    // A refused command leaves its reason on the error channel; the monitor
    // shows its prompt after the answer, so the channel can still be read.
    bool answered = !failure || (answer[0] != ' ' && failure != ENGINE_ERROR_DEVICE_NOT_PRESENT);
    if (failure && answered && !console_synch_with_device(j.handle, engine_abort_flag()))
        answered = false;
    if (answered) {
        console_error f = console_request_status(j.handle, device, status, ENGINE_STATUS_SIZE,
                                                 engine_abort_flag());
        if (!f) {
            engine_make_printable(status);
            log_printf(j, "%s\n", status);
        } else if (!failure) {
            failure = engine_error_from_console(f);
        }
    }
    return finish(&j, failure);
}

static int process_simple(const engine_ui *ui, const char *port, int device, const char *word,
                          const char *title)
{
    job j = {ui, 0, -1};
    engine_error failure = open_and_sync(&j, port, title, device);
    if (!failure)
        failure = engine_error_from_console(
            console_process_command(j.handle, device, word, engine_abort_flag()));
    return finish(&j, failure);
}

int engine_reset_drive(const engine_ui *ui, const char *port, int device)
{
    return process_simple(ui, port, device, "rs", "Resetting drive\n");
}

int engine_reset_bus(const engine_ui *ui, const char *port, int device)
{
    return process_simple(ui, port, device, "rb", "Resetting IEC bus\n");
}
