// The sector grid as the main window hosts it: colours after repaints from
// the image, one-cell repaints from activation records with their log
// lines, zoom, PNG export, tooltips and Ctrl+clicks.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstring>
#include <memory>
#include <string>

#include "gui/jobs/operation.h"
#include "gui/windows/log.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/grid_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

const grid_rgb WHITE = {255, 255, 255};
const grid_rgb BLACK = {0, 0, 0};
const grid_rgb DARK_GREY = grid_rgb_of(0.266, 0.266, 0.266);
const grid_rgb RED = grid_rgb_of(0.806, 0.215, 0.168);
const grid_rgb YELLOW = grid_rgb_of(0.888, 0.888, 0.168);
const grid_rgb GREEN = grid_rgb_of(0.344, 0.551, 0.262);
const grid_rgb VIOLET = grid_rgb_of(0.422, 0.367, 0.707);

GtkWidget *main_item(const char *name)
{
    return lookup_widget(window_main, name);
}

void zoom(int e)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(main_item(e == 1 ? "menuitem_zoom_2x" : "menuitem_zoom_4x")));
}

int px()
{
    return (TRACKS == 40 ? 5 : 6) << options_expansion;
}

int py()
{
    return 6 << options_expansion;
}

// Colour in the middle of a cell, away from the cross and the circle.
grid_rgb cell_colour(int track, int sector)
{
    GdkRectangle r;
    sector_grid_cell_rectangle(track, sector, &r);
    return grid_surface_pixel(r.x + r.width - 2, r.y + r.height / 2);
}

#define EXPECT_COLOUR(actual, expected)                                                    \
    EXPECT_TRUE(grid_rgb_near((actual), (expected)))                                       \
        << grid_rgb_text(actual) << " instead of " << grid_rgb_text(expected)

// Chooses dir/name in the next save chooser.
std::shared_ptr<bool> choose_save(const std::string &dir, const std::string &name)
{
    return shell_choose_save(dir, name);
}

GdkEventButton press(double x, double y, guint state, guint button = 1,
                     GdkEventType type = GDK_BUTTON_PRESS)
{
    GdkEventButton event;
    memset(&event, 0, sizeof event);
    event.type = type;
    event.x = x;
    event.y = y;
    event.state = state;
    event.button = button;
    return event;
}

class Grid : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        options_sector_da_bg_color = {65535, 65535, 65535};
        options_file_extensions_uppercase = 0;
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
        ped.outmost_track = 1;
        notebook_main_set_page(0);
        zoom(1);
        gtk_widget_hide(window_sector_contents);
        // Choosers open where the test saves: no folder change to wait for.
        options_set_string(&options_png_dir_string, dir.c_str());
        shell_log_clear();
    }
    void TearDown() override
    {
        log_warpsave_delete();
        WindowTest::TearDown();
    }
};

// Tracks 1-2 inaccessible (as after an inwards shift), then one track per
// error byte, and single odd sectors; the rest read correctly.
void load_mixed_status_image()
{
    d64_storage_init_and_set_to_not_ready();
    grid_set_all_errors(D64_ERR_OK);
    for (int t = 1; t <= 2; t++)
        d64_set_track_error_info(d64_storage, t, D64_ERR_INACCESSIBLE);
    d64_set_track_error_info(d64_storage, 3, D64_ERR_NO_SYNC);
    d64_set_track_error_info(d64_storage, 4, D64_ERR_CHECKSUM);
    d64_set_track_error_info(d64_storage, 5, D64_ERR_GCR);
    d64_set_block_error_info(d64_storage, 6, 0, 0x00);
    d64_set_block_error_info(d64_storage, 6, 1, 0x10);
    d64_set_block_error_info(d64_storage, 6, 2, 0x02);
    d64_set_block_error_info(d64_storage, 6, 3, 0xFF);
    drawingarea_sector_grid_refresh_from_error_info();
}

