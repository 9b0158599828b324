#include "gui/windows/dialogs.h"

#include <glib/gi18n.h>

#include <initializer_list>

#include "device/firmware.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "version.h"

int request_confirmation_to_modify_disk = 1;

static GtkWidget *dialog_with_label(const char *dialog_name, const char *title,
                                    const char *label_name)
{
    GtkWidget *dialog = gtk_dialog_new();
    widgets_register(dialog, dialog, dialog_name);
    gtk_window_set_title(GTK_WINDOW(dialog), title);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
    GtkWidget *vbox = GTK_DIALOG(dialog)->vbox;
    widgets_register(dialog, vbox, "dialog_vbox");
    GtkWidget *label = gtk_label_new(nullptr);
    widgets_register(dialog, label, label_name);
    gtk_misc_set_padding(GTK_MISC(label), 12, 12);
    gtk_box_pack_start(GTK_BOX(vbox), label, TRUE, TRUE, 0);
    gtk_widget_show(label);
    widgets_register(dialog, GTK_DIALOG(dialog)->action_area, "dialog_action_area");
    return dialog;
}

static void add_button(GtkWidget *dialog, const char *stock, int response, const char *name)
{
    GtkWidget *button = gtk_dialog_add_button(GTK_DIALOG(dialog), stock, response);
    widgets_register(dialog, button, name);
}

GtkWidget *create_dialog_yes_no_confirmation(void)
{
    GtkWidget *dialog = dialog_with_label("dialog_yes_no_confirmation", _("Confirmation"),
                                          "label_yes_no_confirmation");
    add_button(dialog, "gtk-yes", GTK_RESPONSE_YES, "button_yes_no_confirmation_yes");
    add_button(dialog, "gtk-no", GTK_RESPONSE_NO, "button_yes_no_confirmation_no");
    return dialog;
}

GtkWidget *create_dialog_notice(void)
{
    GtkWidget *dialog = dialog_with_label("dialog_notice", _("Notice"), "label_notice");
    add_button(dialog, "gtk-close", GTK_RESPONSE_CLOSE, "button_notice_close");
    return dialog;
}

gboolean get_user_confirmation(const char *markup)
{
    GtkWidget *dialog = create_dialog_yes_no_confirmation();
    gtk_label_set_markup(GTK_LABEL(lookup_widget(dialog, "label_yes_no_confirmation")), markup);
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response == GTK_RESPONSE_YES;
}

gboolean get_user_confirmation_to_modify_disk(void)
{
    if (request_confirmation_to_modify_disk != 1)
        return TRUE;
    // Cleared first: answering No also silences the warning for this run.
    request_confirmation_to_modify_disk = 0;
    return get_user_confirmation(
        _("<b>WARNING!!!</b>\n\nIt is strongly recommended that a\ncomplete backup is made prior "
          "to\nmaking any modification to a disk.\n\nNote: <u>This message will not be\n"
          "displayed again until the program\nis restarted</u>.\n\nAre you sure you want to "
          "proceed?"));
}

void get_user_acknowledgement(const char *markup)
{
    GtkWidget *dialog = create_dialog_notice();
    gtk_label_set_markup(GTK_LABEL(lookup_widget(dialog, "label_notice")), markup);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

namespace {

void fill(GdkPixbuf *pb, int x0, int y0, int w, int h, guint32 rgb)
{
    int stride = gdk_pixbuf_get_rowstride(pb);
    int channels = gdk_pixbuf_get_n_channels(pb);
    guchar *pixels = gdk_pixbuf_get_pixels(pb);
    for (int y = y0; y < y0 + h; y++)
        for (int x = x0; x < x0 + w; x++) {
            guchar *p = pixels + y * stride + x * channels;
            p[0] = rgb >> 16;
            p[1] = (rgb >> 8) & 0xff;
            p[2] = rgb & 0xff;
            if (channels == 4)
                p[3] = 0xff;
        }
}

// A 5.25" floppy, drawn here so the program needs no image files; in
// December it wears a snowy label with a sprig of holly.
GdkPixbuf *floppy_picture(int december)
{
    const int s = 4;  // pixels per design unit; the design is 16 x 16 units
    GdkPixbuf *pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 16 * s, 16 * s);
    gdk_pixbuf_fill(pb, 0x00000000);
    auto box = [&](int x, int y, int w, int h, guint32 rgb) { fill(pb, x * s, y * s, w * s, h * s, rgb); };
    box(0, 0, 16, 16, 0x202020);           // jacket
    box(1, 1, 14, 14, 0x303840);
    box(6, 6, 4, 4, 0x101010);             // hub hole
    box(7, 7, 2, 2, 0xd8d8d8);
    box(7, 11, 2, 4, 0x101010);            // head window
    box(2, 1, 12, 4, december ? 0xf4f4ff : 0xf0e8c8);  // label
    box(3, 2, 8, 1, 0x3050a0);
    box(3, 3, 6, 1, 0x3050a0);
    box(0, 3, 1, 1, 0x000000);             // write-protect notch
    if (december) {
        box(11, 2, 2, 2, 0x107020);        // holly leaves
        box(12, 3, 1, 1, 0xc01010);        // berry
        box(1, 0, 14, 1, 0xffffff);        // snow on the top edge
    }
    return pb;
}

}  // namespace

