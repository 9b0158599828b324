// Fixture bases for the tests of the main window: the one start-up, a
// scratch folder, the simulator or a scripted monitor as the port, and
// putting back what a test changed in the window that later tests of the
// same process see.
#pragma once

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <map>
#include <string>
#include <vector>

#include "tests/gui/support/drive_support.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/support/sim_process.h"

// The window started and a scratch folder `dir`, removed afterwards.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The log since log_clear(); the start-up lines stay for other tests.
    void log_clear();
    std::string log_text();

    static GtkWidget *w(const char *name);
    static bool starts_with(const std::string &s, const std::string &head);
    static bool ends_with(const std::string &s, const std::string &tail);

    std::string dir;
    size_t log_mark = 0;
};

// Also a device on the port; stopped afterwards.
class DeviceTest : public WindowTest {
protected:
    void TearDown() override;

    // Starts the simulator with `args`, logging its commands into dir, and
    // makes it the port (one left running is stopped first).
    void start_sim(std::vector<std::string> args);
    void stop_sim();
    // Makes a scripted monitor answering `answers` the port.
    void start_fake(std::map<std::string, std::string> answers);
    // Pumps until the running operation has finished.
    bool wait_idle(int timeout_ms = 20000);
    // The simulator's command log so far.
    std::string commands();
    // The same without the "de N" with which every job first makes sure its
    // drive is there.
    std::string job_commands();

    sim_process sim{};
    bool started = false;
    fake_monitor fake;
};

// Also puts back the drive chosen and the window title, which the drive
// operations change; runs with drive 8 chosen.
class DriveTest : public DeviceTest {
protected:
    void SetUp() override;
    void TearDown() override;

    int saved_drive = 0, saved_drive_option = 0;
};

// Also puts back every control and option an imaging test changes (see
// img_window_state).
class ImagingTest : public DeviceTest {
protected:
    void SetUp() override;
    void TearDown() override;

    img_window_state *saved_state = nullptr;
};

// Also a cc1541 disk `disk` to serve (skipped without cc1541), a folder
// `out` for saved images and the options a dump's file names follow.
class DumpsTest : public DeviceTest {
protected:
    void SetUp() override;

    // The simulator serving `disk` as drive 8 (no drive at all when
    // with_drive is false) or also `second` as drive 9, with `extra` args.
    void start_sim(std::vector<std::string> extra = {}, bool with_drive = true);
    void start_sim(std::vector<std::string> extra, const dumps_disk *second);
    // Starts the menu item's operation and pumps until it has finished.
    bool run(const char *menu_item, int timeout_ms = 60000);
    // The sector reads the simulator was asked for.
    std::vector<std::string> w2();
    // The same without the header read (18/0) with which a re-read first
    // compares the disk in the drive with the image.
    std::vector<std::string> sector_reads();
    // No question about overwriting or modifying a disk, a re-read limit of
    // 1000 errors, automatic naming into `out` or none, no image file and
    // an empty log: what the tests of saving and keeping reads start from.
    void prepare_quiet_window(bool auto_naming);

    std::string out;
    dumps_disk disk;
};
