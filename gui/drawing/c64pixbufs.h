#ifndef DRAVLEN_RENDER_C64PIXBUFS_H
#define DRAVLEN_RENDER_C64PIXBUFS_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// Three C64 fonts, each a 256 x 64 image of 256 glyphs (8 rows of 32) and an
// array of 256 views of 8 x 8 pixels into it, indexed by glyph number:
//  - lower-case: the lower/upper-case set in screen-code order; 128-255 are
//    the reverse-video forms of 0-127;
//  - quoted: the upper-case/graphics set arranged by PETSCII code as the C64
//    shows that code between quotes;
//  - quoted reverse: the quoted font with background and foreground swapped.
// Light blue (#6c5eb5) on blue (#352879).

// Builds the images and the glyph views; further calls do nothing. Returns 1
// on success, 0 if an image could not be made.
int c64pixbufs_module_init(void);

// Arrays of 256 glyphs; null before c64pixbufs_module_init has run.
GdkPixbuf **c64pixbufs_get_lowercase_font_array(void);
GdkPixbuf **c64pixbufs_get_quoted_font_array(void);
GdkPixbuf **c64pixbufs_get_quoted_font_rev_array(void);

GdkPixbuf *c64pixbufs_get_lowercase_font(void);
GdkPixbuf *c64pixbufs_get_quoted_font(void);
GdkPixbuf *c64pixbufs_get_quoted_font_rev(void);

#endif
