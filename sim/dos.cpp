// 1541 DOS on the simulated disk: BAM, directory, block chains.
#include "sim.h"

#include <cstring>

static const int DIR_TRACK = 18;
static const int BAM_TRACKS = 35;  // the 1541 BAM covers 35 tracks, also on 40-track disks

const char *dos_error_text(int code) {
  switch (code) {
    case 0: return " OK";
    case 1: return " FILES SCRATCHED";
    case 20: return "READ ERROR";
    case 21: return "READ ERROR";
    case 22: return "READ ERROR";
    case 23: return "READ ERROR";
    case 24: return "READ ERROR";
    case 25: return "WRITE ERROR";
    case 26: return "WRITE PROTECT ON";
    case 27: return "READ ERROR";
    case 28: return "WRITE ERROR";
    case 29: return "DISK ID MISMATCH";
    case 30: case 31: case 32: case 33: case 34: return "SYNTAX ERROR";
    case 60: return "WRITE FILE OPEN";
    case 62: return "FILE NOT FOUND";
    case 63: return "FILE EXISTS";
    case 66: return "ILLEGAL TRACK OR SECTOR";
    case 72: return "DISK FULL";
    case 73: return "CBM DOS V2.6 1541";
    default: return "DRIVE ERROR";
  }
}

// The DOS error a read of the block ends with, 0 when it reads fine.  Error
// info codes 2 to 11 stand for errors 20 to 29; anything else that is not
// "fine" leaves the drive without a sync to read.
static int error_code_of_block(disk_image *d, int t, int s) {
  uint8_t e = disk_error(d, t, s);
  if (e == 1) return 0;
  return e >= 2 && e <= 11 ? 18 + e : 21;
}

// Puts a failed block read on the error channel; returns its code.
static int block_failed(disk_image *d, int code, int t, int s) {
  disk_set_status(d, code, dos_error_text(code), t, s);
  return code;
}

static uint8_t *bam(disk_image *d) { return disk_block(d, DIR_TRACK, 0); }

static int bam_is_free(disk_image *d, int t, int s) {
  if (t < 1 || t > BAM_TRACKS) return 0;
  return (bam(d)[4 * t + 1 + s / 8] >> (s % 8)) & 1;
}

static void bam_set(disk_image *d, int t, int s, int free) {
  if (t < 1 || t > BAM_TRACKS || s >= geo_sectors(t)) return;
  uint8_t *e = bam(d) + 4 * t;
  int was = (e[1 + s / 8] >> (s % 8)) & 1;
  if (was == free) return;
  if (free) {
    e[1 + s / 8] |= (uint8_t)(1 << (s % 8));
    e[0]++;
  } else {
    e[1 + s / 8] &= (uint8_t)~(1 << (s % 8));
    e[0]--;
  }
}

static void write_block(disk_image *d, int t, int s, const uint8_t *src) {
  memcpy(disk_block(d, t, s), src, 256);
  disk_set_error(d, t, s, 1);
  disk_touch(d, t);
}

static void bam_clear_all(disk_image *d) {
  uint8_t *b = bam(d);
  for (int t = 1; t <= BAM_TRACKS; t++) {
    int n = geo_sectors(t);
    uint8_t *e = b + 4 * t;
    e[0] = (uint8_t)n;
    uint32_t mask = (1u << n) - 1;
    e[1] = mask & 0xFF;
    e[2] = (mask >> 8) & 0xFF;
    e[3] = (mask >> 16) & 0xFF;
  }
}

static void pad_name(uint8_t *dst, const std::string &s, size_t len) {
  for (size_t i = 0; i < len; i++) dst[i] = i < s.size() ? (uint8_t)s[i] : 0xA0;
}

