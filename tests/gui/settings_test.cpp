// Settings windows and dialogs under a real X server: what each OK writes to
// the options file, the typing filter of the format entries, and that Escape
// and the close button hide without saving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include "gui/app/controls.h"
#include "engine/options.h"
#include "device/serial.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/sim_process.h"
#include "gui/jobs/drive_commands.h"
#include "gui/windows/settings.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

void pump()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}

GtkWidget *find(GtkWidget *window, const char *name)
{
    GtkWidget *w = lookup_widget(window, name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

std::string entry_of(GtkWidget *window, const char *name)
{
    return gtk_entry_get_text(GTK_ENTRY(find(window, name)));
}

void type_into(GtkWidget *window, const char *name, const char *text, gint position = -1)
{
    GtkWidget *entry = find(window, name);
    if (position < 0)
        position = gtk_entry_get_text_length(GTK_ENTRY(entry));
    gtk_editable_insert_text(GTK_EDITABLE(entry), text, -1, &position);
}

void send_key(GtkWidget *window, guint keyval)
{
    shell_send_key(window, keyval);
    pump();
}

void send_delete(GtkWidget *window)
{
    GdkEvent *event = gdk_event_new(GDK_DELETE);
    event->any.window = GDK_WINDOW(g_object_ref(window->window));
    event->any.send_event = TRUE;
    // The same path a window manager's close takes: hide unless a handler stops it.
    if (!gtk_widget_event(window, event))
        gtk_widget_destroy(window);
    gdk_event_free(event);
    pump();
}

// Opens a settings window the way the user does, through the main menu.
void open_from_menu(const char *item)
{
    gtk_menu_item_activate(GTK_MENU_ITEM(lookup_widget(window_main, item)));
    pump();
}

struct key_value {
    const char *group;
    const char *key;
    const char *value;
};

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The program's own start-up builds the settings windows once per run
        // and points XDG_CONFIG_HOME at a scratch folder.
        shell_test_start();
        char *dir = g_dir_make_tmp("settings_test_XXXXXX", nullptr);
        ASSERT_NE(dir, nullptr);
        tmp_dir = dir;
        g_free(dir);
        // Each test saves into a file of its own, so "not written" can be checked.
        start_up_path = utf8_path_configfile;
        utf8_path_configfile = g_build_filename(tmp_dir.c_str(), "user.ini", nullptr);
        options_set_defaults();
    }

    void TearDown() override
    {
        for (GtkWidget *w :
             {window_connection_settings, window_format_parameters, window_application_settings})
            gtk_widget_hide(w);
        pump();
        g_remove(utf8_path_configfile);
        g_rmdir(tmp_dir.c_str());
        g_free(utf8_path_configfile);
        utf8_path_configfile = start_up_path;
        // Leave the program as start-up left it for tests that run after these.
        options_load_from_file();
        window_main_set_textview_fonts();
    }

    bool file_written() const { return g_file_test(utf8_path_configfile, G_FILE_TEST_EXISTS); }

    // What the file would hold for the current options, before a dialog changes them.
    GKeyFile *snapshot() const
    {
        GKeyFile *kf = g_key_file_new();
        gchar *text = options_build_file_text();
        EXPECT_TRUE(g_key_file_load_from_data(kf, text, (gsize)-1, G_KEY_FILE_NONE, nullptr));
        g_free(text);
        return kf;
    }

    // The saved file equals `before` except for exactly the listed keys.
    void expect_saved_changes(GKeyFile *before, const std::vector<key_value> &changes)
    {
        ASSERT_TRUE(file_written());
        GKeyFile *after = g_key_file_new();
        ASSERT_TRUE(g_key_file_load_from_file(after, utf8_path_configfile, G_KEY_FILE_NONE,
                                              nullptr));
        gsize ngroups = 0;
        gchar **groups = g_key_file_get_groups(before, &ngroups);
        for (gsize g = 0; g < ngroups; g++) {
            if (std::string(groups[g]) == "position")
                continue;
            gchar **keys = g_key_file_get_keys(before, groups[g], nullptr, nullptr);
            for (gchar **k = keys; k && *k; k++) {
                gchar *old_value = g_key_file_get_value(before, groups[g], *k, nullptr);
                gchar *new_value = g_key_file_get_value(after, groups[g], *k, nullptr);
                std::string expected = old_value ? old_value : "";
                for (const key_value &c : changes) {
                    if (std::string(c.group) == groups[g] && std::string(c.key) == *k)
                        expected = c.value;
                }
                EXPECT_EQ(new_value ? std::string(new_value) : std::string("<missing>"),
                          expected)
                    << "[" << groups[g] << "] " << *k;
                g_free(old_value);
                g_free(new_value);
            }
            g_strfreev(keys);
        }
        g_strfreev(groups);
        g_key_file_free(after);
        g_key_file_free(before);
    }

    std::string tmp_dir;
    gchar *start_up_path = nullptr;
};

