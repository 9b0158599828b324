#ifndef DRAVLEN_RENDER_PALETTE_H
#define DRAVLEN_RENDER_PALETTE_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// The 16 C64 colours. The palette image is 256 x 16: colour i owns the
// 16 x 16 cell at x = 16 * i, a black frame around a 14 x 14 square.
extern const char *palette_xpm_data[];
extern const unsigned char palette_rgb[16][3];
extern const char *const palette_name[16];
extern const char *const palette_html[16];

// Loads the palette image and cuts the brushes and colour boxes; further
// calls do nothing. Returns 1 on success, 0 if the image could not be made.
int palette_module_init(void);

// Indexes are taken modulo 16. The pixbufs belong to the palette module and
// are null until palette_module_init has run.
GdkPixbuf *palette_get_brush_at_index(int index);      // 14 x 14 square
GdkPixbuf *palette_get_color_box_at_index(int index);  // 16 x 16 framed swatch
void palette_get_rgb_at_index(int index, unsigned char rgb[3]);
const char *palette_get_name_at_index(int index);
const char *palette_get_html_at_index(int index);      // "#RRGGBB", upper case
GdkPixbuf *palette_get_palette_pixbuf(void);

#endif