void dos_format(disk_image *d, const std::string &name, const std::string &id, int tracks, int full) {
  uint8_t blk[256];
  if (full) {
    disk_set_tracks(d, tracks);
    memset(blk, 0, 256);
    for (int t = 1; t <= d->tracks; t++)
      for (int s = 0; s < geo_sectors(t); s++) write_block(d, t, s, blk);
  }
  // A format without an ID keeps the one on the disk.
  std::string new_id = full ? id : std::string(bam(d) + 162, bam(d) + 164);
  memset(blk, 0, 256);
  blk[0] = DIR_TRACK;
  blk[1] = 1;
  blk[2] = 'A';
  write_block(d, DIR_TRACK, 0, blk);
  bam_clear_all(d);
  uint8_t *b = bam(d);
  pad_name(b + 144, name, 16);
  b[160] = b[161] = 0xA0;
  pad_name(b + 162, new_id, 2);
  b[164] = 0xA0;
  b[165] = '2';
  b[166] = 'A';
  b[167] = b[168] = b[169] = b[170] = 0xA0;
  bam_set(d, DIR_TRACK, 0, 0);
  bam_set(d, DIR_TRACK, 1, 0);
  memset(blk, 0, 256);
  blk[1] = 0xFF;
  write_block(d, DIR_TRACK, 1, blk);
}

int dos_blocks_free(disk_image *d) {
  int n = 0;
  for (int t = 1; t <= BAM_TRACKS; t++)
    if (t != DIR_TRACK) n += bam(d)[4 * t];
  return n;
}

// Directory sectors in chain order, guarded against loops.  The walk ends
// before a sector the drive cannot read: its link cannot be trusted.  *err,
// when given, gets that sector's DOS error (0 when the chain reads whole).
static std::vector<std::pair<int, int>> dir_chain(disk_image *d, int *err = nullptr, int *err_s = nullptr) {
  std::vector<std::pair<int, int>> chain;
  std::set<int> seen;
  if (err) *err = 0;
  int t = DIR_TRACK, s = 1;
  while (t == DIR_TRACK && s < geo_sectors(t) && seen.insert(s).second) {
    int code = error_code_of_block(d, t, s);
    if (code) {
      if (err) *err = code;
      if (err_s) *err_s = s;
      break;
    }
    chain.push_back({t, s});
    uint8_t *b = disk_block(d, t, s);
    t = b[0];
    s = b[1];
  }
  return chain;
}

int dos_check_bam(disk_image *d) {
  int code = error_code_of_block(d, DIR_TRACK, 0);
  return code ? block_failed(d, code, DIR_TRACK, 0) : 0;
}

int dos_check_directory(disk_image *d) {
  int code = dos_check_bam(d);
  if (code) return code;
  int s = 0;
  dir_chain(d, &code, &s);
  return code ? block_failed(d, code, DIR_TRACK, s) : 0;
}

static std::string entry_name(const uint8_t *e) {
  std::string n;
  for (int i = 0; i < 16 && e[5 + i] != 0xA0; i++) n += (char)e[5 + i];
  return n;
}

// 1541 wildcards: '?' matches one character, '*' the rest.
static int name_matches(const std::string &pattern, const std::string &name) {
  size_t i = 0;
  for (; i < pattern.size(); i++) {
    if (pattern[i] == '*') return 1;
    if (i >= name.size()) return 0;
    if (pattern[i] != '?' && pattern[i] != name[i]) return 0;
  }
  return i == name.size();
}

// Strips a "0:" or ":" drive prefix.
static std::string strip_drive(const std::string &n) {
  if (n.size() >= 2 && n[0] == '0' && n[1] == ':') return n.substr(2);
  if (!n.empty() && n[0] == ':') return n.substr(1);
  return n;
}

int dos_find_file(disk_image *d, const std::string &pattern, int *dir_t, int *dir_s, int *slot) {
  for (auto ts : dir_chain(d)) {
    uint8_t *b = disk_block(d, ts.first, ts.second);
    for (int k = 0; k < 8; k++) {
      uint8_t *e = b + 32 * k;
      if (e[2] == 0) continue;
      if (!name_matches(pattern, entry_name(e))) continue;
      *dir_t = ts.first;
      *dir_s = ts.second;
      *slot = k;
      return 1;
    }
  }
  return 0;
}

