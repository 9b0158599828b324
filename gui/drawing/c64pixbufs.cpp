#include "gui/drawing/c64pixbufs.h"

#include <string>
#include <vector>

namespace {

struct glyph_art {
    int code;          // screen code
    const char *name;
    const char *rows;  // 64 pixels, row by row: '#' foreground, '.' background
};

const glyph_art upper_art[] = {
#include "gui/drawing/glyphs_upper.inc"
};

const glyph_art lower_art[] = {
#include "gui/drawing/glyphs_lower.inc"
};

// One byte per glyph row, most significant bit leftmost.
typedef unsigned char glyph_rows[8];

glyph_rows upper_set[128];
glyph_rows lower_set[128];

struct font {
    GdkPixbuf *image;
    GdkPixbuf *glyphs[256];
};

font c64_lowercase;
font c64_quoted;
font c64_quoted_rev;

int art_to_rows(const glyph_art &art, glyph_rows out)
{
    if (art.code < 0 || art.code > 127 || !art.rows)
        return 0;
    const char *p = art.rows;
    for (int r = 0; r < 8; r++) {
        unsigned char bits = 0;
        for (int c = 0; c < 8; c++, p++) {
            if (*p == '#')
                bits |= (unsigned char)(0x80 >> c);
            else if (*p != '.')
                return 0;
        }
        out[r] = bits;
    }
    return *p == '\0';
}

int build_sets(void)
{
    // The graphics set lists every screen code in order.
    if (sizeof upper_art / sizeof upper_art[0] != 128)
        return 0;
    for (int i = 0; i < 128; i++)
        if (upper_art[i].code != i || !art_to_rows(upper_art[i], upper_set[i]))
            return 0;
    // The lower-case set shares most shapes; its capitals sit 64 codes up.
    for (int i = 0; i < 128; i++)
        for (int r = 0; r < 8; r++)
            lower_set[i][r] = upper_set[i][r];
    for (int i = 0x41; i <= 0x5A; i++)
        for (int r = 0; r < 8; r++)
            lower_set[i][r] = upper_set[i - 0x40][r];
    for (const glyph_art &art : lower_art)
        if (!art_to_rows(art, lower_set[art.code]))
            return 0;
    return 1;
}

// The glyph that PETSCII code n shows between quotes: a screen code of the
// graphics set and whether it is shown in reverse video.
void quoted_source(int n, int *screen_code, int *reverse)
{
    *reverse = 0;
    if (n == 0xFF)
        n = 0x7E;               // pi, as $DE
    else if (n >= 0xE0)
        n -= 0x40;              // $E0-$FE repeat $A0-$BE
    else if (n >= 0xC0)
        n -= 0x60;              // $C0-$DF repeat $60-$7F
    if (n < 0x20) {
        *screen_code = n;
        *reverse = 1;
    } else if (n < 0x40) {
        *screen_code = n;
    } else if (n < 0x60) {
        *screen_code = n - 0x40;
    } else if (n < 0x80) {
        *screen_code = n - 0x20;
    } else if (n < 0xA0) {
        *screen_code = n - 0x40;
        *reverse = 1;
    } else {
        *screen_code = n - 0x40;
    }
}

// Glyph n lies at x = (n mod 32) * 8, y = (n div 32) * 8; rows[n] gives its
// pixels. " " is the background colour, "." the foreground.
int build_font(font &f, const glyph_rows rows[256], const char *background,
               const char *foreground)
{
    if (f.image)
        return 1;
    std::vector<std::string> xpm;
    xpm.push_back("256 64 2 1");
    xpm.push_back(std::string("  c ") + background);
    xpm.push_back(std::string(". c ") + foreground);
    for (int y = 0; y < 64; y++) {
        std::string line(256, ' ');
        for (int x = 0; x < 256; x++) {
            int n = (y / 8) * 32 + x / 8;
            if (rows[n][y % 8] & (0x80 >> (x % 8)))
                line[x] = '.';
        }
        xpm.push_back(line);
    }
    std::vector<const char *> data;
    for (const std::string &s : xpm)
        data.push_back(s.c_str());
    f.image = gdk_pixbuf_new_from_xpm_data(data.data());
    if (!f.image)
        return 0;
    if (gdk_pixbuf_get_width(f.image) != 256 || gdk_pixbuf_get_height(f.image) != 64) {
        g_object_unref(f.image);
        f.image = nullptr;
        return 0;
    }
    for (int n = 0; n < 256; n++)
        f.glyphs[n] = gdk_pixbuf_new_subpixbuf(f.image, (n % 32) * 8, (n / 32) * 8, 8, 8);
    return 1;
}

const char *const blue = "#352879";
const char *const light_blue = "#6c5eb5";

int initialised;

}  // namespace

int c64pixbufs_module_init(void)
{
    if (initialised)
        return 1;
    if (!build_sets())
        return 0;

    glyph_rows lowercase[256];
    glyph_rows quoted[256];
    for (int n = 0; n < 256; n++) {
        unsigned char invert = n >= 128 ? 0xFF : 0x00;
        for (int r = 0; r < 8; r++)
            lowercase[n][r] = lower_set[n & 127][r] ^ invert;
        int code, reverse;
        quoted_source(n, &code, &reverse);
        invert = reverse ? 0xFF : 0x00;
        for (int r = 0; r < 8; r++)
            quoted[n][r] = upper_set[code][r] ^ invert;
    }

    if (!build_font(c64_lowercase, lowercase, blue, light_blue)
        || !build_font(c64_quoted, quoted, blue, light_blue)
        || !build_font(c64_quoted_rev, quoted, light_blue, blue))
        return 0;
    initialised = 1;
    return 1;
}

GdkPixbuf **c64pixbufs_get_lowercase_font_array(void)
{
    return initialised ? c64_lowercase.glyphs : nullptr;
}

GdkPixbuf **c64pixbufs_get_quoted_font_array(void)
{
    return initialised ? c64_quoted.glyphs : nullptr;
}

GdkPixbuf **c64pixbufs_get_quoted_font_rev_array(void)
{
    return initialised ? c64_quoted_rev.glyphs : nullptr;
}

GdkPixbuf *c64pixbufs_get_lowercase_font(void)
{
    return initialised ? c64_lowercase.image : nullptr;
}

GdkPixbuf *c64pixbufs_get_quoted_font(void)
{
    return initialised ? c64_quoted.image : nullptr;
}

GdkPixbuf *c64pixbufs_get_quoted_font_rev(void)
{
    return initialised ? c64_quoted_rev.image : nullptr;
}
