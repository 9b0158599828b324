// Restoring a D64 onto the disk in a simulated drive: the disk ends up equal
// to the file, every track goes out in the drive's interleave, and images
// with errors are refused.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/imaging.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/jobs/restore_job.h"
#include "tests/gui/support/drive_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/grid_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

#define EXPECT_COLOUR(actual, expected)                                                    \
    EXPECT_TRUE(grid_rgb_near((actual), (expected)))                                       \
        << grid_rgb_text(actual) << " instead of " << grid_rgb_text(expected)

const std::vector<int> order21 = {0, 4, 8, 12, 16, 20, 3, 7, 11, 15, 19, 2, 6, 10, 14, 18, 1, 5, 9, 13, 17};
const std::vector<int> order19 = {0, 3, 6, 9, 12, 15, 18, 2, 5, 8, 11, 14, 17, 4, 7, 10, 13, 16, 1};
const std::vector<int> order18 = {0, 3, 6, 9, 12, 15, 1, 4, 7, 10, 13, 16, 2, 5, 8, 11, 14, 17};
const std::vector<int> order17 = {0, 3, 6, 9, 12, 15, 2, 5, 8, 11, 14, 1, 4, 7, 10, 13, 16};

const std::vector<int> &table_order(int sectors)
{
    return sectors == 21 ? order21 : sectors == 19 ? order19 : sectors == 18 ? order18 : order17;
}

class DriveRestore : public DriveTest {
protected:
    void SetUp() override
    {
        DriveTest::SetUp();
        request_confirmation_to_modify_disk = 0;
        // The verify pass after a restore has tests of its own.
        options_verify_after_restore = 0;
    }
    void TearDown() override
    {
        options_verify_after_restore = 1;
        DriveTest::TearDown();
    }
    // Colour in the middle of a cell of the grid.
    grid_rgb cell_colour(int track, int sector)
    {
        GdkRectangle r;
        sector_grid_cell_rectangle(track, sector, &r);
        return grid_surface_pixel(r.x + r.width - 2, r.y + r.height / 2);
    }
    // A cc1541 disk with some files; the 40-track build gets five more
    // tracks of patterned data.
    std::string make_image(const std::string &name)
    {
        std::string path = dir + "/" + name;
        std::vector<cc1541_file> files;
        for (int i = 0; i < 6; i++) {
            cc1541_file f;
            f.name = "FILE" + std::to_string(i);
            f.data_size = 1000 + 3000 * i;
            files.push_back(f);
        }
        EXPECT_TRUE(cc1541_build_d64(path, "RESTORED", "rs", files));
        std::string image = scratch_read(path);
        if (TRACKS == 40) {
            for (int i = 0; i < 5 * 17 * 256; i++)
                image += (char)(i * 13 + i / 256);
            scratch_write(path, image);
        }
        return path;
    }
    // Clicks the button and picks `path` in the chooser.
    void restore(const std::string &path)
    {
        shell_choose_load(path);
        gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    }
    std::string error_count() { return gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count"))); }
};

TEST(DriveRestoreOrder, EveryZoneFollowsItsTable)
{
    for (int sectors : {17, 18, 19, 21}) {
        int order[21];
        ASSERT_EQ(restore_sector_order(sectors, order), 1);
        EXPECT_EQ(std::vector<int>(order, order + sectors), table_order(sectors)) << sectors;
    }
    int order[21];
    EXPECT_EQ(restore_sector_order(20, order), 0);
}

TEST_F(DriveRestore, DiskBecomesByteIdenticalToTheImage)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string source = make_image("source.d64");
    start_sim({"--blank", "8", "--save", "8=" + dir + "/out.d64"});
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = g_strdup(source.c_str());
    restore(source);
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_main)), "Dravlen client - source.d64");
    ASSERT_TRUE(wait_idle());
    std::string status = shell_status_text();
    EXPECT_EQ(status.rfind(" Restore completed in ", 0), 0u) << status;
    EXPECT_EQ(log_text(), "================================\nRestoring disk image\nCompleted\n");
    EXPECT_EQ(error_count(), "0");
    ASSERT_TRUE(sim_stop(&sim));
    started = false;
    std::string restored = scratch_read(dir + "/out.d64");
    EXPECT_EQ(restored.size(), (size_t)d64_base_size);
    EXPECT_TRUE(restored == scratch_read(source)) << "the simulated disk differs from the image";
    // The store holds the image with every error byte 1.
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS), 0);
    EXPECT_EQ(d64_get_block_error_info(d64_storage, TRACKS, 16), D64_ERR_OK);
}

