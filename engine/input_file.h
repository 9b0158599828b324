// Reading a file the user named as input (an image to write, a PRG to put,
// a firmware HEX file): only a regular file, only up to a size fixed by
// what it is for, and abortable while it is read.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

enum engine_input_result {
    ENGINE_INPUT_READ,         // *out holds the whole file
    ENGINE_INPUT_UNREADABLE,   // it cannot be opened or read
    ENGINE_INPUT_NOT_REGULAR,  // a folder, a FIFO, a device...
    ENGINE_INPUT_TOO_LARGE,    // more than max_size bytes; nothing was read
    ENGINE_INPUT_ABORTED,      // the abort flag was set while reading
};

// Opens `path` without waiting (a FIFO with no writer does not block),
// checks that it is a regular file of at most `max_size` bytes before
// reading anything, then reads it in pieces, testing *abort (when given)
// between them.  The window passes none: its abort flag may still be set
// from an operation that ended, and it reads on its own thread.  *size gets the file's size as found (0 when unknown);
// *message, for every result but ENGINE_INPUT_READ, a g_malloc'd English
// text naming the file and why (g_free it).
engine_input_result engine_read_input_file(const char *path, size_t max_size, std::string *out,
                                           long long *size, char **message,
                                           std::atomic<int> *abort);
