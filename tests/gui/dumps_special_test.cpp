// The three special dumps run from the menu against the simulator serving a
// cc1541 disk with error bytes: what is read, what is saved under which
// name, the logs, and the ways a dump ends without saving.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <glib/gstdio.h>

#include <set>
#include <string>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/jobs/special_dumps_job.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

class DumpsSpecial : public DumpsTest {
protected:
    void SetUp() override
    {
        DumpsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        options_confirm_overwrite = 1;
        options_side_letters_uppercase = 0;
        shell_log_clear();
    }
    void TearDown() override
    {
        DumpsTest::TearDown();
        if (!IsSkipped())
            dumps_set_auto_naming(false);
    }
    dumps_disk saved(const std::string &name)
    {
        dumps_disk d;
        EXPECT_TRUE(dumps_read_disk(out + "/" + name, TRACKS, &d)) << scratch_list(out);
        return d;
    }
    const dumps_file_entry &entry(const std::string &name)
    {
        for (const dumps_file_entry &e : entries)
            if (e.name == name)
                return e;
        throw std::runtime_error(name);
    }

    std::vector<dumps_file_entry> entries;
};

TEST_F(DumpsSpecial, DirTrackDumpKeepsErrorsAndNamesFilesWithTheFlagOnEitherSide)
{
    disk.error(18, 4) = 0x05;   // checksum error
    disk.error(18, 10) = 0x03;  // no sync
    disk.error(1, 0) = 0x05;    // not on track 18: never asked for
    start_sim();
    dumps_prepare_window(1, 10, 1);
    dumps_set_auto_naming(true, out, false, 12);

    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_track_18_only")));
    EXPECT_EQ(shell_status_text(), " Track 18 read process started on drive 8");
    ASSERT_TRUE(dumps_wait_idle());

    // Everything off track 18 stays "not read" and counts; every PRG starts
    // off track 18.
    int expected_errors = geometry_blocks(TRACKS) - 19 + 2;
    std::string status = shell_status_text();
    EXPECT_TRUE(starts_with(status, " Track 18 read completed in ")) << status;
    EXPECT_TRUE(ends_with(status, dumps_fmt(" seconds [%d/4]", expected_errors))) << status;
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))),
              std::to_string(expected_errors));

    dumps_disk d = saved("0012a_T18_RESCUE ME.d64");
    ASSERT_EQ(d.file().size(), size_t(geometry_blocks(TRACKS) * 257));
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            int want = t != 18 ? 0x03 : s == 4 ? 0x05 : s == 10 ? 0x03 : 0x01;
            ASSERT_EQ(d.error(t, s), want) << t << "/" << s;
            std::string expected = t == 18 && s != 10 ? std::string(disk.block(t, s), 256)
                                                      : std::string(256, '\0');
            ASSERT_EQ(std::string(d.block(t, s), 256), expected) << t << "/" << s;
        }

    // One try for the good sectors, two for the bad ones, after "di" and "w1".
    std::vector<std::string> reads = w2();
    EXPECT_EQ(reads.size(), 21u);
    for (const std::string &r : reads)
        EXPECT_TRUE(starts_with(r, "w2 8 18 ")) << r;
    EXPECT_TRUE(dumps_in_order(commands(), {"di 8\n", "w1 8\n", "w2 8 18 0\n"})) << commands();

    std::string log = scratch_read(out + "/0012a_T18_RESCUE ME.d64.log");
    EXPECT_TRUE(starts_with(log, "Log file created by ")) << log;
    EXPECT_TRUE(dumps_in_order(log, {"Dumping track 18\n", "Data checksum failed for t/s 18/4 ",
                                     "Sync not found for t/s 18/10\n"}))
        << log;
    // The damage report closes the log.
    EXPECT_NE(log.find("Completed\nDamage report\nBAM 18/0: "), std::string::npos) << log;
    EXPECT_TRUE(gtk_toggle_button_get_active(
        GTK_TOGGLE_BUTTON(w("radiobutton_disk_dump_auto_naming_side_b"))));

    // The next disk: flag before the offset, side B of the same offset.
    options_special_flags_before_offset = 1;
    ASSERT_TRUE(run("menuitem_dump_track_18_only"));
    EXPECT_TRUE(g_file_test((out + "/T18_0012b_RESCUE ME.d64").c_str(), G_FILE_TEST_IS_REGULAR))
        << scratch_list(out);
    EXPECT_EQ(gtk_spin_button_get_value_as_int(
                  GTK_SPIN_BUTTON(w("spinbutton_disk_dump_auto_naming_offset"))),
              13);
}

