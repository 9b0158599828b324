#include "device/serial.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long a wait for the first byte sleeps between abort checks.
const int abort_poll_ms = 50;
// A read ends once the line has been quiet this long after a byte.
const int inter_byte_ms = 5;

// Ten seconds covers a real drive's head steps and retries on a bad track.
std::atomic<int> default_limit_ms{10000};
// Per open descriptor; descriptors beyond the table get the default.
const int max_tracked_fd = 1024;
std::atomic<int> limit_ms[max_tracked_fd];
std::atomic<bool> fell_silent[max_tracked_fd];

int limit_of(int fd)
{
    return fd >= 0 && fd < max_tracked_fd ? limit_ms[fd].load() : default_limit_ms.load();
}

void set_silent(int fd, bool silent)
{
    if (fd >= 0 && fd < max_tracked_fd)
        fell_silent[fd] = silent;
}

bool aborted(std::atomic<int> *abort)
{
    return abort && abort->load(std::memory_order_relaxed) != 0;
}

int64_t now_ms()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

int open_exclusive(const char *path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    // TIOCEXCL keeps other non-root processes out; the lock also keeps out
    // a second client running as root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !isatty(fd)) {
        close(fd);
        return -1;
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int configure(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return 0;
    // Binary 8N1: no translation, no echo, no signals, no flow control.
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF
                     | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B921600) != 0 || cfsetospeed(&tio, B921600) != 0)
        return 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return 0;
    // The board wants DTR and RTS; a pseudo-terminal has no modem lines.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
    return 1;
}

// Waits until the port can be read (or written).  With a negative
// `timeout_ms` the wait tests the abort flag between short sleeps and fails
// once the port's silence limit passes (noting that it fell silent).
// Returns 1 when ready, 0 when the wait timed out, -1 on abort, silence,
// hang-up or error.
int wait_for(int fd, short events, int timeout_ms, std::atomic<int> *abort)
{
    const int64_t limit_ms = limit_of(fd);
    const int64_t start_ms = now_ms();
    for (;;) {
        if (timeout_ms < 0 && aborted(abort))
            return -1;
        if (timeout_ms < 0 && now_ms() - start_ms >= limit_ms) {
            set_silent(fd, true);
            return -1;
        }
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, timeout_ms < 0 ? abort_poll_ms : timeout_ms);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0) {
            if (timeout_ms < 0)
                continue;
            return 0;
        }
        if (p.revents & POLLNVAL)
            return -1;
        // Data still queued is delivered first; a hang-up without data, or
        // an error, ends the wait for good.
        if (p.revents & events)
            return 1;
        if (p.revents & (POLLHUP | POLLERR))
            return -1;
    }
}

} // namespace

int serial_connect_and_configure_port(int *handle, const char *port_name)
{
    *handle = -1;
    if (!port_name || !*port_name)
        return 0;
    int fd = open_exclusive(port_name);
    if (fd < 0 && !strchr(port_name, '/')) {
        std::string dev = std::string("/dev/") + port_name;
        fd = open_exclusive(dev.c_str());
    }
    if (fd < 0)
        return 0;
    if (!configure(fd)) {
        serial_disconnect_port(fd);
        return 0;
    }
    if (fd < max_tracked_fd) {
        limit_ms[fd] = default_limit_ms.load();
        fell_silent[fd] = false;
    }
    *handle = fd;
    return 1;
}

void serial_set_default_silence_limit(int ms)
{
    default_limit_ms = ms > 0 ? ms : 1;
}

int serial_default_silence_limit(void)
{
    return default_limit_ms;
}

void serial_set_silence_limit(int handle, int ms)
{
    if (handle >= 0 && handle < max_tracked_fd)
        limit_ms[handle] = ms > 0 ? ms : 1;
}

int serial_silence_limit(int handle)
{
    return limit_of(handle);
}

int serial_fell_silent(int handle)
{
    return handle >= 0 && handle < max_tracked_fd && fell_silent[handle].load() ? 1 : 0;
}

int serial_disconnect_port(int handle)
{
    if (handle < 0)
        return 0;
    // Exclusive mode belongs to the tty, not to this descriptor; drop it so
    // the next open (also by a non-root user) is not refused.
    (void)ioctl(handle, TIOCNXCL);
    return close(handle) == 0;
}

int serial_read_chunk(int handle, void *buffer, size_t count, size_t *received,
                      std::atomic<int> *abort)
{
    unsigned char *out = static_cast<unsigned char *>(buffer);
    size_t got = 0;
    *received = 0;
    if (count == 0)
        return 1;
    while (got < count) {
        // Also between bytes: a device that trickles its bytes never leaves
        // the quiet gap that would end the read.
        if (aborted(abort))
            return 0;
        int ready = wait_for(handle, POLLIN, got == 0 ? -1 : inter_byte_ms, abort);
        if (ready < 0)
            return 0;
        if (ready == 0)
            break; // quiet for 5 ms after data: the read is complete
        ssize_t n = read(handle, out + got, count - got);
        if (n > 0) {
            set_silent(handle, false);
            got += static_cast<size_t>(n);
            *received = got;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        // End of file on a tty means the port was hung up; EIO means the
        // device went away.
        return 0;
    }
    return 1;
}

int serial_write_chunk(int handle, const void *buffer, size_t count, size_t *written,
                       std::atomic<int> *abort)
{
    *written = 0;
    if (count == 0)
        return 1;
    for (;;) {
        if (wait_for(handle, POLLOUT, -1, abort) < 0)
            return 0;
        ssize_t n = write(handle, buffer, count);
        if (n > 0) {
            *written = static_cast<size_t>(n);
            return 1;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return 0;
    }
}

int serial_bytes_waiting(int handle, int *waiting)
{
    int n = 0;
    if (ioctl(handle, FIONREAD, &n) != 0)
        return 0;
    *waiting = n;
    return 1;
}

int serial_wait_readable(int handle, int timeout_ms, std::atomic<int> *abort)
{
    // Short slices, so an abort is seen within one of them.
    for (int left = timeout_ms; left > 0; left -= 50) {
        if (abort && abort->load(std::memory_order_relaxed))
            return -1;
        int ready = wait_for(handle, POLLIN, left < 50 ? left : 50, abort);
        if (ready != 0)
            return ready;
    }
    return 0;
}
