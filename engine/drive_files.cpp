// Drive file operations: what goes over the link for each of them, the
// names they send and the files they save.
#include "engine/drive_files.h"

#include <glib/gi18n.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "device/console.h"
#include "image/petscii.h"
#include "device/detect.h"
#include "device/serial.h"
#include "gcr/warp.h"
#include "image/basic.h"
#include "image/imagefile.h"

namespace {

constexpr int MAX_PROGRESS_LINES = 15;

// One running job: its user, its settings, its start time and its port.
struct run {
    const engine_ui *ui;
    const engine_drive_job *job;
    gint64 start_us;
    int handle;
    const char *saved_path;  // the file written, or null
    char *asked_path;        // a name the user gave through ask_file_name
    const char *failure_text; // the failure with the drive's reason, or null
};

void log_line(const run &r, const char *line)
{
    if (r.ui && r.ui->log_line)
        r.ui->log_line(r.ui->user, line, 0);
}

void log_printf(const run &r, const char *format, ...) G_GNUC_PRINTF(2, 3);
void log_printf(const run &r, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    log_line(r, text);
    g_free(text);
}

void report_progress(const run &r, double fraction)
{
    if (r.ui && r.ui->progress)
        r.ui->progress(r.ui->user, fraction);
}

void post_listing(const run &r, engine_listing_event event, const char *text)
{
    if (r.ui && r.ui->listing)
        r.ui->listing(r.ui->user, event, text);
}

// Opens the port and waits for the prompt; ENGINE_ERROR_NONE or the failure.
engine_error open_and_sync(run *r, const char *title)
{
    r->start_us = g_get_monotonic_time();
    r->handle = -1;
    if (!r->job->framed_by_caller) {
        log_line(*r, "================================\n");
        log_line(*r, title);
    }
    const char *port = r->job->port;
    if (!port || !*port || !serial_connect_and_configure_port(&r->handle, port)) {
        r->handle = -1;
        if (r->job->report_visible_ports)
            engine_report_visible_ports(r->ui);
        return ENGINE_ERROR_NO_PORT;
    }
    return engine_sync_with_drive(r->handle, r->job->device);
}

void close_port(run *r)
{
    if (r->handle >= 0)
        engine_close_port(r->ui, r->handle);
    r->handle = -1;
}

// Whether the failure is the drive's refusal, whose reason its error
// channel holds.
bool refused_by_drive(engine_error failure)
{
    return failure == ENGINE_ERROR_COMMAND_FAILED || failure == ENGINE_ERROR_FILE_NOT_FOUND ||
           failure == ENGINE_ERROR_FILENAME_MISSING;
}

// The failure with the drive's reason appended to its text when it gave one
// ("Command failed: 63,FILE EXISTS,00,00").  Interned: outcome texts are
// used after the operation, even on another thread, as constant ones are.
engine_error with_status(run *r, engine_error failure, const char *status)
{
    // Below 20 the drive reports no error, 73 is its power-on message.
    int number = g_ascii_isdigit(status[0]) ? atoi(status) : 0;
    if (!refused_by_drive(failure) || number < 20 || number == 73)
        return failure;
    gchar *text = g_strdup_printf("%s: %s", engine_error_text(failure), status);
    r->failure_text = g_intern_string(text);
    g_free(text);
    return failure;
}

// A file job the drive refused: its error channel is read to say why.
engine_error with_drive_status(run *r, engine_error failure)
{
    if (!refused_by_drive(failure) || r->handle < 0 || engine_abort_requested() ||
        !console_synch_with_device(r->handle, engine_abort_flag()))
        return failure;
    char status[ENGINE_STATUS_SIZE];
    if (console_request_status(r->handle, r->job->device, status, sizeof status,
                               engine_abort_flag()))
        return failure;
    engine_make_printable(status);
    return with_status(r, failure, status);
}

// Closes the port and reports the outcome, abort first (a file already
// saved stays the result).  1 on success.
int finish(run *r, engine_error failure)
{
    close_port(r);
    engine_outcome outcome = {};
    outcome.elapsed_seconds = (g_get_monotonic_time() - r->start_us) / 1e6;
    const char *files[2] = {r->saved_path, nullptr};
    if (r->saved_path) {
        outcome.kind = ENGINE_SUCCEEDED;
        outcome.files = files;
    } else if (engine_abort_requested()) {
        outcome.kind = ENGINE_ABORTED;
    } else if (failure) {
        outcome.kind = ENGINE_FAILED;
        outcome.error = failure;
        outcome.failure = r->failure_text ? r->failure_text : engine_error_text(failure);
    } else {
        outcome.kind = ENGINE_SUCCEEDED;
    }
    if (!r->job->framed_by_caller)
        log_line(*r, outcome.kind == ENGINE_ABORTED  ? "Aborted\n"
                     : outcome.kind == ENGINE_FAILED ? "Failed\n"
                                                     : "Completed\n");
    if (r->ui && r->ui->finished)
        r->ui->finished(r->ui->user, &outcome);
    g_free(r->asked_path);
    r->asked_path = nullptr;
    r->saved_path = nullptr;
    return outcome.kind == ENGINE_SUCCEEDED;
}

int read_u16(int handle, int *value)
{
    uint8_t b[2];
    if (!console_read(handle, b, 2, engine_abort_flag()))
        return 0;
    *value = b[0] | (b[1] << 8);
    return 1;
}

// Reads `count` bytes, keeping the ones that fit below `capacity` at
// buffer + *stored and dropping the rest; *stored grows by what was kept.
int read_keeping_what_fits(int handle, uint8_t *buffer, int capacity, int *stored, int count)
{
    int keep = std::min(count, capacity - *stored);
    if (keep > 0) {
        if (!console_read(handle, buffer + *stored, (size_t)keep, engine_abort_flag()))
            return 0;
        *stored += keep;
    }
    uint8_t scrap[512];
    for (int left = count - std::max(keep, 0); left > 0;) {
        int n = std::min(left, (int)sizeof scrap);
        if (!console_read(handle, scrap, (size_t)n, engine_abort_flag()))
            return 0;
        left -= n;
    }
    return 1;
}

// The answer and contents of a "dd" file read into buffer.  After every
// piece `progress` runs with the bytes stored.  Data beyond the buffer is
// still taken from the link, so the exchange ends where the device ends it,
// but the transfer fails.  Returns ENGINE_ERROR_NONE or the failure.
template <typename Progress>
engine_error receive_file(int handle, uint8_t *buffer, int capacity, int *stored,
                         Progress progress)
{
    *stored = 0;
    char answer[2];
    if (!console_read(handle, answer, 2, engine_abort_flag()))
        return ENGINE_ERROR_COMMUNICATION;
    if (answer[0] != 'O' || answer[1] != 'K')
        return engine_error_from_console(console_answer_failure(answer));
    bool overflow = false;
    if (!read_keeping_what_fits(handle, buffer, capacity, stored, 2))
        return ENGINE_ERROR_COMMUNICATION;
    progress(*stored);
    for (;;) {
        int count;
        if (!read_u16(handle, &count))
            return ENGINE_ERROR_COMMUNICATION;
        if (count == 0)
            break;
        if (*stored + count > capacity)
            overflow = true;
        if (!read_keeping_what_fits(handle, buffer, capacity, stored, count))
            return ENGINE_ERROR_COMMUNICATION;
        progress(*stored);
    }
    return overflow ? ENGINE_ERROR_TOO_LARGE : ENGINE_ERROR_NONE;
}

// The log texts of saving one kind of file.
struct save_texts {
    const char *saved;      // "%s": the path
    const char *failed;     // "%s": why
    const char *cancelled;
};

// Saves what was received per `target`; ENGINE_ERROR_NONE or the failure.
engine_error save_received(run *r, const engine_save_target *target, const char *suggested,
                            const uint8_t *data, int size, const save_texts &texts)
{
    if (!target || !target->save || engine_abort_requested())
        return ENGINE_ERROR_NONE;
    const char *path = target->path;
    if (!path) {
        if (r->ui && r->ui->ask_file_name)
            r->asked_path = r->ui->ask_file_name(r->ui->user, suggested);
        if (!r->asked_path) {
            log_line(*r, texts.cancelled);
            return ENGINE_ERROR_NONE;
        }
        path = r->asked_path;
    }
    // Ctrl+C while the name was asked: nothing is written.
    if (engine_abort_requested())
        return ENGINE_ERROR_NONE;
    char *error = nullptr;
    engine_error failure = ENGINE_ERROR_NONE;
    if (drive_files_write_file(path, data, size, target->overwrite, &error)) {
        log_printf(*r, texts.saved, path);
        r->saved_path = path;
    } else {
        log_printf(*r, texts.failed, error ? error : "");
        failure = ENGINE_ERROR_NOT_SAVED;
    }
    g_free(error);
    return failure;
}

}  // namespace

