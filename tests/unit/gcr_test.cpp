#include <gtest/gtest.h>

#include "gcr/gcr.h"

#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Reference codes written out by bit pattern, so a typo in the product table
// does not cancel out.
const char *const reference_codes[16] = {
    "01010", "01011", "10010", "10011", "01110", "01111", "10110", "10111",
    "01001", "11001", "11010", "11011", "01101", "11101", "11110", "10101",
};

// Bit-by-bit encoding of `bytes` into ceil(bits/8) GCR bytes, zero filled.
std::vector<uint8_t> reference_encode(const std::vector<uint8_t> &bytes)
{
    std::vector<int> bits;
    for (uint8_t b : bytes)
        for (int nib : {b >> 4, b & 0x0F})
            for (const char *c = reference_codes[nib]; *c; ++c)
                bits.push_back(*c - '0');
    std::vector<uint8_t> out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        out[i / 8] |= (uint8_t)(bits[i] << (7 - i % 8));
    return out;
}

TEST(GcrCodec, KnownVectors)
{
    const uint8_t zeros[4] = {0, 0, 0, 0};
    uint8_t gcr[5];
    gcr_4_to_5_encode(zeros, gcr, 4, 5);
    EXPECT_EQ(std::vector<uint8_t>(gcr, gcr + 5), (std::vector<uint8_t>{0x52, 0x94, 0xA5, 0x29, 0x4A}));

    uint8_t seven = 0x07, two[2];
    gcr_4_to_5_encode(&seven, two, 1, 2);
    EXPECT_EQ(two[0], 0x55);
    EXPECT_EQ(two[1], 0xC0);

    uint8_t data[4];
    const uint8_t ff[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(gcr_5_to_4_decode(ff, data, 5, 4), 8);
    for (uint8_t d : data)
        EXPECT_EQ(d, 0xFF);

    EXPECT_EQ(gcr_5_to_4_decode(gcr, data, 5, 4), 0);
    for (uint8_t d : data)
        EXPECT_EQ(d, 0x00);

    uint8_t one = 0;
    EXPECT_EQ(gcr_5_to_4_decode(two, &one, 2, 1), 0);
    EXPECT_EQ(one, 0x07);
}

TEST(GcrCodec, TableHoldsExactlySixteenValidCodes)
{
    int valid = 0;
    for (unsigned c = 0; c < 32; ++c) {
        int expected = -1;
        for (int n = 0; n < 16; ++n)
            if (std::strtoul(reference_codes[n], nullptr, 2) == c)
                expected = n;
        EXPECT_EQ(gcr_decode_table[c], expected < 0 ? 0xFF : expected) << "code " << c;
        valid += expected >= 0;
    }
    EXPECT_EQ(valid, 16);
}

TEST(GcrCodec, EveryByteInEveryPositionMatchesReferenceAndRoundTrips)
{
    std::mt19937 rng(1541);
    for (int pos = 0; pos < 4; ++pos) {
        for (int b = 0; b < 256; ++b) {
            std::vector<uint8_t> in(4);
            for (auto &x : in)
                x = (uint8_t)rng();
            in[pos] = (uint8_t)b;
            uint8_t gcr[5], out[4];
            gcr_4_to_5_encode(in.data(), gcr, 4, 5);
            ASSERT_EQ(std::vector<uint8_t>(gcr, gcr + 5), reference_encode(in)) << pos << " " << b;
            ASSERT_EQ(gcr_5_to_4_decode(gcr, out, 5, 4), 0);
            ASSERT_EQ(std::vector<uint8_t>(out, out + 4), in);
        }
    }
}

TEST(GcrCodec, InvalidCodesReadAsNibbleFAndAreCounted)
{
    const uint8_t invalid[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                 0x08, 0x0C, 0x10, 0x11, 0x14, 0x18, 0x1C, 0x1F};
    const uint8_t in[4] = {0x12, 0x34, 0x56, 0x78};
    for (uint8_t bad : invalid) {
        // Put the invalid code into each of the eight code slots in turn.
        for (int slot = 0; slot < 8; ++slot) {
            uint8_t gcr[5];
            gcr_4_to_5_encode(in, gcr, 4, 5);
            uint64_t bits = 0;
            for (uint8_t g : gcr)
                bits = bits << 8 | g;
            int shift = 35 - 5 * slot;
            bits = (bits & ~(0x1FULL << shift)) | ((uint64_t)bad << shift);
            for (int i = 4; i >= 0; --i, bits >>= 8)
                gcr[i] = (uint8_t)bits;
            uint8_t out[4];
            ASSERT_EQ(gcr_5_to_4_decode(gcr, out, 5, 4), 1) << int(bad) << " slot " << slot;
            uint8_t expect[4];
            std::memcpy(expect, in, 4);
            expect[slot / 2] |= slot % 2 ? 0x0F : 0xF0;
            EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(expect, expect + 4));
        }
    }
}

