// Whole-disk dumps from the menu against the device simulator: clean disks
// saved byte for byte, damaged disks with the right error bytes, lines and
// counts, the re-read rules, shifted disks, abort and hang-up.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "version.h"

namespace {

std::string label_text(const char *name)
{
    return gtk_label_get_text(GTK_LABEL(lookup_widget(window_main, name)));
}

class ImagingDump : public ImagingTest {
protected:
    void SetUp() override
    {
        ImagingTest::SetUp();
        out = dir + "/images";
        g_mkdir(out.c_str(), 0700);
        img_prepare_window(out, 2, 200, 1);
        shell_log_clear();
    }
    std::vector<std::string> commands(const std::string &prefix)
    {
        return sim_logged_commands(dir + "/commands.log", prefix);
    }
    // The disk in the drive, as built by cc1541.
    img_disk build(const std::string &name, std::string *g64 = nullptr)
    {
        std::string d64;
        EXPECT_TRUE(img_build_disk(dir, name, 35, &d64, g64));
        img_disk disk;
        EXPECT_TRUE(img_load(d64, &disk));
        return disk;
    }
    std::string serve(const img_disk &disk, const std::string &name)
    {
        std::string path = dir + "/" + name + "-served.d64";
        EXPECT_TRUE(img_save(path, disk));
        return path;
    }
    img_disk saved()
    {
        img_disk disk;
        EXPECT_TRUE(img_load(img_saved_image(out), &disk)) << img_saved_image(out);
        return disk;
    }
    std::string disk_log() { return scratch_read(img_saved_image(out) + ".log"); }

    std::string out;
};

std::string md5sum_of(const std::string &path)
{
    char *argv[] = {(char *)"md5sum", (char *)path.c_str(), nullptr};
    char *stdout_text = nullptr;
    int status = 0;
    if (!g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &stdout_text,
                      nullptr, &status, nullptr))
        return "";
    std::string text = stdout_text ? stdout_text : "";
    g_free(stdout_text);
    return text.substr(0, 32);
}

TEST_F(ImagingDump, CleanDiskFromItsRawGcrIsSavedByteForByte)
{
    std::string d64, g64;
#if TRACKS == 35
    ASSERT_TRUE(img_build_disk(dir, "CLEAN", 35, &d64, &g64));
    start_sim({"--drive", "8=" + g64});
#else
    // cc1541 writes no raw GCR for 40 tracks: serve the 40-track D64.
    ASSERT_TRUE(img_build_disk(dir, "CLEAN", 40, &d64));
    start_sim({"--drive", "8=" + d64});
#endif
    ASSERT_TRUE(img_run_dump());

    std::string status = shell_status_text();
    EXPECT_EQ(status.rfind(" Imaging completed in ", 0), 0u) << status;
    EXPECT_NE(status.find(" seconds [0/0]"), std::string::npos) << status;
    std::string path = img_saved_image(out);
    ASSERT_NE(path, "");
    EXPECT_NE(path.find("CLEAN"), std::string::npos) << path;
    EXPECT_TRUE(scratch_read(path) == scratch_read(d64)) << "saved image differs";

    std::string md5 = scratch_read(path + ".md5");
    EXPECT_EQ(md5, md5sum_of(path) + " *" + path.substr(path.rfind('/') + 1) + "\n");
    std::string log = disk_log();
    EXPECT_EQ(log.rfind("Log file created by Dravlen client " DRAVLEN_VERSION "\nImaging disk\n", 0), 0u) << log;
    EXPECT_EQ(dumps_count(log, "Correctly processed t/s"), geometry_blocks(TRACKS));

    EXPECT_EQ(commands("ws"), std::vector<std::string>{"ws " + std::to_string(TRACKS) + " 8 1"});
    EXPECT_TRUE(commands("w1").empty());
    EXPECT_EQ(label_text("label_sector_errors_count"), "0");
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_save_image_to_D64")));
    EXPECT_TRUE(dumps_in_order(shell_log_text(), {"================================\nImaging disk\n",
                                                "Completed\n", "Disk image saved to: "}))
        << shell_log_text();
}

// Extra errors of the 40-track build: a 35-track disk has no tracks 36 to 40.
const int MISSING = TRACKS == 40 ? 5 * 17 : 0;

