#include "gui/drawing/dirview.h"

#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "engine/options.h"
#include "image/d64.h"
#include "image/damage.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "image/listing.h"
#include "gui/drawing/c64pixbufs.h"
#include "gui/drawing/palette.h"

#define DIRVIEW_STR2(x) #x
#define DIRVIEW_STR(x) DIRVIEW_STR2(x)

GdkPixbuf *pixbuf_directory_listing = nullptr;
disp_screen *display_filer = nullptr;
filer_record *dir_filer = nullptr;
GtkWidget *drawingarea_directory_listing = nullptr;
int flag_dir_in_track_18 = 1;
int flag_dir_listing_was_last_operation = 0;
GtkWidget *vscrollbar_files_directory = nullptr;
bool listing_from_image = false;

const char *const filer_placeholder_listing =
    "0 \x12\"DRAVLEN CLIENT  \" " DIRVIEW_STR(TRACKS) " 2A\r664 BLOCKS FREE.\r";

namespace {

constexpr int SCREEN_WIDTH = FILER_COLUMNS * 8;
constexpr int SCREEN_HEIGHT = FILER_ROWS * 8;

// Per item of the panel's listing: 1 when the damage report names its file.
// Only for a listing of the image in memory; a drive's listing has none.
std::vector<char> damaged_items;

// The damaged files among the items of the image's listing: with scratched
// entries shown every entry is an item, else every file is.
std::vector<char> damaged_items_of(const uint8_t *image, int whole_disk, int with_scratched)
{
    damage_report report;
    damage_report_make(image, whole_disk, &report);
    std::vector<char> out;
    for (const damage_file &f : report.files) {
        size_t item = with_scratched ? (size_t)(f.entry - 1) : out.size();
        if (out.size() <= item)
            out.resize(item + 1, 0);
        out[item] = damage_file_is_damaged(f) ? 1 : 0;
    }
    return out;
}

// Damaged files' rows in light red instead of light blue, on the unscaled
// panel image: the listing keeps its layout and stays readable.
void mark_damaged_rows(GdkPixbuf *pixbuf, const filer_record *b)
{
    unsigned char light_blue[3], light_red[3];
    palette_get_rgb_at_index(14, light_blue);
    palette_get_rgb_at_index(10, light_red);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int row = 1; row <= FILER_VISIBLE_ROWS; row++) {
        size_t item = (size_t)(b->top + row - 1);
        if ((int)item >= b->count || item >= damaged_items.size() || !damaged_items[item])
            continue;
        for (int y = 8 * row; y < 8 * row + 8; y++) {
            guchar *p = pixels + (size_t)y * stride;
            for (int x = 0; x < SCREEN_WIDTH; x++, p += channels)
                if (memcmp(p, light_blue, 3) == 0)
                    memcpy(p, light_red, 3);
        }
    }
}

// Prints spaces in normal video up to the right edge, wiping what an
// earlier, longer line left on the row.
void pad_row(disp_screen *screen)
{
    while (screen->x < screen->width)
        disp_putc(screen, ' ');
}

void print_item_row(filer_record *b, int item)
{
    int row = item - b->top + 1;
    if (row < 1 || row > FILER_VISIBLE_ROWS)
        return;
    disp_locate(b->screen, 0, row);
    if (item == b->current)
        disp_print_rev(b->screen, b->items[item]);
    else
        disp_print(b->screen, b->items[item]);
    pad_row(b->screen);
}

void redraw_items(filer_record *b)
{
    disp_screen *s = b->screen;
    if (b->count == 0) {
        disp_locate(s, 0, 1);
        disp_print(s, "NO ITEMS TO DISPLAY");
        pad_row(s);
        for (int row = 2; row <= FILER_VISIBLE_ROWS; row++) {
            disp_locate(s, 0, row);
            pad_row(s);
        }
        return;
    }
    for (int row = 1; row <= FILER_VISIBLE_ROWS; row++) {
        int item = b->top + row - 1;
        if (item < b->count) {
            print_item_row(b, item);
        } else {
            disp_locate(s, 0, row);
            pad_row(s);
        }
    }
}