// ------------------------------------------------------------ connection

TEST_F(SettingsTest, ConnectionOkSavesBothPortsAsTyped)
{
    GtkWidget *w = window_connection_settings;
    options_set_string(&options_device_port_string, "/dev/ttyACM5");
    options_set_string(&options_bootloader_port_string, "/dev/ttyACM6");
    GKeyFile *before = snapshot();

    open_from_menu("menuitem_connection");
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(w));
    EXPECT_EQ(entry_of(w, "entry_connection_settings_device_port"), "/dev/ttyACM5");
    EXPECT_EQ(entry_of(w, "entry_connection_settings_bootloader_port"), "/dev/ttyACM6");

    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_connection_settings_device_port")),
                       "/dev/ttyUSB0 x,y");
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_connection_settings_bootloader_port")), "");
    gtk_button_clicked(GTK_BUTTON(find(w, "button_connection_settings_ok")));
    pump();

    EXPECT_FALSE(GTK_WIDGET_VISIBLE(w));
    EXPECT_STREQ(options_device_port_string, "/dev/ttyUSB0 x,y");
    EXPECT_STREQ(options_bootloader_port_string, "");
    expect_saved_changes(before, {{"connection", "device_port", "/dev/ttyUSB0 x,y"},
                                  {"connection", "bootloader_port", ""}});
}

TEST_F(SettingsTest, DetectListsAnsweringBoardsAndFillsTheStableName)
{
    GtkWidget *w = window_connection_settings;
    std::string ports = shell_test_ports_folder();
    sim_process board{}, other{}, busy{};
    ASSERT_TRUE(sim_start(&board, {"--version", "2.3.1"}));
    ASSERT_TRUE(sim_start(&other, {}));
    ASSERT_TRUE(sim_start(&busy, {}));
    std::string stable = ports + "/usb-Dravlen_board-if00";
    ASSERT_EQ(symlink(board.port.c_str(), stable.c_str()), 0);
    ASSERT_EQ(symlink(other.port.c_str(), (ports + "/ttyACM1").c_str()), 0);
    ASSERT_EQ(symlink(busy.port.c_str(), (ports + "/ttyACM2").c_str()), 0);
    int held = -1;
    ASSERT_TRUE(serial_connect_and_configure_port(&held, busy.port.c_str()));

    options_set_string(&options_device_port_string, "/dev/ttyACM0");
    open_from_menu("menuitem_connection");
    GtkWidget *detect = find(w, "button_connection_settings_detect");
    GtkWidget *label = find(w, "label_connection_settings_found");
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(label));
    gtk_button_clicked(GTK_BUTTON(detect));
    EXPECT_FALSE(gtk_widget_get_sensitive(detect));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "Looking for Dravlen ports...");
    ASSERT_TRUE(shell_pump_until([&] { return gtk_widget_get_sensitive(detect); }, 10000));
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(label));
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(label))),
              "Dravlen ports found:\n" + ports + "/ttyACM1 (v2.4.0)\n" + stable + " (v2.3.1)");
    // The first that answered, in probe order (sorted names here).
    EXPECT_EQ(entry_of(w, "entry_connection_settings_device_port"), ports + "/ttyACM1");
    // Nothing is kept until OK.
    EXPECT_STREQ(options_device_port_string, "/dev/ttyACM0");
    EXPECT_FALSE(file_written());

    // With nothing answering the entry stays as it was. The links go first: a
    // freed pty number is soon reused by a board of a test running alongside.
    serial_disconnect_port(held);
    for (const char *name : {"/usb-Dravlen_board-if00", "/ttyACM1", "/ttyACM2"})
        g_remove((ports + name).c_str());
    sim_stop(&board);
    sim_stop(&other);
    sim_stop(&busy);
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_connection_settings_device_port")), "/dev/x");
    gtk_button_clicked(GTK_BUTTON(detect));
    ASSERT_TRUE(shell_pump_until([&] { return gtk_widget_get_sensitive(detect); }, 10000));
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "No Dravlen port answers.");
    EXPECT_EQ(entry_of(w, "entry_connection_settings_device_port"), "/dev/x");
}