void expect_mixed_status_colours()
{
    for (int t = 1; t <= 2; t++) {
        GdkRectangle r;
        sector_grid_cell_rectangle(t, 0, &r);
        // Black corner, red cross through the middle.
        EXPECT_COLOUR(grid_surface_pixel(r.x + r.width - 1, r.y), BLACK);
        grid_rgb mid = grid_surface_pixel(r.x + r.width / 2, r.y + r.height / 2);
        EXPECT_GT(mid.r, 100) << t;
        EXPECT_EQ(mid.g, 0);
    }
    EXPECT_COLOUR(cell_colour(3, 20), DARK_GREY);
    EXPECT_COLOUR(cell_colour(4, 5), YELLOW);
    EXPECT_COLOUR(cell_colour(5, 0), RED);
    for (int s = 0; s < 4; s++)
        EXPECT_COLOUR(cell_colour(6, s), RED) << "6/" << s;
    EXPECT_COLOUR(cell_colour(6, 4), GREEN);
    EXPECT_COLOUR(cell_colour(TRACKS, d64_sectors_of_track(TRACKS) - 1), GREEN);
}

TEST_F(Grid, MixedStatusImageIsPaintedFromItsErrorBytes)
{
    load_mixed_status_image();
    expect_mixed_status_colours();
    // Gaps and the area below short tracks keep the background.
    GdkRectangle r;
    sector_grid_cell_rectangle(7, 0, &r);
    EXPECT_COLOUR(grid_surface_pixel(r.x + r.width, r.y), WHITE);
    EXPECT_COLOUR(grid_surface_pixel(r.x, r.y + r.height), WHITE);
    sector_grid_cell_rectangle(18, 19, &r);
    EXPECT_COLOUR(grid_surface_pixel(r.x + 2, r.y + 2), WHITE);
}

TEST_F(Grid, WidgetShowsTheSurface)
{
    load_mixed_status_image();
    shell_pump(100);
    GdkPixbuf *shot = shell_widget_snapshot(main_item("drawingarea_sectors"));
    ASSERT_NE(shot, nullptr);
    for (int t : {1, 4, 5, 6, 7, TRACKS}) {
        GdkRectangle r;
        sector_grid_cell_rectangle(t, 1, &r);
        int x = r.x + r.width - 2, y = r.y + r.height / 2;
        EXPECT_COLOUR(grid_pixbuf_pixel(shot, x, y), grid_surface_pixel(x, y)) << t;
    }
    g_object_unref(shot);
}

TEST_F(Grid, ExportWritesTheSurfaceAsItStandsAtEitherZoom)
{
    load_mixed_status_image();
    auto answered = choose_save(dir, "grid2x.png");
    on_menuitem_export_sector_grid_to_png_activate(nullptr, nullptr);
    EXPECT_TRUE(*answered);
    GdkPixbuf *png = gdk_pixbuf_new_from_file((dir + "/grid2x.png").c_str(), nullptr);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(png), 420);
    EXPECT_EQ(gdk_pixbuf_get_height(png), 252);
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            GdkRectangle r;
            sector_grid_cell_rectangle(t, s, &r);
            int x = r.x + r.width - 2, y = r.y + r.height / 2;
            ASSERT_TRUE(grid_rgb_near(grid_pixbuf_pixel(png, x, y), grid_surface_pixel(x, y)))
                << t << "/" << s;
        }
    g_object_unref(png);
    EXPECT_EQ(shell_status_text(), " Export succeeded: grid2x.png");
    EXPECT_EQ(shell_log_text(),
              "================================\nExporting sector grid\nCompleted (grid2x.png)\n");

    // 4x keeps background and cell colours.
    options_sector_da_bg_color = {0, 0, 65535};
    zoom(2);
    EXPECT_EQ(cairo_image_surface_get_width(surface_sector_grid), 840);
    EXPECT_EQ(cairo_image_surface_get_height(surface_sector_grid), 504);
    GtkRequisition req;
    gtk_widget_size_request(main_item("drawingarea_sectors"), &req);
    EXPECT_EQ(req.width, 840);
    EXPECT_EQ(req.height, 504);
    answered = choose_save(dir, "grid4x.png");
    on_menuitem_export_sector_grid_to_png_activate(nullptr, nullptr);
    png = gdk_pixbuf_new_from_file((dir + "/grid4x.png").c_str(), nullptr);
    ASSERT_NE(png, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(png), 840);
    EXPECT_EQ(gdk_pixbuf_get_height(png), 504);
    GdkRectangle r;
    sector_grid_cell_rectangle(4, 3, &r);
    EXPECT_EQ(r.x, 3 * px());
    EXPECT_EQ(r.width, px() - 2);
    EXPECT_COLOUR(grid_pixbuf_pixel(png, r.x + 4, r.y + 4), YELLOW);
    EXPECT_COLOUR(grid_pixbuf_pixel(png, r.x + r.width + 1, r.y + 4), (grid_rgb{0, 0, 255}));
    g_object_unref(png);
    expect_mixed_status_colours();
}

