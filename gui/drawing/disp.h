#ifndef DRAVLEN_RENDER_DISP_H
#define DRAVLEN_RENDER_DISP_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// A text screen: a cursor-based printer of 8 x 8 glyphs into an RGB image.
// The cell grid is width / 8 columns by height / 8 rows. Nothing wraps: text
// past the right edge is lost; only disp_newline and disp_locate change row.
// Every function ignores a null screen. GUI thread only.
struct disp_screen {
    GdkPixbuf *pixbuf;    // target; not owned unless released by disp_destroy
    int width, height;    // target size when the screen was made
    int x, y;             // cursor in pixels, multiples of 8
    int colour;           // stored by disp_font_color; drawing ignores it
    GdkPixbuf **font;     // 256 glyphs for normal text, or null
    GdkPixbuf **font_rev; // 256 glyphs for reverse text, or null
};

// Makes a screen for the target with the cursor at (0, 0), colour 0 and no
// fonts. Returns 1, or 0 (and *screen null) if it could not be made.
int disp_init(disp_screen **screen, GdkPixbuf *target);
// Frees the screen; with release set it also drops its reference to the
// target.
void disp_destroy(disp_screen *screen, int release);

void disp_font_face(disp_screen *screen, GdkPixbuf **glyphs);
void disp_font_face_rev(disp_screen *screen, GdkPixbuf **glyphs);
void disp_font_color(disp_screen *screen, int colour);

// Paints the whole target blue (palette colour 6); cursor to (0, 0).
void disp_clear(disp_screen *screen);
void disp_locate(disp_screen *screen, int column, int row);
void disp_newline(disp_screen *screen);

// Draw glyph `byte` at the cursor and advance one cell. Every byte is a
// glyph; no control codes. Without a target or font nothing happens at all.
void disp_putc(disp_screen *screen, unsigned char byte);
void disp_putc_rev(disp_screen *screen, unsigned char byte);
void disp_print(disp_screen *screen, const char *text);
// Prints with the normal font when the screen has no reverse font.
void disp_print_rev(disp_screen *screen, const char *text);

#endif
