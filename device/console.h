// The line protocol of the board's command monitor: prompt, echoed command
// lines, two-letter answers.  All functions run on a worker thread, return 1
// on success and 0 on failure, and fail as soon as *abort is set.
#pragma once

#include <glib.h>

#include <atomic>
#include <cstddef>

// Reads exactly `count` bytes.  A request for 0 bytes succeeds at once.
int console_read(int handle, void *buffer, size_t count, std::atomic<int> *abort);

// Writes exactly `count` bytes.
int console_write(int handle, const void *buffer, size_t count, std::atomic<int> *abort);

// Waits for the prompt "\r\n> " with nothing behind it.  Sends nothing.
int console_synch_with_device(int handle, std::atomic<int> *abort);

// Whether the text can go out as exactly one command line with one argument
// at most in quotes: no CR or LF, and either no quote or one pair.
int console_command_is_one_line(const char *command);

// Sends the command followed by CR and checks that the monitor echoes it
// followed by CR LF.  Lines longer than 256 bytes with CR LF, and texts that
// are not one command line (see above), are refused before anything is sent.
int console_execute_command(int handle, const char *command, std::atomic<int> *abort);

// Reads a two-letter answer; succeeds exactly when it is "OK".
int console_check_success(int handle, std::atomic<int> *abort);

// How a command step failed; CONSOLE_OK (0) when it did not.
enum console_error {
    CONSOLE_OK = 0,
    CONSOLE_ERROR_REQUEST_COMMAND,    // "Unable to request command execution on device"
    CONSOLE_ERROR_COMMUNICATION,      // "Communication error"
    CONSOLE_ERROR_SYNC,               // "Unable to sync with device"
    CONSOLE_ERROR_DEVICE_NOT_PRESENT, // "Device not present"
    CONSOLE_ERROR_FILENAME_MISSING,   // "Filename missing"
    CONSOLE_ERROR_FILE_NOT_FOUND,     // "File not found"
    CONSOLE_ERROR_COMMAND_FAILED,     // "Command failed"
    CONSOLE_ERROR_REQUEST_VERSION,    // "Unable to request firmware version on device"
    CONSOLE_ERROR_REQUEST_STATUS,     // "Unable to request status on device"
    CONSOLE_ERROR_COUNT
};

// The constant English text of a failure; null for CONSOLE_OK.
const char *console_error_text(console_error error);

// The failure that belongs to a two-letter answer other than "OK".
console_error console_answer_failure(const char answer[2]);

// Sends "<command_word> <device>", reads the answer and, after "OK",
// synchronises again.  Returns CONSOLE_OK, else the failure
// (CONSOLE_ERROR_REQUEST_COMMAND, _COMMUNICATION, _SYNC or the answer's).  *answer, when given,
// receives the two letters (blank when none came).
console_error console_process_command(int handle, int device, const char *command_word,
                                      std::atomic<int> *abort, char answer[2] = nullptr);

// "v": the firmware version line into `version` (at most size - 1 bytes,
// cut at CR or LF).  A monitor that answers with its prompt at once does not
// know "v": the text becomes console_old_firmware_version.  Returns
// CONSOLE_OK or the failure (CONSOLE_ERROR_REQUEST_VERSION, _COMMUNICATION).  *prompt_taken, when given, tells whether the
// first byte of the prompt was taken that way (its space is still waiting).
console_error console_request_version(int handle, char *version, size_t size,
                                      std::atomic<int> *abort, int *prompt_taken = nullptr);
extern const char console_old_firmware_version[];

// "de <device>": the drive's error channel into `status` (at most size - 1
// bytes of the length-prefixed text; the rest is left unread).  Returns
// CONSOLE_OK or the failure (CONSOLE_ERROR_REQUEST_STATUS, _COMMUNICATION
// or the answer's).  `status` is empty on failure.
console_error console_request_status(int handle, int device, char *status, size_t size,
                                     std::atomic<int> *abort);

