#include "gui/drawing/palette.h"

// Two distinct rows make up the whole image: the black frame rows (0 and 15)
// and the rows that cross every colour square (1 to 14).
#define PALETTE_FRAME_ROW \
    "################################################################" \
    "################################################################" \
    "################################################################" \
    "################################################################"
#define PALETTE_COLOUR_ROW \
    "#################$$$$$$$$$$$$$$##%%%%%%%%%%%%%%##&&&&&&&&&&&&&&#" \
    "#''''''''''''''##((((((((((((((##))))))))))))))##**************#" \
    "#++++++++++++++##,,,,,,,,,,,,,,##--------------##..............#" \
    "#//////////////##::::::::::::::##;;;;;;;;;;;;;;##==============#"

const char *palette_xpm_data[] = {
    "256 16 16 1",
    "# c #000000",
    "$ c #FFFFFF",
    "% c #68372B",
    "& c #70A4B2",
    "' c #6F3D86",
    "( c #588D43",
    ") c #352879",
    "* c #B8C76F",
    "+ c #6F4F25",
    ", c #433900",
    "- c #9A6759",
    ". c #444444",
    "/ c #6C6C6C",
    ": c #9AD284",
    "; c #6C5EB5",
    "= c #959595",
    PALETTE_FRAME_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_COLOUR_ROW,
    PALETTE_FRAME_ROW,
};

const unsigned char palette_rgb[16][3] = {
    {0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}, {0x68, 0x37, 0x2B}, {0x70, 0xA4, 0xB2},
    {0x6F, 0x3D, 0x86}, {0x58, 0x8D, 0x43}, {0x35, 0x28, 0x79}, {0xB8, 0xC7, 0x6F},
    {0x6F, 0x4F, 0x25}, {0x43, 0x39, 0x00}, {0x9A, 0x67, 0x59}, {0x44, 0x44, 0x44},
    {0x6C, 0x6C, 0x6C}, {0x9A, 0xD2, 0x84}, {0x6C, 0x5E, 0xB5}, {0x95, 0x95, 0x95},
};

const char *const palette_name[16] = {
    "black", "white", "red", "cyan", "purple", "green", "blue", "yellow",
    "orange", "brown", "light red", "dark grey", "grey", "light green",
    "light blue", "light grey",
};

const char *const palette_html[16] = {
    "#000000", "#FFFFFF", "#68372B", "#70A4B2", "#6F3D86", "#588D43",
    "#352879", "#B8C76F", "#6F4F25", "#433900", "#9A6759", "#444444",
    "#6C6C6C", "#9AD284", "#6C5EB5", "#959595",
};

static GdkPixbuf *palette_pixbuf;
static GdkPixbuf *brush[16];
static GdkPixbuf *color_box[16];

static int palette_index(int index)
{
    return ((index % 16) + 16) % 16;
}

int palette_module_init(void)
{
    if (palette_pixbuf)
        return 1;
    GdkPixbuf *image = gdk_pixbuf_new_from_xpm_data(palette_xpm_data);
    if (!image)
        return 0;
    if (gdk_pixbuf_get_width(image) != 256 || gdk_pixbuf_get_height(image) != 16) {
        g_object_unref(image);
        return 0;
    }
    palette_pixbuf = image;
    // The views share the image's pixels; they live as long as the program.
    for (int i = 0; i < 16; i++) {
        brush[i] = gdk_pixbuf_new_subpixbuf(palette_pixbuf, 16 * i + 1, 1, 14, 14);
        color_box[i] = gdk_pixbuf_new_subpixbuf(palette_pixbuf, 16 * i, 0, 16, 16);
    }
    return 1;
}

GdkPixbuf *palette_get_brush_at_index(int index)
{
    return brush[palette_index(index)];
}

GdkPixbuf *palette_get_color_box_at_index(int index)
{
    return color_box[palette_index(index)];
}

void palette_get_rgb_at_index(int index, unsigned char rgb[3])
{
    if (!rgb)
        return;
    const unsigned char *c = palette_rgb[palette_index(index)];
    rgb[0] = c[0];
    rgb[1] = c[1];
    rgb[2] = c[2];
}

const char *palette_get_name_at_index(int index)
{
    return palette_name[palette_index(index)];
}

const char *palette_get_html_at_index(int index)
{
    return palette_html[palette_index(index)];
}

GdkPixbuf *palette_get_palette_pixbuf(void)
{
    return palette_pixbuf;
}