TEST_F(SettingsTest, DetectAlsoTriesThePortTypedInAndTheConfiguredOne)
{
    // Two boards on ptys that no probe pattern covers.
    GtkWidget *w = window_connection_settings;
    sim_process typed{}, configured{};
    ASSERT_TRUE(sim_start(&typed, {"--version", "2.4.1"}));
    ASSERT_TRUE(sim_start(&configured, {}));
    options_set_string(&options_device_port_string, configured.port.c_str());
    open_from_menu("menuitem_connection");
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_connection_settings_device_port")),
                       typed.port.c_str());
    GtkWidget *detect = find(w, "button_connection_settings_detect");
    gtk_button_clicked(GTK_BUTTON(detect));
    ASSERT_TRUE(shell_pump_until([&] { return gtk_widget_get_sensitive(detect); }, 10000));
    EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(find(w, "label_connection_settings_found")))),
              "Dravlen ports found:\n" + typed.port + " (v2.4.1)\n" + configured.port + " (v2.4.0)");
    EXPECT_EQ(entry_of(w, "entry_connection_settings_device_port"), typed.port);
    sim_stop(&typed);
    sim_stop(&configured);
    gtk_widget_hide(w);
}

TEST_F(SettingsTest, EmptyDevicePortIsKeptAndDeviceJobsRefuseIt)
{
    GtkWidget *w = window_connection_settings;
    on_menuitem_connection_activate(nullptr, nullptr);
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_connection_settings_device_port")), "");
    gtk_button_clicked(GTK_BUTTON(find(w, "button_connection_settings_ok")));
    pump();
    EXPECT_STREQ(options_device_port_string, "");
    on_menuitem_initialize_activate(nullptr, nullptr);
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
}

// --------------------------------------------------------- typing filter

TEST_F(SettingsTest, TypingFilterUppercasesAndRejectsWholeInsertions)
{
    GtkWidget *w = window_format_parameters;
    on_menuitem_format_parameters_activate(nullptr, nullptr);
    const char *name = "entry_format_parameters_disk_name";
    gtk_entry_set_text(GTK_ENTRY(find(w, name)), "");

    type_into(w, name, "a");
    EXPECT_EQ(entry_of(w, name), "A");
    type_into(w, name, ",");
    EXPECT_EQ(entry_of(w, name), "A");
    type_into(w, name, "bc,de");  // a paste holding one bad character
    EXPECT_EQ(entry_of(w, name), "A");
    type_into(w, name, "b 9z");
    EXPECT_EQ(entry_of(w, name), "AB 9Z");

    for (const char *bad : {"\xc3\xa9", "\t", "x\ny", "*", "\"", "?", ":", "-"}) {
        type_into(w, name, bad);
        EXPECT_EQ(entry_of(w, name), "AB 9Z") << "inserted: " << bad;
    }

    // Inserting in the middle keeps the position and moves the cursor past it.
    gtk_entry_set_text(GTK_ENTRY(find(w, name)), "AC");
    gint position = 1;
    gtk_editable_insert_text(GTK_EDITABLE(find(w, name)), "b", 1, &position);
    EXPECT_EQ(entry_of(w, name), "ABC");
    EXPECT_EQ(position, 2);
}

