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
// synchronises again.  On failure queues `finisher` as a one-shot idle
// callback with the failure text as its data and returns 0; the caller then
// only closes the port.  Uses flag_abort_requested.
int wrapper_process_command(int handle, int device, const char *command_word,
                            GSourceFunc finisher);

// How wrapper_process_command queues its finisher: g_idle_add by default; the
// GUI puts its own queue here so finishers run under its lock and in order.
extern void (*console_finisher_queue)(GSourceFunc finisher, gpointer data);
