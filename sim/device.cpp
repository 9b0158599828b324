// The board's command monitor: prompt, echo, two-letter answers and the data
// exchanges of every command the client sends.
#include "sim.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

disk_image *drives[12];
static int w1_loaded = 0;
static int head_track[12];
static std::mt19937 rng;

static const char PROMPT[] = "\r\n> ";
static const long REVOLUTION_US = 200000;  // 300 rpm
static const long STEP_US = 12000;          // per track stepped

void device_init() {
  rng.seed(opt.seed);
  for (int i = 0; i < 12; i++) head_track[i] = 18;
}

static void timing_wait(long us) {
  if (opt.drive_timing && us > 0) sleep_us(us);
}

static void timing_step(int dev, int track) {
  if (!opt.drive_timing) return;
  int dist = abs(head_track[dev] - track);
  head_track[dev] = track;
  sleep_us(dist * STEP_US);
}

static void save_drive(int dev) {
  if (!drives[dev] || opt.save_file[dev].empty()) return;
  if (!disk_save_d64(drives[dev], opt.save_file[dev]))
    fprintf(stderr, "dravlen-sim: cannot save %s\n", opt.save_file[dev].c_str());
}

void device_save_all() {
  for (int i = 8; i < 12; i++) save_drive(i);
}

void device_apply_swaps() {
  static size_t next = 0;
  while (pending_swaps > 0 && next < opt.next_disks.size()) {
    pending_swaps = pending_swaps - 1;
    int dev = opt.next_disks[next].first;
    disk_image *d = new disk_image;
    std::string err;
    if (!disk_load(d, opt.next_disks[next].second, &err)) {
      fprintf(stderr, "dravlen-sim: next disk for drive %d: %s\n", dev, err.c_str());
      delete d;
    } else {
      save_drive(dev);
      delete drives[dev];
      drives[dev] = d;
      head_track[dev] = 18;
    }
    next++;
  }
}

// Splits a command line into words; a quoted word keeps its spaces.  Marks
// the quoted ones in *quoted when given.
static std::vector<std::string> split_words(const std::string &line, std::vector<bool> *quoted = nullptr) {
  std::vector<std::string> w;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ') {
      i++;
      continue;
    }
    std::string word;
    bool q = line[i] == '"';
    if (q) {
      size_t e = line.find('"', i + 1);
      if (e == std::string::npos) e = line.size();
      word = line.substr(i + 1, e - i - 1);
      i = e + 1;
    } else {
      size_t e = line.find(' ', i);
      if (e == std::string::npos) e = line.size();
      word = line.substr(i, e - i);
      i = e;
    }
    w.push_back(word);
    if (quoted) quoted->push_back(q);
  }
  return w;
}

// A number word that does not fit the monitor's integers.  Such a command is
// refused as a whole rather than run with a wrapped value.
static int number_overflows(const std::string &word) {
  size_t i = word[0] == '-' || word[0] == '+' ? 1 : 0;
  if (i >= word.size() || word.find_first_not_of("0123456789", i) != std::string::npos) return 0;
  errno = 0;
  long long v = strtoll(word.c_str(), nullptr, 10);
  return errno == ERANGE || v < INT_MIN || v > INT_MAX;
}

static int parse_int(const std::vector<std::string> &w, size_t i, int fallback) {
  if (i >= w.size()) return fallback;
  char *end;
  long v = strtol(w[i].c_str(), &end, 10);
  if (*end || w[i].empty() || number_overflows(w[i])) return fallback;
  return (int)v;
}

static disk_image *drive_at(int dev) {
  if (dev < 8 || dev > 11) return nullptr;
  return drives[dev];
}

static int corrupt_packet(int t, int s) {
  if (opt.corrupt.count({t, s})) return 1;
  if (opt.corrupt_random > 0) return (int)(rng() % 100) < opt.corrupt_random;
  return 0;
}

