// End-to-end checks of the device simulator over its real pty, with plain
// POSIX calls so they do not depend on the client's serial code.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "tests/support/geometry.h"
#include "tests/support/sim_process.h"

namespace {

typedef std::vector<uint8_t> bytes;

struct temp_dir {
  std::string path;
  temp_dir() {
    gchar *p = g_dir_make_tmp("simtest-XXXXXX", nullptr);
    path = p ? p : "";
    g_free(p);
  }
  ~temp_dir() {
    GDir *d = g_dir_open(path.c_str(), 0, nullptr);
    if (d) {
      const gchar *n;
      while ((n = g_dir_read_name(d))) g_remove((path + "/" + n).c_str());
      g_dir_close(d);
    }
    g_rmdir(path.c_str());
  }
  std::string file(const char *name) const { return path + "/" + name; }
};

// Runs a tool by argument vector; 1 when it exited 0.
int run_tool(const std::vector<std::string> &args, std::string *out = nullptr, const char *cwd = nullptr) {
  std::vector<gchar *> argv;
  for (const std::string &a : args) argv.push_back(g_strdup(a.c_str()));
  argv.push_back(nullptr);
  gchar *so = nullptr, *se = nullptr;
  gint status = -1;
  gboolean ok = g_spawn_sync(cwd, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &so, &se,
                             &status, nullptr);
  for (gchar *a : argv) g_free(a);
  if (out) *out = std::string(so ? so : "") + (se ? se : "");
  g_free(so);
  g_free(se);
  return ok && g_spawn_check_wait_status(status, nullptr);
}

// The client side of the device port.
struct port {
  int fd = -1;
  explicit port(const std::string &path) {
    fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
      struct termios t;
      tcgetattr(fd, &t);
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
  }
  ~port() {
    if (fd >= 0) close(fd);
  }
  // Reads exactly n bytes or fails after the timeout.
  int read_n(bytes *out, size_t n, int timeout_ms = 5000) {
    out->clear();
    gint64 deadline = g_get_monotonic_time() + timeout_ms * 1000;
    while (out->size() < n) {
      int left = (int)((deadline - g_get_monotonic_time()) / 1000);
      if (left <= 0) return 0;
      struct pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, left) <= 0) return 0;
      uint8_t buf[4096];
      ssize_t k = read(fd, buf, std::min(sizeof buf, n - out->size()));
      if (k <= 0) return 0;
      out->insert(out->end(), buf, buf + k);
    }
    return 1;
  }
  std::string read_str(size_t n, int timeout_ms = 5000) {
    bytes b;
    read_n(&b, n, timeout_ms);
    return std::string(b.begin(), b.end());
  }
  // Everything that arrives until the line stays quiet for quiet_ms.
  std::string read_until_quiet(int quiet_ms = 300) {
    std::string s;
    for (;;) {
      struct pollfd p = {fd, POLLIN, 0};
      if (poll(&p, 1, quiet_ms) <= 0 || !(p.revents & POLLIN)) return s;
      char buf[4096];
      ssize_t k = read(fd, buf, sizeof buf);
      if (k <= 0) return s;
      s.append(buf, (size_t)k);
    }
  }
  int write_str(const std::string &s) { return write(fd, s.data(), s.size()) == (ssize_t)s.size(); }
  int write_bytes(const uint8_t *b, size_t n) { return write(fd, b, n) == (ssize_t)n; }
  // Sends a command line and checks its echo.
  int command(const std::string &line) {
    if (!write_str(line + "\r")) return 0;
    return read_str(line.size() + 2) == line + "\r\n";
  }
  int prompt() { return read_str(4) == "\r\n> "; }
};

// Waits until `path` exists (or, with exists false, is gone).
bool wait_for_path(const std::string &path, bool exists, int timeout_ms) {
  gint64 deadline = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
  while (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) != exists) {
    if (g_get_monotonic_time() > deadline) return false;
    g_usleep(20000);
  }
  return true;
}

std::string read_file(const std::string &path) {
  gchar *c = nullptr;
  gsize n = 0;
  if (!g_file_get_contents(path.c_str(), &c, &n, nullptr)) return "";
  std::string s(c, n);
  g_free(c);
  return s;
}

class SimTest : public ::testing::Test {
 protected:
  sim_process sim{};
  temp_dir dir;
  void start(const std::vector<std::string> &args) { ASSERT_TRUE(sim_start(&sim, args)); }
  void TearDown() override {
    if (sim.pid > 0) {
      EXPECT_TRUE(sim_stop(&sim));
    }
  }
};

}  // namespace

TEST_F(SimTest, EveryOpeningGetsAPromptEvenWhenReopenedAtOnce) {
  start({"--blank", "8"});
  for (int i = 0; i < 20; i++) {
    port p(sim.port);
    ASSERT_GE(p.fd, 0);
    EXPECT_TRUE(p.prompt()) << "cycle " << i;
    if (i % 2) {
      // Half the cycles run a command before closing.
      EXPECT_TRUE(p.command("di 8"));
      EXPECT_EQ(p.read_str(2), "OK");
      EXPECT_TRUE(p.prompt());
    }
  }
}

TEST_F(SimTest, ASecondOpenerLeavingDoesNotEndTheSession) {
  start({"--blank", "8"});
  port first(sim.port);
  ASSERT_TRUE(first.prompt());
  {
    port second(sim.port);
    ASSERT_GE(second.fd, 0);
  }
  g_usleep(50000);
  EXPECT_TRUE(first.command("di 8"));
  EXPECT_EQ(first.read_until_quiet(), "OK\r\n> ");
}

TEST_F(SimTest, ExclusiveModeOfALeavingClientDoesNotLockOutTheNext) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  start({"--blank", "8"});
  ASSERT_EQ(chmod(sim.port.c_str(), 0666), 0);
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_EQ(ioctl(p.fd, TIOCEXCL), 0);
  }
  g_usleep(100000);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A client without root rights, as in everyday use.
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    int fd = open(sim.port.c_str(), O_RDWR | O_NOCTTY);
    _exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(SimTest, BytesSentWhileNobodyListensAreNotSeenByTheNextClient) {
  start({"--blank", "8"});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    // Leave in the middle of a long stream.
    ASSERT_TRUE(p.command("ws 35 8 1"));
  }
  g_usleep(100000);
  port p(sim.port);
  std::string got = p.read_until_quiet();
  EXPECT_TRUE(got == "\r\n> ") << got.size() << " bytes instead of the prompt";
}

TEST_F(SimTest, MonitorAnswersVersionStatusAndSimpleCommands) {
  start({"--blank", "8", "--version", "Dravlen 2.4.0", "--log", dir.file("cmds.log")});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("v"));
  EXPECT_EQ(p.read_until_quiet(), "Dravlen 2.4.0\r\n\r\n> ");
  for (const char *c : {"di 8", "rs 8", "rb 8"}) {
    ASSERT_TRUE(p.command(c));
    EXPECT_EQ(p.read_str(2), "OK") << c;
    EXPECT_TRUE(p.prompt());
  }
  ASSERT_TRUE(p.command("di 9"));
  EXPECT_EQ(p.read_str(2), "NP");
  EXPECT_TRUE(p.prompt());
  // After a drive reset the error channel holds the DOS banner.
  ASSERT_TRUE(p.command("rs 8"));
  EXPECT_EQ(p.read_str(2), "OK");
  EXPECT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("de 8"));
  EXPECT_EQ(p.read_str(2), "OK");
  std::string len = p.read_str(1);
  ASSERT_EQ(len.size(), 1u);
  EXPECT_EQ(p.read_str((uint8_t)len[0]), "73,CBM DOS V2.6 1541,00,00");
  EXPECT_TRUE(p.prompt());
  EXPECT_EQ(read_file(dir.file("cmds.log")), "v\ndi 8\nrs 8\nrb 8\ndi 9\nrs 8\nde 8\n");
}

