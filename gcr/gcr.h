// Commodore GCR: every nibble travels as a 5-bit code, so 4 data bytes take
// 5 bytes on the disk. Pure table work, no allocation, no global state.
#pragma once

#include <cstdint>

// Nibble for each 5-bit code; 0xFF for the 16 codes that are not valid GCR.
extern const uint8_t gcr_decode_table[32];

// Encodes up to 4 data bytes into up to 5 GCR bytes, high nibble first, each
// code MSB first, packed without gaps. A trailing partial GCR byte is written
// left-aligned with zero fill when gcr_count allows it.
void gcr_4_to_5_encode(const uint8_t *data, uint8_t *gcr, int data_count, int gcr_count);

// Decodes up to 4 data bytes from up to 5 GCR bytes. Returns the number of
// invalid 5-bit codes met (0 = clean); an invalid code decodes as nibble 0xF.
// Never reads gcr past gcr_count nor writes data past data_count.
int gcr_5_to_4_decode(const uint8_t *gcr, uint8_t *data, int gcr_count, int data_count);

// Whole runs of 4 <-> 5 byte groups (the body of a sector) in one call, so
// the per-group work stays inlined. Decode returns the total invalid codes.
void gcr_encode_groups(const uint8_t *data, uint8_t *gcr, int groups);
int gcr_decode_groups(const uint8_t *gcr, uint8_t *data, int groups);
