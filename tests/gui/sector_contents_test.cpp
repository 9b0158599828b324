// The sector contents window: the dump drawn glyph by glyph in both fonts,
// the labels, stepping through the disk and following block chains made by
// cc1541 (intact and broken), zoom and hiding.
#include <gtest/gtest.h>

#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "image/d64.h"
#include "gui/drawing/c64pixbufs.h"
#include "tests/gui/support/grid_support.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/settings.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

GtkWidget *w(const char *name)
{
    return lookup_widget(window_sector_contents, name);
}

std::string label(const char *name)
{
    return gtk_label_get_text(GTK_LABEL(w(name)));
}

std::string status()
{
    GtkStatusbar *bar = GTK_STATUSBAR(w("statusbar_sector_contents"));
    return gtk_label_get_text(GTK_LABEL(bar->label));
}

// True when the 8 x 8 cell at column/row of the dump holds the glyph.
bool cell_is(int column, int row, GdkPixbuf *glyph)
{
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            grid_rgb a = grid_pixbuf_pixel(pixbuf_sector_contents, column * 8 + x, row * 8 + y);
            grid_rgb b = grid_pixbuf_pixel(glyph, x, y);
            if (a.r != b.r || a.g != b.g || a.b != b.b)
                return false;
        }
    return true;
}

// Every cell of the dump: hex text then the bytes as glyphs of `font`.
void expect_dump(int track, int sector, GdkPixbuf **font)
{
    const uint8_t *data = d64_storage + d64_sector_offset(track, sector);
    for (int row = 0; row < 16; row++)
        for (int i = 0; i < 16; i++) {
            uint8_t byte = data[row * 16 + i];
            char hex[4];
            snprintf(hex, sizeof hex, "%02X ", byte);
            for (int k = 0; k < 3; k++)
                ASSERT_TRUE(cell_is(i * 3 + k, row, font[(uint8_t)hex[k]]))
                    << "hex of byte " << row * 16 + i;
            ASSERT_TRUE(cell_is(48 + i, row, font[byte])) << "glyph of byte " << row * 16 + i;
        }
}

void show(int track, int sector)
{
    window_sector_contents_update(track, sector,
                                  d64_get_block_error_info(d64_storage, track, sector));
    statusbar_sector_contents_update("");
}

void click(const char *button)
{
    gtk_button_clicked(GTK_BUTTON(w(button)));
}

#define EXPECT_SHOWN(t, s)                       \
    do {                                         \
        EXPECT_EQ(sector_contents_track, (t));   \
        EXPECT_EQ(sector_contents_sector, (s));  \
    } while (0)

class SectorContents : public ::testing::Test {
protected:
    void SetUp() override
    {
        shell_test_start();
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("checkbutton_sector_contents_petscii")),
                                     FALSE);
        gtk_toggle_button_set_active(
            GTK_TOGGLE_BUTTON(w("radiobutton_sector_contents_zoom_level1")), TRUE);
        // A test run that went through quitting has released the dump.
        on_drawingarea_sector_contents_configure_event(w("drawingarea_sector_contents"), nullptr,
                                                       nullptr);
        ASSERT_NE(display_sector_contents, nullptr);
        d64_storage_init_and_set_to_not_ready();
        grid_set_all_errors(D64_ERR_OK);
    }
};

TEST_F(SectorContents, DumpShowsHexAndGlyphsInEitherFont)
{
    uint8_t *data = d64_storage + d64_sector_offset(7, 3);
    for (int i = 0; i < 256; i++)
        data[i] = (uint8_t)(255 - i);
    d64_set_block_error_info(d64_storage, 7, 3, D64_ERR_CHECKSUM);
    show(7, 3);
    EXPECT_EQ(label("label_sector_contents_track_and_sector_values"), "$07/$03 (7/3)");
    EXPECT_EQ(label("label_sector_contents_fdc_code_value"), "$05");
    expect_dump(7, 3, c64pixbufs_get_lowercase_font_array());

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("checkbutton_sector_contents_petscii")), TRUE);
    expect_dump(7, 3, c64pixbufs_get_quoted_font_array());
    EXPECT_EQ(display_sector_contents->font_rev, c64pixbufs_get_lowercase_font_array());

    // The dump follows the store whenever it is redrawn.
    data[0] = 0x41;
    drawingarea_sector_contents_update();
    EXPECT_TRUE(cell_is(48, 0, c64pixbufs_get_quoted_font_array()[0x41]));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("checkbutton_sector_contents_petscii")), FALSE);
    expect_dump(7, 3, c64pixbufs_get_lowercase_font_array());
}

