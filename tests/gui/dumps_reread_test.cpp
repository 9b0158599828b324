// Loading a D64 for re-reads and the five re-read operations, run from the
// menu against the simulator.  The file loaded and the disk in the drive are
// built from the same cc1541 disk with different error bytes, so a re-read
// can be made to improve a sector, or to come back worse than what the file
// holds.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <glib/gstdio.h>

#include <set>
#include <string>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/jobs/rereads_job.h"
#include "gui/jobs/special_dumps_job.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

class DumpsReread : public DumpsTest {
protected:
    void SetUp() override
    {
        DumpsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        image = dir + "/image.d64";
        file = drive;
        options_confirm_overwrite = 1;
        options_notify_side_b_1571 = 1;
        options_notify_tracks_beyond_35 = 1;
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
        dumps_prepare_window(1, 10, 1);
        shell_log_clear();
    }
    // Writes `file` and loads it as the menu item does.
    void load(bool plain = false)
    {
        ASSERT_TRUE(scratch_write(image, file.file(plain)));
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = g_strdup(image.c_str());
        core_load_d64_file_for_rereads(image.c_str());
        ASSERT_NE(utf8_path_lastopenfile_d64, nullptr);
        shell_log_clear();
    }
    // Sets a sector of the loaded file: error byte and, when given, data.
    void file_sector(int t, int s, uint8_t error, char fill = 0)
    {
        file.error(t, s) = error;
        if (fill)
            std::fill(file.block(t, s), file.block(t, s) + 256, fill);
    }
    dumps_disk saved()
    {
        dumps_disk d;
        EXPECT_TRUE(dumps_read_disk(image, TRACKS, &d));
        return d;
    }
    std::string block(dumps_disk &d, int t, int s) { return std::string(d.block(t, s), 256); }

    std::string image;
    dumps_disk &drive = disk;  // what the simulator serves
    dumps_disk file;
};

TEST_F(DumpsReread, LoadingShowsTheImageAndForgetsFilesItCannotUse)
{
    file_sector(1, 3, 0x05);
    file_sector(20, 1, 0x0F);
    file_sector(25, 0, 0x09);
    ASSERT_TRUE(scratch_write(image, file.file()));
    auto answered = shell_choose_load(image, 400);
    on_menuitem_load_d64_file_for_rereads_activate(nullptr, nullptr);
    EXPECT_TRUE(*answered);
    ASSERT_NE(utf8_path_lastopenfile_d64, nullptr);
    EXPECT_EQ(std::string(utf8_path_lastopenfile_d64), image);
    EXPECT_EQ(shell_status_text(), " Disk image loaded [2]: image.d64");
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))), std::string("2"));
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_main)), "Dravlen client - image.d64");
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 1);
    EXPECT_TRUE(dumps_in_order(shell_log_text(),
                               {"================================\nLoading disk image\n",
                                dumps_fmt("Completed (image.d64, %d bytes)\n",
                                          geometry_blocks(TRACKS) * 257)}))
        << shell_log_text();
    EXPECT_EQ(std::string((const char *)d64_storage + d64_base_size, geometry_blocks(TRACKS)),
              std::string(file.errors.begin(), file.errors.end()));
    gtk_notebook_set_current_page(GTK_NOTEBOOK(w("notebook_main")), 0);

    // Without error info every sector is good.
    load(true);
    EXPECT_EQ(gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))), std::string("0"));
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS), 0);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 20, 1), 0x01);

    // A file of the wrong size, handed over as the remembered path itself
    // (as a drop does): refused, the path forgotten, the image cleared.
    ASSERT_TRUE(scratch_write(image, file.file() + "x"));
    core_load_d64_file_for_rereads(utf8_path_lastopenfile_d64);
    EXPECT_EQ(shell_status_text(), " Load failed: Image size is not as expected");
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
    EXPECT_NE(shell_log_text().find(dumps_fmt(
                  "Image size is not as expected for a %d-track disk\n", TRACKS)),
              std::string::npos);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 1, 0), 0x03);

    // A file that cannot be read is forgotten too, so no re-read can write
    // over it.
    utf8_path_lastopenfile_d64 = g_strdup((dir + "/missing.d64").c_str());
    core_load_d64_file_for_rereads(utf8_path_lastopenfile_d64);
    EXPECT_EQ(shell_status_text(), " Load failed: Unable to load from image");
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
    on_menuitem_reread_all_sectors_activate(nullptr, nullptr);
    EXPECT_EQ(shell_status_text(), " First dump a disk or load a disk image");
    EXPECT_FALSE(operation_is_running());
}