TEST_F(Grid, ExportNamesAndRefusals)
{
    d64_storage_init_and_set_to_not_ready();
    char *name = sector_grid_export_suggested_name();
    EXPECT_STREQ(name, "NO NAME.png");
    g_free(name);
    options_file_extensions_uppercase = 1;
    utf8_path_lastopenfile_d64 = g_strdup("/somewhere/My Disk.d64");
    name = sector_grid_export_suggested_name();
    EXPECT_STREQ(name, "My Disk.d64.PNG");
    g_free(name);

    std::string error;
    ASSERT_TRUE(grid_load_cc1541_disk("GAMES #1", {}, &error)) << error;
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = nullptr;
    name = sector_grid_export_suggested_name();
    EXPECT_STREQ(name, "GAMES  1.PNG");
    g_free(name);

    auto answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    on_menuitem_export_sector_grid_to_png_activate(nullptr, nullptr);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(shell_log_text(), "================================\nExporting sector grid\n"
                                "Sector grid not exported at user's request\n");
    EXPECT_EQ(shell_status_text(), " Exporting sector grid");
    EXPECT_EQ(sector_grid_write_png((dir + "/missing/grid.png").c_str()), 0);
}

TEST_F(Grid, ActivationRecordsRepaintOneCellAndLogTheirLine)
{
    load_mixed_status_image();
    log_warpsave_new(0);
    std::string header = log_warpsave_get_str();
    shell_pump(100);
    GdkWindow *window = gtk_widget_get_window(drawingarea_sector_grid);
    ASSERT_NE(window, nullptr);
    gdk_window_process_updates(window, TRUE);

    drawingarea_sector_grid_activate_cell(9, 3, CELL_READING);
    GdkRegion *update = gdk_window_get_update_area(window);
    ASSERT_NE(update, nullptr);
    GdkRectangle box, cell;
    gdk_region_get_clipbox(update, &box);
    gdk_region_destroy(update);
    sector_grid_cell_rectangle(9, 3, &cell);
    EXPECT_EQ(box.x, cell.x);
    EXPECT_EQ(box.y, cell.y);
    EXPECT_EQ(box.width, cell.width);
    EXPECT_EQ(box.height, cell.height);

    // One record per code, posted the way workers post them.
    for (int code = 0; code <= 12; code++)
        sector_grid_queue_cell(10 + code, code, (uint8_t)(0xA0 + code), code);
    shell_pump(200);

    const grid_rgb colours[13] = {BLACK,  DARK_GREY, RED,    YELLOW, GREEN, VIOLET, VIOLET,
                                  RED,    YELLOW,    YELLOW, GREEN,  BLACK,
                                  grid_rgb_of(0.930, 0.520, 0.130)};  // differs from the image
    for (int code = 1; code <= 12; code++)
        EXPECT_COLOUR(cell_colour(10 + code, code), colours[code]) << code;
    EXPECT_COLOUR(cell_colour(10, 1), GREEN);  // a neighbour stays as it was
    EXPECT_COLOUR(cell_colour(9, 3), VIOLET);

    EXPECT_EQ(log_warpsave_get_str(),
              header + "Sync not found for t/s 11/1 \n"
                       "GCR decoding failed for t/s 12/2 \n"
                       "Data checksum failed for t/s 13/3  (checksum: $a3)\n"
                       "Correctly processed t/s 14/4  (checksum: $a4)\n"
                       "Retrying t/s 15/5 \n"
                       "Reading t/s 16/6 \n"
                       "Kept existing t/s 17/7  as the new read is not better\n"
                       "Kept existing t/s 18/8  as the new read is not better\n"
                       "Kept existing t/s 19/9  as the new read is not better "
                       "(new checksum: $a9)\n");
    EXPECT_EQ(shell_log_text(), "Sync not found for t/s 11/1 \n"
                                "GCR decoding failed for t/s 12/2 \n"
                                "Data checksum failed for t/s 13/3  (checksum: $a3)\n");
}

