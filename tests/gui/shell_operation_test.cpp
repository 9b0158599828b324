// Operations run end to end from the menu against the device simulator:
// the worker thread, the finisher's verdict, Abort on a silent device and
// the paths where an operation never starts.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <pthread.h>

#include <string>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

class ShellOperation : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
        shell_log_clear();
    }
    void TearDown() override
    {
        operation_thread_create = operation_thread_create_default;
        DeviceTest::TearDown();
    }
    bool wait_idle(int timeout_ms = 10000) { return DeviceTest::wait_idle(timeout_ms); }
};

TEST_F(ShellOperation, GenericCommandCompletes)
{
    start_sim({"--blank", "8"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_initialize")));
    EXPECT_EQ(shell_status_text(), " Initialization requested on drive 8");
    EXPECT_TRUE(operation_is_running());
    EXPECT_FALSE(gtk_widget_get_sensitive(w("button_directory")));
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_abort_operation")));
    ASSERT_TRUE(wait_idle());

    std::string status = shell_status_text();
    EXPECT_EQ(status.rfind(" Command completed in ", 0), 0u) << status;
    EXPECT_TRUE(ends_with(status, " seconds")) << status;
    EXPECT_EQ(shell_log_text(), "================================\nInitializing drive\nCompleted\n");
    EXPECT_EQ(tmr, nullptr);
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_directory")));
    EXPECT_FALSE(gtk_widget_get_sensitive(w("button_abort_operation")));
    EXPECT_NE(commands().find("di 8"), std::string::npos) << commands();
}

TEST_F(ShellOperation, BusResetGoesToTheSelectedDrive)
{
    start_sim({"--blank", "9"});
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reset_the_iec_bus")));
    EXPECT_EQ(shell_status_text(), " Reset of the IEC bus requested");
    ASSERT_TRUE(wait_idle());
    EXPECT_NE(commands().find("rb 9"), std::string::npos) << commands();
    EXPECT_EQ(options_drive_index, 1);
}

TEST_F(ShellOperation, DeviceAnswerBecomesTheFailureText)
{
    start_sim({});  // no drive on the bus
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reset_drive")));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Command failed: Device not present");
    EXPECT_TRUE(ends_with(shell_log_text(), "Resetting drive\nFailed\n")) << shell_log_text();
}

TEST_F(ShellOperation, PortThatCannotBeOpenedFails)
{
    options_set_string(&options_device_port_string, (dir + "/no-such-port").c_str());
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_initialize")));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Command failed: Unable to access communication port to device");
}

TEST_F(ShellOperation, AbortOnASilentDeviceEndsAsAbortedWithinASecond)
{
    // The device sends its first prompt, then never echoes the command.
    start_sim({"--blank", "8", "--silent-after", "4"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_initialize")));
    shell_pump(300);
    ASSERT_TRUE(operation_is_running());

    gint64 t0 = g_get_monotonic_time();
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(wait_idle(1000));
    EXPECT_LT(g_get_monotonic_time() - t0, 1000000);
    EXPECT_EQ(shell_status_text(), " Command aborted: please wait for the drive to finish");
    EXPECT_TRUE(ends_with(shell_log_text(), "Initializing drive\nAborted\n")) << shell_log_text();
    EXPECT_TRUE(gtk_widget_get_sensitive(w("menuitem_tools")));
    EXPECT_FALSE(gtk_widget_get_sensitive(w("button_abort_operation")));
    EXPECT_EQ(flag_abort_requested.load(), 1);  // stays set until the next start
}

TEST_F(ShellOperation, FailureAfterAbortIsReportedAsAborted)
{
    controls_enable(0);
    tmr = g_timer_new();
    flag_abort_requested = 1;
    idle_finish_cmd_execution((gpointer) "Communication error");
    EXPECT_EQ(shell_status_text(), " Command aborted: please wait for the drive to finish");
    EXPECT_EQ(shell_log_text(), "Aborted\n");
    EXPECT_EQ(tmr, nullptr);
    EXPECT_FALSE(operation_is_running());
}

int refuse_thread(const char *, void (*)(void), GError **error)
{
    g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no threads left");
    return 0;
}

bool undone;

TEST_F(ShellOperation, ThreadThatCannotStartLeavesTheWindowIdle)
{
    options_set_string(&options_device_port_string, "/dev/null");
    operation_thread_create = refuse_thread;
    log_warpsave_new(0);
    undone = false;
    operation_start_info info = {" Starting", "Title\n", 1, 1, "test",
                                 [] {}, [] { undone = true; }};
    EXPECT_EQ(operation_start(&info), 0);
    EXPECT_EQ(shell_status_text(), " Failed: no threads left");
    EXPECT_EQ(shell_log_text(), "================================\nTitle\nFailed to start thread\n");
    EXPECT_EQ(tmr, nullptr);
    EXPECT_EQ(log_warpsave, nullptr);
    EXPECT_TRUE(undone);
    EXPECT_FALSE(operation_is_running());
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_save_image_to_D64")));
    EXPECT_FALSE(gtk_widget_get_visible(progressbar_main));
}

// A worker that reports through idle callbacks only, as every job does.
char worker_thread_name[16];

gboolean idle_finish_test(gpointer failure)
{
    if (operation_finish_decide(static_cast<const char *>(failure), " Test aborted",
                                " Test failed: %s") == OPERATION_SUCCEEDED) {
        statusbar_main_update(" Test completed");
        operation_log_completed();
    }
    operation_finish_cleanup();
    return FALSE;
}

void thread_test_worker()
{
    pthread_getname_np(pthread_self(), worker_thread_name, sizeof worker_thread_name);
    for (int i = 1; i <= 4; i++) {
        log_queue_printf("step %d\n", i);
        operation_report_progress(i / 8.0);
    }
    operation_idle_add(idle_finish_test, nullptr);
}

TEST_F(ShellOperation, NamedWorkerReportsInOrderAndEndsInItsFinisher)
{
    options_set_string(&options_device_port_string, "/dev/null");
    worker_thread_name[0] = 0;
    operation_start_info info = {" Testing", "Testing\n", 1, 1, "test_worker",
                                 thread_test_worker, nullptr};
    ASSERT_EQ(operation_start(&info), 1);
    EXPECT_TRUE(gtk_widget_get_visible(progressbar_main));
    ASSERT_TRUE(wait_idle());
    EXPECT_STREQ(worker_thread_name, "test_worker");
    EXPECT_EQ(shell_log_text(), "================================\nTesting\nstep 1\nstep 2\nstep 3\n"
                                "step 4\nCompleted\n");
    EXPECT_EQ(shell_status_text(), " Test completed");
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progressbar_main)), 0.5);
    EXPECT_EQ(flag_abort_requested.load(), 0);
}

TEST_F(ShellOperation, EmptyDevicePortStopsBeforeAnything)
{
    options_set_string(&options_device_port_string, "");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_reset_drive")));
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
    EXPECT_EQ(shell_log_text(), "");
    EXPECT_FALSE(operation_is_running());
}

}  // namespace
