// Single-sector reads driven directly on a worker thread against the
// simulator: what each attempt does to the image, the error count and the
// logs, and how a lost device ends a track re-read.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "image/d64.h"
#include "gui/jobs/sector_reads_job.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

const char *failure_text;
int failures;

gboolean idle_test_fail(gpointer text)
{
    failure_text = static_cast<const char *>(text);
    failures++;
    return FALSE;
}

std::string count_label()
{
    return gtk_label_get_text(GTK_LABEL(lookup_widget(window_main, "label_sector_errors_count")));
}

class ImagingSectorReads : public ImagingTest {
protected:
    void SetUp() override
    {
        ImagingTest::SetUp();
        std::string d64;
        ASSERT_TRUE(img_build_disk(dir, "READS", 35, &d64));
        ASSERT_TRUE(img_load(d64, &disk));
        served = d64;
        d64_init_disk_image_contents(d64_storage);
        d64_init_error_info_contents(d64_storage, D64_ERR_NO_SYNC);
        sector_reads_forget_reads();  // as every disk read starts
        controls_set_accessible_sector_error_count(5);
        ped.device = 8;
        failures = 0;
        failure_text = nullptr;
        flag_abort_requested = 0;
        shell_log_clear();
    }
    void start_sim(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--drive", "8=" + served});
        ImagingTest::start_sim(args);
    }
    // Runs body on a worker after opening the port, synchronising and
    // loading the sector reader, then lets the GUI thread drain its queue.
    int run(const std::function<int(int)> &body)
    {
        std::atomic<int> result{-1};
        std::string port = sim.port;
        std::thread worker([&] {
            int handle = -1;
            int r = 0;
            if (serial_connect_and_configure_port(&handle, port.c_str())) {
                if (console_synch_with_device(handle, &flag_abort_requested) &&
                    console_execute_command(handle, "w1 8", &flag_abort_requested) &&
                    console_synch_with_device(handle, &flag_abort_requested))
                    r = body(handle) ? 1 : 0;
                else
                    r = -2;
                serial_disconnect_port(handle);
            } else {
                r = -3;
            }
            result = r;
        });
        shell_pump_until([&] { return result.load() != -1; }, 20000);
        worker.join();
        shell_pump(100);
        return result.load();
    }
    std::vector<std::string> reads() { return dumps_commands(dir + "/commands.log", "w2"); }
    std::string block(int t, int s)
    {
        return std::string((const char *)d64_storage + d64_sector_offset(t, s), 256);
    }
    int error(int t, int s) { return d64_get_block_error_info(d64_storage, t, s); }

    std::string served;
    img_disk disk;
};

TEST_F(ImagingSectorReads, FailedTransmissionsAreSkippedAndLeaveTheCountAlone)
{
    start_sim({"--corrupt-checksum", "4/2"});
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_sector_with_retries(h, 4, 2, 3, 0, idle_test_fail);
              }),
              1);
    EXPECT_EQ(reads().size(), 3u);
    EXPECT_EQ(dumps_count(shell_log_text(), "Transmission validation failed, skipping packet\n"), 3);
    EXPECT_EQ(error(4, 2), D64_ERR_NO_SYNC);
    EXPECT_EQ(count_label(), "5");
    EXPECT_EQ(failures, 0);
}

TEST_F(ImagingSectorReads, FirstReadKeepsItsBestAttemptAndCountsOneError)
{
    // Checksum failure first: the later no-sync and GCR attempts must not
    // undo it.
    start_sim({"--sequence", "4/2=5,3,9"});
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_sector_with_retries(h, 4, 2, 3, 0, idle_test_fail);
              }),
              1);
    EXPECT_EQ(error(4, 2), D64_ERR_CHECKSUM);
    EXPECT_EQ(block(4, 2), std::string(disk.block(4, 2), 256));
    EXPECT_EQ(count_label(), "6");
    EXPECT_EQ(reads().size(), 3u);
}

