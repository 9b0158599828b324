#include "gcr/warp.h"

#include "gcr/gcr.h"

#include <cstring>

namespace {

constexpr uint64_t lanes(uint8_t b)
{
    return 0x0101010101010101ULL * b;
}

// Bus-order transform of 8 bytes at once; the masks keep bits from crossing
// byte boundaries.
inline uint64_t bus_order_word(uint64_t r)
{
    uint64_t x = ~r;
    return ((x << 3) & lanes(0x88)) | ((x >> 3) & lanes(0x11)) | (x & lanes(0x66));
}

}  // namespace

int warp_validate_incoming_stream(const uint8_t *packet)
{
    uint64_t acc = 0;
    for (int i = 0; i < 320; i += 8) {
        uint64_t w;
        std::memcpy(&w, packet + i, 8);
        acc ^= w;
    }
    acc ^= acc >> 32;
    acc ^= acc >> 16;
    acc ^= acc >> 8;
    uint8_t x = (uint8_t)(acc ^ packet[320] ^ packet[321] ^ packet[322]);
    if (packet[323] == x)
        return 1;
    // The device may clear bit 3 of byte 321 (the end-of-track flag, once
    // transformed) after summing; accept a checksum that still has it set.
    if (packet[321] & 0x08)
        return 0;
    return packet[323] == (uint8_t)(x ^ 0x08) ? 1 : 0;
}

void warp_normalise_incoming_stream(uint8_t *packet)
{
    for (int i = 0; i < 320; i += 8) {
        uint64_t w;
        std::memcpy(&w, packet + i, 8);
        w = bus_order_word(w);
        std::memcpy(packet + i, &w, 8);
    }
    for (int i = 320; i < WARP_PACKET_SIZE; ++i)
        packet[i] = warp_bus_order_transform(packet[i]);

    // Drop the two marker bits so the data starts on a byte boundary. Each
    // byte reads only its right neighbour, which is not yet rewritten.
    for (int i = 0; i < 321; ++i)
        packet[i] = (uint8_t)((packet[i] << 2) | (packet[i + 1] >> 6));
    uint8_t s = packet[321];
    packet[321] = (uint8_t)(((s << 2) & 0xC0) | (s & 0x01));
}

int warp_decode_gcr_stream(const uint8_t *packet, uint8_t *data, uint32_t *sector,
                           uint8_t *checksum, uint32_t *checksum_ok, uint32_t *end_of_track)
{
    int bad = 0;
    uint8_t sum = 0;
    for (int g = 0; g < 64; ++g) {
        uint8_t *d = data + 4 * g;
        bad += gcr_5_to_4_decode(packet + 5 * g, d, 5, 4);
        sum ^= (uint8_t)(d[0] ^ d[1] ^ d[2] ^ d[3]);
    }
    uint8_t received = 0;
    bad += gcr_5_to_4_decode(packet + 320, &received, 2, 1);

    *checksum = received;
    *checksum_ok = received == sum ? 1 : 0;
    *end_of_track = packet[321] & 0x01;
    *sector = (packet[322] & 0x20 ? 16u : 0u) + gcr_decode_table[packet[322] & 0x1F];
    return bad == 0 ? 1 : 0;
}

void warp_encode_gcr_stream(const uint8_t *data, uint8_t *packet, uint8_t sector, uint8_t track)
{
    uint8_t sum = 0;
    for (int g = 0; g < 64; ++g) {
        const uint8_t *d = data + 4 * g;
        gcr_4_to_5_encode(d, packet + 5 * g, 4, 5);
        sum ^= (uint8_t)(d[0] ^ d[1] ^ d[2] ^ d[3]);
    }
    gcr_4_to_5_encode(&sum, packet + 320, 1, 2);
    // After the shift these bits read 0 1 0 1: the start of the first off byte.
    packet[321] |= 0x14;
    packet[322] = sector;
    packet[323] = track;
}

void warp_shift_outgoing_stream(uint8_t *packet)
{
    uint8_t carry = 0xC0;  // the last two bits of the marker code
    for (int i = 0; i < 322; ++i) {
        uint8_t b = packet[i];
        packet[i] = (uint8_t)((b >> 2) | carry);
        carry = (uint8_t)(b << 6);
    }
}
