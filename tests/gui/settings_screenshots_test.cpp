// Screenshots of the settings windows and dialogs, for looking at them.
// Runs only when DRAVLEN_SCREENSHOT_DIR names the folder to write
// settings_*.png into (scripts/settings_screenshots.sh sets it).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <gtk/gtk.h>

#include "engine/options.h"
#include "tests/gui/support/shell_support.h"
#include "gui/windows/settings.h"
#include "gui/windows/window_main.h"

namespace {

bool snap(GtkWidget *window, const std::string &path)
{
    return shell_snap_window(window, path, 200);
}

TEST(SettingsScreenshots, EachWindowAndDialog)
{
    std::string dir = shell_screenshot_dir();
    if (dir.empty())
        GTEST_SKIP() << "DRAVLEN_SCREENSHOT_DIR not set";
    shell_test_start();
    std::string base = dir + "/settings_";
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
