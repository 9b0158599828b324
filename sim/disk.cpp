// The simulated disk: D64 blocks with error codes, optionally backed by raw
// GCR tracks from a G64 file.
#include "sim.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

int geo_sectors(int track) {
  if (track < 1) return 0;
  if (track <= 17) return 21;
  if (track <= 24) return 19;
  if (track <= 30) return 18;
  if (track <= 42) return 17;
  return 0;
}

int geo_first_block(int track) {
  int b = 0;
  for (int t = 1; t < track; t++) b += geo_sectors(t);
  return b;
}

int geo_blocks(int tracks) { return geo_first_block(tracks + 1); }

int geo_valid(int tracks, int t, int s) {
  return t >= 1 && t <= tracks && s >= 0 && s < geo_sectors(t);
}

void disk_init_blank(disk_image *d, int tracks) {
  d->tracks = tracks;
  d->data.assign(geo_blocks(42) * 256, 0);
  d->errors.assign(geo_blocks(42), 1);
  d->raw.assign(43, bytes());
}

void disk_set_tracks(disk_image *d, int tracks) {
  for (int t = d->tracks + 1; t <= tracks; t++) {
    for (int s = 0; s < geo_sectors(t); s++) {
      memset(disk_block(d, t, s), 0, 256);
      disk_set_error(d, t, s, 1);
    }
    disk_touch(d, t);
  }
  d->tracks = tracks;
}

uint8_t *disk_block(disk_image *d, int t, int s) {
  return &d->data[(geo_first_block(t) + s) * 256];
}

uint8_t disk_error(const disk_image *d, int t, int s) {
  uint8_t e = d->errors[geo_first_block(t) + s];
  return e == 0 ? 1 : e;  // 0 is also written for "no error"
}

void disk_set_error(disk_image *d, int t, int s, uint8_t code) {
  d->errors[geo_first_block(t) + s] = code;
}

void disk_touch(disk_image *d, int t) {
  if (t >= 0 && t < (int)d->raw.size()) d->raw[t].clear();
}

void disk_set_status(disk_image *d, int code, const char *text, int t, int s) {
  d->status_code = code;
  d->status_text = text;
  d->status_track = t;
  d->status_sector = s;
}

std::string disk_status_line(const disk_image *d) {
  char buf[80];
  snprintf(buf, sizeof buf, "%02d,%s,%02d,%02d", d->status_code, d->status_text.c_str(),
           d->status_track, d->status_sector);
  return buf;
}

// ---------------------------------------------------------------- G64

static int read_le(const bytes &b, size_t pos, int n) {
  int v = 0;
  for (int i = n - 1; i >= 0; i--) v = (v << 8) | b[pos + i];
  return v;
}

// Finds the blocks of a raw track.  The bits are scanned twice round so a
// block that straddles the index hole is found whole.
std::vector<g64_sector> g64_scan_track(const bytes &raw, int t, bitvec *twice) {
  std::vector<g64_sector> found;
  bitvec bits;
  bits_from_bytes(raw.data(), raw.size(), &bits);
  long n = (long)bits.size();
  twice->assign(bits.begin(), bits.end());
  twice->insert(twice->end(), bits.begin(), bits.end());
  if (n < 400) return found;
  // Find sync ends within the first revolution.
  std::vector<long> starts;
  long ones = 0;
  // Count ones running into the start from the end of the track.
  for (long i = n - 1; i >= 0 && bits[i]; i--) ones++;
  for (long i = 0; i < n; i++) {
    if ((*twice)[i]) {
      ones++;
    } else {
      if (ones >= 10) starts.push_back(i);
      ones = 0;
    }
  }
  for (size_t k = 0; k < starts.size(); k++) {
    long p = starts[k];
    if (p + 100 > (long)twice->size()) continue;
    uint8_t hdr[8];
    int bad = gcr_decode(*twice, p, hdr, 8);
    if (hdr[0] != 0x08) continue;
    g64_sector sec;
    sec.sector = hdr[2];
    sec.header_ok = bad == 0 && (hdr[1] == (hdr[2] ^ hdr[3] ^ hdr[4] ^ hdr[5])) && hdr[3] == t;
    sec.data_bit = -1;
    if (hdr[3] != t && bad == 0) continue;
    // The data block follows the next sync.
    {
      long q = -1;
      if (k + 1 < starts.size())
        q = starts[k + 1];
      else if (!starts.empty())
        q = starts[0] + n;
      if (q >= 0 && q - p < 1200 && q + 2600 <= (long)twice->size()) {
        uint8_t m;
        gcr_decode(*twice, q, &m, 1);
        if (m == 0x07) sec.data_bit = q;
      }
    }
    found.push_back(sec);
  }
  return found;
}

