// Screenshots of the settings windows and dialogs, for looking at them.
// Runs only when DRAVLEN_SCREENSHOT_DIR names the folder to write
// settings_*.png into (scripts/settings_screenshots.sh sets it).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "engine/options.h"
#include "tests/gui/support/shell_support.h"
#include "ui/settings.h"
#include "ui/window_main.h"

namespace {

void settle(GtkWidget *window)
{
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
    // Let the X server map and paint the window before reading it back.
    shell_pump(200);
}

bool snap(GtkWidget *window, const std::string &path)
{
    settle(window);
    return shell_save_snapshot(window, path);
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
