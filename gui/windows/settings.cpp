// Settings windows and the font and colour dialogs.  The windows hold no state
// of their own: the options are copied into the controls when a window opens
// and back when OK is pressed.
#include "gui/windows/settings.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gdk/gdkkeysyms.h>
#include <glib/gi18n.h>

#include "engine/options.h"
#include "device/detect.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

// Stock icon plus mnemonic label, as every settings window's OK button has.
GtkWidget *settings_ok_button_new(GtkWidget *toplevel, const char *name)
{
    GtkWidget *button = gtk_button_new();
    GtkWidget *alignment = gtk_alignment_new(0.5, 0.5, 0, 0);
    GtkWidget *hbox = gtk_hbox_new(FALSE, 2);
    GtkWidget *image = gtk_image_new_from_stock("gtk-ok", GTK_ICON_SIZE_BUTTON);
    GtkWidget *label = gtk_label_new_with_mnemonic(_("OK"));
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), button);
    gtk_container_add(GTK_CONTAINER(button), alignment);
    gtk_container_add(GTK_CONTAINER(alignment), hbox);
    gtk_box_pack_start(GTK_BOX(hbox), image, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(hbox), label, FALSE, FALSE, 0);
    GTK_WIDGET_SET_FLAGS(button, GTK_CAN_DEFAULT);
    widgets_register(toplevel, button, name);
    return button;
}

GtkWidget *settings_window_new(const char *name, const char *title)
{
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title);
    gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(window_main));
    widgets_register(window, window, name);
    return window;
}

// One "Label: [entry]" row of a two-column table.
GtkWidget *settings_entry_row(GtkWidget *toplevel, GtkWidget *table, int row,
                              const char *label_text, const char *entry_name,
                              const char *tooltip)
{
    GtkWidget *label = gtk_label_new(label_text);
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    gtk_table_attach(GTK_TABLE(table), label, 0, 1, row, row + 1, GTK_FILL, GTK_FILL, 0, 0);
    GtkWidget *entry = gtk_entry_new();
    gtk_widget_set_tooltip_text(entry, tooltip);
    gtk_table_attach(GTK_TABLE(table), entry, 1, 2, row, row + 1,
                     (GtkAttachOptions)(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
    widgets_register(toplevel, entry, entry_name);
    return entry;
}

// Body of a settings window: the inputs, then a button box holding OK.
GtkWidget *settings_window_body(GtkWidget *window, GtkWidget *inputs, GtkWidget *ok_button)
{
    GtkWidget *vbox = gtk_vbox_new(FALSE, 4);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 6);
    gtk_container_add(GTK_CONTAINER(window), vbox);
    gtk_box_pack_start(GTK_BOX(vbox), inputs, TRUE, TRUE, 0);
    GtkWidget *bbox = gtk_hbutton_box_new();
    gtk_button_box_set_layout(GTK_BUTTON_BOX(bbox), GTK_BUTTONBOX_END);
    gtk_box_pack_start(GTK_BOX(vbox), bbox, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(bbox), ok_button);
    return vbox;
}

void settings_connect_hide_handlers(GtkWidget *window, GCallback delete_handler,
                                    GCallback key_handler)
{
    g_signal_connect(window, "delete_event", delete_handler, NULL);
    g_signal_connect(window, "key_press_event", key_handler, NULL);
}

gboolean hide_on_delete(GtkWidget *widget)
{
    gtk_widget_hide(widget);
    return TRUE;
}

gboolean hide_on_escape(GtkWidget *widget, GdkEventKey *event)
{
    if (event->keyval != GDK_Escape)
        return FALSE;
    gtk_widget_hide(widget);
    return TRUE;
}

const char *entry_text(GtkWidget *toplevel, const char *name)
{
    GtkWidget *entry = lookup_widget(toplevel, name);
    return entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : "";
}

void toggle_set(GtkWidget *toplevel, const char *name, gboolean active)
{
    GtkWidget *widget = lookup_widget(toplevel, name);
    if (widget)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), active);
}

gboolean toggle_get(GtkWidget *toplevel, const char *name)
{
    GtkWidget *widget = lookup_widget(toplevel, name);
    return widget && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget));
}

