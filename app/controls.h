// Copying options into the main window's controls, and the auto-naming
// controls.
#pragma once

void controls_adjust_from_options(void);
// Lets a save of the options store where the main window stands now.
void controls_install_window_position(void);