TEST_F(DumpsReread, RereadAllTakesOnlyBetterReadsAndSavesBackWithTheRereadLog)
{
    file_sector(1, 0, 0x05, 'A');   // drive: good       -> taken
    file_sector(1, 3, 0x05, 'B');   // drive: GCR error  -> kept
    file_sector(19, 2, 0x03);       // drive: checksum   -> taken
    file_sector(20, 1, 0x0F, 'D');  // inaccessible      -> never read
    file_sector(21, 5, 0x09, 'E');  // drive: no sync    -> kept
    file_sector(25, 0, 0x09, 'F');  // drive: checksum   -> taken
    drive.error(1, 3) = 0x09;
    drive.error(19, 2) = 0x05;
    drive.error(21, 5) = 0x03;
    drive.error(25, 0) = 0x05;
    start_sim();
    ASSERT_TRUE(scratch_write(image + "-reread.log", "EARLIER\n"));
    load();
    dumps_prepare_window(1, 5, 1);  // five errors: the maximum still runs

    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reread_all_sectors")));
    EXPECT_EQ(shell_status_text(), " Re-reading process started on drive 8");
    ASSERT_TRUE(dumps_wait_idle());
    std::string status = shell_status_text();
    EXPECT_TRUE(starts_with(status, " Re-reading completed in ")) << status;
    EXPECT_TRUE(ends_with(status, " seconds [4/0]")) << status;

    dumps_disk d = saved();
    EXPECT_EQ(d.error(1, 0), 0x01);
    EXPECT_EQ(block(d, 1, 0), block(drive, 1, 0));
    EXPECT_EQ(d.error(1, 3), 0x05);
    EXPECT_EQ(block(d, 1, 3), std::string(256, 'B'));
    EXPECT_EQ(d.error(19, 2), 0x05);
    EXPECT_EQ(block(d, 19, 2), block(drive, 19, 2));
    EXPECT_EQ(d.error(20, 1), 0x0F);
    EXPECT_EQ(block(d, 20, 1), std::string(256, 'D'));
    EXPECT_EQ(d.error(21, 5), 0x09);
    EXPECT_EQ(block(d, 21, 5), std::string(256, 'E'));
    EXPECT_EQ(d.error(25, 0), 0x05);
    EXPECT_EQ(block(d, 25, 0), block(drive, 25, 0));

    // A good read ends a sector's tries; the others use both.
    EXPECT_EQ(sector_reads(), (std::vector<std::string>{"w2 8 1 0", "w2 8 1 3", "w2 8 1 3", "w2 8 19 2",
                                              "w2 8 19 2", "w2 8 21 5", "w2 8 21 5", "w2 8 25 0",
                                              "w2 8 25 0"}));
    EXPECT_TRUE(dumps_in_order(commands(), {"di 8\n", "w1 8\n", "w2 8 1 0\n"}));

    std::string log = scratch_read(image + "-reread.log");
    EXPECT_TRUE(starts_with(log, "EARLIER\nLog file opened by ")) << log;
    EXPECT_TRUE(dumps_in_order(log, {"Re-reading sectors with errors\n",
                                     "Correctly processed t/s  1/0  ",
                                     "Kept existing t/s  1/3  as the new read is not better\n",
                                     "Kept existing t/s 21/5  as the new read is not better\n"}))
        << log;
    // The damage report closes the log.
    EXPECT_NE(log.find("Completed\nDamage report\nBAM 18/0: "), std::string::npos) << log;
    EXPECT_FALSE(g_file_test((image + ".log").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(DumpsReread, RereadAllRefusesTooManyErrorsAndACleanDisk)
{
    for (int s = 0; s < 5; s++)
        file_sector(2, s, 0x05, 'x');
    start_sim();
    load();
    std::string before = scratch_read(image);
    dumps_prepare_window(1, 4, 1);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: Too many errors to retry");
    EXPECT_TRUE(ends_with(shell_log_text(), "Re-reading sectors with errors\n"
                                            "Too many errors (5) to retry reading (max is 4)\n"
                                            "Failed\n"))
        << shell_log_text();
    EXPECT_EQ(commands().find("di "), std::string::npos);
    EXPECT_EQ(scratch_read(image), before);
    EXPECT_FALSE(g_file_test((image + "-reread.log").c_str(), G_FILE_TEST_EXISTS));

    // "Max errors" 0 refuses any re-read; a clean image has nothing to do.
    dumps_prepare_window(1, 0, 1);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: Too many errors to retry");
    file = drive;
    load(true);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: No errors to correct on disk");
    EXPECT_TRUE(w2().empty());
}

TEST_F(DumpsReread, OncePerPassSpreadsTriesAndSkipsTracksBelowTheOutermost)
{
    file_sector(1, 0, 0x05);   // below the outermost track: ignored
    file_sector(17, 3, 0x05);
    file_sector(21, 5, 0x09);
    drive.error(17, 3) = 0x09;
    drive.error(21, 5) = 0x03;
    start_sim();
    load();
    options_retry_sectors_once_per_pass = 1;
    dumps_prepare_window(2, 10, 3);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_TRUE(ends_with(shell_status_text(), " seconds [3/1]")) << shell_status_text();
    EXPECT_EQ(sector_reads(), (std::vector<std::string>{"w2 8 17 3", "w2 8 21 5", "w2 8 17 3", "w2 8 21 5",
                                              "w2 8 17 3", "w2 8 21 5"}));
    std::string log = scratch_read(image + "-reread.log");
    EXPECT_TRUE(dumps_in_order(log, {"Re-reading sectors (expected outermost track: 3)\n",
                                     "Inaccessible tracks are unfortunately in use, according to "
                                     "BAM contents\n",
                                     "Completed\n"}))
        << log;
}

TEST_F(DumpsReread, TrackRangeDialogOffersOnlyReachableTracksAndOrdersTheEnds)
{
    file_sector(25, 0, 0x05);
    file_sector(30, 1, 0x05);
    start_sim();
    load();
    dumps_prepare_window(1, 10, 3);

    double lower = 0, upper = 0, start = 0, end = 0;
    auto answered = shell_answer_dialog("dialog_track_range", GTK_RESPONSE_OK, [&](GtkWidget *d) {
        GtkSpinButton *s =
            GTK_SPIN_BUTTON(lookup_widget(d, "spinbutton_track_range_start_track"));
        GtkSpinButton *e = GTK_SPIN_BUTTON(lookup_widget(d, "spinbutton_track_range_end_track"));
        GtkAdjustment *a = gtk_spin_button_get_adjustment(s);
        lower = gtk_adjustment_get_lower(a);
        upper = gtk_adjustment_get_upper(gtk_spin_button_get_adjustment(e));
        start = gtk_spin_button_get_value(s);
        end = gtk_spin_button_get_value(e);
        gtk_spin_button_set_value(s, 30);
        gtk_spin_button_set_value(e, 20);
    });
    ASSERT_TRUE(run("menuitem_reread_track_range"));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(lower, 3);
    EXPECT_EQ(upper, TRACKS);
    EXPECT_EQ(start, 3);
    EXPECT_EQ(end, TRACKS);
    // An end before the start reads the start track alone.
    EXPECT_EQ(sector_reads(), std::vector<std::string>{"w2 8 30 1"});
    EXPECT_TRUE(starts_with(shell_status_text(), " Partial re-reading completed in "))
        << shell_status_text();
    EXPECT_NE(scratch_read(image + "-reread.log")
                  .find("Re-reading sectors with errors in track range 30-30 (both inclusive)\n"),
              std::string::npos);
    EXPECT_EQ(saved().error(30, 1), 0x01);
    EXPECT_EQ(saved().error(25, 0), 0x05);

    // Cancel starts nothing.
    shell_log_clear();
    answered = shell_answer_dialog("dialog_track_range", GTK_RESPONSE_CANCEL);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reread_track_range")));
    EXPECT_TRUE(*answered);
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(shell_log_text(), "");

    // Two errors in 20-30 with at most one allowed; none in 31-TRACKS.
    file_sector(30, 1, 0x05);
    load();
    dumps_prepare_window(1, 1, 1);
    answered = shell_answer_dialog("dialog_track_range", GTK_RESPONSE_OK, [](GtkWidget *d) {
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(d, "spinbutton_track_range_start_track")), 20);
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(d, "spinbutton_track_range_end_track")), 30);
    });
    ASSERT_TRUE(run("menuitem_reread_track_range"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: Too many errors in track range to retry");
    EXPECT_NE(shell_log_text().find(
                  "Too many errors in track range (2) to retry reading (max is 1)\n"),
              std::string::npos);
    answered = shell_answer_dialog("dialog_track_range", GTK_RESPONSE_OK, [](GtkWidget *d) {
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(d, "spinbutton_track_range_start_track")), 31);
    });
    ASSERT_TRUE(run("menuitem_reread_track_range"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: No errors to correct in track range");
}

TEST_F(DumpsReread, DirTrackRereadsStayOnTrack18AndTheFirstSectors)
{
    std::vector<dumps_file_entry> entries = file.directory();
    const dumps_file_entry *game = nullptr;
    for (const dumps_file_entry &e : entries)
        if (e.name == "GAME")
            game = &e;
    ASSERT_NE(game, nullptr);
    file_sector(18, 4, 0x03);
    file_sector(2, 0, 0x05);
    start_sim();
    load();
    ASSERT_TRUE(run("menuitem_reread_dir_track"));
    EXPECT_EQ(sector_reads(), std::vector<std::string>{"w2 8 18 4"});
    EXPECT_TRUE(starts_with(shell_status_text(), " Partial re-reading completed in "))
        << shell_status_text();
    EXPECT_EQ(saved().error(18, 4), 0x01);
    EXPECT_EQ(saved().error(2, 0), 0x05);

    // Track 18 is clean now: nothing to do for the dir track alone...
    ASSERT_TRUE(run("menuitem_reread_dir_track"));
    EXPECT_EQ(shell_status_text(), " Re-reading failed: No errors to correct on track 18");

    // ...while the first-sector pass still runs, with the drive code loaded.
    file = saved();
    file_sector(game->track, game->sector, 0x05);
    load();
    g_remove((dir + "/commands.log").c_str());
    ASSERT_TRUE(run("menuitem_reread_dir_track_and_first_sector"));
    EXPECT_TRUE(starts_with(shell_status_text(), " Partial re-reading completed in "))
        << shell_status_text();
    EXPECT_TRUE(dumps_in_order(commands(), {"di 8\n", "w1 8\n",
                                            dumps_fmt("w2 8 %d %d\n", game->track, game->sector)}))
        << commands();
    EXPECT_EQ(sector_reads().size(), 1u);
    EXPECT_EQ(dumps_count(shell_log_text(),
                          "Sector was already correctly read and decoded, if applicable\n"),
              3);
    EXPECT_EQ(saved().error(game->track, game->sector), 0x01);
    EXPECT_EQ(sector_query_list, nullptr);
}

#if TRACKS != 40
TEST_F(DumpsReread, AllocatedRereadReadsEveryAllocatedSectorItCanReach)
{
    file_sector(1, 3, 0x05, 'B');
    file_sector(2, 0, 0x0F);
    ASSERT_TRUE(file.allocated(1, 3) && file.allocated(2, 0));
    ASSERT_FALSE(file.allocated(31, 2));
    file_sector(31, 2, 0x05);
    start_sim();
    load();
    dumps_prepare_window(0, 0, 1);  // no count, no maximum
    ASSERT_TRUE(run("menuitem_reread_based_on_bam_contents"));
    EXPECT_TRUE(starts_with(shell_status_text(), " Partial re-reading completed in "))
        << shell_status_text();
    std::vector<std::string> reads = sector_reads();
    std::set<std::string> expected;
    for (int t = 1; t <= 35; t++)
        for (int s = 0; s < geometry_sectors(t); s++)
            if (file.allocated(t, s) && !(t == 18 && s == 0) && !(t == 2 && s == 0))
                expected.insert(dumps_fmt("w2 8 %d %d", t, s));
    EXPECT_EQ(std::set<std::string>(reads.begin(), reads.end()), expected);
    EXPECT_EQ(reads.size(), expected.size());
    EXPECT_NE(shell_log_text().find(
                  "BAM sector was already correctly read previously, using its contents\n"),
              std::string::npos);
    dumps_disk d = saved();
    EXPECT_EQ(d.error(1, 3), 0x01);
    EXPECT_EQ(block(d, 1, 3), block(drive, 1, 3));
    EXPECT_EQ(d.error(2, 0), 0x0F);
    EXPECT_EQ(d.error(31, 2), 0x05);
}
#endif

TEST_F(DumpsReread, AbortLeavesTheFileAlone)
{
    for (int s = 0; s < 10; s++)
        file_sector(3, s, 0x05, 'x');
    start_sim({"--drive-timing"});
    load();
    std::string before = scratch_read(image);
    dumps_prepare_window(3, 20, 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reread_all_sectors")));
    shell_pump(500);
    ASSERT_TRUE(operation_is_running());
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(dumps_wait_idle(5000));
    EXPECT_EQ(shell_status_text(), " Re-reading aborted: please wait for the drive to finish");
    EXPECT_TRUE(ends_with(shell_log_text(), "Aborted\n")) << shell_log_text();
    EXPECT_EQ(scratch_read(image), before);
    EXPECT_FALSE(g_file_test((image + "-reread.log").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(tmr, nullptr);
}

}  // namespace
