// Directory panel: the browser's moves, clicks and name rules on a private
// text screen, the PNG export and preview pictures, and the panel of the
// real main window (placeholder, handlers, scrollbar, red fallback listing).
#include "gui/drawing/dirview.h"
#include "gui/windows/dirview_panel.h"

#include <gtest/gtest.h>

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "gui/windows/log.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "gui/drawing/c64pixbufs.h"
#include "gui/drawing/palette.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/grid_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

using rgb = grid_rgb;
constexpr auto pixel = grid_pixbuf_pixel;

const rgb blue = {0x35, 0x28, 0x79};
const rgb light_blue = {0x6C, 0x5E, 0xB5};
const rgb red = {0x68, 0x37, 0x2B};
const rgb light_red = {0x9A, 0x67, 0x59};

// True when the 8 x 8 cell (column, row) of the picture, scaled by `scale`,
// shows `glyph` with its colours turned into `fg` and `bg`.
bool cell_shows(GdkPixbuf *picture, int column, int row, GdkPixbuf *glyph, int scale = 1,
                rgb fg = light_blue, rgb bg = blue)
{
    for (int y = 0; y < 8 * scale; y++)
        for (int x = 0; x < 8 * scale; x++) {
            rgb g = pixel(glyph, x / scale, y / scale);
            rgb want = g == light_blue ? fg : bg;
            if (!(pixel(picture, column * 8 * scale + x, row * 8 * scale + y) == want))
                return false;
        }
    return true;
}

GdkPixbuf *normal_glyph(unsigned char c)
{
    return c64pixbufs_get_quoted_font_array()[c];
}

GdkPixbuf *reverse_glyph(unsigned char c)
{
    return c64pixbufs_get_quoted_font_rev_array()[c];
}

std::string entry_line(int blocks, const std::string &quoted, const char *type = "PRG")
{
    char line[64];
    g_snprintf(line, sizeof line, "%-3d  %-18s %s \r", blocks, quoted.c_str(), type);
    return line;
}

// Header, `files` entries named FILE00, FILE01, ... and the footer.
std::string listing_of(int files)
{
    std::string text = "0 \x12\"TEST DISK       \" 17 2A\r";
    for (int i = 0; i < files; i++)
        text += entry_line(i + 1, "\"FILE" + std::to_string(100 + i).substr(1) + "\"");
    return text + "123 BLOCKS FREE.\r";
}

// A browser drawing into its own 224 x 128 screen.
class DirviewBrowser : public ::testing::Test {
protected:
    void SetUp() override
    {
        palette_module_init();
        c64pixbufs_module_init();
        picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 224, 128);
        ASSERT_EQ(disp_init(&screen, picture), 1);
        disp_font_face(screen, c64pixbufs_get_quoted_font_array());
        disp_font_face_rev(screen, c64pixbufs_get_quoted_font_rev_array());
        disp_clear(screen);
        ASSERT_EQ(filer_init(&browser, screen), 1);
    }
    void TearDown() override
    {
        filer_destroy(browser);
        disp_destroy(screen, 1);
    }
    // Row r (1..14) is drawn highlighted: the reverse space of column 27.
    bool row_highlighted(int row) { return cell_shows(picture, 27, row, reverse_glyph(' ')); }
    int highlighted_rows()
    {
        int n = 0;
        for (int row = 1; row <= 14; row++)
            n += row_highlighted(row);
        return n;
    }
    // The item whose number is printed on screen row r.
    bool row_shows_item(int row, int item)
    {
        std::string number = std::to_string(item + 1);
        unsigned char first = (unsigned char)number[0];
        GdkPixbuf *glyph = row_highlighted(row) ? reverse_glyph(first) : normal_glyph(first);
        std::string name = std::to_string(100 + item).substr(1);
        return cell_shows(picture, 0, row, glyph) &&
               cell_shows(picture, 10, row,
                          row_highlighted(row) ? reverse_glyph(name[0]) : normal_glyph(name[0])) &&
               cell_shows(picture, 11, row,
                          row_highlighted(row) ? reverse_glyph(name[1]) : normal_glyph(name[1]));
    }
    std::string current_name()
    {
        char name[17] = "unset";
        EXPECT_EQ(filer_get_current_item_filename(browser, name), 1);
        return name;
    }

    GdkPixbuf *picture = nullptr;
    disp_screen *screen = nullptr;
    filer_record *browser = nullptr;
};