// The two rows that change when the highlight moves within the page.
void move_highlight(filer_record *b, int to)
{
    int from = b->current;
    b->current = to;
    print_item_row(b, from);
    print_item_row(b, to);
}

int last_top(const filer_record *b)
{
    return std::max(0, b->count - FILER_VISIBLE_ROWS);
}

// Line `index` of the current item, or null without items.
const char *current_line(filer_record *b)
{
    if (!b || b->count <= 0 || b->current < 0 || b->current >= b->count)
        return nullptr;
    return b->items[b->current];
}

GdkPixbuf *new_rgb(int width, int height)
{
    return gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
}

// A text screen on `target` with the quoted fonts, cleared.
disp_screen *quoted_screen(GdkPixbuf *target)
{
    disp_screen *screen = nullptr;
    if (!disp_init(&screen, target))
        return nullptr;
    disp_font_face(screen, c64pixbufs_get_quoted_font_array());
    disp_font_face_rev(screen, c64pixbufs_get_quoted_font_rev_array());
    disp_clear(screen);
    return screen;
}

GtkAdjustment *scrollbar_adjustment()
{
    return vscrollbar_files_directory ? gtk_range_get_adjustment(GTK_RANGE(vscrollbar_files_directory))
                                      : nullptr;
}

void after_move()
{
    drawingarea_directory_listing_redraw();
    vscrollbar_files_directory_sync();
}

}  // namespace

int xgets(const char **cursor, char *buf, int size)
{
    if (!cursor || !*cursor || !buf || size <= 0)
        return 0;
    const char *p = *cursor;
    int n = 0;
    while (*p && *p != '\r') {
        if (n < size - 1)
            buf[n++] = *p;
        p++;
    }
    buf[n] = '\0';
    if (*p != '\r')
        return 0;
    *cursor = p + 1;
    return 1;
}

int xatoi(const char **cursor, int *value)
{
    if (!cursor || !*cursor || !value)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(*cursor);
    *value = 0;
    auto done = [&](int ok) {
        *cursor = reinterpret_cast<const char *>(p);
        return ok;
    };
    while (*p == ' ')
        p++;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        p++;
    }
    int base;
    if (*p == '0') {
        p++;
        if (*p == 'b') {
            base = 2;
            p++;
        } else if (*p == 'x') {
            base = 16;
            p++;
        } else if (*p <= ' ') {
            return done(1);
        } else {
            base = 8;
        }
    } else {
        if (*p < '0' || *p > '9')
            return done(0);
        base = 10;
    }
    long long result = 0;
    for (; *p > ' '; p++) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (*p >= 'a' && *p <= 'z')
            digit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'Z')
            digit = *p - 'A' + 10;
        else
            return done(0);
        if (digit >= base)
            return done(0);
        result = result * base + digit;
        // A number that does not fit an int is not a number of ours.
        if (result > INT_MAX)
            return done(0);
    }
    *value = (int)(negative ? -result : result);
    return done(1);
}

int filer_init(filer_record **browser, disp_screen *screen)
{
    if (!browser)
        return 0;
    *browser = g_try_new0(filer_record, 1);
    if (!*browser)
        return 0;
    (*browser)->screen = screen;
    return 1;
}

void filer_destroy(filer_record *browser)
{
    g_free(browser);
}

int filer_show_dir(filer_record *b, const char *listing)
{
    if (!b)
        return 0;
    if (b == dir_filer) {
        damaged_items.clear();
        listing_from_image = false;
    }
    b->header[0] = '\0';
    b->footer[0] = '\0';
    b->current = 0;
    b->top = 0;
    b->count = 0;
    const char *cursor = listing;
    if (listing && xgets(&cursor, b->header, sizeof b->header)) {
        int lines = 0;
        while (lines < FILER_MAX_LINES && xgets(&cursor, b->items[lines], FILER_LINE_SIZE))
            lines++;
        if (lines > 0) {
            g_strlcpy(b->footer, b->items[lines - 1], sizeof b->footer);
            b->count = lines - 1;
        }
    }
    d64disp_directory_print_base(b->screen, b->header, 0);
    disp_locate(b->screen, 0, FILER_ROWS - 1);
    disp_print(b->screen, b->footer);
    if (b->screen)
        pad_row(b->screen);
    if (b->screen)
        redraw_items(b);
    return b->count;
}