TEST_F(SectorContents, FileInfoOnlyFromATrustedDirectoryAndNeverForTrack18)
{
    std::string error;
    cc1541_file game;
    game.name = "GAME!";
    game.data_size = 600;
    ASSERT_TRUE(grid_load_cc1541_disk("INFO", {game}, &error)) << error;
    int ft = 0, fs = 0;
    ASSERT_TRUE(grid_file_start(0, &ft, &fs));
    const uint8_t *first = d64_storage + d64_sector_offset(ft, fs);
    char expected[64];
    snprintf(expected, sizeof expected, "[\"GAME!\": $%02X/$%02X (%d/%d)]", ft, fs, ft, fs);
    show(first[0], first[1]);
    EXPECT_EQ(label("label_sector_contents_file_info"), expected);

    show(18, 1);
    EXPECT_EQ(label("label_sector_contents_file_info"), "[N/A]");
    show(30, 1);
    EXPECT_EQ(label("label_sector_contents_file_info"), "[N/A]");
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_NO_SYNC);
    show(ft, fs);
    EXPECT_EQ(label("label_sector_contents_file_info"), "[N/A]");
}

TEST_F(SectorContents, FollowingAChainToItsEnd)
{
    std::string error;
    cc1541_file game;
    game.name = "CHAIN";
    game.data_size = 600;  // three blocks
    ASSERT_TRUE(grid_load_cc1541_disk("LINKS", {game}, &error)) << error;
    int t = 0, s = 0;
    ASSERT_TRUE(grid_file_start(0, &t, &s));
    show(t, s);
    for (int block = 1; block < 3; block++) {
        const uint8_t *data = d64_storage + d64_sector_offset(t, s);
        t = data[0];
        s = data[1];
        click("button_sector_contents_follow_link");
        EXPECT_SHOWN(t, s);
        EXPECT_EQ(status(), "");
    }
    click("button_sector_contents_follow_link");
    EXPECT_SHOWN(t, s);
    EXPECT_EQ(status(), " No further linked sectors");

    // A sector never read (error byte 0x03) still shows.
    uint8_t *last = d64_storage + d64_sector_offset(t, s);
    last[0] = 1;
    last[1] = 0;
    d64_set_block_error_info(d64_storage, 1, 0, D64_ERR_NO_SYNC);
    click("button_sector_contents_follow_link");
    EXPECT_SHOWN(1, 0);
    EXPECT_EQ(label("label_sector_contents_fdc_code_value"), "$03");
}

TEST_F(SectorContents, BrokenChainsStopWithAReason)
{
    std::string error;
    cc1541_file game;
    game.name = "BROKEN";
    game.data_size = 600;
    ASSERT_TRUE(grid_load_cc1541_disk("LINKS", {game}, &error)) << error;
    int t = 0, s = 0;
    ASSERT_TRUE(grid_file_start(0, &t, &s));
    uint8_t *data = d64_storage + d64_sector_offset(t, s);
    int t2 = data[0], s2 = data[1];

    struct {
        uint8_t track, sector;
        const char *text;
    } broken[] = {
        {TRACKS + 1, 0, " Invalid t/s link"},
        {17, 21, " Invalid t/s link"},
        {255, 255, " Invalid t/s link"},
        {(uint8_t)t2, (uint8_t)s2, " No readable data in linked sector"},
    };
    d64_set_block_error_info(d64_storage, t2, s2, 0x00);
    for (const auto &b : broken) {
        show(t, s);
        data[0] = b.track;
        data[1] = b.sector;
        click("button_sector_contents_follow_link");
        EXPECT_SHOWN(t, s);
        EXPECT_EQ(status(), b.text) << (int)b.track << "/" << (int)b.sector;
    }
}