bytes dos_directory_program(disk_image *d) {
  // Delivered as a C64 program at $0801; the links are dummies that the
  // receiver rebuilds.
  bytes p = {0x01, 0x08};
  uint8_t *b = bam(d);
  // Header line: reverse on, quoted name, id and DOS type.
  p.insert(p.end(), {0x01, 0x01, 0x00, 0x00, 0x12, '"'});
  for (int i = 0; i < 16; i++) p.push_back(b[144 + i] == 0xA0 ? 0x20 : b[144 + i]);
  p.push_back('"');
  p.push_back(' ');
  for (int i = 162; i <= 166; i++) p.push_back(b[i] == 0xA0 ? 0x20 : b[i]);
  p.push_back(0);
  static const char *types[] = {"DEL", "SEQ", "PRG", "USR", "REL"};
  int files = 0;
  for (auto ts : dir_chain(d)) {
    uint8_t *blk = disk_block(d, ts.first, ts.second);
    for (int k = 0; k < 8 && files < 144; k++) {
      uint8_t *e = blk + 32 * k;
      if (e[2] == 0) continue;
      files++;
      int blocks = e[30] | (e[31] << 8);
      std::string line;
      if (blocks < 10) line += "   ";
      else if (blocks < 100) line += "  ";
      else if (blocks < 1000) line += " ";
      std::string name = "\"" + entry_name(e) + "\"";
      while (name.size() < 18) name += ' ';
      line += name;
      line += (e[2] & 0x80) ? ' ' : '*';
      line += (e[2] & 7) <= 4 ? types[e[2] & 7] : "???";
      line += (e[2] & 0x40) ? '<' : ' ';
      while (line.size() < 27) line += ' ';
      p.insert(p.end(), {0x01, 0x01, (uint8_t)(blocks & 0xFF), (uint8_t)(blocks >> 8)});
      p.insert(p.end(), line.begin(), line.end());
      p.push_back(0);
    }
  }
  int fr = dos_blocks_free(d);
  p.insert(p.end(), {0x01, 0x01, (uint8_t)(fr & 0xFF), (uint8_t)(fr >> 8)});
  std::string tail = "BLOCKS FREE.";
  tail.append(13, ' ');
  p.insert(p.end(), tail.begin(), tail.end());
  p.insert(p.end(), {0, 0, 0});
  return p;
}

// Follows a block chain; 0 or an error code.
static int follow_chain(disk_image *d, int t, int s, std::vector<std::pair<int, int>> *blocks, bytes *content) {
  std::set<int> seen;
  while (t != 0) {
    if (!geo_valid(d->tracks, t, s)) return 66;
    if (!seen.insert(geo_first_block(t) + s).second) return 66;
    int err = error_code_of_block(d, t, s);
    if (err) return block_failed(d, err, t, s);
    uint8_t *b = disk_block(d, t, s);
    if (blocks) blocks->push_back({t, s});
    if (b[0] == 0) {
      if (content && b[1] >= 2) content->insert(content->end(), b + 2, b + b[1] + 1);
    } else if (content) {
      content->insert(content->end(), b + 2, b + 256);
    }
    t = b[0];
    s = b[1];
  }
  return 0;
}

int dos_read_file(disk_image *d, const std::string &pattern, bytes *out) {
  int dt, ds, slot;
  std::string pat = strip_drive(pattern);
  int code = dos_check_bam(d);
  if (code) return code;
  if (!dos_find_file(d, pat, &dt, &ds, &slot)) {
    // Not found in what could be read: the unreadable sector is the answer.
    code = dos_check_directory(d);
    return code ? code : 62;
  }
  uint8_t *e = disk_block(d, dt, ds) + 32 * slot;
  if (!(e[2] & 0x80)) return 60;
  return follow_chain(d, e[3], e[4], nullptr, out);
}

// Next block of a file in the 1541 way: on the same track with interleave
// 10, else on the next track away from the directory, then the other side.
static int next_free_block(disk_image *d, int *t, int *s, int first) {
  if (!first && *t >= 1 && *t <= BAM_TRACKS && (*t) != DIR_TRACK && bam(d)[4 * *t] > 0) {
    int n = geo_sectors(*t);
    int start = (*s + 10) % n;
    for (int i = 0; i < n; i++) {
      int c = (start + i) % n;
      if (bam_is_free(d, *t, c)) {
        *s = c;
        return 1;
      }
    }
  }
  std::vector<int> candidates;
  if (first) {
    for (int dist = 1; dist < BAM_TRACKS; dist++) {
      if (DIR_TRACK - dist >= 1) candidates.push_back(DIR_TRACK - dist);
      if (DIR_TRACK + dist <= BAM_TRACKS) candidates.push_back(DIR_TRACK + dist);
    }
  } else if (*t < DIR_TRACK) {
    for (int c = *t - 1; c >= 1; c--) candidates.push_back(c);
    for (int c = DIR_TRACK + 1; c <= BAM_TRACKS; c++) candidates.push_back(c);
  } else {
    for (int c = *t + 1; c <= BAM_TRACKS; c++) candidates.push_back(c);
    for (int c = DIR_TRACK - 1; c >= 1; c--) candidates.push_back(c);
  }
  for (int c : candidates) {
    if (bam(d)[4 * c] == 0) continue;
    int n = geo_sectors(c);
    int start = first ? 0 : (*s + 10) % n;
    for (int i = 0; i < n; i++) {
      int x = (start + i) % n;
      if (bam_is_free(d, c, x)) {
        *t = c;
        *s = x;
        return 1;
      }
    }
  }
  return 0;
}