// A radio pair: the first button stands for the option being true.
void radio_pair_set(GtkWidget *toplevel, const char *true_name, const char *false_name,
                    gboolean value)
{
    toggle_set(toplevel, value ? true_name : false_name, TRUE);
}

// Frame with a markup title, holding a vbox that the caller fills.
GtkWidget *settings_frame(GtkWidget *table, const char *title, guint left, guint top,
                          guint bottom)
{
    GtkWidget *frame = gtk_frame_new(NULL);
    gtk_container_set_border_width(GTK_CONTAINER(frame), 2);
    GtkWidget *label = gtk_label_new(NULL);
    gtk_label_set_markup(GTK_LABEL(label), title);
    gtk_frame_set_label_widget(GTK_FRAME(frame), label);
    gtk_table_attach(GTK_TABLE(table), frame, left, left + 1, top, bottom,
                     GTK_FILL, GTK_FILL, 0, 0);
    GtkWidget *vbox = gtk_vbox_new(FALSE, 0);
    gtk_container_set_border_width(GTK_CONTAINER(vbox), 4);
    gtk_container_add(GTK_CONTAINER(frame), vbox);
    return vbox;
}

GtkWidget *settings_check(GtkWidget *toplevel, GtkWidget *box, const char *label,
                          const char *name, const char *tooltip)
{
    GtkWidget *check = gtk_check_button_new_with_mnemonic(label);
    gtk_widget_set_tooltip_text(check, tooltip);
    gtk_box_pack_start(GTK_BOX(box), check, FALSE, FALSE, 0);
    widgets_register(toplevel, check, name);
    return check;
}

// "Caption: " followed by a radio pair on one row.
void settings_radio_row(GtkWidget *toplevel, GtkWidget *box, GtkSizeGroup *captions,
                        const char *caption, const char *label_true, const char *name_true,
                        const char *label_false, const char *name_false)
{
    GtkWidget *hbox = gtk_hbox_new(FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), hbox, FALSE, FALSE, 0);
    GtkWidget *label = gtk_label_new(caption);
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    gtk_size_group_add_widget(captions, label);  // lines the radio pairs up
    gtk_box_pack_start(GTK_BOX(hbox), label, FALSE, FALSE, 0);
    GtkWidget *first = gtk_radio_button_new_with_mnemonic(NULL, label_true);
    GtkWidget *second = gtk_radio_button_new_with_mnemonic_from_widget(
        GTK_RADIO_BUTTON(first), label_false);
    gtk_box_pack_start(GTK_BOX(hbox), first, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(hbox), second, FALSE, FALSE, 0);
    widgets_register(toplevel, first, name_true);
    widgets_register(toplevel, second, name_false);
}

}  // namespace

// ---------------------------------------------------------------- connection

GtkWidget *create_window_connection_settings(void)
{
    GtkWidget *window = settings_window_new("window_connection_settings",
                                            _("Connection settings"));
    GtkWidget *table = gtk_table_new(2, 2, FALSE);
    gtk_table_set_row_spacings(GTK_TABLE(table), 4);
    gtk_table_set_col_spacings(GTK_TABLE(table), 4);
    settings_entry_row(window, table, 0, _("Device port: "),
                       "entry_connection_settings_device_port",
                       _("USB serial port for connecting to the Dravlen firmware"));
    settings_entry_row(window, table, 1, _("Bootloader port: "),
                       "entry_connection_settings_bootloader_port",
                       _("USB serial port for connecting to the AVR bootloader"));
    GtkWidget *found = gtk_label_new(nullptr);
    gtk_misc_set_alignment(GTK_MISC(found), 0, 0.5);
    gtk_label_set_selectable(GTK_LABEL(found), TRUE);
    gtk_table_attach(GTK_TABLE(table), found, 0, 2, 2, 3, GTK_FILL, GTK_FILL, 0, 0);
    widgets_register(window, found, "label_connection_settings_found");
    GtkWidget *ok = settings_ok_button_new(window, "button_connection_settings_ok");
    settings_window_body(window, table, ok);
    GtkWidget *detect = gtk_button_new_with_mnemonic(_("_Detect"));
    gtk_widget_set_tooltip_text(
        detect, _("Look for the Dravlen board on the serial ports that are not in use"));
    widgets_register(window, detect, "button_connection_settings_detect");
    GtkWidget *bbox = gtk_widget_get_parent(ok);
    gtk_container_add(GTK_CONTAINER(bbox), detect);
    gtk_box_reorder_child(GTK_BOX(bbox), detect, 0);
    gtk_button_box_set_child_secondary(GTK_BUTTON_BOX(bbox), detect, TRUE);

    g_signal_connect(ok, "clicked", G_CALLBACK(on_button_connection_settings_ok_clicked), NULL);
    g_signal_connect(detect, "clicked", G_CALLBACK(on_button_connection_settings_detect_clicked),
                     NULL);
    settings_connect_hide_handlers(window,
                                   G_CALLBACK(on_window_connection_settings_delete_event),
                                   G_CALLBACK(on_window_connection_settings_key_press_event));
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(window)));
    gtk_widget_hide(found);
    return window;
}