// A block read, following --sequence where one is given for it.
static int read_packet(disk_image *d, int t, int s, uint8_t out[324]) {
  auto it = opt.sequence.find({t, s});
  if (it == opt.sequence.end() || it->second.empty()) return packet_for_sector(d, t, s, out);
  int err = it->second.front();
  if (it->second.size() > 1) it->second.erase(it->second.begin());
  return packet_for_block(d, t, s, (uint8_t)err, out);
}

// Puts a failed command's error on the channel.  A read error is there
// already, with its track and sector.
static void note_error(disk_image *d, int code) {
  if (d->status_code != code) disk_set_status(d, code, dos_error_text(code));
}

// Two-letter answer for a DOS result.
static int answer_dos(disk_image *d, int code) {
  if (code == 0 || code == 1) return link_write_str("OK");
  note_error(d, code);
  return link_write_str(code == 62 ? "NF" : "KO");
}

// ---------------------------------------------------------------- warp reads

static int send_sector_read(int dev, int t, int s) {
  disk_image *d = drive_at(dev);
  uint8_t p[324];
  timing_step(dev, t);
  timing_wait(REVOLUTION_US / 2);
  auto other = opt.reply_sector.find({t, s});
  int answered = other != opt.reply_sector.end() && other->second < geo_sectors(t) ? other->second : s;
  if (!d || !geo_valid(d->tracks, t, s) || opt.no_sector_tracks.count(t) || !w1_loaded ||
      !read_packet(d, t, answered, p)) {
    if (!w1_loaded) fprintf(stderr, "dravlen-sim: w2 without w1 on this connection\n");
    packet_no_sector(p);
    packet_finish(p, 0, 0);
  } else {
    packet_finish(p, 0, corrupt_packet(t, s));
  }
  return link_write(p, 324);
}

static int send_whole_disk(int tracks, int dev, int first) {
  disk_image *d = drive_at(dev);
  if (first < 1) first = 1;
  for (int t = first; t <= tracks; t++) {
    timing_step(dev, t);
    std::vector<std::vector<uint8_t>> packets;
    std::vector<int> sectors;
    if (d && t <= d->tracks && !opt.no_sector_tracks.count(t)) {
      for (int s : track_read_order(d, t)) {
        if (opt.drop.count({t, s})) continue;
        std::vector<uint8_t> p(324);
        if (!read_packet(d, t, s, p.data())) continue;
        auto renumber = opt.sector_number.find({t, s});
        if (renumber != opt.sector_number.end()) packet_set_sector_number(p.data(), renumber->second);
        packets.push_back(p);
        sectors.push_back(s);
      }
    }
    if (packets.empty()) {
      // The drive code gives up on the track after its retries.
      uint8_t p[324];
      packet_no_sector(p);
      packet_finish(p, 0, 0);
      timing_wait(REVOLUTION_US * 2);
      if (!link_write(p, 324)) return 0;
      continue;
    }
    long per_sector = REVOLUTION_US / geo_sectors(t);
    for (size_t i = 0; i < packets.size(); i++) {
      packet_finish(packets[i].data(), i + 1 == packets.size(), corrupt_packet(t, sectors[i]));
      timing_wait(per_sector);
      if (!link_write(packets[i].data(), 324)) return 0;
    }
  }
  return 1;
}

// ---------------------------------------------------------------- restore

