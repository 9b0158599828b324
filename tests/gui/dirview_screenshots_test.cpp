// Screenshots of the directory panel for a 20-file disk (blue, and red when
// the directory came from track 19), plus its PNG export, for looking at
// them.  Runs only when DRAVLEN_SCREENSHOT_DIR names the folder to write
// into (scripts/dirview_screenshots.sh sets it).
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/options.h"
#include "image/d64.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dirview_panel.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

constexpr auto snap = shell_save_snapshot;

std::vector<cc1541_file> twenty_files()
{
    const char *names[] = {"INTRO",        "GAME",          "HIGHSCORES",     "MUSIC DISK",
                           "LOADER",       "PART 2",        "PART 3",         "PICTURES",
                           "NOTES",        "SAVE GAME",     "EDITOR V1.2",    "CHARSET",
                           "SPRITES",      "SEQ DATA",      "USR FILE",       "ABCDEFGHIJKLMNOP",
                           "END",          "BONUS",         "CREDITS",        "README"};
    std::vector<cc1541_file> files;
    for (int i = 0; i < 20; i++) {
        cc1541_file f;
        f.name = names[i];
        f.data_size = 100 + 700 * (size_t)i;
        if (i == 8 || i == 13)
            f.type = "SEQ";
        if (i == 14)
            f.type = "USR";
        if (i == 9)
            f.locked = true;
        if (i == 16)
            f.open = true;
        files.push_back(f);
    }
    return files;
}

TEST(DirviewScreenshots, PanelWithTwentyFiles)
{
    std::string out = shell_screenshot_dir();
    if (out.empty())
        GTEST_SKIP() << "DRAVLEN_SCREENSHOT_DIR not set";
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    shell_test_start();
    // The 2x zoom, through its menu item so the panel gets its size too.
    int saved_expansion = options_expansion;
    gtk_check_menu_item_set_active(
        GTK_CHECK_MENU_ITEM(lookup_widget(window_main, "menuitem_zoom_2x")), TRUE);
    std::string dir = scratch_dir_new();
    std::string disk = dir + "/twenty.d64", error;
    ASSERT_EQ(cc1541_build_d64(disk, "SCREENSHOT DISK", "SD", twenty_files(), &error), 1) << error;
    bool read = false;
    std::string bytes = scratch_read(disk, &read);
    ASSERT_TRUE(read);
    // cc1541 writes 35 tracks; the 40-track store keeps its extra tracks empty.
    memset(d64_storage, 0, (size_t)d64_base_size);
    memcpy(d64_storage, bytes.data(), std::min(bytes.size(), (size_t)d64_base_size));
    memset(d64_storage + d64_base_size, D64_ERR_OK, (size_t)d64_block_error_info_size);

    std::string prefix = out + (TRACKS == 40 ? "/dirview40_" : "/dirview_");
    notebook_main_set_page(1);
    shell_pump_until([] { return dir_filer != nullptr; }, 2000);
    GtkWidget *frame = lookup_widget(window_main, "hbox_files_directory");

    flag_dir_in_track_18 = 1;
    decode_and_show_directory_listing();
    ASSERT_EQ(filer_get_number_items(dir_filer), 20);
    // Current item on the sixth row, page scrolled by two.
    for (int i = 0; i < 15; i++)
        filer_move_down(dir_filer);
    for (int i = 0; i < 8; i++)
        filer_move_up(dir_filer);
    drawingarea_directory_listing_redraw();
    vscrollbar_files_directory_sync();
    EXPECT_TRUE(snap(frame, prefix + "panel.png"));

    // Files the damage report names: the current one and another in light red.
    std::vector<std::vector<std::pair<int, int>>> chains = cc1541_chains(bytes);
    d64_set_block_error_info(d64_storage, chains[7][1].first, chains[7][1].second,
                             D64_ERR_CHECKSUM);
    d64_set_block_error_info(d64_storage, chains[4][0].first, chains[4][0].second,
                             D64_ERR_NO_SYNC);
    dirview_mark_damaged_files(1);
    EXPECT_TRUE(snap(frame, prefix + "panel_damaged.png"));
    memset(d64_storage + d64_base_size, D64_ERR_OK, (size_t)d64_block_error_info_size);
    dirview_mark_damaged_files(1);

    GError *gerror = nullptr;
    EXPECT_EQ(filer_save_dir_listing_to_png(dir_filer, (prefix + "export.png").c_str(), 1, 1,
                                            &gerror), 1);
    g_clear_error(&gerror);

    // Directory only on track 19: the panel turns red.
    memcpy(d64_storage + d64_sector_offset(19, 0), d64_storage + d64_sector_offset(18, 0),
           19 * 256);
    d64_storage[d64_sector_offset(18, 0)] = 0;
    decode_and_show_directory_listing();
    EXPECT_EQ(flag_dir_in_track_18, 0);
    EXPECT_TRUE(snap(frame, prefix + "panel_red.png"));

    flag_dir_in_track_18 = 1;
    drawingarea_directory_listing_reset();
    EXPECT_TRUE(snap(frame, prefix + "placeholder.png"));
    if (saved_expansion == 2)
        gtk_check_menu_item_set_active(
            GTK_CHECK_MENU_ITEM(lookup_widget(window_main, "menuitem_zoom_4x")), TRUE);
    scratch_dir_remove(dir);
}

}  // namespace
