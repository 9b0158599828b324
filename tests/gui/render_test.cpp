#include "gui/drawing/c64pixbufs.h"
#include "gui/drawing/disp.h"
#include "gui/drawing/palette.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/gui/support/grid_support.h"

namespace {

using rgb = grid_rgb;
constexpr auto pixel = grid_pixbuf_pixel;

const rgb blue = {0x35, 0x28, 0x79};
const rgb light_blue = {0x6C, 0x5E, 0xB5};

// A glyph as 8 row bytes (leftmost pixel in bit 7), foreground = light blue.
// Anything else than the two font colours fails the test.
std::string glyph_bits(GdkPixbuf *glyph, rgb foreground = light_blue,
                       rgb background = blue)
{
    std::string bits(8, '\0');
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) {
            rgb c = pixel(glyph, x, y);
            if (c == foreground)
                bits[y] = (char)(bits[y] | (0x80 >> x));
            else
                EXPECT_EQ(c, background) << "at " << x << "," << y;
        }
    return bits;
}

std::string inverted(std::string bits)
{
    for (char &c : bits)
        c = (char)~c;
    return bits;
}

GdkPixbuf *new_target(int width, int height)
{
    return gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
}

// True when the w x h area at (x, y) of the target equals the glyph's area at
// (gx, gy).
bool area_matches_glyph(GdkPixbuf *target, int x, int y, GdkPixbuf *glyph, int gx, int gy,
                        int w, int h)
{
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            if (!(pixel(target, x + i, y + j) == pixel(glyph, gx + i, gy + j)))
                return false;
    return true;
}

int count_not_blue(GdkPixbuf *target)
{
    int n = 0;
    for (int y = 0; y < gdk_pixbuf_get_height(target); y++)
        for (int x = 0; x < gdk_pixbuf_get_width(target); x++)
            if (!(pixel(target, x, y) == blue))
                n++;
    return n;
}

class Render : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(palette_module_init(), 1);
        ASSERT_EQ(c64pixbufs_module_init(), 1);
    }
};

// A cleared 224 x 128 screen (28 x 16 cells) with the quoted fonts.
class RenderScreen : public Render {
protected:
    void SetUp() override
    {
        target = new_target(224, 128);
        ASSERT_EQ(disp_init(&screen, target), 1);
        disp_font_face(screen, c64pixbufs_get_quoted_font_array());
        disp_font_face_rev(screen, c64pixbufs_get_quoted_font_rev_array());
        disp_clear(screen);
    }
    void TearDown() override { disp_destroy(screen, 1); }

    GdkPixbuf *quoted(int n) { return c64pixbufs_get_quoted_font_array()[n]; }

    GdkPixbuf *target = nullptr;
    disp_screen *screen = nullptr;
};

TEST_F(Render, PaletteImageHasFramedSquaresInTableColours)
{
    GdkPixbuf *image = palette_get_palette_pixbuf();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(image), 256);
    EXPECT_EQ(gdk_pixbuf_get_height(image), 16);
    const rgb black = {0, 0, 0};
    for (int i = 0; i < 16; i++) {
        unsigned char c[3];
        palette_get_rgb_at_index(i, c);
        const rgb colour = {c[0], c[1], c[2]};
        char html[8];
        g_snprintf(html, sizeof html, "#%02X%02X%02X", c[0], c[1], c[2]);
        EXPECT_STREQ(palette_get_html_at_index(i), html);

        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++) {
                bool frame = x == 0 || x == 15 || y == 0 || y == 15;
                ASSERT_EQ(pixel(image, 16 * i + x, y), frame ? black : colour)
                    << "colour " << i << " at " << x << "," << y;
            }

        GdkPixbuf *brush = palette_get_brush_at_index(i);
        GdkPixbuf *box = palette_get_color_box_at_index(i);
        ASSERT_NE(brush, nullptr);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(brush), 14);
        EXPECT_EQ(gdk_pixbuf_get_height(brush), 14);
        EXPECT_EQ(gdk_pixbuf_get_width(box), 16);
        EXPECT_EQ(gdk_pixbuf_get_height(box), 16);
        EXPECT_EQ(pixel(brush, 0, 0), colour);
        EXPECT_EQ(pixel(brush, 13, 13), colour);
        EXPECT_EQ(pixel(box, 0, 0), black);
        EXPECT_EQ(pixel(box, 1, 1), colour);
        // Views into the palette image, not copies.
        EXPECT_EQ(gdk_pixbuf_get_pixels(box), gdk_pixbuf_get_pixels(image) + 16 * i * 3);
    }
}