static int receive_disk(int dev) {
  disk_image *d = drive_at(dev);
  disk_image scratch;
  if (!d) {
    // Nothing on the bus takes the data; the client still gets asked.
    disk_init_blank(&scratch, 35);
    d = &scratch;
  }
  int highest = 0, count = 0;
  int changed = 0;
  for (;;) {
    uint8_t p[324];
    if (!link_write("d", 1) || !link_read(p, 324)) {
      if (changed && d != &scratch) save_drive(dev);
      return 0;
    }
    int t = p[323], s = p[322];
    if (t == 0) break;
    if (!changed) {
      // The drive code formats the disk before it writes the first track.
      uint8_t zero[256] = {0};
      for (int tt = 1; tt <= d->tracks; tt++)
        for (int ss = 0; ss < geo_sectors(tt); ss++) {
          memcpy(disk_block(d, tt, ss), zero, 256);
          disk_set_error(d, tt, ss, 1);
        }
      for (int tt = 0; tt < (int)d->raw.size(); tt++) disk_touch(d, tt);
      changed = 1;
    }
    if (t > 42 || s >= geo_sectors(t)) {
      fprintf(stderr, "dravlen-sim: wr packet for invalid t/s %d/%d\n", t, s);
      continue;
    }
    uint8_t data[256];
    int gcr_bad, checksum_bad;
    int ok = packet_decode_outgoing(p, data, &gcr_bad, &checksum_bad);
    if (!ok || gcr_bad || checksum_bad)
      fprintf(stderr, "dravlen-sim: wr packet %d/%d malformed (frame %d, gcr %d, checksum %d)\n", t, s,
              ok, gcr_bad, checksum_bad);
    if (t > d->tracks) disk_set_tracks(d, t > 35 ? 40 : 35);
    if (opt.write_fault.count({t, s})) {
      data[0] ^= 0xFF;  // a weak spot: the block is there, its data is not
      checksum_bad = 1;
    }
    memcpy(disk_block(d, t, s), data, 256);
    disk_set_error(d, t, s, gcr_bad ? 9 : (checksum_bad ? 5 : 1));
    disk_touch(d, t);
    if (t > highest) highest = t;
    count++;
    if (opt.drive_timing) timing_wait(REVOLUTION_US / geo_sectors(t));
  }
  if (d != &scratch) {
    disk_set_status(d, 0, dos_error_text(0));
    save_drive(dev);
  }
  fprintf(stderr, "dravlen-sim: wr wrote %d sectors up to track %d\n", count, highest);
  return 1;
}

// ---------------------------------------------------------------- files

static int send_file_content(const bytes &content) {
  uint8_t head[2] = {content.size() > 0 ? content[0] : (uint8_t)0,
                     content.size() > 1 ? content[1] : (uint8_t)0};
  if (!link_write(head, 2)) return 0;
  size_t pos = 2;
  // Chunks follow the disk blocks: the first block holds 252 more bytes.
  size_t chunk = 252;
  while (pos < content.size()) {
    size_t n = std::min(chunk, content.size() - pos);
    uint8_t cnt[2] = {(uint8_t)(n & 0xFF), (uint8_t)(n >> 8)};
    timing_wait(20000);
    if (!link_write(cnt, 2) || !link_write(content.data() + pos, n)) return 0;
    pos += n;
    chunk = 254;
  }
  uint8_t end[2] = {0, 0};
  return link_write(end, 2);
}

static int receive_file(disk_image *d, int dev, const std::string &name, size_t size) {
  bytes content;
  content.reserve(size);
  size_t left = size;
  while (left > 0) {
    size_t n = std::min<size_t>(254, left);
    uint8_t req[2] = {(uint8_t)(n & 0xFF), (uint8_t)(n >> 8)};
    if (!link_write(req, 2)) return 0;
    size_t at = content.size();
    content.resize(at + n);
    if (!link_read(content.data() + at, n)) return 0;
    left -= n;
    timing_wait(20000);
  }
  int code = dos_write_file(d, name, content);
  if (code) {
    disk_set_status(d, code, dos_error_text(code));
    fprintf(stderr, "dravlen-sim: du of %s failed with %d\n", name.c_str(), code);
  } else {
    disk_set_status(d, 0, dos_error_text(0));
  }
  save_drive(dev);
  return 1;
}

// A made-up drive ROM: the real one is not ours to ship.
static uint8_t rom_byte(int addr) {
  static const char banner[] = "DRAVLEN-SIM DRIVE ROM";
  int off = addr - 0xC000;
  if (off >= 0 && off < (int)sizeof banner - 1) return (uint8_t)banner[off];
  if (addr == 0xFFFC) return 0xA0;
  if (addr == 0xFFFD) return 0xEA;
  return (uint8_t)((addr * 7) ^ (addr >> 8));
}

