#include "gui/jobs/imaging_job.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "gui/jobs/disk_checks_job.h"
#include "gui/jobs/sector_reads_job.h"
#include "gui/jobs/unsaved.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/dirview_panel.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

// The fast pass announces every sector.  One idle source per announcement
// costs the worker more than reading the stream, so the worker's callbacks
// go into one ordered queue that a single idle source drains, a few
// milliseconds at a time so the window stays responsive.  Everything the
// worker posts goes through it, the re-read phase and the finisher too, so
// nothing overtakes what the pass posted.
std::mutex batch_lock;
std::deque<std::pair<GSourceFunc, gpointer>> batch;
bool batch_posted = false;

gboolean idle_run_batch(gpointer)
{
    gint64 deadline = g_get_monotonic_time() + 8000;
    for (;;) {
        std::pair<GSourceFunc, gpointer> call;
        {
            std::lock_guard<std::mutex> hold(batch_lock);
            if (batch.empty()) {
                batch_posted = false;
                return FALSE;
            }
            call = batch.front();
            batch.pop_front();
        }
        call.first(call.second);
        if (g_get_monotonic_time() > deadline)
            return TRUE;
    }
}

void post(GSourceFunc function, gpointer data)
{
    std::lock_guard<std::mutex> hold(batch_lock);
    batch.emplace_back(function, data);
    if (!batch_posted) {
        batch_posted = true;
        operation_idle_add(idle_run_batch, nullptr);
    }
}

// The lines of cell events that both logs show come as log_line; the
// others belong to the per-disk log alone, kept here as the window's copy.
gboolean idle_paint_cell_and_free(gpointer data)
{
    auto *rec = static_cast<cell_activation_record *>(data);
    drawingarea_sector_grid_activate_cell(rec->track, rec->sector, rec->code);
    int both = 0;
    if (char *line = engine_cell_log_line(rec->code, rec->track, rec->sector, rec->checksum,
                                          &both)) {
        if (!both)
            log_warpsave_append(line);
        g_free(line);
    }
    g_free(rec);
    return FALSE;
}

// The job that runs now (one at a time) and what the GUI thread learnt of it.
const imaging_window_job *current_job = nullptr;
int current_read_done = 0;
imaging_window_naming current_naming;
std::string current_folder;

// Why faulty sectors were not read again, for the status text at the end;
// set and read on the GUI thread only.
std::string reread_skipped_note;

void gui_cell(void *, int track, int sector, int code, int checksum)
{
    if (code == ENGINE_CELL_LEFT_UNREAD)
        code = CELL_NO_SYNC;
    if (auto *rec = sector_grid_new_cell_record(track, sector, (uint8_t)checksum, code))
        post(idle_paint_cell_and_free, rec);
}

gboolean idle_log_view_append_and_free(gpointer text)
{
    log_textview_append(static_cast<char *>(text));
    g_free(text);
    return FALSE;
}

void gui_log(void *, const char *line, int for_disk_log)
{
    post(for_disk_log ? idle_log_warpsave_and_log_textview_append_and_free
                      : idle_log_view_append_and_free,
         g_strdup(line));
}

void gui_error_count(void *, int count)
{
    post(idle_set_accessible_sector_error_count, GINT_TO_POINTER(count));
}

void gui_error_step(void *, int delta)
{
    post(delta > 0 ? idle_increase_accessible_sector_error_count
                   : idle_decrease_accessible_sector_error_count,
         nullptr);
}

gboolean idle_show(gpointer data)
{
    switch ((engine_image_view)GPOINTER_TO_INT(data)) {
    case ENGINE_SHOW_DIRECTORY:
        return idle_decode_and_show_directory_listing(nullptr);
    case ENGINE_SHOW_ALLOCATED_SECTORS:
        decode_bam_and_show_allocated_sectors();
        break;
    case ENGINE_SHOW_SECTOR_ERRORS:
        drawingarea_sector_grid_refresh_from_error_info();
        break;
    case ENGINE_SHOW_DAMAGED_FILES:
        dirview_mark_damaged_files(current_job ? current_job->whole_disk : 1);
        break;
    }
    return FALSE;
}

