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

// One system read: waits for the first byte (testing *abort at least every
// 50 ms, no other time limit), then takes what arrives until 5 ms pass
// without a further byte or `count` bytes are in.  Fails on abort (tested
// before every byte taken, so a slow trickle cannot hold it) and at once when
// the port goes away (hang-up, I/O error).  *received is set to the
// number of bytes stored, also on failure.
int serial_read_chunk(int handle, void *buffer, size_t count, size_t *received,
                      std::atomic<int> *abort);

// One system write: writes at most `count` bytes as soon as the port takes
// them.  Fails on abort and on hang-up.
int serial_write_chunk(int handle, const void *buffer, size_t count, size_t *written,
                       std::atomic<int> *abort);

// Number of received bytes waiting in the input queue.
int serial_bytes_waiting(int handle, int *waiting);

// Waits up to timeout_ms for a byte to read: 1 when one is there, 0 when the
// time passed without one, -1 on abort, hang-up or error.
int serial_wait_readable(int handle, int timeout_ms, std::atomic<int> *abort);
