// Warp streams: the fixed 324-byte packets in which one sector's GCR data
// block travels between the device and the client. Everything works in place
// on the caller's buffer; nothing allocates, logs or touches the image store.
//
// Receiving:  read 324 bytes; if warp_incoming_stream_is_empty() the device had
//             no sector; else warp_validate_incoming_stream(), and only when it
//             passes warp_normalise_incoming_stream() then warp_decode_gcr_stream().
// Sending:    warp_encode_gcr_stream(), warp_shift_outgoing_stream(), write.
#pragma once

#include <cstdint>

constexpr int WARP_PACKET_SIZE = 324;

// Received byte -> value: invert, then swap bits 0<->3 and 4<->7. The
// transform is its own inverse.
inline uint8_t warp_bus_order_transform(uint8_t r)
{
    uint8_t x = (uint8_t)(r ^ 0xFF);
    return (uint8_t)(((x << 3) & 0x88) | ((x >> 3) & 0x11) | (x & 0x66));
}

// 1 when the device sent "no sector" for this packet (low nibble of the
// received byte 321 is zero). Such a packet must not be validated or decoded.
inline int warp_incoming_stream_is_empty(const uint8_t *packet)
{
    return (packet[321] & 0x0F) == 0 ? 1 : 0;
}

// 1 when the transmission checksum (byte 323, XOR of received bytes 0..322)
// is right, allowing for the device flipping bit 3 of byte 321 after it
// computed the checksum.
int warp_validate_incoming_stream(const uint8_t *packet);

// Rewrites a validated incoming packet in place: bytes 0..319 become the 320
// GCR bytes of the data, 320 and bits 7..6 of 321 the checksum code, bit 0 of
// 321 the end-of-track flag; 322 and 323 are only bus-order transformed.
void warp_normalise_incoming_stream(uint8_t *packet);

// Decodes a normalised packet. All outputs are written even when it fails.
// *sector is 255 or 271 when the sector code is not valid GCR. Returns 1 when
// every 5-bit code of data and checksum was valid, else 0.
int warp_decode_gcr_stream(const uint8_t *packet, uint8_t *data, uint32_t *sector,
                           uint8_t *checksum, uint32_t *checksum_ok, uint32_t *end_of_track);

// Builds an outgoing packet (before the shift): GCR of the 256 bytes and of
// their XOR checksum, the start of the off bytes, then sector and track.
void warp_encode_gcr_stream(const uint8_t *data, uint8_t *packet, uint8_t sector, uint8_t track);

// Shifts bytes 0..321 right by two bits, feeding in the marker tail 1 1.
void warp_shift_outgoing_stream(uint8_t *packet);