void gui_show(void *, engine_image_view what)
{
    post(idle_show, GINT_TO_POINTER((int)what));
}

gboolean idle_note_reread_skipped(gpointer text)
{
    reread_skipped_note = static_cast<char *>(text);
    g_free(text);
    return FALSE;
}

void gui_reread_skipped(void *, const char *text)
{
    post(idle_note_reread_skipped, g_strdup(text));
}

// Set on the GUI thread when the job's finisher has run.
bool current_finished = false;

// Once the drive's part is over, the checks, the naming and the save run
// as one step of the window, as a finisher would: nothing else of the
// window's own (Abort included) comes between them, only their dialogs and
// what the job shows.  The worker goes on meanwhile.
gboolean idle_hold_until_finished(gpointer data)
{
    operation_run_waiting_call(data);
    gdk_threads_leave();
    while (!current_finished)
        g_main_context_iteration(nullptr, TRUE);
    gdk_threads_enter();
    return FALSE;
}

// In the queue's order, the hold starts at the window's top level, where
// the queue can go on being drained.
gboolean idle_start_hold(gpointer data)
{
    operation_idle_add(idle_hold_until_finished, data);
    return FALSE;
}

// The drive's part is over: the status says so before the checks ask anything.
void gui_read_done(void *)
{
    operation_run_on_gui_and_wait(post, idle_start_hold, [] {
        current_read_done = 1;
        if (tmr)
            g_timer_stop(tmr);
        int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
        int prg_errors = count_accessible_sector_errors_on_first_sector_of_all_prgs();
        char *text = g_strdup_printf(_(current_job->completed), operation_elapsed_seconds(), errors,
                                     prg_errors);
        if (!reread_skipped_note.empty()) {
            char *with_note = g_strdup_printf("%s; %s", text, reread_skipped_note.c_str());
            g_free(text);
            text = with_note;
        }
        statusbar_main_update(text);
        g_free(text);
        controls_set_accessible_sector_error_count(errors);
    });
}

// The checks' questions: the shift a yes/no one, the notices an
// acknowledgement (answered yes).
int gui_ask(void *, engine_question question, const char *text)
{
    int answer = 0;
    std::string markup = text;
    operation_run_on_gui_and_wait(post, operation_run_waiting_call, [&] {
        if (question == ENGINE_ASK_SHIFT_TRACKS) {
            answer = get_user_confirmation(markup.c_str()) ? 1 : 0;
        } else if (question == ENGINE_ASK_OTHER_DISK) {
            // Plain text: it quotes the disks' names.
            gchar *escaped = g_markup_escape_text(markup.c_str(), -1);
            answer = get_user_confirmation(escaped) ? 1 : 0;
            g_free(escaped);
        } else {
            get_user_acknowledgement(markup.c_str());
            answer = 1;
        }
    });
    return answer;
}

int gui_ask_overwrite(void *, const char *path, const char *folder)
{
    gchar *markup = filer_overwrite_markup(path, folder);
    int answer = 0;
    operation_run_on_gui_and_wait(post, operation_run_waiting_call,
                        [&] { answer = get_user_confirmation(markup) ? 1 : 0; });
    g_free(markup);
    return answer;
}

char *gui_ask_file_name(void *, const char *suggested)
{
    char *path = nullptr;
    std::string offered = suggested;
    operation_run_on_gui_and_wait(post, operation_run_waiting_call, [&] {
        if (!fileopen_save_d64_file(offered.c_str(), &path))
            path = nullptr;
    });
    return path;
}

gboolean idle_finish_job(gpointer data)
{
    auto *result = static_cast<imaging_window_result *>(data);
    const imaging_window_job *job = current_job;
    result->read_done = current_read_done;
    current_finished = true;
    job->finisher(result);
    delete result;
    return FALSE;
}

