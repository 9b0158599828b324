#include "gui/windows/sector_contents_window.h"

#include <glib/gi18n.h>

#include <cstdint>

#include "image/d64.h"
#include "gui/drawing/c64pixbufs.h"
#include "gui/windows/placement.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/settings.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

int sector_contents_track = 18;
int sector_contents_sector = 0;
disp_screen *display_sector_contents = nullptr;
GdkPixbuf *pixbuf_sector_contents = nullptr;
GtkWidget *drawingarea_sector_contents = nullptr;
int expansion_sector_contents = 0;

namespace {

constexpr int DUMP_WIDTH = 512;  // 64 cells: 16 bytes as "%02X " then 16 glyphs
constexpr int DUMP_HEIGHT = 128; // 16 rows of 16 bytes

GtkWidget *widget(const char *name)
{
    return window_sector_contents ? lookup_widget(window_sector_contents, name) : nullptr;
}

void set_label(const char *name, const char *text)
{
    if (GtkWidget *label = widget(name))
        gtk_label_set_text(GTK_LABEL(label), text);
}

void queue_dump_redraw()
{
    if (drawingarea_sector_contents)
        gtk_widget_queue_draw(drawingarea_sector_contents);
}

void release_dump()
{
    disp_destroy(display_sector_contents, 0);
    display_sector_contents = nullptr;
    if (pixbuf_sector_contents) {
        g_object_unref(pixbuf_sector_contents);
        pixbuf_sector_contents = nullptr;
    }
}

// Shows the target sector, or puts the reason it cannot be shown in the
// status bar.
void go_to(int track, int sector, const char *invalid_text, const char *unreadable_text)
{
    if (track < 0 || track > 255 || sector < 0 || sector > 255 ||
        !d64_are_track_and_sector_valid((uint8_t)track, (uint8_t)sector)) {
        statusbar_sector_contents_update(invalid_text);
        return;
    }
    int code = d64_get_block_error_info(d64_storage, track, sector);
    if (code == 0x00) {
        statusbar_sector_contents_update(unreadable_text);
        return;
    }
    window_sector_contents_update(track, sector, code);
    queue_dump_redraw();
    statusbar_sector_contents_update("");
}

GtkWidget *reg(GtkWidget *window, GtkWidget *w, const char *name)
{
    widgets_register(window, w, name);
    return w;
}

GtkWidget *stock_button(GtkWidget *window, const char *name, const char *stock, const char *text,
                        const char *tooltip)
{
    GtkWidget *button = reg(window, gtk_button_new_with_mnemonic(text), name);
    gtk_button_set_image(GTK_BUTTON(button), gtk_image_new_from_stock(stock, GTK_ICON_SIZE_BUTTON));
    gtk_widget_set_tooltip_text(button, tooltip);
    return button;
}

}  // namespace

