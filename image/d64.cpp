#include "image/d64.h"

#include <cstring>

namespace {
constexpr int32_t track_table_entry(int t)
{
    int32_t sum = 0;
    for (int i = 1; i < t; ++i)
        sum += d64_sectors_of_track(i);
    return sum;
}
}  // namespace

const int32_t start_sector_of_track[43] = {
    0,
#define E(t) track_table_entry(t)
    E(1),  E(2),  E(3),  E(4),  E(5),  E(6),  E(7),  E(8),  E(9),  E(10),
    E(11), E(12), E(13), E(14), E(15), E(16), E(17), E(18), E(19), E(20),
    E(21), E(22), E(23), E(24), E(25), E(26), E(27), E(28), E(29), E(30),
    E(31), E(32), E(33), E(34), E(35), E(36), E(37), E(38), E(39), E(40),
    E(41), E(42),
#undef E
};
static_assert(track_table_entry(18) == 357 && track_table_entry(36) == 683 &&
                  track_table_entry(41) == 768 && track_table_entry(42) == 785,
              "1541 geometry");

int64_t d64_base_size;
int64_t d64_block_error_info_size;
uint8_t d64_storage[D64_STORAGE_SIZE];

void d64_module_init()
{
    d64_block_error_info_size = start_sector_of_track[TRACKS + 1];
    d64_base_size = d64_block_error_info_size * 256;
}

void d64_init_disk_image_contents(uint8_t *image)
{
    memset(image, 0x00, (size_t)d64_base_size);
    d64_init_error_info_contents(image, D64_ERR_NO_SYNC);
}

void d64_init_error_info_contents(uint8_t *image, uint8_t code)
{
    memset(image + d64_base_size, code, (size_t)d64_block_error_info_size);
}

void d64_init_error_info_contents_inaccessible_tracks(uint8_t *image, int first_track, uint8_t code)
{
    for (int t = 1; t < first_track && t <= TRACKS; ++t)
        d64_set_track_error_info(image, t, code);
}

int d64_zero_track_contents(uint8_t *image, int track)
{
    memset(image + d64_sector_offset(track, 0), 0x00, (size_t)d64_sectors_of_track(track) * 256);
    return 0;
}

int d64_zero_sector_contents(uint8_t *image, int track, int sector)
{
    memset(image + d64_sector_offset(track, sector), 0x00, 256);
    return 0;
}

int d64_get_block_error_info(const uint8_t *image, int track, int sector)
{
    return image[d64_error_offset(track, sector)];
}

void d64_set_block_error_info(uint8_t *image, int track, int sector, uint8_t code)
{
    image[d64_error_offset(track, sector)] = code;
}

void d64_set_track_error_info(uint8_t *image, int track, uint8_t code)
{
    memset(image + d64_error_offset(track, 0), code, (size_t)d64_sectors_of_track(track));
}

int d64_are_track_and_sector_valid(uint8_t track, uint8_t sector)
{
    // Track 0 wraps to 255 and fails the range test.
    uint8_t t0 = (uint8_t)(track - 1);
    if (t0 >= TRACKS)
        return 0;
    return sector < d64_sectors_of_track(track) ? 1 : 0;
}

void d64_storage_init_and_set_to_not_ready()
{
    d64_init_disk_image_contents(d64_storage);
    d64_init_error_info_contents_inaccessible_tracks(d64_storage, 1, D64_ERR_INACCESSIBLE);
}

int d64_count_accessible_sector_errors(const uint8_t *image, int first_track, int last_track)
{
    int count = 0;
    if (first_track < 1)
        first_track = 1;
    if (last_track > TRACKS)
        last_track = TRACKS;
    for (int t = first_track; t <= last_track; ++t)
        for (int s = 0; s < d64_sectors_of_track(t); ++s)
            count += d64_is_accessible_error(d64_get_block_error_info(image, t, s));
    return count;
}

const char *d64_error_name(int code)
{
    // The drive's error numbers 20 to 29 and 74 the bytes stand for.
    static const char *const NAMES[] = {
        "no error",                       // 0x00: written by some tools for a clean sector
        "read correctly",                 // 0x01
        "header block not found (20)",    // 0x02
        "no sync, or not read (21)",      // 0x03
        "data block not found (22)",      // 0x04
        "data block checksum error (23)", // 0x05
        "write verify error on format (24)",
        "write verify error (25)",
        "write protect on (26)",
        "header checksum or GCR error (27)",  // 0x09
        "long data block (28)",
        "disk ID mismatch (29)",          // 0x0B
    };
    if (code >= 0 && code < (int)(sizeof NAMES / sizeof NAMES[0]))
        return NAMES[code];
    return code == D64_ERR_INACCESSIBLE ? "inaccessible, drive not ready (74)" : nullptr;
}

int d64_replace_undefined_errors(uint8_t *image, int last_track, int first[2])
{
    int count = 0;
    for (int i = 0; i < start_sector_of_track[last_track + 1]; i++) {
        uint8_t *code = image + d64_base_size + i;
        if (d64_error_name(*code))
            continue;
        if (count++ == 0 && first) {
            first[0] = i;
            first[1] = *code;
        }
        *code = D64_ERR_NO_SYNC;
    }
    return count;
}
