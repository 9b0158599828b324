// The directory panel of the Files / Directory tab: a 28 x 16 C64 text screen
// showing a listing text (header, up to fourteen visible files, free-blocks
// line) with one highlighted current item, the browser that moves it, the
// PNG export of a listing and the drawing used by the D64 file chooser
// preview.  GUI thread only; workers reach the panel through the idle_
// functions.  The panel's ties to the window (listing the image with its log
// lines, the export menu item, the chooser preview) are in
// gui/windows/dirview_panel.h.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "gui/drawing/disp.h"

constexpr int FILER_COLUMNS = 28;
constexpr int FILER_ROWS = 16;
constexpr int FILER_VISIBLE_ROWS = 14;
constexpr int FILER_LINE_SIZE = 30;   // 29 characters and the terminator
constexpr int FILER_MAX_LINES = 145;  // lines read after the header
constexpr int FILER_FOOTER_SIZE = 32;

// The browser: the parsed listing and where the user stands in it.
struct filer_record {
    disp_screen *screen;
    char header[FILER_LINE_SIZE];
    char items[FILER_MAX_LINES][FILER_LINE_SIZE];
    char footer[FILER_FOOTER_SIZE];
    int current;  // index of the current item
    int top;      // index of the item on row 1
    int count;    // items between header and footer, 0 to 144
};

// Panel state, created by the first configure event of the drawing area.
extern GdkPixbuf *pixbuf_directory_listing;  // 224 x 128 RGB
extern disp_screen *display_filer;
extern filer_record *dir_filer;
extern GtkWidget *drawingarea_directory_listing;
// 0 when the listing shown was built from a copy of track 19 or 20: the
// panel and its export are then red.
extern int flag_dir_in_track_18;
// 1 after a listing received from the drive, 0 after one built from the
// image; picks the name suggested for the PNG export.
extern int flag_dir_listing_was_last_operation;
// The panel's scroll bar, found when the panel is connected.
extern GtkWidget *vscrollbar_files_directory;
// True while the listing shown was built from the image in memory: only that
// one can show damaged files.
extern bool listing_from_image;

// The listing shown at start-up and after a reset.
extern const char *const filer_placeholder_listing;

// Frees the panel image, its text screen and the browser (quitting).
void dirview_module_shutdown(void);

// Text parsing.  xgets reads one line ended by a carriage return into buf
// (at most size - 1 characters, the rest of a long line skipped) and
// advances the cursor; 0 when the text ends before a carriage return.
int xgets(const char **cursor, char *buf, int size);
// Reads a number: optional "-", then "0b" binary, "0x" hex, leading "0"
// octal or decimal, ending at the first character at or below the space.
// 1 and the value, or 0 on a character that is not a digit of the base.
int xatoi(const char **cursor, int *value);

// Browser operations; all give 0 (or do nothing) without a browser.
int filer_init(filer_record **browser, disp_screen *screen);
void filer_destroy(filer_record *browser);
int filer_show_dir(filer_record *browser, const char *listing);
int filer_move_down(filer_record *browser);
int filer_move_up(filer_record *browser);
int filer_move_to_first(filer_record *browser);
int filer_move_to_last(filer_record *browser);
int filer_move_to_next_page(filer_record *browser);
int filer_move_to_prev_page(filer_record *browser);
// Click on screen row `row`: 1 if it holds an item, which becomes current.
int filer_move_to(filer_record *browser, int row);
// Scrollbar: makes item `item` the top row.
int filer_move_top_item_to(filer_record *browser, int item);
int filer_get_count_of_visible_rows(void);
int filer_get_current_item(filer_record *browser);  // -1 without items
int filer_get_top_item(filer_record *browser);      // -1 without items
int filer_get_number_items(filer_record *browser);
// 0 to 4 for DEL, SEQ, PRG, USR, REL in columns 24 to 26, else -1.
int filer_get_current_item_filetype(filer_record *browser);
// Name of the current item into 17 bytes; 0 without items.
int filer_get_current_item_filename(filer_record *browser, char *name17);
int filer_get_current_item_size_in_blocks(filer_record *browser, int *size);
// Columns 4 to 19 of the header, trailing spaces kept.
int filer_get_disk_name(filer_record *browser, char *name17);
// Header, every item and footer, one per row (224 x 8 * (count + 2)), red
// when dir_in_track_18 is 0, doubled in both directions when asked.
int filer_save_dir_listing_to_png(filer_record *browser, const char *path, int double_size,
                                  int dir_in_track_18, GError **error);

// Clears the screen and prints the header at row 0; with reverse set, the
// part after a $12 is printed in reverse video and the $12 is not drawn.
void d64disp_directory_print_base(disp_screen *screen, const char *header, int reverse);
// Every pixel whose red equals that of blue becomes red, all others light
// red.  Apply it to a copy: a second pass would turn everything light red.
void d64pixbuf_substitute_blues_with_reds(GdkPixbuf *pixbuf);
// Draws the listing of an image into a new 224-pixel-wide image at least
// min_rows text rows tall.  1 and the image (the caller unrefs it), or 0.
int d64pixbuf_directory_decode_listing(const uint8_t *image, GdkPixbuf **out, int min_rows);

// View functions.
void drawingarea_directory_listing_reset(void);
void drawingarea_directory_listing_redraw(void);
// Scrollbar to value 0, upper `count`, page 14.
void vscrollbar_files_directory_reset(int count);
// Scrollbar value to the browser's top item.
void vscrollbar_files_directory_sync(void);
// Once an image is complete: shows the files the damage report names in
// the panel's listing of it in light red (whole_disk 0 after a partial
// dump: sectors it did not read are no damage).  Nothing for a drive's
// listing; the next listing clears the marks.
void dirview_mark_damaged_files(int whole_disk);
gboolean idle_drawingarea_directory_listing_clear(gpointer data);
gboolean idle_drawingarea_directory_listing_center_text_and_free(gpointer text);
gboolean idle_drawingarea_directory_listing_print_and_free(gpointer text);

// Signal handlers.
gboolean on_drawingarea_directory_listing_configure_event(GtkWidget *widget,
                                                          GdkEventConfigure *event, gpointer data);
gboolean on_drawingarea_directory_listing_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                                       gpointer data);
gboolean on_drawingarea_directory_listing_key_press_event(GtkWidget *widget, GdkEventKey *event,
                                                          gpointer data);
gboolean on_drawingarea_directory_listing_scroll_event(GtkWidget *widget, GdkEventScroll *event,
                                                       gpointer data);
gboolean on_drawingarea_directory_listing_button_press_event(GtkWidget *widget,
                                                             GdkEventButton *event, gpointer data);
void on_vscrollbar_files_directory_value_changed(GtkRange *range, gpointer data);
