#include "gui/app/startup.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdio>

#include <initializer_list>
#include <string>
#include <vector>

#include "gui/app/controls.h"
#include "gui/app/menu.h"
#include "gui/windows/log.h"
#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "device/console.h"
#include "image/d64.h"
#include "gui/jobs/unsaved.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/sector_contents_window.h"
#include "gui/windows/sector_grid.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

#include "gui/drawing/c64pixbufs.h"
#include "gui/drawing/dirview.h"
#include "gui/windows/dirview_panel.h"
#include "gui/drawing/palette.h"
#include "gui/windows/settings.h"
#include "version.h"

const char *startup_initialise(void)
{
    palette_module_init();
    c64pixbufs_module_init();
    d64_module_init();
    d64_storage_init_and_set_to_not_ready();

    window_main = create_window_main(menu_rows, menu_row_count, menu_bindings, menu_binding_count);
    dirview_module_init();
    sector_grid_module_init();
    gtk_widget_show(window_main);
    g_signal_connect(window_main, "destroy", G_CALLBACK(quit_program), nullptr);
    gtk_drag_dest_set(window_main,
                      (GtkDestDefaults)(GTK_DEST_DEFAULT_MOTION | GTK_DEST_DEFAULT_DROP),
                      target_list, n_targets,
                      (GdkDragAction)(GDK_ACTION_COPY | GDK_ACTION_MOVE));

    window_connection_settings = create_window_connection_settings();
    window_format_parameters = create_window_format_parameters();
    window_application_settings = create_window_application_settings();
    window_sector_contents = create_window_sector_contents();

    notebook_main_set_page(2);
    notebook_main_set_page(1);
    notebook_main_set_page(0);

    controls_install_window_position();
    const char *path = options_module_init();
    char *text =
        g_strdup_printf("Started Dravlen client " DRAVLEN_VERSION "\nConfiguration file: %s\n", path);
    log_textview_append(text);
    g_free(text);

    controls_adjust_from_options();
    window_main_set_textview_fonts();

    progressbar_main = lookup_widget(window_main, "progressbar_main");
    gtk_widget_show(window_sector_contents);
    gtk_widget_hide(window_sector_contents);

#if TRACKS == 40
    for (const char *name : {"button_save_PRG", "button_load_PRG", "button_scratch_file",
                             "button_validate_disk", "button_format_disk",
                             "menuitem_dump_bam_based"})
        gtk_widget_hide(lookup_widget(window_main, name));
    gtk_widget_hide(lookup_widget(window_application_settings,
                                  "checkbutton_application_settings_show_notifications_"
                                  "tracks_beyond_35"));
#endif
    gtk_widget_hide(lookup_widget(window_main, "menuitem_reread_based_on_bam_contents"));
    return path;
}

void prepare_to_quit_program(void)
{
    flag_abort_requested.store(1, std::memory_order_relaxed);
    widgets_run_quit_cleanups();
}

void on_menuitem_quit_activate(GtkMenuItem *, gpointer)
{
    if (!unsaved_confirm_quit())
        return;
    options_save_to_file();
    prepare_to_quit_program();
    gtk_main_quit();
}

gboolean on_window_main_delete_event(GtkWidget *, GdkEvent *, gpointer)
{
    if (!unsaved_confirm_quit())
        return TRUE;
    options_save_to_file();
    prepare_to_quit_program();
    return FALSE;
}

void quit_program(GtkWidget *, gpointer)
{
    prepare_to_quit_program();
    gtk_main_quit();
}

// ---------------------------------------------------------------- signals

namespace {

// How long a running job may take to end after the abort a signal sent.
const int signal_wait_ms = 10000;

struct signal_ending {
    int signal;      // 0: no signal has come
    gint64 since_us; // when it came
};
signal_ending ending = {0, 0};

void end_after_signal(void)
{
    std::string why;
    std::string kept = unsaved_keep(&why);
    if (!kept.empty())
        fprintf(stderr, "dravlen-client: ended by signal %d: the unsaved read was saved to %s\n",
                ending.signal, kept.c_str());
    else if (!why.empty())
        fprintf(stderr, "dravlen-client: ended by signal %d: the unsaved read could not be "
                        "saved: %s\n",
                ending.signal, why.c_str());
    options_save_to_file();
    // Without a main loop (the tests pump events themselves) there is
    // nothing to leave, and the next signal is watched for afresh.
    if (gtk_main_level() > 0) {
        prepare_to_quit_program();
        gtk_main_quit();
    } else {
        ending = {0, 0};
    }
}

gboolean wait_for_the_job(gpointer)
{
    if (operation_is_running() &&
        g_get_monotonic_time() - ending.since_us < (gint64)signal_wait_ms * 1000)
        return TRUE;
    end_after_signal();
    return FALSE;
}

gboolean on_ending_signal(gpointer data)
{
    // A second signal while the job ends: end now with what there is.
    if (ending.signal) {
        ending.since_us = 0;
        return TRUE;
    }
    ending = {GPOINTER_TO_INT(data), g_get_monotonic_time()};
    if (operation_is_running())
        flag_abort_requested.store(1, std::memory_order_relaxed);
    // Runs with the GDK lock, as the job finishers do.
    gdk_threads_add_timeout(50, wait_for_the_job, nullptr);
    return TRUE;
}

}  // namespace

int startup_ending_signal(void)
{
    return ending.signal;
}

void startup_watch_signals(void)
{
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) {
        // One the program was started to ignore (nohup, a background job's
        // Ctrl+C) stays ignored.
        struct sigaction now = {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN)
            continue;
        g_unix_signal_add(sig, on_ending_signal, GINT_TO_POINTER(sig));
    }
}