TEST_F(SettingsTest, TypingFilterLengthLimits)
{
    GtkWidget *w = window_format_parameters;
    on_menuitem_format_parameters_activate(nullptr, nullptr);
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_format_parameters_disk_name")), "");
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_format_parameters_disk_id")), "");

    type_into(w, "entry_format_parameters_disk_name", "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(entry_of(w, "entry_format_parameters_disk_name"), "ABCDEFGHIJKLMNOP");
    type_into(w, "entry_format_parameters_disk_id", "x1y");
    EXPECT_EQ(entry_of(w, "entry_format_parameters_disk_id"), "X1");
}

TEST_F(SettingsTest, FormatWindowOpensWithFilteredOptions)
{
    GtkWidget *w = window_format_parameters;
    // A value from a hand-edited file that the filter refuses shows as empty;
    // a lower-case one shows upper-cased.
    options_set_string(&options_disk_name_string, "bad,name");
    options_set_string(&options_disk_id_string, "ab");
    on_menuitem_format_parameters_activate(nullptr, nullptr);
    EXPECT_EQ(entry_of(w, "entry_format_parameters_disk_name"), "");
    EXPECT_EQ(entry_of(w, "entry_format_parameters_disk_id"), "AB");

    // Opening again with a valid name replaces the previous text.
    options_set_string(&options_disk_name_string, "games 1");
    on_menuitem_format_parameters_activate(nullptr, nullptr);
    EXPECT_EQ(entry_of(w, "entry_format_parameters_disk_name"), "GAMES 1");
}

TEST_F(SettingsTest, FormatOkSavesNameAndIdWithoutCommandCharacters)
{
    GtkWidget *w = window_format_parameters;
    GKeyFile *before = snapshot();
    open_from_menu("menuitem_format_parameters");
    ASSERT_TRUE(GTK_WIDGET_VISIBLE(w));

    // Text that got past the filter still cannot break the format command.
    GtkWidget *name = find(w, "entry_format_parameters_disk_name");
    g_signal_handlers_block_by_func(name, (gpointer)on_entry_format_parameters_disk_name_insert_text,
                                    nullptr);
    gtk_entry_set_text(GTK_ENTRY(name), "A,B:C*D?E\"F");
    g_signal_handlers_unblock_by_func(name,
                                      (gpointer)on_entry_format_parameters_disk_name_insert_text,
                                      nullptr);
    gtk_entry_set_text(GTK_ENTRY(find(w, "entry_format_parameters_disk_id")), "");
    type_into(w, "entry_format_parameters_disk_id", "7x");
    gtk_button_clicked(GTK_BUTTON(find(w, "button_format_parameters_ok")));
    pump();

    EXPECT_FALSE(GTK_WIDGET_VISIBLE(w));
    EXPECT_STREQ(options_disk_name_string, "A B C D E F");
    EXPECT_STREQ(options_disk_id_string, "7X");
    expect_saved_changes(before, {{"format", "disk_name", "A B C D E F"},
                                  {"format", "disk_id", "7X"}});
}

// --------------------------------------------------- application settings

struct app_check {
    const char *widget;
    int *option;
    const char *group;
    const char *key;
};

const app_check app_checks[] = {
    {"checkbutton_application_settings_append_disk_name", &options_append_disk_name, "outputs",
     "append_disk_name"},
    {"checkbutton_application_settings_confirm_overwrite", &options_confirm_overwrite, "outputs",
     "confirm_overwrite"},
    {"checkbutton_application_settings_show_notifications_tracks_beyond_35",
     &options_notify_tracks_beyond_35, "notifications", "notify_tracks_beyond_35"},
    {"checkbutton_application_settings_show_notifications_side_b_1571",
     &options_notify_side_b_1571, "notifications", "notify_side_b_1571"},
    {"checkbutton_application_settings_retry_sectors_once_per_pass",
     &options_retry_sectors_once_per_pass, "retries", "retry_sectors_once_per_pass"},
    {"checkbutton_application_settings_include_scr_files", &options_include_scr_files, "misc",
     "include_scr_files"},
    {"checkbutton_application_settings_double_png_dimensions", &options_double_png_dimensions,
     "misc", "double_png_dimensions"},
    {"checkbutton_application_settings_create_md5_digest", &options_create_md5_digest, "misc",
     "create_md5_digest"},
    {"checkbutton_application_settings_verify_after_restore", &options_verify_after_restore,
     "misc", "verify_after_restore"},
};

struct app_radio {
    const char *true_widget;
    const char *false_widget;
    int *option;
    const char *key;
};

const app_radio app_radios[] = {
    {"radiobutton_application_settings_file_extensions_uppercase",
     "radiobutton_application_settings_file_extensions_lowercase",
     &options_file_extensions_uppercase, "file_extensions_uppercase"},
    {"radiobutton_application_settings_side_letters_uppercase",
     "radiobutton_application_settings_side_letters_lowercase", &options_side_letters_uppercase,
     "side_letters_uppercase"},
    {"radiobutton_application_settings_special_flags_before_offset",
     "radiobutton_application_settings_special_flags_after_offset",
     &options_special_flags_before_offset, "special_flags_before_offset"},
};

bool active(GtkWidget *w, const char *name)
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(find(w, name)));
}