TEST_F(ImagingDump, DamagedDiskKeepsItsErrorsAndRetriesFixWhatTheyCan)
{
    img_disk disk = build("DAMAGED");
    disk.error(5, 0) = 5;  // checksum error
    disk.error(6, 1) = 9;  // GCR error
    disk.error(7, 2) = 3;  // no sync
    start_sim({"--drive", "8=" + serve(disk, "damaged"),
               "--corrupt-checksum", "2/5",          // never arrives intact
               "--drop", "3/4",                      // missing from the fast pass only
               "--no-sector-track", "20",
               "--sector-number", "30/14=19"});      // last packet of track 30
    ASSERT_TRUE(img_run_dump());

    img_disk got = saved();
    ASSERT_EQ(got.tracks, TRACKS);
    EXPECT_EQ(got.error(5, 0), 5);
    EXPECT_EQ(got.error(6, 1), 9);
    EXPECT_EQ(got.error(7, 2), 3);
    EXPECT_EQ(got.error(2, 5), 3);
    EXPECT_EQ(got.error(3, 4), 1);
    EXPECT_EQ(got.error(30, 14), 1);
    for (int s = 0; s < 19; s++)
        EXPECT_EQ(got.error(20, s), 3) << s;
    // Everything that was read correctly, or with a bad checksum only, holds
    // the disk's bytes; the rest of track 30 and track 31 prove that the
    // renumbered packet still ended its track.
    for (int t = 1; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            uint8_t e = got.error(t, s);
            if (e == 1 || e == 5) {
                EXPECT_EQ(std::string(got.block(t, s), 256), std::string(disk.block(t, s), 256))
                    << t << "/" << s;
            }
            if (!(t == 20 || (t == 5 && s == 0) || (t == 6 && s == 1) || (t == 7 && s == 2) ||
                  (t == 2 && s == 5))) {
                EXPECT_EQ(e, 1) << t << "/" << s;
            }
        }

    int expected = 1 + 1 + 1 + 1 + 19 + MISSING;
    std::string status = shell_status_text();
    EXPECT_NE(status.find("[" + std::to_string(expected) + "/"), std::string::npos) << status;
    EXPECT_EQ(label_text("label_sector_errors_count"), std::to_string(expected));

    std::string view = shell_log_text();
    EXPECT_NE(view.find("Data checksum failed for t/s  5/0  (checksum: $"), std::string::npos);
    EXPECT_NE(view.find("GCR decoding failed for t/s  6/1 \n"), std::string::npos);
    EXPECT_NE(view.find("Sector retries exhausted for track 20\n"), std::string::npos);
    EXPECT_NE(view.find("Invalid sector value received: 19\n"), std::string::npos);
    // Once in the fast pass, then once per retry.
    EXPECT_EQ(dumps_count(view, "Transmission validation failed, skipping packet\n"), 3);
    EXPECT_NE(view.find("Sync not found for t/s 20/0 \n"), std::string::npos);

    std::string log = disk_log();
    EXPECT_TRUE(dumps_in_order(log, {"Retrying t/s  3/4 \n", "Correctly processed t/s  3/4 "}));
    EXPECT_TRUE(dumps_in_order(log, {"Retrying t/s  5/0 \n",
                                   "Kept existing t/s  5/0  as the new read is not better (new "
                                   "checksum: $"}));
    EXPECT_TRUE(dumps_in_order(log, {"Retrying t/s  6/1 \n",
                                   "Kept existing t/s  6/1  as the new read is not better\n"}));
    EXPECT_EQ(commands("w1"), std::vector<std::string>{"w1 8"});
    EXPECT_EQ(commands("w2 8 3 4").size(), 1u);  // good at the first retry
    EXPECT_EQ(commands("w2 8 5 0").size(), 2u);
    EXPECT_EQ(commands("w2 8 1 ").size(), 0u);
}

TEST_F(ImagingDump, LostEndOfTrackPacketDoesNotPourTheNextTrackIntoThisOne)
{
    img_disk disk = build("LOSTEOT");
    // 2/16 is the last packet of track 2 in the simulator's read order.
    start_sim({"--drive", "8=" + serve(disk, "losteot"), "--corrupt-checksum", "2/16"});
    ASSERT_TRUE(img_run_dump());
    img_disk got = saved();
    for (int t = 1; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            ASSERT_EQ(got.error(t, s), t == 2 && s == 16 ? 3 : 1) << t << "/" << s;
            if (got.error(t, s) == 1) {
                ASSERT_EQ(std::string(got.block(t, s), 256), std::string(disk.block(t, s), 256))
                    << t << "/" << s;
            }
        }
    EXPECT_EQ(label_text("label_sector_errors_count"), std::to_string(1 + MISSING));
}

