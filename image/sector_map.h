// A compact text map of a disk's error bytes: one column per track, one row
// per sector, one character per state, and a legend.  43 columns wide for
// 40 tracks, so it fits any terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The map character of an error byte: '.' good, 'C' checksum failed, 'G' GCR
// failed, '-' no sync or not read, 'x' not accessible, '?' any other code.
char sector_map_char(int code);

// The map of `tracks` tracks (1 to 42) from their error bytes, one per
// sector in disk order (start_sector_of_track[tracks + 1] of them; missing
// ones count as not read): two header rows with the track numbers, a row per
// sector, then the legend.  Lines have no line ends.
void sector_map_lines(const uint8_t *codes, int count, int tracks, std::vector<std::string> *lines);
