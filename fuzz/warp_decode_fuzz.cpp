// Arbitrary bytes through the receive path: validate, normalise, decode.
// Whatever the device sends must be refused or decoded without touching
// memory outside the packet and the caller's buffers.
#include "gcr/gcr.h"
#include "gcr/warp.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    static uint8_t packet[WARP_PACKET_SIZE];
    static uint8_t data[256];
    std::memset(packet, 0, sizeof packet);
    std::memcpy(packet, input, size < sizeof packet ? size : sizeof packet);

    (void)warp_incoming_stream_is_empty(packet);
    (void)warp_validate_incoming_stream(packet);
    // Decode even packets that failed the checks: the decoder must cope.
    warp_normalise_incoming_stream(packet);
    uint32_t sector = 0, checksum_ok = 0, end_of_track = 0;
    uint8_t checksum = 0;
    int clean = warp_decode_gcr_stream(packet, data, &sector, &checksum, &checksum_ok, &end_of_track);

    if (checksum_ok > 1 || end_of_track > 1 || !(sector < 32 || sector == 255 || sector == 271))
        __builtin_trap();
    if (clean) {
        // Valid GCR is a one-to-one code: encoding the result must give back
        // the normalised bits.
        uint8_t again[WARP_PACKET_SIZE];
        warp_encode_gcr_stream(data, again, 0, 0);
        uint8_t sum_code[2];
        gcr_4_to_5_encode(&checksum, sum_code, 1, 2);
        if (std::memcmp(again, packet, 320) != 0 || sum_code[0] != packet[320] ||
            sum_code[1] != (packet[321] & 0xC0))
            __builtin_trap();
        uint8_t sum = 0;
        for (uint8_t b : data)
            sum ^= b;
        if (checksum_ok != (sum == checksum ? 1u : 0u))
            __builtin_trap();
    }
    return 0;
}
