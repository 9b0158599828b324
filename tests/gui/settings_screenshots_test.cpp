// Screenshots of the settings windows and dialogs, for looking at them.
// Runs only when DRAVLEN_SCREENSHOT_DIR names the folder to write
// settings_*.png into (scripts/settings_screenshots.sh sets it).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "app/options.h"
#include "tests/gui/support/shell_support.h"
#include "ui/settings.h"
#include "ui/window_main.h"

namespace {

void settle(GtkWidget *window)
{
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
    // Let the X server map and paint the window before reading it back.
    for (int i = 0; i < 50; i++) {
        while (gtk_events_pending())
            gtk_main_iteration();
        g_usleep(10000);
    }
    gtk_widget_queue_draw(window);
    gdk_window_process_updates(window->window, TRUE);
    gdk_display_sync(gtk_widget_get_display(window));
}

bool snap(GtkWidget *window, const std::string &path)
{
    settle(window);
    // Rendered off screen, so other windows and their leftovers never show.
    GdkPixmap *pixmap = gtk_widget_get_snapshot(window, nullptr);
    if (!pixmap)
        return false;
    gint width = 0, height = 0;
    gdk_drawable_get_size(pixmap, &width, &height);
    GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(nullptr, pixmap, gtk_widget_get_colormap(window),
                                                   0, 0, 0, 0, width, height);
    g_object_unref(pixmap);
    if (!shot)
        return false;
    bool saved = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, NULL);
    g_object_unref(shot);
    return saved;
}

TEST(SettingsScreenshots, EachWindowAndDialog)
{
    const char *dir = g_getenv("DRAVLEN_SCREENSHOT_DIR");
    if (!dir || !*dir)
        GTEST_SKIP() << "DRAVLEN_SCREENSHOT_DIR not set";
    shell_test_start();
    g_mkdir_with_parents(dir, 0755);
    std::string base = std::string(dir) + "/settings_";
    GtkWidget *connection = window_connection_settings;
    GtkWidget *format = window_format_parameters;
    GtkWidget *application = window_application_settings;

    on_menuitem_format_parameters_activate(nullptr, nullptr);
    EXPECT_TRUE(snap(format, base + "format_parameters.png"));
    gtk_widget_hide(format);

    on_menuitem_connection_activate(nullptr, nullptr);
    EXPECT_TRUE(snap(connection, base + "connection.png"));
    gtk_widget_hide(connection);

    on_menuitem_application_settings_activate(nullptr, nullptr);
    EXPECT_TRUE(snap(application, base + "application.png"));
    gtk_widget_hide(application);

    GtkWidget *font = create_fontselectiondialog_select_font();
    gtk_font_selection_dialog_set_font_name(GTK_FONT_SELECTION_DIALOG(font),
                                            options_font_description_string);
    EXPECT_TRUE(snap(font, base + "font.png"));
    gtk_widget_destroy(font);

    GtkWidget *colour = create_dialog_colorselection();
    EXPECT_TRUE(snap(colour, base + "colour.png"));
    gtk_widget_destroy(colour);
}

}  // namespace
