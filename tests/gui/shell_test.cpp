// The main window as the program builds it at start-up: names and lookup,
// what start-up shows and hides, options applied to the controls, the quit
// paths, the busy state, the logs, drops, dialogs and the choosers.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <signal.h>
#include <sys/wait.h>
#include <gdk/gdkkeysyms.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gui/app/controls.h"
#include "device/firmware.h"
#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "gui/app/startup.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/jobs/rereads_job.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "version.h"

namespace {

GtkWidget *w(const char *name)
{
    return lookup_widget(window_main, name);
}

class Shell : public ::testing::Test {
protected:
    void SetUp() override
    {
        shell_test_start();
        flag_abort_requested = 0;
    }
};

const char *const main_window_names[] = {
    "menuitem_file", "menuitem_select_folder", "menuitem_quit", "menuitem_configuration",
    "menuitem_connection", "menuitem_format_parameters", "menuitem_application_settings",
    "menuitem_fonts", "menuitem_zoom", "menuitem_zoom_2x", "menuitem_zoom_4x",
    "menuitem_view_disk_imaging_tab", "menuitem_view_files_directory_tab",
    "menuitem_view_logging_tab", "menuitem_firmware", "menuitem_read_firmware_version",
    "menuitem_reset_into_bootloader", "menuitem_update", "menuitem_tools", "menuitem_initialize",
    "menuitem_query_error_channel", "menuitem_export_sector_grid_to_png",
    "menuitem_disk_directory", "menuitem_export_directory_to_png", "menuitem_reset_drive",
    "menuitem_reset_the_iec_bus", "menuitem_format_ii", "menuitem_dump_1541_drive_rom",
    "menuitem_dump_1571_drive_rom", "menuitem_special_dumps", "menuitem_dump_the_whole_disk",
    "menuitem_dump_track_18_only", "menuitem_dump_track_18_and_first_sector",
    "menuitem_dump_bam_based", "menuitem_load_d64_file_for_rereads",
    "menuitem_reread_all_sectors", "menuitem_reread_dir_track",
    "menuitem_reread_dir_track_and_first_sector", "menuitem_reread_based_on_bam_contents",
    "menuitem_reread_track_range", "menuitem_about", "notebook_main", "drawingarea_sectors",
    "button_save_image_to_D64", "label_save_image_to_D64", "checkbutton_pre_initialize_disk",
    "checkbutton_disk_dump_auto_naming", "radiobutton_disk_dump_auto_naming_side_a",
    "radiobutton_disk_dump_auto_naming_side_b", "spinbutton_disk_dump_auto_naming_offset",
    "spinbutton_sector_read_retries", "spinbutton_max_sector_errors", "spinbutton_outmost_track",
    "label_sector_errors", "label_sector_errors_count", "button_load_image_from_D64",
    "drawingarea_directory_listing", "vscrollbar_files_directory", "button_directory",
    "button_save_PRG", "button_format_disk", "button_validate_disk", "button_scratch_file",
    "button_load_PRG", "textview_log", "statusbar_main", "progressbar_main",
    "button_abort_operation", "combobox_drive", "image_overall_status",
};

TEST_F(Shell, EveryNamedWidgetIsFoundFromAnyWidgetOfItsWindow)
{
    for (const char *name : main_window_names) {
        GtkWidget *found = w(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_STREQ(gtk_widget_get_name(found), name);
    }
    // From deep inside a submenu (climbs through the item the menu hangs on).
    EXPECT_EQ(lookup_widget(w("menuitem_zoom_4x"), "textview_log"), w("textview_log"));
    // From a widget of another window, names stay local to that window.
    shell_warning_catcher catcher;
    EXPECT_EQ(lookup_widget(window_sector_contents, "textview_log"), nullptr);
    EXPECT_NE(lookup_widget(window_sector_contents, "statusbar_sector_contents"), nullptr);
}

TEST_F(Shell, MissingNameWarnsAndGivesNull)
{
    shell_warning_catcher catcher;
    EXPECT_EQ(lookup_widget(window_main, "button_that_does_not_exist"), nullptr);
    EXPECT_NE(catcher.text.find("Widget not found: button_that_does_not_exist"),
              std::string::npos)
        << catcher.text;
}

TEST_F(Shell, StartUpShowsImagingTabLogLinesAndHidesBuildSpecificControls)
{
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 0);
    std::string expected = "Started Dravlen client " DRAVLEN_VERSION "\nConfiguration file: " +
                           shell_test_config_path() + "\n";
    EXPECT_EQ(shell_log_text().compare(0, expected.size(), expected), 0) << shell_log_text();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(window_main)), "Dravlen client");
    EXPECT_EQ(progressbar_main, w("progressbar_main"));
    EXPECT_FALSE(gtk_widget_get_visible(window_sector_contents));
    EXPECT_FALSE(gtk_widget_get_visible(window_connection_settings));
    EXPECT_FALSE(gtk_widget_get_visible(window_format_parameters));
    EXPECT_FALSE(gtk_widget_get_visible(window_application_settings));
    EXPECT_FALSE(gtk_widget_get_visible(w("menuitem_reread_based_on_bam_contents")));

    const bool visible_in_this_build = TRACKS == 35;
    for (const char *name : {"button_save_PRG", "button_load_PRG", "button_scratch_file",
                             "button_validate_disk", "button_format_disk",
                             "menuitem_dump_bam_based"})
        EXPECT_EQ(gtk_widget_get_visible(w(name)), visible_in_this_build) << name;
    EXPECT_EQ(gtk_widget_get_visible(lookup_widget(
                  window_application_settings,
                  "checkbutton_application_settings_show_notifications_tracks_beyond_35")),
              visible_in_this_build);
    for (const char *name : {"button_directory", "button_save_image_to_D64",
                             "menuitem_dump_the_whole_disk", "button_abort_operation"})
        EXPECT_TRUE(gtk_widget_get_visible(w(name))) << name;
}

