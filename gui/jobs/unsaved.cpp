#include "gui/jobs/unsaved.h"

#include <glib/gi18n.h>

#include <algorithm>
#include <string>
#include <vector>

#include <unistd.h>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "engine/destination.h"
#include "engine/dumps_shared.h"
#include "engine/errors.h"
#include "engine/operation_state.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/log.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"
#include "version.h"

namespace {

// The last read's job name and per-disk log, for the questions and the
// save; and the digest of the image as a file last held it (saved or
// loaded): any other image with read data is unsaved.
std::string what;
std::string disk_log;
std::string clean_digest;

std::string store_digest(void)
{
    gchar *hex = filer_md5_hex(d64_storage, (size_t)(d64_base_size + d64_block_error_info_size));
    std::string digest = hex ? hex : "";
    g_free(hex);
    return digest;
}

void log_view_line(void *, const char *line, int)
{
    log_textview_append(line);
}

std::string disk_name(void)
{
    char name[D64_NAME_BUFFER_SIZE];
    filer_disk_name_for_file(d64_storage, sector_grid_image_holds_read_data(), name);
    return name;
}

// The image in memory with its per-disk log (and digest, when that setting
// is on) to `path`, through the engine's one save.
engine_error save_store(const engine_ui *ui, dumps_job_ui *job, const char *path,
                        std::vector<std::string> *files)
{
    job->forward_to(ui, "");
    job->md5 = options_create_md5_digest;
    // A loaded image has no per-disk log of its own: its save starts one.
    job->disk_log = disk_log.empty() ? "Log file created by Dravlen client " DRAVLEN_VERSION "\n"
                                     : disk_log;
    return dumps_save_image(job, path, 0, files);
}

}  // namespace

void unsaved_read_ended(const char *job)
{
    what = job;
    // A read into a fresh image is in no file yet, even when a file holds
    // the same bytes: only an image tied to its file can match it.
    if (!utf8_path_lastopenfile_d64)
        clean_digest.clear();
    disk_log.assign(log_warpsave_get_str(), (size_t)log_warpsave_get_len());
}

int unsaved_saved(int saved)
{
    if (saved)
        clean_digest = store_digest();
    else if (log_warpsave)
        disk_log.assign(log_warpsave_get_str(), (size_t)log_warpsave_get_len());
    return saved;
}

void unsaved_forget(void)
{
    clean_digest = store_digest();
    disk_log.clear();
}

int unsaved_pending(void)
{
    return sector_grid_image_holds_read_data() && store_digest() != clean_digest;
}

int unsaved_confirm(unsaved_action action)
{
    if (!unsaved_pending())
        return 1;
    const char *question = action == UNSAVED_QUIT           ? _("Quit and lose it?")
                           : action == UNSAVED_ANOTHER_READ ? _("Start another read and lose it?")
                           : action == UNSAVED_LOAD         ? _("Load another image and lose it?")
                                                            : _("Restore an image and lose it?");
    int errors = 0;
    for (int64_t i = 0; i < d64_block_error_info_size; i++)
        errors += d64_is_accessible_error(d64_storage[d64_base_size + i]) ? 1 : 0;
    gchar *markup = g_markup_printf_escaped(
        _("<b>%s of \"%s\" is not saved</b> (%d sectors with errors).\n\nFile > Save image as... "
          "keeps it.\n\n%s"),
        what.empty() ? _("The image in memory") : what.c_str(), disk_name().c_str(), errors, question);
    int yes = get_user_confirmation(markup);
    g_free(markup);
    return yes;
}

int unsaved_confirm_quit(void)
{
    if (unsaved_pending())
        return unsaved_confirm(UNSAVED_QUIT);
    return get_user_confirmation(_("Are you sure you want to quit?"));
}

