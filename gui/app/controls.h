// Copying options into the main window's controls, and the auto-naming
// controls.
#pragma once

void controls_adjust_from_options(void);
// Points the image-file module at the GUI (questions, logs, auto naming).
void controls_install_filer_hooks(void);