// ---------------------------------------------------------------- detection

namespace {

struct detection {
    std::vector<detect_port> found;
};

gboolean idle_finish_detection_and_free(gpointer data)
{
    detection *d = static_cast<detection *>(data);
    GtkWidget *window = window_connection_settings;
    GtkWidget *label = lookup_widget(window, "label_connection_settings_found");
    std::string first = detect_first_answered(d->found);
    std::string seen = detect_describe(d->found);
    if (!seen.empty() && seen.back() == '\n')
        seen.pop_back();
    gchar *valid = g_utf8_make_valid(seen.c_str(), -1);
    gchar *text = first.empty() ? g_strdup(_("No Dravlen port answers."))
                                : g_strdup_printf(_("Dravlen ports found:\n%s"), valid);
    gtk_label_set_text(GTK_LABEL(label), text);
    g_free(text);
    g_free(valid);
    if (!first.empty()) {
        gchar *name = g_filename_display_name(first.c_str());
        gtk_entry_set_text(
            GTK_ENTRY(lookup_widget(window, "entry_connection_settings_device_port")), name);
        g_free(name);
    }
    gtk_widget_set_sensitive(lookup_widget(window, "button_connection_settings_detect"), TRUE);
    delete d;
    return FALSE;
}

}  // namespace

void on_button_connection_settings_detect_clicked(GtkButton *button, gpointer)
{
    GtkWidget *window = gtk_widget_get_toplevel(GTK_WIDGET(button));
    GtkWidget *label = lookup_widget(window, "label_connection_settings_found");
    gtk_label_set_text(GTK_LABEL(label), _("Looking for Dravlen ports..."));
    gtk_widget_show(label);
    gtk_widget_set_sensitive(GTK_WIDGET(button), FALSE);
    // The port typed in and the one configured are tried too: a board may
    // sit on a name no probe pattern covers.
    std::vector<std::string> named = {
        gtk_entry_get_text(GTK_ENTRY(lookup_widget(window, "entry_connection_settings_device_port"))),
        options_device_port_string ? options_device_port_string : ""};
    // Probing waits for each port to answer; the window stays live meanwhile.
    std::thread([named] {
        detection *d = new detection;
        d->found = detect_scan_also(named, 1500, nullptr);
        g_idle_add(idle_finish_detection_and_free, d);
    }).detach();
}

void on_menuitem_connection_activate(GtkMenuItem *, gpointer)
{
    GtkWidget *window = window_connection_settings;
    if (!window)
        return;
    gtk_entry_set_text(GTK_ENTRY(lookup_widget(window, "entry_connection_settings_device_port")),
                       options_device_port_string ? options_device_port_string : "");
    gtk_entry_set_text(GTK_ENTRY(lookup_widget(window, "entry_connection_settings_bootloader_port")),
                       options_bootloader_port_string ? options_bootloader_port_string : "");
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
}

void on_button_connection_settings_ok_clicked(GtkButton *button, gpointer)
{
    GtkWidget *window = gtk_widget_get_toplevel(GTK_WIDGET(button));
    // Empty ports are kept: device operations refuse them with their own message.
    options_set_string(&options_device_port_string,
                       entry_text(window, "entry_connection_settings_device_port"));
    options_set_string(&options_bootloader_port_string,
                       entry_text(window, "entry_connection_settings_bootloader_port"));
    gtk_widget_hide(window);
    options_save_to_file();
}

