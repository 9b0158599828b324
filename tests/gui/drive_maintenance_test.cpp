// Device maintenance end to end against the simulator: firmware version and
// its verdict, drive status, reset into the bootloader and the firmware
// update with the real avrdude.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <glib/gstdio.h>

#include <unistd.h>

#include <algorithm>
#include <memory>

#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "device/firmware.h"
#include "gui/jobs/maintenance_job.h"
#include "tests/gui/support/drive_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

class DriveMaintenance : public DriveTest {
protected:
    void SetUp() override
    {
        DriveTest::SetUp();
        char *cwd = g_get_current_dir();
        saved_cwd = cwd;
        g_free(cwd);
        // The firmware file is written into the working folder.
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override
    {
        operation_thread_create = operation_thread_create_default;
        options_set_string(&options_bootloader_port_string, "");
        EXPECT_EQ(chdir(saved_cwd.c_str()), 0);
        DriveTest::TearDown();
    }
    void run(const char *menu_item, int timeout_ms = 10000)
    {
        gtk_menu_item_activate(GTK_MENU_ITEM(w(menu_item)));
        ASSERT_TRUE(wait_idle(timeout_ms));
    }
    bool firmware_file_exists()
    {
        return g_file_test((dir + "/dravlen32u4.hex").c_str(), G_FILE_TEST_EXISTS);
    }
    // A firmware file outside the working folder: the test image's records.
    std::string chosen_hex()
    {
        std::string folder = dir + "/chosen";
        g_mkdir(folder.c_str(), 0700);
        EXPECT_TRUE(firmware_save_firmware_in(folder.c_str()));
        return folder + "/" + firmware_file_name;
    }
    // Update firmware as a user runs it: a build without board firmware
    // shows a chooser, where `hex` is taken; the question that follows gets
    // `answer`.  Returns the question's text.
    std::string start_update(const std::string &hex, int answer = GTK_RESPONSE_YES)
    {
        std::shared_ptr<bool> chosen;
        if (firmware_is_test_image)
            chosen = shell_choose_load(hex);
        auto question = std::make_shared<std::string>();
        auto asked = shell_answer_dialog("dialog_yes_no_confirmation", answer, [question](GtkWidget *d) {
            *question = gtk_label_get_text(GTK_LABEL(lookup_widget(d, "label_yes_no_confirmation")));
        });
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_update")));
        EXPECT_TRUE(!chosen || *chosen);
        EXPECT_TRUE(*asked);
        return *question;
    }
    // The log of the last run, which got as far as avrdude: its lines come
    // between the bootloader port and the closing word.
    void expect_avrdude_log(const std::string &boot, const char *last)
    {
        std::string log = log_text();
        log = log.substr(std::min(log.size(), log.rfind("================================\n")));
        std::string head = "================================\nUpdating device firmware\n"
                           "Bootloader port: " + boot + "\n";
        EXPECT_EQ(log.substr(0, head.size()), head) << log;
        EXPECT_TRUE(log.find("avrdude", head.size()) != std::string::npos) << log;
        std::string tail = std::string("\n") + last + "\n";
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail) << log;
    }

    std::string saved_cwd;
};

TEST(DriveFirmwareVerdict, ComparesMajorAndMinorOnly)
{
    EXPECT_STREQ(firmware_version_verdict("2.4.0.0.0"), "current");
    EXPECT_STREQ(firmware_version_verdict("2.4"), "current");
    EXPECT_STREQ(firmware_version_verdict("2.3.9"), "should upgrade");
    EXPECT_STREQ(firmware_version_verdict("1.13.0.35"), "should upgrade");
    EXPECT_STREQ(firmware_version_verdict("1.999"), "should upgrade");
    EXPECT_STREQ(firmware_version_verdict("2.5.0"), "should downgrade");
    EXPECT_STREQ(firmware_version_verdict("3.0.0"), "should downgrade");
    // Texts without "<major>.<minor>" in front get no verdict.
    for (const char *odd : {"Dravlen 1.1", "2", "2.", ".4", " 2.4", "-1.4", "", "99999999999.4"})
        EXPECT_STREQ(firmware_version_verdict(odd), "unknown version") << odd;
}