TEST_F(Shell, OptionsFromTheFileReachTheControls)
{
    EXPECT_EQ(combo_active_drive_get_index(), 2);
    EXPECT_EQ(spinbutton_max_sector_error_count_get_value(), 55);
    EXPECT_EQ(spinbutton_sector_read_retry_get_value(), 7);
    EXPECT_EQ(spinbutton_outmost_track_get_value(), 3);
    EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(w("menuitem_zoom_4x"))));
    PangoFontDescription *font = w("textview_log")->style->font_desc;
    EXPECT_EQ(pango_font_description_get_size(font), 13 * PANGO_SCALE);
}

TEST_F(Shell, SpinButtonsHoldLoadedValuesToTheirRanges)
{
    int saved[3] = {options_max_sector_errors, options_sector_read_retries, options_outmost_track};
    options_max_sector_errors = 5000;
    options_sector_read_retries = -4;
    options_outmost_track = 9;
    controls_adjust_from_options();
    EXPECT_EQ(spinbutton_max_sector_error_count_get_value(), 1000);
    EXPECT_EQ(spinbutton_sector_read_retry_get_value(), 0);
    EXPECT_EQ(spinbutton_outmost_track_get_value(), 5);
    options_max_sector_errors = saved[0];
    options_sector_read_retries = saved[1];
    options_outmost_track = saved[2];
    controls_adjust_from_options();
}

TEST_F(Shell, ViewMenuSwitchesTabs)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_view_logging_tab")));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 2);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_view_files_directory_tab")));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 1);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_view_disk_imaging_tab")));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 0);
}

bool press(guint key, GdkModifierType mods)
{
    return gtk_accel_groups_activate(G_OBJECT(window_main), key, mods);
}

TEST_F(Shell, AcceleratorsReachTheirItemsOnlyWhileIdle)
{
    EXPECT_TRUE(press(GDK_3, GDK_MOD1_MASK));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 2);
    EXPECT_TRUE(press(GDK_1, GDK_MOD1_MASK));
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 0);

    // While busy the locked menus do not answer their keys.
    controls_enable(0);
    char *port = g_strdup(options_device_port_string);
    options_set_string(&options_device_port_string, "");
    statusbar_main_update(" before");
    EXPECT_FALSE(press(GDK_i, GDK_CONTROL_MASK));
    EXPECT_FALSE(press(GDK_F1, (GdkModifierType)0));
    EXPECT_EQ(shell_status_text(), " before");
    EXPECT_TRUE(press(GDK_2, GDK_MOD1_MASK));  // viewing stays possible
    controls_enable(1);
    EXPECT_TRUE(press(GDK_i, GDK_CONTROL_MASK));
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
    options_set_string(&options_device_port_string, port);
    g_free(port);
    notebook_main_set_page(0);
}