GtkWidget *create_window_sector_contents(void)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    widgets_register(window, window, "window_sector_contents");
    gtk_window_set_title(GTK_WINDOW(window), _("Sector contents"));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);

    GtkWidget *vbox = reg(window, gtk_vbox_new(FALSE, 0), "vbox_sector_contents_top_most");
    gtk_container_add(GTK_CONTAINER(window), vbox);

    GtkWidget *info = reg(window, gtk_hbox_new(FALSE, 6), "hbox_sector_contents_track_and_sector");
    gtk_container_set_border_width(GTK_CONTAINER(info), 2);
    gtk_box_pack_start(GTK_BOX(vbox), info, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(info),
                       reg(window, gtk_label_new(_("Showing t/s:")),
                           "label_sector_contents_track_and_sector"),
                       FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(info),
                       reg(window, gtk_label_new("18/0 ($11/$00)"),
                           "label_sector_contents_track_and_sector_values"),
                       FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(info),
                       reg(window, gtk_label_new("[...]"), "label_sector_contents_file_info"),
                       FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(info),
                     reg(window, gtk_label_new("$01"), "label_sector_contents_fdc_code_value"),
                     FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(info),
                     reg(window, gtk_label_new(_("FDC code: ")), "label_sector_contents_fdc_code"),
                     FALSE, FALSE, 0);

    GtkWidget *align = reg(window, gtk_alignment_new(0.5, 0.5, 0, 0),
                           "alignment_drawingarea_sector_contents");
    // At 2x the dump is as wide as a small screen: it scrolls there.
    gtk_box_pack_start(GTK_BOX(vbox),
                       reg(window, placement_view_new(align), "scrolledwindow_sector_contents"),
                       TRUE, TRUE, 0);
    GtkWidget *frame = reg(window, gtk_frame_new(nullptr), "frame_drawingarea_sector_contents");
    gtk_container_add(GTK_CONTAINER(align), frame);
    GtkWidget *area = reg(window, gtk_drawing_area_new(), "drawingarea_sector_contents");
    gtk_widget_set_size_request(area, DUMP_WIDTH, DUMP_HEIGHT);
    gtk_container_add(GTK_CONTAINER(frame), area);
    g_signal_connect(area, "configure_event",
                     G_CALLBACK(on_drawingarea_sector_contents_configure_event), nullptr);
    g_signal_connect(area, "expose_event", G_CALLBACK(on_drawingarea_sector_contents_expose_event),
                     nullptr);

    GtkWidget *nav = reg(window, gtk_hbox_new(FALSE, 2), "hbox_sector_contents_navigation");
    gtk_box_pack_start(GTK_BOX(vbox), nav, FALSE, FALSE, 0);
    GtkWidget *previous = stock_button(window, "button_sector_contents_previous",
                                       "gtk-media-previous", _("Previous"),
                                       _("Jump to the previous sector"));
    g_signal_connect(previous, "clicked", G_CALLBACK(on_button_sector_contents_previous_clicked),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(nav), previous, FALSE, FALSE, 0);
    GtkWidget *next = stock_button(window, "button_sector_contents_next", "gtk-media-next",
                                   _("Next"), _("Jump to the next sector"));
    g_signal_connect(next, "clicked", G_CALLBACK(on_button_sector_contents_next_clicked), nullptr);
    gtk_box_pack_start(GTK_BOX(nav), next, FALSE, FALSE, 0);
    GtkWidget *follow =
        stock_button(window, "button_sector_contents_follow_link", "gtk-jump-to",
                     _("Follow t/s link"),
                     _("Jump to the sector pointed by the t/s link within the current sector, if "
                       "applicable"));
    gtk_widget_set_can_default(follow, TRUE);
    g_signal_connect(follow, "clicked", G_CALLBACK(on_button_sector_contents_follow_link_clicked),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(nav), follow, FALSE, FALSE, 0);
    GtkWidget *petscii = reg(window, gtk_check_button_new_with_mnemonic(_("_PETSCII")),
                             "checkbutton_sector_contents_petscii");
    gtk_widget_set_tooltip_text(petscii,
                                _("Switch the data display from using screen codes to the "
                                  "PETSCII set"));
    g_signal_connect(petscii, "toggled", G_CALLBACK(on_checkbutton_sector_contents_petscii_toggled),
                     nullptr);
    gtk_box_pack_start(GTK_BOX(nav), petscii, TRUE, TRUE, 0);
    GtkWidget *zoom2 = reg(window, gtk_radio_button_new_with_mnemonic(nullptr, "2x"),
                           "radiobutton_sector_contents_zoom_level2");
    GtkWidget *zoom1 =
        reg(window, gtk_radio_button_new_with_mnemonic_from_widget(GTK_RADIO_BUTTON(zoom2), "1x"),
            "radiobutton_sector_contents_zoom_level1");
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(zoom1), TRUE);
    g_signal_connect(zoom1, "clicked", G_CALLBACK(on_radiobutton_sector_contents_zoom_level1_clicked),
                     nullptr);
    g_signal_connect(zoom2, "clicked", G_CALLBACK(on_radiobutton_sector_contents_zoom_level2_clicked),
                     nullptr);
    gtk_box_pack_end(GTK_BOX(nav), zoom2, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(nav), zoom1, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(nav),
                     reg(window, gtk_label_new(_("Zoom level: ")),
                         "label_sector_contents_zoom_level"),
                     FALSE, FALSE, 0);

    GtkWidget *status = reg(window, gtk_statusbar_new(), "statusbar_sector_contents");
    gtk_statusbar_set_has_resize_grip(GTK_STATUSBAR(status), FALSE);
    gtk_box_pack_start(GTK_BOX(vbox), status, FALSE, FALSE, 0);

    gtk_widget_show_all(vbox);
    g_signal_connect(window, "delete_event", G_CALLBACK(on_window_sector_contents_delete_event),
                     nullptr);
    g_signal_connect(window, "key_press_event",
                     G_CALLBACK(on_window_sector_contents_key_press_event), nullptr);
    widgets_add_quit_cleanup(release_dump);
    return window;
}