TEST_F(SettingsTest, ApplicationWindowShowsEveryOptionBothWays)
{
    GtkWidget *w = window_application_settings;
    for (int value : {1, 0}) {
        // The focus goes back to OK on every opening.
        gtk_widget_grab_focus(find(w, "checkbutton_application_settings_create_md5_digest"));
        // Alternate the pattern so a control wired to the wrong option shows up.
        int i = 0;
        for (const app_check &c : app_checks)
            *c.option = (i++ % 2) ? !value : value;
        for (const app_radio &r : app_radios)
            *r.option = (i++ % 2) ? !value : value;
        on_menuitem_application_settings_activate(nullptr, nullptr);
        for (const app_check &c : app_checks)
            EXPECT_EQ(active(w, c.widget), *c.option != 0) << c.widget;
        for (const app_radio &r : app_radios) {
            EXPECT_EQ(active(w, r.true_widget), *r.option != 0) << r.true_widget;
            EXPECT_EQ(active(w, r.false_widget), *r.option == 0) << r.false_widget;
        }
    }
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(w)), find(w, "button_application_settings_ok"));
    // Opening shows the window, not the check box that the 40-track build hides.
    EXPECT_EQ(GTK_WIDGET_VISIBLE(find(
                  w, "checkbutton_application_settings_show_notifications_tracks_beyond_35")),
              TRACKS == 35);
    EXPECT_TRUE(GTK_WIDGET_HAS_DEFAULT(find(w, "button_application_settings_ok")));
}

TEST_F(SettingsTest, ApplicationOkSavesEveryToggle)
{
    GtkWidget *w = window_application_settings;
    GKeyFile *before = snapshot();
    open_from_menu("menuitem_application_settings");
    ASSERT_TRUE(GTK_WIDGET_VISIBLE(w));

    // Flip every control away from its default.
    std::vector<key_value> changes;
    std::vector<int> expected;
    for (const app_check &c : app_checks) {
        bool now = !active(w, c.widget);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(find(w, c.widget)), now);
        changes.push_back({c.group, c.key, now ? "true" : "false"});
        expected.push_back(now);
    }
    for (const app_radio &r : app_radios) {
        bool now = !active(w, r.true_widget);
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(find(w, now ? r.true_widget
                                                                   : r.false_widget)),
                                     TRUE);
        changes.push_back({"outputs", r.key, now ? "true" : "false"});
        expected.push_back(now);
    }
    gtk_button_clicked(GTK_BUTTON(find(w, "button_application_settings_ok")));
    pump();

    EXPECT_FALSE(GTK_WIDGET_VISIBLE(w));
    size_t i = 0;
    for (const app_check &c : app_checks)
        EXPECT_EQ(*c.option != 0, expected[i++] != 0) << c.key;
    for (const app_radio &r : app_radios)
        EXPECT_EQ(*r.option != 0, expected[i++] != 0) << r.key;
    expect_saved_changes(before, changes);
}

// ------------------------------------------------ closing without saving

TEST_F(SettingsTest, EscapeAndCloseHideWithoutSaving)
{
    struct window_case {
        GtkWidget *window;
        std::function<void()> open;
        const char *entry;  // an input to edit, or null
        gchar **option;
    };
    const window_case cases[] = {
        {window_connection_settings, [] { on_menuitem_connection_activate(nullptr, nullptr); },
         "entry_connection_settings_device_port", &options_device_port_string},
        {window_format_parameters, [] { on_menuitem_format_parameters_activate(nullptr, nullptr); },
         "entry_format_parameters_disk_name", &options_disk_name_string},
        {window_application_settings,
         [] { on_menuitem_application_settings_activate(nullptr, nullptr); }, nullptr, nullptr},
    };
    for (const window_case &c : cases) {
        for (bool use_escape : {true, false}) {
            SCOPED_TRACE(gtk_widget_get_name(c.window));
            SCOPED_TRACE(use_escape ? "Escape" : "close button");
            std::string option_before = c.option ? *c.option : "";
            c.open();
            pump();
            ASSERT_TRUE(GTK_WIDGET_VISIBLE(c.window));
            if (c.entry) {
                gtk_entry_set_text(GTK_ENTRY(find(c.window, c.entry)), "");
                type_into(c.window, c.entry, "EDITED");
            } else {
                gtk_toggle_button_set_active(
                    GTK_TOGGLE_BUTTON(find(c.window,
                                           "checkbutton_application_settings_create_md5_digest")),
                    TRUE);
            }

            send_key(c.window, GDK_a);  // other keys leave the window alone
            EXPECT_TRUE(GTK_WIDGET_VISIBLE(c.window));

            if (use_escape)
                send_key(c.window, GDK_Escape);
            else
                send_delete(c.window);
            ASSERT_TRUE(GTK_IS_WINDOW(c.window));  // hidden, not destroyed
            EXPECT_FALSE(GTK_WIDGET_VISIBLE(c.window));
            EXPECT_FALSE(file_written());
            if (c.option) {
                EXPECT_EQ(std::string(*c.option), option_before);
            }
            EXPECT_FALSE(options_create_md5_digest);

            // The edit is gone the next time the window opens.
            c.open();
            if (c.entry)
                EXPECT_NE(entry_of(c.window, c.entry), "EDITED");
            else
                EXPECT_FALSE(active(c.window,
                                    "checkbutton_application_settings_create_md5_digest"));
            gtk_widget_hide(c.window);
        }
    }
}