GtkWidget *create_dialog_about(void)
{
    GtkWidget *dialog = gtk_dialog_new();
    widgets_register(dialog, dialog, "dialog_about");
    gtk_window_set_title(GTK_WINDOW(dialog), _("About Dravlen client"));
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
    GtkWidget *vbox = GTK_DIALOG(dialog)->vbox;

    GDateTime *now = g_date_time_new_now_utc();
    int december = g_date_time_get_month(now) == 12;
    g_date_time_unref(now);
    GdkPixbuf *pb = floppy_picture(december);
    GtkWidget *image = gtk_image_new_from_pixbuf(pb);
    g_object_unref(pb);
    widgets_register(dialog, image, "image_about");

    char *name = g_strdup_printf(TRACKS == 40 ? "%s (40 tracks)" : "%s (35 tracks)",
                                 "Dravlen client " DRAVLEN_VERSION);
    char *heading = g_markup_printf_escaped("<span size=\"xx-large\"><b>%s</b></span>", name);
    g_free(name);
    GtkWidget *title = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(title), heading);
    g_free(heading);
    widgets_register(dialog, title, "label_about_title");

    char *firmware = firmware_is_test_image
                         ? g_strdup(_("This build carries no board firmware"))
                         : g_strdup_printf(_("Includes firmware version v%d.%d.%d"),
                                           FIRMWARE_VERSION_MAJOR, FIRMWARE_VERSION_MINOR,
                                           FIRMWARE_VERSION_PATCH);
    char *runtime = g_strdup_printf(_("GTK+ runtime in use: %u.%u.%u"), gtk_major_version,
                                    gtk_minor_version, gtk_micro_version);
    char *description = g_strdup_printf(
        "%s\n\n%s\n%s %s\n%s", _("Multi-threaded GUI client for the Dravlen hardware"), firmware,
        _("Built with"), "GCC " __VERSION__, runtime);
    g_free(firmware);
    g_free(runtime);
    GtkWidget *text = gtk_label_new(description);
    g_free(description);
    gtk_label_set_justify(GTK_LABEL(text), GTK_JUSTIFY_CENTER);
    widgets_register(dialog, text, "label_about_description");

    GtkWidget *credits = gtk_label_new(
        _("Written by the Dravlen project contributors.\nThanks to everyone who keeps old "
          "floppies alive."));
    gtk_label_set_justify(GTK_LABEL(credits), GTK_JUSTIFY_CENTER);
    widgets_register(dialog, credits, "label_about_credits");
    GtkWidget *link = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(link), "<u>https://dravlen.example.org/</u>");
    widgets_register(dialog, link, "label_about_link");

    for (GtkWidget *w : {image, title, text, credits, link}) {
        gtk_misc_set_padding(GTK_MISC(w), 5, 5);
        gtk_box_pack_start(GTK_BOX(vbox), w, FALSE, FALSE, 0);
        gtk_widget_show(w);
    }
    GtkWidget *ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "gtk-ok", GTK_RESPONSE_OK);
    widgets_register(dialog, ok, "button_about_ok");
    gtk_widget_grab_focus(ok);
    return dialog;
}

void on_menuitem_about_activate(GtkMenuItem *, gpointer)
{
    GtkWidget *dialog = create_dialog_about();
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}