void engine_report_visible_ports(const engine_ui *ui)
{
    if (!ui || !ui->log_line)
        return;
    std::vector<detect_port> found = detect_scan(1500, engine_abort_flag());
    std::string seen = detect_describe(found);
    char *text = seen.empty()
                     ? g_strdup(_("No Dravlen port answers on this computer.\n"))
                     : g_strdup_printf(_("Dravlen ports that answer on this computer:\n%s"),
                                       seen.c_str());
    ui->log_line(ui->user, text, 1);
    g_free(text);
}

// ---------------------------------------------------------------- names

void drive_files_c64_name_from_path(const char *path, char name17[17])
{
    char *base = g_path_get_basename(path);
    char *cut = nullptr;
    for (const char *extension : {".PRG", ".Prg", ".prg"}) {
        for (char *p = strstr(base, extension); p; p = strstr(p + 1, extension))
            cut = p;
        if (cut)
            break;
    }
    if (cut)
        *cut = 0;
    // Capitals on a C64: the PC name's letters as the plain C64 letters.
    g_strlcpy(name17, petscii_name_from_file_name(base).c_str(), 17);
    g_free(base);
}

int drive_files_name_is_safe_for_command(const char *name, int for_scratch)
{
    if (!name || !name[0])
        return 0;
    const char *refused = for_scratch ? "\"\r\n*?,=:" : "\"\r\n";
    return strpbrk(name, refused) ? 0 : 1;
}