void window_sector_contents_update(int track, int sector, int code)
{
    sector_contents_track = track;
    sector_contents_sector = sector;
    char *text = g_strdup_printf("$%02X/$%02X (%d/%d)", track, sector, track, sector);
    set_label("label_sector_contents_track_and_sector_values", text);
    g_free(text);
    char name[17];
    int ft = 0, fs = 0;
    if (sector_grid_file_for_sector(track, sector, name, &ft, &fs))
        text = g_strdup_printf("[\"%s\": $%02X/$%02X (%d/%d)]", name, ft, fs, ft, fs);
    else
        text = g_strdup("[N/A]");
    set_label("label_sector_contents_file_info", text);
    g_free(text);
    text = g_strdup_printf("$%02X", code);
    set_label("label_sector_contents_fdc_code_value", text);
    g_free(text);
    drawingarea_sector_contents_update();
    queue_dump_redraw();
}

void drawingarea_sector_contents_update(void)
{
    if (!display_sector_contents)
        return;
    disp_clear(display_sector_contents);
    if (!d64_are_track_and_sector_valid((uint8_t)sector_contents_track,
                                        (uint8_t)sector_contents_sector))
        return;
    const uint8_t *data =
        d64_storage + d64_sector_offset(sector_contents_track, sector_contents_sector);
    for (int row = 0; row < 16; row++) {
        const uint8_t *bytes = data + row * 16;
        char hex[16 * 3 + 1];
        for (int i = 0; i < 16; i++)
            g_snprintf(hex + i * 3, 4, "%02X ", bytes[i]);
        disp_print(display_sector_contents, hex);
        for (int i = 0; i < 16; i++)
            disp_putc(display_sector_contents, bytes[i]);
        disp_newline(display_sector_contents);
    }
}

void statusbar_sector_contents_update(const char *text)
{
    GtkWidget *bar = widget("statusbar_sector_contents");
    if (!bar)
        return;
    gtk_statusbar_pop(GTK_STATUSBAR(bar), 0);
    gtk_statusbar_push(GTK_STATUSBAR(bar), 0, text);
}

gboolean on_drawingarea_sector_contents_configure_event(GtkWidget *area, GdkEventConfigure *,
                                                        gpointer)
{
    if (!pixbuf_sector_contents) {
        pixbuf_sector_contents =
            gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, DUMP_WIDTH, DUMP_HEIGHT);
        if (!pixbuf_sector_contents || !disp_init(&display_sector_contents, pixbuf_sector_contents)) {
            release_dump();
            return TRUE;
        }
        GtkWidget *petscii = widget("checkbutton_sector_contents_petscii");
        bool quoted = petscii && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(petscii));
        disp_font_face(display_sector_contents, quoted ? c64pixbufs_get_quoted_font_array()
                                                       : c64pixbufs_get_lowercase_font_array());
        disp_font_face_rev(display_sector_contents, c64pixbufs_get_lowercase_font_array());
        disp_clear(display_sector_contents);
        drawingarea_sector_contents = area;
    }
    return TRUE;
}

