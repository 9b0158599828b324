// Starts and stops the device simulator (dravlen-sim) for tests.
#ifndef DRAVLEN_TESTS_SIM_PROCESS_H
#define DRAVLEN_TESTS_SIM_PROCESS_H

#include <glib.h>

#include <string>
#include <vector>

struct sim_process {
  GPid pid;
  int out_fd;                   // the simulator's stdout
  std::string port;             // client side of the device pty
  std::string bootloader_port;  // with --bootloader-link
};

// Starts DRAVLEN_SIM_PATH with the given extra arguments, waits for READY
// (up to 5 s); 1 on success.
int sim_start(sim_process *sim, const std::vector<std::string> &args);
// SIGTERM, wait for exit (disks named by --save are written by then); 1 if
// it exited 0.  Nothing to do (0) for one not running: never started, or
// stopped before.
int sim_stop(sim_process *sim);
// The lines of a simulator's command log (--log) that start with `prefix`,
// without their line ends.
std::vector<std::string> sim_logged_commands(const std::string &log_path,
                                             const std::string &prefix);

#endif
