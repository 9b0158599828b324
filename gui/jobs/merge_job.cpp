// File > Merge another dump into this image: the image in memory stacked
// with a dump of the same disk by the rules of "dravlen merge".
#include "gui/jobs/merge_job.h"

#include "gui/jobs/disk_checks_job.h"
#include "gui/jobs/special_dumps_job.h"

#include <glib/gi18n.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "image/merge.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/log.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/window_main.h"

namespace {

// What makes the two look like other disks, for the question.
std::string difference_text(const merge_result &m)
{
    std::string text;
    if (m.other_header >= 0)
        text += _("The dump has another disk name or ID in its header sector.");
    if (!m.disagreements.empty()) {
        text += text.empty() ? "" : "\n";
        text += _("Good sectors that disagree:");
        size_t shown = 0;
        for (const merge_disagreement &d : m.disagreements) {
            if (++shown > 12) {
                text += " ...";
                break;
            }
            text += " " + std::to_string(d.track) + "/" + std::to_string(d.sector);
        }
    }
    return text;
}

}  // namespace

void on_menuitem_merge_dump_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    // A running worker writes into the image store.
    if (operation_is_running())
        return;
    char *path = nullptr;
    if (!fileopen_load_d64_file(&path, _("Select another dump of the same disk"),
                                utf8_path_lastopenfile_d64))
        return;
    std::vector<uint8_t> dump;
    GError *error = nullptr;
    if (!filer_read_d64_file(path, &dump, &error)) {
        statusbar_main_update(_(" Merge failed: Unable to load from image"));
        gchar *line = g_strdup_printf("Unable to load from image: %s\n",
                                      error ? error->message : "");
        log_textview_append(line);
        g_free(line);
        g_clear_error(&error);
        g_free(path);
        return;
    }
    merge_result merged;
    merge_dumps({d64_storage, dump.data()}, &merged);
    gchar *shown = g_filename_display_basename(path);
    if (!merge_same_disk(merged)) {
        gchar *markup = g_markup_printf_escaped(
            _("<span size=\"x-large\"><b>\"%s\" looks like a dump of another disk. Merge it "
              "anyway?</b></span>\n\n%s"),
            shown, difference_text(merged).c_str());
        gboolean yes = get_user_confirmation(markup);
        g_free(markup);
        if (!yes) {
            log_textview_append("Merge not done at user's request\n");
            g_free(shown);
            g_free(path);
            return;
        }
    }

    memcpy(d64_storage, merged.image.data(), merged.image.size());
    std::vector<std::string> lines;
    merge_log_lines(merged, {_("image in memory"), shown}, &lines);
    log_textview_append("================================\n");
    for (const std::string &line : lines)
        log_warpsave_and_log_textview_append((line + "\n").c_str());
    engine_ui checks = disk_checks_gui_ui();
    engine_log_damage_report(&checks, 1);

    drawingarea_sector_grid_refresh_from_error_info();
    dumps_show_directory_and_allocated_sectors();
    dirview_mark_damaged_files(1);
    int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
    controls_set_accessible_sector_error_count(errors);
    char *status = g_strdup_printf(_(" Dump merged [%d]: %s"), errors, shown);
    statusbar_main_update(status);
    g_free(status);
    g_free(shown);
    g_free(path);
}
