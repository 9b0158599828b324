#include "fixtures.h"

#include <glib/gstdio.h>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "gui/jobs/unsaved.h"
#include "image/imagefile.h"
#include "tests/gui/support/dumps_support.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/dialogs.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

void WindowTest::SetUp()
{
    shell_test_start();
    dir = scratch_dir_new();
}

void WindowTest::TearDown()
{
    // A read a test left unsaved would make the next test's first read ask.
    unsaved_forget();
    // A test skipped before set-up has no folder.
    if (!dir.empty())
        scratch_dir_remove(dir);
}

void WindowTest::log_clear()
{
    log_mark = shell_log_text().size();
}

std::string WindowTest::log_text()
{
    return shell_log_text().substr(log_mark);
}

GtkWidget *WindowTest::w(const char *name)
{
    return lookup_widget(window_main, name);
}

bool WindowTest::starts_with(const std::string &s, const std::string &head)
{
    return s.compare(0, head.size(), head) == 0;
}

bool WindowTest::ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void DeviceTest::TearDown()
{
    stop_sim();
    if (fake.worker.joinable())
        fake_monitor_stop(&fake);
    WindowTest::TearDown();
}

void DeviceTest::start_sim(std::vector<std::string> args)
{
    stop_sim();
    args.push_back("--log");
    args.push_back(dir + "/commands.log");
    ASSERT_TRUE(sim_start(&sim, args));
    started = true;
    options_set_string(&options_device_port_string, sim.port.c_str());
}

void DeviceTest::stop_sim()
{
    if (started)
        sim_stop(&sim);
    started = false;
}

void DeviceTest::start_fake(std::map<std::string, std::string> answers)
{
    fake.answers = std::move(answers);
    ASSERT_TRUE(fake_monitor_start(&fake));
    options_set_string(&options_device_port_string, fake.path.c_str());
}

bool DeviceTest::wait_idle(int timeout_ms)
{
    return shell_pump_until([] { return !operation_is_running(); }, timeout_ms);
}

std::string DeviceTest::commands()
{
    return scratch_read(dir + "/commands.log");
}

std::string DeviceTest::job_commands()
{
    std::string all = commands(), kept;
    for (size_t at = 0, end; at < all.size(); at = end + 1) {
        end = all.find('\n', at);
        if (end == std::string::npos)
            end = all.size();
        if (all.compare(at, 3, "de ") != 0)
            kept += all.substr(at, end - at) + "\n";
    }
    return kept;
}

void DriveTest::SetUp()
{
    DeviceTest::SetUp();
    saved_drive = combo_active_drive_get_index();
    saved_drive_option = options_drive_index;
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
    log_clear();
}

void DriveTest::TearDown()
{
    DeviceTest::TearDown();
    // Later tests of the window expect what start-up left.
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), saved_drive);
    options_drive_index = saved_drive_option;
    gtk_window_set_title(GTK_WINDOW(window_main), "Dravlen client");
}

void ImagingTest::SetUp()
{
    DeviceTest::SetUp();
    saved_state = img_window_state_save();
}

void ImagingTest::TearDown()
{
    DeviceTest::TearDown();
    if (saved_state)
        img_window_state_restore(saved_state);
    saved_state = nullptr;
}

void DumpsTest::SetUp()
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    DeviceTest::SetUp();
    out = dir + "/out";
    g_mkdir(out.c_str(), 0700);
    ASSERT_TRUE(dumps_build_disk(dir, TRACKS, &disk));
    options_retry_sectors_once_per_pass = 0;
    options_first_sector_in_dir_order = 0;
    options_special_flags_before_offset = 0;
    options_append_disk_name = 1;
    options_create_md5_digest = 0;
    options_file_extensions_uppercase = 0;
    options_verify_after_restore = 0;  // the restore tests verify on their own
}

void DumpsTest::prepare_quiet_window(bool auto_naming)
{
    options_confirm_overwrite = 0;
    request_confirmation_to_modify_disk = 0;
    dumps_prepare_window(0, 1000, 1);
    if (auto_naming)
        dumps_set_auto_naming(true, out);
    else
        dumps_set_auto_naming(false);
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = nullptr;
    filer_forget_image_path();
    shell_log_clear();
}

void DumpsTest::start_sim(std::vector<std::string> extra, bool with_drive)
{
    // The disk is written before the simulator starts reading it.
    stop_sim();
    std::string served = dir + "/served.d64";
    ASSERT_TRUE(scratch_write(served, disk.file()));
    std::vector<std::string> args;
    if (with_drive)
        args = {"--drive", "8=" + served};
    args.insert(args.end(), extra.begin(), extra.end());
    DeviceTest::start_sim(args);
}

void DumpsTest::start_sim(std::vector<std::string> extra, const dumps_disk *second)
{
    if (second) {
        ASSERT_TRUE(scratch_write(dir + "/second.d64", second->file()));
        extra.insert(extra.begin(), {"--drive", "9=" + dir + "/second.d64"});
    }
    start_sim(extra, true);
}

bool DumpsTest::run(const char *menu_item, int timeout_ms)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(w(menu_item)));
    return dumps_wait_idle(timeout_ms);
}

std::vector<std::string> DumpsTest::w2()
{
    return sim_logged_commands(dir + "/commands.log", "w2 ");
}

std::vector<std::string> DumpsTest::sector_reads()
{
    std::vector<std::string> reads = w2();
    if (!reads.empty() && reads.front().size() > 8 && reads.front().substr(4) == " 18 0")
        reads.erase(reads.begin());
    return reads;
}
