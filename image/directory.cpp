#include "image/directory.h"

#include <algorithm>
#include <cstring>
#include <vector>

const char *const filetypedescriptors[5] = {"DEL", "SEQ", "PRG", "USR", "REL"};

namespace {

const uint8_t *sector_at(const uint8_t *image, int track, int sector)
{
    return image + d64_sector_offset(track, sector);
}

const uint8_t *header_sector(const uint8_t *image)
{
    return sector_at(image, D64_DIR_TRACK, 0);
}

// Copy a name field and apply the zero rule: an all-zero field stays empty,
// otherwise each $00 becomes '@' so it cannot cut the string short.
void copy_with_zero_rule(const uint8_t *field, int length, char *out)
{
    bool all_zero = true;
    for (int i = 0; i < length; ++i)
        if (field[i] != 0)
            all_zero = false;
    for (int i = 0; i < length; ++i)
        out[i] = (char)(all_zero ? 0 : (field[i] == 0 ? 0x40 : field[i]));
    out[length] = 0;
}

bool link_is_directory_sector(uint8_t track, uint8_t sector)
{
    return track == D64_DIR_TRACK && sector < d64_sectors_of_track(D64_DIR_TRACK);
}

}  // namespace

int int_sort_function(gconstpointer a, gconstpointer b)
{
    return GPOINTER_TO_INT(a) - GPOINTER_TO_INT(b);
}

int compare_track_func(gconstpointer a, gconstpointer b)
{
    return static_cast<const sector_query_record *>(a)->track -
           static_cast<const sector_query_record *>(b)->track;
}

void d64_first_dir_entry(const uint8_t *image, d64_dir_position *pos, const uint8_t **entry)
{
    pos->track = D64_DIR_TRACK;
    pos->sector = 1;
    pos->index = 0;
    *entry = sector_at(image, D64_DIR_TRACK, 1);
}

int d64_next_dir_entry(const uint8_t *image, d64_dir_position *pos, const uint8_t **entry)
{
    // A position that did not come from a walk is not trusted either.
    if (!link_is_directory_sector(pos->track, pos->sector))
        return 0;
    const uint8_t *sector = sector_at(image, pos->track, pos->sector);
    if (pos->index < D64_DIR_ENTRIES_PER_SECTOR - 1) {
        pos->index++;
        *entry = sector + D64_DIR_ENTRY_SIZE * pos->index;
        return 1;
    }
    if (!link_is_directory_sector(sector[0], sector[1]))
        return 0;
    pos->track = sector[0];
    pos->sector = sector[1];
    pos->index = 0;
    *entry = sector_at(image, pos->track, pos->sector);
    return 1;
}

void d64_get_filename(const uint8_t *entry, char *name17)
{
    copy_with_zero_rule(entry + D64_ENTRY_NAME, 16, name17);
}

int d64_get_filetype(const uint8_t *entry, uint8_t *type)
{
    *type = entry[D64_ENTRY_TYPE];
    return (*type & 0x3F) < 5 ? 1 : 0;
}

void d64_get_file_size_sectors(const uint8_t *entry, unsigned *size)
{
    *size = (unsigned)entry[D64_ENTRY_SIZE_LO] | ((unsigned)entry[D64_ENTRY_SIZE_LO + 1] << 8);
}

int d64_get_file_first_track_and_sector(const uint8_t *entry, int *track, int *sector)
{
    *track = entry[D64_ENTRY_FIRST_TRACK];
    *sector = entry[D64_ENTRY_FIRST_SECTOR];
    return d64_are_track_and_sector_valid(entry[D64_ENTRY_FIRST_TRACK], entry[D64_ENTRY_FIRST_SECTOR]);
}

void d64_get_diskname(const uint8_t *image, char *name17)
{
    if (!d64_is_first_dir_link_valid(image)) {
        name17[0] = 0;
        return;
    }
    copy_with_zero_rule(header_sector(image) + D64_BAM_DISKNAME_OFFSET, 16, name17);
}

