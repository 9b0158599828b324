// The sector grid on the "Disk Imaging" tab: one small cell per sector,
// tracks left to right and sectors top to bottom, coloured by what is known
// about the sector.  Everything is drawn on an off-screen surface that keeps
// the whole grid; the widget's expose handler only copies from it.  GUI
// thread only: workers reach the grid through cell activation records.
#pragma once

#include <cairo.h>
#include <gtk/gtk.h>

#include <cstdint>

// Cell codes, as posted by the operations.
enum : int {
    CELL_INACCESSIBLE = 0,       // error byte 0x0F: black with a red cross
    CELL_NO_SYNC = 1,            // sync not found / not read
    CELL_GCR_FAILED = 2,         // decoding failed, or any other error
    CELL_CHECKSUM_FAILED = 3,
    CELL_READ_OK = 4,
    CELL_RETRYING = 5,
    CELL_READING = 6,
    CELL_KEPT_EXISTING = 7,      // re-read not better, earlier data kept
    CELL_KEPT_CHECKSUM = 8,      // re-read not better, earlier checksum-failed data kept
    CELL_KEPT_CHECKSUM_AGAIN = 9, // re-read failed its checksum too; new checksum logged
    CELL_WRITTEN = 10,
    CELL_DIFFERS = 12,           // a verify read it cleanly, with other bytes than the image
};

// What a worker tells the grid about one sector.  The worker allocates it
// (g_new), posts it with idle_drawingarea_sector_grid_activate_cell_and_free
// and never touches it again; the idle callback frees it.
struct cell_activation_record {
    int32_t track;
    int32_t sector;
    uint8_t checksum;  // data block checksum, logged with codes 3, 4 and 9
    int32_t code;
};
// A filled record for a worker to post; null when memory ran out (the event
// is then dropped rather than the worker stopped).
cell_activation_record *sector_grid_new_cell_record(int track, int sector, uint8_t checksum,
                                                    int code);

// Colour-only off-screen picture of the grid (null before the first
// configure event and after shutdown).
extern cairo_surface_t *surface_sector_grid;
// The "drawingarea_sectors" widget, once it has been configured.
extern GtkWidget *drawingarea_sector_grid;

// Connects the grid's handlers to "drawingarea_sectors" of the main window
// and registers the surface for release at quit.  Call once, after the main
// window is built.
void sector_grid_module_init(void);

// Cell code for an error byte when the grid is repainted from the image.
int sector_grid_code_from_error(int error_byte);
// Cell rectangle of track/sector at the current zoom.
void sector_grid_cell_rectangle(int track, int sector, GdkRectangle *cell);

// Paints every cell dark grey (the gaps are left alone).
void surface_sector_grid_reset(cairo_t *cr);
// What an operation does before its worker starts: reset every cell and
// redraw the widget.
void drawingarea_sector_grid_reset(void);
// Paints one cell as the code says and redraws just that cell.  Callers pass
// valid track and sector numbers.
void drawingarea_sector_grid_activate_cell(int track, int sector, int code);
// Idle callback: paints the record's cell, writes its log line, frees it.
gboolean idle_drawingarea_sector_grid_activate_cell_and_free(gpointer record);

// Repaints every cell from the image's error bytes.
void drawingarea_sector_grid_refresh_from_error_info(void);
// New surface for the current zoom, painted with the background only.
void drawingarea_sector_grid_set_size(void);
// Repaints every cell from error info and circles the sectors the BAM marks
// as allocated.  Callers check the BAM first.
void drawingarea_sector_grid_show_allocated_sectors(void);

// Some sector from the outermost track of the last read up to TRACKS has an
// error byte other than 0x03.
int sector_grid_image_holds_read_data(void);

// The file owning track/sector when the directory can be trusted (never for
// track 18): its cleaned name and first track and sector.  1 if found.
int sector_grid_file_for_sector(int track, int sector, char name17[17], int *first_track,
                                int *first_sector);
// Tooltip markup for widget point x/y, or null where there is no sector.
// Newly allocated.
char *sector_grid_tooltip_markup(int x, int y);

// Runs the colour dialog; on OK repaints background and cells.
void sector_grid_choose_background_colour(void);

// Name offered when exporting the grid; newly allocated.
char *sector_grid_export_suggested_name(void);
// Writes the surface as it stands to path as PNG; 1 on success.
int sector_grid_write_png(const char *path);

gboolean on_drawingarea_sectors_configure_event(GtkWidget *widget, GdkEventConfigure *event,
                                                gpointer data);
gboolean on_drawingarea_sectors_expose_event(GtkWidget *widget, GdkEventExpose *event,
                                             gpointer data);
gboolean on_drawingarea_sectors_button_press_event(GtkWidget *widget, GdkEventButton *event,
                                                   gpointer data);
gboolean on_drawingarea_sectors_query_tooltip(GtkWidget *widget, gint x, gint y,
                                              gboolean keyboard_mode, GtkTooltip *tooltip,
                                              gpointer data);
// Configuration > Zoom > 2x and 4x; Tools > Export sector grid to PNG.
void on_menuitem_zoom_2x_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_zoom_4x_activate(GtkMenuItem *item, gpointer data);
void on_menuitem_export_sector_grid_to_png_activate(GtkMenuItem *item, gpointer data);
