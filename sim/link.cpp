// The device port: the master side of a pty.  The slave is never held open
// here, so the master reports POLLHUP exactly while no client has the port
// open.  Polling alone misses a close quickly followed by a reopen, so
// inotify on the slave node counts openings and closings as well.  Its
// events can be coalesced, so POLLHUP stays the judge whenever the two
// disagree.
#include "sim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

static int master = -1;
static long long sent = 0;
static int hung_up = 0;
static const int POLL_MS = 3;
static int watch = -1;             // inotify descriptor
static int open_count = 0;          // descriptors open on the slave, as far as inotify tells
static unsigned long closings = 0;  // times that count fell to zero
static unsigned long session_mark = 0;
static std::string slave_name;

void sleep_us(long us) {
  struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR && !flag_quit) {
  }
}

int pty_open_raw(int *m, std::string *slave_path) {
  int s;
  char name[256];
  struct termios tio;
  memset(&tio, 0, sizeof tio);
  cfmakeraw(&tio);
  cfsetispeed(&tio, B921600);
  cfsetospeed(&tio, B921600);
  tio.c_cflag |= CREAD | CLOCAL;
  if (openpty(m, &s, name, &tio, nullptr) != 0) return 0;
  close(s);
  fcntl(*m, F_SETFL, fcntl(*m, F_GETFL) | O_NONBLOCK);
  *slave_path = name;
  return 1;
}

int link_setup(std::string *client_path) {
  if (!pty_open_raw(&master, client_path)) return 0;
  slave_name = *client_path;
  watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && inotify_add_watch(watch, client_path->c_str(), IN_OPEN | IN_CLOSE) < 0) {
    close(watch);
    watch = -1;
  }
  if (watch < 0) fprintf(stderr, "dravlen-sim: no inotify, falling back to POLLHUP polling\n");
  return 1;
}

static short poll_master(short events, int ms) {
  struct pollfd p = {master, events, 0};
  if (poll(&p, 1, ms) <= 0) return 0;
  return p.revents;
}

// Waits for the master or for an opening/closing of the slave.  With
// inotify the wait is event driven; without it, a short poll period.
static short wait_master(short events) {
  if (watch < 0) return poll_master(events, POLL_MS);
  struct pollfd p[2] = {{master, events, 0}, {watch, POLLIN, 0}};
  if (poll(p, 2, 100) <= 0) return 0;
  // POLLHUP without a client is answered by session_over().
  return (short)(p[0].revents & ~POLLHUP);
}

static void read_events() {
  if (watch < 0) return;
  alignas(struct inotify_event) char buf[4096];
  for (;;) {
    ssize_t n = read(watch, buf, sizeof buf);
    if (n <= 0) return;
    for (char *p = buf; p < buf + n;) {
      struct inotify_event *e = (struct inotify_event *)p;
      if (e->mask & IN_OPEN) open_count++;
      if ((e->mask & IN_CLOSE) && open_count > 0 && --open_count == 0) closings++;
      p += sizeof(struct inotify_event) + e->len;
    }
  }
}

int link_client_present() {
  if (master < 0) return 0;
  read_events();
  if (poll_master(0, 0) & POLLHUP) {
    open_count = 0;
    return 0;
  }
  if (open_count == 0) open_count = 1;
  return 1;
}

// The client that the current session serves has gone.
static int session_over() {
  if (master < 0 || hung_up) return 1;
  read_events();
  return closings != session_mark || (poll_master(0, 0) & POLLHUP);
}

int link_hung_up() { return hung_up; }

int link_wait_open() {
  while (!flag_quit) {
    if (!hung_up && link_client_present()) {
      session_mark = closings;
      // Whatever an earlier client left behind is not for this one.
      uint8_t junk[512];
      while (read(master, junk, sizeof junk) > 0) {
      }
      return 1;
    }
    if (watch >= 0 && !hung_up) {
      struct pollfd p = {watch, POLLIN, 0};
      poll(&p, 1, 100);
    } else {
      sleep_us(POLL_MS * 1000);
    }
  }
  return 0;
}

