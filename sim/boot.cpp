// The board's bootloader on a pty of its own: enough of the AVR109 protocol
// for avrdude to identify an ATmega32U4, write its flash in blocks and read
// it back for verification.  Like the board's, the port exists only after
// "j": it goes away when the programmer leaves, or when none has talked to
// it for a few seconds (the board then restarts its firmware).
#include "sim.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

static const size_t FLASH_SIZE = 32768;
static const size_t EEPROM_SIZE = 1024;
static const uint16_t BLOCK_SIZE = 128;

static int boot_master = -1;
static std::thread boot_thread;
static std::mutex flash_lock;
static bytes flash(FLASH_SIZE, 0xFF);
static bytes eeprom(EEPROM_SIZE, 0xFF);
static long highest_written = -1;  // highest flash byte address written
static std::atomic<int> stop_requested(0);
static std::string boot_link;  // where the port appears
static std::mutex state_lock;  // guards boot_master, boot_thread and the link
static bool present = false;

// Without a programmer the bootloader gives up after this long; after "E"
// it waits this long at most for the programmer to close the port.
static const auto IDLE_LIMIT = std::chrono::seconds(8);
static const auto LEAVE_LIMIT = std::chrono::seconds(2);
static bool had_programmer = false;
static bool leaving = false;
static std::chrono::steady_clock::time_point give_up_at;

void boot_write_flash() {
  if (opt.flash_out.empty()) return;
  std::lock_guard<std::mutex> g(flash_lock);
  if (highest_written < 0) return;
  FILE *f = fopen(opt.flash_out.c_str(), "wb");
  if (!f) {
    fprintf(stderr, "dravlen-sim: cannot write %s\n", opt.flash_out.c_str());
    return;
  }
  size_t n = (size_t)highest_written + 1;
  if (fwrite(flash.data(), 1, n, f) != n) fprintf(stderr, "dravlen-sim: short write to %s\n", opt.flash_out.c_str());
  fclose(f);
}

// One byte from the programmer; 0 when the simulator is stopping or the
// bootloader is done (programmer gone, or nobody came in time).
static int get_byte(uint8_t *c) {
  while (!stop_requested && !flag_quit) {
    if ((!had_programmer || leaving) && std::chrono::steady_clock::now() > give_up_at) return 0;
    struct pollfd p = {boot_master, POLLIN, 0};
    int r = poll(&p, 1, 20);
    if (r > 0 && (p.revents & POLLIN)) {
      ssize_t k = read(boot_master, c, 1);
      if (k == 1) {
        had_programmer = true;
        return 1;
      }
    } else if (r > 0) {
      // Nobody has the port open: POLLHUP keeps firing.  Once a programmer
      // has talked, that means it left.
      if (had_programmer) return 0;
      usleep(20000);
    }
  }
  return 0;
}

static void put(const void *b, size_t n) {
  const uint8_t *p = (const uint8_t *)b;
  size_t done = 0;
  while (done < n && !stop_requested) {
    ssize_t k = write(boot_master, p + done, n - done);
    if (k > 0) done += (size_t)k;
    else if (k < 0 && errno != EAGAIN && errno != EINTR) return;
    else usleep(1000);
  }
}

static void put_byte(uint8_t c) { put(&c, 1); }