TEST_F(SimTest, LinkPointsAtThePortWhileTheSimulatorRuns) {
  std::string link = dir.file("dravlen");
  start({"--link", link});
  gchar *target = g_file_read_link(link.c_str(), nullptr);
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(std::string(target), sim.port);
  g_free(target);
  {
    port p(link);
    EXPECT_TRUE(p.prompt());
  }
  ASSERT_TRUE(sim_stop(&sim));
  EXPECT_FALSE(g_file_test(link.c_str(), G_FILE_TEST_IS_SYMLINK));
}

TEST_F(SimTest, OldFirmwareAnswersVersionWithThePromptAtOnce) {
  start({"--old-firmware"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("v"));
  EXPECT_EQ(p.read_str(1), ">");
}

TEST_F(SimTest, FaultOptionsChangeAnswersEchoAndNoise) {
  start({"--blank", "8", "--answer", "dd=NF", "--wrong-echo", "di", "--garbage", "xyz"});
  port p(sim.port);
  EXPECT_EQ(p.read_str(7), "xyz\r\n> ");
  ASSERT_TRUE(p.command("dd \"$\" 8"));
  EXPECT_EQ(p.read_str(2), "NF");
  EXPECT_EQ(p.read_str(7), "xyz\r\n> ");
  ASSERT_TRUE(p.write_str("di 8\r"));
  std::string echo = p.read_str(6);
  EXPECT_EQ(echo.size(), 6u);
  EXPECT_NE(echo, "di 8\r\n");
}

TEST_F(SimTest, SilentAndHangupLimitsCountEveryByteSent) {
  start({"--blank", "8", "--silent-after", "10"});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.write_str("di 8\r"));
    EXPECT_EQ(p.read_until_quiet(), "di 8\r\n");
  }
  ASSERT_TRUE(sim_stop(&sim));
  start({"--blank", "8", "--hangup-after", "8"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.write_str("di 8\r"));
  bytes b;
  EXPECT_FALSE(p.read_n(&b, 6, 2000));
  EXPECT_EQ(std::string(b.begin(), b.end()), "di 8");
}

// ---------------------------------------------------------------- warp streams

namespace {

// An incoming packet taken apart the long way, bit by bit.
struct packet_info {
  bool no_sector = false;
  bool transmission_ok = false;
  bool gcr_ok = false;
  bool checksum_ok = false;
  bool eot = false;
  int sector = -1;
  uint8_t data[256] = {};
};

uint8_t from_bus(uint8_t r) {
  uint8_t x = (uint8_t)(r ^ 0xFF);
  return (uint8_t)(((x << 3) & 0x88) | ((x >> 3) & 0x11) | (x & 0x66));
}

int nibble(int code) {
  static const int codes[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};
  for (int i = 0; i < 16; i++)
    if (codes[i] == code) return i;
  return -1;
}

packet_info take_apart(const bytes &p) {
  packet_info info;
  info.no_sector = (p[321] & 0x0F) == 0;
  uint8_t x = 0;
  for (int i = 0; i < 323; i++) x ^= p[i];
  info.transmission_ok = p[323] == x || (!(p[321] & 0x08) && p[323] == (x ^ 0x08));
  std::vector<int> bits;
  for (int i = 0; i < 322; i++)
    for (int b = 7; b >= 0; b--) bits.push_back((from_bus(p[i]) >> b) & 1);
  int bad = 0;
  uint8_t dec[257];
  for (int k = 0; k < 257; k++) {
    int v = 0;
    for (int h = 0; h < 2; h++) {
      int code = 0;
      for (int b = 0; b < 5; b++) code = code * 2 + bits[2 + k * 10 + h * 5 + b];
      int n = nibble(code);
      if (n < 0) bad++;
      v = v * 16 + (n < 0 ? 15 : n);
    }
    dec[k] = (uint8_t)v;
  }
  memcpy(info.data, dec, 256);
  uint8_t sum = 0;
  for (int i = 0; i < 256; i++) sum ^= dec[i];
  info.gcr_ok = bad == 0;
  info.checksum_ok = sum == dec[256];
  uint8_t last = from_bus(p[321]);
  info.eot = last & 1;
  uint8_t sb = from_bus(p[322]);
  int n = nibble(sb & 0x1F);
  info.sector = n < 0 ? -1 : n + ((sb & 0x20) ? 16 : 0);
  return info;
}


// Packets of one "ws" pass grouped by track, following the end-of-track
// flags and the no-sector packets as the client does.
std::vector<std::vector<packet_info>> read_pass(port *p, int first, int last) {
  std::vector<std::vector<packet_info>> tracks(last + 1);
  for (int t = first; t <= last;) {
    bytes raw;
    if (!p->read_n(&raw, 324)) {
      ADD_FAILURE() << "stream ended in track " << t;
      return tracks;
    }
    packet_info info = take_apart(raw);
    tracks[t].push_back(info);
    if (info.no_sector || info.eot) t++;
  }
  return tracks;
}

std::string make_disk(const temp_dir &dir, const char *name, std::vector<std::string> extra = {}) {
  std::string content = dir.file("content.prg");
  std::string data;
  for (int i = 0; i < 3000; i++) data += (char)(i * 37 + i / 256);
  g_file_set_contents(content.c_str(), data.data(), (gssize)data.size(), nullptr);
  std::vector<std::string> args = {"cc1541", "-q", "-n", "WARP TEST", "-i", "wt", "-f", "DATA", "-w", content};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back(dir.file(name));
  EXPECT_TRUE(run_tool(args));
  return dir.file(name);
}

}  // namespace

TEST_F(SimTest, WholeDiskPassDeliversEverySectorOncePerTrack) {
  std::string d64 = make_disk(dir, "disk.d64", {"-g", dir.file("disk.g64")});
  std::string image = read_file(d64);
  ASSERT_EQ(image.size(), 174848u);
  for (const std::string &file : {d64, dir.file("disk.g64")}) {
    SCOPED_TRACE(file);
    start({"--drive", "8=" + file, "--save", "8=" + dir.file("saved.d64")});
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.command("ws 35 8 1"));
    auto tracks = read_pass(&p, 1, 35);
    EXPECT_TRUE(p.prompt());
    for (int t = 1; t <= 35; t++) {
      ASSERT_EQ((int)tracks[t].size(), geometry_sectors(t)) << "track " << t;
      std::vector<int> seen(geometry_sectors(t), 0);
      for (size_t i = 0; i < tracks[t].size(); i++) {
        const packet_info &k = tracks[t][i];
        EXPECT_TRUE(k.transmission_ok && k.gcr_ok && k.checksum_ok) << t << "/" << k.sector;
        EXPECT_EQ(k.eot, i + 1 == tracks[t].size());
        ASSERT_TRUE(k.sector >= 0 && k.sector < geometry_sectors(t));
        seen[k.sector]++;
        EXPECT_EQ(0, memcmp(k.data, image.data() + (geometry_block(t, 0) + k.sector) * 256, 256))
            << t << "/" << k.sector;
      }
      EXPECT_EQ(std::vector<int>(geometry_sectors(t), 1), seen) << "track " << t;
    }
    ASSERT_TRUE(sim_stop(&sim));
    // The raw tracks decode to the same blocks, without error info.
    EXPECT_TRUE(read_file(dir.file("saved.d64")) == image);
  }
}

