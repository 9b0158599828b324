// dravlen-sim: plays the Dravlen board with up to four drives over a pty.
//
// Behaviour where the board's answers leave room:
// - commands without status letters ("ws", "w2", "wd", "wr") still run for
//   an absent drive: no-sector packets, an all-$FF ROM, or data that goes
//   nowhere, as a bus without a listener would give;
// - "w2" before "w1" on the same connection gets a no-sector packet;
// - "ff" with 40 tracks leaves a 40-track disk (saved as such); the BAM
//   covers 35 tracks, as the 1541's does;
// - "j" is not echoed and gets no prompt until the client reopens the port;
// - a line longer than the monitor's 256-byte buffer (with CR LF), or one
//   with a number beyond the monitor's integers, is echoed and answered
//   "KO" without being run;
// - "di" on a disk whose BAM cannot be read answers "OK" (the drive took the
//   command) and leaves the read error on the error channel; directory
//   listing, validate, scratch, file reads and writes answer it instead;
// - with --bootloader-link, the bootloader port appears there only after
//   "j", and goes away when avrdude leaves it or after 8 s without a
//   programmer.
#include "sim.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

sim_options opt;
volatile int flag_quit = 0;
volatile sig_atomic_t pending_swaps = 0;

static void on_signal(int) { flag_quit = 1; }
static void on_swap(int) { pending_swaps = pending_swaps + 1; }

static void usage(FILE *to) {
  fprintf(to,
          "usage: dravlen-sim [--link PATH] [--drive N=FILE] [--blank N] [--save N=FILE]\n"
          "  [--version TEXT] [--old-firmware] [--corrupt-checksum T/S] [--corrupt-random PERCENT]\n"
          "  [--seed N] [--drop T/S] [--sequence T/S=C1,C2..] [--sector-number T/S=N] [--reply-sector T/S=S2]\n"
          "  [--write-fault T/S] [--no-sector-track T] [--silent-after N] [--hangup-after N]\n"
          "  [--trickle MS] [--answer CMD=XX] [--wrong-echo CMD] [--garbage TEXT] [--drive-timing]\n"
          "  [--bootloader-link PATH] [--flash-out FILE] [--log FILE] [--next-disk N=FILE]... [--help]\n"
          "  --next-disk queues a disk for drive N; each SIGUSR1 puts the next one in\n"
          "  (before the next command the simulator answers)\n");
}

static int parse_long(const char *s, long long *v) {
  char *end;
  errno = 0;
  *v = strtoll(s, &end, 10);
  return *s && !*end && errno != ERANGE;
}

// "T/S" with both numbers in the range a disk can have.
static int parse_ts(const char *s, std::pair<int, int> *ts) {
  const char *slash = strchr(s, '/');
  long long t, sec;
  if (!slash || !parse_long(std::string(s, slash).c_str(), &t) || !parse_long(slash + 1, &sec)) return 0;
  if (t < 0 || t > 99 || sec < 0 || sec > 99) return 0;
  *ts = {(int)t, (int)sec};
  return 1;
}

// "T/S=N" with N from 0 to `most`.
static int parse_ts_number(const char *s, long long most, std::pair<int, int> *ts, long long *n) {
  const char *eq = strchr(s, '=');
  return eq && parse_ts(std::string(s, eq).c_str(), ts) && parse_long(eq + 1, n) && *n >= 0 &&
         *n <= most;
}

// "N=VALUE" with N a device number 8 to 11.
static int parse_device_value(const char *s, int *dev, std::string *value) {
  const char *eq = strchr(s, '=');
  if (!eq) return 0;
  long long n;
  if (!parse_long(std::string(s, eq).c_str(), &n) || n < 8 || n > 11) return 0;
  *dev = (int)n;
  *value = eq + 1;
  return !value->empty();
}