TEST_F(DriveRestore, SectorsGoOutInInterleaveThenTheClosingPacket)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string source = make_image("order.d64");
    fake.restore_mode = true;
    ASSERT_TRUE(fake_monitor_start(&fake));
    options_set_string(&options_device_port_string, fake.path.c_str());
    restore(source);
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text().rfind(" Restore completed in ", 0), 0u) << shell_status_text();
    fake_monitor_stop(&fake);
    std::vector<std::pair<int, int>> expected;
    for (int t = 1; t <= TRACKS; t++)
        for (int s : table_order(d64_sectors_of_track(t)))
            expected.push_back({t, s});
    expected.push_back({0, expected.back().second});
    EXPECT_EQ(fake.packets, expected);
}

TEST_F(DriveRestore, ImagesWithErrorsOrOfTheWrongSizeAreRefused)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string plain = scratch_read(make_image("plain.d64"));
    start_sim({"--blank", "8"});

    std::string with_info = plain + std::string((size_t)d64_block_error_info_size, '\x01');
    with_info[plain.size() + start_sector_of_track[20] + 3] = 0x05;
    scratch_write(dir + "/bad.d64", with_info);
    restore(dir + "/bad.d64");
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(shell_status_text(), " Restore failed: Image contains errors");
    EXPECT_EQ(log_text(), "================================\nRestoring disk image\n"
                                "Image contains errors and won't be restored\n");
    EXPECT_EQ(error_count(), "1");

    // $0F counts as no accessible error but still keeps the image off the disk.
    with_info[plain.size() + start_sector_of_track[20] + 3] = 0x01;
    for (int s = 0; s < 21; s++)
        with_info[plain.size() + s] = 0x0F;
    scratch_write(dir + "/inaccessible.d64", with_info);
    restore(dir + "/inaccessible.d64");
    EXPECT_EQ(shell_status_text(), " Restore failed: Image contains errors");
    EXPECT_EQ(error_count(), "0");

    scratch_write(dir + "/short.d64", plain.substr(1));
    log_clear();
    restore(dir + "/short.d64");
    EXPECT_EQ(shell_status_text(), " Restore failed: Image size is not as expected");
    EXPECT_TRUE(ends_with(log_text(), TRACKS == 40
                                                ? "Image size is not as expected for a 40-track disk\n"
                                                : "Image size is not as expected for a 35-track disk\n"));
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_load_image_from_D64")));
    EXPECT_EQ(commands().find("wr"), std::string::npos) << commands();

    // A clean image with error info goes out.
    for (int s = 0; s < 21; s++)
        with_info[plain.size() + s] = 0x01;
    scratch_write(dir + "/clean.d64", with_info);
    restore(dir + "/clean.d64");
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text().rfind(" Restore completed in ", 0), 0u) << shell_status_text();
}

TEST_F(DriveRestore, DeclinedConfirmationOrChooserStartsNothing)
{
    options_set_string(&options_device_port_string, "/dev/null");
    request_confirmation_to_modify_disk = 1;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(log_text(), "");
    // The warning is shown once only: next the chooser comes straight away.
    answered = shell_answer_dialog("filechooserdialog_load", GTK_RESPONSE_CANCEL);
    gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(log_text(), "");
    EXPECT_FALSE(operation_is_running());

    options_set_string(&options_device_port_string, "");
    gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
}

TEST_F(DriveRestore, DeviceFaultsEndTheRestore)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string source = make_image("faults.d64");

    start_sim({"--blank", "8", "--wrong-echo", "wr"});
    restore(source);
    ASSERT_TRUE(wait_idle());
    // Once the request went out, the disk is no longer what it was.
    const std::string overwritten = "; the disk in drive 8 is now partly overwritten";
    EXPECT_EQ(shell_status_text(),
              " Restore failed: Unable to initiate imaging process on device" + overwritten);
    EXPECT_TRUE(ends_with(log_text(), "The disk in drive 8 is now partly overwritten\nFailed\n"))
        << log_text();
    sim_stop(&sim);

    start_sim({"--blank", "8", "--hangup-after", "100"});
    restore(source);
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Restore failed: Communication error" + overwritten);
    sim_stop(&sim);
    started = false;

    // A byte other than "d" before a packet.
    fake.answers = {{"wr 8", "x"}};
    ASSERT_TRUE(fake_monitor_start(&fake));
    options_set_string(&options_device_port_string, fake.path.c_str());
    restore(source);
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Restore failed: Communication error" + overwritten);
    fake_monitor_stop(&fake);

    start_sim({"--blank", "8", "--drive-timing"});
    restore(source);
    shell_pump(500);
    ASSERT_TRUE(operation_is_running());
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(wait_idle(3000));
    EXPECT_EQ(shell_status_text(), " Restore aborted: the disk in drive 8 is now partly "
                                   "overwritten; please wait for the drive to finish");
    EXPECT_TRUE(ends_with(log_text(), "Aborted\n"));
}

}  // namespace