void d64_get_diskid(const uint8_t *image, char *id6)
{
    if (!d64_is_first_dir_link_valid(image)) {
        id6[0] = 0;
        return;
    }
    copy_with_zero_rule(header_sector(image) + D64_BAM_DISKID_OFFSET, 5, id6);
}

int d64_is_sector_allocated(const uint8_t *image, int track, int sector)
{
    // The standard header holds bitmaps for tracks 1 to 35 only; beyond that
    // the four-byte stride would land on the disk name.
    if (track < 1 || track > 35 || sector < 0 || sector >= d64_sectors_of_track(track))
        return 0;
    const uint8_t *bitmap = header_sector(image) + 5 + 4 * (track - 1);
    return (bitmap[sector >> 3] & (1 << (sector & 7))) ? 0 : 1;
}

void d64_count_free_sectors(const uint8_t *image, unsigned *count)
{
    // Tracks 1 to 35 in both builds: see d64_is_sector_allocated.
    const uint8_t *bam = header_sector(image);
    unsigned sum = 0;
    for (int t = 1; t <= 35; ++t)
        if (t != D64_DIR_TRACK)
            sum += bam[4 + 4 * (t - 1)];
    *count = sum;
}

int d64_is_bam_sector_error_free(const uint8_t *image)
{
    return d64_get_block_error_info(image, D64_DIR_TRACK, 0) == D64_ERR_OK ? 1 : 0;
}

int d64_is_first_dir_link_valid(const uint8_t *image)
{
    return d64_is_first_dir_link_valid_in_track(image, D64_DIR_TRACK);
}

int d64_is_first_dir_link_valid_in_track(const uint8_t *image, int track)
{
    if (track < 1 || track > TRACKS)
        return 0;
    const uint8_t *s = sector_at(image, track, 0);
    return s[0] == D64_DIR_TRACK && s[1] == 1 ? 1 : 0;
}

namespace {

// 1 if the block chain starting at the entry's first block holds track/sector.
// The walk is cut after as many blocks as the image has, so a loop ends it.
bool chain_contains(const uint8_t *image, uint8_t track, uint8_t sector, int want_track, int want_sector)
{
    for (int64_t followed = 0; followed < d64_block_error_info_size; ++followed) {
        if (!d64_are_track_and_sector_valid(track, sector))
            return false;
        if (track == want_track && sector == want_sector)
            return true;
        const uint8_t *block = sector_at(image, track, sector);
        track = block[0];
        sector = block[1];
    }
    return false;
}

}  // namespace

int d64_get_filename_for_sector(const uint8_t *image, const uint8_t **entry, int track, int sector,
                                char *name17)
{
    std::vector<int> visited{D64_DIR_TRACK * 100 + 1};
    d64_dir_position pos;
    const uint8_t *e;
    d64_first_dir_entry(image, &pos, &e);
    for (int n = 0; n < D64_DIR_MAX_ENTRIES; ++n) {
        int ft, fs;
        if (e[D64_ENTRY_TYPE] != 0 && d64_get_file_first_track_and_sector(e, &ft, &fs) &&
            chain_contains(image, (uint8_t)ft, (uint8_t)fs, track, sector)) {
            *entry = e;
            d64_get_filename(e, name17);
            return 1;
        }
        if (!d64_next_dir_entry(image, &pos, &e))
            return 0;
        if (pos.index == 0) {  // entered another sector (or the same one again)
            int key = pos.track * 100 + pos.sector;
            auto it = std::lower_bound(visited.begin(), visited.end(), key, [](int a, int b) {
                return int_sort_function(GINT_TO_POINTER(a), GINT_TO_POINTER(b)) < 0;
            });
            if (it != visited.end() && *it == key)
                return 0;
            visited.insert(it, key);
        }
    }
    return 0;
}
