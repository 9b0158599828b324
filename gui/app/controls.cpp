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

int window_position(int *x, int *y)
{
    if (!window_main || !position_restored)
        return 0;
    gtk_window_get_position(GTK_WINDOW(window_main), x, y);
    return 1;
}

}  // namespace

void controls_install_window_position(void)
{
    options_window_position_hook = window_position;
}