TEST(GcrCodec, ShortShapesStayInsideTheirCounts)
{
    const uint8_t in[4] = {0xA5, 0x3C, 0x0F, 0xE1};
    for (int n = 1; n <= 4; ++n) {
        std::vector<uint8_t> expect = reference_encode(std::vector<uint8_t>(in, in + n));
        ASSERT_EQ(expect.size(), (size_t)n + 1);
        for (int gcount = 0; gcount <= 5; ++gcount) {
            std::array<uint8_t, 8> gcr;
            gcr.fill(0xEE);
            gcr_4_to_5_encode(in, gcr.data(), n, gcount);
            int written = std::min(gcount, n + 1);
            for (int i = 0; i < 8; ++i) {
                if (i < written)
                    EXPECT_EQ(gcr[i], expect[i]) << n << "/" << gcount << " byte " << i;
                else
                    EXPECT_EQ(gcr[i], 0xEE) << n << "/" << gcount << " byte " << i;
            }
        }
        // Decoding the n+1 bytes back asks for 4 but stops at the zero fill.
        std::array<uint8_t, 6> out;
        out.fill(0xEE);
        EXPECT_EQ(gcr_5_to_4_decode(expect.data(), out.data(), n + 1, 4), 0) << n;
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(out[i], i < n ? in[i] : 0xEE) << n << " byte " << i;
    }

    // Empty input: one zero byte out, or nothing at all.
    uint8_t g[2] = {0xEE, 0xEE};
    gcr_4_to_5_encode(in, g, 0, 2);
    EXPECT_EQ(g[0], 0x00);
    EXPECT_EQ(g[1], 0xEE);
    g[0] = 0xEE;
    gcr_4_to_5_encode(in, g, 3, 0);
    gcr_4_to_5_encode(in, g, -1, -1);
    EXPECT_EQ(g[0], 0xEE);

    uint8_t d[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    const uint8_t zero5[5] = {0x52, 0x94, 0xA5, 0x29, 0x4A};
    EXPECT_EQ(gcr_5_to_4_decode(zero5, d, 5, 0), 0);
    EXPECT_EQ(gcr_5_to_4_decode(zero5, d, 0, 4), 0);  // nothing to read: stops at once
    EXPECT_EQ(gcr_5_to_4_decode(zero5, d, -3, 4), 0);
    // Oversized counts are capped at 4 data / 5 GCR bytes.
    EXPECT_EQ(gcr_5_to_4_decode(zero5, d, 9, 9), 0);
    EXPECT_EQ(d[3], 0x00);
    EXPECT_EQ(d[4], 0xEE);
    uint8_t big[7];
    std::memset(big, 0xEE, sizeof big);
    gcr_4_to_5_encode(in, big, 9, 9);
    EXPECT_EQ(big[5], 0xEE);

    // A short input whose tail is not zero fill goes on reading zeros and
    // counts the resulting invalid codes.
    const uint8_t tail[1] = {0x52};
    EXPECT_EQ(gcr_5_to_4_decode(tail, d, 1, 1), 1);
    EXPECT_EQ(d[0], 0x0F);
    // For the first byte only its first code decides: zero there stops,
    // whatever the rest of the short input holds.
    const uint8_t low_bits[1] = {0x07};
    d[0] = 0xEE;
    EXPECT_EQ(gcr_5_to_4_decode(low_bits, d, 1, 4), 0);
    EXPECT_EQ(d[0], 0xEE);
}

}  // namespace