TEST_F(SimTest, InjectedFaultsAndErrorInfoChangeTheStatedPackets) {
  std::string d64 = make_disk(dir, "disk.d64");
  std::string image = read_file(d64);
  // Error info: 23 on 4/0, 21 on 5/1, 27 on 6/2, 20 on 7/3, 24 on 8/4.
  std::string info(683, '\x01');
  info[geometry_block(4, 0) + 0] = 0x05;
  info[geometry_block(5, 0) + 1] = 0x03;
  info[geometry_block(6, 0) + 2] = 0x09;
  info[geometry_block(7, 0) + 3] = 0x02;
  info[geometry_block(8, 0) + 4] = 0x06;
  std::string with_info = image + info;
  std::string path = dir.file("errors.d64");
  g_file_set_contents(path.c_str(), with_info.data(), (gssize)with_info.size(), nullptr);
  start({"--drive", "8=" + path, "--drop", "1/5", "--corrupt-checksum", "2/3", "--no-sector-track", "3"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("ws 40 8 1"));
  auto tracks = read_pass(&p, 1, 40);
  EXPECT_TRUE(p.prompt());
  auto find = [&](int t, int s) -> const packet_info * {
    for (const packet_info &k : tracks[t])
      if (k.sector == s && !k.no_sector) return &k;
    return nullptr;
  };
  EXPECT_EQ(tracks[1].size(), 20u);
  EXPECT_EQ(find(1, 5), nullptr);
  ASSERT_NE(find(2, 3), nullptr);
  EXPECT_FALSE(find(2, 3)->transmission_ok);
  ASSERT_EQ(tracks[3].size(), 1u);
  EXPECT_TRUE(tracks[3][0].no_sector);
  ASSERT_NE(find(4, 0), nullptr);
  EXPECT_TRUE(find(4, 0)->gcr_ok);
  EXPECT_FALSE(find(4, 0)->checksum_ok);
  EXPECT_EQ(find(5, 1), nullptr);
  EXPECT_EQ(tracks[5].size(), 20u);
  ASSERT_NE(find(6, 2), nullptr);
  EXPECT_FALSE(find(6, 2)->gcr_ok);
  EXPECT_EQ(find(7, 3), nullptr);
  ASSERT_NE(find(8, 4), nullptr);
  EXPECT_FALSE(find(8, 4)->gcr_ok);
  // Untouched sectors stay clean; tracks beyond the disk have no sectors.
  for (int t : {9, 18, 35}) {
    EXPECT_EQ((int)tracks[t].size(), geometry_sectors(t));
    for (const packet_info &k : tracks[t]) EXPECT_TRUE(k.transmission_ok && k.gcr_ok && k.checksum_ok);
  }
  for (int t = 36; t <= 40; t++) {
    ASSERT_EQ(tracks[t].size(), 1u);
    EXPECT_TRUE(tracks[t][0].no_sector);
  }
  // Single-sector reads see the same faults, and need "w1" first.
  ASSERT_TRUE(p.command("w2 8 18 0"));
  bytes raw;
  ASSERT_TRUE(p.read_n(&raw, 324));
  EXPECT_TRUE(take_apart(raw).no_sector);
  EXPECT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("w1 8"));
  EXPECT_TRUE(p.prompt());
  struct {
    const char *cmd;
    bool no_sector, transmission_ok, checksum_ok;
  } reads[] = {{"w2 8 18 0", false, true, true},
               {"w2 8 5 1", true, true, true},
               {"w2 8 2 3", false, false, true},
               {"w2 8 4 0", false, true, false},
               {"w2 8 3 0", true, true, true}};
  for (const auto &r : reads) {
    ASSERT_TRUE(p.command(r.cmd));
    ASSERT_TRUE(p.read_n(&raw, 324));
    packet_info k = take_apart(raw);
    EXPECT_EQ(k.no_sector, r.no_sector) << r.cmd;
    if (!r.no_sector) {
      EXPECT_EQ(k.transmission_ok, r.transmission_ok) << r.cmd;
      EXPECT_EQ(k.checksum_ok, r.checksum_ok) << r.cmd;
    }
    EXPECT_TRUE(p.prompt());
  }
  ASSERT_TRUE(p.command("w2 8 18 0"));
  ASSERT_TRUE(p.read_n(&raw, 324));
  packet_info bam = take_apart(raw);
  EXPECT_EQ(bam.sector, 0);
  EXPECT_EQ(0, memcmp(bam.data, image.data() + geometry_block(18, 0) * 256, 256));
}

// ---------------------------------------------------------------- DOS-level commands

namespace {

// Reads an "OK"-led file transfer: load address, counted chunks, zero count.
int read_file_transfer(port *p, bytes *file, int *chunks) {
  if (p->read_str(2) != "OK") return 0;
  if (!p->read_n(file, 2)) return 0;
  *chunks = 0;
  for (;;) {
    bytes cnt, part;
    if (!p->read_n(&cnt, 2)) return 0;
    size_t n = cnt[0] | (cnt[1] << 8);
    if (n == 0) return 1;
    if (!p->read_n(&part, n)) return 0;
    file->insert(file->end(), part.begin(), part.end());
    (*chunks)++;
  }
}

// Serves the drive's requests for the bytes of a file being written.
int serve_file_requests(port *p, const std::string &content) {
  size_t sent = 0;
  while (sent < content.size()) {
    bytes cnt;
    if (!p->read_n(&cnt, 2)) return 0;
    size_t n = cnt[0] | (cnt[1] << 8);
    if (n == 0 || sent + n > content.size()) return 0;
    if (!p->write_str(content.substr(sent, n))) return 0;
    sent += n;
  }
  return 1;
}

int simple_command(port *p, const std::string &line, const char *answer = "OK") {
  return p->command(line) && p->read_str(2) == answer && p->prompt();
}

}  // namespace

