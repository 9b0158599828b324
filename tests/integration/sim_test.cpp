// End-to-end checks of the device simulator over its real pty, with plain
// POSIX calls so they do not depend on the client's serial code.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

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
[[maybe_unused]] int run_tool(const std::vector<std::string> &args, std::string *out = nullptr, const char *cwd = nullptr) {
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
  for (int i = 0; i < 6; i++) {
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
  EXPECT_EQ(got, "\r\n> ");
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
