// Stacking dumps: several reads of one disk combined into its best image,
// sector by sector, by the merit of each read (d64_error_merit).  Works on
// images as d64_storage holds them (data, then one error byte per sector).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Two dumps that say different things about one sector.
struct merge_disagreement {
    uint8_t track;
    uint8_t sector;
    int first, second;  // indexes of the two dumps
};

// A sector whose bytes were voted on.
struct merge_vote {
    uint8_t track;
    uint8_t sector;
    int reads;        // checksum-failed reads that voted
    int split_bytes;  // bytes on which they did not all agree
};

struct merge_result {
    std::vector<uint8_t> image;  // data and error info of the best reads
    // Another disk name or ID in the header sector (both read with data):
    // the index of the first dump that differs from dump 0, else -1.
    int other_header;
    // Good sectors whose bytes differ between two dumps (the first pair).
    std::vector<merge_disagreement> disagreements;
    // Sectors whose best reads all failed the checksum and that were read
    // so three or more times: their bytes are the byte-wise majority of
    // those reads; they stay marked as checksum failed.
    std::vector<merge_vote> majority;
    // Per sector in disk order: the dump it came from (-1 for a majority).
    std::vector<int> source;
    int sectors_good;
    int sectors_bad;   // accessible errors (d64_is_accessible_error)
};

// 1 when the dumps look like reads of one disk: no other header and no
// disagreeing good sectors.
int merge_same_disk(const merge_result &result);

// Merges the images (at least one), each d64_base_size bytes of data and
// d64_block_error_info_size error bytes: per sector the read of highest
// merit, the first of equals, except for the majority case above.  The
// result is filled even when the dumps are of different disks.
void merge_dumps(const std::vector<const uint8_t *> &images, merge_result *result);

// The per-disk log of a merge as text lines without line ends: the dumps,
// what each gave, the majority sectors, the outcome.
void merge_log_lines(const merge_result &result, const std::vector<std::string> &names,
                     std::vector<std::string> *lines);
