#include "gcr/gcr.h"

#include <cstring>

constexpr uint8_t gcr_decode_table[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // 00-07
    0xFF, 0x08, 0x00, 0x01, 0xFF, 0x0C, 0x04, 0x05,  // 08-0F
    0xFF, 0xFF, 0x02, 0x03, 0xFF, 0x0F, 0x06, 0x07,  // 10-17
    0xFF, 0x09, 0x0A, 0x0B, 0xFF, 0x0D, 0x0E, 0xFF,  // 18-1F
};

namespace {

constexpr uint8_t gcr_encode_table[16] = {
    0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
    0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15,
};

// Ten code bits of each data byte.
struct Encode10Table {
    uint16_t entry[256];
};

constexpr Encode10Table make_encode10_table()
{
    Encode10Table t{};
    for (int b = 0; b < 256; ++b)
        t.entry[b] = (uint16_t)((gcr_encode_table[b >> 4] << 5) | gcr_encode_table[b & 0x0F]);
    return t;
}

constexpr Encode10Table encode10_table = make_encode10_table();

inline uint32_t code10(uint8_t b)
{
    return encode10_table.entry[b];
}

// One data byte from ten code bits; adds invalid codes to *bad.
inline uint8_t decode10(uint32_t bits, int *bad)
{
    uint8_t hi = gcr_decode_table[(bits >> 5) & 0x1F];
    uint8_t lo = gcr_decode_table[bits & 0x1F];
    *bad += (hi >> 4 ? 1 : 0) + (lo >> 4 ? 1 : 0);
    return (uint8_t)((hi << 4) | (lo & 0x0F));
}

// Fixed shape of a sector body: exactly 4 <-> 5 bytes, straight-line.
void gcr_encode_group(const uint8_t *data, uint8_t *gcr)
{
    uint64_t bits = ((uint64_t)code10(data[0]) << 30) | ((uint64_t)code10(data[1]) << 20) |
                    ((uint64_t)code10(data[2]) << 10) | code10(data[3]);
    gcr[0] = (uint8_t)(bits >> 32);
    gcr[1] = (uint8_t)(bits >> 24);
    gcr[2] = (uint8_t)(bits >> 16);
    gcr[3] = (uint8_t)(bits >> 8);
    gcr[4] = (uint8_t)bits;
}

// Ten code bits -> data byte in bits 7..0 and the number of invalid codes
// (0 to 2) in bits 9..8: one lookup per byte on the hot path.
struct Decode10Table {
    uint16_t entry[1024];
};

constexpr Decode10Table make_decode10_table()
{
    Decode10Table t{};
    for (int bits = 0; bits < 1024; ++bits) {
        int hi = gcr_decode_table[bits >> 5];
        int lo = gcr_decode_table[bits & 0x1F];
        int bad = (hi > 15 ? 1 : 0) + (lo > 15 ? 1 : 0);
        t.entry[bits] = (uint16_t)((bad << 8) | (((hi << 4) | (lo & 0x0F)) & 0xFF));
    }
    return t;
}

constexpr Decode10Table decode10_table = make_decode10_table();

inline int gcr_decode_group(const uint8_t *gcr, uint8_t *data)
{
    uint64_t bits = ((uint64_t)gcr[0] << 32) | ((uint64_t)gcr[1] << 24) | ((uint64_t)gcr[2] << 16) |
                    ((uint64_t)gcr[3] << 8) | gcr[4];
    uint16_t a = decode10_table.entry[(bits >> 30) & 0x3FF];
    uint16_t b = decode10_table.entry[(bits >> 20) & 0x3FF];
    uint16_t c = decode10_table.entry[(bits >> 10) & 0x3FF];
    uint16_t d = decode10_table.entry[bits & 0x3FF];
    data[0] = (uint8_t)a;
    data[1] = (uint8_t)b;
    data[2] = (uint8_t)c;
    data[3] = (uint8_t)d;
    return (a >> 8) + (b >> 8) + (c >> 8) + (d >> 8);
}

}  // namespace

void gcr_4_to_5_encode(const uint8_t *data, uint8_t *gcr, int data_count, int gcr_count)
{
    if (gcr_count < 1)
        return;
    if (data_count < 1) {
        gcr[0] = 0x00;
        return;
    }
    if (data_count >= 4 && gcr_count >= 5) {
        gcr_encode_group(data, gcr);
        return;
    }
    int n = data_count > 4 ? 4 : data_count;
    // Left-align the 10 * n code bits in a 40-bit field; the zero fill below
    // them is what a trailing partial byte carries.
    uint64_t bits = 0;
    for (int k = 0; k < n; ++k)
        bits |= (uint64_t)code10(data[k]) << (30 - 10 * k);
    int out = n + 1;  // GCR bytes touched by n data bytes
    if (out > gcr_count)
        out = gcr_count;
    for (int i = 0; i < out; ++i)
        gcr[i] = (uint8_t)(bits >> (32 - 8 * i));
}

int gcr_5_to_4_decode(const uint8_t *gcr, uint8_t *data, int gcr_count, int data_count)
{
    if (data_count < 1)
        return 0;
    if (data_count >= 4 && gcr_count >= 5)
        return gcr_decode_group(gcr, data);
    int n = data_count > 4 ? 4 : data_count;
    int avail = gcr_count < 0 ? 0 : (gcr_count > 5 ? 5 : gcr_count);
    uint8_t in[5] = {0, 0, 0, 0, 0};  // bytes past the count read as zero
    if (avail > 0)
        std::memcpy(in, gcr, (size_t)avail);
    uint64_t bits = ((uint64_t)in[0] << 32) | ((uint64_t)in[1] << 24) | ((uint64_t)in[2] << 16) |
                    ((uint64_t)in[3] << 8) | in[4];
    int bad = 0;
    for (int k = 0; k < n; ++k) {
        uint32_t code = (uint32_t)(bits >> (30 - 10 * k)) & 0x3FF;
        // A short input ends where only zero fill is left, so the padding of a
        // partial last byte is not counted as invalid codes.
        int last_byte = (10 * k + 9) / 8;
        if (last_byte >= avail) {
            uint32_t pending = k == 0 ? code >> 5 : code;
            if (pending == 0)
                return bad;
        }
        data[k] = decode10(code, &bad);
    }
    return bad;
}

void gcr_encode_groups(const uint8_t *data, uint8_t *gcr, int groups)
{
    for (int g = 0; g < groups; ++g)
        gcr_encode_group(data + 4 * g, gcr + 5 * g);
}

int gcr_decode_groups(const uint8_t *gcr, uint8_t *data, int groups)
{
    int bad = 0;
    for (int g = 0; g < groups; ++g)
        bad += gcr_decode_group(gcr + 5 * g, data + 4 * g);
    return bad;
}