const char *drive_files_name_problem(const char *name, int for_scratch)
{
    if (!name || !name[0])
        return "the file name is empty";
    if (strchr(name, '"'))
        return "the file name holds a quote";
    if (strpbrk(name, "\r\n"))
        return "the file name holds a line break";
    if (strlen(name) > 16)
        return "the file name is longer than 16 characters";
    if (for_scratch && strpbrk(name, "*?"))
        return "the file name holds a wildcard, which would scratch every file that matches";
    if (for_scratch && strpbrk(name, ",=:"))
        return "the file name holds , = or :, which would make the drive scratch other files";
    return nullptr;
}

const char *drive_files_format_problem(const char *name, const char *id)
{
    if (!name || !name[0])
        return "the disk name is empty";
    if (!id || !id[0])
        return "the disk ID is empty";
    if (strlen(name) > 16)
        return "the disk name is longer than 16 characters";
    if (strlen(id) > 2)
        return "the disk ID is longer than 2 characters";
    for (const char *text : {name, id})
        if (strpbrk(text, "\"\r\n,"))
            return "the disk name or ID holds a quote, comma or line break";
    return nullptr;
}

char *drive_files_format_command(const char *name, const char *id, int fast)
{
    // The drive takes at most 16 name and 2 ID characters; longer values are
    // cut so the command always fits.
    if (fast)
        return g_strdup_printf("ff \"%.16s,%.2s\" %d", name, id, TRACKS);
    return g_strdup_printf("dc \"N:%.16s,%.2s\"", name, id);
}

int drive_files_blocks_of_size(int size)
{
    return size / 254 + (size % 254 ? 1 : 0);
}