TEST_F(DirviewBrowser, TwentyFilesScrollPageAndEnds)
{
    ASSERT_EQ(filer_show_dir(browser, listing_of(20).c_str()), 20);
    EXPECT_EQ(filer_get_current_item(browser), 0);
    EXPECT_TRUE(row_highlighted(1));
    EXPECT_EQ(highlighted_rows(), 1);

    // Down within the page moves only the highlight.
    for (int i = 0; i < 13; i++)
        ASSERT_EQ(filer_move_down(browser), 1);
    EXPECT_EQ(filer_get_current_item(browser), 13);
    EXPECT_EQ(filer_get_top_item(browser), 0);
    EXPECT_TRUE(row_highlighted(14));
    EXPECT_EQ(highlighted_rows(), 1);
    // From row 14 the page scrolls by one.
    ASSERT_EQ(filer_move_down(browser), 1);
    EXPECT_EQ(filer_get_current_item(browser), 14);
    EXPECT_EQ(filer_get_top_item(browser), 1);
    EXPECT_TRUE(row_shows_item(1, 1));
    EXPECT_TRUE(row_shows_item(14, 14));
    EXPECT_TRUE(row_highlighted(14));
    EXPECT_EQ(current_name(), "FILE14");
    // Up from row 1 scrolls back.
    filer_move_top_item_to(browser, 1);
    for (int i = 0; i < 13; i++)
        filer_move_up(browser);
    EXPECT_EQ(filer_get_current_item(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 1);
    ASSERT_EQ(filer_move_up(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 0);
    EXPECT_EQ(filer_get_current_item(browser), 0);
    EXPECT_EQ(filer_move_up(browser), 0);
    EXPECT_EQ(filer_move_to_first(browser), 0);

    // Page Down from top 0 goes to the last page, the highlight keeps its row.
    filer_move_down(browser);
    filer_move_down(browser);
    filer_move_down(browser);
    ASSERT_EQ(filer_move_to_next_page(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 6);
    EXPECT_EQ(filer_get_current_item(browser), 9);
    EXPECT_TRUE(row_highlighted(4));
    EXPECT_TRUE(row_shows_item(14, 19));
    ASSERT_EQ(filer_move_to_next_page(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 6);
    EXPECT_EQ(filer_get_current_item(browser), 19);
    EXPECT_EQ(filer_move_down(browser), 0);
    EXPECT_EQ(filer_move_to_last(browser), 0);
    EXPECT_EQ(current_name(), "FILE19");

    // Page Up from top 5 with item 9 current: top 0, item 4.
    filer_move_top_item_to(browser, 5);
    EXPECT_EQ(filer_get_current_item(browser), 18);
    for (int i = 0; i < 9; i++)
        filer_move_up(browser);
    ASSERT_EQ(filer_get_current_item(browser), 9);
    ASSERT_EQ(filer_get_top_item(browser), 5);
    ASSERT_EQ(filer_move_to_prev_page(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 0);
    EXPECT_EQ(filer_get_current_item(browser), 4);
    ASSERT_EQ(filer_move_to_prev_page(browser), 1);
    EXPECT_EQ(filer_get_current_item(browser), 0);

    ASSERT_EQ(filer_move_to_last(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 6);
    EXPECT_EQ(filer_get_current_item(browser), 19);
    ASSERT_EQ(filer_move_to_first(browser), 1);
    EXPECT_EQ(filer_get_top_item(browser), 0);
    EXPECT_TRUE(row_shows_item(1, 0));
    EXPECT_EQ(highlighted_rows(), 1);

    // A new listing starts on its first file again.
    filer_move_to_last(browser);
    EXPECT_EQ(filer_show_dir(browser, listing_of(3).c_str()), 3);
    EXPECT_EQ(filer_get_current_item(browser), 0);
    EXPECT_EQ(filer_get_top_item(browser), 0);
}

TEST_F(DirviewBrowser, HundredFiftyLinesKeepHeaderAnd144Items)
{
    std::string text = listing_of(0);
    text = text.substr(0, text.find('\r') + 1);
    for (int i = 0; i < 149; i++)
        text += entry_line(i, "\"L" + std::to_string(i) + "\"");
    ASSERT_EQ(filer_show_dir(browser, text.c_str()), 144);
    EXPECT_EQ(std::string(browser->footer), entry_line(144, "\"L144\"").substr(0, 28));

    // Pages step by 14 until the last top, 130.
    int tops[] = {14, 28, 42, 56, 70, 84, 98, 112, 126, 130};
    for (int top : tops) {
        filer_move_to_next_page(browser);
        EXPECT_EQ(filer_get_top_item(browser), top);
        EXPECT_EQ(filer_get_current_item(browser), top);
    }
    filer_move_to_next_page(browser);
    EXPECT_EQ(filer_get_current_item(browser), 143);
    filer_move_to_prev_page(browser);
    EXPECT_EQ(filer_get_top_item(browser), 116);
    EXPECT_EQ(filer_get_current_item(browser), 129);

    // Scrollbar values keep the current item on the page, stray ones are held.
    filer_move_top_item_to(browser, 50);
    EXPECT_EQ(filer_get_current_item(browser), 63);
    filer_move_top_item_to(browser, 70);
    EXPECT_EQ(filer_get_current_item(browser), 70);
    filer_move_top_item_to(browser, 1000);
    EXPECT_EQ(filer_get_top_item(browser), 143);
    filer_move_top_item_to(browser, -5);
    EXPECT_EQ(filer_get_top_item(browser), 0);
    EXPECT_EQ(filer_get_current_item(browser), 13);
}

TEST_F(DirviewBrowser, ClicksOnlyOnItemRows)
{
    filer_show_dir(browser, listing_of(20).c_str());
    EXPECT_EQ(filer_move_to(browser, 0), 0);
    EXPECT_EQ(filer_move_to(browser, 15), 0);
    EXPECT_EQ(filer_move_to(browser, -1), 0);
    EXPECT_EQ(filer_get_current_item(browser), 0);
    ASSERT_EQ(filer_move_to(browser, 14), 1);
    EXPECT_EQ(filer_get_current_item(browser), 13);
    EXPECT_TRUE(row_highlighted(14));
    EXPECT_FALSE(row_highlighted(1));
    filer_move_to_last(browser);
    ASSERT_EQ(filer_move_to(browser, 1), 1);
    EXPECT_EQ(filer_get_current_item(browser), 6);

    filer_show_dir(browser, listing_of(3).c_str());
    EXPECT_EQ(filer_move_to(browser, 4), 0);
    EXPECT_EQ(filer_move_to(browser, 14), 0);
    ASSERT_EQ(filer_move_to(browser, 3), 1);
    EXPECT_EQ(filer_get_current_item(browser), 2);
    EXPECT_EQ(highlighted_rows(), 1);
    // Blank rows stay blank; the footer stays on row 15.
    EXPECT_TRUE(cell_shows(picture, 0, 4, normal_glyph(' ')));
    EXPECT_TRUE(cell_shows(picture, 0, 15, normal_glyph('1')));
}

TEST_F(DirviewBrowser, EmptyAndTruncatedListings)
{
    // Header and footer only.
    ASSERT_EQ(filer_show_dir(browser, "0 \x12\"EMPTY\" 00 2A\r664 BLOCKS FREE.\r"), 0);
    EXPECT_EQ(filer_get_current_item(browser), -1);
    EXPECT_EQ(filer_get_top_item(browser), -1);
    EXPECT_EQ(filer_move_down(browser), 0);
    EXPECT_EQ(filer_move_up(browser), 0);
    EXPECT_EQ(filer_move_to_last(browser), 0);
    EXPECT_EQ(filer_move_to(browser, 1), 0);
    filer_move_to_next_page(browser);
    filer_move_to_prev_page(browser);
    EXPECT_EQ(filer_move_up(browser), 0);
    EXPECT_EQ(filer_get_current_item_filetype(browser), -1);
    char name[17];
    int size = -1;
    EXPECT_EQ(filer_get_current_item_filename(browser, name), 0);
    EXPECT_EQ(filer_get_current_item_size_in_blocks(browser, &size), 0);
    EXPECT_TRUE(cell_shows(picture, 0, 1, normal_glyph('N')));
    EXPECT_TRUE(cell_shows(picture, 0, 15, normal_glyph('6')));
    EXPECT_TRUE(cell_shows(picture, 0, 2, normal_glyph(' ')));

    // A last line without its carriage return is not a line.
    std::string text = listing_of(2);
    text.pop_back();
    ASSERT_EQ(filer_show_dir(browser, text.c_str()), 1);
    EXPECT_EQ(std::string(browser->footer), entry_line(2, "\"FILE01\"").substr(0, 28));
    EXPECT_EQ(filer_show_dir(browser, "no carriage return"), 0);
    EXPECT_EQ(filer_show_dir(browser, ""), 0);
    EXPECT_EQ(filer_show_dir(browser, nullptr), 0);

    // A shorter listing wipes what a longer one left on the screen.
    filer_show_dir(browser, listing_of(14).c_str());
    filer_show_dir(browser, listing_of(1).c_str());
    for (int row = 2; row <= 14; row++)
        EXPECT_TRUE(cell_shows(picture, 5, row, normal_glyph(' '))) << row;

    // Without a browser nothing happens.
    EXPECT_EQ(filer_show_dir(nullptr, listing_of(3).c_str()), 0);
    EXPECT_EQ(filer_get_number_items(nullptr), 0);
    EXPECT_EQ(filer_move_to_next_page(nullptr), 0);
    EXPECT_EQ(filer_get_disk_name(nullptr, name), 0);
}

TEST_F(DirviewBrowser, NameTypeAndSizeOfTheCurrentItem)
{
    std::string text = "0 \x12\"DISK NAME  ONE  \" 17 2A\r";
    text += entry_line(12, "\"ABCDEFGHIJKLMNOP\"");             // 16 characters
    text += entry_line(3, "\"ABC\",8,1", "SEQ");                // text after the quote
    text += entry_line(1, "\"AB\xa0" "CD\"", "USR");            // shifted space inside
    text += entry_line(0, "\"\"", "DEL");                       // empty name
    text += entry_line(7, "\"TWO  \"", "REL");                  // spaces inside quotes
    text += entry_line(999, "\"X\"", "SCR");                   // scratched slot
    text += "1    " + std::string(23, ' ') + "\r";              // no name at all
    text += entry_line(-2, "\"Q\"");
    std::string bad_size = entry_line(0, "\"Q\"");
    bad_size[0] = 'x';
    text += bad_size;
    text += "0 BLOCKS FREE.\r";
    ASSERT_EQ(filer_show_dir(browser, text.c_str()), 9);

    struct expected {
        const char *name;
        int type;
        int size_ok;
        int size;
    } want[] = {
        {"ABCDEFGHIJKLMNOP", 2, 1, 12}, {"ABC\",8,1", 1, 1, 3}, {"AB", 3, 1, 1},
        {"", 0, 1, 0},                  {"TWO  ", 4, 1, 7},     {"X", -1, 1, 999},
        {"                ", -1, 1, 1}, {"Q", 2, 1, -2},        {"Q", 2, 0, 0},
    };
    for (int i = 0; i < 9; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(current_name(), want[i].name);
        EXPECT_EQ(filer_get_current_item_filetype(browser), want[i].type);
        int size = 12345;
        EXPECT_EQ(filer_get_current_item_size_in_blocks(browser, &size), want[i].size_ok);
        if (want[i].size_ok) {
            EXPECT_EQ(size, want[i].size);
        }
        filer_move_down(browser);
    }
    char disk[17];
    ASSERT_EQ(filer_get_disk_name(browser, disk), 1);
    EXPECT_STREQ(disk, "DISK NAME  ONE  ");
}

TEST(DirviewText, XgetsAndXatoi)
{
    // Lines longer than the buffer keep their start and skip the rest.
    const char *text = "0123456789abcdefghij0123456789XYZ\rshort\rpartial";
    char buf[30];
    ASSERT_EQ(xgets(&text, buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "0123456789abcdefghij012345678");
    ASSERT_EQ(xgets(&text, buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "short");
    EXPECT_EQ(xgets(&text, buf, sizeof buf), 0);

    struct {
        const char *in;
        int ok;
        int value;
        int consumed;
    } cases[] = {
        {"123 rest", 1, 123, 3}, {"  42\"", 0, 0, 4},     {"-17 ", 1, -17, 3},
        {"0x1F ", 1, 31, 4},     {"0XFF", 0, 0, 1},       {"0b101", 1, 5, 5},
        {"0b102", 0, 0, 4},      {"017", 1, 15, 3},       {"08", 0, 0, 1},
        {"0 ", 1, 0, 1},         {"0x", 1, 0, 2},         {"0b ", 1, 0, 2},
        {"", 0, 0, 0},           {"-", 0, 0, 1},          {"abc", 0, 0, 0},
        {"99999999999", 0, 0, 9}, {"7\xa0", 0, 0, 1},    {"0xfF\r", 1, 255, 4},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.in);
        const char *cursor = c.in;
        int value = -99;
        EXPECT_EQ(xatoi(&cursor, &value), c.ok);
        if (c.ok) {
            EXPECT_EQ(value, c.value);
        }
        EXPECT_EQ(cursor - c.in, c.consumed);
    }
}

// Files of a test folder.
class DirviewFiles : public DirviewBrowser {
protected:
    void SetUp() override
    {
        DirviewBrowser::SetUp();
        dir = scratch_dir_new();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override
    {
        scratch_dir_remove(dir);
        DirviewBrowser::TearDown();
    }
    GdkPixbuf *load(const std::string &path)
    {
        GError *error = nullptr;
        GdkPixbuf *p = gdk_pixbuf_new_from_file(path.c_str(), &error);
        EXPECT_EQ(error, nullptr) << (error ? error->message : "");
        g_clear_error(&error);
        return p;
    }
    std::string dir;
};

TEST_F(DirviewFiles, PngExportSizesAndPixels)
{
    filer_show_dir(browser, listing_of(3).c_str());
    filer_move_down(browser);
    GError *error = nullptr;
    std::string plain = dir + "/plain.png", doubled = dir + "/doubled.png",
                reds = dir + "/red.png";
    ASSERT_EQ(filer_save_dir_listing_to_png(browser, plain.c_str(), 0, 1, &error), 1);
    ASSERT_EQ(filer_save_dir_listing_to_png(browser, doubled.c_str(), 1, 1, &error), 1);
    ASSERT_EQ(filer_save_dir_listing_to_png(browser, reds.c_str(), 0, 0, &error), 1);

    GdkPixbuf *p = load(plain);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(p), 224);
    EXPECT_EQ(gdk_pixbuf_get_height(p), 40);
    // The header: "0 " normal, the $12 dropped, the rest in reverse.
    EXPECT_TRUE(cell_shows(p, 0, 0, normal_glyph('0')));
    EXPECT_TRUE(cell_shows(p, 1, 0, normal_glyph(' ')));
    EXPECT_TRUE(cell_shows(p, 2, 0, reverse_glyph('"')));
    EXPECT_TRUE(cell_shows(p, 3, 0, reverse_glyph('T')));
    EXPECT_TRUE(cell_shows(p, 25, 0, reverse_glyph('A')));
    EXPECT_TRUE(cell_shows(p, 26, 0, normal_glyph(' ')));
    // No item is highlighted; the footer is the last row.
    EXPECT_TRUE(cell_shows(p, 27, 2, normal_glyph(' ')));
    EXPECT_TRUE(cell_shows(p, 6, 2, normal_glyph('F')));
    EXPECT_TRUE(cell_shows(p, 0, 4, normal_glyph('1')));
    EXPECT_TRUE(cell_shows(p, 4, 4, normal_glyph('B')));

    GdkPixbuf *d = load(doubled);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(d), 448);
    EXPECT_EQ(gdk_pixbuf_get_height(d), 80);
    EXPECT_TRUE(cell_shows(d, 2, 0, reverse_glyph('"'), 2));
    EXPECT_TRUE(cell_shows(d, 6, 3, normal_glyph('F'), 2));

    GdkPixbuf *r = load(reds);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_height(r), 40);
    EXPECT_TRUE(cell_shows(r, 6, 1, normal_glyph('F'), 1, light_red, red));
    EXPECT_TRUE(cell_shows(r, 3, 0, reverse_glyph('T'), 1, light_red, red));
    for (GdkPixbuf *x : {p, d, r})
        g_object_unref(x);

    // An empty listing still gives header and footer rows.
    filer_show_dir(browser, "0 \x12\"E\" 00 2A\r664 BLOCKS FREE.\r");
    std::string empty = dir + "/empty.png";
    ASSERT_EQ(filer_save_dir_listing_to_png(browser, empty.c_str(), 0, 1, &error), 1);
    GdkPixbuf *e = load(empty);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_height(e), 16);
    g_object_unref(e);

    // An unwritable path fails with a message.
    std::string bad = dir + "/missing/x.png";
    EXPECT_EQ(filer_save_dir_listing_to_png(browser, bad.c_str(), 0, 1, &error), 0);
    ASSERT_NE(error, nullptr);
    EXPECT_NE(std::string(error->message), "");
    g_clear_error(&error);
    EXPECT_FALSE(g_file_test(bad.c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(DirviewBrowser, RecolouringAndHeaderBase)
{
    // The header printed both ways; the text itself stays as it was.
    char header[] = "0 \x12\"NAME\" 17 2A";
    d64disp_directory_print_base(screen, header, 0);
    EXPECT_TRUE(cell_shows(picture, 2, 0, normal_glyph(0x12)));
    EXPECT_TRUE(cell_shows(picture, 3, 0, normal_glyph('"')));
    d64disp_directory_print_base(screen, header, 1);
    EXPECT_TRUE(cell_shows(picture, 2, 0, reverse_glyph('"')));
    EXPECT_TRUE(cell_shows(picture, 15, 0, normal_glyph(' ')));
    EXPECT_STREQ(header, "0 \x12\"NAME\" 17 2A");
    d64disp_directory_print_base(screen, "NO MARK", 1);
    EXPECT_TRUE(cell_shows(picture, 0, 0, normal_glyph('N')));

    // Blue turns red, every other colour light red; alpha is left alone.
    GdkPixbuf *p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 1);
    guchar *px = gdk_pixbuf_get_pixels(p);
    const guchar in[] = {0x35, 0x28, 0x79, 7, 0x6C, 0x5E, 0xB5, 8, 0x35, 0, 0, 9};
    memcpy(px, in, sizeof in);
    d64pixbuf_substitute_blues_with_reds(p);
    EXPECT_EQ(pixel(p, 0, 0), red);
    EXPECT_EQ(pixel(p, 1, 0), light_red);
    EXPECT_EQ(pixel(p, 2, 0), red);
    EXPECT_EQ(px[3], 7);
    EXPECT_EQ(px[7], 8);
    g_object_unref(p);
    d64pixbuf_substitute_blues_with_reds(nullptr);
}

// An image with the given files, read into d64_storage with clean error info.
bool load_disk(const std::string &dir, const std::vector<cc1541_file> &files)
{
    d64_module_init();
    std::string path = dir + "/disk.d64", error;
    if (!cc1541_build_d64(path, "DIRVIEW DISK", "DV", files, &error)) {
        ADD_FAILURE() << error;
        return false;
    }
    bool ok = false;
    std::string bytes = scratch_read(path, &ok);
    if (!ok)
        return false;
    // cc1541 writes 35 tracks; the 40-track store keeps its extra tracks empty.
    memset(d64_storage, 0, (size_t)d64_base_size);
    memcpy(d64_storage, bytes.data(), std::min(bytes.size(), (size_t)d64_base_size));
    memset(d64_storage + d64_base_size, D64_ERR_OK, (size_t)d64_block_error_info_size);
    return true;
}

std::vector<cc1541_file> numbered_files(int n)
{
    std::vector<cc1541_file> files;
    for (int i = 0; i < n; i++) {
        cc1541_file f;
        f.name = "GAME " + std::to_string(i + 1);
        files.push_back(f);
    }
    return files;
}

TEST_F(DirviewFiles, PreviewPictureOfAnImage)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    ASSERT_TRUE(load_disk(dir, numbered_files(3)));
    GdkPixbuf *out = nullptr;
    ASSERT_EQ(d64pixbuf_directory_decode_listing(d64_storage, &out, 32), 1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(out), 224);
    EXPECT_EQ(gdk_pixbuf_get_height(out), 256);
    EXPECT_TRUE(cell_shows(out, 0, 0, normal_glyph('0')));
    EXPECT_TRUE(cell_shows(out, 3, 0, reverse_glyph('D')));
    EXPECT_TRUE(cell_shows(out, 6, 1, normal_glyph('G')));
    EXPECT_TRUE(cell_shows(out, 4, 4, normal_glyph('B')));  // "BLOCKS FREE." line
    EXPECT_TRUE(cell_shows(out, 0, 5, normal_glyph(' ')));
    g_object_unref(out);

    ASSERT_EQ(d64pixbuf_directory_decode_listing(d64_storage, &out, 2), 1);
    EXPECT_EQ(gdk_pixbuf_get_height(out), 40);
    g_object_unref(out);
    EXPECT_EQ(d64pixbuf_directory_decode_listing(nullptr, &out, 2), 0);
    EXPECT_EQ(out, nullptr);

    // The chooser's hook draws the same picture.
    dirview_module_init();
    ASSERT_NE(fileopen_preview_draw_directory, nullptr);
    out = fileopen_preview_draw_directory(d64_storage, 32);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_height(out), 256);
    g_object_unref(out);

    // A file whose directory sits on track 19 previews it in red.
    std::vector<uint8_t> file(D64_STORAGE_SIZE, 0);
    memcpy(file.data(), d64_storage, (size_t)d64_base_size);
    memcpy(file.data() + d64_sector_offset(19, 0), file.data() + d64_sector_offset(18, 0),
           19 * 256);
    file[d64_sector_offset(18, 0)] = 0;
    fileopen_d64_preview preview;
    ASSERT_EQ(fileopen_d64_preview_examine(file.data(), d64_base_size, &preview), 1);
    ASSERT_EQ(preview.shifted_track, 19);
    out = fileopen_preview_draw_directory(file.data(), 32);
    ASSERT_NE(out, nullptr);
    fileopen_preview_blues_to_reds(out);
    EXPECT_TRUE(cell_shows(out, 6, 1, normal_glyph('G'), 1, light_red, red));
    EXPECT_TRUE(cell_shows(out, 3, 0, reverse_glyph('D'), 1, light_red, red));
    EXPECT_EQ(pixel(out, 0, 255), red);
    g_object_unref(out);
}

// The panel of the real main window.
class DirviewPanel : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        saved_expansion = options_expansion;
        notebook_main_set_page(1);
        area = lookup_widget(window_main, "drawingarea_directory_listing");
        scrollbar = lookup_widget(window_main, "vscrollbar_files_directory");
        shell_pump_until([] { return dir_filer != nullptr; }, 2000);
        ASSERT_NE(dir_filer, nullptr);
        log_clear();
    }
    void TearDown() override
    {
        options_expansion = saved_expansion;
        flag_dir_in_track_18 = 1;
        drawingarea_directory_listing_reset();
        notebook_main_set_page(0);
        WindowTest::TearDown();
    }
    GtkAdjustment *adjustment() { return gtk_range_get_adjustment(GTK_RANGE(scrollbar)); }
    void key(guint keyval)
    {
        GdkEventKey event = {};
        event.type = GDK_KEY_PRESS;
        event.keyval = keyval;
        EXPECT_TRUE(on_drawingarea_directory_listing_key_press_event(area, &event, nullptr));
    }
    void scroll(GdkScrollDirection direction)
    {
        GdkEventScroll event = {};
        event.type = GDK_SCROLL;
        event.direction = direction;
        EXPECT_TRUE(on_drawingarea_directory_listing_scroll_event(area, &event, nullptr));
    }
    void click(double y, guint button = 1, GdkEventType type = GDK_BUTTON_PRESS)
    {
        GdkEventButton event = {};
        event.type = type;
        event.button = button;
        event.y = y;
        EXPECT_TRUE(on_drawingarea_directory_listing_button_press_event(area, &event, nullptr));
    }
    // What the widget shows on screen now.
    GdkPixbuf *painted()
    {
        gtk_widget_queue_draw(area);
        gdk_window_process_updates(area->window, TRUE);
        gdk_display_sync(gtk_widget_get_display(area));
        return gdk_pixbuf_get_from_drawable(nullptr, area->window, nullptr, 0, 0, 0, 0,
                                            area->allocation.width, area->allocation.height);
    }
    void show(const std::string &listing)
    {
        int count = filer_show_dir(dir_filer, listing.c_str());
        vscrollbar_files_directory_reset(count);
        drawingarea_directory_listing_redraw();
    }

    int saved_expansion = 1;
    GtkWidget *area = nullptr;
    GtkWidget *scrollbar = nullptr;
};

TEST_F(DirviewPanel, PlaceholderAtStartAndAfterReset)
{
    show(listing_of(20));
    drawingarea_directory_listing_reset();
    EXPECT_EQ(filer_get_number_items(dir_filer), 0);
    EXPECT_EQ(gtk_adjustment_get_upper(adjustment()), 0);
    GdkPixbuf *p = pixbuf_directory_listing;
    EXPECT_TRUE(cell_shows(p, 2, 0, normal_glyph(0x12)));
    EXPECT_TRUE(cell_shows(p, 4, 0, normal_glyph('D')));
    EXPECT_TRUE(cell_shows(p, 0, 1, normal_glyph('N')));
    EXPECT_TRUE(cell_shows(p, 0, 15, normal_glyph('6')));
    EXPECT_TRUE(cell_shows(p, 0, 7, normal_glyph(' ')));
    char name[17];
    filer_get_disk_name(dir_filer, name);
    EXPECT_STREQ(name, "DRAVLEN CLIENT  ");
    std::string header = dir_filer->header;
    EXPECT_EQ(header.substr(header.size() - 5), std::string(TRACKS == 40 ? "40 2A" : "35 2A"));
}

TEST_F(DirviewPanel, KeysWheelClicksAndScrollbar)
{
    options_expansion = 1;
    show(listing_of(20));
    EXPECT_EQ(gtk_adjustment_get_upper(adjustment()), 20);
    EXPECT_EQ(gtk_adjustment_get_page_size(adjustment()), 14);

    key(GDK_Page_Down);
    EXPECT_EQ(filer_get_top_item(dir_filer), 6);
    EXPECT_EQ(gtk_adjustment_get_value(adjustment()), 6);
    key(GDK_End);
    EXPECT_EQ(filer_get_current_item(dir_filer), 19);
    key(GDK_Left);
    key(GDK_a);
    EXPECT_EQ(filer_get_current_item(dir_filer), 19);
    key(GDK_Home);
    EXPECT_EQ(filer_get_current_item(dir_filer), 0);
    EXPECT_EQ(gtk_adjustment_get_value(adjustment()), 0);
    key(GDK_Down);
    scroll(GDK_SCROLL_DOWN);
    EXPECT_EQ(filer_get_current_item(dir_filer), 2);
    scroll(GDK_SCROLL_LEFT);
    scroll(GDK_SCROLL_UP);
    key(GDK_Up);
    EXPECT_EQ(filer_get_current_item(dir_filer), 0);
    key(GDK_Page_Up);
    EXPECT_EQ(filer_get_current_item(dir_filer), 0);

    // Moving the scrollbar moves the page and keeps the current item on it.
    gtk_adjustment_set_value(adjustment(), 5);
    EXPECT_EQ(filer_get_top_item(dir_filer), 5);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5);

    // Clicks at 2x: 16 pixels per row.
    click(16 * 3 + 15);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5 + 2);
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_main)), area);
    click(5);           // header
    click(16 * 15 + 1); // footer
    click(16 * 4, 3);   // another button
    click(16 * 4, 1, GDK_2BUTTON_PRESS);
    EXPECT_EQ(filer_get_current_item(dir_filer), 7);
    // At 4x, pixel row 100 is screen row 3.
    options_expansion = 2;
    click(40);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5);
    click(100);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5 + 2);
    click(127);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5 + 2);
    click(128);
    EXPECT_EQ(filer_get_current_item(dir_filer), 5 + 3);

    // Short listing: clicks below the last item do nothing.
    options_expansion = 1;
    show(listing_of(3));
    click(16 * 5);
    EXPECT_EQ(filer_get_current_item(dir_filer), 0);
    key(GDK_Page_Down);
    EXPECT_EQ(filer_get_current_item(dir_filer), 2);
    EXPECT_EQ(gtk_adjustment_get_value(adjustment()), 0);
}

