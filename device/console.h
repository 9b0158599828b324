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

// Failure texts of the command steps, for finishers.
extern const char console_text_unable_to_request_command[];
extern const char console_text_communication_error[];
extern const char console_text_unable_to_sync[];
extern const char console_text_device_not_present[];
extern const char console_text_filename_missing[];
extern const char console_text_file_not_found[];
extern const char console_text_command_failed[];

// The failure text that belongs to a two-letter answer other than "OK".
const char *console_answer_failure_text(const char answer[2]);

// Sends "<command_word> <device>", reads the answer and, after "OK",
// synchronises again.  Returns null on success, else the failure text
// ("Unable to request command execution on device", "Communication error",
// "Unable to sync with device" or the answer's text).  *answer, when given,
// receives the two letters (blank when none came).
const char *console_process_command(int handle, int device, const char *command_word,
                                    std::atomic<int> *abort, char answer[2] = nullptr);

// "v": the firmware version line into `version` (at most size - 1 bytes,
// cut at CR or LF).  A monitor that answers with its prompt at once does not
// know "v": the text becomes console_old_firmware_version.  Returns null or
// the failure text ("Unable to request firmware version on device",
// "Communication error").  *prompt_taken, when given, tells whether the
// first byte of the prompt was taken that way (its space is still waiting).
const char *console_request_version(int handle, char *version, size_t size,
                                    std::atomic<int> *abort, int *prompt_taken = nullptr);
extern const char console_old_firmware_version[];
extern const char console_text_unable_to_request_version[];

// "de <device>": the drive's error channel into `status` (at most size - 1
// bytes of the length-prefixed text; the rest is left unread).  Returns
// null or the failure text ("Unable to request status on device",
// "Communication error" or the answer's text).  `status` is empty on failure.
const char *console_request_status(int handle, int device, char *status, size_t size,
                                   std::atomic<int> *abort);
extern const char console_text_unable_to_request_status[];

