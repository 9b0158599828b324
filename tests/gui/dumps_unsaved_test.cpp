// A read the window holds but no file does: "Save image as..." keeps it
// after a cancelled or failed save, an abort or a hang-up; whatever would
// drop it asks first; a re-read asks before it takes another disk's sectors;
// a signal that ends the window saves it.
#include <gtest/gtest.h>
#include <glib/gstdio.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/app/startup.h"
#include "gui/jobs/unsaved.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/log.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

std::string memory_image()
{
    return std::string((const char *)d64_storage, (size_t)filer_image_size_to_save(d64_storage));
}

class Unsaved : public DumpsTest {
protected:
    void SetUp() override
    {
        DumpsTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        prepare_quiet_window(false);
        d64_storage_init_and_set_to_not_ready();
    }
    void TearDown() override
    {
        if (!IsSkipped()) {
            gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
            dumps_set_auto_naming(false);
            filer_forget_image_path();
            unsaved_forget();
        }
        DumpsTest::TearDown();
    }
    // A whole-disk read whose save is cancelled.
    void read_unsaved()
    {
        auto answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
        ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
        ASSERT_TRUE(*answered);
        ASSERT_TRUE(unsaved_pending());
    }
    // Whether the File menu, opened, offers "Save image as...".
    bool save_offered()
    {
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_file")));
        bool offered = gtk_widget_get_sensitive(w("menuitem_save_image_as"));
        if (offered && !shell_screenshot_dir().empty())
            shell_snap_window(gtk_widget_get_toplevel(w("menuitem_file_menu")),
                              shell_screenshot_dir() + "/file_menu_save_image_as.png");
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(w("menubar_main")));
        return offered;
    }
    // "Save image as..." into out/name: the file holds the image in memory,
    // byte for byte, with its log, and re-reads go to it.
    void save_as(const std::string &name)
    {
        std::string path = out + "/" + name;
        auto chosen = shell_choose_save(out, name, 0);
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_save_image_as")));
        ASSERT_TRUE(*chosen);
        EXPECT_EQ(scratch_read(path), memory_image());
        EXPECT_NE(scratch_read(path + ".log").find("Log file "), std::string::npos);
        EXPECT_FALSE(unsaved_pending());
        EXPECT_STREQ(utf8_path_lastopenfile_d64, path.c_str());
    }
    // The next yes/no question answered with `response`; its text lands
    // in the returned string.
    std::shared_ptr<std::string> question(int response)
    {
        auto text = std::make_shared<std::string>();
        shell_answer_dialog("dialog_yes_no_confirmation", response, [text](GtkWidget *dialog) {
            *text = gtk_label_get_text(
                GTK_LABEL(lookup_widget(dialog, "label_yes_no_confirmation")));
            if (!shell_screenshot_dir().empty() && text->find("Quit and") != std::string::npos)
                shell_snap_window(dialog, shell_screenshot_dir() + "/unsaved_read_question.png");
        });
        return text;
    }
};

TEST_F(Unsaved, CancelledSaveKeepsTheReadAndRereadsSaveItFirst)
{
    start_sim();
    EXPECT_FALSE(save_offered()) << "nothing read yet";
    read_unsaved();
    EXPECT_TRUE(save_offered());

    // A re-read needs the image in a file: declining the save writes nothing.
    auto declined = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    ASSERT_TRUE(*declined);
    EXPECT_NE(shell_status_text(), " First dump a disk or load a disk image");
    EXPECT_EQ(scratch_list(out), "");
    EXPECT_TRUE(unsaved_pending());

    // Accepting it saves the image, and the re-read works on that file.
    std::string kept = out + "/kept.d64";
    auto chosen = shell_choose_save(out, "kept.d64", 0);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    ASSERT_TRUE(*chosen);
    EXPECT_STREQ(utf8_path_lastopenfile_d64, kept.c_str());
    EXPECT_EQ(scratch_read(kept), memory_image());
    EXPECT_FALSE(unsaved_pending());
}