TEST_F(SimTest, ImportedAndScratchedFilesShowInTheSavedImage) {
  // Lower-case names on the PC side are the plain PETSCII letters the
  // client sends.
  std::string one(3000, 'a'), two(600, 'b');
  g_file_set_contents(dir.file("one").c_str(), one.data(), (gssize)one.size(), nullptr);
  g_file_set_contents(dir.file("two").c_str(), two.data(), (gssize)two.size(), nullptr);
  ASSERT_TRUE(run_tool({"cc1541", "-q", "-n", "files", "-i", "ab", "-f", "first", "-w", dir.file("one"), "-f",
                        "second", "-w", dir.file("two"), dir.file("base.d64")}));
  std::string saved = dir.file("saved.d64");
  start({"--drive", "8=" + dir.file("base.d64"), "--save", "8=" + saved});
  std::string content;
  for (int i = 0; i < 5000; i++) content += (char)(i * 13 + i / 251);
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("du \"NEWFILE\" 8 5000"));
  ASSERT_EQ(p.read_str(2), "OK");
  ASSERT_TRUE(serve_file_requests(&p, content));
  EXPECT_TRUE(p.prompt());
  EXPECT_TRUE(simple_command(&p, "dc \"S:FIRST\" 8"));
  // The same name again, a missing file and a missing name are refused.
  ASSERT_TRUE(p.command("du \"NEWFILE\" 8 10"));
  EXPECT_EQ(p.read_str(2), "KO");
  EXPECT_TRUE(p.prompt());
  EXPECT_TRUE(simple_command(&p, "dd \"NOSUCH\" 8 1", "NF"));
  EXPECT_TRUE(simple_command(&p, "dd \"\" 8 1", "FM"));
  EXPECT_TRUE(simple_command(&p, "dd \"SECOND\" 9 1", "NP"));
  // Reading back gives the file in block-sized chunks.
  ASSERT_TRUE(p.command("dd \"NEW*\" 8 1"));
  bytes back;
  int chunks = 0;
  ASSERT_TRUE(read_file_transfer(&p, &back, &chunks));
  EXPECT_EQ(std::string(back.begin(), back.end()), content);
  EXPECT_EQ(chunks, 20);
  EXPECT_TRUE(p.prompt());
  // The listing counts the blocks: 664 - 12 - 3 (second) - 20 (new) = 629 + 12 freed.
  ASSERT_TRUE(p.command("dd \"$\" 8"));
  bytes dollar;
  ASSERT_TRUE(read_file_transfer(&p, &dollar, &chunks));
  ASSERT_EQ(dollar.size() % 32, 0u);
  ASSERT_EQ(dollar.size(), 4u * 32);
  EXPECT_EQ(dollar[0] | dollar[1] << 8, 0x0801);  // loads as a BASIC program
  std::string text(dollar.begin(), dollar.end());
  EXPECT_NE(text.find("\"SECOND\""), std::string::npos);
  EXPECT_NE(text.find("  \"NEWFILE\"          PRG "), std::string::npos);
  EXPECT_EQ(text.find("FIRST"), std::string::npos);
  EXPECT_EQ(dollar[3 * 32 + 2] | (dollar[3 * 32 + 3] << 8), 664 - 3 - 20);
  EXPECT_EQ(text.substr(3 * 32 + 4, 12), "BLOCKS FREE.");
  close(p.fd);
  p.fd = -1;
  ASSERT_TRUE(sim_stop(&sim));

  std::string out;
  ASSERT_TRUE(run_tool({"cbmconvert", "-N", "-d", saved}, &out, dir.path.c_str())) << out;
  EXPECT_EQ(read_file(dir.file("newfile.prg")), content);
  EXPECT_EQ(read_file(dir.file("second.prg")), two);
  EXPECT_FALSE(g_file_test(dir.file("first.prg").c_str(), G_FILE_TEST_EXISTS));
  ASSERT_TRUE(run_tool({"cc1541", saved}, &out));
  EXPECT_NE(out.find("641 blocks free"), std::string::npos) << out;
}

TEST_F(SimTest, FormatsLeaveANamedEmptyDisk) {
  std::string content(20000, 'x');
  g_file_set_contents(dir.file("big").c_str(), content.data(), (gssize)content.size(), nullptr);
  ASSERT_TRUE(run_tool({"cc1541", "-q", "-n", "old", "-f", "big", "-w", dir.file("big"), dir.file("a.d64")}));
  ASSERT_TRUE(run_tool({"cc1541", "-q", "-n", "old", "-f", "big", "-w", dir.file("big"), dir.file("b.d64")}));
  start({"--drive", "8=" + dir.file("a.d64"), "--save", "8=" + dir.file("a_out.d64"), "--drive",
         "9=" + dir.file("b.d64"), "--save", "9=" + dir.file("b_out.d64")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    EXPECT_TRUE(simple_command(&p, "ff \"fresh disk,q7\" 35 8"));
    EXPECT_TRUE(simple_command(&p, "dc \"N:other,z9\" 9"));
    EXPECT_TRUE(simple_command(&p, "dc \"V0\" 9"));
    EXPECT_TRUE(simple_command(&p, "ff \"x,y\" 35 10", "NP"));
  }
  ASSERT_TRUE(sim_stop(&sim));
  std::string out;
  ASSERT_TRUE(run_tool({"cc1541", dir.file("a_out.d64")}, &out));
  EXPECT_NE(out.find("\"FRESH DISK      \" Q7 2a"), std::string::npos) << out;
  EXPECT_NE(out.find("664 blocks free"), std::string::npos) << out;
  EXPECT_EQ(out.find("big"), std::string::npos) << out;
  ASSERT_TRUE(run_tool({"cc1541", dir.file("b_out.d64")}, &out));
  EXPECT_NE(out.find("\"OTHER           \" Z9 2a"), std::string::npos) << out;
  EXPECT_NE(out.find("664 blocks free"), std::string::npos) << out;
}

TEST_F(SimTest, ValidateFreesBlocksOfUnclosedFiles) {
  std::string content(3000, 'o');
  g_file_set_contents(dir.file("f").c_str(), content.data(), (gssize)content.size(), nullptr);
  ASSERT_TRUE(run_tool({"cc1541", "-q", "-f", "open", "-O", "-w", dir.file("f"), "-f", "kept", "-w",
                        dir.file("f"), dir.file("v.d64")}));
  start({"--drive", "8=" + dir.file("v.d64"), "--save", "8=" + dir.file("v_out.d64")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    EXPECT_TRUE(simple_command(&p, "dc \"V0\" 8"));
  }
  ASSERT_TRUE(sim_stop(&sim));
  std::string out;
  ASSERT_TRUE(run_tool({"cc1541", dir.file("v_out.d64")}, &out));
  EXPECT_EQ(out.find("open"), std::string::npos) << out;
  EXPECT_NE(out.find("kept"), std::string::npos) << out;
  EXPECT_NE(out.find("652 blocks free"), std::string::npos) << out;
}

// ---------------------------------------------------------------- restore and ROM dump

namespace {

// An outgoing packet: the bits 11, the GCR of the data and its checksum,
// then 0101; sector and track behind.
bytes outgoing_packet(const uint8_t *data, int track, int sector) {
  static const int codes[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};
  std::vector<int> bits = {1, 1};
  uint8_t sum = 0;
  auto put = [&](uint8_t b) {
    int code = codes[b >> 4] * 32 + codes[b & 15];
    for (int i = 9; i >= 0; i--) bits.push_back((code >> i) & 1);
  };
  for (int i = 0; i < 256; i++) {
    put(data[i]);
    sum ^= data[i];
  }
  put(sum);
  for (int b : {0, 1, 0, 1}) bits.push_back(b);
  bytes p(324, 0);
  for (size_t i = 0; i < bits.size(); i++) p[i / 8] |= (uint8_t)(bits[i] << (7 - i % 8));
  p[322] = (uint8_t)sector;
  p[323] = (uint8_t)track;
  return p;
}

}  // namespace

TEST_F(SimTest, RestoreWritesEveryReceivedSectorOntoTheDisk) {
  std::string source = read_file(make_disk(dir, "source.d64"));
  ASSERT_EQ(source.size(), 174848u);
  start({"--blank", "8", "--save", "8=" + dir.file("restored.d64")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.command("wr 8"));
    for (int t = 1; t <= 35; t++) {
      for (int i = 0; i < geometry_sectors(t); i++) {
        int s = (i * 5) % geometry_sectors(t);  // any order is taken; the packet names its place
        ASSERT_EQ(p.read_str(1), "d") << t << "/" << s;
        bytes pk = outgoing_packet((const uint8_t *)source.data() + (geometry_block(t, 0) + s) * 256, t, s);
        ASSERT_TRUE(p.write_bytes(pk.data(), pk.size()));
      }
    }
    ASSERT_EQ(p.read_str(1), "d");
    bytes end = outgoing_packet((const uint8_t *)source.data(), 0, 0);
    ASSERT_TRUE(p.write_bytes(end.data(), end.size()));
    EXPECT_TRUE(p.prompt());
  }
  ASSERT_TRUE(sim_stop(&sim));
  EXPECT_TRUE(read_file(dir.file("restored.d64")) == source);
}

TEST_F(SimTest, RomDumpSendsWholePagesInBusOrder) {
  start({"--blank", "8"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("wd 8"));
  bytes rom;
  ASSERT_TRUE(p.read_n(&rom, 64 * 256));
  EXPECT_TRUE(p.prompt());
  std::string start_text;
  for (int i = 0; i < 7; i++) start_text += (char)from_bus(rom[i]);
  EXPECT_EQ(start_text, "DRAVLEN");
  ASSERT_TRUE(p.command("wd 8 128"));
  bytes rom71;
  ASSERT_TRUE(p.read_n(&rom71, 128 * 256));
  EXPECT_TRUE(p.prompt());
  // The top half of the 1571 dump is the same $C000-$FFFF range.
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), rom71.begin() + 64 * 256));
}