TEST_F(Render, PaletteIndexWrapsModulo16)
{
    EXPECT_STREQ(palette_get_name_at_index(6), "blue");
    EXPECT_STREQ(palette_get_name_at_index(14), "light blue");
    EXPECT_STREQ(palette_get_name_at_index(16 + 6), "blue");
    EXPECT_STREQ(palette_get_html_at_index(-1), "#959595");
    EXPECT_EQ(palette_get_brush_at_index(17), palette_get_brush_at_index(1));
    EXPECT_EQ(palette_get_color_box_at_index(-16), palette_get_color_box_at_index(0));
    unsigned char c[3];
    palette_get_rgb_at_index(32 + 2, c);
    EXPECT_EQ(c[0], 0x68);
    EXPECT_EQ(c[1], 0x37);
    EXPECT_EQ(c[2], 0x2B);
    palette_get_rgb_at_index(0, nullptr);  // must not crash
}

TEST_F(Render, FontImagesHoldGlyphViewsInTwoColours)
{
    GdkPixbuf *images[3] = {c64pixbufs_get_lowercase_font(), c64pixbufs_get_quoted_font(),
                            c64pixbufs_get_quoted_font_rev()};
    GdkPixbuf **arrays[3] = {c64pixbufs_get_lowercase_font_array(),
                             c64pixbufs_get_quoted_font_array(),
                             c64pixbufs_get_quoted_font_rev_array()};
    for (int f = 0; f < 3; f++) {
        ASSERT_NE(images[f], nullptr);
        ASSERT_NE(arrays[f], nullptr);
        EXPECT_EQ(gdk_pixbuf_get_width(images[f]), 256);
        EXPECT_EQ(gdk_pixbuf_get_height(images[f]), 64);
        EXPECT_FALSE(gdk_pixbuf_get_has_alpha(images[f]));
        const guchar *base = gdk_pixbuf_get_pixels(images[f]);
        int stride = gdk_pixbuf_get_rowstride(images[f]);
        for (int n = 0; n < 256; n++) {
            GdkPixbuf *g = arrays[f][n];
            ASSERT_NE(g, nullptr);
            EXPECT_EQ(gdk_pixbuf_get_width(g), 8);
            EXPECT_EQ(gdk_pixbuf_get_height(g), 8);
            EXPECT_EQ(gdk_pixbuf_get_pixels(g), base + (n / 32) * 8 * stride + (n % 32) * 8 * 3)
                << "glyph " << n << " of font " << f;
            if (f < 2)
                glyph_bits(g);  // only blue and light blue
        }
    }
    // Module init twice keeps the same glyphs.
    GdkPixbuf *first = c64pixbufs_get_quoted_font_array()[0x41];
    EXPECT_EQ(c64pixbufs_module_init(), 1);
    EXPECT_EQ(c64pixbufs_get_quoted_font_array()[0x41], first);
}

TEST_F(Render, QuotedFontFollowsPetsciiQuoteMode)
{
    GdkPixbuf **q = c64pixbufs_get_quoted_font_array();
    GdkPixbuf **rev = c64pixbufs_get_quoted_font_rev_array();
    // Control codes show as reverse letters: $12 (reverse on) is a reverse R.
    EXPECT_EQ(glyph_bits(q[0x12]), inverted(glyph_bits(q[0x52])));
    for (int n = 0x00; n < 0x20; n++)
        EXPECT_EQ(glyph_bits(q[n]), inverted(glyph_bits(q[n + 0x40]))) << n;
    for (int n = 0x80; n < 0xA0; n++)
        EXPECT_EQ(glyph_bits(q[n]), inverted(glyph_bits(q[n - 0x20]))) << n;
    // The upper code pages repeat the graphics.
    EXPECT_EQ(glyph_bits(q[0xC1]), glyph_bits(q[0x61]));
    for (int n = 0xC0; n < 0xE0; n++)
        EXPECT_EQ(glyph_bits(q[n]), glyph_bits(q[n - 0x60])) << n;
    for (int n = 0xE0; n < 0xFF; n++)
        EXPECT_EQ(glyph_bits(q[n]), glyph_bits(q[n - 0x40])) << n;
    EXPECT_EQ(glyph_bits(q[0xFF]), glyph_bits(q[0xDE]));
    // Reverse font: same pixel rows, colours swapped.
    for (int n = 0; n < 256; n++)
        EXPECT_EQ(glyph_bits(rev[n], blue, light_blue), glyph_bits(q[n])) << n;

    // Shapes at the places where the mapping puts them.
    const std::string blank(8, '\0');
    EXPECT_EQ(glyph_bits(q[0x20]), blank);
    EXPECT_EQ(glyph_bits(q[0xA0]), blank);  // shifted space
    const std::string line = glyph_bits(q[0x60]);  // horizontal line
    EXPECT_EQ((unsigned char)line[0], 0x00);
    EXPECT_EQ((unsigned char)line[3], 0xFF);
    EXPECT_EQ((unsigned char)line[4], 0xFF);
    const std::string bar = glyph_bits(q[0x7D]);  // vertical line
    for (int r = 0; r < 8; r++)
        EXPECT_EQ((unsigned char)bar[r], 0x18) << r;
    EXPECT_EQ(glyph_bits(q[0xA1]), std::string(8, (char)0xF0));  // left half block
    // Letters and digits read as themselves: no two alike.
    for (int a = 0x30; a < 0x5B; a++)
        for (int b = a + 1; b < 0x5B; b++)
            EXPECT_NE(glyph_bits(q[a]), glyph_bits(q[b])) << a << " vs " << b;
}

