// Read-only access to the file system of a 1541 disk held in a D64 image:
// the header sector (disk name, ID, BAM), the directory chain on track 18,
// directory entry fields, and the reverse lookup of a sector's owner file.
//
// Everything here works on raw bytes as they came off the disk: every link is
// tested before it is followed and every walk is bounded, so a damaged or
// hand-made image ends a walk instead of leading outside the image.
#pragma once

#include <glib.h>

#include <cstdint>

#include "image/d64.h"

constexpr int D64_DIR_TRACK = 18;
constexpr int D64_DIR_ENTRY_SIZE = 32;
constexpr int D64_DIR_ENTRIES_PER_SECTOR = 8;
// Eight entries in each of the 18 directory sectors 18/1 to 18/18.
constexpr int D64_DIR_MAX_ENTRIES = 144;

// Offsets inside the header sector (18/0).
constexpr int D64_BAM_DISKNAME_OFFSET = 0x90;
constexpr int D64_BAM_DISKID_OFFSET = 0xA2;

// Offsets inside a 32-byte directory entry.
constexpr int D64_ENTRY_TYPE = 2;
constexpr int D64_ENTRY_FIRST_TRACK = 3;
constexpr int D64_ENTRY_FIRST_SECTOR = 4;
constexpr int D64_ENTRY_NAME = 5;
constexpr int D64_ENTRY_SIZE_LO = 30;

// Buffer sizes for text results (characters plus the terminating zero).
constexpr int D64_NAME_BUFFER_SIZE = 17;
constexpr int D64_ID_BUFFER_SIZE = 6;

// "DEL", "SEQ", "PRG", "USR", "REL", indexed by type code.
extern const char *const filetypedescriptors[5];

// Where a directory walk stands; the caller keeps it between steps.
struct d64_dir_position {
    uint8_t track;
    uint8_t sector;
    uint8_t index;  // entry within the sector, 0 to 7
};

// Start of the directory: always 18/1, entry 0 (the header link is not used).
void d64_first_dir_entry(const uint8_t *image, d64_dir_position *pos, const uint8_t **entry);
// 1 and the next entry; 0 at the end of the chain or at a bad link (position
// and entry then unchanged). Does not detect loops: callers bound their walks.
int d64_next_dir_entry(const uint8_t *image, d64_dir_position *pos, const uint8_t **entry);

// The 16 name bytes, terminated; if not all zero, every $00 becomes $40.
void d64_get_filename(const uint8_t *entry, char *name17);
// The raw type byte; 1 if its type code (bits 0-5) is below 5.
int d64_get_filetype(const uint8_t *entry, uint8_t *type);
void d64_get_file_size_sectors(const uint8_t *entry, unsigned *size);
// The raw first-block bytes; 1 if they name a valid sector of this build.
int d64_get_file_first_track_and_sector(const uint8_t *entry, int *track, int *sector);

// Disk name (16 bytes) and ID (5 bytes at $A2) with the zero rule, or the
// empty string when the first directory link is not 18/1.
void d64_get_diskname(const uint8_t *image, char *name17);
void d64_get_diskid(const uint8_t *image, char *id6);

// 1 if the sector's BAM bit is clear. Tracks outside 1..35 and sectors
// outside the track give 0: the header holds no bitmap for them.
int d64_is_sector_allocated(const uint8_t *image, int track, int sector);
// Sum of the BAM free counts of tracks 1-17 and 19-35.
void d64_count_free_sectors(const uint8_t *image, unsigned *count);

int d64_is_bam_sector_error_free(const uint8_t *image);
int d64_is_first_dir_link_valid(const uint8_t *image);
// 1 if sector 0 of the track starts with the link 18/1 (looks like a header).
int d64_is_first_dir_link_valid_in_track(const uint8_t *image, int track);

// 1 and the entry and name of the first file (in directory order) whose block
// chain contains track/sector, else 0.
int d64_get_filename_for_sector(const uint8_t *image, const uint8_t **entry, int track, int sector,
                                char *name17);

// GCompareFunc for lists of GINT_TO_POINTER integers kept in ascending order.
int int_sort_function(gconstpointer a, gconstpointer b);

// One first sector to read in the first-sector pass of the partial dumps.
struct sector_query_record {
    char filename[17];
    int entry_number;  // 1-based position in the directory
    int track;
    int sector;
};
// GCompareFunc on sector_query_record pointers: ascending first track.
// g_slist_sort is stable, so files on one track keep directory order.
int compare_track_func(gconstpointer a, gconstpointer b);