// Quitting -------------------------------------------------------------

TEST_F(Shell, DecliningTheQuitQuestionLeavesEverything)
{
    std::string before = scratch_read(shell_test_config_path());
    int drive = options_drive_index;
    options_drive_index = 3;  // would show up in the file if it were saved

    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_quit")));
    EXPECT_TRUE(*answered);
    answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    EXPECT_TRUE(on_window_main_delete_event(window_main, nullptr, nullptr));
    EXPECT_TRUE(*answered);

    EXPECT_EQ(scratch_read(shell_test_config_path()), before);
    EXPECT_EQ(flag_abort_requested.load(), 0);
    EXPECT_TRUE(gtk_widget_get_visible(window_main));
    options_drive_index = drive;
}

TEST_F(Shell, QuitQuestionAsksTheRightThing)
{
    std::string markup;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO,
                                        [&](GtkWidget *dialog) {
                                            markup = gtk_label_get_text(GTK_LABEL(lookup_widget(
                                                dialog, "label_yes_no_confirmation")));
                                            EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dialog)),
                                                         "Confirmation");
                                        });
    on_window_main_delete_event(window_main, nullptr, nullptr);
    EXPECT_EQ(markup, "Are you sure you want to quit?");
}

TEST_F(Shell, AcceptingQuitFromTheCloseButtonSavesAndLetsTheWindowGo)
{
    options_drive_index = 1;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES);
    EXPECT_FALSE(on_window_main_delete_event(window_main, nullptr, nullptr));
    EXPECT_TRUE(*answered);
    EXPECT_EQ(flag_abort_requested.load(), 1);
    std::string saved = scratch_read(shell_test_config_path());
    EXPECT_NE(saved.find("drive_index=1\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[position]\nwindow_main="), std::string::npos) << saved;
}

gboolean activate_quit(gpointer)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_quit")));
    return FALSE;
}

gboolean give_up(gpointer)
{
    ADD_FAILURE() << "the main loop did not end";
    gtk_main_quit();
    return FALSE;
}

TEST_F(Shell, AcceptingQuitFromTheMenuSavesAndEndsTheMainLoop)
{
    options_max_sector_errors = 77;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_YES);
    g_idle_add(activate_quit, nullptr);
    guint guard = g_timeout_add(5000, give_up, nullptr);
    gtk_main();  // returns only through the quit path
    g_source_remove(guard);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(flag_abort_requested.load(), 1);
    EXPECT_NE(scratch_read(shell_test_config_path()).find("max_sector_errors=77\n"),
              std::string::npos);
}

// Busy state -----------------------------------------------------------

const char *const locked[] = {
    "menuitem_configuration", "menuitem_firmware", "menuitem_tools", "menuitem_special_dumps",
    "combobox_drive", "button_save_image_to_D64", "checkbutton_disk_dump_auto_naming",
    "spinbutton_disk_dump_auto_naming_offset", "radiobutton_disk_dump_auto_naming_side_a",
    "radiobutton_disk_dump_auto_naming_side_b", "spinbutton_max_sector_errors",
    "spinbutton_sector_read_retries", "spinbutton_outmost_track",
    "checkbutton_pre_initialize_disk", "button_load_image_from_D64", "button_directory",
    "button_save_PRG", "button_load_PRG", "button_scratch_file", "button_validate_disk",
    "button_format_disk",
};

std::string status_icon()
{
    gchar *stock = nullptr;
    gtk_image_get_stock(GTK_IMAGE(w("image_overall_status")), &stock, nullptr);
    return stock ? stock : "";
}