gboolean on_window_connection_settings_delete_event(GtkWidget *widget, GdkEvent *, gpointer)
{
    return hide_on_delete(widget);
}

gboolean on_window_connection_settings_key_press_event(GtkWidget *widget, GdkEventKey *event,
                                                       gpointer)
{
    return hide_on_escape(widget, event);
}

// ---------------------------------------------------------- format parameters

void force_entry_text_to_alphanum_uppercase(GtkEditable *editable, const gchar *new_text,
                                            gint new_text_length, gint *position,
                                            gpointer handler)
{
    gsize length = new_text_length < 0 ? strlen(new_text) : (gsize)new_text_length;
    // Only the space counts as white space here: tabs and line breaks would
    // end up in the options file and in the drive's format command.
    for (gsize i = 0; i < length; i++) {
        unsigned char c = (unsigned char)new_text[i];
        if (!(g_ascii_isalnum(c) || c == ' ')) {
            g_signal_stop_emission_by_name(editable, "insert_text");
            return;
        }
    }
    gchar *upper = g_ascii_strup(new_text, (gssize)length);
    g_signal_handlers_block_by_func(editable, handler, NULL);
    gtk_editable_insert_text(editable, upper, (gint)length, position);
    g_signal_handlers_unblock_by_func(editable, handler, NULL);
    g_signal_stop_emission_by_name(editable, "insert_text");
    g_free(upper);
}

void on_entry_format_parameters_disk_name_insert_text(GtkEditable *editable, gchar *new_text,
                                                      gint new_text_length, gint *position,
                                                      gpointer)
{
    force_entry_text_to_alphanum_uppercase(
        editable, new_text, new_text_length, position,
        (gpointer)on_entry_format_parameters_disk_name_insert_text);
}

void on_entry_format_parameters_disk_id_insert_text(GtkEditable *editable, gchar *new_text,
                                                    gint new_text_length, gint *position,
                                                    gpointer)
{
    force_entry_text_to_alphanum_uppercase(
        editable, new_text, new_text_length, position,
        (gpointer)on_entry_format_parameters_disk_id_insert_text);
}

GtkWidget *create_window_format_parameters(void)
{
    GtkWidget *window = settings_window_new("window_format_parameters", _("Format parameters"));
    GtkWidget *table = gtk_table_new(2, 2, FALSE);
    gtk_table_set_row_spacings(GTK_TABLE(table), 4);
    gtk_table_set_col_spacings(GTK_TABLE(table), 4);
    GtkWidget *name = settings_entry_row(window, table, 0, _("Disk name: "),
                                         "entry_format_parameters_disk_name",
                                         _("Name to use when formatting disks"));
    GtkWidget *id = settings_entry_row(window, table, 1, _("Disk ID: "),
                                       "entry_format_parameters_disk_id",
                                       _("ID to use when formatting disks"));
    gtk_entry_set_max_length(GTK_ENTRY(name), 16);
    gtk_entry_set_max_length(GTK_ENTRY(id), 2);
    GtkWidget *ok = settings_ok_button_new(window, "button_format_parameters_ok");
    settings_window_body(window, table, ok);

    g_signal_connect(name, "insert_text",
                     G_CALLBACK(on_entry_format_parameters_disk_name_insert_text), NULL);
    g_signal_connect(id, "insert_text",
                     G_CALLBACK(on_entry_format_parameters_disk_id_insert_text), NULL);
    g_signal_connect(ok, "clicked", G_CALLBACK(on_button_format_parameters_ok_clicked), NULL);
    settings_connect_hide_handlers(window,
                                   G_CALLBACK(on_window_format_parameters_delete_event),
                                   G_CALLBACK(on_window_format_parameters_key_press_event));
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(window)));
    return window;
}

void on_menuitem_format_parameters_activate(GtkMenuItem *, gpointer)
{
    GtkWidget *window = window_format_parameters;
    if (!window)
        return;
    // Cleared first: set_text skips the insertion when the text is unchanged,
    // and a value the filter refuses must show as an empty entry.
    GtkEntry *name = GTK_ENTRY(lookup_widget(window, "entry_format_parameters_disk_name"));
    GtkEntry *id = GTK_ENTRY(lookup_widget(window, "entry_format_parameters_disk_id"));
    gtk_entry_set_text(name, "");
    gtk_entry_set_text(name, options_disk_name_string ? options_disk_name_string : "");
    gtk_entry_set_text(id, "");
    gtk_entry_set_text(id, options_disk_id_string ? options_disk_id_string : "");
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
}

