// Screenshots of the main window (each tab) and its dialogs, for looking at
// them.  Runs only when DRAVLEN_SCREENSHOT_DIR names the folder to write
// main_*.png into (scripts/screenshots.sh sets it).
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "gui/windows/log.h"
#include "image/d64.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/filechooser.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

TEST(ShellScreenshots, MainWindowTabsAndDialogs)
{
    std::string dir = shell_screenshot_dir();
    if (dir.empty())
        GTEST_SKIP() << "DRAVLEN_SCREENSHOT_DIR not set";
    shell_test_start();
    std::string prefix = dir + (TRACKS == 40 ? "/main40_" : "/main_");
    log_textview_append("================================\nInitializing drive\nCompleted\n");
    const char *tabs[] = {"tab0_disk_imaging", "tab1_files_directory", "tab2_logging"};
    for (int page = 0; page < 3; page++) {
        notebook_main_set_page(page);
        EXPECT_TRUE(shell_snap_window(window_main, prefix + tabs[page] + ".png"));
    }
    notebook_main_set_page(0);
    // Open menus are separate windows: take them from the screen.
    for (const char *menu : {"menuitem_tools", "menuitem_special_dumps"}) {
        gtk_window_move(GTK_WINDOW(window_main), 0, 0);
        gtk_menu_shell_select_item(GTK_MENU_SHELL(lookup_widget(window_main, "menubar_main")),
                                   lookup_widget(window_main, menu));
        shell_pump(600);
        GdkWindow *root = gdk_get_default_root_window();
        GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(nullptr, root, nullptr, 0, 0, 0, 0, 900, 700);
        ASSERT_NE(shot, nullptr);
        EXPECT_TRUE(gdk_pixbuf_save(shot, (prefix + menu + ".png").c_str(), "png", nullptr, NULL));
        g_object_unref(shot);
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(lookup_widget(window_main, "menubar_main")));
        shell_pump(100);
    }
    if (TRACKS == 40)
        return;
    // The load chooser previewing a disk with two sector errors.
    std::string tmp = scratch_dir_new();
    std::string disk = tmp + "/GAMES.d64";
    std::vector<cc1541_file> files(3);
    files[0].name = "ELITE";
    files[1].name = "PIRATES";
    files[2].name = "M.U.L.E.";
    ASSERT_TRUE(cc1541_build_d64(disk, "GAMES", "01", files));
    std::string image = scratch_read(disk);
    std::string errors(d64_block_error_info_size, '\1');
    errors[3] = 5;
    errors[40] = 15;
    scratch_write(disk, image + errors);
    GtkWidget *chooser = fileopen_create_load_d64_dialog("Select a disk image");
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), tmp.c_str());
    gtk_widget_show(chooser);
    shell_pump(500);
    fileopen_d64_preview_show(chooser, disk.c_str());
    EXPECT_TRUE(shell_snap_window(chooser, dir + "/main_load_d64_chooser.png"));
    gtk_widget_destroy(chooser);
    scratch_dir_remove(tmp);

    GtkWidget *about = create_dialog_about();
    EXPECT_TRUE(shell_snap_window(about, dir + "/main_about.png"));
    gtk_widget_destroy(about);
    GtkWidget *question = create_dialog_yes_no_confirmation();
    gtk_label_set_markup(GTK_LABEL(lookup_widget(question, "label_yes_no_confirmation")),
                         "Are you sure you want to quit?");
    EXPECT_TRUE(shell_snap_window(question, dir + "/main_quit_question.png"));
    gtk_widget_destroy(question);
}

}  // namespace
