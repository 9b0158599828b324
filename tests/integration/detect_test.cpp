// Finding the board: two simulators and a port held by another program, all
// reached through a folder of links that stands in for /dev.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "device/detect.h"
#include "device/serial.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

namespace {

class Detect : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch_dir_new();
        g_mkdir(byid().c_str(), 0700);
        // Stable names first, then the plain device names, as on a real system.
        detect_set_probe_globs({byid() + "/*", dir + "/ttyACM*"});
    }
    void TearDown() override
    {
        for (sim_process &s : sims)
            sim_stop(&s);
        if (held >= 0)
            serial_disconnect_port(held);
        detect_set_probe_globs({});
        scratch_dir_remove(dir);
    }
    std::string byid() const { return dir + "/by-id"; }
    const sim_process &start(const std::vector<std::string> &args)
    {
        sims.emplace_back();
        EXPECT_TRUE(sim_start(&sims.back(), args));
        return sims.back();
    }
    void link(const std::string &target, const std::string &name)
    {
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0) << name;
    }
    std::string dir;
    std::vector<sim_process> sims;
    int held = -1;
};

TEST_F(Detect, FindsEveryBoardOnceByItsStableNameAndSkipsABusyPort)
{
    sims.reserve(3);
    const sim_process &a = start({"--version", "2.4.0"});
    const sim_process &b = start({"--old-firmware"});
    const sim_process &busy = start({});
    link(a.port, dir + "/ttyACM0");
    link(a.port, byid() + "/usb-Dravlen_board_A-if00");
    link(b.port, dir + "/ttyACM1");
    link(busy.port, dir + "/ttyACM2");
    link(dir + "/gone", dir + "/ttyACM3");  // unplugged: a dangling name
    ASSERT_TRUE(serial_connect_and_configure_port(&held, busy.port.c_str()));

    std::vector<std::string> ports = detect_list_ports();
    ASSERT_EQ(ports.size(), 3u);
    EXPECT_EQ(ports[0], byid() + "/usb-Dravlen_board_A-if00");
    EXPECT_EQ(ports[1], dir + "/ttyACM1");
    EXPECT_EQ(ports[2], dir + "/ttyACM2");

    gint64 t0 = g_get_monotonic_time();
    std::vector<detect_port> found = detect_scan(1500, nullptr);
    EXPECT_LT((g_get_monotonic_time() - t0) / 1000, 3000);  // the busy port costs no wait
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].state, DETECT_ANSWERED);
    EXPECT_EQ(found[0].version, "2.4.0");
    EXPECT_EQ(found[1].state, DETECT_ANSWERED);
    EXPECT_EQ(found[1].version, "1.13.0.35");  // answers "v" with its prompt
    EXPECT_EQ(found[2].state, DETECT_BUSY);
    EXPECT_EQ(detect_first_answered(found), byid() + "/usb-Dravlen_board_A-if00");
    EXPECT_EQ(detect_describe(found), byid() + "/usb-Dravlen_board_A-if00 (v2.4.0)\n" + dir +
                                          "/ttyACM1 (v1.13.0.35)\n");

    // The busy one is left alone: its owner still talks to it afterwards.
    EXPECT_TRUE(detect_port_is_busy(busy.port.c_str()));
}

TEST_F(Detect, APortThatNeverAnswersCostsOnlyTheTimeout)
{
    sims.reserve(1);
    const sim_process &mute = start({"--silent-after", "0"});
    link(mute.port, dir + "/ttyACM0");
    gint64 t0 = g_get_monotonic_time();
    detect_port p;
    EXPECT_EQ(detect_probe_port((dir + "/ttyACM0").c_str(), 500, nullptr, &p), 0);
    gint64 ms = (g_get_monotonic_time() - t0) / 1000;
    EXPECT_EQ(p.state, DETECT_SILENT);
    EXPECT_GE(ms, 400);
    EXPECT_LT(ms, 1500);
    // Abort ends the wait sooner.
    std::atomic<int> abort(1);
    t0 = g_get_monotonic_time();
    EXPECT_EQ(detect_probe_port((dir + "/ttyACM0").c_str(), 5000, &abort, &p), 0);
    EXPECT_LT((g_get_monotonic_time() - t0) / 1000, 500);
    EXPECT_TRUE(detect_scan(5000, &abort).empty());
}

TEST_F(Detect, NewPortsAreThoseThatWereNotThereBefore)
{
    std::vector<std::string> before = {"/x/ttyACM0", "/x/by-id/a"};
    EXPECT_TRUE(detect_new_ports(before, before).empty());
    std::vector<std::string> now = {"/x/by-id/b", "/x/ttyACM0"};
    EXPECT_EQ(detect_new_ports(before, now), std::vector<std::string>{"/x/by-id/b"});
    EXPECT_TRUE(detect_new_ports(before, {}).empty());
}

}  // namespace