// Successive reads of one block see the given error codes in turn: a
// checksum failure is never replaced by worse, a missing sector takes the
// first thing that decodes, and a good read ends the attempts.
class ImagingMerit : public ImagingDump, public ::testing::WithParamInterface<int> {};

TEST_P(ImagingMerit, RetriesKeepTheBestReadInEitherRetryMode)
{
    int once_per_pass = GetParam();
    img_disk disk = build("MERIT");
    img_prepare_window(out, 3, 200, 1);
    options_retry_sectors_once_per_pass = once_per_pass;
    start_sim({"--drive", "8=" + serve(disk, "merit"),
               "--sequence", "1/0=5,9,3,5",
               "--sequence", "1/1=3,9,3,1",
               "--sequence", "1/2=9,5,9,9"});
    ASSERT_TRUE(img_run_dump());

    img_disk got = saved();
    EXPECT_EQ(got.error(1, 0), 5);
    EXPECT_EQ(got.error(1, 1), 1);
    EXPECT_EQ(got.error(1, 2), 5);
    for (int s = 0; s < 3; s++)
        EXPECT_EQ(std::string(got.block(1, s), 256), std::string(disk.block(1, s), 256)) << s;

    std::string log = disk_log();
    EXPECT_EQ(dumps_count(log, "Kept existing t/s  1/0  as the new read is not better\n"), 2);
    EXPECT_EQ(dumps_count(log, "Kept existing t/s  1/0  as the new read is not better (new"), 1);
    EXPECT_TRUE(dumps_in_order(log, {"GCR decoding failed for t/s  1/1 \n",
                                   "Kept existing t/s  1/1  as the new read is not better\n",
                                   "Correctly processed t/s  1/1 "}));
    EXPECT_TRUE(dumps_in_order(log, {"Data checksum failed for t/s  1/2 ",
                                   "Kept existing t/s  1/2  as the new read is not better\n",
                                   "Kept existing t/s  1/2  as the new read is not better\n"}));
    std::string status = shell_status_text();
    EXPECT_NE(status.find("[" + std::to_string(2 + MISSING) + "/"), std::string::npos) << status;

    std::vector<std::string> reads = commands("w2 8 1 ");
    std::vector<std::string> expected =
        once_per_pass ? std::vector<std::string>{"w2 8 1 0", "w2 8 1 1", "w2 8 1 2",
                                                 "w2 8 1 0", "w2 8 1 1", "w2 8 1 2",
                                                 "w2 8 1 0", "w2 8 1 1", "w2 8 1 2"}
                      : std::vector<std::string>{"w2 8 1 0", "w2 8 1 0", "w2 8 1 0",
                                                 "w2 8 1 1", "w2 8 1 1", "w2 8 1 1",
                                                 "w2 8 1 2", "w2 8 1 2", "w2 8 1 2"};
    EXPECT_EQ(reads, expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, ImagingMerit, ::testing::Values(0, 1));

TEST_F(ImagingDump, ErrorCountEqualToTheMaximumIsRetriedOneMoreIsNot)
{
    img_disk disk = build("LIMIT");
    for (int s = 0; s < 3; s++)
        disk.error(9, s) = 5;
    std::string served = serve(disk, "limit");

    img_prepare_window(out, 1, 3 + MISSING, 1);
    start_sim({"--drive", "8=" + served});
    ASSERT_TRUE(img_run_dump());
    EXPECT_EQ(commands("w1").size(), 1u);
    EXPECT_EQ(commands("w2").size(), 3u + MISSING);
    sim_stop(&sim);
    started = false;
    scratch_dir_remove(out);
    g_mkdir(out.c_str(), 0700);
    g_remove((dir + "/commands.log").c_str());

    shell_log_clear();
    img_prepare_window(out, 1, 2 + MISSING, 1);
    start_sim({"--drive", "8=" + served});
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(commands("w1").empty());
    std::string line = "Too many errors (" + std::to_string(3 + MISSING) + ") to retry reading (max is " +
                       std::to_string(2 + MISSING) + ")\n";
    EXPECT_NE(shell_log_text().find(line), std::string::npos) << shell_log_text();
    EXPECT_NE(disk_log().find(line), std::string::npos);
}

TEST_F(ImagingDump, NoRetriesWhenTheyAreSwitchedOff)
{
    img_disk disk = build("NORETRY");
    disk.error(9, 0) = 5;
    img_prepare_window(out, 0, 200, 1);
    start_sim({"--drive", "8=" + serve(disk, "noretry")});
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(commands("w1").empty());
    EXPECT_EQ(saved().error(9, 0), 5);
}

TEST_F(ImagingDump, UnformattedDiskIsSavedAsUnformattedWithoutRetries)
{
    std::vector<std::string> args = {"--blank", "8"};
    for (int t = 1; t <= TRACKS; t++)
        args.insert(args.end(), {"--no-sector-track", std::to_string(t)});
    start_sim(args);
    ASSERT_TRUE(img_run_dump());

    std::string view = shell_log_text();
    for (int t = 1; t <= TRACKS; t++)
        EXPECT_NE(view.find("Sector retries exhausted for track " + std::to_string(t) + "\n"),
                  std::string::npos) << t;
    EXPECT_NE(view.find("The disk appears to be unformatted so no retry will be performed\n"),
              std::string::npos);
    EXPECT_TRUE(commands("w1").empty());
    std::string path = img_saved_image(out);
    EXPECT_NE(path.find("UNFORMATTED"), std::string::npos) << path;
    img_disk got = saved();
    for (uint8_t e : got.errors)
        ASSERT_EQ(e, 3);
}

TEST_F(ImagingDump, FirstTrackThreeLeavesTheOuterTracksUnread)
{
    img_disk disk = build("OUTER");
    img_prepare_window(out, 2, 200, 3);
    start_sim({"--drive", "8=" + serve(disk, "outer")});
    ASSERT_TRUE(img_run_dump());

    EXPECT_EQ(commands("ws"), std::vector<std::string>{"ws " + std::to_string(TRACKS) + " 8 3"});
    img_disk got = saved();
    for (int t = 1; t <= 2; t++)
        for (int s = 0; s < 21; s++)
            EXPECT_EQ(got.error(t, s), 3);
    EXPECT_EQ(got.error(3, 0), 1);
    // Tracks 1 and 2 count in the summary, not in the decision to retry.
    std::string status = shell_status_text();
    EXPECT_NE(status.find("[" + std::to_string(42 + MISSING) + "/"), std::string::npos) << status;
    EXPECT_EQ(commands("w1").size(), MISSING ? 1u : 0u);
    std::string log = disk_log();
    EXPECT_EQ(log.rfind("Log file created by Dravlen client " DRAVLEN_VERSION "\n"
                        "Imaging disk (expected outermost track: 3)\n", 0), 0u) << log;
    // cc1541 fills a disk from track 1 on.
    EXPECT_NE(log.find("Inaccessible tracks are unfortunately in use, according to BAM contents\n"),
              std::string::npos) << log;
    EXPECT_EQ(shell_log_text().find("This disk might"), std::string::npos);
}

// The disk as a drive whose head sits `k` tracks off would read it: what
// the drive calls track p holds the disk's track p + k (k = 1: the header
// turns up on track 17) or p - k (k = -1: on track 19).
img_disk read_shifted(const img_disk &disk, int k)
{
    img_disk r = disk;
    for (int p = 1; p <= 35; p++)
        for (int s = 0; s < geometry_sectors(p); s++) {
            int from = p + k;
            char *to = &r.data[256 * geometry_block(p, s)];
            if (from < 1 || from > 35 || s >= geometry_sectors(from)) {
                std::fill(to, to + 256, 0);
                r.error(p, s) = 3;
            } else {
                std::copy(disk.block(from, s), disk.block(from, s) + 256, to);
                r.error(p, s) = 1;
            }
        }
    return r;
}

TEST_F(ImagingDump, HeadStopDiskShiftedInwardsWhenAccepted)
{
    img_disk disk = build("INWARDS");
    start_sim({"--drive", "8=" + serve(read_shifted(disk, 1), "inwards")});
    std::string question;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES,
                                        [&](GtkWidget *d) {
                                            question = gtk_label_get_text(GTK_LABEL(
                                                lookup_widget(d, "label_yes_no_confirmation")));
                                        });
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*answered);
    EXPECT_NE(question.find("The outermost accessible track on the drive in use is 2."),
              std::string::npos) << question;
    EXPECT_NE(question.find("shift tracks inwards by 1"), std::string::npos);

    img_disk got = saved();
    for (int s = 0; s < 21; s++)
        EXPECT_EQ(got.error(1, s), 0x0F);
    for (int t = 2; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            ASSERT_EQ(std::string(got.block(t, s), 256), std::string(disk.block(t, s), 256))
                << t << "/" << s;
            ASSERT_EQ(got.error(t, s), 1) << t << "/" << s;
        }
    std::string log = disk_log();
    EXPECT_TRUE(dumps_in_order(log, {"Unexpected first dir t/s link: not retrying",
                                   "This disk might have been written with a drive whose head stop "
                                   "had been tinkered with\n",
                                   "Tracks shifted inwards by 1 at user's request\n",
                                   "Inaccessible tracks are unfortunately in use, according to BAM "
                                   "contents\n"}))
        << log;
    EXPECT_NE(img_saved_image(out).find("INWARDS"), std::string::npos) << img_saved_image(out);
}

