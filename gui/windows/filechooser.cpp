#include "gui/windows/filechooser.h"

#include <glib/gi18n.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

GdkPixbuf *(*fileopen_preview_draw_directory)(const uint8_t *, int) = nullptr;
void (*fileopen_preview_blues_to_reds)(GdkPixbuf *) = nullptr;

// Set once the preview area has been widened to make room for its scroll bar.
static int flag_adjusted = 0;

namespace {

void add_filters(GtkWidget *chooser, const char *name, std::initializer_list<const char *> patterns)
{
    GtkFileFilter *filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name);
    for (const char *p : patterns)
        gtk_file_filter_add_pattern(filter, p);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    GtkFileFilter *all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, _("  All files (*.*) "));
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), all);
}

GtkWidget *chooser_new(const char *name, const char *title, GtkFileChooserAction action,
                       const char *prefix, const char *accept_stock)
{
    GtkWidget *dialog = gtk_file_chooser_dialog_new(
        title, window_main ? GTK_WINDOW(window_main) : nullptr, action, nullptr, nullptr);
    widgets_register(dialog, dialog, name);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    std::string cancel = std::string("button_") + prefix + "_cancel";
    std::string ok = std::string("button_") + prefix + "_ok";
    widgets_register(dialog, gtk_dialog_add_button(GTK_DIALOG(dialog), "gtk-cancel",
                                                   GTK_RESPONSE_CANCEL),
                     cancel.c_str());
    GtkWidget *accept = gtk_dialog_add_button(GTK_DIALOG(dialog), accept_stock, GTK_RESPONSE_OK);
    widgets_register(dialog, accept, ok.c_str());
    gtk_widget_set_can_default(accept, TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    return dialog;
}

gchar **kind_folder(int kind)
{
    switch (kind) {
    case FILEOPEN_PRG:
        return &options_prg_dir_string;
    case FILEOPEN_PNG:
        return &options_png_dir_string;
    case FILEOPEN_ROM:
        return &options_rom_dir_string;
    default:
        return &options_d64_dir_string;
    }
}

bool is_folder(const char *path)
{
    return path && *path && g_file_test(path, G_FILE_TEST_IS_DIR);
}

// Without a folder GTK opens its "Recently Used" page, which is empty for
// most users: always start somewhere real.
void start_in(GtkWidget *dialog, int kind)
{
    char *folder = fileopen_start_folder(kind);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder);
    g_free(folder);
}

// Runs the chooser; on OK returns the chosen path (newly allocated) and
// stores its folder in *folder_option.
char *run_chooser(GtkWidget *dialog, gchar **folder_option, int folder_chooser)
{
    char *path = nullptr;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK)
        path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    gtk_widget_destroy(dialog);
    if (path) {
        char *folder = folder_chooser ? g_strdup(path) : g_path_get_dirname(path);
        options_set_string(folder_option, folder);
        g_free(folder);
    }
    return path;
}

void on_preview_scrollbar_size_allocate(GtkWidget *scrollbar, GtkAllocation *allocation,
                                        gpointer scrolled)
{
    if (flag_adjusted)
        return;
    gint spacing = 0;
    gtk_widget_style_get(GTK_WIDGET(scrolled), "scrollbar-spacing", &spacing, NULL);
    gtk_widget_set_size_request(GTK_WIDGET(scrolled), 224 + allocation->width + spacing, 256);
    flag_adjusted = 1;
    (void)scrollbar;
}

int text_width(GtkWidget *widget, const char *text)
{
    PangoLayout *layout = gtk_widget_create_pango_layout(widget, text);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    return width;
}

void on_preview_label_style_set(GtkWidget *label, GtkStyle *, gpointer)
{
    char *longest = g_strdup_printf(_("Sector errors: %d (%d accessible)"), 888, 888);
    int widest = std::max({text_width(label, _("Sector errors: N/A")),
                           text_width(label, _("Sector errors: 0")), text_width(label, longest)});
    g_free(longest);
    gtk_widget_set_size_request(label, widest, -1);
}