int unsaved_save_as(void)
{
    if (operation_is_running() || !sector_grid_image_holds_read_data()) {
        statusbar_main_update(_(" First dump a disk or load a disk image"));
        return 0;
    }
    gchar *suggestion = filer_suggested_name(options_file_naming(), FILER_DUMP_WHOLE_DISK,
                                             disk_name().c_str());
    char *path = nullptr;
    int chosen = fileopen_save_d64_file(suggestion, &path);
    g_free(suggestion);
    if (!chosen) {
        log_textview_append(_("Disk image not saved at user's request\n"));
        return 0;
    }
    engine_ui ui = {};
    ui.log_line = log_view_line;
    dumps_job_ui job;
    std::vector<std::string> files;
    engine_error failure = save_store(&ui, &job, path, &files);
    gchar *base = g_filename_display_basename(path);
    if (failure && files.empty()) {
        // The image stays in memory, unsaved: another place can be chosen.
        std::string status = _(" Imaging failed: Unable to save to file");
        if (job.save_reason)
            status += std::string(": ") + job.save_reason;
        statusbar_main_update(status.c_str());
        g_free(base);
        g_free(path);
        return 0;
    }
    // Re-reads now work on that file.
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = path;
    options_save_to_file();
    unsaved_saved(1);
    window_main_title_update(base);
    char *status = failure ? g_strdup_printf(" %s", job.failure_text ? job.failure_text
                                                                      : engine_error_text(failure))
                           : g_strdup_printf(_(" Disk image saved: %s"), base);
    statusbar_main_update(status);
    g_free(status);
    g_free(base);
    return 1;
}

std::string unsaved_keep(std::string *why)
{
    why->clear();
    if (!unsaved_pending())
        return std::string();
    // The image folder first; when that fails (a full disk), the home
    // folder, then the state folder the command line falls back to.
    std::vector<std::string> folders;
    if (options_d64_dir_string && g_file_test(options_d64_dir_string, G_FILE_TEST_IS_DIR))
        folders.push_back(options_d64_dir_string);
    folders.push_back(g_get_home_dir());
    gchar *state = g_build_filename(g_get_user_state_dir(), "dravlen", nullptr);
    folders.push_back(state);
    g_free(state);
    gchar *name = filer_suggested_name(options_file_naming(), FILER_DUMP_WHOLE_DISK,
                                       disk_name().c_str());
    std::string kept;
    for (size_t i = 0; i < folders.size() && kept.empty(); i++) {
        if (std::find(folders.begin(), folders.begin() + i, folders[i]) != folders.begin() + i ||
            g_mkdir_with_parents(folders[i].c_str(), 0700) != 0 ||
            access(folders[i].c_str(), W_OK) != 0)
            continue;
        gchar *wanted = g_build_filename(folders[i].c_str(), name, nullptr);
        std::string path = wanted;
        for (const char *beside : {"", ".log", ".md5"})
            if (g_file_test((path + beside).c_str(), G_FILE_TEST_EXISTS))
                path = destination_free_name(wanted);
        g_free(wanted);
        engine_ui ui = {};
        ui.log_line = log_view_line;
        dumps_job_ui job;
        std::vector<std::string> files;
        engine_error failure = save_store(&ui, &job, path.c_str(), &files);
        if (failure && files.empty())
            *why = job.save_reason ? job.save_reason : engine_error_text(failure);
        else
            kept = path;
    }
    g_free(name);
    if (kept.empty())
        return kept;
    why->clear();
    // The image is in that file now, as after Save image as.
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = g_strdup(kept.c_str());
    unsaved_saved(1);
    return kept;
}

int unsaved_file_for_reread(void)
{
    if (utf8_path_lastopenfile_d64)
        return 1;
    if (!unsaved_pending()) {
        statusbar_main_update(_(" First dump a disk or load a disk image"));
        return 0;
    }
    if (unsaved_save_as() && utf8_path_lastopenfile_d64)
        return 1;
    statusbar_main_update(_(" First save the image: File > Save image as..."));
    return 0;
}

void on_menuitem_file_activate(GtkMenuItem *, gpointer)
{
    gtk_widget_set_sensitive(lookup_widget(window_main, "menuitem_save_image_as"),
                             sector_grid_image_holds_read_data() && !operation_is_running());
}

void on_menuitem_save_image_as_activate(GtkMenuItem *, gpointer)
{
    unsaved_save_as();
}