TEST_F(ImagingDump, HeadStopDiskKeptAsReadWhenDeclined)
{
    img_disk disk = build("DECLINED");
    img_disk as_read = read_shifted(disk, 1);
    start_sim({"--drive", "8=" + serve(as_read, "declined")});
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*answered);
    img_disk got = saved();
    EXPECT_TRUE(got.data.substr(0, 256 * geometry_blocks(35)) == as_read.data);
    EXPECT_NE(disk_log().find("Tracks not shifted inwards at user's request\n"), std::string::npos);
    // No directory on track 18: the name cannot come from it.
    EXPECT_NE(img_saved_image(out).find("NO NAME"), std::string::npos) << img_saved_image(out);
}

TEST_F(ImagingDump, MisalignedDiskShiftedOutwardsWhenAccepted)
{
    img_disk disk = build("OUTWARDS");
    start_sim({"--drive", "8=" + serve(read_shifted(disk, -1), "outwards")});
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES);
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*answered);
    img_disk got = saved();
    for (int t = 1; t <= 34; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            // Only as many sectors as the drive's track held come back.
            bool lost = s >= geometry_sectors(t + 1);
            ASSERT_EQ(got.error(t, s), lost ? 3 : 1) << t << "/" << s;
            if (!lost) {
                ASSERT_EQ(std::string(got.block(t, s), 256), std::string(disk.block(t, s), 256))
                    << t << "/" << s;
            }
        }
    for (int s = 0; s < 17; s++)
        EXPECT_EQ(got.error(35, s), 3);
    EXPECT_NE(disk_log().find("Tracks shifted outwards by 1 at user's request\n"),
              std::string::npos);
    EXPECT_NE(img_saved_image(out).find("OUTWARDS"), std::string::npos) << img_saved_image(out);
}

