// The serial port of the Dravlen board: exclusive open, raw 8N1 at 921600
// baud with DTR and RTS asserted, and reads that end 5 ms after the last byte.
// A handle is a file descriptor; -1 means "not open".
#pragma once

#include <atomic>
#include <cstddef>

// Opens the port by its name; a bare name without '/' that cannot be opened
// is tried again under /dev/.  Fails when another client holds the port.
// On failure nothing stays open and *handle is -1.
int serial_connect_and_configure_port(int *handle, const char *port_name);

int serial_disconnect_port(int handle);

// How long the board may stay silent before a read or write gives up, in
// milliseconds: the default given to every port opened from now on.  A
// program sets it once at its start (the command line's --timeout).
void serial_set_default_silence_limit(int ms);
int serial_default_silence_limit(void);
// The limit of one open port, for a phase in which the board is silent
// longer (a format, a write that starts with one).
void serial_set_silence_limit(int handle, int ms);
int serial_silence_limit(int handle);
// 1 when a read or write of the port failed because the board stayed silent
// beyond the limit; a later success clears it.
int serial_fell_silent(int handle);

// One system read: waits for the first byte (testing *abort at least every
// 50 ms, failing once the port's silence limit passes), then takes what arrives until 5 ms pass
// without a further byte or `count` bytes are in.  Fails on abort (tested
// before every byte taken, so a slow trickle cannot hold it) and at once when
// the port goes away (hang-up, I/O error).  *received is set to the
// number of bytes stored, also on failure.
int serial_read_chunk(int handle, void *buffer, size_t count, size_t *received,
                      std::atomic<int> *abort);

// One system write: writes at most `count` bytes as soon as the port takes
// them.  Fails on abort, on hang-up and when the port takes nothing within
// its silence limit.
int serial_write_chunk(int handle, const void *buffer, size_t count, size_t *written,
                       std::atomic<int> *abort);

// Number of received bytes waiting in the input queue.
int serial_bytes_waiting(int handle, int *waiting);

// Waits up to timeout_ms for a byte to read: 1 when one is there, 0 when the
// time passed without one, -1 on abort, hang-up or error.
int serial_wait_readable(int handle, int timeout_ms, std::atomic<int> *abort);