TEST_F(Render, LowercaseFontIsScreenCodeOrderWithReverseUpperHalf)
{
    GdkPixbuf **l = c64pixbufs_get_lowercase_font_array();
    GdkPixbuf **q = c64pixbufs_get_quoted_font_array();
    for (int n = 0; n < 128; n++)
        EXPECT_EQ(glyph_bits(l[n + 128]), inverted(glyph_bits(l[n]))) << n;
    // Capitals at screen codes $41-$5A match the quoted capitals (PETSCII $41-$5A).
    for (int n = 0x41; n <= 0x5A; n++)
        EXPECT_EQ(glyph_bits(l[n]), glyph_bits(q[n])) << n;
    // Digits and punctuation are shared; small letters are not capitals.
    for (int n = 0x20; n < 0x40; n++)
        EXPECT_EQ(glyph_bits(l[n]), glyph_bits(q[n])) << n;
    for (int n = 0x01; n <= 0x1A; n++) {
        EXPECT_NE(glyph_bits(l[n]), glyph_bits(q[n + 0x40])) << n;
        EXPECT_EQ(glyph_bits(l[n])[0], '\0') << "small letter " << n << " starts on row 0";
    }
    EXPECT_EQ(glyph_bits(l[0x00]), glyph_bits(q[0x40]));  // at sign
}

TEST_F(RenderScreen, GlyphLandsAtCursorInFontColours)
{
    EXPECT_EQ(screen->width, 224);
    EXPECT_EQ(screen->height, 128);
    disp_locate(screen, 3, 2);
    disp_putc(screen, 0x41);
    EXPECT_EQ(screen->x, 32);
    EXPECT_EQ(screen->y, 16);
    EXPECT_TRUE(area_matches_glyph(target, 24, 16, quoted(0x41), 0, 0, 8, 8));
    // Only the cell changed: the rest is still the cleared blue.
    int lit = 0;
    std::string bits = glyph_bits(quoted(0x41));
    for (char c : bits)
        lit += __builtin_popcount((unsigned char)c);
    EXPECT_EQ(count_not_blue(target), lit);
    EXPECT_EQ(pixel(target, 24 + 3, 16 + 0), light_blue);  // apex of the A

    disp_newline(screen);
    EXPECT_EQ(screen->x, 0);
    EXPECT_EQ(screen->y, 24);
    disp_putc_rev(screen, 0x41);
    EXPECT_TRUE(area_matches_glyph(target, 0, 24, c64pixbufs_get_quoted_font_rev_array()[0x41],
                                   0, 0, 8, 8));
}

TEST_F(RenderScreen, TextPastRightEdgeIsClippedNotWrapped)
{
    const char *text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 bytes
    disp_print(screen, text);
    EXPECT_EQ(screen->x, 240);
    EXPECT_EQ(screen->y, 0);
    EXPECT_TRUE(area_matches_glyph(target, 27 * 8, 0, quoted((unsigned char)text[27]), 0, 0, 8, 8));
    // Nothing spilled to the next row.
    for (int x = 0; x < 224; x++)
        ASSERT_EQ(pixel(target, x, 8), blue) << x;
}