TEST_F(SettingsTest, SectorContentsHandlersHideTheirWindow)
{
    GtkWidget *w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_signal_connect(w, "delete_event", G_CALLBACK(on_window_sector_contents_delete_event), nullptr);
    g_signal_connect(w, "key_press_event", G_CALLBACK(on_window_sector_contents_key_press_event),
                     nullptr);
    gtk_widget_show(w);
    pump();
    send_key(w, GDK_Escape);
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(w));
    gtk_widget_show(w);
    pump();
    send_delete(w);
    ASSERT_TRUE(GTK_IS_WINDOW(w));
    EXPECT_FALSE(GTK_WIDGET_VISIBLE(w));
    gtk_widget_destroy(w);
}

// ----------------------------------------------------- font and colour dialogs

GtkWidget *open_toplevel_named(const char *name)
{
    GtkWidget *found = nullptr;
    GList *all = gtk_window_list_toplevels();
    for (GList *l = all; l; l = l->next) {
        GtkWidget *w = GTK_WIDGET(l->data);
        if (GTK_WIDGET_VISIBLE(w) && std::string(gtk_widget_get_name(w)) == name)
            found = w;
    }
    g_list_free(all);
    return found;
}

// Plays a list of steps against a modal dialog while it runs: each step waits
// until the dialog is on screen, then acts on it.
struct dialog_script {
    const char *dialog_name;
    std::vector<std::function<void(GtkWidget *)>> steps;
    size_t next = 0;
    int idle_ticks = 0;
    guint source = 0;

    void start();
    ~dialog_script()
    {
        if (source)
            g_source_remove(source);
    }
};

gboolean dialog_script_tick(gpointer data)
{
    auto *s = static_cast<dialog_script *>(data);
    GtkWidget *dialog = open_toplevel_named(s->dialog_name);
    gboolean again = TRUE;
    if (!dialog) {
        again = s->next < s->steps.size() && ++s->idle_ticks < 200;
    } else if (s->next < s->steps.size()) {
        s->steps[s->next++](dialog);
    } else if (++s->idle_ticks > 40) {
        // Out of steps with the dialog still open: close it so the test ends.
        gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_DELETE_EVENT);
        again = FALSE;
    }
    if (!again)
        s->source = 0;
    return again;
}

void dialog_script::start()
{
    source = g_timeout_add(20, dialog_script_tick, this);
}

void click(GtkWidget *dialog, const char *name)
{
    gtk_button_clicked(GTK_BUTTON(lookup_widget(dialog, name)));
}

// Family and size of the log view's font.
std::string log_font()
{
    GtkWidget *log = lookup_widget(window_main, "textview_log");
    const PangoFontDescription *font = gtk_widget_get_style(log)->font_desc;
    return std::string(pango_font_description_get_family(font)) + " " +
           std::to_string(pango_font_description_get_size(font) / PANGO_SCALE);
}

