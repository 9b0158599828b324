// The set-up every test that talks to the board shares, whether it goes
// through the command line or the engine: a scratch folder, a config folder
// of the program's own, the simulator and disks made with cc1541.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/cc1541_tool.h"
#include "tests/support/sim_process.h"

class SimFixture : public ::testing::Test {
protected:
    std::string dir;          // scratch folder, removed afterwards
    std::string config_home;  // the program's XDG_CONFIG_HOME, removed afterwards
    sim_process sim = {};

    // Makes both folders.
    void SetUp() override;
    // Stops the simulator (disks named by --save are written then) and
    // removes both folders.
    void TearDown() override;
    // Starts the simulator with `args`; the test fails when it does not start.
    void start_sim(const std::vector<std::string> &args);
    // A cc1541 disk at dir/name, padded with zeros to `size` bytes when that
    // is more (a build with more tracks); the test fails when cc1541 does.
    // Returns the bytes written.
    std::string make_disk(const std::string &name, const std::string &diskname,
                          const std::string &id, const std::vector<cc1541_file> &files,
                          size_t size = 0);
};
