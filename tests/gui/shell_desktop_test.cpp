// The main window on the desktop: its stored position, staying inside the
// screen, where choosers open, the D64 preview label and the log view.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>

#include "gui/windows/log.h"
#include "engine/options.h"
#include "image/d64.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/placement.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

GtkWidget *w(const char *name)
{
    return lookup_widget(window_main, name);
}

void set_zoom(int e)
{
    gtk_check_menu_item_set_active(
        GTK_CHECK_MENU_ITEM(w(e == 2 ? "menuitem_zoom_4x" : "menuitem_zoom_2x")), TRUE);
    shell_pump(300);
}

// The window's outer box on the screen.
GdkRectangle outer_box(GtkWidget *window)
{
    GdkRectangle r;
    gdk_window_get_frame_extents(gtk_widget_get_window(window), &r);
    return r;
}

bool inside_screen(GtkWidget *window, std::string *why)
{
    GdkRectangle r = outer_box(window);
    int sw = gdk_screen_get_width(gtk_widget_get_screen(window));
    int sh = gdk_screen_get_height(gtk_widget_get_screen(window));
    *why = std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height) + " on " + std::to_string(sw) + "x" + std::to_string(sh);
    return r.x >= 0 && r.y >= 0 && r.x + r.width <= sw && r.y + r.height <= sh;
}

class Desktop : public WindowTest {
protected:
    void TearDown() override
    {
        options_set_string(&options_d64_dir_string, nullptr);
        options_set_string(&options_prg_dir_string, nullptr);
        options_set_string(&options_png_dir_string, nullptr);
        options_set_string(&options_rom_dir_string, nullptr);
        WindowTest::TearDown();
    }
};

TEST(Placement, BoxesAreMovedInsideTheAreaAndKeepTheirCornerWhenTooLarge)
{
    GdkRectangle area = {0, 24, 1024, 744};
    int x = 500, y = 300;
    placement_fit(&area, 1058, 615, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 153);
    x = -40, y = 0;
    placement_fit(&area, 600, 400, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 24);
    x = 300, y = 200;
    placement_fit(&area, 600, 400, &x, &y);
    EXPECT_EQ(x, 300);  // already inside: unchanged
    EXPECT_EQ(y, 200);
    x = 2000, y = 2000;
    placement_fit(&area, 2000, 2000, &x, &y);  // larger than the area
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 24);
}

TEST_F(Desktop, SavedPositionIsWhereTheUserLeftTheWindow)
{
    gtk_window_move(GTK_WINDOW(window_main), 40, 30);
    ASSERT_TRUE(shell_pump_until(
        [] {
            int x, y;
            gtk_window_get_position(GTK_WINDOW(window_main), &x, &y);
            return x == 40 && y == 30;
        },
        2000));
    // Into a file of its own: later tests load the start-up one.
    gchar *start_up_path = utf8_path_configfile;
    utf8_path_configfile = g_build_filename(dir.c_str(), "user.ini", nullptr);
    int saved = options_save_to_file();
    std::string text = scratch_read(utf8_path_configfile);
    g_free(utf8_path_configfile);
    utf8_path_configfile = start_up_path;
    ASSERT_EQ(saved, 1);
    EXPECT_NE(text.find("[position]\nwindow_main=40;30;\n"), std::string::npos) << text;
}

#if defined(DRAVLEN_CLIENT_PATH)
// The program's own start-up: the zoom item saves the options before the
// window is placed, and must not overwrite the stored position.
TEST_F(Desktop, StartUpKeepsTheStoredPosition)
{
    std::string folder = dir + "/dravlen-client";
    g_mkdir_with_parents(folder.c_str(), 0700);
    std::string ini = folder + "/user.ini";
    scratch_write(ini, "[interface]\nexpansion=2\n[position]\nwindow_main=61;47;\n");
    char *argv[] = {const_cast<char *>(DRAVLEN_CLIENT_PATH), nullptr};
    char **envp = g_environ_setenv(g_get_environ(), "XDG_CONFIG_HOME", dir.c_str(), TRUE);
    GPid pid;
    ASSERT_TRUE(g_spawn_async(nullptr, argv, envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                              &pid, nullptr));
    g_strfreev(envp);
    // The zoom's save rewrites the file with every group.
    bool saved = shell_pump_until(
        [&] { return scratch_read(ini).find("[connection]") != std::string::npos; }, 10000);
    shell_pump(500);
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    g_spawn_close_pid(pid);
    ASSERT_TRUE(saved);
    std::string text = scratch_read(ini);
    EXPECT_NE(text.find("[position]\nwindow_main=61;47;\n"), std::string::npos) << text;
}
#endif