TEST_F(SettingsTest, FontApplySavesAndKeepsDialogOpenCancelKeepsIt)
{
    GKeyFile *before = snapshot();
    int runs_seen = 0;
    dialog_script script{"fontselectiondialog_select_font", {}};
    script.steps = {
        [&](GtkWidget *d) {
            // Preselected from the option.
            gchar *font = gtk_font_selection_dialog_get_font_name(GTK_FONT_SELECTION_DIALOG(d));
            EXPECT_STREQ(font, "Monospace 10");
            g_free(font);
            gtk_font_selection_dialog_set_font_name(GTK_FONT_SELECTION_DIALOG(d), "Sans 14");
            click(d, "button_select_font_apply");
        },
        [&](GtkWidget *) {
            // Still open after Apply, with the option already saved.
            runs_seen++;
            EXPECT_STREQ(options_font_description_string, "Sans 14");
            EXPECT_EQ(log_font(), "Sans 14");
            EXPECT_TRUE(file_written());
        },
        [&](GtkWidget *d) {
            gtk_font_selection_dialog_set_font_name(GTK_FONT_SELECTION_DIALOG(d), "Serif 8");
            click(d, "button_select_font_cancel");
        },
    };
    script.start();
    on_menuitem_fonts_activate(nullptr, nullptr);

    EXPECT_EQ(runs_seen, 1);
    EXPECT_EQ(script.next, script.steps.size());
    EXPECT_EQ(open_toplevel_named("fontselectiondialog_select_font"), nullptr);
    EXPECT_STREQ(options_font_description_string, "Sans 14");
    EXPECT_EQ(log_font(), "Sans 14");
    expect_saved_changes(before, {{"interface", "font_description", "Sans 14"}});
}

TEST_F(SettingsTest, FontOkSavesAndCloses)
{
    dialog_script script{"fontselectiondialog_select_font", {}};
    script.steps = {[](GtkWidget *d) {
        gtk_font_selection_dialog_set_font_name(GTK_FONT_SELECTION_DIALOG(d), "Monospace 12");
        click(d, "button_select_font_ok");
    }};
    script.start();
    open_from_menu("menuitem_fonts");
    EXPECT_EQ(open_toplevel_named("fontselectiondialog_select_font"), nullptr);
    EXPECT_STREQ(options_font_description_string, "Monospace 12");
    EXPECT_EQ(log_font(), "Monospace 12");
    EXPECT_TRUE(file_written());
}

TEST_F(SettingsTest, ColourOkStoresAndSavesOtherAnswersChangeNothing)
{
    options_sector_da_bg_color = {0x1000, 0x2000, 0x3000};
    GKeyFile *before = snapshot();
    GdkColor chosen = {0, 0xffff, 0x8000, 0x0000};

    for (const char *button : {"button_colorselection_cancel", "button_colorselection_help"}) {
        dialog_script script{"dialog_colorselection", {}};
        script.steps = {[&](GtkWidget *d) {
            GtkColorSelection *sel = GTK_COLOR_SELECTION(lookup_widget(d, "colorselection"));
            gtk_color_selection_set_current_color(sel, &chosen);
            click(d, button);
        }};
        script.start();
        EXPECT_EQ(get_user_color_selection(), 0) << button;
        EXPECT_EQ(options_sector_da_bg_color.red, 0x1000);
        EXPECT_FALSE(file_written());
    }

    dialog_script script{"dialog_colorselection", {}};
    script.steps = {[&](GtkWidget *d) {
        GtkColorSelection *sel = GTK_COLOR_SELECTION(lookup_widget(d, "colorselection"));
        GdkColor previous, current;
        gtk_color_selection_get_previous_color(sel, &previous);
        gtk_color_selection_get_current_color(sel, &current);
        EXPECT_EQ(previous.green, 0x2000);
        EXPECT_EQ(current.blue, 0x3000);
        gtk_color_selection_set_current_color(sel, &chosen);
        click(d, "button_colorselection_ok");
    }};
    script.start();
    EXPECT_EQ(get_user_color_selection(), 1);
    EXPECT_EQ(open_toplevel_named("dialog_colorselection"), nullptr);
    EXPECT_EQ(options_sector_da_bg_color.red, 0xffff);
    EXPECT_EQ(options_sector_da_bg_color.green, 0x8000);
    EXPECT_EQ(options_sector_da_bg_color.blue, 0x0000);
    expect_saved_changes(before, {{"colors", "sector_da_bg_color_red", "65535"},
                                  {"colors", "sector_da_bg_color_green", "32768"},
                                  {"colors", "sector_da_bg_color_blue", "0"}});
}

}  // namespace