// ---------------------------------------------------------------- bootloader

TEST_F(SimTest, AvrdudeFlashesAHexImageThroughTheBootloaderPort) {
  // 1000 data bytes in 16-byte records, then the end record.
  bytes data;
  std::string hex;
  for (int addr = 0; addr < 1000; addr += 16) {
    int n = std::min(16, 1000 - addr);
    uint8_t rec[20] = {(uint8_t)n, (uint8_t)(addr >> 8), (uint8_t)addr, 0};
    int sum = n + (addr >> 8) + (addr & 0xFF);
    for (int i = 0; i < n; i++) {
      rec[4 + i] = (uint8_t)((addr + i) * 31 + 7);
      data.push_back(rec[4 + i]);
      sum += rec[4 + i];
    }
    char line[64] = ":";
    for (int i = 0; i < 4 + n; i++) sprintf(line + 1 + 2 * i, "%02X", rec[i]);
    sprintf(line + 1 + 2 * (4 + n), "%02X\r\n", (unsigned)(-sum & 0xFF));
    hex += line;
  }
  hex += ":00000001FF\r\n";
  g_file_set_contents(dir.file("fw.hex").c_str(), hex.data(), (gssize)hex.size(), nullptr);
  start({"--bootloader-link", dir.file("boot"), "--flash-out", dir.file("flash.bin")});
  EXPECT_EQ(sim.bootloader_port, dir.file("boot"));
  // Like the board's, the bootloader port only exists after "j".
  EXPECT_FALSE(g_file_test(dir.file("boot").c_str(), G_FILE_TEST_EXISTS));
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.write_str("j\r"));
    ASSERT_TRUE(wait_for_path(dir.file("boot"), true, 3000));
  }
  std::string out;
  ASSERT_TRUE(run_tool({"avrdude", "-v", "-pm32u4", "-cavr109", "-P" + dir.file("boot"), "-b57600", "-D",
                        "-Uflash:w:fw.hex:i"},
                       &out, dir.path.c_str()))
      << out;
  EXPECT_NE(out.find("1000 bytes of flash verified"), std::string::npos) << out;
  // The port goes away once avrdude has left the bootloader.
  EXPECT_TRUE(wait_for_path(dir.file("boot"), false, 5000));
  // The image is written when the programmer leaves the bootloader, which
  // may be just after avrdude has exited; stopping the simulator settles it.
  ASSERT_TRUE(sim_stop(&sim));
  std::string flashed = read_file(dir.file("flash.bin"));
  ASSERT_GE(flashed.size(), data.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), (const uint8_t *)flashed.data()));
  // avrdude pads the last block with erased bytes.
  EXPECT_EQ(flashed.find_first_not_of('\xff', data.size()), std::string::npos);
  EXPECT_LT(flashed.size(), data.size() + 128);
}

TEST_F(SimTest, BootloaderPortGivesUpWithoutAProgrammerAndComesBackOnTheNextReset) {
  start({"--bootloader-link", dir.file("boot")});
  for (int round = 0; round < 2; round++) {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.write_str("j\r"));
    ASSERT_TRUE(wait_for_path(dir.file("boot"), true, 3000)) << round;
    gint64 t0 = g_get_monotonic_time();
    ASSERT_TRUE(wait_for_path(dir.file("boot"), false, 12000)) << round;
    double seconds = (g_get_monotonic_time() - t0) / 1e6;
    EXPECT_GT(seconds, 6.5);
    EXPECT_LT(seconds, 10.0);
  }
}

TEST_F(SimTest, DriveTimingSpendsARevolutionPerTrackRead) {
  std::string d64 = make_disk(dir, "disk.d64");
  for (bool paced : {false, true}) {
    std::vector<std::string> args = {"--drive", "8=" + d64};
    if (paced) args.push_back("--drive-timing");
    start(args);
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    gint64 t0 = g_get_monotonic_time();
    ASSERT_TRUE(p.command("ws 35 8 31"));
    auto tracks = read_pass(&p, 31, 35);
    EXPECT_EQ(tracks[35].size(), 17u);
    EXPECT_TRUE(p.prompt());
    double seconds = (g_get_monotonic_time() - t0) / 1e6;
    // Five revolutions of 0.2 s plus stepping out from the directory track.
    if (paced) {
      EXPECT_GE(seconds, 1.0);
      EXPECT_LT(seconds, 4.0);
    } else {
      EXPECT_LT(seconds, 0.8);
    }
    ASSERT_TRUE(sim_stop(&sim));
  }
}

TEST_F(SimTest, FortyTrackDisksStreamAndSaveAllTracks) {
  std::string d64 = make_disk(dir, "forty.d64", {"-4"});
  std::string image = read_file(d64);
  ASSERT_EQ(image.size(), 196608u);
  start({"--drive", "8=" + d64, "--save", "8=" + dir.file("forty_out.d64")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.command("ws 40 8 36"));
    auto tracks = read_pass(&p, 36, 40);
    EXPECT_TRUE(p.prompt());
    for (int t = 36; t <= 40; t++) {
      ASSERT_EQ(tracks[t].size(), 17u);
      for (const packet_info &k : tracks[t])
        EXPECT_EQ(0, memcmp(k.data, image.data() + (geometry_block(t, 0) + k.sector) * 256, 256));
    }
    // A quick format keeps the ID and the blocks beyond the directory.
    EXPECT_TRUE(simple_command(&p, "dc \"N:renamed\" 8"));
  }
  ASSERT_TRUE(sim_stop(&sim));
  std::string saved = read_file(dir.file("forty_out.d64"));
  ASSERT_EQ(saved.size(), 196608u);
  EXPECT_EQ(saved.substr(0, geometry_block(18, 0) * 256), image.substr(0, geometry_block(18, 0) * 256));
  EXPECT_EQ(saved.substr(geometry_block(18, 0) * 256 + 162, 2), image.substr(geometry_block(18, 0) * 256 + 162, 2));
  EXPECT_EQ(saved.substr(geometry_block(18, 0) * 256 + 144, 7), "renamed");
}