TEST_F(DirviewPanel, PaintedAtTheZoomOfTheOptions)
{
    options_expansion = 1;
    show(listing_of(3));
    GdkPixbuf *shot = painted();
    ASSERT_NE(shot, nullptr);
    ASSERT_GE(gdk_pixbuf_get_width(shot), 448);
    EXPECT_TRUE(cell_shows(shot, 0, 15, normal_glyph('1'), 2));
    EXPECT_TRUE(cell_shows(shot, 27, 1, reverse_glyph(' '), 2));
    g_object_unref(shot);
}

TEST_F(DirviewPanel, ListingFromTrack19IsRedAndTrack18IsRestored)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    options_expansion = 1;
    ASSERT_TRUE(load_disk(dir, numbered_files(5)));
    // Track 19 holds the directory, track 18's header link is broken.
    memcpy(d64_storage + d64_sector_offset(19, 0), d64_storage + d64_sector_offset(18, 0),
           19 * 256);
    d64_storage[d64_sector_offset(18, 0)] = 0;
    d64_storage[d64_sector_offset(18, 0) + 1] = 0;
    for (int s = 0; s < 19; s++)
        d64_storage[d64_sector_offset(18, s) + 0x90] = (uint8_t)s;  // mark what was read
    std::string track18((const char *)d64_storage + d64_sector_offset(18, 0), 19 * 256);
    std::string errors((const char *)d64_storage + d64_base_size, d64_block_error_info_size);

    flag_dir_in_track_18 = 1;
    flag_dir_listing_was_last_operation = 1;
    decode_and_show_directory_listing();
    EXPECT_EQ(flag_dir_in_track_18, 0);
    EXPECT_EQ(flag_dir_listing_was_last_operation, 0);
    EXPECT_EQ(filer_get_number_items(dir_filer), 5);
    EXPECT_EQ(gtk_adjustment_get_upper(adjustment()), 5);
    EXPECT_NE(log_text().find(
                  "First dir t/s link found in track 19: directory listing might be retrievable\n"),
              std::string::npos);
    EXPECT_EQ(log_text().find("Unexpected first dir"), std::string::npos);
    EXPECT_EQ(std::string((const char *)d64_storage + d64_sector_offset(18, 0), 19 * 256), track18);
    EXPECT_EQ(std::string((const char *)d64_storage + d64_base_size, d64_block_error_info_size),
              errors);
    char disk[17];
    filer_get_disk_name(dir_filer, disk);
    EXPECT_STREQ(disk, "DIRVIEW DISK    ");

    // Painted red, again and again, while the screen itself stays blue.
    for (int i = 0; i < 3; i++) {
        GdkPixbuf *shot = painted();
        ASSERT_NE(shot, nullptr);
        EXPECT_TRUE(cell_shows(shot, 6, 2, normal_glyph('G'), 2, light_red, red)) << i;
        EXPECT_TRUE(cell_shows(shot, 27, 1, reverse_glyph(' '), 2, light_red, red)) << i;
        g_object_unref(shot);
    }
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 6, 1, reverse_glyph('G')));

    // The PNG export is red as well.
    std::string png = dir + "/red.png";
    GError *error = nullptr;
    ASSERT_EQ(filer_save_dir_listing_to_png(dir_filer, png.c_str(), 0, flag_dir_in_track_18,
                                            &error), 1);
    GdkPixbuf *p = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(pixel(p, 27 * 8, 8), red);
    g_object_unref(p);

    // Track 19 unread: track 20 is taken instead.
    memcpy(d64_storage + d64_sector_offset(20, 0), d64_storage + d64_sector_offset(19, 0),
           19 * 256);
    d64_set_block_error_info(d64_storage, 19, 0, D64_ERR_CHECKSUM);
    log_clear();
    flag_dir_in_track_18 = 1;
    decode_and_show_directory_listing();
    EXPECT_EQ(flag_dir_in_track_18, 0);
    EXPECT_NE(log_text().find("found in track 20"), std::string::npos);
    EXPECT_EQ(std::string((const char *)d64_storage + d64_sector_offset(18, 0), 19 * 256), track18);

    // Neither qualifies: listed from track 18 as it is, blue, with a warning.
    d64_set_block_error_info(d64_storage, 20, 0, D64_ERR_GCR);
    log_clear();
    flag_dir_in_track_18 = 1;
    decode_and_show_directory_listing();
    EXPECT_EQ(flag_dir_in_track_18, 1);
    EXPECT_NE(log_text().find(
                  "Unexpected first dir t/s link: directory contents might not be as expected\n"),
              std::string::npos);
    EXPECT_EQ(log_text().find("found in track"), std::string::npos);
    filer_get_disk_name(dir_filer, disk);
    EXPECT_STREQ(disk, "                ");
    GdkPixbuf *shot = painted();
    ASSERT_NE(shot, nullptr);
    EXPECT_EQ(pixel(shot, 0, 16 * 15 + 15), blue);
    g_object_unref(shot);
}