void on_button_format_parameters_ok_clicked(GtkButton *button, gpointer)
{
    GtkWidget *window = gtk_widget_get_toplevel(GTK_WIDGET(button));
    gchar *name = g_strdup(entry_text(window, "entry_format_parameters_disk_name"));
    gchar *id = g_strdup(entry_text(window, "entry_format_parameters_disk_id"));
    options_blank_format_text(name);
    options_blank_format_text(id);
    options_set_string(&options_disk_name_string, name);
    options_set_string(&options_disk_id_string, id);
    g_free(name);
    g_free(id);
    gtk_widget_hide(window);
    options_save_to_file();
}

gboolean on_window_format_parameters_delete_event(GtkWidget *widget, GdkEvent *, gpointer)
{
    return hide_on_delete(widget);
}

gboolean on_window_format_parameters_key_press_event(GtkWidget *widget, GdkEventKey *event,
                                                     gpointer)
{
    return hide_on_escape(widget, event);
}

// ------------------------------------------------------- application settings

GtkWidget *create_window_application_settings(void)
{
    GtkWidget *w = settings_window_new("window_application_settings",
                                       _("Application settings"));
    GtkWidget *table = gtk_table_new(3, 2, FALSE);
    gtk_table_set_col_spacings(GTK_TABLE(table), 4);

    GtkWidget *files = settings_frame(table, _("<b>File generation and naming</b>"), 0, 0, 3);
    GtkSizeGroup *captions = gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL);
    settings_radio_row(w, files, captions, _("File extensions: "),
                       _("D64/PRG (uppercase)"),
                       "radiobutton_application_settings_file_extensions_uppercase",
                       _("d64/prg (lowercase)"),
                       "radiobutton_application_settings_file_extensions_lowercase");
    settings_radio_row(w, files, captions, _("Disk side letters: "),
                       _("A/B (uppercase)"),
                       "radiobutton_application_settings_side_letters_uppercase",
                       _("a/b (lowercase)"),
                       "radiobutton_application_settings_side_letters_lowercase");
    settings_radio_row(w, files, captions, _("Special flags: "),
                       _("before disk offset"),
                       "radiobutton_application_settings_special_flags_before_offset",
                       _("after disk offset"),
                       "radiobutton_application_settings_special_flags_after_offset");
    g_object_unref(captions);  // the labels keep it alive
    settings_check(w, files, _("Append disk name to image name"),
                   "checkbutton_application_settings_append_disk_name",
                   _("When auto naming is enabled, select whether or not the disk name should "
                     "be appended to the image name"));
    settings_check(w, files, _("Confirm disk image overwrites"),
                   "checkbutton_application_settings_confirm_overwrite",
                   _("When auto naming is enabled, select whether or not the user is prompted "
                     "to overwrite existing disk images"));

    GtkWidget *notify = settings_frame(table, _("<b>Show notifications</b>"), 1, 0, 1);
    settings_check(w, notify, _("If tracks beyond 35 appear to be in use"),
                   "checkbutton_application_settings_show_notifications_tracks_beyond_35",
                   _("Select whether or not to show a notification when extra data appears in "
                     "the BAM block after the disk ID"));
    settings_check(w, notify, _("If side B of a 1571 disk is detected"),
                   "checkbutton_application_settings_show_notifications_side_b_1571",
                   _("Select whether or not to show a notification when a disk image appears "
                     "to be side B of a 1571 disk"));

    GtkWidget *retries = settings_frame(table, _("<b>Retries</b>"), 1, 1, 2);
    settings_check(w, retries, _("Retry sectors once per pass"),
                   "checkbutton_application_settings_retry_sectors_once_per_pass",
                   _("Select whether to retry a sector once per pass or exhaust all retries "
                     "for a single sector before retrying the next one"));

    GtkWidget *misc = settings_frame(table, _("<b>Miscellaneous</b>"), 1, 2, 3);
    settings_check(w, misc, _("Include SCR files in generated directory "),
                   "checkbutton_application_settings_include_scr_files",
                   _("Select whether or not to include SCRatched files in the directory "
                     "listing of D64 files"));
    settings_check(w, misc, _("Double size of PNG directory listing"),
                   "checkbutton_application_settings_double_png_dimensions",
                   _("Select whether to double the image size when exporting the directory "
                     "listing to PNG"));
    settings_check(w, misc, _("Create MD5 digest files"),
                   "checkbutton_application_settings_create_md5_digest",
                   _("Select whether to also create MD5 digest files when saving disk images"));
    settings_check(w, misc, _("Verify after restore"),
                   "checkbutton_application_settings_verify_after_restore",
                   _("Select whether to read the disk back after a restore and compare every "
                     "sector with the image"));

    GtkWidget *ok = settings_ok_button_new(w, "button_application_settings_ok");
    settings_window_body(w, table, ok);
    gtk_widget_grab_default(ok);
    gtk_widget_grab_focus(ok);

    g_signal_connect(ok, "clicked", G_CALLBACK(on_button_application_settings_ok_clicked), NULL);
    settings_connect_hide_handlers(w, G_CALLBACK(on_window_application_settings_delete_event),
                                   G_CALLBACK(on_window_application_settings_key_press_event));
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(w)));
    return w;
}