// ---------------------------------------------------------------- dispatch

// Runs one command; 0 when the connection went away meanwhile.
static int execute(const std::string &line, const std::vector<std::string> &w,
                   const std::vector<bool> &quoted, int *prompt) {
  const std::string &cmd = w[0];
  auto ans = opt.answers.find(cmd);
  if (ans != opt.answers.end()) return link_write_str(line + "\r\n") && link_write_str(ans->second);

  if (cmd == "v") {
    if (opt.old_firmware) return link_write_str("v");  // unknown command: just the prompt follows
    return link_write_str("v\r\n") && link_write_str(opt.version + "\r\n");
  }
  if (cmd == "j") {
    // The board restarts into its bootloader: no echo, no prompt.
    *prompt = 0;
    fprintf(stderr, "dravlen-sim: reset into bootloader requested\n");
    boot_appear();
    return 1;
  }
  if (!link_write_str(line + "\r\n")) return 0;
  for (size_t i = 1; i < w.size(); i++)
    if (!quoted[i] && number_overflows(w[i])) {
      fprintf(stderr, "dravlen-sim: number out of range in \"%s\"\n", line.c_str());
      return link_write_str("KO");
    }
  if (cmd == "di" || cmd == "rs" || cmd == "rb") {
    int dev = parse_int(w, 1, -1);
    if (cmd == "rb") {
      for (int i = 8; i < 12; i++)
        if (drives[i]) disk_set_status(drives[i], 73, dos_error_text(73));
      return link_write_str("OK");
    }
    disk_image *d = drive_at(dev);
    if (!d) return link_write_str("NP");
    if (cmd == "rs") disk_set_status(d, 73, dos_error_text(73));
    // Initialising reads the BAM; a read error stays on the error channel,
    // but the bus command itself went through, and block reads still work.
    else if (!dos_check_bam(d)) disk_set_status(d, 0, dos_error_text(0));
    return link_write_str("OK");
  }
  if (cmd == "de") {
    disk_image *d = drive_at(parse_int(w, 1, -1));
    if (!d) return link_write_str("NP");
    std::string st = disk_status_line(d);
    uint8_t len = (uint8_t)st.size();
    int ok = link_write_str("OK") && link_write(&len, 1) && link_write_str(st);
    disk_set_status(d, 0, dos_error_text(0));
    return ok;
  }
  if (cmd == "dc") {
    // dc "CMD" device
    disk_image *d = drive_at(parse_int(w, 2, -1));
    if (!d) return link_write_str("NP");
    if (w.size() < 2 || w[1].empty()) return link_write_str("FM");
    int dev = parse_int(w, 2, -1);
    int code = dos_command(d, w[1], 0);
    timing_wait(w[1][0] == 'N' ? 80 * REVOLUTION_US : 0);
    save_drive(dev);
    return answer_dos(d, code);
  }
  if (cmd == "ff") {
    // ff "NAME,ID" tracks device
    int dev = parse_int(w, 3, -1);
    disk_image *d = drive_at(dev);
    if (!d) return link_write_str("NP");
    int tracks = parse_int(w, 2, 35);
    std::string arg = w.size() > 1 ? w[1] : "";
    size_t comma = arg.find(',');
    if (arg.empty() || comma == 0) return link_write_str("FM");
    if (tracks != 35 && tracks != 40) return link_write_str("KO");
    std::string name = arg.substr(0, comma), id = comma == std::string::npos ? "00" : arg.substr(comma + 1);
    if (name.size() > 16) name.resize(16);
    if (id.size() > 2) id.resize(2);
    dos_format(d, name, id, tracks, 1);
    disk_set_status(d, 0, dos_error_text(0));
    timing_wait(tracks * REVOLUTION_US);
    save_drive(dev);
    return link_write_str("OK");
  }
  if (cmd == "dd") {
    // dd "NAME" device [secondary address]
    int dev = parse_int(w, 2, -1);
    disk_image *d = drive_at(dev);
    if (!d) return link_write_str("NP");
    std::string name = w.size() > 1 ? w[1] : "";
    if (name.empty()) return link_write_str("FM");
    bytes content;
    if (name == "$" || name == "$0") {
      if (dos_check_directory(d)) return link_write_str("KO");
      content = dos_directory_program(d);
    } else {
      int code = dos_read_file(d, name, &content);
      if (code) {
        note_error(d, code);
        return link_write_str(code == 62 ? "NF" : "KO");
      }
    }
    disk_set_status(d, 0, dos_error_text(0));
    return link_write_str("OK") && send_file_content(content);
  }
  if (cmd == "du") {
    // du "NAME" device size
    int dev = parse_int(w, 2, -1);
    disk_image *d = drive_at(dev);
    if (!d) return link_write_str("NP");
    std::string name = w.size() > 1 ? w[1] : "";
    int size = parse_int(w, 3, -1);
    if (name.empty()) return link_write_str("FM");
    if (size < 0) return link_write_str("KO");
    int code = dos_check_write(d, name, (size_t)size);
    if (code) {
      note_error(d, code);
      return link_write_str("KO");
    }
    return link_write_str("OK") && receive_file(d, dev, name, (size_t)size);
  }
  if (cmd == "wd") {
    int page = parse_int(w, 2, 0xC0);
    if (page < 0 || page > 255) page = 0xC0;
    disk_image *d = drive_at(parse_int(w, 1, -1));
    uint8_t buf[256];
    for (int pg = page; pg < 256; pg++) {
      for (int i = 0; i < 256; i++) buf[i] = bus_from_value(d ? rom_byte(pg * 256 + i) : 0xFF);
      if (!link_write(buf, 256)) return 0;
    }
    return 1;
  }
  if (cmd == "wr") {
    int dev = parse_int(w, 1, -1);
    return receive_disk(dev);
  }
  if (cmd == "w1") {
    w1_loaded = 1;
    timing_wait(50000);
    return 1;
  }
  if (cmd == "w2") {
    return send_sector_read(parse_int(w, 1, -1), parse_int(w, 2, 0), parse_int(w, 3, -1));
  }
  if (cmd == "ws") {
    int tracks = parse_int(w, 1, 35);
    if (tracks > 42) tracks = 42;
    return send_whole_disk(tracks, parse_int(w, 2, -1), parse_int(w, 3, 1));
  }
  return link_write_str("KO");
}