int filer_move_down(filer_record *b)
{
    if (!b || b->current >= b->count - 1)
        return 0;
    if (b->current > b->top + FILER_VISIBLE_ROWS - 2) {
        b->current++;
        b->top++;
        if (b->screen)
            redraw_items(b);
    } else if (b->screen) {
        move_highlight(b, b->current + 1);
    } else {
        b->current++;
    }
    return 1;
}

int filer_move_up(filer_record *b)
{
    if (!b || b->current <= 0)
        return 0;
    if (b->current <= b->top) {
        b->current--;
        b->top--;
        if (b->screen)
            redraw_items(b);
    } else if (b->screen) {
        move_highlight(b, b->current - 1);
    } else {
        b->current--;
    }
    return 1;
}

int filer_move_to_first(filer_record *b)
{
    if (!b || b->current == 0)
        return 0;
    b->current = 0;
    b->top = 0;
    if (b->screen)
        redraw_items(b);
    return 1;
}

int filer_move_to_last(filer_record *b)
{
    if (!b || b->count == 0 || b->current == b->count - 1)
        return 0;
    b->current = b->count - 1;
    b->top = last_top(b);
    if (b->screen)
        redraw_items(b);
    return 1;
}

int filer_move_to_next_page(filer_record *b)
{
    if (!b)
        return 0;
    int last = last_top(b);
    if (b->top == last) {
        b->current = std::max(0, b->count - 1);
    } else {
        int top = b->top + FILER_VISIBLE_ROWS;
        if (top >= std::max(b->count, FILER_VISIBLE_ROWS) - (FILER_VISIBLE_ROWS - 1))
            top = last;
        b->current = b->current - b->top + top;
        b->top = top;
    }
    if (b->screen)
        redraw_items(b);
    return 1;
}

int filer_move_to_prev_page(filer_record *b)
{
    if (!b)
        return 0;
    if (b->top == 0) {
        b->current = 0;
    } else if (b->top >= FILER_VISIBLE_ROWS) {
        b->top -= FILER_VISIBLE_ROWS;
        b->current -= FILER_VISIBLE_ROWS;
    } else {
        b->current -= b->top;
        b->top = 0;
    }
    if (b->screen)
        redraw_items(b);
    return 1;
}

int filer_move_to(filer_record *b, int row)
{
    if (!b || row < 1 || row > FILER_VISIBLE_ROWS || row - 1 >= b->count - b->top)
        return 0;
    int item = b->top + row - 1;
    if (b->screen)
        move_highlight(b, item);
    else
        b->current = item;
    return 1;
}

int filer_move_top_item_to(filer_record *b, int item)
{
    if (!b)
        return 0;
    // Keeps a stray value from pointing the page outside the items.
    b->top = std::clamp(item, 0, std::max(0, b->count - 1));
    if (b->current < b->top)
        b->current = b->top;
    if (b->current > b->top + FILER_VISIBLE_ROWS - 1)
        b->current = b->top + FILER_VISIBLE_ROWS - 1;
    if (b->screen)
        redraw_items(b);
    return 1;
}

int filer_get_count_of_visible_rows(void)
{
    return FILER_VISIBLE_ROWS;
}

int filer_get_current_item(filer_record *b)
{
    return b && b->count > 0 ? b->current : -1;
}

int filer_get_top_item(filer_record *b)
{
    return b && b->count > 0 ? b->top : -1;
}

int filer_get_number_items(filer_record *b)
{
    return b ? b->count : 0;
}

int filer_get_current_item_filetype(filer_record *b)
{
    const char *line = current_line(b);
    if (!line || strlen(line) < 27)
        return -1;
    for (int type = 0; type < 5; type++)
        if (strncmp(line + 24, filetypedescriptors[type], 3) == 0)
            return type;
    return -1;
}