char *drive_files_suggested_file_name(const char *c64_name, int uppercase_extension)
{
    char name[17];
    g_strlcpy(name, c64_name, sizeof name);
    sanitize_filename(name);
    return g_strdup_printf("%s.%s", name, uppercase_extension ? "PRG" : "prg");
}

int drive_files_write_file(const char *path, const uint8_t *data, int size, int overwrite,
                           char **error)
{
    *error = nullptr;
    if (!overwrite && g_file_test(path, G_FILE_TEST_EXISTS)) {
        *error = g_strdup_printf("%s already exists", path);
        return 0;
    }
    char *folder = g_path_get_dirname(path);
    char *base = g_path_get_basename(path);
    char *temp_name = g_strdup_printf(".%s.XXXXXX", base);
    char *temp = g_build_filename(folder, temp_name, nullptr);
    g_free(temp_name);
    g_free(base);
    g_free(folder);
    int fd = g_mkstemp_full(temp, O_RDWR, 0666);
    if (fd < 0) {
        *error = g_strdup_printf("%s: %s", path, g_strerror(errno));
        g_free(temp);
        return 0;
    }
    int ok = 1;
    for (int done = 0; ok && done < size;) {
        ssize_t n = write(fd, data + done, (size_t)(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = 0;
        else
            done += (int)n;
    }
    int saved_errno = errno;
    if (close(fd) != 0 && ok) {
        ok = 0;
        saved_errno = errno;
    }
    if (ok) {
        if (overwrite) {
            ok = rename(temp, path) == 0;
        } else {
            // A file that appeared meanwhile is kept: link() never replaces.
            ok = link(temp, path) == 0;
            if (!ok && errno != EEXIST && !g_file_test(path, G_FILE_TEST_EXISTS))
                ok = rename(temp, path) == 0;  // a file system without hard links
        }
        saved_errno = errno;
    }
    g_unlink(temp);
    g_free(temp);
    if (!ok)
        *error = saved_errno == EEXIST ? g_strdup_printf("%s already exists", path)
                                       : g_strdup_printf("%s: %s", path, g_strerror(saved_errno));
    return ok;
}

// ---------------------------------------------------------------- directory

void drive_files_listing_progress_lines(const uint8_t *data, int received,
                                        drive_files_listing_progress *progress, GPtrArray *lines,
                                        int *clear_first)
{
    *clear_first = 0;
    while (!progress->finished && received - progress->shown_bytes >= 32) {
        if (progress->lines == MAX_PROGRESS_LINES) {
            g_ptr_array_add(lines, g_strdup("... READING IN PROGRESS ..."));
            progress->finished = 1;
            break;
        }
        const uint8_t *record = data + progress->shown_bytes;
        // Record 0 carries the load address in front of its line.
        const uint8_t *line = progress->shown_bytes == 0 ? record + 2 : record;
        int text_length = progress->shown_bytes == 0 ? 25 : 27;
        unsigned number = line[2] | (line[3] << 8);
        char text[28];
        for (int i = 0; i < text_length; i++)
            text[i] = line[4 + i] ? (char)line[4 + i] : (char)0x40;
        text[text_length] = 0;
        if (progress->lines == 0)
            *clear_first = 1;
        g_ptr_array_add(lines, g_strdup_printf("%u %s", number % 1000, text));
        progress->lines++;
        progress->shown_bytes += 32;
    }
}

int drive_files_listing_text(uint8_t *program, int size, GString *text)
{
    return basic_relink_directory_listing(program, (size_t)size) &&
           basic_list_directory_contents(program, (size_t)size, text);
}

int engine_list_directory(const engine_ui *ui, const engine_drive_job *job, uint8_t *buffer,
                          int capacity, int *received)
{
    *received = 0;
    run r = {ui, job, 0, -1, nullptr, nullptr, nullptr};
    engine_error failure = open_and_sync(&r, "Reading disk directory\n");
    if (!failure)
        failure = engine_error_from_console(
            console_process_command(r.handle, job->device, "di", engine_abort_flag()));
    if (failure)
        return finish(&r, failure);
    char command[24];
    g_snprintf(command, sizeof command, "dd \"$\" %d", job->device);
    if (!console_execute_command(r.handle, command, engine_abort_flag()))
        return finish(&r, ENGINE_ERROR_NO_DIRECTORY_REQUEST);
    post_listing(r, ENGINE_LISTING_NOTICE, "READING DIR...");
    drive_files_listing_progress progress = {};
    int stored = 0;
    failure = receive_file(r.handle, buffer, capacity, &stored, [&](int stored_now) {
        GPtrArray *lines = g_ptr_array_new_with_free_func(g_free);
        int clear_first = 0;
        drive_files_listing_progress_lines(buffer, stored_now, &progress, lines, &clear_first);
        if (clear_first)
            post_listing(r, ENGINE_LISTING_CLEAR, nullptr);
        for (guint i = 0; i < lines->len; i++)
            post_listing(r, ENGINE_LISTING_LINE, (const char *)g_ptr_array_index(lines, i));
        g_ptr_array_free(lines, TRUE);
    });
    *received = failure ? 0 : stored;
    return finish(&r, with_drive_status(&r, failure));
}

// ---------------------------------------------------------------- PRG files

int engine_export_prg(const engine_ui *ui, const engine_drive_job *job, const char *c64_name,
                      int blocks, uint8_t *buffer, int capacity, int *received,
                      const engine_save_target *target)
{
    *received = 0;
    run r = {ui, job, 0, -1, nullptr, nullptr, nullptr};
    engine_error failure = open_and_sync(&r, "Exporting PRG\n");
    if (failure)
        return finish(&r, failure);
    char *command = g_strdup_printf("dd \"%s\" %d 1", c64_name, job->device);
    int requested = console_execute_command(r.handle, command, engine_abort_flag());
    g_free(command);
    if (!requested)
        return finish(&r, ENGINE_ERROR_NO_LOAD_REQUEST);
    int stored = 0;
    failure = receive_file(r.handle, buffer, capacity, &stored, [&](int stored_now) {
        if (blocks != 0)
            report_progress(r, stored_now / (blocks * 254.0));
    });
    *received = failure ? 0 : stored;
    failure = with_drive_status(&r, failure);
    // The drive is done with the file: the port is not needed while saving.
    close_port(&r);
    if (!failure && !engine_abort_requested()) {
        char *suggested =
            drive_files_suggested_file_name(c64_name, target && target->uppercase_extension);
        save_texts texts = {"PRG saved to: %s\n", "Unable to save PRG to file: %s\n",
                            "PRG not saved at user's request\n"};
        failure = save_received(&r, target, suggested, buffer, stored, texts);
        g_free(suggested);
    }
    return finish(&r, failure);
}

int engine_import_prg(const engine_ui *ui, const engine_drive_job *job, const char *c64_name,
                      const uint8_t *data, int size)
{
    run r = {ui, job, 0, -1, nullptr, nullptr, nullptr};
    engine_error failure = open_and_sync(&r, "Importing PRG\n");
    if (failure)
        return finish(&r, failure);
    char *command = g_strdup_printf("du \"%s\" %d %d", c64_name, job->device, size);
    int requested = console_execute_command(r.handle, command, engine_abort_flag());
    g_free(command);
    if (!requested)
        return finish(&r, ENGINE_ERROR_NO_SAVE_REQUEST);
    char answer[2];
    if (!console_read(r.handle, answer, 2, engine_abort_flag()))
        return finish(&r, ENGINE_ERROR_COMMUNICATION);
    if (answer[0] != 'O' || answer[1] != 'K') {
        // "NF" means nothing special when writing.
        return finish(&r, with_drive_status(&r, answer[0] == 'N' && answer[1] == 'F'
                                                    ? ENGINE_ERROR_COMMAND_FAILED
                                                    : engine_error_from_console(
                                                          console_answer_failure(answer))));
    }
    for (int sent = 0;;) {
        int wanted;
        if (!read_u16(r.handle, &wanted))
            return finish(&r, ENGINE_ERROR_COMMUNICATION);
        // Answering with less could never end: the device would wait for
        // the rest.  Nothing of it is sent.
        if (wanted > size - sent)
            return finish(&r, ENGINE_ERROR_OVERREQUEST);
        if (!console_write(r.handle, data + sent, (size_t)wanted, engine_abort_flag()))
            return finish(&r, ENGINE_ERROR_COMMUNICATION);
        sent += wanted;
        if (sent == size)
            break;
        report_progress(r, (double)sent / size);
    }
    return finish(&r, ENGINE_ERROR_NONE);
}

// ---------------------------------------------------------------- DOS commands

int engine_drive_dos_command(const engine_ui *ui, const engine_drive_job *job,
                             const char *command, const char *title, char *status)
{
    if (status)
        status[0] = 0;
    run r = {ui, job, 0, -1, nullptr, nullptr, nullptr};
    engine_error failure = open_and_sync(&r, title);
    if (failure)
        return finish(&r, failure);
    char answer[2];
    engine_allow_long_silence(r.handle);  // a format or a validate takes its time
    failure = engine_error_from_console(
        console_process_command(r.handle, job->device, command, engine_abort_flag(), answer));
    // A refused command leaves its reason on the error channel; the monitor
    // shows its prompt after the answer, so the channel can still be read.
    bool answered = !failure || (answer[0] != ' ' && failure != ENGINE_ERROR_DEVICE_NOT_PRESENT &&
                                 failure != ENGINE_ERROR_SYNC);
    if (status && answered && failure && !console_synch_with_device(r.handle, engine_abort_flag()))
        answered = false;
    if (status && answered && !engine_abort_requested()) {
        console_error f = console_request_status(r.handle, job->device, status,
                                                 ENGINE_STATUS_SIZE, engine_abort_flag());
        if (!f) {
            engine_make_printable(status);
            log_printf(r, "%s\n", status);
        } else if (!failure) {
            failure = engine_error_from_console(f);
        }
    }
    return finish(&r, status && failure ? with_status(&r, failure, status) : failure);
}

// ---------------------------------------------------------------- drive ROM

int engine_dump_drive_rom(const engine_ui *ui, const engine_drive_job *job, int pages,
                          uint8_t *buffer, int capacity, int *received,
                          const engine_save_target *target)
{
    *received = 0;
    run r = {ui, job, 0, -1, nullptr, nullptr, nullptr};
    engine_error failure = open_and_sync(&r, "Dumping Drive ROM\n");
    if (failure)
        return finish(&r, failure);
    // $8000-$FFFF at most.
    pages = std::clamp(pages, 1, std::min(128, (capacity - 2) / 256));
    char command[24];
    if (pages == DRIVE_ROM_PAGES_1541)
        g_snprintf(command, sizeof command, "wd %d", job->device);
    else
        g_snprintf(command, sizeof command, "wd %d %d", job->device, 256 - pages);
    if (!console_execute_command(r.handle, command, engine_abort_flag()))
        return finish(&r, ENGINE_ERROR_NO_ROM_REQUEST);
    unsigned load_address = pages == DRIVE_ROM_PAGES_1541 ? 0xC000 : 0x8000;
    buffer[0] = (uint8_t)(load_address & 0xFF);
    buffer[1] = (uint8_t)(load_address >> 8);
    int total = pages * 256 + 2;
    for (int stored = 2; stored < total;) {
        if (!console_read(r.handle, buffer + stored, 256, engine_abort_flag()))
            return finish(&r, ENGINE_ERROR_COMMUNICATION);
        stored += 256;
        report_progress(r, (double)stored / total);
    }
    for (int i = 2; i < total; i++)
        buffer[i] = warp_bus_order_transform(buffer[i]);
    *received = total;
    close_port(&r);
    if (!engine_abort_requested()) {
        char *suggested =
            drive_files_suggested_file_name("ROM", target && target->uppercase_extension);
        save_texts texts = {"Drive ROM saved to: %s\n", "Unable to save drive ROM to file: %s\n",
                            "Drive ROM not saved at user's request\n"};
        failure = save_received(&r, target, suggested, buffer, total, texts);
        g_free(suggested);
    }
    return finish(&r, failure);
}
