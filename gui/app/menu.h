// Where the window's menu items, buttons and own signals meet the jobs they
// start: the menu bar row by row (text, accelerator, handler) and the
// handlers of the main window's named widgets.
#pragma once

#include "gui/windows/window_main.h"

// The menu bar in its order, for create_window_main.
extern const window_main_menu_row menu_rows[];
extern const int menu_row_count;

// The buttons, the auto-naming check box and the window's own signals.
extern const window_main_binding menu_bindings[];
extern const int menu_binding_count;
