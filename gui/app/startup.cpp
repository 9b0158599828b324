#include "gui/app/startup.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include <initializer_list>
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