int filer_get_current_item_filename(filer_record *b, char *name17)
{
    const char *line = current_line(b);
    if (!line || !name17)
        return 0;
    // Columns 6 to 21; a short line reads as spaces past its end.
    unsigned char field[16];
    size_t length = strlen(line);
    for (int i = 0; i < 16; i++)
        field[i] = (size_t)(6 + i) < length ? (unsigned char)line[6 + i] : ' ';
    int end = 16;
    int i = 15;
    while (i >= 0 && field[i] == ' ')
        i--;
    if (i >= 0)
        end = field[i] == '"' ? i : i + 1;
    for (int k = 0; k < end; k++)
        if (field[k] == 0xA0) {
            end = k;
            break;
        }
    memcpy(name17, field, end);
    name17[end] = '\0';
    return 1;
}

int filer_get_current_item_size_in_blocks(filer_record *b, int *size)
{
    const char *line = current_line(b);
    if (!line || !size)
        return 0;
    return xatoi(&line, size);
}

int filer_get_disk_name(filer_record *b, char *name17)
{
    if (!b || !name17)
        return 0;
    size_t length = strlen(b->header);
    size_t n = length > 4 ? std::min<size_t>(16, length - 4) : 0;
    memcpy(name17, b->header + 4, n);
    name17[n] = '\0';
    return 1;
}

int filer_save_dir_listing_to_png(filer_record *b, const char *path, int double_size,
                                  int dir_in_track_18, GError **error)
{
    if (!b) {
        g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, "No directory listing");
        return 0;
    }
    GdkPixbuf *image = new_rgb(SCREEN_WIDTH, 8 * (b->count + 2));
    disp_screen *screen = image ? quoted_screen(image) : nullptr;
    if (!screen) {
        if (image)
            g_object_unref(image);
        g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_NOMEM, "Out of memory");
        return 0;
    }
    d64disp_directory_print_base(screen, b->header, 1);
    for (int i = 0; i < b->count; i++) {
        disp_locate(screen, 0, i + 1);
        disp_print(screen, b->items[i]);
    }
    disp_locate(screen, 0, b->count + 1);
    disp_print(screen, b->footer);
    disp_destroy(screen, 0);
    if (!dir_in_track_18)
        d64pixbuf_substitute_blues_with_reds(image);
    GdkPixbuf *saved = image;
    if (double_size) {
        saved = gdk_pixbuf_scale_simple(image, 2 * SCREEN_WIDTH, 16 * (b->count + 2),
                                        GDK_INTERP_NEAREST);
        if (!saved) {
            g_object_unref(image);
            g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_NOMEM, "Out of memory");
            return 0;
        }
    }
    gboolean ok = gdk_pixbuf_save(saved, path, "png", error, "compression", "9", NULL);
    if (saved != image)
        g_object_unref(saved);
    g_object_unref(image);
    return ok ? 1 : 0;
}

void d64disp_directory_print_base(disp_screen *screen, const char *header, int reverse)
{
    if (!screen)
        return;
    disp_clear(screen);
    if (!header)
        return;
    const char *mark = reverse ? strchr(header, 0x12) : nullptr;
    if (!mark) {
        disp_print(screen, header);
        return;
    }
    std::string before(header, mark - header);
    disp_print(screen, before.c_str());
    disp_print_rev(screen, mark + 1);
}

