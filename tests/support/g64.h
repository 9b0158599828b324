// Minimal reader for G64 raw-GCR disk files, for tests only: finds the sectors
// of a track and hands back the raw bits of each data block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct g64_sector {
    int track;
    int sector;
    // Raw GCR bits of the data block from its first bit (the first bit after
    // the sync), realigned to bytes: 0x55 for a normal marker comes first.
    std::vector<uint8_t> block;
};

// Reads and checks the file signature. Returns 1/0.
int g64_load(const std::string &path, std::vector<uint8_t> *image);

// Raw bytes of full track `track` (1-based). Returns 1/0 (0 when absent).
int g64_track(const std::vector<uint8_t> &image, int track, std::vector<uint8_t> *bits);

// Every sector whose header decodes cleanly and is followed by a data block.
// block_bytes: how many bytes of the data block to keep. Track data is
// treated as circular. Returns 1/0.
int g64_find_sectors(const std::vector<uint8_t> &track, size_t block_bytes,
                     std::vector<g64_sector> *sectors);

// Test-side GCR decode of one 5-bit code, independent of the product code;
// -1 for an invalid code.
int g64_gcr_nibble(unsigned code);