TEST_F(SimTest, RandomCorruptionFollowsTheSeed) {
  std::string d64 = make_disk(dir, "disk.d64");
  std::vector<std::vector<bool>> runs;
  for (const char *seed : {"7", "7", "8"}) {
    start({"--drive", "8=" + d64, "--corrupt-random", "30", "--seed", seed});
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.command("ws 35 8 1"));
    auto tracks = read_pass(&p, 1, 35);
    EXPECT_TRUE(p.prompt());
    std::vector<bool> bad;
    for (int t = 1; t <= 35; t++)
      for (const packet_info &k : tracks[t]) bad.push_back(!k.transmission_ok);
    ASSERT_EQ(bad.size(), 683u);
    int count = (int)std::count(bad.begin(), bad.end(), true);
    EXPECT_GT(count, 683 * 20 / 100);
    EXPECT_LT(count, 683 * 40 / 100);
    runs.push_back(bad);
    ASSERT_TRUE(sim_stop(&sim));
  }
  EXPECT_EQ(runs[0], runs[1]);
  EXPECT_NE(runs[0], runs[2]);
}

TEST_F(SimTest, ManyImportsScratchesAndAValidateKeepTheDiskConsistent) {
  std::string saved = dir.file("busy.d64");
  start({"--blank", "8", "--save", "8=" + saved});
  std::map<std::string, std::string> files;
  auto import = [&](port *p, const std::string &name, size_t size) {
    std::string content;
    for (size_t i = 0; i < size; i++) content += (char)(i * 7 + name.size() * 31 + name[name.size() - 1]);
    if (!p->command("du \"" + name + "\" 8 " + std::to_string(size))) return 0;
    std::string answer = p->read_str(2);
    if (answer == "OK" && serve_file_requests(p, content)) files[name] = content;
    return (int)(p->prompt() && answer == "OK");
  };
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    for (int i = 0; i < 30; i++) ASSERT_TRUE(import(&p, "F" + std::to_string(i), (size_t)(i * 1111 % 9000 + 2)));
    for (int i = 0; i < 30; i += 3) {
      EXPECT_TRUE(simple_command(&p, "dc \"S:F" + std::to_string(i) + "\" 8"));
      files.erase("F" + std::to_string(i));
    }
    for (int i = 30; i < 40; i++) ASSERT_TRUE(import(&p, "F" + std::to_string(i), (size_t)(i * 2345 % 12000 + 2)));
    // A file larger than what is left is refused before any data moves.
    EXPECT_FALSE(import(&p, "HUGE", 168000));
    EXPECT_TRUE(simple_command(&p, "dc \"V0\" 8"));
  }
  ASSERT_TRUE(sim_stop(&sim));
  std::string out;
  ASSERT_TRUE(run_tool({"cbmconvert", "-N", "-d", saved}, &out, dir.path.c_str())) << out;
  int blocks = 0;
  for (const auto &f : files) {
    std::string pc = f.first;
    for (char &c : pc) c = (char)g_ascii_tolower(c);
    EXPECT_TRUE(read_file(dir.file((pc + ".prg").c_str())) == f.second) << f.first;
    blocks += (int)((f.second.size() + 253) / 254);
  }
  ASSERT_TRUE(run_tool({"cc1541", saved}, &out));
  EXPECT_NE(out.find(std::to_string(664 - blocks) + " blocks free"), std::string::npos) << out;
}

TEST_F(SimTest, DirectoryHoldsAtMost144Files) {
  start({"--blank", "8"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  for (int i = 0; i < 145; i++) {
    std::string line = "du \"N" + std::to_string(i) + "\" 8 2";
    ASSERT_TRUE(p.command(line));
    std::string answer = p.read_str(2);
    if (i < 144) {
      ASSERT_EQ(answer, "OK") << i;
      ASSERT_TRUE(serve_file_requests(&p, "ab"));
    } else {
      EXPECT_EQ(answer, "KO");
    }
    ASSERT_TRUE(p.prompt());
  }
  ASSERT_TRUE(p.command("dd \"$\" 8"));
  bytes dollar;
  int chunks;
  ASSERT_TRUE(read_file_transfer(&p, &dollar, &chunks));
  EXPECT_EQ(dollar.size(), (144u + 2) * 32);
  EXPECT_EQ(dollar[145 * 32 + 2] | (dollar[145 * 32 + 3] << 8), 664 - 144);
}

TEST_F(SimTest, ReadSequencesAndRenumberedSectorsReachTheClient) {
  std::string d64 = make_disk(dir, "disk.d64");
  start({"--drive", "8=" + d64, "--sequence", "18/0=3,5,9,1", "--sector-number", "30/0=19"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("ws 35 8 30"));
  auto tracks = read_pass(&p, 30, 35);
  EXPECT_TRUE(p.prompt());
  std::vector<int> numbers;
  for (const packet_info &k : tracks[30]) numbers.push_back(k.sector);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 19), 1);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 0), 0);
  ASSERT_TRUE(p.command("w1 8"));
  EXPECT_TRUE(p.prompt());
  // No sync, checksum error, GCR error, then good for every later read.
  for (int i = 0; i < 5; i++) {
    ASSERT_TRUE(p.command("w2 8 18 0"));
    bytes raw;
    ASSERT_TRUE(p.read_n(&raw, 324));
    packet_info k = take_apart(raw);
    EXPECT_EQ(k.no_sector, i == 0) << i;
    if (i == 1) {
      EXPECT_TRUE(k.gcr_ok && !k.checksum_ok);
    } else if (i == 2) {
      EXPECT_FALSE(k.gcr_ok);
    } else if (i >= 3) {
      EXPECT_TRUE(k.gcr_ok && k.checksum_ok) << i;
    }
    EXPECT_TRUE(p.prompt());
  }
}

TEST_F(SimTest, RawTracksAreReadAtAnyBitPosition) {
  std::string d64 = make_disk(dir, "disk.d64", {"-g", dir.file("disk.g64")});
  std::string image = read_file(d64);
  std::string g64 = read_file(dir.file("disk.g64"));
  ASSERT_GT(g64.size(), 1000u);
  // Rotate track 1 by 3 bits, and track 2 by 13, so its blocks no longer
  // start on byte boundaries and one of them straddles the index.
  for (int t : {1, 2}) {
    int shift = t == 1 ? 3 : 13;
    size_t table = 12 + (size_t)(t - 1) * 2 * 4;
    size_t off = (uint8_t)g64[table] | (uint8_t)g64[table + 1] << 8 | (uint8_t)g64[table + 2] << 16;
    size_t len = (uint8_t)g64[off] | (uint8_t)g64[off + 1] << 8;
    std::string track = g64.substr(off + 2, len);
    size_t bits = len * 8;
    std::string rotated(len, '\0');
    for (size_t i = 0; i < bits; i++) {
      size_t from = (i + bits - shift) % bits;
      int bit = ((uint8_t)track[from / 8] >> (7 - from % 8)) & 1;
      rotated[i / 8] = (char)(rotated[i / 8] | bit << (7 - i % 8));
    }
    g64.replace(off + 2, len, rotated);
  }
  g_file_set_contents(dir.file("rotated.g64").c_str(), g64.data(), (gssize)g64.size(), nullptr);
  start({"--drive", "8=" + dir.file("rotated.g64")});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.command("ws 35 8 1"));
  auto tracks = read_pass(&p, 1, 2);
  for (int t = 1; t <= 2; t++) {
    ASSERT_EQ(tracks[t].size(), 21u) << t;
    for (const packet_info &k : tracks[t]) {
      EXPECT_TRUE(k.transmission_ok && k.gcr_ok && k.checksum_ok) << t << "/" << k.sector;
      EXPECT_EQ(0, memcmp(k.data, image.data() + (geometry_block(t, 0) + k.sector) * 256, 256)) << t << "/" << k.sector;
    }
  }
}

