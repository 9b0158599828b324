// Placeholder: the hidden window with its name and status bar, so start-up
// and the status helper work until the dump view is built.
#include "ui/sector_contents_window.h"

#include <glib/gi18n.h>

#include "ui/settings.h"
#include "ui/widgets.h"
#include "ui/window_main.h"

GtkWidget *create_window_sector_contents(void)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    widgets_register(window, window, "window_sector_contents");
    gtk_window_set_title(GTK_WINDOW(window), _("Sector contents"));
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    GtkWidget *vbox = gtk_vbox_new(FALSE, 0);
    widgets_register(window, vbox, "vbox_sector_contents_top_most");
    gtk_container_add(GTK_CONTAINER(window), vbox);
    GtkWidget *status = gtk_statusbar_new();
    widgets_register(window, status, "statusbar_sector_contents");
    gtk_statusbar_set_has_resize_grip(GTK_STATUSBAR(status), FALSE);
    gtk_box_pack_end(GTK_BOX(vbox), status, FALSE, FALSE, 0);
    gtk_widget_show_all(vbox);
    g_signal_connect(window, "delete_event", G_CALLBACK(on_window_sector_contents_delete_event),
                     nullptr);
    g_signal_connect(window, "key_press_event",
                     G_CALLBACK(on_window_sector_contents_key_press_event), nullptr);
    return window;
}

void statusbar_sector_contents_update(const char *text)
{
    GtkStatusbar *bar =
        GTK_STATUSBAR(lookup_widget(window_sector_contents, "statusbar_sector_contents"));
    gtk_statusbar_pop(bar, 0);
    gtk_statusbar_push(bar, 0, text);
}
