// Single-sector reads through the engine against the simulator: what each
// attempt does to the image, the error count and the log, and how a lost
// device or an abort ends them.
#include <gtest/gtest.h>

#include <glib.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "device/console.h"
#include "device/serial.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

namespace {

// What the reads told their user: the log, and the error count as the
// window keeps it (steps from a start of 5).
struct heard {
    std::vector<std::string> log;
    int count = 5;
    int lines(const std::string &line) const
    {
        int n = 0;
        for (const std::string &l : log)
            n += l == line;
        return n;
    }
};

class EngineSectorReads : public ::testing::Test {
protected:
    std::string dir, served;
    sim_process sim = {};
    heard h;

    void SetUp() override
    {
        engine_clear_abort();
        d64_module_init();
        dir = scratch_dir_new();
        served = dir + "/reads.d64";
        ASSERT_TRUE(cc1541_build_d64(served, "READS", "AB",
                                     {{"ALPHA", "PRG", false, false, 9000},
                                      {"BETA", "PRG", false, false, 30000}}));
        disk = scratch_read(served);
        d64_init_disk_image_contents(d64_storage);
        d64_init_error_info_contents(d64_storage, D64_ERR_NO_SYNC);
        engine_sector_reads_forget();  // as every disk read starts
    }
    void TearDown() override
    {
        sim_stop(&sim);
        scratch_dir_remove(dir);
        engine_clear_abort();
    }
    void start_sim(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--drive", "8=" + served, "--log", dir + "/commands.log"});
        ASSERT_TRUE(sim_start(&sim, args));
    }
    // Opens the port, loads the sector reader and runs body: 1 or 0 as body
    // returns, -2 when the reader did not start; *failure: the reader's failure.
    int run(const std::function<int(engine_sector_reader *)> &body, engine_error *failure = nullptr)
    {
        engine_ui ui = {};
        ui.user = &h;
        ui.log_line = [](void *u, const char *line, int) {
            static_cast<heard *>(u)->log.push_back(line);
        };
        ui.error_count_step = [](void *u, int delta) { static_cast<heard *>(u)->count += delta; };
        int handle = -1;
        if (!serial_connect_and_configure_port(&handle, sim.port.c_str()))
            return -3;
        int r = -2;
        if (console_synch_with_device(handle, engine_abort_flag()) &&
            console_execute_command(handle, "w1 8", engine_abort_flag()) &&
            console_synch_with_device(handle, engine_abort_flag())) {
            engine_sector_reader reader = {&ui, handle, 8, ENGINE_ERROR_NONE};
            r = body(&reader) ? 1 : 0;
            if (failure)
                *failure = reader.failure;
        }
        serial_disconnect_port(handle);
        return r;
    }
    std::vector<std::string> reads() { return sim_logged_commands(dir + "/commands.log", "w2"); }
    std::string block(int t, int s)
    {
        return std::string((const char *)d64_storage + d64_sector_offset(t, s), 256);
    }
    std::string served_block(int t, int s) { return disk.substr(d64_sector_offset(t, s), 256); }
    int error(int t, int s) { return d64_get_block_error_info(d64_storage, t, s); }

    std::string disk;
};

TEST_F(EngineSectorReads, FailedTransmissionsAreSkippedAndLeaveTheCountAlone)
{
    start_sim({"--corrupt-checksum", "4/2"});
    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 4, 2, 3, 0);
              }),
              1);
    EXPECT_EQ(reads().size(), 3u);
    EXPECT_EQ(h.lines("Transmission validation failed, skipping packet\n"), 3);
    EXPECT_EQ(error(4, 2), D64_ERR_NO_SYNC);
    EXPECT_EQ(h.count, 5);
}

