// GCR coding and the warp packets the device exchanges with the client.
#include "sim.h"

#include <cstdlib>
#include <cstring>

const uint8_t gcr_code_of[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                 0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

static int nibble_of_code(int code) {
  for (int i = 0; i < 16; i++)
    if (gcr_code_of[i] == code) return i;
  return -1;
}

void gcr_append(bitvec *bits, const uint8_t *data, size_t n) {
  for (size_t i = 0; i < n; i++) {
    int code = (gcr_code_of[data[i] >> 4] << 5) | gcr_code_of[data[i] & 15];
    for (int b = 9; b >= 0; b--) bits->push_back((code >> b) & 1);
  }
}

int gcr_decode(const bitvec &bits, size_t pos, uint8_t *out, size_t n) {
  int bad = 0;
  for (size_t i = 0; i < n; i++) {
    int v = 0;
    for (int k = 0; k < 2; k++) {
      int code = 0;
      for (int b = 0; b < 5; b++) {
        size_t at = pos + i * 10 + k * 5 + b;
        code = (code << 1) | (at < bits.size() ? bits[at] : 0);
      }
      int nib = nibble_of_code(code);
      if (nib < 0) {
        bad++;
        nib = 0;
      }
      v = (v << 4) | nib;
    }
    out[i] = (uint8_t)v;
  }
  return bad;
}

void bits_from_bytes(const uint8_t *b, size_t n, bitvec *bits) {
  bits->clear();
  bits->reserve(n * 8);
  for (size_t i = 0; i < n; i++)
    for (int k = 7; k >= 0; k--) bits->push_back((b[i] >> k) & 1);
}

// The bus delivers every byte inverted with bits 0/3 and 4/7 exchanged.
static uint8_t swap_bits(uint8_t x) {
  return (uint8_t)(((x << 3) & 0x88) | ((x >> 3) & 0x11) | (x & 0x66));
}
uint8_t bus_from_value(uint8_t v) { return (uint8_t)(swap_bits(v) ^ 0xFF); }
uint8_t value_from_bus(uint8_t r) { return swap_bits((uint8_t)(r ^ 0xFF)); }

// Packet values (before the bus transform) from the bits of a data block
// whose 0x07 marker starts at bit `block`.  The stream begins after the
// first 8 bits of the marker code.
static void packet_values_from_bits(const bitvec &bits, size_t block, int sector, uint8_t v[324]) {
  memset(v, 0, 324);
  for (size_t i = 0; i < 322 * 8; i++) {
    size_t at = block + 8 + i;
    int bit = at < bits.size() ? bits[at] : 0;
    v[i / 8] |= (uint8_t)(bit << (7 - i % 8));
  }
  // Bits 3-1 of the last byte come from the first off byte (0101); bit 0
  // is the end-of-track flag set later.
  v[321] = (uint8_t)((v[321] & 0xF0) | 0x04);
  v[322] = (uint8_t)(gcr_code_of[sector & 15] | ((sector & 16) ? 0x20 : 0));
}

static void packet_to_bus(const uint8_t v[324], uint8_t out[324]) {
  for (int i = 0; i < 323; i++) out[i] = bus_from_value(v[i]);
  out[323] = 0;
}

int packet_for_sector(disk_image *d, int t, int s, uint8_t out[324]) {
  uint8_t v[324];
  if (t < (int)d->raw.size() && !d->raw[t].empty()) {
    bitvec twice;
    std::vector<g64_sector> secs = g64_scan_track(d->raw[t], t, &twice);
    for (const g64_sector &sec : secs) {
      if (sec.sector != s || !sec.header_ok || sec.data_bit < 0) continue;
      packet_values_from_bits(twice, (size_t)sec.data_bit, s, v);
      packet_to_bus(v, out);
      return 1;
    }
    return 0;
  }
  return packet_for_block(d, t, s, disk_error(d, t, s), out);
}

int packet_for_block(disk_image *d, int t, int s, uint8_t err, uint8_t out[324]) {
  uint8_t v[324];
  if (err == 2 || err == 3 || err == 4) return 0;
  uint8_t blk[260];
  blk[0] = 0x07;
  memcpy(blk + 1, disk_block(d, t, s), 256);
  uint8_t x = 0;
  for (int i = 1; i <= 256; i++) x ^= blk[i];
  if (err == 5) x ^= 0xFF;
  blk[257] = x;
  blk[258] = blk[259] = 0;
  bitvec bits;
  gcr_append(&bits, blk, 260);
  if (err == 6 || err == 9) {
    // One 5-bit group of data byte 10 becomes the invalid code 00000.
    for (int b = 0; b < 5; b++) bits[10 + 10 * 10 + b] = 0;
  }
  packet_values_from_bits(bits, 0, s, v);
  packet_to_bus(v, out);
  return 1;
}

void packet_set_sector_number(uint8_t out[324], int sector) {
  out[322] = bus_from_value((uint8_t)(gcr_code_of[sector & 15] | ((sector & 16) ? 0x20 : 0)));
}

void packet_no_sector(uint8_t out[324]) {
  memset(out, 0, 324);
  out[321] = 0xA0;  // low nibble 0: no sector
}

// The device computes the transmission checksum before it sets the
// end-of-track flag, so a flagged packet carries the checksum of the packet
// with bit 3 of byte 321 still set.
void packet_finish(uint8_t p[324], int eot, int corrupt) {
  if (p[321] & 0x0F) {
    uint8_t v = value_from_bus(p[321]);
    v = (uint8_t)((v & 0xFE) | (eot ? 1 : 0));
    p[321] = bus_from_value(v);
  }
  uint8_t x = 0;
  for (int i = 0; i < 323; i++) x ^= p[i];
  if (eot && (p[321] & 0x0F)) x ^= 0x08;
  if (corrupt) x ^= 0x5A;
  p[323] = x;
}

int packet_decode_outgoing(const uint8_t p[324], uint8_t data[256], int *gcr_bad, int *checksum_bad) {
  bitvec bits;
  bits_from_bytes(p, 322, &bits);
  int well_formed = bits[0] == 1 && bits[1] == 1;
  uint8_t d[257];
  int bad = gcr_decode(bits, 2, d, 257);
  memcpy(data, d, 256);
  uint8_t x = 0;
  for (int i = 0; i < 256; i++) x ^= d[i];
  *gcr_bad = bad;
  *checksum_bad = x != d[256];
  // The tail must be the start of the off byte, 0101.
  if (!(bits[2572] == 0 && bits[2573] == 1 && bits[2574] == 0 && bits[2575] == 1)) well_formed = 0;
  return well_formed;
}

// A read pass starts wherever the head lands and takes the sectors as they
// pass under it; the landing spot moves from track to track.
std::vector<int> track_read_order(disk_image *d, int t) {
  std::vector<int> order;
  if (t < (int)d->raw.size() && !d->raw[t].empty()) {
    bitvec twice;
    std::vector<g64_sector> secs = g64_scan_track(d->raw[t], t, &twice);
    std::vector<int> phys;
    for (const g64_sector &sec : secs)
      if (sec.header_ok && sec.sector < geo_sectors(t)) phys.push_back(sec.sector);
    if (phys.empty()) return order;
    size_t start = (size_t)(t * 7) % phys.size();
    std::set<int> seen;
    for (size_t i = 0; i < phys.size(); i++) {
      int s = phys[(start + i) % phys.size()];
      if (seen.insert(s).second) order.push_back(s);
    }
    return order;
  }
  int n = geo_sectors(t);
  int start = (t * 7 + 3) % n;
  for (int i = 0; i < n; i++) order.push_back((start + i) % n);
  return order;
}
