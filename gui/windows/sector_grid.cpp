#include "gui/windows/sector_grid.h"

#include <glib/gi18n.h>

#include <cmath>

#include "gui/windows/log.h"
#include "engine/imaging.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/settings.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

cairo_surface_t *surface_sector_grid = nullptr;
GtkWidget *drawingarea_sector_grid = nullptr;

namespace {

// The 40-track build squeezes its columns so that the grid keeps the width
// of the 35-track one.
constexpr int COLUMN_PITCH_BASE = TRACKS == 40 ? 5 : 6;
constexpr int ROW_PITCH_BASE = 6;

int expansion()
{
    return options_expansion == 2 ? 2 : 1;
}

int pitch_x()
{
    return COLUMN_PITCH_BASE << expansion();
}

int pitch_y()
{
    return ROW_PITCH_BASE << expansion();
}

struct rgb {
    double r, g, b;
};

const rgb DARK_GREY = {0.266, 0.266, 0.266};
const rgb RED = {0.806, 0.215, 0.168};
const rgb YELLOW = {0.888, 0.888, 0.168};
const rgb GREEN = {0.344, 0.551, 0.262};
const rgb VIOLET = {0.422, 0.367, 0.707};

const rgb ORANGE = {0.930, 0.520, 0.130};

// Codes 0 to 12; code 0 is black plus the cross, 11 (left unread) comes
// translated by the operations and is black here as any unknown code.
const int CODE_COUNT = 13;
const rgb CODE_COLOURS[CODE_COUNT] = {
    {0, 0, 0}, DARK_GREY, RED, YELLOW, GREEN, VIOLET, VIOLET, RED, YELLOW, YELLOW, GREEN,
    {0, 0, 0}, ORANGE,
};

// Error bytes 0x01 to 0x0F.
const int ERROR_TO_CODE[15] = {4, 2, 1, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 0};

void set_source(cairo_t *cr, const rgb &c)
{
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

void paint_background(cairo_t *cr)
{
    cairo_set_source_rgb(cr, options_sector_da_bg_color.red / 65535.0,
                         options_sector_da_bg_color.green / 65535.0,
                         options_sector_da_bg_color.blue / 65535.0);
    cairo_paint(cr);
}

void paint_cell(cairo_t *cr, int track, int sector, int code)
{
    GdkRectangle r;
    sector_grid_cell_rectangle(track, sector, &r);
    set_source(cr, code >= 0 && code < CODE_COUNT ? CODE_COLOURS[code] : rgb{0, 0, 0});
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_fill(cr);
    if (code == CELL_INACCESSIBLE) {
        cairo_set_source_rgb(cr, 1, 0, 0);
        cairo_set_line_width(cr, 1.0);
        cairo_move_to(cr, r.x + 1, r.y + 1);
        cairo_line_to(cr, r.x + r.width - 1, r.y + r.height - 1);
        cairo_move_to(cr, r.x + r.width - 1, r.y + 1);
        cairo_line_to(cr, r.x + 1, r.y + r.height - 1);
        cairo_stroke(cr);
    }
}

void paint_cell_from_error_info(cairo_t *cr, int track, int sector)
{
    paint_cell(cr, track, sector,
               sector_grid_code_from_error(d64_get_block_error_info(d64_storage, track, sector)));
}

void queue_cell_redraw(int track, int sector)
{
    if (!drawingarea_sector_grid)
        return;
    GdkRectangle r;
    sector_grid_cell_rectangle(track, sector, &r);
    gtk_widget_queue_draw_area(drawingarea_sector_grid, r.x, r.y, r.width, r.height);
}

void queue_redraw()
{
    if (drawingarea_sector_grid)
        gtk_widget_queue_draw(drawingarea_sector_grid);
}

// Colour only: the picture is copied to the window and written as PNG, and
// an image surface does both without needing the widget to be realised.
cairo_surface_t *new_surface(int width, int height)
{
    if (width < 1)
        width = 1;
    if (height < 1)
        height = 1;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

void release_surface()
{
    if (surface_sector_grid) {
        cairo_surface_destroy(surface_sector_grid);
        surface_sector_grid = nullptr;
    }
}

void log_cell(const cell_activation_record *rec)
{
    int both = 0;
    char *line = engine_cell_log_line(rec->code, rec->track, rec->sector, rec->checksum, &both);
    if (!line)
        return;
    if (both)
        log_warpsave_and_log_textview_append(line);
    else
        log_warpsave_append(line);
    g_free(line);
}

GtkWidget *main_widget(const char *name)
{
    return window_main ? lookup_widget(window_main, name) : nullptr;
}

void zoom_to(GtkMenuItem *item, int e)
{
    if (item && !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item)))
        return;
    options_expansion = e;
    drawingarea_sector_grid_set_size();
    if (GtkWidget *listing = main_widget("drawingarea_directory_listing"))
        gtk_widget_set_size_request(listing, 224 << e, 128 << e);
    window_main_fit_on_screen();
    drawingarea_sector_grid_refresh_from_error_info();
#if TRACKS != 40
    if (sector_grid_image_holds_read_data()) {
        if (!d64_is_bam_sector_error_free(d64_storage))
            log_textview_append(_("BAM sector contains errors: not marking sectors in use\n"));
        else if (!d64_is_first_dir_link_valid(d64_storage))
            log_textview_append(_("Unexpected first dir t/s link: not marking sectors in use\n"));
        else
            drawingarea_sector_grid_show_allocated_sectors();
    }
#endif
    options_save_to_file();
}

}  // namespace