TEST(DriveFirmwareVerdict, AvrdudeArgumentsKeepThePortWhole)
{
    char **argv = maintenance_avrdude_argv("/tmp/my \"boot\" port");
    std::vector<std::string> args(argv, argv + g_strv_length(argv));
    g_strfreev(argv);
    EXPECT_EQ(args, (std::vector<std::string>{"avrdude", "-v", "-pm32u4", "-cavr109",
                                              "-P/tmp/my \"boot\" port", "-b57600", "-D",
                                              "-Uflash:w:dravlen32u4.hex:i"}));
}

TEST_F(DriveMaintenance, VersionTextsAndVerdicts)
{
    start_sim({"--version", "2.4.0.0.0"});
    run("menuitem_read_firmware_version");
    EXPECT_EQ(shell_status_text(), " Firmware version: v2.4.0.0.0 (current)");
    EXPECT_EQ(log_text(),
              "================================\nReading firmware version\n2.4.0.0.0\nCompleted\n");
    sim_stop(&sim);

    // A version line longer than 31 characters is cut.
    start_sim({"--version", "2.5.1 built with a rather long banner text"});
    log_clear();
    run("menuitem_read_firmware_version");
    EXPECT_EQ(shell_status_text(), " Firmware version: v2.5.1 built with a rather long  (should downgrade)");
    sim_stop(&sim);

    start_sim({"--old-firmware"});
    run("menuitem_read_firmware_version");
    EXPECT_EQ(shell_status_text(), " Firmware version: v1.13.0.35 (should upgrade)");
}

TEST_F(DriveMaintenance, VersionFailures)
{
    start_sim({"--wrong-echo", "v"});
    run("menuitem_read_firmware_version");
    EXPECT_EQ(shell_status_text(),
              " Firmware version reading failed: Unable to request firmware version on device");
    EXPECT_TRUE(ends_with(log_text(), "Failed\n"));
    sim_stop(&sim);

    // Hang-up right after the echo of "v".
    start_sim({"--hangup-after", "7"});
    run("menuitem_read_firmware_version");
    EXPECT_EQ(shell_status_text(), " Firmware version reading failed: Communication error");
    sim_stop(&sim);

    start_sim({"--silent-after", "0"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_read_firmware_version")));
    shell_pump(200);
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 2000));
    EXPECT_EQ(shell_status_text(), " Firmware version reading aborted");
}

TEST_F(DriveMaintenance, DriveStatusOfTheSelectedDrive)
{
    start_sim({"--blank", "9"});
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 1);
    run("menuitem_query_error_channel");
    std::string status = shell_status_text();
    EXPECT_EQ(status.rfind(" Status read in ", 0), 0u) << status;
    EXPECT_TRUE(ends_with(status, " seconds: 73,CBM DOS V2.6 1541,00,00")) << status;
    EXPECT_TRUE(ends_with(log_text(), "Reading disk status\n73,CBM DOS V2.6 1541,00,00\nCompleted\n"))
        << log_text();
    EXPECT_NE(commands().find("de 9"), std::string::npos);
    EXPECT_EQ(options_drive_index, 1);

    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
    run("menuitem_query_error_channel");
    EXPECT_EQ(shell_status_text(), " Status reading failed: Device not present");
}

TEST_F(DriveMaintenance, LongStatusIsCutAndDeviceAnswersMapped)
{
    std::string long_status(200, 'S');
    start_fake({{"de 8", "OK" + std::string(1, (char)200) + long_status}});
    run("menuitem_query_error_channel");
    EXPECT_TRUE(ends_with(shell_status_text(), ": " + std::string(127, 'S'))) << shell_status_text();
    fake_monitor_stop(&fake);

    for (auto [answer, text] : std::vector<std::pair<std::string, std::string>>{
             {"FM", "Filename missing"}, {"NF", "File not found"}, {"KO", "Command failed"}}) {
        fake_monitor f;
        f.answers = {{"de 8", answer}};
        ASSERT_TRUE(fake_monitor_start(&f));
        options_set_string(&options_device_port_string, f.path.c_str());
        run("menuitem_query_error_channel");
        EXPECT_EQ(shell_status_text(), " Status reading failed: " + text);
        fake_monitor_stop(&f);
    }
}