TEST_F(DirviewPanel, IdleCallbacksAndBamGate)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    ASSERT_TRUE(load_disk(dir, numbered_files(4)));
    // A loop 18/1 -> 18/1 is listed once and reported.
    d64_storage[d64_sector_offset(18, 1)] = 18;
    d64_storage[d64_sector_offset(18, 1) + 1] = 1;
    flag_dir_in_track_18 = 0;
    EXPECT_FALSE(idle_decode_and_show_directory_listing(nullptr));
    EXPECT_EQ(flag_dir_in_track_18, 1);
    EXPECT_EQ(filer_get_number_items(dir_filer), 4);
    EXPECT_NE(log_text().find("Loop detected in the dir t/s chain"), std::string::npos);

    // A header sector with errors is not listed; the panel keeps its listing.
    show(listing_of(2));
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_CHECKSUM);
    log_clear();
    EXPECT_FALSE(idle_decode_and_show_directory_listing(nullptr));
    EXPECT_EQ(log_text(), "BAM sector contains errors: not listing directory contents\n");
    EXPECT_EQ(filer_get_number_items(dir_filer), 2);

    // Progress texts of a drive listing.
    EXPECT_FALSE(idle_drawingarea_directory_listing_clear(nullptr));
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 0, 1, normal_glyph(' ')));
    EXPECT_FALSE(idle_drawingarea_directory_listing_center_text_and_free(g_strdup("WAIT")));
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 12, 8, normal_glyph('W')));
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 11, 8, normal_glyph(' ')));
    idle_drawingarea_directory_listing_clear(nullptr);
    idle_drawingarea_directory_listing_print_and_free(g_strdup("AB"));
    idle_drawingarea_directory_listing_print_and_free(g_strdup("CD"));
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 0, 0, normal_glyph('A')));
    EXPECT_TRUE(cell_shows(pixbuf_directory_listing, 1, 1, normal_glyph('D')));
}