// Run with a 1024x768 screen (its own test entry); skipped on larger ones.
TEST(SmallScreen, WindowsStayOnAScreenOf1024x768)
{
    shell_test_start();
    GdkScreen *screen = gdk_screen_get_default();
    if (gdk_screen_get_width(screen) > 1024 || gdk_screen_get_height(screen) > 768)
        GTEST_SKIP() << "needs a 1024x768 screen";
    std::string why;
    set_zoom(2);
    EXPECT_TRUE(inside_screen(window_main, &why)) << "4x: " << why;
    // The grid still shows its whole width through the page's scroll bars.
    GtkWidget *view = w("scrolledwindow_disk_imaging");
    GtkAdjustment *h = gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(view));
    EXPECT_GE(gtk_adjustment_get_upper(h), 840);

    // A position stored on a larger monitor.
    placement_move_on_screen(GTK_WINDOW(window_main), 1500, 1100);
    shell_pump(300);
    EXPECT_TRUE(inside_screen(window_main, &why)) << "moved: " << why;

    gtk_window_move(GTK_WINDOW(window_main), 400, 300);
    shell_pump(200);
    set_zoom(1);
    set_zoom(2);
    EXPECT_TRUE(inside_screen(window_main, &why)) << "grown in place: " << why;

    gtk_window_present(GTK_WINDOW(window_sector_contents));
    gtk_button_clicked(
        GTK_BUTTON(lookup_widget(window_sector_contents, "radiobutton_sector_contents_zoom_level2")));
    shell_pump(400);
    EXPECT_TRUE(inside_screen(window_sector_contents, &why)) << "sector contents 2x: " << why;
    gtk_button_clicked(
        GTK_BUTTON(lookup_widget(window_sector_contents, "radiobutton_sector_contents_zoom_level1")));
    gtk_widget_hide(window_sector_contents);
    set_zoom(1);
}

// What folder the chooser called `name` shows once it is up; cancels it.
std::string folder_shown(const char *name, const std::function<void()> &open)
{
    auto folder = std::make_shared<std::string>();
    auto answered = shell_answer_dialog(
        name, GTK_RESPONSE_CANCEL,
        [folder](GtkWidget *d) {
            shell_pump(200);
            char *f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d));
            *folder = f ? f : "(none)";
            g_free(f);
        });
    open();
    EXPECT_TRUE(*answered);
    return *folder;
}

TEST_F(Desktop, ChoosersOpenInTheLastFolderOfTheirKindElseTheImageFolderElseHome)
{
    std::string images = dir + "/images", prgs = dir + "/prgs", pngs = dir + "/pngs";
    for (const std::string &f : {images, prgs, pngs})
        g_mkdir(f.c_str(), 0700);
    char *path = nullptr;
    auto load_prg = [&] { fileopen_load_prg_file(&path); };
    auto restore = [&] { fileopen_load_d64_file(&path, "Restore", nullptr); };
    auto png = [&] { fileopen_save_png_file("grid.png", &path, "Export"); };
    auto rom = [&] { fileopen_save_rom_file("ROM.prg", &path, "ROM"); };

    EXPECT_EQ(folder_shown("filechooserdialog_load", load_prg), g_get_home_dir());
    EXPECT_EQ(folder_shown("filechooserdialog_load", restore), g_get_home_dir());

    options_set_string(&options_d64_dir_string, images.c_str());
    EXPECT_EQ(folder_shown("filechooserdialog_load", load_prg), images);
    EXPECT_EQ(folder_shown("filechooserdialog_load", restore), images);
    EXPECT_EQ(folder_shown("filechooserdialog_save", png), images);
    EXPECT_EQ(folder_shown("filechooserdialog_save", rom), images);

    options_set_string(&options_prg_dir_string, prgs.c_str());
    options_set_string(&options_png_dir_string, pngs.c_str());
    EXPECT_EQ(folder_shown("filechooserdialog_load", load_prg), prgs);
    EXPECT_EQ(folder_shown("filechooserdialog_save", png), pngs);
    EXPECT_EQ(folder_shown("filechooserdialog_save", rom), images);  // none of its own yet

    // A folder that has gone since is passed over.
    options_set_string(&options_png_dir_string, (dir + "/gone").c_str());
    EXPECT_EQ(folder_shown("filechooserdialog_save", png), images);
}

TEST_F(Desktop, PngAndRomChoosersRememberTheirOwnFolders)
{
    std::string images = dir + "/images", out = dir + "/out";
    g_mkdir(images.c_str(), 0700);
    g_mkdir(out.c_str(), 0700);
    options_set_string(&options_d64_dir_string, images.c_str());
    char *path = nullptr;
    auto save_into = [&](const std::string &name) { return shell_choose_save(out, name, 400); };
    auto answered = save_into("grid.png");
    ASSERT_EQ(fileopen_save_png_file("grid.png", &path, "Export"), 1);
    g_free(path);
    EXPECT_STREQ(options_png_dir_string, out.c_str());
    EXPECT_STREQ(options_d64_dir_string, images.c_str());  // the working folder stays
    answered = save_into("ROM.prg");
    ASSERT_EQ(fileopen_save_rom_file("ROM.prg", &path, "ROM"), 1);
    g_free(path);
    EXPECT_STREQ(options_rom_dir_string, out.c_str());
    EXPECT_EQ(options_prg_dir_string, nullptr);
}