TEST_F(DriveMaintenance, ResetIntoBootloader)
{
    start_sim({});
    run("menuitem_reset_into_bootloader");
    EXPECT_EQ(shell_status_text(), " Device reset succeeded");
    EXPECT_EQ(log_text(), "================================\nResetting device\nCompleted\n");
    EXPECT_EQ(tmr, nullptr);
    // The client may be done before the simulator has logged the line.
    EXPECT_TRUE(shell_pump_until([this] { return commands().find("j\n") != std::string::npos; }, 2000))
        << commands();
}

TEST_F(DriveMaintenance, UpdateFlashesTheChosenFileThroughAPortNameWithSpaces)
{
    std::string boot = dir + "/boot port \"x\"";
    start_sim({"--bootloader-link", boot, "--flash-out", dir + "/flash.bin"});
    options_set_string(&options_bootloader_port_string, boot.c_str());
    std::string hex = chosen_hex();
    std::string question = start_update(hex);
    if (firmware_is_test_image) {
        EXPECT_EQ(question, "Flash " + hex + " onto the board at " + sim.port + "?");
    }
    ASSERT_TRUE(wait_idle(60000));
    EXPECT_EQ(shell_status_text(), " Firmware update succeeded");
    expect_avrdude_log(boot, "Completed");
    EXPECT_FALSE(firmware_file_exists());
    std::string expected = drive_hex_data(firmware);
    // The simulator writes the image as avrdude leaves the bootloader, which
    // can be just after avrdude has exited; stopping it settles the file.
    sim_stop(&sim);
    std::string flashed = scratch_read(dir + "/flash.bin");
    ASSERT_GE(flashed.size(), expected.size());
    EXPECT_EQ(flashed.substr(0, expected.size()), expected);
    // avrdude pads the last page with erased bytes only.
    EXPECT_EQ(flashed.find_first_not_of('\xff', expected.size()), std::string::npos);
}

TEST_F(DriveMaintenance, UpdateStartsNothingUnlessAFileIsChosenAndTheQuestionAnsweredYes)
{
    start_sim({"--bootloader-link", dir + "/boot"});
    options_set_string(&options_bootloader_port_string, (dir + "/boot").c_str());
    if (firmware_is_test_image) {
        // The carried test image is not offered: cancelling the chooser ends it.
        auto cancelled = shell_answer_dialog("filechooserdialog_load", GTK_RESPONSE_CANCEL);
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_update")));
        EXPECT_TRUE(*cancelled);
        EXPECT_FALSE(operation_is_running());
    }
    start_update(chosen_hex(), GTK_RESPONSE_NO);
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(log_text(), "");
    shell_pump(300);
    EXPECT_EQ(commands().find("j"), std::string::npos) << commands();
}

TEST_F(DriveMaintenance, UpdateFlashesThroughThePortThatAppearsAfterTheReset)
{
    // The configured name never shows up; the board's bootloader comes up
    // under another name among the probed ports, and only after "j".
    std::string boot = shell_test_ports_folder() + "/ttyACM9";
    std::string before = shell_test_ports_folder() + "/ttyACM0";
    scratch_write(before, "");  // a port that was there all along
    start_sim({"--bootloader-link", boot, "--flash-out", dir + "/flash.bin"});
    EXPECT_FALSE(g_file_test(boot.c_str(), G_FILE_TEST_EXISTS));
    options_set_string(&options_bootloader_port_string, (dir + "/configured").c_str());
    start_update(chosen_hex());
    ASSERT_TRUE(wait_idle(60000));
    g_remove(before.c_str());
    EXPECT_EQ(shell_status_text(), " Firmware update succeeded");
    expect_avrdude_log(boot, "Completed");
    // The simulator's bootloader goes away once avrdude has left it.
    EXPECT_TRUE(shell_pump_until([&] { return !g_file_test(boot.c_str(), G_FILE_TEST_EXISTS); },
                                 5000));
    sim_stop(&sim);
    std::string expected = drive_hex_data(firmware);
    std::string flashed = scratch_read(dir + "/flash.bin");
    ASSERT_GE(flashed.size(), expected.size());
    EXPECT_EQ(flashed.substr(0, expected.size()), expected);
}