TEST_F(Render, PartlyVisibleCellIsClippedAndHiddenCellDrawsNothing)
{
    GdkPixbuf *target = new_target(220, 20);  // last column and row only partly there
    disp_screen *screen = nullptr;
    ASSERT_EQ(disp_init(&screen, target), 1);
    disp_font_face(screen, c64pixbufs_get_quoted_font_array());
    disp_clear(screen);
    GdkPixbuf *block = c64pixbufs_get_quoted_font_array()[0x80];  // reverse, mostly light
    disp_locate(screen, 27, 2);  // x 216..223 over a 220 wide, y 16..23 over 20 high
    disp_putc(screen, 0x80);
    EXPECT_EQ(screen->x, 224);
    EXPECT_TRUE(area_matches_glyph(target, 216, 16, block, 0, 0, 4, 4));
    EXPECT_GT(count_not_blue(target), 0);

    disp_clear(screen);
    disp_locate(screen, -1, 0);
    disp_putc(screen, 0x80);
    disp_locate(screen, 5, 3);
    disp_putc(screen, 0x80);
    EXPECT_EQ(count_not_blue(target), 0);
    EXPECT_EQ(screen->x, 48);
    disp_locate(screen, 0, -1);
    disp_putc(screen, 0x80);
    disp_locate(screen, G_MAXINT, G_MAXINT);  // far away, but no overflow
    disp_putc(screen, 0x80);
    disp_newline(screen);
    EXPECT_EQ(count_not_blue(target), 0);
    disp_destroy(screen, 1);
}

TEST_F(RenderScreen, MissingFontOrTargetDrawsNothingAndKeepsCursor)
{
    disp_font_face(screen, nullptr);
    disp_font_face_rev(screen, nullptr);
    disp_locate(screen, 2, 1);
    disp_print(screen, "HELLO");
    disp_print_rev(screen, "HELLO");
    disp_putc(screen, 'A');
    disp_putc_rev(screen, 'A');
    EXPECT_EQ(screen->x, 16);
    EXPECT_EQ(screen->y, 8);
    EXPECT_EQ(count_not_blue(target), 0);

    // Normal font but no reverse font: putc_rev has nothing to draw with.
    disp_font_face(screen, c64pixbufs_get_quoted_font_array());
    disp_putc_rev(screen, 'A');
    EXPECT_EQ(screen->x, 16);

    disp_screen *blind = nullptr;
    ASSERT_EQ(disp_init(&blind, nullptr), 1);
    disp_font_face(blind, c64pixbufs_get_quoted_font_array());
    disp_print(blind, "HELLO");
    disp_clear(blind);
    EXPECT_EQ(blind->x, 0);
    disp_destroy(blind, 1);

    EXPECT_EQ(disp_init(nullptr, target), 0);
    // Null screens are ignored everywhere.
    disp_destroy(nullptr, 1);
    disp_font_face(nullptr, nullptr);
    disp_font_face_rev(nullptr, nullptr);
    disp_font_color(nullptr, 3);
    disp_clear(nullptr);
    disp_locate(nullptr, 1, 1);
    disp_putc(nullptr, 'A');
    disp_putc_rev(nullptr, 'A');
    disp_print(nullptr, "A");
    disp_print_rev(nullptr, "A");
    disp_newline(nullptr);
}

TEST_F(RenderScreen, PrintRevUsesReverseFontOrFallsBackToNormal)
{
    disp_print_rev(screen, "AB");
    EXPECT_TRUE(area_matches_glyph(target, 0, 0, c64pixbufs_get_quoted_font_rev_array()['A'],
                                   0, 0, 8, 8));
    EXPECT_TRUE(area_matches_glyph(target, 8, 0, c64pixbufs_get_quoted_font_rev_array()['B'],
                                   0, 0, 8, 8));

    disp_font_face_rev(screen, nullptr);
    disp_locate(screen, 0, 1);
    disp_print_rev(screen, "AB");
    EXPECT_EQ(screen->x, 16);
    EXPECT_TRUE(area_matches_glyph(target, 0, 8, quoted('A'), 0, 0, 8, 8));
    EXPECT_TRUE(area_matches_glyph(target, 8, 8, quoted('B'), 0, 0, 8, 8));
}

