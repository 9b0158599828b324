#include "image/sector_map.h"

#include <cstdio>

#include "image/d64.h"

char sector_map_char(int code)
{
    switch (code) {
    case D64_ERR_OK: return '.';
    case D64_ERR_CHECKSUM: return 'C';
    case D64_ERR_GCR: return 'G';
    case D64_ERR_NO_SYNC: return '-';
    case D64_ERR_INACCESSIBLE: return 'x';
    default: return '?';
    }
}

void sector_map_lines(const uint8_t *codes, int count, int tracks, std::vector<std::string> *lines)
{
    if (tracks < 1)
        return;
    if (tracks > D64_MAX_TRACKS)
        tracks = D64_MAX_TRACKS;
    std::string tens = "track ", units = "      ";
    for (int t = 1; t <= tracks; t++) {
        tens += t % 10 == 0 ? (char)('0' + t / 10) : ' ';
        units += (char)('0' + t % 10);
    }
    while (tens.back() == ' ')
        tens.pop_back();
    lines->push_back(tens);
    lines->push_back(units);
    for (int s = 0; s < d64_sectors_of_track(1); s++) {
        char label[8];
        snprintf(label, sizeof label, "%4d  ", s);
        std::string row = label;
        for (int t = 1; t <= tracks; t++) {
            int i = start_sector_of_track[t] + s;
            if (s >= d64_sectors_of_track(t))
                row += ' ';
            else
                row += sector_map_char(i < count ? (int)codes[i] : (int)D64_ERR_NO_SYNC);
        }
        while (!row.empty() && row.back() == ' ')
            row.pop_back();
        lines->push_back(row);
    }
    lines->push_back(". good  C checksum failed  G GCR failed  - no sync or not read");
    lines->push_back("x not accessible  ? other error code");
}