int link_read(void *buf, size_t n) {
  uint8_t *p = (uint8_t *)buf;
  size_t got = 0;
  while (got < n) {
    if (flag_quit || hung_up) return 0;
    // Bytes the client wrote before it closed are still taken.
    short r = wait_master(POLLIN);
    if (r & POLLIN) {
      ssize_t k = read(master, p + got, n - got);
      if (k > 0) {
        got += (size_t)k;
        continue;
      }
      if (k < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return 0;
    }
    if (session_over()) return 0;
  }
  return 1;
}

static long long now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// Puts bytes on the line as the client takes them; with --trickle one at a
// time, each at least that long after the one before.
static int put_bytes(const uint8_t *p, size_t n) {
  static long long last_byte_at = 0;
  size_t done = 0;
  while (done < n) {
    if (flag_quit || session_over()) return 0;
    size_t chunk = n - done;
    if (opt.trickle_us > 0) {
      long long wait = last_byte_at + opt.trickle_us - now_us();
      if (wait > 0) {
        sleep_us((long)wait);
        continue;  // the client may have left meanwhile
      }
      chunk = 1;
    }
    short r = wait_master(POLLOUT);
    if (!(r & POLLOUT)) continue;
    ssize_t k = write(master, p + done, chunk);
    if (k > 0) {
      done += (size_t)k;
      last_byte_at = now_us();
    } else if (k < 0 && errno != EAGAIN && errno != EINTR) {
      return 0;
    }
  }
  return 1;
}

// Sends bytes to the client, honouring --silent-after, --hangup-after and
// --trickle.
int link_write(const void *buf, size_t n) {
  const uint8_t *p = (const uint8_t *)buf;
  if (hung_up) return 0;
  if (opt.hangup_after >= 0 && sent + (long long)n >= opt.hangup_after) {
    size_t allowed = (size_t)(opt.hangup_after - sent);
    // Write what is allowed, then drop the line.
    if (!put_bytes(p, allowed)) return 0;
    sent += (long long)allowed;
    tcdrain(master);
    sleep_us(20000);
    // The link goes first: once the pty is closed its number can go to
    // another program, and a client following the link must not reach it.
    if (!opt.link.empty()) unlink(opt.link.c_str());
    close(master);
    master = -1;
    hung_up = 1;
    fprintf(stderr, "dravlen-sim: hung up after %lld bytes\n", sent);
    return 0;
  }
  if (opt.silent_after >= 0 && sent + (long long)n > opt.silent_after) {
    size_t allowed = sent >= opt.silent_after ? 0 : (size_t)(opt.silent_after - sent);
    sent += (long long)n;
    n = allowed;
  } else {
    sent += (long long)n;
  }
  return put_bytes(p, n);
}

int link_write_str(const std::string &s) { return link_write(s.data(), s.size()); }

// A pty slave outlives its client, unlike a real port: bytes the client
// left unread would wait for the next one, and an exclusive mode it set
// would lock out the next non-root opener.  A brief open of our own clears
// both.  Our own open and close events are consumed here, before the next
// session takes its mark.
void link_end_session() {
  static int warned = 0;
  if (master < 0 || hung_up) return;
  int fd = open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (!warned++)
      fprintf(stderr, "dravlen-sim: cannot reset the port after a client (%s); run as root when the client "
              "sets exclusive mode\n", strerror(errno));
    return;
  }
  ioctl(fd, TIOCNXCL);
  tcflush(fd, TCIFLUSH);
  close(fd);
  read_events();
}

// A command line ends with CR; a stray LF is ignored.  A line longer than
// the monitor's buffer is read to its end and flagged in *too_long.
int link_read_line(std::string *line, int *too_long) {
  line->clear();
  *too_long = 0;
  for (;;) {
    uint8_t c;
    if (!link_read(&c, 1)) return 0;
    if (c == '\r') return 1;
    if (c == '\n') continue;
    if (line->size() >= LINE_BUFFER_CHARS) *too_long = 1;
    // Kept for the echo and the log, within reason.
    if (line->size() < 65536) *line += (char)c;
  }
}

void link_close() {
  if (master >= 0) close(master);
  master = -1;
}