TEST_F(RenderScreen, ControlBytesAreGlyphsToo)
{
    disp_print(screen, "\x0d\x12" "A");
    EXPECT_EQ(screen->x, 24);
    EXPECT_EQ(screen->y, 0);
    EXPECT_TRUE(area_matches_glyph(target, 0, 0, quoted(0x0D), 0, 0, 8, 8));
    EXPECT_TRUE(area_matches_glyph(target, 8, 0, quoted(0x12), 0, 0, 8, 8));
    disp_putc(screen, 0xFF);
    EXPECT_TRUE(area_matches_glyph(target, 24, 0, quoted(0xFF), 0, 0, 8, 8));
    disp_print(screen, "");
    EXPECT_EQ(screen->x, 32);
    disp_print(screen, nullptr);
}

TEST_F(RenderScreen, ClearPaintsEverythingBlueAndHomesCursor)
{
    disp_print_rev(screen, "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX");
    disp_locate(screen, 4, 15);
    disp_font_color(screen, 7);
    EXPECT_EQ(screen->colour, 7);
    EXPECT_GT(count_not_blue(target), 0);
    disp_clear(screen);
    EXPECT_EQ(count_not_blue(target), 0);
    EXPECT_EQ(screen->x, 0);
    EXPECT_EQ(screen->y, 0);
}

TEST_F(Render, DestroyReleasesTargetOnlyWhenAsked)
{
    GdkPixbuf *target = new_target(16, 8);
    gpointer watch = target;
    g_object_add_weak_pointer(G_OBJECT(target), &watch);

    disp_screen *screen = nullptr;
    ASSERT_EQ(disp_init(&screen, target), 1);
    EXPECT_EQ(screen->x, 0);
    EXPECT_EQ(screen->colour, 0);
    EXPECT_EQ(screen->font, nullptr);
    disp_destroy(screen, 0);
    ASSERT_NE(watch, nullptr);
    gdk_pixbuf_fill(target, 0);  // still the owner's to use

    ASSERT_EQ(disp_init(&screen, target), 1);
    disp_destroy(screen, 1);
    EXPECT_EQ(watch, nullptr);
}

// Writes one 16 x 16 sheet of every glyph of each font, spaced by one blank
// cell and scaled 3x, to look at.
// The sheets go to $DRAVLEN_GLYPH_SHEET_DIR when set, else to a temp folder
// that is removed again.
TEST_F(Render, GlyphSheetsRoundTripThroughPng)
{
    const char *keep = g_getenv("DRAVLEN_GLYPH_SHEET_DIR");
    gchar *dir = keep ? g_strdup(keep) : g_dir_make_tmp("render_test_XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    struct {
        const char *file;
        GdkPixbuf **glyphs;
    } sheets[] = {
        {"glyphs_lowercase.png", c64pixbufs_get_lowercase_font_array()},
        {"glyphs_quoted.png", c64pixbufs_get_quoted_font_array()},
        {"glyphs_quoted_rev.png", c64pixbufs_get_quoted_font_rev_array()},
    };
    for (const auto &sheet : sheets) {
        GdkPixbuf *image = new_target(33 * 8, 33 * 8);
        disp_screen *screen = nullptr;
        ASSERT_EQ(disp_init(&screen, image), 1);
        disp_font_face(screen, sheet.glyphs);
        disp_clear(screen);
        for (int n = 0; n < 256; n++) {
            disp_locate(screen, 1 + 2 * (n % 16), 1 + 2 * (n / 16));
            disp_putc(screen, (unsigned char)n);
        }
        GdkPixbuf *big = gdk_pixbuf_scale_simple(image, 3 * 33 * 8, 3 * 33 * 8,
                                                 GDK_INTERP_NEAREST);
        gchar *path = g_build_filename(dir, sheet.file, nullptr);
        ASSERT_TRUE(gdk_pixbuf_save(big, path, "png", nullptr, nullptr));
        GdkPixbuf *back = gdk_pixbuf_new_from_file(path, nullptr);
        ASSERT_NE(back, nullptr);
        // Glyph $41 sits in row 4, column 1 of the sheet: cell (3, 9).
        for (int y = 0; y < 8; y++)
            for (int x = 0; x < 8; x++)
                ASSERT_EQ(pixel(back, 3 * (24 + x) + 1, 3 * (72 + y) + 1),
                          pixel(sheet.glyphs[0x41], x, y));
        g_object_unref(back);
        if (!keep)
            g_remove(path);
        g_free(path);
        g_object_unref(big);
        disp_destroy(screen, 1);
    }
    if (!keep)
        g_rmdir(dir);
    g_free(dir);
}

}  // namespace