GtkWidget *create_preview_widget(GtkWidget *dialog)
{
    flag_adjusted = 0;
    GtkWidget *vbox = gtk_vbox_new(FALSE, 12);
    widgets_register(dialog, vbox, "vbox_preview");
    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    widgets_register(dialog, scrolled, "scrolledwindow_preview");
    gtk_widget_set_size_request(scrolled, 224, 256);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                   GTK_POLICY_ALWAYS);
    GtkWidget *viewport = gtk_viewport_new(nullptr, nullptr);
    widgets_register(dialog, viewport, "viewport_preview");
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(viewport), GTK_SHADOW_NONE);
    GtkWidget *image = gtk_image_new();
    widgets_register(dialog, image, "image_preview");
    gtk_container_add(GTK_CONTAINER(viewport), image);
    gtk_container_add(GTK_CONTAINER(scrolled), viewport);
    gtk_box_pack_start(GTK_BOX(vbox), scrolled, FALSE, FALSE, 0);
    g_signal_connect(gtk_scrolled_window_get_vscrollbar(GTK_SCROLLED_WINDOW(scrolled)),
                     "size-allocate", G_CALLBACK(on_preview_scrollbar_size_allocate), scrolled);
    gtk_widget_show_all(vbox);
    return vbox;
}

// Sector error code stored in a file's error info.
int file_error_code(const uint8_t *image, int track, int sector)
{
    return image[d64_base_size + start_sector_of_track[track] + sector];
}

void show_preview_picture(GtkWidget *dialog, const uint8_t *image, int shifted)
{
    GtkWidget *picture = lookup_widget(dialog, "image_preview");
    GdkPixbuf *pb = fileopen_preview_draw_directory ? fileopen_preview_draw_directory(image, 32)
                                                    : nullptr;
    if (pb && shifted && fileopen_preview_blues_to_reds)
        fileopen_preview_blues_to_reds(pb);
    if (pb) {
        gtk_image_set_from_pixbuf(GTK_IMAGE(picture), pb);
        g_object_unref(pb);
    } else {
        gtk_image_clear(GTK_IMAGE(picture));
    }
}

void fileopen_update_d64_preview_cb(GtkFileChooser *chooser, gpointer data)
{
    char *name = gtk_file_chooser_get_preview_filename(chooser);
    if (!name) {
        gtk_file_chooser_set_preview_widget_active(chooser, FALSE);
        return;
    }
    fileopen_d64_preview_show(GTK_WIDGET(data), name);
    g_free(name);
}

}  // namespace

char *fileopen_start_folder(int kind)
{
    const char *own = *kind_folder(kind);
    if (is_folder(own))
        return g_strdup(own);
    if (is_folder(options_d64_dir_string))
        return g_strdup(options_d64_dir_string);
    return g_strdup(g_get_home_dir());
}

int fileopen_d64_preview_show(GtkWidget *dialog, const char *name)
{
    GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
    GtkWidget *label = lookup_widget(dialog, "label_preview_sector_errors");
    gchar *contents = nullptr;
    gsize length = 0;
    // Checked before reading, so browsing past a huge file stays quick.
    GStatBuf st;
    int ok = g_stat(name, &st) == 0 && S_ISREG(st.st_mode) &&
             (st.st_size == d64_base_size ||
              st.st_size == d64_base_size + d64_block_error_info_size) &&
             g_file_get_contents(name, &contents, &length, nullptr) &&
             (int64_t)length <= D64_STORAGE_SIZE;
    fileopen_d64_preview preview;
    uint8_t *image = nullptr;
    if (ok) {
        image = static_cast<uint8_t *>(g_malloc0(D64_STORAGE_SIZE));
        memcpy(image, contents, length);
        ok = fileopen_d64_preview_examine(image, (int64_t)length, &preview);
    }
    g_free(contents);
    if (!ok) {
        gtk_image_clear(GTK_IMAGE(lookup_widget(dialog, "image_preview")));
        gtk_label_set_text(GTK_LABEL(label), _("Sector errors: N/A"));
        gtk_file_chooser_set_preview_widget_active(chooser, FALSE);
        g_free(image);
        return 0;
    }
    show_preview_picture(dialog, image, preview.shifted_track);
    gtk_label_set_text(GTK_LABEL(label), preview.label);
    gtk_file_chooser_set_preview_widget_active(chooser, TRUE);
    g_free(image);
    return 1;
}

