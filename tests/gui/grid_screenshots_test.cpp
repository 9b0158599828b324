// Screenshots of the sector grid after a mixed-status image is loaded and of
// the sector contents window in both fonts, for looking at them.  Runs only
// when DRAVLEN_SCREENSHOT_DIR names the folder to write grid_*.png and
// sector_contents_*.png into (scripts/screenshots_views.sh sets it).
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "engine/operation_state.h"
#include "image/d64.h"
#include "tests/gui/support/grid_support.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

TEST(GridScreenshots, MixedStatusGridAndSectorContentsInBothFonts)
{
    std::string dir = shell_screenshot_dir();
    if (dir.empty())
        GTEST_SKIP() << "DRAVLEN_SCREENSHOT_DIR not set";
    shell_test_start();
    std::string prefix = dir + (TRACKS == 40 ? "/grid40_" : "/grid_");

    std::string error;
    std::vector<cc1541_file> files(3);
    files[0].name = "HELLO WORLD";
    files[0].data_size = 3000;
    files[1].name = "DEMO";
    files[1].data_size = 9000;
    files[2].name = "NOTES";
    files[2].type = "SEQ";
    files[2].data_size = 1500;
    ASSERT_TRUE(grid_load_cc1541_disk("SCREENSHOT DISK", files, &error)) << error;
    // A disk as a worn floppy comes back: an inwards shift, a track without
    // sync, scattered checksum and decoding errors.
    for (int t = 1; t <= 2; t++)
        d64_set_track_error_info(d64_storage, t, D64_ERR_INACCESSIBLE);
    d64_set_track_error_info(d64_storage, 9, D64_ERR_NO_SYNC);
    for (int s = 3; s < 15; s += 4)
        d64_set_block_error_info(d64_storage, 12, s, D64_ERR_CHECKSUM);
    d64_set_block_error_info(d64_storage, 20, 7, D64_ERR_GCR);
    d64_set_block_error_info(d64_storage, 27, 2, 0x00);
    ped.outmost_track = 1;
    notebook_main_set_page(0);
    for (int e : {2, 1}) {
        gtk_menu_item_activate(
            GTK_MENU_ITEM(lookup_widget(window_main, e == 1 ? "menuitem_zoom_2x" : "menuitem_zoom_4x")));
        // A re-read in progress on track 30.
        drawingarea_sector_grid_activate_cell(30, 0, CELL_READING);
        drawingarea_sector_grid_activate_cell(30, 1, CELL_RETRYING);
        std::string zoom = e == 1 ? "2x" : "4x";
        EXPECT_TRUE(shell_snap_window(window_main, prefix + "main_window_" + zoom + ".png"));
        EXPECT_TRUE(sector_grid_write_png((prefix + "export_" + zoom + ".png").c_str()));
    }

    if (TRACKS == 40)
        return;  // the window is the same in both builds
    GtkWidget *petscii = lookup_widget(window_sector_contents, "checkbutton_sector_contents_petscii");
    int t = 0, s = 0;
    ASSERT_TRUE(grid_file_start(0, &t, &s));
    for (int quoted = 0; quoted <= 1; quoted++) {
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(petscii), quoted);
        window_sector_contents_update(18, 1, d64_get_block_error_info(d64_storage, 18, 1));
        std::string font = quoted ? "petscii" : "screen_codes";
        EXPECT_TRUE(
            shell_snap_window(window_sector_contents, dir + "/sector_contents_dir_" + font + ".png"));
    }
    window_sector_contents_update(t, s, d64_get_block_error_info(d64_storage, t, s));
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(lookup_widget(window_sector_contents, "radiobutton_sector_contents_zoom_level2")),
        TRUE);
    EXPECT_TRUE(shell_snap_window(window_sector_contents, dir + "/sector_contents_file_2x.png"));
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(lookup_widget(window_sector_contents, "radiobutton_sector_contents_zoom_level1")),
        TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(petscii), FALSE);
    gtk_widget_hide(window_sector_contents);
}

}  // namespace