TEST_F(DirviewPanel, ExportNamesAndMenuItem)
{
    show(listing_of(3));
    int saved_upper = options_file_extensions_uppercase;
    int saved_double = options_double_png_dimensions;
    gchar *saved_last = utf8_path_lastopenfile_d64;
    utf8_path_lastopenfile_d64 = nullptr;

    auto suggested = [] {
        gchar *n = dirview_png_suggested_name();
        std::string s = n;
        g_free(n);
        return s;
    };
    options_file_extensions_uppercase = 0;
    flag_dir_listing_was_last_operation = 0;
    EXPECT_EQ(suggested(), "TEST DISK.png");
    utf8_path_lastopenfile_d64 = g_strdup("/somewhere/My Disk.d64");
    options_file_extensions_uppercase = 1;
    EXPECT_EQ(suggested(), "My Disk.d64.PNG");
    flag_dir_listing_was_last_operation = 1;
    EXPECT_EQ(suggested(), "TEST DISK.PNG");
    show("0 \x12\"*?/:            \" 17 2A\r0 BLOCKS FREE.\r");
    EXPECT_EQ(suggested(), "NO NAME.PNG");

    // Through the menu item and the save chooser.
    show(listing_of(3));
    options_double_png_dimensions = 1;
    std::string path = dir + "/listing.png";
    auto answered = shell_choose_save(dir, "listing.png", 400);
    log_clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(lookup_widget(window_main, "menuitem_export_directory_to_png")));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(shell_status_text(), " Export succeeded: listing.png");
    EXPECT_EQ(log_text(),
              "================================\nExporting dir listing\nCompleted (listing.png)\n");
    GdkPixbuf *p = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(p), 448);
    EXPECT_EQ(gdk_pixbuf_get_height(p), 80);
    g_object_unref(p);

    answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    log_clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(lookup_widget(window_main, "menuitem_export_directory_to_png")));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(log_text(), "================================\nExporting dir listing\n"
                                "Dir listing not exported at user's request\n");

    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = saved_last;
    options_file_extensions_uppercase = saved_upper;
    options_double_png_dimensions = saved_double;
    flag_dir_listing_was_last_operation = 0;
}

}  // namespace