TEST_F(Grid, ResetPaintsCellsDarkGreyAndLeavesTheGaps)
{
    load_mixed_status_image();
    options_sector_da_bg_color = {65535, 0, 0};  // not repainted by a reset
    drawingarea_sector_grid_reset();
    EXPECT_COLOUR(cell_colour(1, 0), DARK_GREY);
    EXPECT_COLOUR(cell_colour(TRACKS, 16), DARK_GREY);
    GdkRectangle r;
    sector_grid_cell_rectangle(1, 0, &r);
    EXPECT_COLOUR(grid_surface_pixel(r.x + r.width, r.y), WHITE);
}

TEST_F(Grid, TooltipNamesTheOwningFileWhereTheDirectoryIsTrusted)
{
    std::string error;
    cc1541_file game;
    game.name = "GAME";
    game.data_size = 700;  // three blocks
    ASSERT_TRUE(grid_load_cc1541_disk("TIPS", {game}, &error)) << error;
    int ft = 0, fs = 0;
    ASSERT_TRUE(grid_file_start(0, &ft, &fs));
    const uint8_t *first = d64_storage + d64_sector_offset(ft, fs);
    int t2 = first[0], s2 = first[1];
    ASSERT_NE(t2, 0);

    auto at = [](int t, int s) {
        char *markup = sector_grid_tooltip_markup((t - 1) * px() + 1, s * py() + 1);
        std::string text = markup ? markup : "(none)";
        g_free(markup);
        return text;
    };
    char buf[128];
    snprintf(buf, sizeof buf, "[\"GAME\": $%02X/$%02X (%d/%d)] ", ft, fs, ft, fs);
    std::string owner = buf;
    snprintf(buf, sizeof buf, " t/s: $%02X/$%02X (%d/%d) ", t2, s2, t2, s2);
    EXPECT_EQ(at(t2, s2), buf + owner);
    snprintf(buf, sizeof buf, " t/s: $%02X/$%02X (%d/%d) ", ft, fs, ft, fs);
    EXPECT_EQ(at(ft, fs), buf + owner);

    ASSERT_EQ(d64_is_sector_allocated(d64_storage, 30, 1), 0);
    EXPECT_EQ(at(30, 1), " t/s: $1E/$01 (30/1) [\"N/A\"] ");
    EXPECT_EQ(at(18, 1), " t/s: $12/$01 (18/1) [\"N/A\"] ");
    // The gap right of and below a cell belongs to that cell.
    char *markup = sector_grid_tooltip_markup(30 * px() - 1, 2 * py() - 1);
    EXPECT_STREQ(markup, " t/s: $1E/$01 (30/1) [\"N/A\"] ");
    g_free(markup);
    // No sector below a short track or right of the last one.
    EXPECT_EQ(sector_grid_tooltip_markup(17 * px() + 1, 19 * py() + 1), nullptr);
    EXPECT_EQ(sector_grid_tooltip_markup(TRACKS * px() + 1, 1), nullptr);
    EXPECT_EQ(sector_grid_tooltip_markup(1, 21 * py() + 1), nullptr);

    // A BAM sector with errors or a bad first link: nobody owns anything.
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_CHECKSUM);
    snprintf(buf, sizeof buf, " t/s: $%02X/$%02X (%d/%d) [\"N/A\"] ", t2, s2, t2, s2);
    EXPECT_EQ(at(t2, s2), buf);
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_OK);
    d64_storage[d64_sector_offset(18, 0) + 1] = 2;
    EXPECT_EQ(at(t2, s2), buf);
}