namespace {

// With "Verify after restore" on, a restore is followed by a read-back that
// names the sector written damaged, in the status bar, the log and the grid.
TEST_F(DriveRestore, ARestoreIsVerifiedAndAWeakSpotIsNamed)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string source = make_image("verified.d64");
    options_verify_after_restore = 1;
    start_sim({"--blank", "8", "--write-fault", "1/2"});
    restore(source);
    ASSERT_TRUE(wait_idle());
    int total = (int)(d64_base_size / 256);
    EXPECT_EQ(shell_status_text(), " Verify failed: " + std::to_string(total - 1) + " of " +
                                       std::to_string(total) +
                                       " sectors match, 0 differ, 1 could not be read");
    std::string log = log_text();
    EXPECT_TRUE(starts_with(log, "================================\nRestoring disk image\n"
                                 "Completed\n================================\n"
                                 "Verifying disk against image\n"))
        << log;
    EXPECT_NE(log.find("Verify: t/s  1/2  could not be read\n"), std::string::npos) << log;
    EXPECT_TRUE(ends_with(log, "Verified: " + std::to_string(total - 1) + " of " +
                                   std::to_string(total) + " sectors match\nFailed\n"))
        << log;
    EXPECT_COLOUR(cell_colour(1, 2), grid_rgb_of(0.888, 0.888, 0.168));  // checksum failed
    EXPECT_COLOUR(cell_colour(1, 3), grid_rgb_of(0.344, 0.551, 0.262));  // read and matching
    // The image in memory is still the file.
    EXPECT_TRUE(std::string((const char *)d64_storage, (size_t)d64_base_size) ==
                scratch_read(source));
}

// "Verify disk against image" compares the disk with the image in memory:
// a sector that reads cleanly with other bytes is painted as differing.
TEST_F(DriveRestore, TheMenuItemComparesTheDiskWithTheImageInMemory)
{
    std::string disk((size_t)d64_base_size, '\x21');
    scratch_write(dir + "/disk.d64", disk);
    start_sim({"--drive", "8=" + dir + "/disk.d64"});
    int total = (int)(d64_base_size / 256);

    engine_reset_image_store();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_verify_disk_against_image")));
    EXPECT_EQ(shell_status_text(), " First dump a disk or load a disk image");
    EXPECT_FALSE(operation_is_running());

    memcpy(d64_storage, disk.data(), disk.size());
    d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    d64_storage[d64_sector_offset(5, 6)] = 0x22;
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_verify_disk_against_image")));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Verify failed: " + std::to_string(total - 1) + " of " +
                                       std::to_string(total) +
                                       " sectors match, 1 differ, 0 could not be read");
    EXPECT_NE(log_text().find("Verify: t/s  5/6  differs from the image\n"), std::string::npos)
        << log_text();
    EXPECT_COLOUR(cell_colour(5, 6), grid_rgb_of(0.930, 0.520, 0.130));
    if (!shell_screenshot_dir().empty()) {
        EXPECT_TRUE(shell_snap_window(window_main, shell_screenshot_dir() + "/verify_differs.png"));
    }
    EXPECT_EQ(d64_storage[d64_sector_offset(5, 6)], 0x22) << "the image in memory changed";

    d64_storage[d64_sector_offset(5, 6)] = 0x21;
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_verify_disk_against_image")));
    ASSERT_TRUE(wait_idle());
    std::string status = shell_status_text();
    EXPECT_TRUE(starts_with(status, " Verify completed in ")) << status;
    EXPECT_TRUE(ends_with(status, ": " + std::to_string(total) + " of " + std::to_string(total) +
                                      " sectors match"))
        << status;
}

}  // namespace