// 1: run; 0: bad arguments; -1: usage asked for.
static int parse_args(int argc, char **argv) {
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") return -1;
    auto need = [&](const char **v) {
      if (i + 1 >= argc) {
        fprintf(stderr, "dravlen-sim: %s needs a value\n", a.c_str());
        return 0;
      }
      *v = argv[++i];
      return 1;
    };
    const char *v = nullptr;
    long long n;
    std::pair<int, int> ts;
    int dev;
    std::string value;
    if (a == "--old-firmware") {
      opt.old_firmware = true;
    } else if (a == "--drive-timing") {
      opt.drive_timing = true;
    } else if (!need(&v)) {
      return 0;
    } else if (a == "--link") {
      opt.link = v;
    } else if (a == "--bootloader-link") {
      opt.bootloader_link = v;
    } else if (a == "--flash-out") {
      opt.flash_out = v;
    } else if (a == "--log") {
      opt.log_path = v;
    } else if (a == "--version") {
      opt.version = v;
    } else if (a == "--garbage") {
      opt.garbage = v;
    } else if (a == "--drive") {
      if (!parse_device_value(v, &dev, &value)) goto bad;
      opt.drive_file[dev] = value;
    } else if (a == "--next-disk") {
      if (!parse_device_value(v, &dev, &value)) goto bad;
      opt.next_disks.push_back({dev, value});
    } else if (a == "--save") {
      if (!parse_device_value(v, &dev, &value)) goto bad;
      opt.save_file[dev] = value;
    } else if (a == "--blank") {
      if (!parse_long(v, &n) || n < 8 || n > 11) goto bad;
      opt.blank[n] = true;
    } else if (a == "--corrupt-checksum") {
      if (!parse_ts(v, &ts)) goto bad;
      opt.corrupt.insert(ts);
    } else if (a == "--drop") {
      if (!parse_ts(v, &ts)) goto bad;
      opt.drop.insert(ts);
    } else if (a == "--sequence") {
      // T/S=C1,C2,...
      const char *eq = strchr(v, '=');
      if (!eq || !parse_ts(std::string(v, eq).c_str(), &ts)) goto bad;
      std::vector<int> codes;
      for (const char *c = eq + 1; *c;) {
        char *end;
        long code = strtol(c, &end, 10);
        if (end == c || code < 1 || code > 11) goto bad;
        codes.push_back((int)code);
        c = *end == ',' ? end + 1 : end;
        if (*end && *end != ',') goto bad;
      }
      if (codes.empty()) goto bad;
      opt.sequence[ts] = codes;
    } else if (a == "--sector-number") {
      if (!parse_ts_number(v, 31, &ts, &n)) goto bad;
      opt.sector_number[ts] = (int)n;
    } else if (a == "--reply-sector") {
      if (!parse_ts_number(v, 20, &ts, &n)) goto bad;
      opt.reply_sector[ts] = (int)n;
    } else if (a == "--write-fault") {
      if (!parse_ts(v, &ts)) goto bad;
      opt.write_fault.insert(ts);
    } else if (a == "--no-sector-track") {
      if (!parse_long(v, &n) || n < 1 || n > 42) goto bad;
      opt.no_sector_tracks.insert((int)n);
    } else if (a == "--corrupt-random") {
      if (!parse_long(v, &n) || n < 0 || n > 100) goto bad;
      opt.corrupt_random = (int)n;
    } else if (a == "--seed") {
      if (!parse_long(v, &n)) goto bad;
      opt.seed = (unsigned)n;
    } else if (a == "--silent-after") {
      if (!parse_long(v, &n) || n < 0) goto bad;
      opt.silent_after = n;
    } else if (a == "--hangup-after") {
      if (!parse_long(v, &n) || n < 0) goto bad;
      opt.hangup_after = n;
    } else if (a == "--trickle") {
      // Milliseconds, fractions allowed, at most a second.
      char *end;
      errno = 0;
      double ms = strtod(v, &end);
      if (!*v || *end || errno == ERANGE || !(ms >= 0 && ms <= 1000)) goto bad;
      opt.trickle_us = (long)(ms * 1000 + 0.5);
    } else if (a == "--answer") {
      const char *eq = strchr(v, '=');
      if (!eq || eq == v || strlen(eq + 1) != 2) goto bad;
      opt.answers[std::string(v, eq)] = eq + 1;
    } else if (a == "--wrong-echo") {
      opt.wrong_echo.insert(v);
    } else {
      fprintf(stderr, "dravlen-sim: unknown option %s\n", a.c_str());
      return 0;
    }
    continue;
  bad:
    fprintf(stderr, "dravlen-sim: bad value for %s: %s\n", a.c_str(), v);
    return 0;
  }
  return 1;
}

static int place_link(const std::string &link, const std::string &target) {
  unlink(link.c_str());
  if (symlink(target.c_str(), link.c_str()) != 0) {
    perror(link.c_str());
    return 0;
  }
  return 1;
}

int main(int argc, char **argv) {
  int parsed = parse_args(argc, argv);
  if (parsed < 0) {
    usage(stdout);
    return 0;
  }
  if (!parsed) {
    usage(stderr);
    return 2;
  }
  for (int dev = 8; dev < 12; dev++) {
    if (!opt.drive_file[dev].empty()) {
      drives[dev] = new disk_image;
      std::string err;
      if (!disk_load(drives[dev], opt.drive_file[dev], &err)) {
        fprintf(stderr, "dravlen-sim: drive %d: %s\n", dev, err.c_str());
        return 2;
      }
    } else if (opt.blank[dev]) {
      drives[dev] = new disk_image;
      disk_init_blank(drives[dev], 35);
      dos_format(drives[dev], "BLANK", "00", 35, 1);
    } else if (!opt.save_file[dev].empty()) {
      fprintf(stderr, "dravlen-sim: --save %d without a disk in that drive\n", dev);
      return 2;
    }
  }
  for (const auto &next : opt.next_disks) {
    // A disk that cannot be loaded is refused now, not at the swap.
    disk_image probe;
    std::string err;
    if (!disk_load(&probe, next.second, &err)) {
      fprintf(stderr, "dravlen-sim: next disk for drive %d: %s\n", next.first, err.c_str());
      return 2;
    }
  }
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  struct sigaction swap;
  memset(&swap, 0, sizeof swap);
  swap.sa_handler = on_swap;
  swap.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &swap, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string port;
  if (!link_setup(&port)) {
    perror("dravlen-sim: openpty");
    return 1;
  }
  if (!opt.link.empty() && !place_link(opt.link, port)) return 1;
  std::string boot_port;
  if (!opt.bootloader_link.empty() && !boot_start(opt.bootloader_link, &boot_port)) return 1;
  device_init();
  printf("PORT %s\n", port.c_str());
  if (!boot_port.empty()) printf("BOOTLOADER %s\n", opt.bootloader_link.c_str());
  printf("READY\n");
  fflush(stdout);

  while (!flag_quit) {
    if (!link_wait_open()) break;
    device_session();
    link_end_session();
  }
  device_save_all();
  boot_stop();
  boot_write_flash();
  link_close();
  for (int dev = 8; dev < 12; dev++) delete drives[dev];
  if (!opt.link.empty()) unlink(opt.link.c_str());
  if (!opt.bootloader_link.empty()) unlink(opt.bootloader_link.c_str());
  return 0;
}