TEST_F(Shell, ControlsEnableSwitchesTheControlsAbortAndIcon)
{
    controls_enable(0);
    for (const char *name : locked)
        EXPECT_FALSE(gtk_widget_get_sensitive(w(name))) << name;
    EXPECT_TRUE(gtk_widget_get_sensitive(w("button_abort_operation")));
    EXPECT_EQ(status_icon(), "gtk-no");
    EXPECT_TRUE(operation_is_running());
    // Menus that start nothing stay usable.
    EXPECT_TRUE(gtk_widget_get_sensitive(w("menuitem_file")));

    controls_enable(1);
    for (const char *name : locked)
        EXPECT_TRUE(gtk_widget_get_sensitive(w(name))) << name;
    EXPECT_FALSE(gtk_widget_get_sensitive(w("button_abort_operation")));
    EXPECT_EQ(status_icon(), "gtk-yes");
    EXPECT_FALSE(operation_is_running());
}

TEST_F(Shell, AbortButtonOnlyRaisesTheFlag)
{
    controls_enable(0);
    gtk_button_clicked(GTK_BUTTON(w("button_abort_operation")));
    EXPECT_EQ(flag_abort_requested.load(), 1);
    EXPECT_TRUE(operation_is_running());
    controls_enable(1);
}

std::string error_count()
{
    return gtk_label_get_text(GTK_LABEL(w("label_sector_errors_count")));
}

TEST_F(Shell, ErrorCountLabelNeverGoesNegativeAndIgnoresText)
{
    controls_set_accessible_sector_error_count(1);
    controls_decrease_accessible_sector_error_count();
    controls_decrease_accessible_sector_error_count();
    EXPECT_EQ(error_count(), "0");
    controls_increase_accessible_sector_error_count();
    controls_increase_accessible_sector_error_count();
    EXPECT_EQ(error_count(), "2");
    gtk_label_set_text(GTK_LABEL(w("label_sector_errors_count")), "N/A");
    controls_increase_accessible_sector_error_count();
    controls_decrease_accessible_sector_error_count();
    EXPECT_EQ(error_count(), "N/A");
    idle_set_accessible_sector_error_count(GINT_TO_POINTER(12));
    EXPECT_EQ(error_count(), "12");
}

TEST_F(Shell, ProgressBarIgnoresFractionsAboveOneAndHidesAtOne)
{
    gtk_widget_show(progressbar_main);
    ped_set_progress(0.25);
    idle_progressbar_update(nullptr);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progressbar_main)), 0.25);
    ped_set_progress(1.5);
    idle_progressbar_update(nullptr);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(progressbar_main)), 0.25);
    EXPECT_TRUE(gtk_widget_get_visible(progressbar_main));
    ped_set_progress(1.0);
    idle_progressbar_update(nullptr);
    EXPECT_FALSE(gtk_widget_get_visible(progressbar_main));
}

// Logs -----------------------------------------------------------------

TEST_F(Shell, PerDiskLogHeaderAppendAndDelete)
{
    log_warpsave_delete();
    log_warpsave_append("nowhere\n");  // no log: nothing happens
    EXPECT_EQ(log_warpsave, nullptr);
    log_warpsave_delete();

    log_warpsave_new(0);
    EXPECT_STREQ(log_warpsave_get_str(), "Log file created by Dravlen client " DRAVLEN_VERSION "\n");
    log_warpsave_new(1);  // replaces the previous one
    EXPECT_STREQ(log_warpsave_get_str(), "Log file opened by Dravlen client " DRAVLEN_VERSION "\n");
    log_warpsave_append(nullptr);
    shell_log_clear();
    log_warpsave_and_log_textview_append("t/s 18/0 \n");
    EXPECT_EQ(std::string(log_warpsave_get_str()),
              "Log file opened by Dravlen client " DRAVLEN_VERSION "\nt/s 18/0 \n");
    EXPECT_EQ(log_warpsave_get_len(), (int)strlen(log_warpsave_get_str()));
    EXPECT_EQ(shell_log_text(), "t/s 18/0 \n");
    log_warpsave_delete();
    log_warpsave_delete();
    EXPECT_EQ(log_warpsave, nullptr);
}

TEST_F(Shell, AppendingLeavesTheUsersCursorAlone)
{
    shell_log_clear();
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w("textview_log")));
    gtk_text_buffer_set_text(buffer, "my note", -1);
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(buffer, &at, 2);
    gtk_text_buffer_place_cursor(buffer, &at);
    log_textview_append("\nCompleted\n");
    gtk_text_buffer_get_iter_at_mark(buffer, &at, gtk_text_buffer_get_insert(buffer));
    EXPECT_EQ(gtk_text_iter_get_offset(&at), 2);
    EXPECT_EQ(shell_log_text(), "my note\nCompleted\n");
}