void gui_finished(void *, const engine_outcome *outcome)
{
    auto *result = new imaging_window_result;
    result->kind = outcome->kind;
    result->has_failure = outcome->failure != nullptr;
    if (outcome->failure)
        result->failure = outcome->failure;
    result->save = outcome->save;
    if (outcome->save_reason)
        result->save_reason = outcome->save_reason;
    if (outcome->files && outcome->files[0])
        result->saved_path = outcome->files[0];
    post(idle_finish_job, result);
}

void start_imaging(void)
{
    core_save_whole_disk_image_to_D64();
}

const imaging_window_job whole_disk_job = {N_(" Imaging completed in %.2lf seconds [%d/%d]"), 1,
                                           idle_finish_disk_image_receipt,
                                           N_("The whole-disk read")};

}  // namespace

engine_ui imaging_window_ui(const imaging_window_job *job)
{
    current_job = job;
    engine_ui ui = {};
    ui.sector_cell = gui_cell;
    ui.log_line = gui_log;
    ui.error_count = gui_error_count;
    ui.error_count_step = gui_error_step;
    ui.directory_ready = gui_show;
    ui.reread_skipped = gui_reread_skipped;
    ui.read_done = gui_read_done;
    ui.ask = gui_ask;
    ui.ask_overwrite = gui_ask_overwrite;
    ui.ask_file_name = gui_ask_file_name;
    ui.finished = gui_finished;
    return ui;
}

void imaging_window_begin(const imaging_window_job *job)
{
    current_job = job;
    current_read_done = 0;
    current_finished = false;
    reread_skipped_note.clear();
    GtkWidget *box = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
    current_naming.auto_naming = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(box));
    current_naming.side_b = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(
        lookup_widget(window_main, "radiobutton_disk_dump_auto_naming_side_b")));
    current_naming.offset = gtk_spin_button_get_value_as_int(
        GTK_SPIN_BUTTON(lookup_widget(window_main, "spinbutton_disk_dump_auto_naming_offset")));
    current_folder = options_d64_dir_string ? options_d64_dir_string : "";
    current_naming.folder = options_d64_dir_string ? current_folder.c_str() : nullptr;
    current_naming.naming = options_file_naming();
    current_naming.md5 = options_create_md5_digest;
    // The save dialog asks itself before replacing a file.
    current_naming.overwrite = !options_confirm_overwrite;
}

gboolean imaging_window_idle_failed(gpointer failure)
{
    auto *result = new imaging_window_result;
    result->kind = ENGINE_FAILED;
    result->has_failure = failure != nullptr;
    if (failure)
        result->failure = static_cast<const char *>(failure);
    result->save = ENGINE_SAVE_NOT_REACHED;
    return idle_finish_job(result);
}

const imaging_window_naming *imaging_window_current_naming(void)
{
    return &current_naming;
}

int imaging_window_finish(const imaging_window_result *r, const char *aborted_text,
                          const char *failed_format)
{
    const char *failure = r->has_failure ? r->failure.c_str() : nullptr;
    // Whatever the ending, what was read stays in memory until it is saved.
    unsaved_read_ended(_(current_job->what));
    unsaved_saved(r->save == ENGINE_SAVE_WRITTEN);
    if (!r->read_done || r->kind == ENGINE_ABORTED) {
        operation_outcome outcome = operation_finish_decide(failure, aborted_text, failed_format);
        if (outcome == OPERATION_ABORTED)
            log_warpsave_append("Aborted\n");
        else if (outcome == OPERATION_FAILED)
            log_warpsave_append("Failed\n");
        return 0;
    }
    switch (r->save) {
    case ENGINE_SAVE_WRITTEN: {
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = g_strdup(r->saved_path.c_str());
        options_save_to_file();
        gchar *base = g_filename_display_basename(r->saved_path.c_str());
        window_main_title_update(base);
        g_free(base);
        break;
    }
    case ENGINE_SAVE_DECLINED:
        statusbar_main_update(_(" Imaging interrupted: file exists"));
        break;
    case ENGINE_SAVE_FAILED: {
        // The reason is said where the user looks; the image stays for
        // File > "Save image as...".
        std::string status = _(" Imaging failed: Unable to save to file");
        if (!r->save_reason.empty())
            status += ": " + r->save_reason;
        statusbar_main_update(status.c_str());
        break;
    }
    default:
        break;
    }
    // A name that was not saved is not stepped past.
    if (current_naming.auto_naming && r->save == ENGINE_SAVE_WRITTEN) {
        int side_b = current_naming.side_b, offset = current_naming.offset;
        filer_auto_naming_advance(&side_b, &offset);
        gtk_spin_button_set_value(
            GTK_SPIN_BUTTON(lookup_widget(window_main, "spinbutton_disk_dump_auto_naming_offset")),
            offset);
        gtk_toggle_button_set_active(
            GTK_TOGGLE_BUTTON(lookup_widget(window_main,
                                            side_b ? "radiobutton_disk_dump_auto_naming_side_b"
                                                   : "radiobutton_disk_dump_auto_naming_side_a")),
            TRUE);
    }
    return 1;
}

