// Restoring a D64 onto the disk in a simulated drive: the disk ends up equal
// to the file, every track goes out in the drive's interleave, and images
// with errors are refused.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/operation.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "operations/restore.h"
#include "tests/gui/support/drive_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "ui/dialogs.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

namespace {

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
    EXPECT_EQ(shell_status_text(), " Restore failed: Unable to initiate imaging process on device");
    EXPECT_TRUE(ends_with(log_text(), "Failed\n"));
    sim_stop(&sim);

    start_sim({"--blank", "8", "--hangup-after", "100"});
    restore(source);
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Restore failed: Communication error");
    sim_stop(&sim);
    started = false;

    // A byte other than "d" before a packet.
    fake.answers = {{"wr 8", "x"}};
    ASSERT_TRUE(fake_monitor_start(&fake));
    options_set_string(&options_device_port_string, fake.path.c_str());
    restore(source);
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Restore failed: Communication error");
    fake_monitor_stop(&fake);

    start_sim({"--blank", "8", "--drive-timing"});
    restore(source);
    shell_pump(500);
    ASSERT_TRUE(operation_is_running());
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(wait_idle(3000));
    EXPECT_EQ(shell_status_text(), " Restore aborted: please wait for the drive to finish");
    EXPECT_TRUE(ends_with(log_text(), "Aborted\n"));
}

}  // namespace