void d64pixbuf_substitute_blues_with_reds(GdkPixbuf *pixbuf)
{
    if (!pixbuf || gdk_pixbuf_get_n_channels(pixbuf) < 3)
        return;
    int width = gdk_pixbuf_get_width(pixbuf);
    int height = gdk_pixbuf_get_height(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
    unsigned char blue[3], red[3], light_red[3];
    palette_get_rgb_at_index(6, blue);
    palette_get_rgb_at_index(2, red);
    palette_get_rgb_at_index(10, light_red);
    for (int y = 0; y < height; y++) {
        guchar *p = pixels + (size_t)y * stride;
        for (int x = 0; x < width; x++, p += channels)
            memcpy(p, p[0] == blue[0] ? red : light_red, 3);
    }
}

int d64pixbuf_directory_decode_listing(const uint8_t *image, GdkPixbuf **out, int min_rows)
{
    if (!out)
        return 0;
    *out = nullptr;
    if (!image)
        return 0;
    GString *text = g_string_new(nullptr);
    int loop = 0;
    int lines = d64_create_directory_listing(image, text, options_include_scr_files, &loop);
    int rows = std::max(lines, min_rows);
    GdkPixbuf *picture = rows > 0 ? new_rgb(SCREEN_WIDTH, 8 * rows) : nullptr;
    disp_screen *screen = picture ? quoted_screen(picture) : nullptr;
    if (!screen) {
        if (picture)
            g_object_unref(picture);
        g_string_free(text, TRUE);
        return 0;
    }
    const char *cursor = text->str;
    char line[FILER_LINE_SIZE];
    if (xgets(&cursor, line, sizeof line)) {
        d64disp_directory_print_base(screen, line, 1);
        int row = 1;
        while (xgets(&cursor, line, sizeof line)) {
            disp_locate(screen, 0, row++);
            disp_print(screen, line);
        }
    }
    disp_destroy(screen, 0);
    g_string_free(text, TRUE);
    *out = picture;
    return 1;
}

void drawingarea_directory_listing_redraw(void)
{
    if (drawingarea_directory_listing)
        gtk_widget_queue_draw(drawingarea_directory_listing);
}

void vscrollbar_files_directory_reset(int count)
{
    GtkAdjustment *adj = scrollbar_adjustment();
    if (adj)
        gtk_adjustment_configure(adj, 0, 0, std::max(0, count), 1, FILER_VISIBLE_ROWS,
                                 FILER_VISIBLE_ROWS);
}

void vscrollbar_files_directory_sync(void)
{
    GtkAdjustment *adj = scrollbar_adjustment();
    if (!adj || !dir_filer)
        return;
    int upper = (int)gtk_adjustment_get_upper(adj);
    int value = std::max(0, std::min(dir_filer->top, upper - FILER_VISIBLE_ROWS));
    gtk_adjustment_set_value(adj, value);
}

void drawingarea_directory_listing_reset(void)
{
    filer_show_dir(dir_filer, filer_placeholder_listing);
    drawingarea_directory_listing_redraw();
    vscrollbar_files_directory_reset(filer_get_number_items(dir_filer));
}

void dirview_mark_damaged_files(int whole_disk)
{
    if (!listing_from_image)
        return;
    damaged_items = damaged_items_of(d64_storage, whole_disk, options_include_scr_files);
    drawingarea_directory_listing_redraw();
}

gboolean idle_drawingarea_directory_listing_clear(gpointer)
{
    disp_clear(display_filer);
    drawingarea_directory_listing_redraw();
    return FALSE;
}

gboolean idle_drawingarea_directory_listing_center_text_and_free(gpointer text)
{
    const char *s = static_cast<const char *>(text);
    disp_clear(display_filer);
    if (s) {
        int length = (int)strlen(s);
        disp_locate(display_filer, (FILER_COLUMNS - length) / 2, 8);
        disp_print(display_filer, s);
    }
    drawingarea_directory_listing_redraw();
    g_free(text);
    return FALSE;
}

gboolean idle_drawingarea_directory_listing_print_and_free(gpointer text)
{
    disp_print(display_filer, static_cast<const char *>(text));
    disp_newline(display_filer);
    drawingarea_directory_listing_redraw();
    g_free(text);
    return FALSE;
}

gboolean on_drawingarea_directory_listing_configure_event(GtkWidget *widget, GdkEventConfigure *,
                                                          gpointer)
{
    if (!drawingarea_directory_listing)
        drawingarea_directory_listing = widget;
    if (!pixbuf_directory_listing) {
        pixbuf_directory_listing = new_rgb(SCREEN_WIDTH, SCREEN_HEIGHT);
        if (!pixbuf_directory_listing)
            return TRUE;
        display_filer = quoted_screen(pixbuf_directory_listing);
        if (!filer_init(&dir_filer, display_filer))
            dir_filer = nullptr;
        drawingarea_directory_listing_reset();
    }
    return TRUE;
}

gboolean on_drawingarea_directory_listing_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                                       gpointer)
{
    if (!pixbuf_directory_listing)
        return FALSE;
    int e = std::clamp(options_expansion, 0, 2);
    GdkPixbuf *painted = gdk_pixbuf_copy(pixbuf_directory_listing);
    if (!painted)
        return TRUE;
    if (dir_filer && !damaged_items.empty())
        mark_damaged_rows(painted, dir_filer);
    if (e > 0) {
        GdkPixbuf *scaled = gdk_pixbuf_scale_simple(painted, SCREEN_WIDTH << e,
                                                    SCREEN_HEIGHT << e, GDK_INTERP_NEAREST);
        g_object_unref(painted);
        painted = scaled;
        if (!painted)
            return TRUE;
    }
    // Recolour the painted copy only: the screen keeps its blues.
    if (!flag_dir_in_track_18)
        d64pixbuf_substitute_blues_with_reds(painted);
    GdkRectangle whole = {0, 0, SCREEN_WIDTH << e, SCREEN_HEIGHT << e};
    GdkRectangle area;
    if (gdk_rectangle_intersect(&event->area, &whole, &area))
        gdk_draw_pixbuf(widget->window, widget->style->fg_gc[GTK_WIDGET_STATE(widget)], painted,
                        area.x, area.y, area.x, area.y, area.width, area.height,
                        GDK_RGB_DITHER_NONE, 0, 0);
    g_object_unref(painted);
    return TRUE;
}