int fileopen_d64_preview_examine(uint8_t *image, int64_t size, fileopen_d64_preview *preview)
{
    preview->shifted_track = 0;
    g_strlcpy(preview->label, _("Sector errors: N/A"), sizeof preview->label);
    int with_errors = size == d64_base_size + d64_block_error_info_size;
    if (size != d64_base_size && !with_errors)
        return 0;
    if (!d64_is_first_dir_link_valid(image)) {
        for (int track : {19, 20}) {
            if (!d64_is_first_dir_link_valid_in_track(image, track))
                continue;
            if (with_errors && file_error_code(image, track, 0) != D64_ERR_OK)
                continue;
            memcpy(image + d64_sector_offset(18, 0), image + d64_sector_offset(track, 0),
                   19 * 256);
            preview->shifted_track = track;
            break;
        }
    }
    int errors = 0, accessible = 0;
    if (with_errors)
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < d64_sectors_of_track(t); s++) {
                int code = file_error_code(image, t, s);
                errors += code != D64_ERR_OK;
                accessible += d64_is_accessible_error(code);
            }
    if (errors == 0)
        g_strlcpy(preview->label, _("Sector errors: 0"), sizeof preview->label);
    else
        g_snprintf(preview->label, sizeof preview->label, _("Sector errors: %d (%d accessible)"),
                   errors, accessible);
    return 1;
}

char *fileopen_prg_name_with_extension(const char *path)
{
    size_t n = strlen(path);
    if (n > 3 && (g_str_has_suffix(path, ".PRG") || g_str_has_suffix(path, ".prg")))
        return g_strdup(path);
    return g_strconcat(path, ".PRG", nullptr);
}

GtkWidget *create_filechooserdialog_save(const char *title)
{
    return chooser_new("filechooserdialog_save", title, GTK_FILE_CHOOSER_ACTION_SAVE, "save",
                       "gtk-save");
}

GtkWidget *create_filechooserdialog_load(const char *title)
{
    return chooser_new("filechooserdialog_load", title, GTK_FILE_CHOOSER_ACTION_OPEN, "load",
                       "gtk-open");
}

GtkWidget *create_filechooserdialog_select_folder(void)
{
    return chooser_new("filechooserdialog_select_folder",
                       _("Select the folder where disk images are saved to and loaded from"),
                       GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "select_folder", "gtk-open");
}

int fileopen_save_d64_file(const char *suggested_name, char **path)
{
    GtkWidget *dialog = create_filechooserdialog_save(_("Save disk image to D64"));
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    add_filters(dialog, _("  Disk image files (*.D64) "), {"*.D64", "*.d64"});
    start_in(dialog, FILEOPEN_IMAGES);
    GtkWidget *preview = create_preview_widget(dialog);
    gtk_file_chooser_set_preview_widget(GTK_FILE_CHOOSER(dialog), preview);
    gtk_file_chooser_set_use_preview_label(GTK_FILE_CHOOSER(dialog), FALSE);
    gtk_file_chooser_set_preview_widget_active(GTK_FILE_CHOOSER(dialog), TRUE);
    show_preview_picture(dialog, d64_storage, 0);
    if (suggested_name)
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), suggested_name);
    *path = run_chooser(dialog, &options_d64_dir_string, 0);
    return *path != nullptr;
}