TEST_F(DriveMaintenance, UpdateFailuresLeaveNoFirmwareFile)
{
    start_sim({});
    // No bootloader port: refused before the file is written.
    options_set_string(&options_bootloader_port_string, "");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_update")));
    EXPECT_EQ(shell_status_text(), " Error: Invalid bootloader port");
    EXPECT_FALSE(operation_is_running());
    EXPECT_FALSE(firmware_file_exists());
    EXPECT_EQ(log_text(), "");

    // No bootloader port appears: avrdude is not started.
    std::string hex = chosen_hex();
    options_set_string(&options_bootloader_port_string, (dir + "/nothing-here").c_str());
    start_update(hex);
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 60000));
    EXPECT_EQ(shell_status_text(), " Firmware update failed: No bootloader port appeared");
    EXPECT_EQ(log_text().find("avrdude"), std::string::npos) << log_text();

    // avrdude finds no bootloader at the port and exits with an error.
    options_set_string(&options_bootloader_port_string, "/dev/null");
    start_update(hex);
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 60000));
    EXPECT_EQ(shell_status_text(), " Firmware update failed: The avrdude executable exited with error");
    expect_avrdude_log("/dev/null", "Failed");
    EXPECT_FALSE(firmware_file_exists());

    // avrdude cannot be started at all.
    std::string path = g_getenv("PATH");
    g_setenv("PATH", dir.c_str(), TRUE);
    start_update(hex);
    ASSERT_TRUE(wait_idle(20000));
    g_setenv("PATH", path.c_str(), TRUE);
    EXPECT_EQ(shell_status_text(), " Firmware update failed: Unable to start the avrdude executable");
    EXPECT_FALSE(firmware_file_exists());

    // Abort while waiting for the bootloader.
    start_update(hex);
    shell_pump(300);
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 60000));
    EXPECT_EQ(shell_status_text(), " Firmware update aborted");
    EXPECT_FALSE(firmware_file_exists());

    // The worker thread cannot be created.
    operation_thread_create = [](const char *, void (*)(void), GError **error) {
        g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no threads");
        return 0;
    };
    start_update(hex);
    EXPECT_EQ(shell_status_text(), " Failed: no threads");
    EXPECT_FALSE(firmware_file_exists());
    EXPECT_FALSE(operation_is_running());
}

TEST_F(DriveMaintenance, AbortWhileWaitingForTheBootloaderFlashesNothing)
{
    std::string boot = dir + "/boot";
    start_sim({"--bootloader-link", boot, "--flash-out", dir + "/flash.bin"});
    options_set_string(&options_bootloader_port_string, boot.c_str());
    start_update(chosen_hex());
    // The jump into the bootloader has gone out: the two-second wait runs.
    ASSERT_TRUE(shell_pump_until([this] { return commands().find("j\n") != std::string::npos; }, 5000));
    shell_pump(300);
    ASSERT_TRUE(operation_is_running());
    gint64 pressed = g_get_monotonic_time();
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 60000));
    EXPECT_LT((g_get_monotonic_time() - pressed) / 1e6, 0.2);
    EXPECT_EQ(shell_status_text(), " Firmware update aborted");
    EXPECT_EQ(log_text(), "================================\nUpdating device firmware\nAborted\n");
    EXPECT_FALSE(firmware_file_exists());
    // Give a late avrdude the time it would need to reach the bootloader.
    shell_pump(2500);
    sim_stop(&sim);
    started = false;
    EXPECT_FALSE(g_file_test((dir + "/flash.bin").c_str(), G_FILE_TEST_EXISTS))
        << "avrdude ran after Abort";
}

TEST_F(DriveMaintenance, UpdateStopsWhenTheDeviceCannotBeReset)
{
    start_sim({"--silent-after", "0"});
    options_set_string(&options_bootloader_port_string, "/dev/null");
    start_update(chosen_hex());
    shell_pump(200);
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(shell_pump_until([] { return !operation_is_running(); }, 2000));
    EXPECT_EQ(shell_status_text(), " Firmware update aborted");
    EXPECT_FALSE(firmware_file_exists());
    EXPECT_EQ(commands().find("j"), std::string::npos);
}

}  // namespace
