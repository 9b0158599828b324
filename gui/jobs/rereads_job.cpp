#include "gui/jobs/rereads_job.h"

#include <glib/gi18n.h>

#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/operation_state.h"
#include "engine/options.h"
#include "image/d64.h"
#include "image/directory.h"
#include "image/imagefile.h"
#include "gui/jobs/disk_checks_job.h"
#include "gui/jobs/imaging_job.h"
#include "gui/jobs/sector_reads_job.h"
#include "gui/jobs/special_dumps_job.h"
#include "gui/jobs/unsaved.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

using reread_selection = engine_reread_selection;
constexpr reread_selection SELECT_ALL = ENGINE_REREAD_ALL;
constexpr reread_selection SELECT_DIR_TRACK = ENGINE_REREAD_DIR_TRACK;
constexpr reread_selection SELECT_DIR_TRACK_PRGS = ENGINE_REREAD_DIR_TRACK_PRGS;
constexpr reread_selection SELECT_TRACK_RANGE = ENGINE_REREAD_TRACK_RANGE;
constexpr reread_selection SELECT_ALLOCATED = ENGINE_REREAD_ALLOCATED;

const imaging_window_job full_reread_job = {N_(" Re-reading completed in %.2lf seconds [%d/%d]"),
                                            1, idle_finish_rereading_all_sectors,
                                            N_("The re-read")};
const imaging_window_job partial_reread_job = {
    N_(" Partial re-reading completed in %.2lf seconds [%d/%d]"), 1,
    idle_finish_rereading_sectors, N_("The re-read")};

const imaging_window_job *job_of(reread_selection selection)
{
    return selection == SELECT_ALL ? &full_reread_job : &partial_reread_job;
}

// The image file the re-read writes back to, taken at the start.
std::string reread_path;

// The five workers: the engine re-reads on the connection the worker opened
// and saves the image back to its file.
void run_reread(reread_selection selection)
{
    int handle = operation_open_port_and_sync(imaging_window_idle_failed, ped.device);
    if (handle < 0)
        return;
    engine_ui ui = imaging_window_ui(job_of(selection));
    engine_sector_job job = dumps_job_from_ped(handle);
    job.path = reread_path.c_str();
    job.heading_shown = 1;
    job.md5 = imaging_window_current_naming()->md5;
    job.notify_beyond_35 = options_notify_tracks_beyond_35;
    job.notify_side_b = options_notify_side_b_1571;
    // Another disk in the drive is asked about before any sector is taken.
    job.same_disk_check = 1;
    engine_reread(&ui, selection, &job);
}

// Runs the track-range dialog; 1 with ped's range set when accepted.
int ask_track_range(void)
{
    GtkWidget *dialog = create_dialog_track_range();
    GtkSpinButton *start =
        GTK_SPIN_BUTTON(lookup_widget(dialog, "spinbutton_track_range_start_track"));
    GtkSpinButton *end = GTK_SPIN_BUTTON(lookup_widget(dialog, "spinbutton_track_range_end_track"));
    int low, high;
    engine_track_range_bounds(gtk_spin_button_get_value_as_int(start),
                               gtk_spin_button_get_value_as_int(end), options_outmost_track, &low,
                               &high);
    gtk_spin_button_set_range(start, low, high);
    gtk_spin_button_set_range(end, low, high);
    gtk_spin_button_set_value(start, low);
    gtk_spin_button_set_value(end, high);
    int accepted = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
    if (accepted)
        engine_track_range_resolve(gtk_spin_button_get_value_as_int(start),
                                    gtk_spin_button_get_value_as_int(end), options_outmost_track,
                                    &ped.range_first_track, &ped.range_last_track);
    gtk_widget_destroy(dialog);
    return accepted;
}

struct reread_operation {
    reread_selection selection;
    const char *thread_name;
    void (*worker)(void);
};

void start_reread(const reread_operation &op)
{
    if (!unsaved_file_for_reread() || !operation_check_device_port())
        return;
    dumps_copy_controls_to_ped(op.selection == SELECT_ALL || op.selection == SELECT_ALLOCATED);
    if (op.selection == SELECT_TRACK_RANGE && !ask_track_range())
        return;

    char *status = g_strdup_printf(_(" Re-reading process started on drive %d"), ped.device);
    reread_path = utf8_path_lastopenfile_d64;
    gchar *heading = engine_reread_heading(op.selection, ped.outmost_track, ped.range_first_track,
                                           ped.range_last_track);
    log_warpsave_new(1);
    log_warpsave_append(heading);
    imaging_window_begin(job_of(op.selection));
    notebook_main_set_page(0);
    operation_start_info info = {status, heading, 0, 1, op.thread_name, op.worker, nullptr};
    operation_start(&info);
    g_free(status);
    g_free(heading);
}