void sector_grid_module_init(void)
{
    static bool done = false;
    if (done)
        return;
    GtkWidget *area = main_widget("drawingarea_sectors");
    if (!area)
        return;
    done = true;
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(area, "configure_event", G_CALLBACK(on_drawingarea_sectors_configure_event),
                     nullptr);
    g_signal_connect(area, "expose_event", G_CALLBACK(on_drawingarea_sectors_expose_event),
                     nullptr);
    g_signal_connect(area, "button_press_event",
                     G_CALLBACK(on_drawingarea_sectors_button_press_event), nullptr);
    gtk_widget_set_has_tooltip(area, TRUE);
    g_signal_connect(area, "query-tooltip", G_CALLBACK(on_drawingarea_sectors_query_tooltip),
                     nullptr);
    // The window may already be on screen, past the widget's first configure.
    if (gtk_widget_get_realized(area))
        on_drawingarea_sectors_configure_event(area, nullptr, nullptr);
    widgets_add_quit_cleanup(release_surface);
}

int sector_grid_code_from_error(int error_byte)
{
    if (error_byte >= 0x01 && error_byte <= 0x0F)
        return ERROR_TO_CODE[error_byte - 1];
    return CELL_GCR_FAILED;
}

void sector_grid_cell_rectangle(int track, int sector, GdkRectangle *cell)
{
    int e = expansion();
    cell->x = (track - 1) * pitch_x();
    cell->y = sector * pitch_y();
    cell->width = pitch_x() - e;
    cell->height = pitch_y() - e;
}

void surface_sector_grid_reset(cairo_t *cr)
{
    set_source(cr, DARK_GREY);
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            GdkRectangle r;
            sector_grid_cell_rectangle(t, s, &r);
            cairo_rectangle(cr, r.x, r.y, r.width, r.height);
        }
    cairo_fill(cr);
}

void drawingarea_sector_grid_reset(void)
{
    if (!surface_sector_grid)
        return;
    cairo_t *cr = cairo_create(surface_sector_grid);
    surface_sector_grid_reset(cr);
    cairo_destroy(cr);
    queue_redraw();
}

void drawingarea_sector_grid_activate_cell(int track, int sector, int code)
{
    if (!surface_sector_grid)
        return;
    cairo_t *cr = cairo_create(surface_sector_grid);
    paint_cell(cr, track, sector, code);
    cairo_destroy(cr);
    queue_cell_redraw(track, sector);
}

cell_activation_record *sector_grid_new_cell_record(int track, int sector, uint8_t checksum,
                                                    int code)
{
    auto *rec = g_try_new(cell_activation_record, 1);
    if (!rec)
        return nullptr;
    rec->track = track;
    rec->sector = sector;
    rec->checksum = checksum;
    rec->code = code;
    return rec;
}

gboolean idle_drawingarea_sector_grid_activate_cell_and_free(gpointer record)
{
    auto *rec = static_cast<cell_activation_record *>(record);
    drawingarea_sector_grid_activate_cell(rec->track, rec->sector, rec->code);
    log_cell(rec);
    g_free(rec);
    return FALSE;
}