TEST_F(Unsaved, FailedSaveNamesItsReasonKeepsTheNameAndLetsTheUserSaveElsewhere)
{
    start_sim();
    dumps_set_auto_naming(true, out, false, 7);
    // Files may not grow past 4 KiB: the image's write fails halfway.
    ASSERT_TRUE(scratch_file_size_limit(4096));
    bool ended = run("menuitem_dump_the_whole_disk");
    scratch_file_size_unlimit();
    ASSERT_TRUE(ended);

    EXPECT_EQ(shell_status_text(), " Imaging failed: Unable to save to file: File too large");
    EXPECT_EQ(scratch_list(out), "") << "no temporary file stays";
    EXPECT_EQ(gtk_spin_button_get_value_as_int(
                  GTK_SPIN_BUTTON(w("spinbutton_disk_dump_auto_naming_offset"))),
              7);
    EXPECT_TRUE(gtk_toggle_button_get_active(
        GTK_TOGGLE_BUTTON(w("radiobutton_disk_dump_auto_naming_side_a"))));
    EXPECT_TRUE(unsaved_pending());
    EXPECT_TRUE(save_offered());
    save_as("elsewhere.d64");
}

TEST_F(Unsaved, AbortInTheRereadPhaseAndHangUpInThePassKeepTheRead)
{
    disk.error(20, 3) = 0x05;
    start_sim();
    dumps_prepare_window(200, 1000, 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_the_whole_disk")));
    bool retrying = shell_pump_until(
        [] { return strstr(log_warpsave_get_str(), "Retrying t/s 20/3") != nullptr; }, 30000);
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    ASSERT_TRUE(retrying);
    ASSERT_TRUE(dumps_wait_idle());
    EXPECT_EQ(shell_status_text(), " Imaging aborted: please wait for the drive to finish");
    EXPECT_TRUE(save_offered());
    save_as("aborted.d64");
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 20, 3), 0x05);

    // The board hangs up halfway through the pass: what arrived is kept.
    start_sim({"--hangup-after", "60000"});
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    EXPECT_EQ(shell_status_text().rfind(" Imaging failed: ", 0), 0u) << shell_status_text();
    ASSERT_TRUE(sector_grid_image_holds_read_data());
    EXPECT_EQ(d64_get_block_error_info(d64_storage, TRACKS, 0), 0x03);
    EXPECT_TRUE(save_offered());
    save_as("hangup.d64");
}

TEST_F(Unsaved, DroppingAnUnsavedReadAsksFirstNamingIt)
{
    start_sim();
    read_unsaved();
    const std::string image = memory_image();
    const size_t reads = w2().size();
    const std::string loadable = out + "/other.d64";
    ASSERT_TRUE(scratch_write(loadable, disk.file(true)));

    // Another read, a load and a restore, each declined: nothing changes.
    auto asked = question(GTK_RESPONSE_NO);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_track_18_only")));
    EXPECT_FALSE(operation_is_running());
    EXPECT_NE(asked->find("The whole-disk read of \"RESCUE ME\" is not saved"), std::string::npos)
        << *asked;
    EXPECT_NE(asked->find("Start another read and lose it?"), std::string::npos) << *asked;

    asked = question(GTK_RESPONSE_NO);
    auto loaded = shell_choose_load(loadable, 0);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_load_d64_file_for_rereads")));
    ASSERT_TRUE(shell_pump_until([loaded] { return *loaded; }, 5000));
    EXPECT_NE(asked->find("Load another image and lose it?"), std::string::npos) << *asked;

    asked = question(GTK_RESPONSE_NO);
    gtk_button_clicked(GTK_BUTTON(w("button_load_image_from_D64")));
    EXPECT_NE(asked->find("Restore an image and lose it?"), std::string::npos) << *asked;
    EXPECT_FALSE(operation_is_running());

    asked = question(GTK_RESPONSE_NO);
    EXPECT_TRUE(on_window_main_delete_event(window_main, nullptr, nullptr));
    EXPECT_NE(asked->find("Quit and lose it?"), std::string::npos) << *asked;

    EXPECT_EQ(memory_image(), image);
    EXPECT_EQ(w2().size(), reads);
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
    EXPECT_TRUE(unsaved_pending());

    // Agreed to, the load goes ahead; with nothing unsaved, quitting asks
    // only the usual question.
    asked = question(GTK_RESPONSE_YES);
    loaded = shell_choose_load(loadable, 0);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_load_d64_file_for_rereads")));
    ASSERT_TRUE(shell_pump_until([loaded] { return *loaded; }, 5000));
    EXPECT_STREQ(utf8_path_lastopenfile_d64, loadable.c_str());
    EXPECT_FALSE(unsaved_pending());
    asked = question(GTK_RESPONSE_NO);
    EXPECT_TRUE(on_window_main_delete_event(window_main, nullptr, nullptr));
    EXPECT_EQ(*asked, "Are you sure you want to quit?");
}