gboolean on_drawingarea_directory_listing_key_press_event(GtkWidget *, GdkEventKey *event, gpointer)
{
    int moved = 0;
    switch (event->keyval) {
    case GDK_Home:
        moved = filer_move_to_first(dir_filer);
        break;
    case GDK_Up:
        moved = filer_move_up(dir_filer);
        break;
    case GDK_Down:
        moved = filer_move_down(dir_filer);
        break;
    case GDK_Page_Up:
        moved = filer_move_to_prev_page(dir_filer);
        break;
    case GDK_Page_Down:
        moved = filer_move_to_next_page(dir_filer);
        break;
    case GDK_End:
        moved = filer_move_to_last(dir_filer);
        break;
    default:
        break;
    }
    if (moved == 1)
        after_move();
    return TRUE;
}

gboolean on_drawingarea_directory_listing_scroll_event(GtkWidget *, GdkEventScroll *event, gpointer)
{
    int moved = 0;
    if (event->direction == GDK_SCROLL_UP)
        moved = filer_move_up(dir_filer);
    else if (event->direction == GDK_SCROLL_DOWN)
        moved = filer_move_down(dir_filer);
    if (moved)
        after_move();
    return TRUE;
}

gboolean on_drawingarea_directory_listing_button_press_event(GtkWidget *widget,
                                                             GdkEventButton *event, gpointer)
{
    if (event->type != GDK_BUTTON_PRESS || event->button != 1)
        return TRUE;
    int e = std::clamp(options_expansion, 0, 2);
    int y = (int)event->y;
    int row = y < 0 ? -1 : (y >> e) / 8;
    gtk_widget_grab_focus(widget);
    if (filer_move_to(dir_filer, row))
        drawingarea_directory_listing_redraw();
    return TRUE;
}

void on_vscrollbar_files_directory_value_changed(GtkRange *range, gpointer)
{
    int value = (int)gtk_range_get_value(range);
    if (filer_move_top_item_to(dir_filer, value) > 0)
        drawingarea_directory_listing_redraw();
}

void dirview_module_shutdown(void)
{
    if (pixbuf_directory_listing) {
        g_object_unref(pixbuf_directory_listing);
        pixbuf_directory_listing = nullptr;
    }
    disp_destroy(display_filer, 0);
    display_filer = nullptr;
    filer_destroy(dir_filer);
    dir_filer = nullptr;
}