namespace {

struct app_toggle {
    const char *name;
    int *option;
};

// Check buttons and the option each one stands for.
const app_toggle app_checks[] = {
    {"checkbutton_application_settings_append_disk_name", &options_append_disk_name},
    {"checkbutton_application_settings_confirm_overwrite", &options_confirm_overwrite},
    {"checkbutton_application_settings_show_notifications_tracks_beyond_35",
     &options_notify_tracks_beyond_35},
    {"checkbutton_application_settings_show_notifications_side_b_1571",
     &options_notify_side_b_1571},
    {"checkbutton_application_settings_retry_sectors_once_per_pass",
     &options_retry_sectors_once_per_pass},
    {"checkbutton_application_settings_include_scr_files", &options_include_scr_files},
    {"checkbutton_application_settings_double_png_dimensions", &options_double_png_dimensions},
    {"checkbutton_application_settings_create_md5_digest", &options_create_md5_digest},
    {"checkbutton_application_settings_verify_after_restore", &options_verify_after_restore},
};

// Radio pairs: the option is true exactly when the first button is active.
struct app_radio {
    const char *name_true;
    const char *name_false;
    int *option;
};

const app_radio app_radios[] = {
    {"radiobutton_application_settings_file_extensions_uppercase",
     "radiobutton_application_settings_file_extensions_lowercase",
     &options_file_extensions_uppercase},
    {"radiobutton_application_settings_side_letters_uppercase",
     "radiobutton_application_settings_side_letters_lowercase", &options_side_letters_uppercase},
    {"radiobutton_application_settings_special_flags_before_offset",
     "radiobutton_application_settings_special_flags_after_offset",
     &options_special_flags_before_offset},
};

}  // namespace

void on_menuitem_application_settings_activate(GtkMenuItem *, gpointer)
{
    GtkWidget *window = window_application_settings;
    if (!window)
        return;
    for (const app_radio &r : app_radios)
        radio_pair_set(window, r.name_true, r.name_false, *r.option);
    for (const app_toggle &c : app_checks)
        toggle_set(window, c.name, *c.option);
    GtkWidget *ok = lookup_widget(window, "button_application_settings_ok");
    if (ok)
        gtk_widget_grab_focus(ok);
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
}

void on_button_application_settings_ok_clicked(GtkButton *button, gpointer)
{
    GtkWidget *window = gtk_widget_get_toplevel(GTK_WIDGET(button));
    for (const app_radio &r : app_radios)
        *r.option = toggle_get(window, r.name_true);
    for (const app_toggle &c : app_checks)
        *c.option = toggle_get(window, c.name);
    gtk_widget_hide(window);
    options_save_to_file();
}

gboolean on_window_application_settings_delete_event(GtkWidget *widget, GdkEvent *, gpointer)
{
    return hide_on_delete(widget);
}