void drawingarea_sector_grid_refresh_from_error_info(void)
{
    if (!surface_sector_grid)
        return;
    cairo_t *cr = cairo_create(surface_sector_grid);
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            paint_cell_from_error_info(cr, t, s);
    cairo_destroy(cr);
    queue_redraw();
}

void drawingarea_sector_grid_set_size(void)
{
    int e = expansion();
    release_surface();
    surface_sector_grid = new_surface(210 << e, 126 << e);
    if (surface_sector_grid) {
        cairo_t *cr = cairo_create(surface_sector_grid);
        paint_background(cr);
        cairo_destroy(cr);
    }
    GtkWidget *area = drawingarea_sector_grid ? drawingarea_sector_grid
                                              : main_widget("drawingarea_sectors");
    if (area)
        gtk_widget_set_size_request(area, 210 << e, 126 << e);
    queue_redraw();
}

void drawingarea_sector_grid_show_allocated_sectors(void)
{
    if (!surface_sector_grid)
        return;
    int e = expansion();
    cairo_t *cr = cairo_create(surface_sector_grid);
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            paint_cell_from_error_info(cr, t, s);
            if (d64_is_sector_allocated(d64_storage, t, s) == 1) {
                GdkRectangle r;
                sector_grid_cell_rectangle(t, s, &r);
                cairo_new_path(cr);
                cairo_set_source_rgb(cr, 1, 1, 1);
                cairo_set_line_width(cr, 1.0);
                cairo_arc(cr, r.x + (3 << e) - 0.5, r.y + (3 << e) - 0.5, 1 << e, 0, 2 * M_PI);
                cairo_stroke(cr);
            }
            queue_cell_redraw(t, s);
        }
    cairo_destroy(cr);
}

