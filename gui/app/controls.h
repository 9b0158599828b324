// Copying options into the main window's controls, and the auto-naming
// controls.
#pragma once

#include <gtk/gtk.h>

void controls_adjust_from_options(void);
// Lets a save of the options store where the main window stands now.
void controls_install_window_position(void);

// The auto-naming box: the side and offset controls follow it.
void on_checkbutton_disk_dump_auto_naming_toggled(GtkToggleButton *button, gpointer data);