TEST_F(ImagingSectorReads, FirstGoodReadStopsWithoutCounting)
{
    start_sim({"--sequence", "4/2=9,1"});
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_dir_track_sector_with_retries(h, 2, 5, 0, idle_test_fail) &&
                         wrapper_read_sector_with_retries(h, 4, 2, 5, 0, idle_test_fail);
              }),
              1);
    EXPECT_EQ(error(18, 2), D64_ERR_OK);
    EXPECT_EQ(error(4, 2), D64_ERR_OK);
    EXPECT_EQ(block(4, 2), std::string(disk.block(4, 2), 256));
    EXPECT_EQ(reads(), (std::vector<std::string>{"w2 8 18 2", "w2 8 4 2", "w2 8 4 2"}));
    EXPECT_EQ(count_label(), "5");
}

TEST_F(ImagingSectorReads, RereadThatSucceedsLowersTheCount)
{
    d64_set_block_error_info(d64_storage, 4, 2, D64_ERR_CHECKSUM);
    start_sim({"--sequence", "4/2=9,1"});
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_sector_with_retries(h, 4, 2, 5, 1, idle_test_fail);
              }),
              1);
    EXPECT_EQ(error(4, 2), D64_ERR_OK);
    EXPECT_EQ(reads().size(), 2u);
    EXPECT_EQ(count_label(), "4");
}

TEST_F(ImagingSectorReads, RereadNeverDegradesACleanSector)
{
    memset(d64_storage + d64_sector_offset(4, 2), 0xAA, 256);
    d64_set_block_error_info(d64_storage, 4, 2, D64_ERR_OK);
    start_sim({"--sequence", "4/2=9,5,3"});
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_sector_with_retries(h, 4, 2, 3, 1, idle_test_fail);
              }),
              1);
    EXPECT_EQ(error(4, 2), D64_ERR_OK);
    EXPECT_EQ(block(4, 2), std::string(256, '\xAA'));
    EXPECT_EQ(count_label(), "5");
}

TEST_F(ImagingSectorReads, TrackRereadAsksOnlyForFaultySectors)
{
    d64_set_track_error_info(d64_storage, 4, D64_ERR_OK);
    d64_set_block_error_info(d64_storage, 4, 5, D64_ERR_INACCESSIBLE);
    start_sim({});
    EXPECT_EQ(run([](int h) { return wrapper_reread_all_sectors_in_track(h, 4, 3, idle_test_fail); }),
              1);
    EXPECT_TRUE(reads().empty());

    d64_set_block_error_info(d64_storage, 4, 7, D64_ERR_GCR);
    d64_set_block_error_info(d64_storage, 4, 1, D64_ERR_NO_SYNC);
    EXPECT_EQ(run([](int h) { return wrapper_reread_all_sectors_in_track_once(h, 4, idle_test_fail); }),
              1);
    EXPECT_EQ(reads(), (std::vector<std::string>{"w2 8 4 1", "w2 8 4 7"}));
    EXPECT_EQ(error(4, 7), D64_ERR_OK);
    EXPECT_EQ(count_label(), "3");
}

TEST_F(ImagingSectorReads, LostDeviceEndsTheTrackWithACommunicationError)
{
    // Prompt, "w1 8" echo and prompt, "w2 8 4 0" echo, then part of a packet.
    start_sim({"--hangup-after", std::to_string(4 + 6 + 4 + 10 + 100)});
    EXPECT_EQ(run([](int h) { return wrapper_reread_all_sectors_in_track(h, 4, 2, idle_test_fail); }),
              0);
    EXPECT_EQ(failures, 1);
    EXPECT_STREQ(failure_text, "Communication error");
    EXPECT_EQ(reads(), std::vector<std::string>{"w2 8 4 0"});
}

TEST_F(ImagingSectorReads, AbortShowsAsAFailureOfTheRead)
{
    start_sim({"--silent-after", std::to_string(4 + 6 + 4)});
    std::thread aborter([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        flag_abort_requested = 1;
    });
    gint64 t0 = g_get_monotonic_time();
    EXPECT_EQ(run([](int h) {
                  return wrapper_read_sector_with_retries(h, 4, 0, 2, 1, idle_test_fail);
              }),
              0);
    aborter.join();
    EXPECT_LT(g_get_monotonic_time() - t0, 1500000);
    EXPECT_EQ(failures, 1);
    EXPECT_STREQ(failure_text, "Unable to read sector from device");
}

}  // namespace