const reread_operation reread_all = {SELECT_ALL, "reread_all",
                                     thread_reread_all_sectors_with_errors};
const reread_operation reread_dir_track = {SELECT_DIR_TRACK, "reread_dir_track",
                                           thread_reread_dir_track_sectors_with_errors};
const reread_operation reread_dir_track_prgs = {SELECT_DIR_TRACK_PRGS,
                                                "reread_dir_track_and_first_sector",
                                                thread_retry_dir_track_and_first_sector};
const reread_operation reread_track_range = {SELECT_TRACK_RANGE, "reread_track_range",
                                             thread_reread_track_range_sectors_with_errors};
const reread_operation reread_allocated = {SELECT_ALLOCATED, "reread_allocated_sectors",
                                           thread_reread_allocated_sectors};

void run_notification_checks(void)
{
    engine_ui checks = disk_checks_gui_ui();
    engine_notification_checks(&checks, options_notify_tracks_beyond_35,
                               options_notify_side_b_1571);
}

}  // namespace

GtkWidget *create_dialog_track_range(void)
{
    GtkWidget *dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), _("Track range"));
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (window_main)
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_main));
    widgets_register(dialog, dialog, "dialog_track_range");

    GtkWidget *vbox = GTK_DIALOG(dialog)->vbox;
    widgets_register(dialog, vbox, "vbox_track_range");
    GtkWidget *table = gtk_table_new(2, 2, FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(table), 6);
    gtk_table_set_row_spacings(GTK_TABLE(table), 2);
    gtk_box_pack_start(GTK_BOX(vbox), table, TRUE, TRUE, 0);
    widgets_register(dialog, table, "table_track_range");

    struct row {
        const char *label_text, *label_name, *spin_name, *tooltip;
        double value;
    } rows[] = {
        {N_("Start track of range: "), "label_track_range_start_track",
         "spinbutton_track_range_start_track", N_("Index of the start track"), 1},
        {N_("End track of range: "), "label_track_range_end_track",
         "spinbutton_track_range_end_track", N_("Index of the end track"), 40},
    };
    for (int i = 0; i < 2; i++) {
        GtkWidget *label = gtk_label_new(_(rows[i].label_text));
        gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
        gtk_table_attach(GTK_TABLE(table), label, 0, 1, i, i + 1, GTK_FILL, GTK_FILL, 0, 0);
        widgets_register(dialog, label, rows[i].label_name);
        GtkObject *adjustment = gtk_adjustment_new(rows[i].value, 1, 40, 1, 10, 0);
        GtkWidget *spin = gtk_spin_button_new(GTK_ADJUSTMENT(adjustment), 1, 0);
        gtk_spin_button_set_numeric(GTK_SPIN_BUTTON(spin), TRUE);
        gtk_widget_set_tooltip_text(spin, _(rows[i].tooltip));
        gtk_table_attach(GTK_TABLE(table), spin, 1, 2, i, i + 1,
                         (GtkAttachOptions)(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
        widgets_register(dialog, spin, rows[i].spin_name);
    }

    GtkWidget *buttons = GTK_DIALOG(dialog)->action_area;
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    widgets_register(dialog, buttons, "hbuttonbox_track_range");
    widgets_register(dialog,
                     gtk_dialog_add_button(GTK_DIALOG(dialog), "gtk-cancel", GTK_RESPONSE_CANCEL),
                     "cancelbutton_track_range");
    GtkWidget *ok = gtk_dialog_add_button(GTK_DIALOG(dialog), "gtk-ok", GTK_RESPONSE_OK);
    widgets_register(dialog, ok, "okbutton_track_range");
    gtk_widget_set_can_default(ok, TRUE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gtk_widget_show_all(vbox);
    return dialog;
}

void core_load_d64_file_for_rereads(const char *path)
{
    // Loading resets the image store that a running worker writes into.
    if (operation_is_running() || !unsaved_confirm(UNSAVED_LOAD))
        return;
    // The caller may pass the remembered path itself, which a failed load
    // frees.
    gchar *file = g_strdup(path);
    statusbar_main_update(_(" Loading disk image"));
    log_textview_append("================================\n");
    log_textview_append("Loading disk image\n");

    sector_reads_reset_image_and_views();

    // The reset has forgotten the remembered path; only a load that
    // succeeds ties the image to its file again.
    guint64 size = 0;
    filer_load_problem problem;
    if (!filer_load_d64_image(file, &size, &problem)) {
        statusbar_main_update(problem.status);
        log_textview_append(problem.log.c_str());
        g_free(file);
        return;
    }
    utf8_path_lastopenfile_d64 = g_strdup(file);
    unsaved_forget();
    if (char *undefined = engine_replace_undefined_errors()) {
        log_warpsave_and_log_textview_append(undefined);
        log_warpsave_and_log_textview_append("\n");
        g_free(undefined);
    }

    drawingarea_sector_grid_refresh_from_error_info();
    if (verify_and_correct_misaligned_tracks(0) != 0)
        drawingarea_sector_grid_refresh_from_error_info();

    if (dumps_show_directory_and_allocated_sectors()) {
        if (d64_is_bam_sector_error_free(d64_storage))
            notebook_main_set_page(1);
        run_notification_checks();
    }
    dirview_mark_damaged_files(1);

    gchar *base = g_filename_display_basename(file);
    window_main_title_update(base);
    int errors = d64_count_accessible_sector_errors(d64_storage, 1, TRACKS);
    char *status = g_strdup_printf(_(" Disk image loaded [%d]: %s"), errors, base);
    statusbar_main_update(status);
    g_free(status);
    controls_set_accessible_sector_error_count(errors);
    char *line = g_strdup_printf("Completed (%s, %llu bytes)\n", base, (unsigned long long)size);
    log_textview_append(line);
    g_free(line);
    g_free(base);
    g_free(file);
    options_save_to_file();
}

void thread_reread_all_sectors_with_errors(void)
{
    run_reread(SELECT_ALL);
}

void thread_reread_dir_track_sectors_with_errors(void)
{
    run_reread(SELECT_DIR_TRACK);
}

void thread_retry_dir_track_and_first_sector(void)
{
    run_reread(SELECT_DIR_TRACK_PRGS);
}

void thread_reread_track_range_sectors_with_errors(void)
{
    run_reread(SELECT_TRACK_RANGE);
}

void thread_reread_allocated_sectors(void)
{
    run_reread(SELECT_ALLOCATED);
}

gboolean idle_finish_rereading_all_sectors(gpointer result)
{
    imaging_window_finish(static_cast<const imaging_window_result *>(result),
                          _(" Re-reading aborted: please wait for the drive to finish"),
                          _(" Re-reading failed: %s"));
    operation_finish_cleanup();
    return FALSE;
}

gboolean idle_finish_rereading_sectors(gpointer result)
{
    return idle_finish_rereading_all_sectors(result);
}

void on_menuitem_load_d64_file_for_rereads_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    char *path = nullptr;
    if (!fileopen_load_d64_file(&path, _("Select a disk image for re-reading sectors with errors"),
                                utf8_path_lastopenfile_d64))
        return;
    core_load_d64_file_for_rereads(path);
    g_free(path);
}

void on_menuitem_reread_all_sectors_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_reread(reread_all);
}

void on_menuitem_reread_dir_track_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_reread(reread_dir_track);
}

void on_menuitem_reread_dir_track_and_first_sector_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_reread(reread_dir_track_prgs);
}

void on_menuitem_reread_track_range_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_reread(reread_track_range);
}

void on_menuitem_reread_based_on_bam_contents_activate(GtkMenuItem *item, gpointer data)
{
    (void)item;
    (void)data;
    start_reread(reread_allocated);
}

void on_window_main_drag_data_received(GtkWidget *, GdkDragContext *context, gint, gint,
                                       GtkSelectionData *selection, guint, guint time, gpointer)
{
    char *file_name = window_main_drop_file_name(selection);
    if (!file_name) {
        gtk_drag_finish(context, FALSE, FALSE, time);
        return;
    }
    char *folder = g_path_get_dirname(file_name);
    options_set_string(&options_d64_dir_string, folder);
    g_free(folder);
    // Loading ties the image to the file once it has been read.
    core_load_d64_file_for_rereads(file_name);
    g_free(file_name);
    gtk_drag_finish(context, TRUE, FALSE, time);
    gtk_window_present(GTK_WINDOW(window_main));
}
