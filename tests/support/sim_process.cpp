#include "tests/support/sim_process.h"

#include "tests/support/scratch_dir.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

int sim_start(sim_process *sim, const std::vector<std::string> &args) {
  sim->pid = 0;
  sim->out_fd = -1;
  sim->port.clear();
  sim->bootloader_port.clear();
  std::vector<gchar *> argv;
  argv.push_back(g_strdup(DRAVLEN_SIM_PATH));
  for (const std::string &a : args) argv.push_back(g_strdup(a.c_str()));
  argv.push_back(nullptr);
  GError *error = nullptr;
  gboolean ok = g_spawn_async_with_pipes(nullptr, argv.data(), nullptr, G_SPAWN_DO_NOT_REAP_CHILD,
                                         nullptr, nullptr, &sim->pid, nullptr, &sim->out_fd,
                                         nullptr, &error);
  for (gchar *a : argv) g_free(a);
  if (!ok) {
    g_printerr("cannot start %s: %s\n", DRAVLEN_SIM_PATH, error->message);
    g_error_free(error);
    return 0;
  }
  std::string pending;
  gint64 deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (g_get_monotonic_time() < deadline) {
    struct pollfd p = {sim->out_fd, POLLIN, 0};
    int left_ms = (int)((deadline - g_get_monotonic_time()) / 1000);
    if (poll(&p, 1, left_ms > 0 ? left_ms : 0) <= 0) break;
    char buf[256];
    ssize_t n = read(sim->out_fd, buf, sizeof buf);
    if (n <= 0) break;
    pending.append(buf, (size_t)n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (line.compare(0, 5, "PORT ") == 0) sim->port = line.substr(5);
      else if (line.compare(0, 11, "BOOTLOADER ") == 0) sim->bootloader_port = line.substr(11);
      else if (line == "READY") return !sim->port.empty();
    }
  }
  sim_stop(sim);
  return 0;
}

int sim_stop(sim_process *sim) {
  if (sim->pid <= 0) return 0;
  kill(sim->pid, SIGTERM);
  int status = 0;
  pid_t r = 0;
  // A simulator that does not stop within 10 s is killed and counts as failed.
  for (int i = 0; i < 1000 && r == 0; i++) {
    r = waitpid(sim->pid, &status, WNOHANG);
    if (r == 0) g_usleep(10000);
    if (r < 0 && errno == EINTR) r = 0;
  }
  if (r == 0) {
    kill(sim->pid, SIGKILL);
    waitpid(sim->pid, &status, 0);
    status = -1;
  }
  g_spawn_close_pid(sim->pid);
  sim->pid = 0;
  if (sim->out_fd >= 0) close(sim->out_fd);
  sim->out_fd = -1;
  return r > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> sim_logged_commands(const std::string &log_path, const std::string &prefix)
{
    std::vector<std::string> lines;
    std::string text = scratch_read(log_path);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}
