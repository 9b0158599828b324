#include "gui/jobs/drive_commands.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "gui/jobs/operation.h"

static void start_drive_command(const char *command, const char *thread_name,
                                const char *status_format, const char *log_title)
{
    char *status = g_strdup_printf(status_format, combo_active_drive_get_index() + 8);
    core_console_cmd_execute(command, thread_name, status, log_title);
    g_free(status);
}

void on_menuitem_initialize_activate(GtkMenuItem *, gpointer)
{
    start_drive_command("di", "initialize", _(" Initialization requested on drive %d"),
                        "Initializing drive\n");
}

void on_menuitem_reset_drive_activate(GtkMenuItem *, gpointer)
{
    start_drive_command("rs", "reset_drive", _(" Reset requested on drive %d"),
                        "Resetting drive\n");
}

void on_menuitem_reset_the_iec_bus_activate(GtkMenuItem *, gpointer)
{
    core_console_cmd_execute("rb", "reset_bus", _(" Reset of the IEC bus requested"),
                             "Resetting IEC bus\n");
}