// The log says what happened: typing into it changes nothing.
TEST_F(Shell, TypingIntoTheLoggingViewChangesNothing)
{
    shell_log_clear();
    log_textview_append("Completed\n");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_view_logging_tab")));
    shell_pump(50);
    gtk_widget_grab_focus(w("textview_log"));
    for (guint key : {GDK_x, GDK_Return, GDK_BackSpace, GDK_Delete})
        shell_send_key(window_main, key);
    shell_pump(50);
    EXPECT_EQ(shell_log_text(), "Completed\n");
}

TEST_F(Shell, LinesFromAWorkerReachBothLogsInOrder)
{
    shell_log_clear();
    log_warpsave_new(0);
    std::string expected;
    for (int i = 0; i < 200; i++)
        expected += "line " + std::to_string(i) + "\n";
    std::thread worker([] {
        for (int i = 0; i < 200; i++)
            log_queue_printf("line %d\n", i);
    });
    // The GUI thread keeps redrawing while the worker queues.
    guint redraw = g_timeout_add(
        3,
        [](gpointer) -> gboolean {
            gtk_widget_queue_draw(window_main);
            return TRUE;
        },
        nullptr);
    bool arrived = shell_pump_until([&] { return shell_log_text() == expected; }, 5000);
    g_source_remove(redraw);
    worker.join();
    ASSERT_TRUE(arrived) << shell_log_text();
    EXPECT_EQ(std::string(log_warpsave_get_str()),
              "Log file created by Dravlen client " DRAVLEN_VERSION "\n" + expected);
    log_warpsave_delete();
}

// Drag and drop ---------------------------------------------------------

struct uri_selection {
    GtkSelectionData data{};
    explicit uri_selection(const std::string &uris, int format = 8)
    {
        data.selection = GDK_SELECTION_PRIMARY;
        data.display = gdk_display_get_default();
        data.target = gdk_atom_intern_static_string("text/uri-list");
        data.length = -1;
        gtk_selection_data_set(&data, data.target, format, (const guchar *)uris.data(),
                               (gint)uris.size());
    }
    ~uri_selection() { g_free(data.data); }
};

TEST_F(Shell, DropIsRefusedWhileBusyAndTakenWhenIdle)
{
    std::string dir = scratch_dir_new();
    std::string path = dir + "/dropped disk.d64";
    scratch_write(path, std::string(d64_base_size, '\0'));  // loads cleanly
    char *uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    uri_selection selection(std::string(uri) + "\r\n");
    g_free(uri);

    controls_enable(0);
    EXPECT_EQ(window_main_drop_file_name(&selection.data), nullptr);
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = nullptr;
    // A context as a drop from this same window would carry.
    GdkDragContext *context = gdk_drag_context_new();
    context->source_window = GDK_WINDOW(g_object_ref(window_main->window));
    context->dest_window = GDK_WINDOW(g_object_ref(window_main->window));
    context->protocol = GDK_DRAG_PROTO_NONE;
    on_window_main_drag_data_received(window_main, context, 0, 0, &selection.data, 0, 0, nullptr);
    EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
    controls_enable(1);

    char *name = window_main_drop_file_name(&selection.data);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name), path);
    g_free(name);
    on_window_main_drag_data_received(window_main, context, 0, 0, &selection.data, 0, 0, nullptr);
    ASSERT_NE(utf8_path_lastopenfile_d64, nullptr);
    EXPECT_EQ(std::string(utf8_path_lastopenfile_d64), path);
    EXPECT_EQ(std::string(options_d64_dir_string), dir);
    g_object_unref(context);
    scratch_dir_remove(dir);
}

TEST_F(Shell, DropWithoutUsableDataIsRefused)
{
    uri_selection empty("");
    EXPECT_EQ(window_main_drop_file_name(&empty.data), nullptr);
    uri_selection wide("file:///tmp/x.d64\r\n", 16);
    EXPECT_EQ(window_main_drop_file_name(&wide.data), nullptr);
    EXPECT_EQ(window_main_drop_file_name(nullptr), nullptr);
}