GtkWidget *fileopen_create_load_d64_dialog(const char *title)
{
    GtkWidget *dialog = create_filechooserdialog_load(title);
    add_filters(dialog, _("  Disk image files (*.D64) "), {"*.D64", "*.d64"});
    start_in(dialog, FILEOPEN_IMAGES);
    GtkWidget *preview = create_preview_widget(dialog);
    GtkWidget *label = gtk_label_new(_("Sector errors: N/A"));
    widgets_register(dialog, label, "label_preview_sector_errors");
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
    // The chooser sizes its preview pane from the first text shown: ask
    // for room for the longest one, in the font the label ends up with.
    g_signal_connect(label, "style-set", G_CALLBACK(on_preview_label_style_set), nullptr);
    gtk_box_pack_start(GTK_BOX(preview), label, FALSE, FALSE, 0);
    gtk_widget_show(label);
    gtk_file_chooser_set_preview_widget(GTK_FILE_CHOOSER(dialog), preview);
    g_signal_connect(dialog, "update-preview", G_CALLBACK(fileopen_update_d64_preview_cb), dialog);
    return dialog;
}

int fileopen_load_d64_file(char **path, const char *title, const char *preselected_path)
{
    GtkWidget *dialog = fileopen_create_load_d64_dialog(title);
    if (preselected_path) {
        gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), preselected_path);
        // The chooser asks for a preview only when the selection changes.
        fileopen_d64_preview_show(dialog, preselected_path);
    }
    *path = run_chooser(dialog, &options_d64_dir_string, 0);
    return *path != nullptr;
}

static int save_prg_like(const char *suggested_name, char **path, const char *title, int kind)
{
    GtkWidget *dialog = create_filechooserdialog_save(title);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    add_filters(dialog, _("  Program files (*.PRG) "), {"*.PRG", "*.prg"});
    start_in(dialog, kind);
    if (suggested_name)
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), suggested_name);
    char *chosen = run_chooser(dialog, kind_folder(kind), 0);
    if (!chosen) {
        *path = nullptr;
        return 0;
    }
    *path = fileopen_prg_name_with_extension(chosen);
    g_free(chosen);
    return 1;
}

int fileopen_save_prg_file(const char *suggested_name, char **path, const char *title)
{
    return save_prg_like(suggested_name, path, title, FILEOPEN_PRG);
}

int fileopen_save_rom_file(const char *suggested_name, char **path, const char *title)
{
    return save_prg_like(suggested_name, path, title, FILEOPEN_ROM);
}

int fileopen_load_prg_file(char **path)
{
    GtkWidget *dialog =
        create_filechooserdialog_load(_("Select a PRG file to import into the disk currently in use"));
    add_filters(dialog, _("  Program files (*.PRG) "), {"*.PRG", "*.prg"});
    start_in(dialog, FILEOPEN_PRG);
    *path = run_chooser(dialog, &options_prg_dir_string, 0);
    return *path != nullptr;
}

int fileopen_load_firmware_file(char **path)
{
    // Remembered for this run only: a firmware file is rarely chosen twice.
    static gchar *folder = nullptr;
    GtkWidget *dialog = create_filechooserdialog_load(_("Select the firmware file to flash onto the board"));
    add_filters(dialog, _("  Intel HEX files (*.HEX) "), {"*.hex", "*.HEX"});
    if (is_folder(folder))
        gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), folder);
    else
        start_in(dialog, FILEOPEN_IMAGES);
    *path = run_chooser(dialog, &folder, 0);
    return *path != nullptr;
}

int fileopen_save_png_file(const char *suggested_name, char **path, const char *title)
{
    GtkWidget *dialog = create_filechooserdialog_save(title);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    add_filters(dialog, _("  PNG images (*.PNG) "), {"*.PNG"});
    start_in(dialog, FILEOPEN_PNG);
    if (suggested_name)
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), suggested_name);
    *path = run_chooser(dialog, &options_png_dir_string, 0);
    return *path != nullptr;
}

int fileopen_select_folder(void)
{
    GtkWidget *dialog = create_filechooserdialog_select_folder();
    start_in(dialog, FILEOPEN_IMAGES);
    char *folder = run_chooser(dialog, &options_d64_dir_string, 1);
    int chosen = folder != nullptr;
    g_free(folder);
    return chosen;
}
