#include "support/g64.h"

#include <glib.h>

#include <cstring>

namespace {

const unsigned codes[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                            0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

uint32_t le32(const std::vector<uint8_t> &v, size_t at)
{
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | ((uint32_t)v[at + 3] << 24);
}

int bit_at(const std::vector<uint8_t> &t, size_t pos)
{
    size_t n = t.size() * 8;
    pos %= n;
    return (t[pos / 8] >> (7 - pos % 8)) & 1;
}

// Bytes taken from the circular bit stream starting at bit `pos`.
std::vector<uint8_t> take(const std::vector<uint8_t> &t, size_t pos, size_t count)
{
    std::vector<uint8_t> out(count, 0);
    for (size_t i = 0; i < count * 8; ++i)
        out[i / 8] |= (uint8_t)(bit_at(t, pos + i) << (7 - i % 8));
    return out;
}

// Bit positions where a block starts: first bit after each run of at least
// ten 1 bits. The scan starts after a 0 bit so a sync that wraps around the
// end of the track is seen once.
std::vector<size_t> block_starts(const std::vector<uint8_t> &t)
{
    std::vector<size_t> starts;
    size_t n = t.size() * 8;
    size_t first_zero = 0;
    while (first_zero < n && bit_at(t, first_zero))
        ++first_zero;
    if (first_zero == n)
        return starts;
    int ones = 0;
    for (size_t i = 1; i <= n; ++i) {
        size_t p = first_zero + i;
        if (bit_at(t, p)) {
            ++ones;
        } else {
            if (ones >= 10)
                starts.push_back(p % n);
            ones = 0;
        }
    }
    return starts;
}

// Decodes `count` bytes from GCR; 0 when any code is invalid.
int decode_bytes(const std::vector<uint8_t> &gcr, size_t count, std::vector<uint8_t> *out)
{
    out->assign(count, 0);
    for (size_t k = 0; k < count; ++k) {
        unsigned v = 0;
        for (int b = 0; b < 10; ++b) {
            size_t bit = 10 * k + b;
            v = (v << 1) | ((gcr[bit / 8] >> (7 - bit % 8)) & 1);
        }
        int hi = g64_gcr_nibble(v >> 5), lo = g64_gcr_nibble(v & 0x1F);
        if (hi < 0 || lo < 0)
            return 0;
        (*out)[k] = (uint8_t)(hi << 4 | lo);
    }
    return 1;
}

}  // namespace

int g64_gcr_nibble(unsigned code)
{
    for (int n = 0; n < 16; ++n)
        if (codes[n] == code)
            return n;
    return -1;
}

int g64_load(const std::string &path, std::vector<uint8_t> *image)
{
    gchar *contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr))
        return 0;
    image->assign((uint8_t *)contents, (uint8_t *)contents + length);
    g_free(contents);
    if (image->size() < 12 || std::memcmp(image->data(), "GCR-1541", 8) != 0)
        return 0;
    size_t tracks = (*image)[9];
    return image->size() >= 12 + 8 * tracks ? 1 : 0;
}

int g64_track(const std::vector<uint8_t> &image, int track, std::vector<uint8_t> *bits)
{
    size_t index = (size_t)(track - 1) * 2;
    if (track < 1 || index >= image[9])
        return 0;
    uint32_t offset = le32(image, 12 + 4 * index);
    if (offset == 0 || offset + 2 > image.size())
        return 0;
    size_t length = image[offset] | (image[offset + 1] << 8);
    if (length == 0 || offset + 2 + length > image.size())
        return 0;
    bits->assign(image.begin() + offset + 2, image.begin() + offset + 2 + length);
    return 1;
}

int g64_find_sectors(const std::vector<uint8_t> &track, size_t block_bytes,
                     std::vector<g64_sector> *sectors)
{
    sectors->clear();
    std::vector<size_t> starts = block_starts(track);
    for (size_t i = 0; i < starts.size(); ++i) {
        std::vector<uint8_t> header;
        if (!decode_bytes(take(track, starts[i], 10), 8, &header) || header[0] != 0x08)
            continue;
        if ((header[1] ^ header[2] ^ header[3] ^ header[4] ^ header[5]) != 0)
            continue;
        if (starts.size() < 2)
            return 0;
        size_t data_start = starts[(i + 1) % starts.size()];
        g64_sector s;
        s.track = header[3];
        s.sector = header[2];
        s.block = take(track, data_start, block_bytes);
        sectors->push_back(std::move(s));
    }
    return sectors->empty() ? 0 : 1;
}