gboolean on_window_application_settings_key_press_event(GtkWidget *widget, GdkEventKey *event,
                                                        gpointer)
{
    return hide_on_escape(widget, event);
}

// The sector contents window is reused the same way.
gboolean on_window_sector_contents_delete_event(GtkWidget *widget, GdkEvent *, gpointer)
{
    return hide_on_delete(widget);
}

gboolean on_window_sector_contents_key_press_event(GtkWidget *widget, GdkEventKey *event,
                                                   gpointer)
{
    return hide_on_escape(widget, event);
}

// ------------------------------------------------------------------ font dialog

GtkWidget *create_fontselectiondialog_select_font(void)
{
    GtkWidget *dialog = gtk_font_selection_dialog_new(_("Select Font"));
    gtk_container_set_border_width(GTK_CONTAINER(dialog), 4);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
    GtkFontSelectionDialog *fsd = GTK_FONT_SELECTION_DIALOG(dialog);
    GtkWidget *apply = gtk_font_selection_dialog_get_apply_button(fsd);
    gtk_widget_show(apply);
    widgets_register(dialog, dialog, "fontselectiondialog_select_font");
    widgets_register(dialog, gtk_font_selection_dialog_get_ok_button(fsd), "button_select_font_ok");
    widgets_register(dialog, gtk_font_selection_dialog_get_cancel_button(fsd),
                     "button_select_font_cancel");
    widgets_register(dialog, apply, "button_select_font_apply");
    widgets_register(dialog, gtk_font_selection_dialog_get_font_selection(fsd),
                     "fontselection_select_font");
    return dialog;
}

void on_menuitem_fonts_activate(GtkMenuItem *, gpointer)
{
    GtkWidget *dialog = create_fontselectiondialog_select_font();
    GtkFontSelectionDialog *fsd = GTK_FONT_SELECTION_DIALOG(dialog);
    if (options_font_description_string)
        gtk_font_selection_dialog_set_font_name(fsd, options_font_description_string);
    for (;;) {
        gint response = gtk_dialog_run(GTK_DIALOG(dialog));
        if (response != GTK_RESPONSE_OK && response != GTK_RESPONSE_APPLY)
            break;
        gchar *font = gtk_font_selection_dialog_get_font_name(fsd);
        if (font) {
            options_set_string(&options_font_description_string, font);
            g_free(font);
            window_main_set_textview_fonts();
            options_save_to_file();
        }
        if (response == GTK_RESPONSE_OK)
            break;
    }
    gtk_widget_destroy(dialog);
}

// ---------------------------------------------------------------- colour dialog

GtkWidget *create_dialog_colorselection(void)
{
    GtkWidget *dialog = gtk_color_selection_dialog_new(_("Select color"));
    gtk_container_set_border_width(GTK_CONTAINER(dialog), 4);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
    GtkColorSelectionDialog *csd = GTK_COLOR_SELECTION_DIALOG(dialog);
    gtk_widget_show(csd->help_button);
    widgets_register(dialog, dialog, "dialog_colorselection");
    widgets_register(dialog, csd->ok_button, "button_colorselection_ok");
    widgets_register(dialog, csd->cancel_button, "button_colorselection_cancel");
    widgets_register(dialog, csd->help_button, "button_colorselection_help");
    widgets_register(dialog, gtk_color_selection_dialog_get_color_selection(csd),
                     "colorselection");
    return dialog;
}

int get_user_color_selection(void)
{
    GtkWidget *dialog = create_dialog_colorselection();
    GtkColorSelection *selection = GTK_COLOR_SELECTION(
        gtk_color_selection_dialog_get_color_selection(GTK_COLOR_SELECTION_DIALOG(dialog)));
    GdkColor color = {0, options_sector_da_bg_color.red, options_sector_da_bg_color.green,
                      options_sector_da_bg_color.blue};
    gtk_color_selection_set_previous_color(selection, &color);
    gtk_color_selection_set_current_color(selection, &color);
    int chosen = 0;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK) {
        gtk_color_selection_get_current_color(selection, &color);
        options_sector_da_bg_color.red = color.red;
        options_sector_da_bg_color.green = color.green;
        options_sector_da_bg_color.blue = color.blue;
        options_save_to_file();
        chosen = 1;
    }
    gtk_widget_destroy(dialog);
    return chosen;
}