// ---------------------------------------------------------------- a stricter peer

namespace {

// Runs the simulator itself, keeping its stdout and stderr apart.
int run_sim(const std::vector<std::string> &args, std::string *out, std::string *err) {
  std::vector<gchar *> argv = {g_strdup(DRAVLEN_SIM_PATH)};
  for (const std::string &a : args) argv.push_back(g_strdup(a.c_str()));
  argv.push_back(nullptr);
  gchar *so = nullptr, *se = nullptr;
  gint status = -1;
  gboolean ok = g_spawn_sync(nullptr, argv.data(), nullptr, (GSpawnFlags)0, nullptr, nullptr, &so, &se, &status,
                             nullptr);
  for (gchar *a : argv) g_free(a);
  *out = so ? so : "";
  *err = se ? se : "";
  g_free(so);
  g_free(se);
  if (!ok || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The status line on the drive's error channel.
std::string drive_status(port *p, int device = 8) {
  if (!p->command("de " + std::to_string(device)) || p->read_str(2) != "OK") return "(no status)";
  std::string len = p->read_str(1);
  if (len.size() != 1) return "(no length)";
  std::string status = p->read_str((uint8_t)len[0]);
  return p->prompt() ? status : "(no prompt)";
}

// A disk of three files, as cc1541 writes it.
std::string three_file_disk(const temp_dir &dir) {
  std::string content(1500, 'c');
  g_file_set_contents(dir.file("c").c_str(), content.data(), (gssize)content.size(), nullptr);
  std::string plain = dir.file("plain.d64");
  EXPECT_TRUE(run_tool({"cc1541", "-q", "-n", "damaged", "-i", "dm", "-f", "one", "-w", dir.file("c"), "-f", "two",
                        "-w", dir.file("c"), "-f", "three", "-w", dir.file("c"), plain}));
  return read_file(plain);
}

// The image with error info that marks one block with `code`, as a file.
std::string with_error(const temp_dir &dir, const char *name, std::string image, int track, int sector,
                       uint8_t code) {
  std::string info(683, '\x01');
  info[geometry_block(track, 0) + sector] = (char)code;
  image += info;
  g_file_set_contents(dir.file(name).c_str(), image.data(), (gssize)image.size(), nullptr);
  return dir.file(name);
}

}  // namespace

TEST_F(SimTest, HelpGoesToStdoutAndBadArgumentsFail) {
  std::string out, err;
  EXPECT_EQ(run_sim({"--help"}, &out, &err), 0);
  EXPECT_EQ(out.rfind("usage: dravlen-sim", 0), 0u) << out;
  EXPECT_NE(out.find("--trickle MS"), std::string::npos) << out;
  EXPECT_EQ(err, "");
  // Without a pty or a disk: --help wins over whatever follows.
  EXPECT_EQ(run_sim({"--help", "--drive", "8=/nonexistent"}, &out, &err), 0);
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--frobnicate"},
           {"--trickle"},
           {"--trickle", "-1"},
           {"--trickle", "2000"},
           {"--trickle", "3ms"},
           {"--silent-after", "99999999999999999999999"},
           {"--drop", "4294967314/0"},
           {"--corrupt-checksum", "17"}}) {
    EXPECT_EQ(run_sim(bad, &out, &err), 2) << bad[0];
    EXPECT_EQ(out, "") << bad[0];
    EXPECT_NE(err.find("usage: dravlen-sim"), std::string::npos) << bad[0];
  }
}

