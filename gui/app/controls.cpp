#include "gui/app/controls.h"

#include <gtk/gtk.h>
#include <glib/gi18n.h>

#include "gui/windows/log.h"
#include "engine/options.h"
#include "image/imagefile.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/placement.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

// Until the stored position is applied, saving keeps the stored one.
static int position_restored = 0;

static GtkWidget *main_widget(const char *name)
{
    return lookup_widget(window_main, name);
}

void controls_adjust_from_options(void)
{
    gtk_combo_box_set_active(GTK_COMBO_BOX(main_widget("combobox_drive")), options_drive_index);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(main_widget("spinbutton_max_sector_errors")),
                              options_max_sector_errors);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(main_widget("spinbutton_sector_read_retries")),
                              options_sector_read_retries);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(main_widget("spinbutton_outmost_track")),
                              options_outmost_track);
    // The zoom item saves the options while the window still stands where
    // it opened: until the stored position is applied (at the zoomed size,
    // inside the screen), saving keeps the stored one.
    if (options_expansion == 1)
        gtk_menu_item_activate(GTK_MENU_ITEM(main_widget("menuitem_zoom_2x")));
    else if (options_expansion == 2)
        gtk_menu_item_activate(GTK_MENU_ITEM(main_widget("menuitem_zoom_4x")));
    if (options_window_main_position)
        placement_move_on_screen(GTK_WINDOW(window_main), options_window_main_position[0],
                                 options_window_main_position[1]);
    position_restored = 1;
}

void on_checkbutton_disk_dump_auto_naming_toggled(GtkToggleButton *button, gpointer)
{
    if (gtk_toggle_button_get_active(button) && !fileopen_select_folder()) {
        // Without a folder there is nowhere to put generated names; this
        // re-enters the handler once with the box inactive.
        gtk_toggle_button_set_active(button, FALSE);
        return;
    }
    if (gtk_toggle_button_get_active(button))
        options_save_to_file();
    GtkWidget *label = main_widget("label_save_image_to_D64");
    gtk_label_set_text_with_mnemonic(GTK_LABEL(label), gtk_toggle_button_get_active(button)
                                                           ? _("Warp_save to D64")
                                                           : _("Warp_save to D64..."));
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), main_widget("button_save_image_to_D64"));
}

namespace {

int filer_confirm(const char *markup)
{
    return get_user_confirmation(markup) ? 1 : 0;
}

const char *filer_per_disk_log(int *length)
{
    if (!log_warpsave)
        return nullptr;
    *length = log_warpsave_get_len();
    return log_warpsave_get_str();
}

void filer_auto_naming_get(int *side_b, int *offset)
{
    *side_b = gtk_toggle_button_get_active(
        GTK_TOGGLE_BUTTON(main_widget("radiobutton_disk_dump_auto_naming_side_b")));
    *offset = gtk_spin_button_get_value_as_int(
        GTK_SPIN_BUTTON(main_widget("spinbutton_disk_dump_auto_naming_offset")));
}

void filer_auto_naming_set(int side_b, int offset)
{
    gtk_spin_button_set_value(
        GTK_SPIN_BUTTON(main_widget("spinbutton_disk_dump_auto_naming_offset")), offset);
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(main_widget(side_b ? "radiobutton_disk_dump_auto_naming_side_b"
                                             : "radiobutton_disk_dump_auto_naming_side_a")),
        TRUE);
}

int window_position(int *x, int *y)
{
    if (!window_main || !position_restored)
        return 0;
    gtk_window_get_position(GTK_WINDOW(window_main), x, y);
    return 1;
}

}  // namespace

void controls_install_filer_hooks(void)
{
    filer_hooks.confirm = filer_confirm;
    filer_hooks.status = statusbar_main_update;
    filer_hooks.log_view = log_textview_append;
    filer_hooks.log_both = log_warpsave_and_log_textview_append;
    filer_hooks.per_disk_log = filer_per_disk_log;
    filer_hooks.window_title = window_main_title_update;
    filer_hooks.auto_naming_get = filer_auto_naming_get;
    filer_hooks.auto_naming_set = filer_auto_naming_set;
    options_window_position_hook = window_position;
}
