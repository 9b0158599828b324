// The engine's contract with its user, seen through a recording engine_ui:
// one outcome, last; the log framed like the GUI's; abort first.
#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "tests/support/engine_recorder.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"

namespace {

class Engine : public SimFixture {
protected:
    void SetUp() override
    {
        engine_clear_abort();
        SimFixture::SetUp();
        start_sim({"--version", "2.3.1", "--blank", "9"});
    }
    void TearDown() override
    {
        SimFixture::TearDown();
        engine_clear_abort();
    }
};

TEST_F(Engine, OperationsReportOnceAndFrameTheirLog)
{
    engine_recorder r;
    engine_ui ui = engine_recorder_ui(&r);
    engine_board_info info;
    EXPECT_EQ(engine_read_board_info(&ui, sim.port.c_str(), &info), 1);
    EXPECT_EQ(r.finished, 1);
    EXPECT_FALSE(r.event_after_finish);
    EXPECT_EQ(r.outcome.kind, ENGINE_SUCCEEDED);
    EXPECT_EQ(r.outcome.failure, nullptr);
    EXPECT_STREQ(info.version, "2.3.1");
    EXPECT_STREQ(info.verdict, "should upgrade");
    EXPECT_EQ(std::vector<int>(info.present, info.present + 4), (std::vector<int>{0, 1, 0, 0}));
    ASSERT_GE(r.log.size(), 3u);
    EXPECT_EQ(r.log[0], std::string(32, '=') + "\n");
    EXPECT_EQ(r.log[1], "Reading firmware version\n");
    EXPECT_EQ(r.log.back(), "Completed\n");

    engine_recorder failed;
    ui = engine_recorder_ui(&failed);
    char status[ENGINE_STATUS_SIZE];
    EXPECT_EQ(engine_read_drive_status(&ui, sim.port.c_str(), 8, status), 0);
    EXPECT_EQ(failed.finished, 1);
    EXPECT_EQ(failed.outcome.kind, ENGINE_FAILED);
    EXPECT_STREQ(failed.outcome.failure, "Device not present");
    EXPECT_EQ(failed.log.back(), "Failed\n");
    EXPECT_STREQ(status, "");
}

TEST_F(Engine, AnOverlongVersionLineIsCutAndTheDrivesAreStillAsked)
{
    sim_stop(&sim);
    std::string long_version = "2.4.0-" + std::string(40, 'x');
    ASSERT_TRUE(sim_start(&sim, {"--version", long_version, "--blank", "11"}));
    engine_board_info info;
    EXPECT_EQ(engine_read_board_info(nullptr, sim.port.c_str(), &info), 1);
    EXPECT_EQ(std::string(info.version), long_version.substr(0, 31));
    EXPECT_STREQ(info.verdict, "current");
    EXPECT_EQ(std::vector<int>(info.present, info.present + 4), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_STREQ(info.status[3], "73,CBM DOS V2.6 1541,00,00");
}

TEST_F(Engine, AnAbortBeforeTheStartIsKeptAndReportedAsSuch)
{
    engine_request_abort();
    engine_recorder r;
    engine_ui ui = engine_recorder_ui(&r);
    EXPECT_EQ(engine_reset_drive(&ui, sim.port.c_str(), 9), 0);
    EXPECT_EQ(r.finished, 1);
    EXPECT_EQ(r.outcome.kind, ENGINE_ABORTED);
    EXPECT_EQ(r.log.back(), "Aborted\n");
    EXPECT_TRUE(engine_abort_requested()) << "the operation does not clear it";
}

TEST_F(Engine, AbortFromAnotherThreadEndsAWaitOnASilentBoard)
{
    sim_stop(&sim);
    ASSERT_TRUE(sim_start(&sim, {"--blank", "8", "--silent-after", "0"}));
    engine_recorder r;
    engine_ui ui = engine_recorder_ui(&r);
    std::chrono::steady_clock::time_point aborted_at;
    std::thread aborter([&] {
        g_usleep(200 * 1000);
        aborted_at = std::chrono::steady_clock::now();
        engine_request_abort();
    });
    char status[ENGINE_STATUS_SIZE];
    engine_read_drive_status(&ui, sim.port.c_str(), 8, status);
    auto ended = std::chrono::steady_clock::now();
    aborter.join();
    EXPECT_LT(std::chrono::duration<double>(ended - aborted_at).count(), 0.2);
    EXPECT_EQ(r.outcome.kind, ENGINE_ABORTED);
    EXPECT_EQ(r.finished, 1);
}

TEST_F(Engine, NullCallbacksAreAllowed)
{
    engine_ui ui = {};
    char status[ENGINE_STATUS_SIZE];
    EXPECT_EQ(engine_drive_command(&ui, sim.port.c_str(), 9, "I0", status), 1);
    EXPECT_STREQ(status, "00, OK,00,00");
    EXPECT_EQ(engine_reset_bus(nullptr, sim.port.c_str(), 9), 1);
}

TEST(EngineDriveCommand, TextsThatCannotBeOneCommandAreNamed)
{
    EXPECT_EQ(engine_drive_command_problem("S:NAME"), nullptr);
    // "dc \"TEXT\" 11" with CR LF fills the monitor's 256-byte line at most.
    EXPECT_EQ(engine_drive_command_problem(std::string(246, 'A').c_str()), nullptr);
    EXPECT_NE(engine_drive_command_problem(std::string(247, 'A').c_str()), nullptr);
    for (const char *bad : {"", "S:A\"B", "\"", "I0\r", "I0\nV0"})
        EXPECT_NE(engine_drive_command_problem(bad), nullptr) << bad;
    EXPECT_NE(engine_drive_command_problem(nullptr), nullptr);
}

}  // namespace