gboolean on_drawingarea_sector_contents_expose_event(GtkWidget *area, GdkEventExpose *event,
                                                     gpointer)
{
    if (!pixbuf_sector_contents)
        return FALSE;
    GdkPixbuf *shown = pixbuf_sector_contents;
    if (expansion_sector_contents == 1) {
        shown = gdk_pixbuf_scale_simple(pixbuf_sector_contents, DUMP_WIDTH * 2, DUMP_HEIGHT * 2,
                                        GDK_INTERP_NEAREST);
        if (!shown)
            return FALSE;
    }
    cairo_t *cr = gdk_cairo_create(gtk_widget_get_window(area));
    gdk_cairo_set_source_pixbuf(cr, shown, 0, 0);
    gdk_cairo_rectangle(cr, &event->area);
    cairo_fill(cr);
    cairo_destroy(cr);
    if (shown != pixbuf_sector_contents)
        g_object_unref(shown);
    return TRUE;
}

void on_button_sector_contents_previous_clicked(GtkButton *, gpointer)
{
    int track = sector_contents_track;
    int sector = sector_contents_sector - 1;
    if (sector < 0) {
        track--;
        sector = track >= 1 ? d64_sectors_of_track(track) - 1 : 0;
    }
    go_to(track, sector, _(" Can't go back any futher"), _(" No readable data in previous sector"));
}

void on_button_sector_contents_next_clicked(GtkButton *, gpointer)
{
    int track = sector_contents_track;
    int sector = sector_contents_sector + 1;
    if (sector >= d64_sectors_of_track(track)) {
        track++;
        sector = 0;
    }
    go_to(track, sector, _(" Can't go any futher"), _(" No readable data in next sector"));
}

void on_button_sector_contents_follow_link_clicked(GtkButton *, gpointer)
{
    if (!d64_are_track_and_sector_valid((uint8_t)sector_contents_track,
                                        (uint8_t)sector_contents_sector))
        return;
    const uint8_t *data =
        d64_storage + d64_sector_offset(sector_contents_track, sector_contents_sector);
    if (data[0] == 0) {
        statusbar_sector_contents_update(_(" No further linked sectors"));
        return;
    }
    go_to(data[0], data[1], _(" Invalid t/s link"), _(" No readable data in linked sector"));
}

void window_sector_contents_fit_on_screen(void)
{
    if (!window_sector_contents)
        return;
    GtkWidget *view = widget("scrolledwindow_sector_contents");
    placement_fit_views(GTK_WINDOW(window_sector_contents), &view, 1);
}

void on_radiobutton_sector_contents_zoom_level1_clicked(GtkButton *button, gpointer)
{
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)))
        return;
    expansion_sector_contents = 0;
    if (GtkWidget *area = widget("drawingarea_sector_contents"))
        gtk_widget_set_size_request(area, DUMP_WIDTH, DUMP_HEIGHT);
    window_sector_contents_fit_on_screen();
}

void on_radiobutton_sector_contents_zoom_level2_clicked(GtkButton *button, gpointer)
{
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button)))
        return;
    expansion_sector_contents = 1;
    if (GtkWidget *area = widget("drawingarea_sector_contents"))
        gtk_widget_set_size_request(area, DUMP_WIDTH * 2, DUMP_HEIGHT * 2);
    window_sector_contents_fit_on_screen();
}

void on_checkbutton_sector_contents_petscii_toggled(GtkToggleButton *button, gpointer)
{
    disp_font_face(display_sector_contents, gtk_toggle_button_get_active(button)
                                                ? c64pixbufs_get_quoted_font_array()
                                                : c64pixbufs_get_lowercase_font_array());
    drawingarea_sector_contents_update();
    queue_dump_redraw();
}
