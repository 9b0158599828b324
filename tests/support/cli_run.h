// Runs the dravlen program as a user does, for tests: arguments, its own
// config folder, output, exit status, and Ctrl+C at a chosen moment.
#pragma once

#include <string>
#include <vector>

struct cli_run_result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    double seconds_after_sigint = -1;  // cli_run_interrupted: how long it took to end
    bool ended_before_sigint = false;
};

// Runs `program` with the arguments and XDG_CONFIG_HOME=config_home, in
// `cwd` (empty: the test's own folder); waits for it.
cli_run_result cli_run(const std::string &program, const std::vector<std::string> &args,
                       const std::string &config_home, const std::string &cwd = std::string());

// The same, but sends SIGINT after `delay_ms` and measures how long the
// program takes to end then (it is killed after 5 s).
cli_run_result cli_run_interrupted(const std::string &program,
                                   const std::vector<std::string> &args,
                                   const std::string &config_home, int delay_ms,
                                   const std::string &cwd = std::string());