int sector_grid_image_holds_read_data(void)
{
    // Before any operation has set it the outermost track is 0: scan from 1.
    int first = ped.outmost_track < 1 ? 1 : ped.outmost_track;
    for (int t = first; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (d64_get_block_error_info(d64_storage, t, s) != D64_ERR_NO_SYNC)
                return 1;
    return 0;
}

int sector_grid_file_for_sector(int track, int sector, char name17[17], int *first_track,
                                int *first_sector)
{
    if (track == D64_DIR_TRACK)
        return 0;
    if (!d64_is_bam_sector_error_free(d64_storage) || !d64_is_first_dir_link_valid(d64_storage))
        return 0;
    const uint8_t *entry = nullptr;
    if (!d64_get_filename_for_sector(d64_storage, &entry, track, sector, name17) || !entry)
        return 0;
    sanitize_filename(name17);
    d64_get_file_first_track_and_sector(entry, first_track, first_sector);
    return 1;
}

char *sector_grid_tooltip_markup(int x, int y)
{
    if (x < 0 || y < 0)
        return nullptr;
    int column = x / pitch_x();
    int row = y / pitch_y();
    if (column >= TRACKS)
        return nullptr;
    int t = column + 1;
    if (row >= d64_sectors_of_track(t))
        return nullptr;
    char name[17];
    int ft = 0, fs = 0;
    if (sector_grid_file_for_sector(t, row, name, &ft, &fs))
        return g_markup_printf_escaped(" t/s: $%02X/$%02X (%d/%d) [\"%s\": $%02X/$%02X (%d/%d)] ",
                                       t, row, t, row, name, ft, fs, ft, fs);
    return g_strdup_printf(" t/s: $%02X/$%02X (%d/%d) [\"N/A\"] ", t, row, t, row);
}

void sector_grid_choose_background_colour(void)
{
    // The colour dialog stores the colour and saves the options on OK.
    if (!get_user_color_selection())
        return;
    if (surface_sector_grid) {
        cairo_t *cr = cairo_create(surface_sector_grid);
        paint_background(cr);
        cairo_destroy(cr);
    }
    queue_redraw();
    drawingarea_sector_grid_refresh_from_error_info();
}

char *sector_grid_export_suggested_name(void)
{
    const char *ext = options_file_extensions_uppercase == 1 ? "PNG" : "png";
    if (utf8_path_lastopenfile_d64) {
        char *base = g_path_get_basename(utf8_path_lastopenfile_d64);
        char *name = g_strdup_printf("%s.%s", base, ext);
        g_free(base);
        return name;
    }
    char disk[D64_NAME_BUFFER_SIZE];
    d64_get_diskname(d64_storage, disk);
    sanitize_filename(disk);
    return g_strdup_printf("%s.%s", disk[0] ? disk : "NO NAME", ext);
}

int sector_grid_write_png(const char *path)
{
    if (!surface_sector_grid || !path)
        return 0;
    cairo_surface_flush(surface_sector_grid);
    return cairo_surface_write_to_png(surface_sector_grid, path) == CAIRO_STATUS_SUCCESS;
}

gboolean on_drawingarea_sectors_configure_event(GtkWidget *widget, GdkEventConfigure *, gpointer)
{
    if (!surface_sector_grid) {
        GtkAllocation a;
        gtk_widget_get_allocation(widget, &a);
        surface_sector_grid = new_surface(a.width, a.height);
        if (surface_sector_grid) {
            cairo_t *cr = cairo_create(surface_sector_grid);
            paint_background(cr);
            surface_sector_grid_reset(cr);
            cairo_destroy(cr);
        }
    }
    if (!drawingarea_sector_grid)
        drawingarea_sector_grid = widget;
    return TRUE;
}

gboolean on_drawingarea_sectors_expose_event(GtkWidget *widget, GdkEventExpose *event, gpointer)
{
    if (!surface_sector_grid)
        return FALSE;
    cairo_t *cr = gdk_cairo_create(gtk_widget_get_window(widget));
    cairo_set_source_surface(cr, surface_sector_grid, 0, 0);
    gdk_cairo_rectangle(cr, &event->area);
    cairo_fill(cr);
    cairo_destroy(cr);
    return TRUE;
}

gboolean on_drawingarea_sectors_button_press_event(GtkWidget *, GdkEventButton *event, gpointer)
{
    const guint mods = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK;
    if (event->type != GDK_BUTTON_PRESS || event->button != 1 ||
        (event->state & mods) != GDK_CONTROL_MASK)
        return TRUE;
    int column = (int)event->x / pitch_x();
    int row = (int)event->y / pitch_y();
    if (column >= 0 && column < TRACKS && row >= 0 && row < d64_sectors_of_track(column + 1)) {
        int track = column + 1;
        int code = d64_get_block_error_info(d64_storage, track, row);
        if (code == 0x00)
            return TRUE;
        window_sector_contents_update(track, row, code);
        statusbar_sector_contents_update("");
        if (window_sector_contents) {
            gtk_window_present(GTK_WINDOW(window_sector_contents));
            window_sector_contents_fit_on_screen();
        }
    } else {
        sector_grid_choose_background_colour();
    }
    return TRUE;
}

gboolean on_drawingarea_sectors_query_tooltip(GtkWidget *, gint x, gint y, gboolean,
                                              GtkTooltip *tooltip, gpointer)
{
    char *markup = sector_grid_tooltip_markup(x, y);
    if (!markup)
        return FALSE;
    gtk_tooltip_set_markup(tooltip, markup);
    g_free(markup);
    return TRUE;
}

void on_menuitem_zoom_2x_activate(GtkMenuItem *item, gpointer data)
{
    (void)data;
    zoom_to(item, 1);
}

void on_menuitem_zoom_4x_activate(GtkMenuItem *item, gpointer data)
{
    (void)data;
    zoom_to(item, 2);
}

void on_menuitem_export_sector_grid_to_png_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    statusbar_main_update(_(" Exporting sector grid"));
    log_textview_append("================================\n");
    log_textview_append(_("Exporting sector grid\n"));
    char *suggested = sector_grid_export_suggested_name();
    char *path = nullptr;
    int chosen = fileopen_save_png_file(suggested, &path, _("Save sector grid to PNG"));
    g_free(suggested);
    if (!chosen) {
        log_textview_append(_("Sector grid not exported at user's request\n"));
        return;
    }
    if (sector_grid_write_png(path)) {
        char *base = g_path_get_basename(path);
        char *text = g_strdup_printf(_(" Export succeeded: %s"), base);
        statusbar_main_update(text);
        g_free(text);
        text = g_strdup_printf(_("Completed (%s)\n"), base);
        log_textview_append(text);
        g_free(text);
        g_free(base);
    } else {
        statusbar_main_update(_(" Export failed: Unable to save to PNG file"));
        // Ended like every other log line, so the next one starts afresh.
        log_textview_append(_("Unable to export sector grid to PNG file"));
        log_textview_append("\n");
    }
    g_free(path);
}
