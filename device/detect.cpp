#include "device/detect.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <glob.h>
#include <sys/file.h>
#include <unistd.h>

#include "device/console.h"
#include "device/serial.h"

namespace {

const char *const DEFAULT_GLOBS[] = {"/dev/serial/by-id/*", "/dev/ttyACM*"};

// What a firmware that does not know "v" is taken for (it answers with
// its prompt at once).
const char OLD_FIRMWARE_VERSION[] = "1.13.0.35";

std::mutex globs_lock;
std::vector<std::string> probe_globs(std::begin(DEFAULT_GLOBS), std::end(DEFAULT_GLOBS));

std::vector<std::string> current_globs()
{
    std::lock_guard<std::mutex> g(globs_lock);
    return probe_globs;
}

std::string resolved(const std::string &path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : path;
}

// The version line after the echo of "v"; 0 on a failing read.
int read_version(int handle, std::atomic<int> *abort, std::string *version)
{
    char c;
    if (!console_read(handle, &c, 1, abort))
        return 0;
    if (c == '>') {
        *version = OLD_FIRMWARE_VERSION;
        return 1;
    }
    version->assign(1, c);
    while (version->size() < 31) {
        if (!console_read(handle, &c, 1, abort))
            return 0;
        if (c == '\r' || c == '\n')
            break;
        *version += c;
    }
    return 1;
}

}  // namespace

void detect_set_probe_globs(const std::vector<std::string> &globs)
{
    std::lock_guard<std::mutex> g(globs_lock);
    if (globs.empty())
        probe_globs.assign(std::begin(DEFAULT_GLOBS), std::end(DEFAULT_GLOBS));
    else
        probe_globs = globs;
}

std::vector<std::string> detect_list_ports()
{
    std::vector<std::string> ports, seen;
    for (const std::string &pattern : current_globs()) {
        glob_t g;
        if (glob(pattern.c_str(), 0, nullptr, &g) != 0)
            continue;
        for (size_t i = 0; i < g.gl_pathc; i++) {
            std::string path = g.gl_pathv[i];
            std::string target = resolved(path);
            bool dup = false;
            for (const std::string &s : seen)
                dup = dup || s == target;
            if (dup || access(path.c_str(), F_OK) != 0)  // dangling links too
                continue;
            seen.push_back(target);
            ports.push_back(path);
        }
        globfree(&g);
    }
    return ports;
}

std::vector<std::string> detect_new_ports(const std::vector<std::string> &before,
                                          const std::vector<std::string> &now)
{
    std::vector<std::string> fresh;
    for (const std::string &p : now) {
        bool old = false;
        for (const std::string &b : before)
            old = old || b == p;
        if (!old)
            fresh.push_back(p);
    }
    return fresh;
}

int detect_port_is_busy(const char *path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;  // held with TIOCEXCL
    int busy = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return busy;
}

int detect_probe_port(const char *path, int timeout_ms, std::atomic<int> *abort,
                      detect_port *result)
{
    result->path = path;
    result->version.clear();
    result->state = DETECT_SILENT;
    if (detect_port_is_busy(path)) {
        result->state = DETECT_BUSY;
        return 0;
    }
    int handle = -1;
    if (!serial_connect_and_configure_port(&handle, path))
        return 0;

    // Something that is not the board may never answer: a watchdog ends
    // the wait through the abort flag the console functions test.
    std::atomic<int> give_up(0), done(0);
    std::thread watchdog([&] {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (!done.load() && std::chrono::steady_clock::now() < end &&
               !(abort && abort->load()))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        give_up.store(1);
    });
    std::string version;
    int ok = console_synch_with_device(handle, &give_up) &&
             console_execute_command(handle, "v", &give_up) &&
             read_version(handle, &give_up, &version);
    done.store(1);
    watchdog.join();
    serial_disconnect_port(handle);
    if (!ok)
        return 0;
    result->state = DETECT_ANSWERED;
    result->version = version;
    return 1;
}

std::vector<detect_port> detect_scan(int timeout_ms, std::atomic<int> *abort)
{
    return detect_scan_also({}, timeout_ms, abort);
}

std::vector<detect_port> detect_scan_also(const std::vector<std::string> &also, int timeout_ms,
                                          std::atomic<int> *abort)
{
    std::vector<std::string> ports = detect_list_ports();
    std::vector<std::string> seen;
    for (const std::string &p : ports)
        seen.push_back(resolved(p));
    for (std::string path : also) {
        if (path.empty())
            continue;
        if (path.find('/') == std::string::npos && access(path.c_str(), F_OK) != 0)
            path = "/dev/" + path;
        std::string target = resolved(path);
        if (access(path.c_str(), F_OK) != 0 ||
            std::find(seen.begin(), seen.end(), target) != seen.end())
            continue;
        ports.push_back(path);
        seen.push_back(target);
    }
    std::vector<detect_port> found;
    for (const std::string &path : ports) {
        if (abort && abort->load())
            break;
        detect_port p;
        detect_probe_port(path.c_str(), timeout_ms, abort, &p);
        found.push_back(p);
    }
    return found;
}

std::string detect_first_answered(const std::vector<detect_port> &found)
{
    for (const detect_port &p : found)
        if (p.state == DETECT_ANSWERED)
            return p.path;
    return "";
}

std::string detect_describe(const std::vector<detect_port> &found)
{
    std::string text;
    for (const detect_port &p : found)
        if (p.state == DETECT_ANSWERED)
            text += p.path + " (v" + p.version + ")\n";
    return text;
}