static void serve() {
  uint32_t address = 0;  // word address for flash, byte address for EEPROM
  uint8_t c, a, b, m;
  while (get_byte(&c)) {
    switch (c) {
      case 'S': put("DRAVBL1", 7); break;                  // software identifier
      case 'V': put("10", 2); break;                       // software version
      case 'v': put("10", 2); break;                       // hardware version
      case 'p': put_byte('S'); break;                      // serial programmer
      case 'a': put_byte('Y'); break;                      // auto-increment
      case 'b': put_byte('Y'); put_byte(BLOCK_SIZE >> 8); put_byte(BLOCK_SIZE & 0xFF); break;
      case 't': put_byte(0x44); put_byte(0); break;        // supported device codes
      case 's': put_byte(0x87); put_byte(0x95); put_byte(0x1E); break;  // signature, last byte first
      case 'F': put_byte(0xFF); break;                     // low fuse
      case 'N': put_byte(0xD8); break;                     // high fuse
      case 'Q': put_byte(0xCB); break;                     // extended fuse
      case 'r': put_byte(0xEC); break;                     // lock bits
      case 'T':
        if (!get_byte(&a)) return;
        put_byte('\r');
        break;
      case 'x': case 'y':
        if (!get_byte(&a)) return;
        put_byte('\r');
        break;
      case 'P': case 'L': put_byte('\r'); break;
      case 'E':
        put_byte('\r');
        boot_write_flash();
        leaving = true;
        give_up_at = std::chrono::steady_clock::now() + LEAVE_LIMIT;
        fprintf(stderr, "dravlen-sim: bootloader left, %ld bytes of flash written\n", highest_written + 1);
        break;
      case 'e': {
        std::lock_guard<std::mutex> g(flash_lock);
        std::fill(flash.begin(), flash.end(), 0xFF);
        put_byte('\r');
        break;
      }
      case 'A':
        if (!get_byte(&a) || !get_byte(&b)) return;
        address = (uint32_t)(a << 8 | b);
        put_byte('\r');
        break;
      case 'H':
        if (!get_byte(&m) || !get_byte(&a) || !get_byte(&b)) return;
        address = (uint32_t)(m << 16 | a << 8 | b);
        put_byte('\r');
        break;
      case 'B': {
        if (!get_byte(&a) || !get_byte(&b) || !get_byte(&m)) return;
        size_t n = (size_t)(a << 8 | b);
        bytes data(n);
        for (size_t i = 0; i < n; i++)
          if (!get_byte(&data[i])) return;
        std::lock_guard<std::mutex> g(flash_lock);
        if (m == 'F') {
          for (size_t i = 0; i < n; i++) {
            size_t at = (size_t)address * 2 + i;
            if (at < FLASH_SIZE) {
              flash[at] = data[i];
              if ((long)at > highest_written) highest_written = (long)at;
            }
          }
          address += (uint32_t)(n / 2);
        } else {
          for (size_t i = 0; i < n; i++)
            if (address + i < EEPROM_SIZE) eeprom[address + i] = data[i];
          address += (uint32_t)n;
        }
        put_byte('\r');
        break;
      }
      case 'g': {
        if (!get_byte(&a) || !get_byte(&b) || !get_byte(&m)) return;
        size_t n = (size_t)(a << 8 | b);
        bytes out(n, 0xFF);
        {
          std::lock_guard<std::mutex> g(flash_lock);
          for (size_t i = 0; i < n; i++) {
            size_t at = m == 'F' ? (size_t)address * 2 + i : address + i;
            if (m == 'F' && at < FLASH_SIZE) out[i] = flash[at];
            if (m != 'F' && at < EEPROM_SIZE) out[i] = eeprom[at];
          }
        }
        address += m == 'F' ? (uint32_t)(n / 2) : (uint32_t)n;
        put(out.data(), n);
        break;
      }
      case 'R': {  // one flash word, high byte first
        std::lock_guard<std::mutex> g(flash_lock);
        size_t at = (size_t)address * 2;
        uint8_t lo = at < FLASH_SIZE ? flash[at] : 0xFF, hi = at + 1 < FLASH_SIZE ? flash[at + 1] : 0xFF;
        address++;
        put_byte(hi);
        put_byte(lo);
        break;
      }
      case 0x1B: break;  // resynchronisation
      default: put_byte('?'); break;
    }
  }
}

// Ends the bootloader: the port and its link vanish.
static void vanish() {
  std::lock_guard<std::mutex> g(state_lock);
  if (!present) return;
  unlink(boot_link.c_str());
  if (boot_master >= 0) close(boot_master);
  boot_master = -1;
  present = false;
  fprintf(stderr, "dravlen-sim: bootloader port gone\n");
}

static void run_bootloader() {
  serve();
  if (!stop_requested) vanish();
}

int boot_start(const std::string &link, std::string *port) {
  boot_link = link;
  unlink(link.c_str());
  *port = link;
  return 1;
}

int boot_appear() {
  if (boot_link.empty()) return 1;
  std::lock_guard<std::mutex> g(state_lock);
  if (present) return 1;  // a second "j" while it is there changes nothing
  if (boot_thread.joinable()) boot_thread.join();  // the last one has ended
  std::string slave;
  if (!pty_open_raw(&boot_master, &slave)) {
    perror("dravlen-sim: bootloader pty");
    return 0;
  }
  unlink(boot_link.c_str());
  if (symlink(slave.c_str(), boot_link.c_str()) != 0) {
    perror(boot_link.c_str());
    close(boot_master);
    boot_master = -1;
    return 0;
  }
  present = true;
  had_programmer = false;
  leaving = false;
  give_up_at = std::chrono::steady_clock::now() + IDLE_LIMIT;
  boot_thread = std::thread(run_bootloader);
  fprintf(stderr, "dravlen-sim: bootloader port %s -> %s\n", boot_link.c_str(), slave.c_str());
  return 1;
}

void boot_stop() {
  stop_requested = 1;
  std::thread t;
  {
    std::lock_guard<std::mutex> g(state_lock);
    t = std::move(boot_thread);
  }
  if (t.joinable()) t.join();
  vanish();
}