// A free directory slot; extends the directory chain when it is full.
static int free_dir_slot(disk_image *d, int *dt, int *ds, int *slot, int dry_run) {
  std::vector<std::pair<int, int>> chain = dir_chain(d);
  for (auto ts : chain) {
    uint8_t *b = disk_block(d, ts.first, ts.second);
    for (int k = 0; k < 8; k++)
      if (b[32 * k + 2] == 0) {
        *dt = ts.first;
        *ds = ts.second;
        *slot = k;
        return 1;
      }
  }
  if (chain.empty()) return 0;
  int last = chain.back().second;
  int n = geo_sectors(DIR_TRACK);
  for (int i = 0; i < n; i++) {
    int c = (last + 3 + i) % n;
    if (!bam_is_free(d, DIR_TRACK, c)) continue;
    if (!dry_run) {
      uint8_t *prev = disk_block(d, DIR_TRACK, last);
      prev[0] = DIR_TRACK;
      prev[1] = (uint8_t)c;
      disk_touch(d, DIR_TRACK);
      uint8_t blk[256] = {0};
      blk[1] = 0xFF;
      write_block(d, DIR_TRACK, c, blk);
      bam_set(d, DIR_TRACK, c, 0);
    }
    *dt = DIR_TRACK;
    *ds = c;
    *slot = 0;
    return 1;
  }
  return 0;
}

int dos_check_write(disk_image *d, const std::string &name, size_t size) {
  int dt, ds, slot;
  std::string n = strip_drive(name);
  if (n.empty() || n.size() > 16 || n.find_first_of("*?,:") != std::string::npos) return 33;
  int code = dos_check_directory(d);
  if (code) return code;
  if (dos_find_file(d, n, &dt, &ds, &slot)) return 63;
  size_t blocks = size == 0 ? 1 : (size + 253) / 254;
  if ((size_t)dos_blocks_free(d) < blocks) return 72;
  if (!free_dir_slot(d, &dt, &ds, &slot, 1)) return 72;
  return 0;
}

int dos_write_file(disk_image *d, const std::string &name, const bytes &content) {
  int code = dos_check_write(d, name, content.size());
  if (code) return code;
  std::string n = strip_drive(name);
  int dt, ds, slot;
  free_dir_slot(d, &dt, &ds, &slot, 0);
  size_t nblocks = content.empty() ? 1 : (content.size() + 253) / 254;
  std::vector<std::pair<int, int>> blocks;
  int t = 0, s = 0;
  for (size_t i = 0; i < nblocks; i++) {
    if (!next_free_block(d, &t, &s, i == 0)) return 72;
    bam_set(d, t, s, 0);
    blocks.push_back({t, s});
  }
  for (size_t i = 0; i < nblocks; i++) {
    uint8_t blk[256] = {0};
    size_t off = i * 254;
    size_t len = content.size() > off ? std::min<size_t>(254, content.size() - off) : 0;
    memcpy(blk + 2, content.data() + off, len);
    if (i + 1 < nblocks) {
      blk[0] = (uint8_t)blocks[i + 1].first;
      blk[1] = (uint8_t)blocks[i + 1].second;
    } else {
      blk[0] = 0;
      blk[1] = (uint8_t)(len + 1);
    }
    write_block(d, blocks[i].first, blocks[i].second, blk);
  }
  uint8_t *e = disk_block(d, dt, ds) + 32 * slot;
  memset(e + 2, 0, 30);
  e[2] = 0x82;
  e[3] = (uint8_t)blocks[0].first;
  e[4] = (uint8_t)blocks[0].second;
  pad_name(e + 5, n, 16);
  e[30] = (uint8_t)(nblocks & 0xFF);
  e[31] = (uint8_t)(nblocks >> 8);
  disk_touch(d, dt);
  disk_touch(d, DIR_TRACK);
  return 0;
}