TEST_F(ImagingDump, AbortDuringTheFastPassSavesNothing)
{
    img_disk disk = build("ABORT");
    start_sim({"--drive", "8=" + serve(disk, "abort"), "--drive-timing"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_the_whole_disk")));
    ASSERT_TRUE(shell_pump_until([] { return log_warpsave && strstr(log_warpsave->str, "t/s  3/"); },
                                 10000));
    gint64 t0 = g_get_monotonic_time();
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 1000));
    EXPECT_LT(g_get_monotonic_time() - t0, 1000000);
    EXPECT_EQ(shell_status_text(), " Imaging aborted: please wait for the drive to finish");
    EXPECT_TRUE(dumps_in_order(shell_log_text(), {"Imaging disk\n", "Aborted\n"}));
    EXPECT_EQ(img_saved_image(out), "");
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_save_image_to_D64")));
    EXPECT_FALSE(gtk_widget_get_sensitive(w("button_abort_operation")));
}

TEST_F(ImagingDump, AbortDuringTheRetriesSavesNothing)
{
    img_disk disk = build("ABORT2");
    for (int s = 0; s < 17; s++)
        disk.error(35, s) = 5;
    img_prepare_window(out, 20, 200, 5);
    start_sim({"--drive", "8=" + serve(disk, "abort2"), "--drive-timing"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_the_whole_disk")));
    ASSERT_TRUE(shell_pump_until(
        [] { return log_warpsave && strstr(log_warpsave->str, "Retrying t/s 35/"); }, 20000));
    gint64 t0 = g_get_monotonic_time();
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 1000));
    EXPECT_LT(g_get_monotonic_time() - t0, 1000000);
    EXPECT_EQ(shell_status_text(), " Imaging aborted: please wait for the drive to finish");
    EXPECT_EQ(img_saved_image(out), "");
    EXPECT_TRUE(gtk_widget_get_sensitive(w("menuitem_special_dumps")));
}