TEST_F(Grid, CtrlClickOpensTheSectorUnderThePointer)
{
    load_mixed_status_image();
    GtkWidget *area = main_item("drawingarea_sectors");
    GdkEventButton event = press(px(), 0, GDK_CONTROL_MASK);
    EXPECT_TRUE(on_drawingarea_sectors_button_press_event(area, &event, nullptr));
    EXPECT_EQ(sector_contents_track, 2);
    EXPECT_EQ(sector_contents_sector, 0);
    EXPECT_TRUE(gtk_widget_get_visible(window_sector_contents));
    GtkWidget *fdc = lookup_widget(window_sector_contents, "label_sector_contents_fdc_code_value");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(fdc)), "$0F");

    // The gap right of and below track 4, sector 2 still belongs to it;
    // caps lock or other modifiers outside Shift/Ctrl/Alt do not matter.
    event = press(4 * px() - 0.5, 3 * py() - 0.5, GDK_CONTROL_MASK | GDK_LOCK_MASK);
    on_drawingarea_sectors_button_press_event(area, &event, nullptr);
    EXPECT_EQ(sector_contents_track, 4);
    EXPECT_EQ(sector_contents_sector, 2);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(fdc)), "$05");

    // Nothing else opens anything; neither does a sector with error byte 0.
    gtk_widget_hide(window_sector_contents);
    GdkEventButton ignored[] = {
        press(1, 1, 0),
        press(1, 1, GDK_CONTROL_MASK | GDK_SHIFT_MASK),
        press(1, 1, GDK_CONTROL_MASK | GDK_MOD1_MASK),
        press(1, 1, GDK_CONTROL_MASK, 3),
        press(1, 1, GDK_CONTROL_MASK, 1, GDK_2BUTTON_PRESS),
        press(5 * px() + 1, 0 * py() + 1, GDK_CONTROL_MASK),  // 6/0 has error byte 0
    };
    for (GdkEventButton &e : ignored) {
        EXPECT_TRUE(on_drawingarea_sectors_button_press_event(area, &e, nullptr));
        EXPECT_EQ(sector_contents_track, 4);
        EXPECT_FALSE(gtk_widget_get_visible(window_sector_contents));
    }
}

TEST_F(Grid, CtrlClickOnTheEmptyAreaChangesTheBackground)
{
    load_mixed_status_image();
    GtkWidget *area = main_item("drawingarea_sectors");
    std::string before = scratch_read(shell_test_config_path());

    // Below track 18's last sector: the colour dialog, cancelled.
    auto answered = shell_answer_dialog("dialog_colorselection", GTK_RESPONSE_CANCEL);
    GdkEventButton event = press(17 * px() + 1, 19 * py(), GDK_CONTROL_MASK);
    on_drawingarea_sectors_button_press_event(area, &event, nullptr);
    EXPECT_TRUE(*answered);
    EXPECT_FALSE(gtk_widget_get_visible(window_sector_contents));
    GdkRectangle r;
    sector_grid_cell_rectangle(18, 19, &r);
    EXPECT_COLOUR(grid_surface_pixel(r.x + 1, r.y + 1), WHITE);
    EXPECT_EQ(scratch_read(shell_test_config_path()), before);

    answered = shell_answer_dialog("dialog_colorselection", GTK_RESPONSE_OK, [](GtkWidget *d) {
        GdkColor green = {0, 0, 65535, 0};
        gtk_color_selection_set_current_color(
            GTK_COLOR_SELECTION(gtk_color_selection_dialog_get_color_selection(
                GTK_COLOR_SELECTION_DIALOG(d))),
            &green);
    });
    on_drawingarea_sectors_button_press_event(area, &event, nullptr);
    EXPECT_TRUE(*answered);
    EXPECT_COLOUR(grid_surface_pixel(r.x + 1, r.y + 1), (grid_rgb{0, 255, 0}));
    expect_mixed_status_colours();
    EXPECT_NE(scratch_read(shell_test_config_path()).find("sector_da_bg_color_red=0\n"),
              std::string::npos);
}