TEST_F(SimTest, TrickleSpacesEveryByteAndCombinesWithTheOtherFaults) {
  start({"--blank", "8", "--trickle", "3", "--log", dir.file("cmds.log")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    // Never two bytes closer than the set spacing, so a reader's 5 ms quiet
    // gap never comes.
    ASSERT_TRUE(p.write_str("v\r"));
    std::vector<gint64> arrivals;
    std::string got;
    const std::string answer = "v\r\n2.4.0\r\n";
    while (got.size() < answer.size()) {
      std::string b = p.read_str(1);
      if (b.empty()) break;
      got += b;
      arrivals.push_back(g_get_monotonic_time());
    }
    EXPECT_EQ(got, answer);
    ASSERT_EQ(arrivals.size(), answer.size());
    // A late reader can see two bytes at once, so only the whole run is
    // bounded: a gap of at least 3 ms between each two bytes.
    EXPECT_GE(arrivals.back() - arrivals.front(), (gint64)(answer.size() - 1) * 3000);
    EXPECT_TRUE(p.prompt());
  }
  ASSERT_TRUE(sim_stop(&sim));

  // With every other fault option at once the byte counts still hold.
  std::string d64 = make_disk(dir, "disk.d64");
  start({"--drive", "8=" + d64, "--trickle", "0.5", "--silent-after", "10", "--corrupt-random", "50", "--seed", "3",
         "--drop", "1/1", "--corrupt-checksum", "1/2", "--sequence", "1/3=5", "--sector-number", "1/4=7",
         "--no-sector-track", "2", "--garbage", "x", "--drive-timing"});
  {
    port p(sim.port);
    EXPECT_EQ(p.read_str(5), "x\r\n> ");
    ASSERT_TRUE(p.write_str("di 8\r"));
    EXPECT_EQ(p.read_until_quiet(), "di 8\r");
  }
  ASSERT_TRUE(sim_stop(&sim));
  start({"--blank", "8", "--trickle", "1", "--hangup-after", "8"});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  ASSERT_TRUE(p.write_str("di 8\r"));
  bytes b;
  EXPECT_FALSE(p.read_n(&b, 6, 2000));
  EXPECT_EQ(std::string(b.begin(), b.end()), "di 8");
}

TEST_F(SimTest, LinesLongerThanTheBufferAreRefusedNotCut) {
  std::string saved = dir.file("saved.d64");
  start({"--drive", "8=" + with_error(dir, "d.d64", three_file_disk(dir), 1, 0, 1), "--save", "8=" + saved,
         "--log", dir.file("cmds.log")});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  // Spaces pad the scratch of "one" to the buffer's 254 characters: run.
  const std::string head = "dc \"S:ONE\"";
  std::string fits = head + std::string(254 - head.size() - 1, ' ') + "8";
  ASSERT_EQ(fits.size(), 254u);
  EXPECT_TRUE(simple_command(&p, fits));
  // One more, and a line far beyond the old 1024-character cut: echoed,
  // refused, and nothing scratched.
  for (size_t pad : {254 - head.size(), (size_t)3000}) {
    std::string line = "dc \"S:TWO\"" + std::string(pad, ' ') + "8";
    EXPECT_TRUE(simple_command(&p, line, "KO")) << line.size();
  }
  ASSERT_TRUE(p.command("dd \"$\" 8"));
  bytes dollar;
  int chunks;
  ASSERT_TRUE(read_file_transfer(&p, &dollar, &chunks));
  std::string text(dollar.begin(), dollar.end());
  EXPECT_EQ(text.find("\"ONE\""), std::string::npos);
  EXPECT_NE(text.find("\"TWO\""), std::string::npos);
  EXPECT_TRUE(p.prompt());
  // The log keeps each refused line whole, as one line.
  std::string log = read_file(dir.file("cmds.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 4);
  EXPECT_NE(log.find("\"S:TWO\"" + std::string(3000, ' ') + "8\n"), std::string::npos);
}

TEST_F(SimTest, NumbersBeyondTheIntegersAreRefusedNotWrapped) {
  std::string d64 = make_disk(dir, "disk.d64");
  start({"--drive", "8=" + d64});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  // 4294967304 is 8 and 4294967314 is 18 once wrapped to 32 bits.
  EXPECT_TRUE(simple_command(&p, "di 4294967304", "KO"));
  EXPECT_TRUE(simple_command(&p, "di 99999999999999999999999", "KO"));
  EXPECT_TRUE(simple_command(&p, "di -4294967288", "KO"));
  EXPECT_TRUE(simple_command(&p, "di 8"));
  ASSERT_TRUE(p.command("w1 8"));
  EXPECT_TRUE(p.prompt());
  EXPECT_TRUE(simple_command(&p, "w2 8 4294967314 0", "KO"));
  EXPECT_TRUE(simple_command(&p, "ws 35 8 4294967314", "KO"));
  EXPECT_TRUE(simple_command(&p, "wd 8 4294967488", "KO"));
  // A quoted name made of digits is a name, not a number.
  EXPECT_TRUE(simple_command(&p, "dd \"99999999999999999999\" 8 1", "NF"));
  // In range, the same commands still run.
  ASSERT_TRUE(p.command("w2 8 18 0"));
  bytes raw;
  ASSERT_TRUE(p.read_n(&raw, 324));
  EXPECT_EQ(take_apart(raw).sector, 0);
  EXPECT_TRUE(p.prompt());
}

TEST_F(SimTest, UnreadableBamOrDirectoryAnswersAReadError) {
  struct damage_case {
    int track, sector;
    uint8_t code;
    const char *status;
  } cases[] = {
      {18, 0, 0x05, "23,READ ERROR,18,00"},
      {18, 1, 0x03, "21,READ ERROR,18,01"},
      {18, 1, 0x09, "27,READ ERROR,18,01"},
      {18, 0, 0x0F, "21,READ ERROR,18,00"},
  };
  std::string image = three_file_disk(dir);
  for (const damage_case &c : cases) {
    SCOPED_TRACE(c.status);
    std::string disk = with_error(dir, "bad.d64", image, c.track, c.sector, c.code);
    std::string before = read_file(disk);
    std::string saved = dir.file("saved.d64");
    g_remove(saved.c_str());
    start({"--drive", "8=" + disk, "--save", "8=" + saved});
    {
      port p(sim.port);
      ASSERT_TRUE(p.prompt());
      // Initialising reads only the BAM; the bus command itself goes through.
      EXPECT_TRUE(simple_command(&p, "di 8"));
      EXPECT_EQ(drive_status(&p), c.sector == 0 ? c.status : "00, OK,00,00");
      EXPECT_TRUE(simple_command(&p, "dd \"$\" 8", "KO"));
      EXPECT_EQ(drive_status(&p), c.status);
      EXPECT_TRUE(simple_command(&p, "dc \"V0\" 8", "KO"));
      EXPECT_EQ(drive_status(&p), c.status);
      EXPECT_TRUE(simple_command(&p, "dc \"S:ONE\" 8", "KO"));
      EXPECT_EQ(drive_status(&p), c.status);
      EXPECT_TRUE(simple_command(&p, "du \"NEW\" 8 10", "KO"));
      EXPECT_EQ(drive_status(&p), c.status);
      // The file's entry sits in 18/1: not found when that cannot be read.
      EXPECT_TRUE(simple_command(&p, "dd \"ONE\" 8 1", "KO"));
      EXPECT_EQ(drive_status(&p), c.status);
    }
    ASSERT_TRUE(sim_stop(&sim));
    // Nothing was written back.
    EXPECT_TRUE(read_file(saved) == before);
  }
}

TEST_F(SimTest, ValidateThatMeetsABadFileBlockKeepsTheOldBam) {
  // The last block of the last file is bad; the directory reads, so the
  // listing works while validate stops at the file.
  std::string image = three_file_disk(dir);
  const uint8_t *dir_sector = (const uint8_t *)image.data() + (geometry_block(18, 0) + 1) * 256;
  int t = dir_sector[2 * 32 + 3], s = dir_sector[2 * 32 + 4];
  for (int hops = 0; hops < 10; hops++) {
    const uint8_t *b = (const uint8_t *)image.data() + (geometry_block(t, 0) + s) * 256;
    if (b[0] == 0) break;
    t = b[0];
    s = b[1];
  }
  ASSERT_GE(t, 1);
  std::string disk = with_error(dir, "bad.d64", image, t, s, 0x05);
  std::string before = read_file(disk);
  start({"--drive", "8=" + disk, "--save", "8=" + dir.file("saved.d64")});
  {
    port p(sim.port);
    ASSERT_TRUE(p.prompt());
    ASSERT_TRUE(p.command("dd \"$\" 8"));
    bytes dollar;
    int chunks;
    ASSERT_TRUE(read_file_transfer(&p, &dollar, &chunks));
    EXPECT_TRUE(p.prompt());
    EXPECT_TRUE(simple_command(&p, "dc \"V0\" 8", "KO"));
    char expected[32];
    snprintf(expected, sizeof expected, "23,READ ERROR,%02d,%02d", t, s);
    EXPECT_EQ(drive_status(&p), expected);
  }
  ASSERT_TRUE(sim_stop(&sim));
  EXPECT_TRUE(read_file(dir.file("saved.d64")) == before);
}

TEST_F(SimTest, RawTrackWithoutSyncMakesTheDirectoryUnreadable) {
  std::string d64 = make_disk(dir, "disk.d64", {"-g", dir.file("disk.g64")});
  std::string g64 = read_file(dir.file("disk.g64"));
  size_t table = 12 + (size_t)(18 - 1) * 2 * 4;
  size_t off = (uint8_t)g64[table] | (uint8_t)g64[table + 1] << 8 | (uint8_t)g64[table + 2] << 16;
  size_t len = (uint8_t)g64[off] | (uint8_t)g64[off + 1] << 8;
  g64.replace(off + 2, len, std::string(len, '\x55'));  // no sync anywhere on track 18
  g_file_set_contents(dir.file("nosync.g64").c_str(), g64.data(), (gssize)g64.size(), nullptr);
  start({"--drive", "8=" + dir.file("nosync.g64")});
  port p(sim.port);
  ASSERT_TRUE(p.prompt());
  EXPECT_TRUE(simple_command(&p, "dd \"$\" 8", "KO"));
  EXPECT_EQ(drive_status(&p), "21,READ ERROR,18,00");
  EXPECT_TRUE(simple_command(&p, "dc \"V0\" 8", "KO"));
  EXPECT_TRUE(simple_command(&p, "dd \"DATA\" 8 1", "KO"));
}