TEST_F(ImagingDump, HangUpInTheMiddleOfThePassFails)
{
    img_disk disk = build("HANGUP");
    start_sim({"--drive", "8=" + serve(disk, "hangup"), "--hangup-after", "100000"});
    ASSERT_TRUE(img_run_dump(10000));
    EXPECT_EQ(shell_status_text(), " Imaging failed: Communication error");
    EXPECT_TRUE(dumps_in_order(shell_log_text(), {"Imaging disk\n", "Failed\n"}));
    EXPECT_EQ(img_saved_image(out), "");
}

TEST_F(ImagingDump, SaveDialogWithoutAutoNaming)
{
    img_disk disk = build("DIALOG");
    std::string served = serve(disk, "dialog");
    shell_set_auto_naming(false);
    start_sim({"--drive", "8=" + served});
    auto chosen = shell_choose_save(out, "chosen.d64");
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*chosen);
    EXPECT_EQ(img_saved_image(out), out + "/chosen.d64");
    EXPECT_TRUE(scratch_read(out + "/chosen.d64").substr(0, disk.data.size()) == disk.data);

    scratch_dir_remove(out);
    g_mkdir(out.c_str(), 0700);
    shell_log_clear();
    auto declined = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*declined);
    EXPECT_EQ(img_saved_image(out), "");
    EXPECT_NE(shell_log_text().find("Disk image not saved at user's request\n"), std::string::npos);
}

TEST_F(ImagingDump, FailedInitialisationEndsTheDump)
{
    img_disk disk = build("INIT");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("checkbutton_pre_initialize_disk")), TRUE);
    start_sim({"--drive", "8=" + serve(disk, "init"), "--answer", "di=NP"});
    ASSERT_TRUE(img_run_dump(10000));
    EXPECT_EQ(shell_status_text(), " Imaging failed: Device not present");
    EXPECT_EQ(commands("di"), std::vector<std::string>{"di 8"});
    EXPECT_TRUE(commands("ws").empty());
    EXPECT_EQ(img_saved_image(out), "");
}

TEST_F(ImagingDump, OnlyTheOuterFourTracksReadLooksLikeSideB)
{
    img_disk disk = build("SIDEB");
    std::vector<std::string> args = {"--drive", "8=" + serve(disk, "sideb")};
    for (int t = 5; t <= TRACKS; t++)
        args.insert(args.end(), {"--no-sector-track", std::to_string(t)});
    start_sim(args);
    img_prepare_window(out, 0, 1000, 1);
    std::string notice;
    auto answered = shell_answer_dialog("dialog_notice", GTK_RESPONSE_CLOSE, [&](GtkWidget *d) {
        notice = gtk_label_get_text(GTK_LABEL(lookup_widget(d, "label_notice")));
    });
    ASSERT_TRUE(img_run_dump());
    EXPECT_TRUE(*answered);
    EXPECT_NE(notice.find("side B of a 1571 disk"), std::string::npos) << notice;
    EXPECT_NE(shell_log_text().find("Possibly side B of a 1571 disk\n"), std::string::npos);
    EXPECT_NE(img_saved_image(out), "");
}

TEST_F(ImagingDump, HeaderSectorWithErrorsIsNeitherListedNorUsedForTheBam)
{
    img_disk disk = build("BADBAM");
    img_prepare_window(out, 0, 1000, 1);
    start_sim({"--drive", "8=" + serve(disk, "badbam"), "--sequence", "18/0=5"});
    ASSERT_TRUE(img_run_dump());
    std::string view = shell_log_text();
    EXPECT_NE(view.find("BAM sector contains errors: not listing directory contents\n"),
              std::string::npos) << view;
#if TRACKS != 40
    EXPECT_NE(view.find("BAM sector contains errors: not marking sectors in use\n"),
              std::string::npos) << view;
#endif
    EXPECT_EQ(saved().error(18, 0), 5);
}

TEST_F(ImagingDump, EmptyPortStopsBeforeAnythingStarts)
{
    options_set_string(&options_device_port_string, "");
    gtk_button_clicked(GTK_BUTTON(w("button_save_image_to_D64")));
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
    EXPECT_EQ(shell_log_text(), "");
}

}  // namespace