TEST_F(Unsaved, RereadAsksBeforeItTakesAnotherDisksSectors)
{
    disk.error(20, 3) = 0x05;
    dumps_disk other = disk;
    memcpy(other.block(18, 0) + 0x90, "OTHER DISK\xa0\xa0\xa0\xa0\xa0\xa0", 16);
    start_sim({}, &other);
    auto chosen = shell_choose_save(out, "a.d64", 0);
    ASSERT_TRUE(run("menuitem_dump_the_whole_disk"));
    ASSERT_TRUE(*chosen);
    const std::string saved = scratch_read(out + "/a.d64");
    const size_t reads = w2().size();

    // Disk B in the drive: refused, no sector taken but its header.
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 1);
    auto asked = question(GTK_RESPONSE_NO);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_NE(asked->find("\"OTHER DISK,"), std::string::npos) << *asked;
    EXPECT_NE(asked->find("\"RESCUE ME,"), std::string::npos) << *asked;
    EXPECT_EQ(shell_status_text(), " Re-reading failed: Another disk is in the drive");
    EXPECT_EQ(scratch_read(out + "/a.d64"), saved);
    EXPECT_EQ(memory_image(), saved);
    ASSERT_EQ(w2().size(), reads + 1);
    EXPECT_EQ(w2().back().rfind("w2 9 18 0", 0), 0u) << w2().back();

    // Told to go on, it re-reads that disk.
    asked = question(GTK_RESPONSE_YES);
    ASSERT_TRUE(run("menuitem_reread_all_sectors"));
    EXPECT_NE(dumps_count(scratch_read(dir + "/commands.log"), "w2 9 20 3"), 0);
}

TEST_F(Unsaved, ASignalAbortsTheReadAndSavesWhatArrivedBeforeTheWindowEnds)
{
    // A real drive's pace: the signal comes in the middle of the pass.
    start_sim({"--drive-timing"});
    dumps_set_auto_naming(true, out);
    g_free(options_d64_dir_string);
    options_d64_dir_string = g_strdup(out.c_str());
    startup_watch_signals();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_the_whole_disk")));
    shell_pump(800);
    ASSERT_TRUE(operation_is_running());
    kill(getpid(), SIGTERM);
    ASSERT_TRUE(shell_pump_until([&] { return !unsaved_pending() && !operation_is_running(); },
                                 15000));
    EXPECT_TRUE(flag_abort_requested.load());
    std::string listed = scratch_list(out);
    ASSERT_NE(listed.find(".d64.log"), std::string::npos) << listed;
    std::string kept = out + "/" + listed.substr(0, listed.find(".d64") + 4);
    EXPECT_TRUE(scratch_read(kept) == memory_image()) << listed;
    EXPECT_TRUE(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS) > 0)
        << "only a part was read";
}

}  // namespace