TEST_F(EngineSectorReads, FirstReadKeepsItsBestAttemptAndAGoodOneStopsWithoutCounting)
{
    // Checksum failure first: the later no-sync and GCR attempts must not
    // undo it.
    start_sim({"--sequence", "4/2=5,3,9", "--sequence", "5/2=9,1"});
    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 4, 2, 3, 0);
              }),
              1);
    EXPECT_EQ(error(4, 2), D64_ERR_CHECKSUM);
    EXPECT_EQ(block(4, 2), served_block(4, 2));
    EXPECT_EQ(h.count, 6);
    EXPECT_EQ(reads().size(), 3u);

    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 18, 2, 5, 0) &&
                         engine_read_sector_with_retries(r, 5, 2, 5, 0);
              }),
              1);
    EXPECT_EQ(error(18, 2), D64_ERR_OK);
    EXPECT_EQ(error(5, 2), D64_ERR_OK);
    EXPECT_EQ(block(5, 2), served_block(5, 2));
    EXPECT_EQ(reads(), (std::vector<std::string>{"w2 8 4 2", "w2 8 4 2", "w2 8 4 2", "w2 8 18 2",
                                                 "w2 8 5 2", "w2 8 5 2"}));
    EXPECT_EQ(h.count, 6);
}

TEST_F(EngineSectorReads, RereadLowersTheCountAndNeverDegradesACleanSector)
{
    d64_set_block_error_info(d64_storage, 4, 2, D64_ERR_CHECKSUM);
    memset(d64_storage + d64_sector_offset(5, 2), 0xAA, 256);
    d64_set_block_error_info(d64_storage, 5, 2, D64_ERR_OK);
    start_sim({"--sequence", "4/2=9,1", "--sequence", "5/2=9,5,3"});
    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 4, 2, 5, 1);
              }),
              1);
    EXPECT_EQ(error(4, 2), D64_ERR_OK);
    EXPECT_EQ(reads().size(), 2u);
    EXPECT_EQ(h.count, 4);

    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 5, 2, 3, 1);
              }),
              1);
    EXPECT_EQ(error(5, 2), D64_ERR_OK);
    EXPECT_EQ(block(5, 2), std::string(256, '\xAA'));
    EXPECT_EQ(h.count, 4);
}

TEST_F(EngineSectorReads, TrackRereadAsksOnlyForFaultySectors)
{
    d64_set_track_error_info(d64_storage, 4, D64_ERR_OK);
    d64_set_block_error_info(d64_storage, 4, 5, D64_ERR_INACCESSIBLE);
    start_sim({});
    EXPECT_EQ(run([](engine_sector_reader *r) { return engine_reread_track(r, 4, 3); }), 1);
    EXPECT_TRUE(reads().empty());

    d64_set_block_error_info(d64_storage, 4, 7, D64_ERR_GCR);
    d64_set_block_error_info(d64_storage, 4, 1, D64_ERR_NO_SYNC);
    // One attempt per sector: one pass of the once-per-pass mode.
    EXPECT_EQ(run([](engine_sector_reader *r) { return engine_reread_track(r, 4, 1); }), 1);
    EXPECT_EQ(reads(), (std::vector<std::string>{"w2 8 4 1", "w2 8 4 7"}));
    EXPECT_EQ(error(4, 7), D64_ERR_OK);
    EXPECT_EQ(h.count, 3);
}

TEST_F(EngineSectorReads, LostDeviceOrAbortEndsTheReadsWithTheirText)
{
    // Prompt, "w1 8" echo and prompt, "w2 8 4 0" echo, then part of a packet.
    start_sim({"--hangup-after", std::to_string(4 + 6 + 4 + 10 + 100)});
    engine_error failure = ENGINE_ERROR_NONE;
    EXPECT_EQ(run([](engine_sector_reader *r) { return engine_reread_track(r, 4, 2); }, &failure),
              0);
    EXPECT_STREQ(engine_error_text(failure), "Communication error");
    EXPECT_EQ(reads(), std::vector<std::string>{"w2 8 4 0"});
    sim_stop(&sim);

    start_sim({"--silent-after", std::to_string(4 + 6 + 4)});
    std::thread aborter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine_request_abort();
    });
    gint64 t0 = g_get_monotonic_time();
    failure = ENGINE_ERROR_NONE;
    EXPECT_EQ(run([](engine_sector_reader *r) {
                  return engine_read_sector_with_retries(r, 4, 0, 2, 1);
              },
                  &failure),
              0);
    aborter.join();
    EXPECT_LT(g_get_monotonic_time() - t0, 1500000);
    EXPECT_STREQ(engine_error_text(failure), "Unable to read sector from device");
}

}  // namespace