int thread_receive_disk_image(void)
{
    engine_ui ui = imaging_window_ui(&whole_disk_job);
    const imaging_window_naming &n = current_naming;
    engine_imaging_params p = {};
    p.port = options_device_port_string;
    p.device = ped.device;
    p.retries = ped.tries_per_sector;
    p.max_errors = ped.max_sector_errors;
    p.outmost_track = ped.outmost_track;
    p.pre_initialize = ped.pre_initialize;
    p.retry_once_per_pass = options_retry_sectors_once_per_pass;
    p.notify_beyond_35 = options_notify_tracks_beyond_35;
    p.notify_side_b = options_notify_side_b_1571;
    p.auto_naming = n.auto_naming;
    p.folder = n.folder;
    p.side_b = n.side_b;
    p.offset = n.offset;
    p.naming = n.naming;
    p.md5 = n.md5;
    p.overwrite = n.overwrite;
    p.damage_report_unread = 1;
    p.heading_shown = 1;
    engine_read_disk(&ui, &p);
    return 0;
}

int count_accessible_sector_errors_on_first_sector_of_all_prgs(void)
{
    return imaging_count_prg_first_sector_errors(d64_storage);
}

void core_save_whole_disk_image_to_D64(void)
{
    if (!operation_check_device_port() || !unsaved_confirm(UNSAVED_ANOTHER_READ))
        return;

    int index = combo_active_drive_get_index();
    ped.device = index + 8;
    ped.pre_initialize = checkbox_pre_initialize_disk_get_active();
    ped.max_sector_errors = spinbutton_max_sector_error_count_get_value();
    ped.tries_per_sector = spinbutton_sector_read_retry_get_value();
    ped.outmost_track = spinbutton_outmost_track_get_value();
    options_drive_index = index;
    options_max_sector_errors = ped.max_sector_errors;
    options_sector_read_retries = ped.tries_per_sector;
    options_outmost_track = ped.outmost_track;

    char *status = g_strdup_printf(_(" Imaging process started on drive %d"), ped.device);
    char *title = engine_imaging_title(ped.outmost_track);
    log_warpsave_delete();
    log_warpsave_new(0);
    // The view gets the separator and the title from the start sequence.
    log_warpsave_append(title);

    sector_reads_reset_image_and_views();
    imaging_window_begin(&whole_disk_job);
    notebook_main_set_page(0);
    controls_set_accessible_sector_error_count(0);

    operation_start_info info = {status, title, 0, 1, "receiver",
                                 [] { thread_receive_disk_image(); }, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(title);
}

gboolean idle_finish_disk_image_receipt(gpointer data)
{
    imaging_window_finish(static_cast<const imaging_window_result *>(data),
                          _(" Imaging aborted: please wait for the drive to finish"),
                          _(" Imaging failed: %s"));
    operation_finish_cleanup();
    button_warpsave_to_d64_give_focus();
    return FALSE;
}

void on_button_save_image_to_D64_clicked(GtkButton *button, gpointer data)
{
    (void)button;
    (void)data;
    start_imaging();
}

void on_menuitem_dump_the_whole_disk_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_imaging();
}
