// The one in-memory disk image: D64 sector data followed by one error byte
// per sector, and the 1541 geometry.
#pragma once

#include <cstdint>

// TRACKS (35 or 40) is defined only for the sources built once per track
// count; this header does not depend on it, so the rest may include it.

// Error byte values written by this program.
enum : uint8_t {
    D64_ERR_OK = 0x01,
    D64_ERR_NO_SYNC = 0x03,        // not read / no sync / initial value
    D64_ERR_CHECKSUM = 0x05,
    D64_ERR_GCR = 0x09,
    D64_ERR_INACCESSIBLE = 0x0F,
};

constexpr int D64_MAX_TRACKS = 42;
constexpr int D64_MAX_SECTORS = 802;  // sectors on 42 tracks
constexpr int D64_STORAGE_SIZE = D64_MAX_SECTORS * 257;

extern const int32_t start_sector_of_track[43];
extern int64_t d64_base_size;
extern int64_t d64_block_error_info_size;
extern uint8_t d64_storage[D64_STORAGE_SIZE];

// Sectors on track t (1-based) in the 1541 speed zones.
constexpr int d64_sectors_of_track(int t)
{
    return (t < 18 ? 21 : 19) - (t > 24 ? 1 : 0) - (t > 30 ? 1 : 0);
}

// Byte offset of a sector's data and of its error byte.
inline int64_t d64_sector_offset(int track, int sector)
{
    return (int64_t)(start_sector_of_track[track] + sector) * 256;
}
inline int64_t d64_error_offset(int track, int sector)
{
    return d64_base_size + start_sector_of_track[track] + sector;
}

void d64_module_init();
void d64_init_disk_image_contents(uint8_t *image);
void d64_init_error_info_contents(uint8_t *image, uint8_t code);
void d64_init_error_info_contents_inaccessible_tracks(uint8_t *image, int first_track, uint8_t code);
int d64_zero_track_contents(uint8_t *image, int track);
int d64_zero_sector_contents(uint8_t *image, int track, int sector);
int d64_get_block_error_info(const uint8_t *image, int track, int sector);
void d64_set_block_error_info(uint8_t *image, int track, int sector, uint8_t code);
void d64_set_track_error_info(uint8_t *image, int track, uint8_t code);
int d64_are_track_and_sector_valid(uint8_t track, uint8_t sector);
void d64_storage_init_and_set_to_not_ready();

// Sectors of tracks first..last whose error byte is neither 0x01 nor 0x0F.
int d64_count_accessible_sector_errors(const uint8_t *image, int first_track, int last_track);

// The name of an error byte that D64 images from this and other tools
// carry (0x00 to 0x0B, 0x0F); null for a value no D64 defines.
const char *d64_error_name(int code);
// Sets every error byte of the sectors on tracks 1 to last_track that no
// D64 defines to D64_ERR_NO_SYNC ("not read").  Returns how many; *first
// (may be null) gets the sector index of the first and its old byte.
int d64_replace_undefined_errors(uint8_t *image, int last_track, int first[2]);
// 1 when an error byte counts as an accessible sector error.
inline int d64_is_accessible_error(int code)
{
    return code != D64_ERR_OK && code != D64_ERR_INACCESSIBLE;
}
// Worth of a read by its error byte: good 4, checksum failed 3, GCR failed
// 2, no sync or not read 1, anything else (not accessible, codes of other
// tools) 0.  A read may replace another only when it is worth more.
inline int d64_error_merit(int code)
{
    switch (code) {
    case D64_ERR_OK: return 4;
    case D64_ERR_CHECKSUM: return 3;
    case D64_ERR_GCR: return 2;
    case D64_ERR_NO_SYNC: return 1;
    default: return 0;
    }
}
