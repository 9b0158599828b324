// Finding the board among the serial ports that exist: the stable names
// under /dev/serial/by-id/ first, then /dev/ttyACM*.  Busy ports are left
// alone.  The places probed can be pointed elsewhere (tests use folders of
// links to simulators).
#pragma once

#include <atomic>
#include <string>
#include <vector>

enum detect_state { DETECT_ANSWERED, DETECT_BUSY, DETECT_SILENT };

struct detect_port {
    std::string path;     // as found: the stable name when there is one
    int state = DETECT_SILENT;
    std::string version;  // firmware version text when it answered
};

// Shell patterns probed in order; an empty list restores the defaults.
void detect_set_probe_globs(const std::vector<std::string> &globs);
// The serial ports that exist now, in probe order.  A port reached through
// an earlier name (a by-id link to a ttyACM) is listed once, by that name.
std::vector<std::string> detect_list_ports();
// Entries of `now` that are not in `before`.
std::vector<std::string> detect_new_ports(const std::vector<std::string> &before,
                                          const std::vector<std::string> &now);
// Whether another program holds the port (open exclusively or locked).
int detect_port_is_busy(const char *path);
// Opens the port, waits for the monitor's prompt and asks "v", giving up
// after timeout_ms or when *abort is set.  1 when the board answered.
int detect_probe_port(const char *path, int timeout_ms, std::atomic<int> *abort,
                      detect_port *result);
// Probes every listed port.
std::vector<detect_port> detect_scan(int timeout_ms, std::atomic<int> *abort);
// The same, then each of `also` (ports the user named, which may lie where
// no pattern looks, such as a pty) that exists and was not probed under
// another name already.  Empty entries are skipped; a bare name means
// /dev/<name>, as the serial layer takes it.
std::vector<detect_port> detect_scan_also(const std::vector<std::string> &also, int timeout_ms,
                                          std::atomic<int> *abort);
// The first port that answered, or "" when none did.
std::string detect_first_answered(const std::vector<detect_port> &found);
// "path (vVERSION)" lines of the ports that answered, one per line.
std::string detect_describe(const std::vector<detect_port> &found);