static int dos_scratch(disk_image *d, const std::string &args, int *count) {
  *count = 0;
  size_t start = 0;
  while (start <= args.size()) {
    size_t comma = args.find(',', start);
    std::string pat = args.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!pat.empty()) {
      for (auto ts : dir_chain(d)) {
        uint8_t *b = disk_block(d, ts.first, ts.second);
        for (int k = 0; k < 8; k++) {
          uint8_t *e = b + 32 * k;
          if (e[2] == 0 || (e[2] & 0x40) || !name_matches(pat, entry_name(e))) continue;
          if (e[2] & 0x80) {
            std::vector<std::pair<int, int>> blocks;
            follow_chain(d, e[3], e[4], &blocks, nullptr);
            if ((e[2] & 7) == 4) follow_chain(d, e[21], e[22], &blocks, nullptr);
            for (auto bl : blocks) bam_set(d, bl.first, bl.second, 1);
          }
          e[2] = 0;
          disk_touch(d, ts.first);
          (*count)++;
        }
      }
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  disk_touch(d, DIR_TRACK);
  return 1;
}

static int dos_validate(disk_image *d) {
  bam_clear_all(d);
  bam_set(d, DIR_TRACK, 0, 0);
  for (auto ts : dir_chain(d)) bam_set(d, ts.first, ts.second, 0);
  int result = 0;
  for (auto ts : dir_chain(d)) {
    uint8_t *b = disk_block(d, ts.first, ts.second);
    for (int k = 0; k < 8; k++) {
      uint8_t *e = b + 32 * k;
      if (e[2] == 0) continue;
      if (!(e[2] & 0x80)) {  // unclosed files are deleted
        e[2] = 0;
        continue;
      }
      std::vector<std::pair<int, int>> blocks;
      int err = follow_chain(d, e[3], e[4], &blocks, nullptr);
      if ((e[2] & 7) == 4 && !err) err = follow_chain(d, e[21], e[22], &blocks, nullptr);
      for (auto bl : blocks) bam_set(d, bl.first, bl.second, 0);
      if (err) result = err;
    }
  }
  disk_touch(d, DIR_TRACK);
  return result;
}

int dos_command(disk_image *d, const std::string &cmd, int tracks_hint) {
  size_t colon = cmd.find(':');
  std::string verb = cmd.substr(0, colon);
  std::string arg = colon == std::string::npos ? "" : cmd.substr(colon + 1);
  char c = verb.empty() ? 0 : verb[0];
  if (c == 'S') {
    if (colon == std::string::npos) return 34;
    int code = dos_check_directory(d);
    if (code) return code;
    int count;
    dos_scratch(d, arg, &count);
    disk_set_status(d, 1, dos_error_text(1), count, 0);
    return 1;
  }
  if (c == 'V') {
    int err = dos_check_directory(d);
    if (err) return err;
    // The new BAM is built in the drive's memory and written only when the
    // whole disk could be followed.
    disk_image work = *d;
    err = dos_validate(&work);
    if (err) {
      disk_set_status(d, work.status_code, work.status_text.c_str(), work.status_track, work.status_sector);
      return err;
    }
    *d = work;
    disk_set_status(d, 0, dos_error_text(0));
    return 0;
  }
  if (c == 'N') {
    if (colon == std::string::npos) return 34;
    size_t comma = arg.find(',');
    std::string name = arg.substr(0, comma);
    if (name.empty()) return 34;
    if (name.size() > 16) name.resize(16);
    if (comma == std::string::npos) {
      dos_format(d, name, "", d->tracks, 0);
    } else {
      std::string id = arg.substr(comma + 1);
      if (id.size() > 2) id.resize(2);
      dos_format(d, name, id, tracks_hint ? tracks_hint : d->tracks, 1);
    }
    disk_set_status(d, 0, dos_error_text(0));
    return 0;
  }
  if (c == 'I') {
    int err = dos_check_bam(d);
    if (err) return err;
    disk_set_status(d, 0, dos_error_text(0));
    return 0;
  }
  return 31;
}