TEST_F(DumpsSpecial, FirstSectorPassReadsInTrackOrderOrDirectoryOrder)
{
    entries = disk.directory();
    const dumps_file_entry &game = entry("GAME");
    const dumps_file_entry &loader = entry("LOADER");
    const dumps_file_entry &data = entry("DATA");
    const dumps_file_entry &tail = entry("TAIL");
    ASSERT_EQ(tail.number, 1);
    ASSERT_EQ(loader.number, 5);
    disk.error(game.track, game.sector) = 0x05;
    start_sim();
    dumps_prepare_window(0, 10, 1);
    dumps_set_auto_naming(false);
    options_set_string(&options_d64_dir_string, out.c_str());
    options_special_flags_before_offset = 1;

    // The save chooser offers the marked name; accepting it saves there.
    auto answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_OK, {}, 300);
    ASSERT_TRUE(run("menuitem_dump_track_18_and_first_sector"));
    EXPECT_TRUE(*answered);
    std::string status = shell_status_text();
    EXPECT_TRUE(starts_with(status, " Track 18+ read completed in ")) << status;
    EXPECT_TRUE(ends_with(status, dumps_fmt(" seconds [%d/1]", geometry_blocks(TRACKS) - 19 - 3)))
        << status;
    dumps_disk d = saved("T18+_RESCUE ME.d64");
    for (const dumps_file_entry *e : {&game, &loader, &data, &tail})
        EXPECT_EQ(d.error(e->track, e->sector), e == &game ? 0x05 : 0x01) << e->name;

    // Files on one track keep their directory order; the SEQ file is not
    // looked at.
    auto line = [](const dumps_file_entry &e) {
        return dumps_fmt("~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~\nFile #%03d, %-16s, is a PRG and starts "
                         "at t/s %2d/%-2d\n",
                         e.number, e.name.c_str(), e.track, e.sector);
    };
    std::string log = scratch_read(out + "/T18+_RESCUE ME.d64.log");
    EXPECT_TRUE(dumps_in_order(log, {"Dumping track 18+\n", line(game), line(loader),
                                     "First BASIC line: 10 PRINT\"HI\"\n", line(data), line(tail),
                                     "Completed\n"}))
        << log;
    EXPECT_EQ(log.find("NOTES"), std::string::npos);
    EXPECT_EQ(dumps_count(log, "First BASIC line: "), 1) << log;
    std::vector<std::string> reads = w2();
    ASSERT_EQ(reads.size(), 19u + 4u);
    auto read_of = [](const dumps_file_entry &e) {
        return dumps_fmt("w2 8 %d %d", e.track, e.sector);
    };
    EXPECT_EQ(std::vector<std::string>(reads.begin() + 19, reads.end()),
              (std::vector<std::string>{read_of(game), read_of(loader), read_of(data),
                                        read_of(tail)}));

    // Directory order, chooser declined: nothing saved.
    options_first_sector_in_dir_order = 1;
    shell_log_clear();
    g_remove((dir + "/commands.log").c_str());
    answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL, {}, 300);
    g_remove((out + "/T18+_RESCUE ME.d64").c_str());
    ASSERT_TRUE(run("menuitem_dump_track_18_and_first_sector"));
    EXPECT_TRUE(*answered);
    reads = w2();
    ASSERT_EQ(reads.size(), 19u + 4u);
    EXPECT_EQ(std::vector<std::string>(reads.begin() + 19, reads.end()),
              (std::vector<std::string>{read_of(tail), read_of(game), read_of(data),
                                        read_of(loader)}));
    auto dir_line = [](const dumps_file_entry &e) {
        return dumps_fmt("File #%03d, %-16s, is a PRG and starts at t/s %2d/%-2d \n", e.number,
                         e.name.c_str(), e.track, e.sector);
    };
    std::string view = shell_log_text();
    EXPECT_TRUE(dumps_in_order(view, {dir_line(tail), dir_line(game), dir_line(data),
                                      dir_line(loader), "Completed\n",
                                      "Disk image not saved at user's request\n"}))
        << view;
    EXPECT_FALSE(g_file_test((out + "/T18+_RESCUE ME.d64").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(DumpsSpecial, DiskWithoutSyncOnTrack18IsStillSavedAsUnformatted)
{
    start_sim({"--no-sector-track", "18"});
    dumps_prepare_window(0, 10, 1);
    dumps_set_auto_naming(true, out, false, 7);
    ASSERT_TRUE(run("menuitem_dump_track_18_only"));
    EXPECT_TRUE(ends_with(shell_status_text(), dumps_fmt(" seconds [%d/0]", geometry_blocks(TRACKS))))
        << shell_status_text();
    dumps_disk d = saved("0007a_T18_UNFORMATTED.d64");
    EXPECT_EQ(std::set<uint8_t>(d.errors.begin(), d.errors.end()), std::set<uint8_t>{0x03});
}

#if TRACKS != 40
TEST_F(DumpsSpecial, BamDumpReadsEachAllocatedSectorOnceFromTheOutermostTrack)
{
    disk.set_allocated(30, 5);
    disk.error(30, 5) = 0x05;  // allocated and bad
    ASSERT_FALSE(disk.allocated(31, 2));
    disk.error(31, 2) = 0x05;  // free: never read
    start_sim();
    dumps_prepare_window(0, 10, 1);
    dumps_set_auto_naming(true, out, false, 1);

    ASSERT_TRUE(run("menuitem_dump_bam_based"));
    EXPECT_TRUE(starts_with(shell_status_text(), " BAM-based read completed in "))
        << shell_status_text();
    std::vector<std::string> reads = w2();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0], "w2 8 18 0");
    std::set<std::string> expected, seen(reads.begin() + 1, reads.end());
    for (int t = 1; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++)
            if (disk.allocated(t, s) && !(t == 18 && s == 0))
                expected.insert(dumps_fmt("w2 8 %d %d", t, s));
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(reads.size(), expected.size() + 1);  // one try each

    dumps_disk d = saved("0001a_BAM_RESCUE ME.d64");
    for (int t = 1; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++) {
            int want = !disk.allocated(t, s) ? 0x03 : (t == 30 && s == 5) ? 0x05 : 0x01;
            ASSERT_EQ(d.error(t, s), want) << t << "/" << s;
        }

    // From track 3 on, tracks 1 and 2 are left alone though they hold files.
    ASSERT_TRUE(disk.allocated(1, 0) && disk.allocated(2, 0));
    g_remove((dir + "/commands.log").c_str());
    dumps_prepare_window(0, 10, 3);
    ASSERT_TRUE(run("menuitem_dump_bam_based"));
    for (const std::string &r : w2())
        EXPECT_FALSE(starts_with(r, "w2 8 1 ") || starts_with(r, "w2 8 2 ")) << r;
    EXPECT_NE(shell_log_text().find("Dumping allocated sectors only (expected outermost track: 3)\n"),
              std::string::npos);
    dumps_disk d3 = saved("0001b_BAM_RESCUE ME.d64");
    EXPECT_EQ(d3.error(1, 0), 0x03);
    EXPECT_EQ(d3.error(3, 0), disk.allocated(3, 0) ? 0x01 : 0x03);
}
#endif

