// Turns fuzz input into a disk image: the first bytes become the directory
// track, so that short inputs reach the directory code; the rest fills the
// image from track 1 on.
#pragma once

#include <cstring>

#include "image/d64.h"

inline void fuzz_image_from_input(const uint8_t *data, size_t size)
{
    static bool ready = false;
    if (!ready) {
        d64_module_init();
        ready = true;
    }
    memset(d64_storage, 0, sizeof d64_storage);
    const size_t track18 = (size_t)d64_sectors_of_track(18) * 256;
    const size_t head = size < track18 ? size : track18;
    size_t rest = size - head;
    if (rest > (size_t)d64_base_size)
        rest = (size_t)d64_base_size;
    memcpy(d64_storage, data + head, rest);
    memcpy(d64_storage + d64_sector_offset(18, 0), data, head);
    // Let the header gate pass sometimes: the error byte comes from the input.
    d64_set_block_error_info(d64_storage, 18, 0, size > 2 && (data[2] & 1) ? 0x01 : 0x03);
}
