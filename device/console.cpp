#include "device/console.h"

#include "device/serial.h"

#include <cstring>
#include <string>

namespace {

const char *const ERROR_TEXTS[] = {
    nullptr,
    "Unable to request command execution on device",
    "Communication error",
    "Unable to sync with device",
    "Device not present",
    "Filename missing",
    "File not found",
    "Command failed",
    "Unable to request firmware version on device",
    "Unable to request status on device",
};

}  // namespace

static_assert(sizeof ERROR_TEXTS / sizeof *ERROR_TEXTS == CONSOLE_ERROR_COUNT,
              "one text per console_error");

const char *console_error_text(console_error error)
{
    return error > CONSOLE_OK && error < CONSOLE_ERROR_COUNT ? ERROR_TEXTS[error] : nullptr;
}
const char console_old_firmware_version[] = "1.13.0.35";

namespace {

const char prompt[4] = {'\r', '\n', '>', ' '};
const size_t window_size = 256;
const size_t max_line_size = 256;

bool aborted(std::atomic<int> *abort)
{
    return abort && abort->load(std::memory_order_relaxed) != 0;
}

} // namespace

int console_read(int handle, void *buffer, size_t count, std::atomic<int> *abort)
{
    unsigned char *out = static_cast<unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        if (aborted(abort))
            return 0;
        size_t got = 0;
        if (!serial_read_chunk(handle, out + done, count - done, &got, abort))
            return 0;
        done += got;
    }
    return 1;
}

int console_write(int handle, const void *buffer, size_t count, std::atomic<int> *abort)
{
    const unsigned char *in = static_cast<const unsigned char *>(buffer);
    size_t done = 0;
    while (done < count) {
        if (aborted(abort))
            return 0;
        size_t put = 0;
        if (!serial_write_chunk(handle, in + done, count - done, &put, abort))
            return 0;
        done += put;
    }
    return 1;
}

int console_synch_with_device(int handle, std::atomic<int> *abort)
{
    unsigned char window[window_size];
    size_t fill = 0;
    for (;;) {
        if (aborted(abort))
            return 0;
        size_t got = 0;
        if (!serial_read_chunk(handle, window + fill, window_size - fill, &got, abort))
            return 0;
        fill += got;
        if (got > 0 && fill >= sizeof prompt
            && memcmp(window + fill - sizeof prompt, prompt, sizeof prompt) == 0) {
            int waiting = 0;
            if (!serial_bytes_waiting(handle, &waiting))
                return 0;
            // A prompt with more bytes behind it was not the monitor's last word.
            if (waiting == 0)
                return 1;
        }
        if (fill == window_size) {
            // Keep the tail so a prompt split across the boundary is still found.
            memmove(window, window + fill - (sizeof prompt - 1), sizeof prompt - 1);
            fill = sizeof prompt - 1;
        }
    }
}

int console_command_is_one_line(const char *command)
{
    if (!command || strpbrk(command, "\r\n"))
        return 0;
    // Quotes only come as the one pair around a name or a drive command;
    // a quote inside that argument would end it early.
    size_t quotes = 0;
    for (const char *p = command; *p; p++)
        quotes += *p == '"';
    return quotes == 0 || quotes == 2;
}

int console_execute_command(int handle, const char *command, std::atomic<int> *abort)
{
    // Refused before anything goes out: a line break would make the monitor
    // run two commands, and an overlong line is one it would act on while
    // the client reports it as failed.
    if (!console_command_is_one_line(command))
        return 0;
    std::string line = std::string(command) + "\r\n";
    if (line.size() > max_line_size)
        return 0;
    if (!console_write(handle, line.data(), line.size() - 1, abort))
        return 0;
    std::string echo(line.size(), '\0');
    if (!console_read(handle, &echo[0], echo.size(), abort))
        return 0;
    return echo == line;
}

int console_check_success(int handle, std::atomic<int> *abort)
{
    char answer[2];
    if (!console_read(handle, answer, sizeof answer, abort))
        return 0;
    return answer[0] == 'O' && answer[1] == 'K';
}

console_error console_answer_failure(const char answer[2])
{
    if (answer[0] == 'N' && answer[1] == 'P')
        return CONSOLE_ERROR_DEVICE_NOT_PRESENT;
    if (answer[0] == 'F' && answer[1] == 'M')
        return CONSOLE_ERROR_FILENAME_MISSING;
    if (answer[0] == 'N' && answer[1] == 'F')
        return CONSOLE_ERROR_FILE_NOT_FOUND;
    return CONSOLE_ERROR_COMMAND_FAILED;
}

console_error console_process_command(int handle, int device, const char *command_word,
                                      std::atomic<int> *abort, char answer[2])
{
    char got[2] = {' ', ' '};
    console_error failure = CONSOLE_OK;
    std::string command = std::string(command_word) + " " + std::to_string(device);
    if (!console_execute_command(handle, command.c_str(), abort))
        failure = CONSOLE_ERROR_REQUEST_COMMAND;
    else if (!console_read(handle, got, sizeof got, abort))
        failure = CONSOLE_ERROR_COMMUNICATION;
    else if (got[0] != 'O' || got[1] != 'K')
        failure = console_answer_failure(got);
    else if (!console_synch_with_device(handle, abort))
        failure = CONSOLE_ERROR_SYNC;
    if (answer)
        memcpy(answer, got, sizeof got);
    return failure;
}

console_error console_request_version(int handle, char *version, size_t size,
                                      std::atomic<int> *abort, int *prompt_taken)
{
    if (prompt_taken)
        *prompt_taken = 0;
    if (size < 2)
        return CONSOLE_ERROR_COMMUNICATION;
    version[0] = 0;
    if (!console_execute_command(handle, "v", abort))
        return CONSOLE_ERROR_REQUEST_VERSION;
    if (!console_read(handle, version, 1, abort)) {
        version[0] = 0;
        return CONSOLE_ERROR_COMMUNICATION;
    }
    if (version[0] == '>') {
        // The prompt came at once: a firmware that does not know "v".
        g_strlcpy(version, console_old_firmware_version, size);
        if (prompt_taken)
            *prompt_taken = 1;
        return CONSOLE_OK;
    }
    // The first byte is never a line end; the text ends at the first CR or
    // LF after it, or where the buffer is full.  Bytes after it stay unread.
    for (size_t i = 1;; i++) {
        if (!console_read(handle, version + i, 1, abort)) {
            version[i] = 0;
            return CONSOLE_ERROR_COMMUNICATION;
        }
        char c = version[i];
        if (c == '\r' || c == '\n' || i == size - 1) {
            version[i] = 0;
            return CONSOLE_OK;
        }
    }
}

console_error console_request_status(int handle, int device, char *status, size_t size,
                                     std::atomic<int> *abort)
{
    status[0] = 0;
    std::string command = "de " + std::to_string(device);
    if (!console_execute_command(handle, command.c_str(), abort))
        return CONSOLE_ERROR_REQUEST_STATUS;
    char answer[2];
    if (!console_read(handle, answer, sizeof answer, abort))
        return CONSOLE_ERROR_COMMUNICATION;
    if (answer[0] != 'O' || answer[1] != 'K')
        return console_answer_failure(answer);
    unsigned char length;
    if (!console_read(handle, &length, 1, abort))
        return CONSOLE_ERROR_COMMUNICATION;
    size_t n = length < size - 1 ? length : size - 1;
    if (!console_read(handle, status, n, abort)) {
        status[0] = 0;
        return CONSOLE_ERROR_COMMUNICATION;
    }
    status[n] = 0;
    return CONSOLE_OK;
}