#if TRACKS == 35
bool has_circle(int t, int s)
{
    GdkRectangle r;
    sector_grid_cell_rectangle(t, s, &r);
    int e = options_expansion;
    // Where the circle outline crosses the row through its centre.
    grid_rgb c = grid_surface_pixel(r.x + (3 << e) + (1 << e) - 1, r.y + (3 << e) - 1);
    return c.r > 200 && c.g > 200 && c.b > 200;
}

TEST_F(Grid, ZoomBringsTheAllocatedSectorCirclesBackOnlyForReadImages)
{
    std::string error;
    cc1541_file game;
    game.name = "GAME";
    game.data_size = 700;
    ASSERT_TRUE(grid_load_cc1541_disk("CIRCLES", {game}, &error)) << error;
    int ft = 0, fs = 0;
    ASSERT_TRUE(grid_file_start(0, &ft, &fs));
    for (int e : {2, 1}) {
        zoom(e);
        EXPECT_TRUE(has_circle(ft, fs)) << e;
        EXPECT_TRUE(has_circle(18, 0)) << e;
        ASSERT_EQ(d64_is_sector_allocated(d64_storage, 30, 1), 0);
        EXPECT_FALSE(has_circle(30, 1)) << e;
        EXPECT_COLOUR(cell_colour(30, 1), GREEN);
    }

    // Tracks before the outermost one do not count as read data.
    ped.outmost_track = 3;
    grid_set_all_errors(D64_ERR_NO_SYNC);
    d64_set_track_error_info(d64_storage, 1, D64_ERR_OK);
    zoom(2);
    EXPECT_FALSE(has_circle(ft, fs));
    EXPECT_EQ(shell_log_text(), "");

    ped.outmost_track = 1;
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_GCR);
    zoom(1);
    EXPECT_FALSE(has_circle(ft, fs));
    EXPECT_EQ(shell_log_text(), "BAM sector contains errors: not marking sectors in use\n");
    shell_log_clear();
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_OK);
    d64_storage[d64_sector_offset(18, 0)] = 19;
    zoom(2);
    EXPECT_FALSE(has_circle(ft, fs));
    EXPECT_EQ(shell_log_text(), "Unexpected first dir t/s link: not marking sectors in use\n");
}
#endif

TEST_F(Grid, ZoomIsSavedAndResizesTheDirectoryListing)
{
    zoom(2);
    EXPECT_EQ(options_expansion, 2);
    EXPECT_NE(scratch_read(shell_test_config_path()).find("expansion=2"), std::string::npos);
    GtkRequisition req;
    gtk_widget_size_request(main_item("drawingarea_directory_listing"), &req);
    EXPECT_EQ(req.width, 896);
    EXPECT_EQ(req.height, 512);
    zoom(1);
    EXPECT_NE(scratch_read(shell_test_config_path()).find("expansion=1"), std::string::npos);
    EXPECT_EQ(cairo_image_surface_get_width(surface_sector_grid), 420);
    EXPECT_EQ(cairo_image_surface_get_height(surface_sector_grid), 252);
}

}  // namespace