static int load_g64(disk_image *d, const bytes &f, std::string *err) {
  if (f.size() < 12 || memcmp(f.data(), "GCR-1541", 8) != 0) {
    *err = "not a G64 file";
    return 0;
  }
  int halftracks = f[9];
  if (12 + (size_t)halftracks * 8 > f.size()) {
    *err = "truncated G64 header";
    return 0;
  }
  disk_init_blank(d, 35);
  for (size_t i = 0; i < d->errors.size(); i++) d->errors[i] = 3;
  int last = 0;
  for (int h = 0; h < halftracks; h += 2) {
    int t = h / 2 + 1;
    if (t > 42) break;
    size_t off = (size_t)read_le(f, 12 + h * 4, 4);
    if (off == 0) continue;
    if (off + 2 > f.size()) continue;
    size_t len = (size_t)read_le(f, off, 2);
    if (off + 2 + len > f.size() || len == 0) continue;
    d->raw[t].assign(f.begin() + off + 2, f.begin() + off + 2 + len);
    bitvec bits;
    std::vector<g64_sector> secs = g64_scan_track(d->raw[t], t, &bits);
    int any = 0;
    for (const g64_sector &sec : secs) {
      if (sec.sector >= geo_sectors(t) || !sec.header_ok) continue;
      any = 1;
      if (sec.data_bit < 0) {
        disk_set_error(d, t, sec.sector, 4);
        continue;
      }
      uint8_t blk[258];
      int bad = gcr_decode(bits, sec.data_bit, blk, 258);
      memcpy(disk_block(d, t, sec.sector), blk + 1, 256);
      uint8_t x = 0;
      for (int i = 1; i <= 256; i++) x ^= blk[i];
      disk_set_error(d, t, sec.sector, bad ? 9 : (x != blk[257] ? 5 : 1));
    }
    if (any) last = t;
  }
  d->tracks = last > 35 ? 40 : 35;
  for (int i = 0; i < geo_blocks(d->tracks); i++)
    if (d->errors[i] != 1) d->error_info = true;
  return 1;
}

int disk_load(disk_image *d, const std::string &path, std::string *err) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *err = "cannot open " + path;
    return 0;
  }
  bytes f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (f.size() >= 8 && memcmp(f.data(), "GCR-1541", 8) == 0) return load_g64(d, f, err);
  int tracks;
  bool info;
  if (f.size() == 174848u) { tracks = 35; info = false; }
  else if (f.size() == 175531u) { tracks = 35; info = true; }
  else if (f.size() == 196608u) { tracks = 40; info = false; }
  else if (f.size() == 197376u) { tracks = 40; info = true; }
  else {
    *err = "unexpected D64 size " + std::to_string(f.size());
    return 0;
  }
  disk_init_blank(d, tracks);
  size_t base = (size_t)geo_blocks(tracks) * 256;
  memcpy(d->data.data(), f.data(), base);
  d->error_info = info;
  if (info) memcpy(d->errors.data(), f.data() + base, geo_blocks(tracks));
  return 1;
}

int disk_save_d64(const disk_image *d, const std::string &path) {
  size_t base = (size_t)geo_blocks(d->tracks) * 256;
  std::string tmp = path + ".tmp";
  FILE *f = fopen(tmp.c_str(), "wb");
  if (!f) return 0;
  int ok = fwrite(d->data.data(), 1, base, f) == base;
  if (ok && d->error_info) {
    size_t n = (size_t)geo_blocks(d->tracks);
    bytes e(d->errors.begin(), d->errors.begin() + n);
    ok = fwrite(e.data(), 1, n, f) == n;
  }
  if (fclose(f) != 0) ok = 0;
  if (ok) ok = rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) remove(tmp.c_str());
  return ok;
}
