#include "gui/drawing/disp.h"

#include "gui/drawing/palette.h"

#include <algorithm>

namespace {

// Keeps 8 * column and the following advances well inside int.
const int cursor_limit = 1 << 26;

int clamp_cells(int cells)
{
    return std::clamp(cells, -cursor_limit, cursor_limit);
}

void draw_glyph(disp_screen *screen, GdkPixbuf **glyphs, unsigned char byte)
{
    if (!screen->pixbuf || !glyphs)
        return;
    GdkPixbuf *glyph = glyphs[byte];
    if (glyph) {
        int x0 = std::max(screen->x, 0);
        int y0 = std::max(screen->y, 0);
        int x1 = std::min(screen->x + 8, screen->width);
        int y1 = std::min(screen->y + 8, screen->height);
        if (x0 < x1 && y0 < y1)
            gdk_pixbuf_copy_area(glyph, x0 - screen->x, y0 - screen->y, x1 - x0, y1 - y0,
                                 screen->pixbuf, x0, y0);
    }
    if (screen->x < 8 * cursor_limit)
        screen->x += 8;
}

}  // namespace

int disp_init(disp_screen **screen, GdkPixbuf *target)
{
    if (!screen)
        return 0;
    *screen = g_try_new0(disp_screen, 1);
    if (!*screen)
        return 0;
    (*screen)->pixbuf = target;
    if (target) {
        (*screen)->width = gdk_pixbuf_get_width(target);
        (*screen)->height = gdk_pixbuf_get_height(target);
    }
    return 1;
}

void disp_destroy(disp_screen *screen, int release)
{
    if (!screen)
        return;
    if (release && screen->pixbuf)
        g_object_unref(screen->pixbuf);
    g_free(screen);
}

void disp_font_face(disp_screen *screen, GdkPixbuf **glyphs)
{
    if (screen)
        screen->font = glyphs;
}

void disp_font_face_rev(disp_screen *screen, GdkPixbuf **glyphs)
{
    if (screen)
        screen->font_rev = glyphs;
}

void disp_font_color(disp_screen *screen, int colour)
{
    if (screen)
        screen->colour = colour;
}

void disp_clear(disp_screen *screen)
{
    if (!screen)
        return;
    if (screen->pixbuf) {
        unsigned char rgb[3];
        palette_get_rgb_at_index(6, rgb);
        guint32 pixel = ((guint32)rgb[0] << 24) | ((guint32)rgb[1] << 16)
                        | ((guint32)rgb[2] << 8) | 0xFF;
        gdk_pixbuf_fill(screen->pixbuf, pixel);
    }
    screen->x = 0;
    screen->y = 0;
}

void disp_locate(disp_screen *screen, int column, int row)
{
    if (!screen)
        return;
    screen->x = 8 * clamp_cells(column);
    screen->y = 8 * clamp_cells(row);
}

void disp_newline(disp_screen *screen)
{
    if (!screen)
        return;
    screen->x = 0;
    if (screen->y < 8 * cursor_limit)
        screen->y += 8;
}

void disp_putc(disp_screen *screen, unsigned char byte)
{
    if (screen)
        draw_glyph(screen, screen->font, byte);
}

void disp_putc_rev(disp_screen *screen, unsigned char byte)
{
    if (screen)
        draw_glyph(screen, screen->font_rev, byte);
}

void disp_print(disp_screen *screen, const char *text)
{
    if (!screen || !text)
        return;
    for (const char *p = text; *p; p++)
        draw_glyph(screen, screen->font, (unsigned char)*p);
}

void disp_print_rev(disp_screen *screen, const char *text)
{
    if (!screen || !text)
        return;
    GdkPixbuf **glyphs = screen->font_rev ? screen->font_rev : screen->font;
    for (const char *p = text; *p; p++)
        draw_glyph(screen, glyphs, (unsigned char)*p);
}