// Dialogs --------------------------------------------------------------

TEST_F(Shell, ModifyDiskWarningShowsOnceWhateverTheAnswer)
{
    request_confirmation_to_modify_disk = 1;
    std::string text;
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO,
                                        [&](GtkWidget *d) {
                                            text = gtk_label_get_text(GTK_LABEL(lookup_widget(
                                                d, "label_yes_no_confirmation")));
                                        });
    EXPECT_FALSE(get_user_confirmation_to_modify_disk());
    EXPECT_TRUE(*answered);
    EXPECT_EQ(text.rfind("WARNING!!!", 0), 0u) << text;
    // No dialog this time: a dialog would block the test until it times out.
    EXPECT_TRUE(get_user_confirmation_to_modify_disk());
}

TEST_F(Shell, NoticeWaitsForClose)
{
    auto answered = shell_answer_dialog("dialog_notice", GTK_RESPONSE_CLOSE, [](GtkWidget *d) {
        EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Notice");
        EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(lookup_widget(d, "label_notice"))), "Bold");
    });
    get_user_acknowledgement("<b>Bold</b>");
    EXPECT_TRUE(*answered);
}

TEST_F(Shell, AboutBoxNamesTheBuild)
{
    GtkWidget *about = create_dialog_about();
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(about)), "About Dravlen client");
    std::string title = gtk_label_get_text(GTK_LABEL(lookup_widget(about, "label_about_title")));
    EXPECT_EQ(title, TRACKS == 40 ? "Dravlen client " DRAVLEN_VERSION " (40 tracks)"
                                  : "Dravlen client " DRAVLEN_VERSION " (35 tracks)");
    std::string text =
        gtk_label_get_text(GTK_LABEL(lookup_widget(about, "label_about_description")));
    // A build with the test image must not claim to carry firmware.
    EXPECT_NE(text.find(firmware_is_test_image ? "This build carries no board firmware"
                                               : "Includes firmware version v2.4.0"),
              std::string::npos);
    EXPECT_EQ(text.find("Includes firmware") == std::string::npos, firmware_is_test_image != 0);
    EXPECT_NE(text.find("GTK+ runtime in use: 2."), std::string::npos);
    gtk_widget_destroy(about);
}

}  // namespace

// The programs themselves ----------------------------------------------

// Starts a program with its own configuration folder; it must write the
// default options file on its first start and keep running.
void start_program_and_check_first_run(const char *program)
{
    std::string home = scratch_dir_new();
    std::vector<char *> argv = {const_cast<char *>(program), nullptr};
    char **envp = g_environ_setenv(g_get_environ(), "XDG_CONFIG_HOME", home.c_str(), TRUE);
    GPid pid;
    GError *error = nullptr;
    gboolean spawned = g_spawn_async(nullptr, argv.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD,
                                     nullptr, nullptr, &pid, &error);
    g_strfreev(envp);
    ASSERT_TRUE(spawned) << (error ? error->message : "");
    std::string ini = home + "/dravlen-client/user.ini";
    bool written = shell_pump_until([&] { return g_file_test(ini.c_str(), G_FILE_TEST_EXISTS); },
                                    10000);
    g_usleep(300000);
    int status = 0;
    bool still_running = waitpid(pid, &status, WNOHANG) == 0;
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    g_spawn_close_pid(pid);
    EXPECT_TRUE(written) << program;
    EXPECT_TRUE(still_running) << program;
    std::string text = scratch_read(ini);
    EXPECT_NE(text.find("[imaging]\ndrive_index=0\nmax_sector_errors=10\nsector_read_retries=3\n"
                        "outmost_track=1\nfirst_sector_in_dir_order=false\n"),
              std::string::npos)
        << text;
    scratch_dir_remove(home);
}

TEST(ShellPrograms, BothBuildsStartAndWriteTheirFirstOptionsFile)
{
#if defined(DRAVLEN_CLIENT_PATH) && defined(DRAVLEN_CLIENT40_PATH)
    gtk_init_check(nullptr, nullptr);
    start_program_and_check_first_run(DRAVLEN_CLIENT_PATH);
    start_program_and_check_first_run(DRAVLEN_CLIENT40_PATH);
#else
    GTEST_SKIP() << "programs not built";
#endif
}