TEST_F(SectorContents, PreviousAndNextCrossTracksAndStopAtTheEnds)
{
    show(1, 0);
    click("button_sector_contents_previous");
    EXPECT_SHOWN(1, 0);
    EXPECT_EQ(status(), " Can't go back any futher");

    show(17, 20);
    click("button_sector_contents_next");
    EXPECT_SHOWN(18, 0);
    EXPECT_EQ(status(), "");
    click("button_sector_contents_previous");
    EXPECT_SHOWN(17, 20);

    show(25, 0);
    click("button_sector_contents_previous");
    EXPECT_SHOWN(24, 18);

    show(TRACKS, d64_sectors_of_track(TRACKS) - 1);
    click("button_sector_contents_next");
    EXPECT_SHOWN(TRACKS, d64_sectors_of_track(TRACKS) - 1);
    EXPECT_EQ(status(), " Can't go any futher");

    d64_set_block_error_info(d64_storage, 5, 4, 0x00);
    show(5, 3);
    click("button_sector_contents_next");
    EXPECT_SHOWN(5, 3);
    EXPECT_EQ(status(), " No readable data in next sector");
    show(5, 5);
    click("button_sector_contents_previous");
    EXPECT_SHOWN(5, 5);
    EXPECT_EQ(status(), " No readable data in previous sector");
}

TEST_F(SectorContents, ZoomEscapeAndClose)
{
    GtkWidget *area = w("drawingarea_sector_contents");
    GtkRequisition req;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("radiobutton_sector_contents_zoom_level2")),
                                 TRUE);
    gtk_widget_size_request(area, &req);
    EXPECT_EQ(expansion_sector_contents, 1);
    EXPECT_EQ(req.width, 1024);
    EXPECT_EQ(req.height, 256);
    // Each pixel of the dump becomes a 2 x 2 block on screen.
    uint8_t *data = d64_storage + d64_sector_offset(2, 0);
    for (int i = 0; i < 256; i++)
        data[i] = (uint8_t)(i * 37);
    show(2, 0);
    gtk_widget_show(window_sector_contents);
    shell_pump(200);
    GdkPixbuf *shot = shell_widget_snapshot(area);
    ASSERT_NE(shot, nullptr);
    ASSERT_GE(gdk_pixbuf_get_width(shot), 1024);
    ASSERT_GE(gdk_pixbuf_get_height(shot), 256);
    int differ = 0;
    for (int y = 0; y < 128; y += 3)
        for (int x = 0; x < 512; x += 5) {
            grid_rgb want = grid_pixbuf_pixel(pixbuf_sector_contents, x, y);
            for (int k = 0; k < 4; k++) {
                grid_rgb got = grid_pixbuf_pixel(shot, 2 * x + k % 2, 2 * y + k / 2);
                differ += got.r != want.r || got.g != want.g || got.b != want.b;
            }
        }
    g_object_unref(shot);
    EXPECT_EQ(differ, 0);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("radiobutton_sector_contents_zoom_level1")),
                                 TRUE);
    gtk_widget_size_request(area, &req);
    EXPECT_EQ(expansion_sector_contents, 0);
    EXPECT_EQ(req.width, 512);

    gtk_widget_show(window_sector_contents);
    GdkEventKey key;
    memset(&key, 0, sizeof key);
    key.type = GDK_KEY_PRESS;
    key.keyval = GDK_a;
    EXPECT_FALSE(on_window_sector_contents_key_press_event(window_sector_contents, &key, nullptr));
    EXPECT_TRUE(gtk_widget_get_visible(window_sector_contents));
    key.keyval = GDK_Escape;
    EXPECT_TRUE(on_window_sector_contents_key_press_event(window_sector_contents, &key, nullptr));
    EXPECT_FALSE(gtk_widget_get_visible(window_sector_contents));
    gtk_widget_show(window_sector_contents);
    EXPECT_TRUE(on_window_sector_contents_delete_event(window_sector_contents, nullptr, nullptr));
    EXPECT_FALSE(gtk_widget_get_visible(window_sector_contents));
}

}  // namespace