TEST_F(DumpsSpecial, BadBamSectorStopsTheBamDumpAndSkipsTheFirstSectorPass)
{
    disk.error(18, 0) = 0x05;
    start_sim();
    dumps_prepare_window(1, 10, 1);
    dumps_set_auto_naming(true, out, false, 1);
    on_menuitem_dump_bam_based_activate(nullptr, nullptr);
    ASSERT_TRUE(dumps_wait_idle());
    EXPECT_EQ(shell_status_text(), " BAM-based read failed: BAM sector contains errors");
    EXPECT_EQ(w2().size(), 2u);  // the BAM sector, twice
    EXPECT_EQ(scratch_list(out), "");

    // The dir-track-and-first-sector dump skips its pass and succeeds,
    // once told to drop the BAM sector read before, which no file holds.
    auto dropped = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES);
    ASSERT_TRUE(run("menuitem_dump_track_18_and_first_sector"));
    EXPECT_TRUE(*dropped);
    EXPECT_TRUE(starts_with(shell_status_text(), " Track 18+ read completed in "))
        << shell_status_text();
    EXPECT_NE(shell_log_text().find("BAM sector contains errors: not iterating through PRG files\n"),
              std::string::npos);
    EXPECT_EQ(w2().size(), 2u + 19u + 1u);  // track 18, the BAM sector twice
}

TEST_F(DumpsSpecial, FailuresAndAbortSaveNothing)
{
    dumps_prepare_window(1, 10, 1);
    dumps_set_auto_naming(true, out, false, 1);

    options_set_string(&options_device_port_string, "");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_track_18_only")));
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
    EXPECT_FALSE(operation_is_running());

    start_sim({}, false);  // nothing on the bus
    ASSERT_TRUE(run("menuitem_dump_track_18_only"));
    EXPECT_EQ(shell_status_text(), " Track 18 read failed: Device not present");
    EXPECT_TRUE(ends_with(shell_log_text(), "Dumping track 18\nFailed\n")) << shell_log_text();
    sim_stop(&sim);
    started = false;

    start_sim({"--wrong-echo", "w1"});
    on_menuitem_dump_bam_based_activate(nullptr, nullptr);
    ASSERT_TRUE(dumps_wait_idle());
    EXPECT_EQ(shell_status_text(), " BAM-based read failed: Unable to initiate sector read on device");
    sim_stop(&sim);
    started = false;

    // A real drive's pace leaves time to press Abort in the middle.
    start_sim({"--drive-timing"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_track_18_and_first_sector")));
    shell_pump(600);
    ASSERT_TRUE(operation_is_running());
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(dumps_wait_idle(5000));
    EXPECT_EQ(shell_status_text(), " Track 18+ read aborted: please wait for the drive to finish");
    EXPECT_TRUE(ends_with(shell_log_text(), "Aborted\n")) << shell_log_text();
    EXPECT_EQ(scratch_list(out), "");
    EXPECT_EQ(tmr, nullptr);
}

}  // namespace
