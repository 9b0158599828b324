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

// Big-endian words keep the packet's bit order (MSB first) across bytes.
// Spelled out so the compiler turns them into one load/store and a swap.
inline uint64_t load_be64(const uint8_t *p)
{
    return ((uint64_t)p[0] << 56) | ((uint64_t)p[1] << 48) | ((uint64_t)p[2] << 40) |
           ((uint64_t)p[3] << 32) | ((uint64_t)p[4] << 24) | ((uint64_t)p[5] << 16) |
           ((uint64_t)p[6] << 8) | (uint64_t)p[7];
}

inline void store_be64(uint8_t *p, uint64_t w)
{
    p[0] = (uint8_t)(w >> 56);
    p[1] = (uint8_t)(w >> 48);
    p[2] = (uint8_t)(w >> 40);
    p[3] = (uint8_t)(w >> 32);
    p[4] = (uint8_t)(w >> 24);
    p[5] = (uint8_t)(w >> 16);
    p[6] = (uint8_t)(w >> 8);
    p[7] = (uint8_t)w;
}

// XOR of n bytes (n a multiple of 8).
inline uint8_t xor_bytes(const uint8_t *p, int n)
{
    uint64_t acc = 0;
    for (int i = 0; i < n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        acc ^= w;
    }
    acc ^= acc >> 32;
    acc ^= acc >> 16;
    acc ^= acc >> 8;
    return (uint8_t)acc;
}

inline uint8_t xor_of_256(const uint8_t *p)
{
    return xor_bytes(p, 256);
}

}  // namespace

int warp_validate_incoming_stream(const uint8_t *packet)
{
    uint8_t x = (uint8_t)(xor_bytes(packet, 320) ^ packet[320] ^ packet[321] ^ packet[322]);
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
    // Transform and drop the two marker bits in one pass, 8 bytes at a time:
    // each output word needs the transformed first byte of the next word,
    // which is still unwritten because the pass runs forwards.
    for (int i = 0; i < 320; i += 8) {
        uint64_t w = bus_order_word(load_be64(packet + i));
        uint8_t next = warp_bus_order_transform(packet[i + 8]);
        store_be64(packet + i, (w << 2) | (next >> 6));
    }
    uint8_t s320 = warp_bus_order_transform(packet[320]);
    uint8_t s321 = warp_bus_order_transform(packet[321]);
    packet[320] = (uint8_t)((s320 << 2) | (s321 >> 6));
    packet[321] = (uint8_t)(((s321 << 2) & 0xC0) | (s321 & 0x01));
    packet[322] = warp_bus_order_transform(packet[322]);
    packet[323] = warp_bus_order_transform(packet[323]);
}

int warp_decode_gcr_stream(const uint8_t *packet, uint8_t *data, uint32_t *sector,
                           uint8_t *checksum, uint32_t *checksum_ok, uint32_t *end_of_track)
{
    int bad = gcr_decode_groups(packet, data, 64);
    uint8_t sum = xor_of_256(data);
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
    uint8_t sum = xor_of_256(data);
    gcr_encode_groups(data, packet, 64);
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