TEST_F(Desktop, PreselectedImageShowsItsPreviewWithTheWholeLabel)
{
    std::string image(d64_base_size + d64_block_error_info_size, '\1');
    image[d64_base_size + 3] = 5;   // checksum error: accessible
    image[d64_base_size + 4] = 15;  // inaccessible
    scratch_write(dir + "/disk.d64", image);
    // A desktop font large enough that the label is wider than the picture.
    GtkSettings *settings = gtk_settings_get_default();
    gchar *font = nullptr;
    g_object_get(settings, "gtk-font-name", &font, NULL);
    g_object_set(settings, "gtk-font-name", "Sans 16", NULL);
    std::string text;
    int label_width = 0, text_width = 0;
    bool active = false;
    auto answered = shell_answer_dialog(
        "filechooserdialog_load", GTK_RESPONSE_CANCEL, [&](GtkWidget *d) {
            shell_pump(400);
            GtkWidget *label = lookup_widget(d, "label_preview_sector_errors");
            text = gtk_label_get_text(GTK_LABEL(label));
            GtkAllocation a;
            gtk_widget_get_allocation(label, &a);
            label_width = a.width;
            pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &text_width,
                                        nullptr);
            active = gtk_file_chooser_get_preview_widget_active(GTK_FILE_CHOOSER(d));
        });
    char *path = nullptr;
    fileopen_load_d64_file(&path, "Load", (dir + "/disk.d64").c_str());
    if (!*answered)
        g_object_set(settings, "gtk-font-name", font, NULL);
    ASSERT_TRUE(*answered);
    EXPECT_EQ(text, "Sector errors: 2 (1 accessible)");
    EXPECT_TRUE(active);
    EXPECT_GE(label_width, text_width) << "label cut";

    // The first file clicked in a dialog that opened without one.
    text.clear();
    options_set_string(&options_d64_dir_string, dir.c_str());
    answered = shell_answer_dialog(
        "filechooserdialog_load", GTK_RESPONSE_CANCEL, [&](GtkWidget *d) {
            shell_pump(300);
            gtk_file_chooser_select_filename(GTK_FILE_CHOOSER(d), (dir + "/disk.d64").c_str());
            GtkWidget *label = lookup_widget(d, "label_preview_sector_errors");
            shell_pump_until(
                [label] {
                    return std::string(gtk_label_get_text(GTK_LABEL(label))) != "Sector errors: N/A";
                },
                3000);
            shell_pump(300);
            text = gtk_label_get_text(GTK_LABEL(label));
            GtkAllocation a;
            gtk_widget_get_allocation(label, &a);
            label_width = a.width;
            pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)), &text_width,
                                        nullptr);
        });
    fileopen_load_d64_file(&path, "Load", nullptr);
    g_object_set(settings, "gtk-font-name", font, NULL);
    g_free(font);
    ASSERT_TRUE(*answered);
    EXPECT_EQ(text, "Sector errors: 2 (1 accessible)");
    EXPECT_GE(label_width, text_width) << "label cut";
    EXPECT_GT(text_width, 240);  // wider than the picture: the case that was cut
}

TEST_F(Desktop, LoggingTabShowsTheNewestLines)
{
    // The log was looked at once (scrolled back to its start), then an
    // operation ran on another tab.
    GtkAdjustment *v =
        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(w("scrolledwindow_log")));
    for (int i = 0; i < 100; i++)
        log_textview_append("earlier\n");
    gtk_notebook_set_current_page(GTK_NOTEBOOK(w("notebook_main")), 2);
    shell_pump(200);
    gtk_adjustment_set_value(v, 0);
    shell_pump(100);
    gtk_notebook_set_current_page(GTK_NOTEBOOK(w("notebook_main")), 0);
    shell_pump(100);
    for (int i = 0; i < 300; i++) {
        log_textview_append(("line " + std::to_string(i) + "\n").c_str());
        if (i % 50 == 0)
            shell_pump(20);
    }
    gtk_notebook_set_current_page(GTK_NOTEBOOK(w("notebook_main")), 2);
    bool at_end = shell_pump_until(
        [v] {
            return gtk_adjustment_get_upper(v) > gtk_adjustment_get_page_size(v) &&
                   gtk_adjustment_get_value(v) >=
                       gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v) - 1;
        },
        2000);
    EXPECT_TRUE(at_end) << gtk_adjustment_get_value(v) << " of " << gtk_adjustment_get_upper(v);
    gtk_notebook_set_current_page(GTK_NOTEBOOK(w("notebook_main")), 0);
}

}  // namespace
