#include "gui/windows/dirview_panel.h"

#include <glib/gi18n.h>

#include <cstring>

#include "engine/options.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/log.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "image/listing.h"

namespace {

constexpr int DIR_TRACK_BYTES = 19 * 256;

GdkPixbuf *preview_draw_directory(const uint8_t *image, int min_rows)
{
    GdkPixbuf *out = nullptr;
    return d64pixbuf_directory_decode_listing(image, &out, min_rows) ? out : nullptr;
}

}  // namespace

void decode_and_show_directory_listing(void)
{
    uint8_t *saved_track_18 = nullptr;
    if (!d64_is_first_dir_link_valid(d64_storage)) {
        for (int track : {19, 20}) {
            if (d64_get_block_error_info(d64_storage, track, 0) != D64_ERR_OK ||
                !d64_is_first_dir_link_valid_in_track(d64_storage, track))
                continue;
            saved_track_18 = static_cast<uint8_t *>(
                g_memdup2(d64_storage + d64_sector_offset(18, 0), DIR_TRACK_BYTES));
            memcpy(d64_storage + d64_sector_offset(18, 0), d64_storage + d64_sector_offset(track, 0),
                   DIR_TRACK_BYTES);
            flag_dir_in_track_18 = 0;
            char *text = g_strdup_printf(
                "First dir t/s link found in track %d: directory listing might be retrievable\n",
                track);
            log_warpsave_and_log_textview_append(text);
            g_free(text);
            break;
        }
    }
    if (!d64_is_first_dir_link_valid(d64_storage))
        log_warpsave_and_log_textview_append(
            "Unexpected first dir t/s link: directory contents might not be as expected\n");
    GString *listing = g_string_new(nullptr);
    int loop = 0;
    d64_create_directory_listing(d64_storage, listing, options_include_scr_files, &loop);
    if (loop)
        log_warpsave_and_log_textview_append(
            "Loop detected in the dir t/s chain: directory contents might not be as expected\n");
    // The image stays as it was read: the copy served the listing only.
    if (saved_track_18) {
        memcpy(d64_storage + d64_sector_offset(18, 0), saved_track_18, DIR_TRACK_BYTES);
        g_free(saved_track_18);
    }
    int count = filer_show_dir(dir_filer, listing->str);
    listing_from_image = true;
    g_string_free(listing, TRUE);
    drawingarea_directory_listing_redraw();
    vscrollbar_files_directory_reset(count);
    flag_dir_listing_was_last_operation = 0;
}

gboolean idle_decode_and_show_directory_listing(gpointer)
{
    flag_dir_in_track_18 = 1;
    if (!d64_is_bam_sector_error_free(d64_storage)) {
        log_warpsave_and_log_textview_append(
            "BAM sector contains errors: not listing directory contents\n");
        return FALSE;
    }
    decode_and_show_directory_listing();
    return FALSE;
}

gchar *dirview_png_suggested_name(void)
{
    const char *extension = options_file_extensions_uppercase == 1 ? "PNG" : "png";
    if (utf8_path_lastopenfile_d64 && flag_dir_listing_was_last_operation == 0) {
        gchar *base = g_path_get_basename(utf8_path_lastopenfile_d64);
        gchar *name = g_strdup_printf("%s.%s", base, extension);
        g_free(base);
        return name;
    }
    char disk_name[17] = "";
    filer_get_disk_name(dir_filer, disk_name);
    sanitize_filename(disk_name);
    return g_strdup_printf("%s.%s", disk_name[0] ? disk_name : "NO NAME", extension);
}

void on_menuitem_export_directory_to_png_activate(GtkMenuItem *, gpointer)
{
    statusbar_main_update(_(" Exporting dir listing"));
    log_textview_append("================================\n");
    log_textview_append("Exporting dir listing\n");
    gchar *suggested = dirview_png_suggested_name();
    char *path = nullptr;
    int chosen = fileopen_save_png_file(suggested, &path, _("Save directory listing to PNG"));
    g_free(suggested);
    if (!chosen) {
        log_textview_append("Dir listing not exported at user's request\n");
        return;
    }
    GError *error = nullptr;
    if (filer_save_dir_listing_to_png(dir_filer, path, options_double_png_dimensions,
                                      flag_dir_in_track_18, &error)) {
        gchar *base = g_path_get_basename(path);
        gchar *status = g_strdup_printf(_(" Export succeeded: %s"), base);
        statusbar_main_update(status);
        gchar *line = g_strdup_printf("Completed (%s)\n", base);
        log_textview_append(line);
        g_free(line);
        g_free(status);
        g_free(base);
    } else {
        statusbar_main_update(_(" Export failed: Unable to save to PNG file"));
        gchar *line = g_strdup_printf("Unable to export dir listing to PNG file: %s\n",
                                      error ? error->message : "unknown error");
        log_textview_append(line);
        g_free(line);
    }
    g_clear_error(&error);
    g_free(path);
}

void dirview_module_init(void)
{
    static int done = 0;
    fileopen_preview_draw_directory = preview_draw_directory;
    fileopen_preview_blues_to_reds = d64pixbuf_substitute_blues_with_reds;
    if (done || !window_main)
        return;
    done = 1;
    GtkWidget *area = lookup_widget(window_main, "drawingarea_directory_listing");
    vscrollbar_files_directory = lookup_widget(window_main, "vscrollbar_files_directory");
    if (area) {
        g_signal_connect(area, "configure_event",
                         G_CALLBACK(on_drawingarea_directory_listing_configure_event), nullptr);
        g_signal_connect(area, "expose_event",
                         G_CALLBACK(on_drawingarea_directory_listing_expose_event), nullptr);
        g_signal_connect(area, "key_press_event",
                         G_CALLBACK(on_drawingarea_directory_listing_key_press_event), nullptr);
        g_signal_connect(area, "scroll_event",
                         G_CALLBACK(on_drawingarea_directory_listing_scroll_event), nullptr);
        g_signal_connect(area, "button_press_event",
                         G_CALLBACK(on_drawingarea_directory_listing_button_press_event), nullptr);
    }
    if (vscrollbar_files_directory)
        g_signal_connect(vscrollbar_files_directory, "value_changed",
                         G_CALLBACK(on_vscrollbar_files_directory_value_changed), nullptr);
    widgets_add_quit_cleanup(dirview_module_shutdown);
}