static void log_line(const std::string &line) {
  if (opt.log_path.empty()) return;
  FILE *f = fopen(opt.log_path.c_str(), "a");
  if (!f) return;
  fprintf(f, "%s\n", line.c_str());
  fclose(f);
}

void device_session() {
  w1_loaded = 0;
  int prompt = 1;
  while (!flag_quit) {
    if (prompt && !(link_write_str(opt.garbage) && link_write_str(PROMPT))) return;
    std::string line;
    int too_long = 0;
    if (!link_read_line(&line, &too_long)) return;
    log_line(line);
    std::vector<bool> quoted;
    std::vector<std::string> w = split_words(line, &quoted);
    if (!prompt) continue;  // after a reset into the bootloader nothing answers
    if (w.empty()) continue;
    device_apply_swaps();
    if (too_long) {
      // Echoed as it came in, but a line the buffer could not hold is not run.
      fprintf(stderr, "dravlen-sim: command line of %zu characters refused\n", line.size());
      if (!link_write_str(line + "\r\n") || !link_write_str("KO")) return;
      continue;
    }
    if (opt.wrong_echo.count(w[0])) {
      std::string bad = line;
      bad[bad.size() - 1] ^= 0x01;
      if (!link_write_str(bad + "\r\n")) return;
      continue;
    }
    if (!execute(line, w, quoted, &prompt)) return;
  }
}
