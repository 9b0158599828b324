// Helpers for tests that drive the whole main window: one start-up per test
// process with its own configuration folder, pumping the main loop, and
// answering modal dialogs from a timer.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

// Picks this process's X display before anything opens one.  Every GUI
// test process holds its display alone (windows of two tests would overlap
// and steal focus): it takes a lock on it that lasts until the process ends.
// DRAVLEN_TEST_DISPLAYS may list several displays, separated by spaces; the
// first one free is taken and DISPLAY set to it, so tests run side by side,
// one per display.  Without it, DISPLAY is the only one, and tests take turns.
void shell_claim_display();

// Options written to user.ini before the one start-up of the process.
extern const char *const shell_test_user_ini;

// Starts the program's windows once (XDG_CONFIG_HOME in a scratch folder
// holding shell_test_user_ini).  Returns the configuration folder.
const std::string &shell_test_start();
std::string shell_test_config_path();
// The folder that port detection probes (links to simulators go here).
std::string shell_test_ports_folder();

// Runs the main loop until cond() holds or timeout_ms pass; returns cond().
bool shell_pump_until(const std::function<bool()> &cond, int timeout_ms);
void shell_pump(int ms);
// A key press sent to `window`, which hands it to its focus widget as
// typing does.
void shell_send_key(GtkWidget *window, guint keyval);
// Lets the widget settle, renders it off screen (other windows never show)
// and saves it as a PNG; false when nothing could be rendered or saved.
bool shell_save_snapshot(GtkWidget *widget, const std::string &path);
// What the widget shows on screen (its expose handler run off screen);
// null if it cannot be drawn.  Unref the result.
GdkPixbuf *shell_widget_snapshot(GtkWidget *widget);
// Shows and raises a window, lets the X server map and paint it for
// settle_ms, then saves it as shell_save_snapshot does.
bool shell_snap_window(GtkWidget *window, const std::string &path, int settle_ms = 100);
// The folder DRAVLEN_SCREENSHOT_DIR names, made if missing; "" when it is
// unset or empty (the screenshot tests skip then).
std::string shell_screenshot_dir();

// Answers the next dialog called `name` with `response` once it is shown.
// Before answering, `before` runs with the dialog (may be empty).  The
// returned flag becomes true when the dialog was answered.
std::shared_ptr<bool> shell_answer_dialog(const char *name, int response,
                                          std::function<void(GtkWidget *)> before = {},
                                          int delay_ms = 0);

// Answers the next load chooser with OK after picking `path`, or the next
// save chooser after going to `folder` and typing `name`.  A chooser changes
// folders in the background: delay_ms gives it time.
std::shared_ptr<bool> shell_choose_load(const std::string &path, int delay_ms = 300);
std::shared_ptr<bool> shell_choose_save(const std::string &folder, const std::string &name,
                                        int delay_ms = 300);

// Ticks or clears auto naming without its toggle handler, which would ask
// for a folder.
void shell_set_auto_naming(bool on);

// Text of the log view and of the main status bar.
std::string shell_log_text();
std::string shell_status_text();
void shell_log_clear();

// Collects warnings logged while it lives.
struct shell_warning_catcher {
    shell_warning_catcher();
    ~shell_warning_catcher();
    std::string text;
    guint handler;
};
