#include "shell_support.h"

#include <glib/gstdio.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "gui/app/startup.h"
#include "device/detect.h"
#include "tests/support/scratch_dir.h"
#include "gui/app/controls.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

const char *const shell_test_user_ini =
    "[imaging]\n"
    "drive_index=2\n"
    "max_sector_errors=55\n"
    "sector_read_retries=7\n"
    "outmost_track=3\n"
    "[interface]\n"
    "font_description=Monospace 13\n"
    "expansion=2\n";

static std::string config_home;

// The lock file of one display, shared by every test process on the machine.
static std::string display_lock_path(const std::string &display)
{
    std::string name;
    for (char c : display)
        name += g_ascii_isalnum(c) ? c : '_';
    return std::string(g_get_tmp_dir()) + "/dravlen-test-display-" + name + ".lock";
}

void shell_claim_display()
{
    std::vector<std::string> displays;
    const char *listed = g_getenv("DRAVLEN_TEST_DISPLAYS");
    if (listed && *listed) {
        gchar **parts = g_strsplit_set(listed, " ", -1);
        for (gchar **p = parts; *p; p++)
            if (**p)
                displays.push_back(*p);
        g_strfreev(parts);
    } else if (g_getenv("DISPLAY") && *g_getenv("DISPLAY")) {
        displays.push_back(g_getenv("DISPLAY"));
    }
    if (displays.empty())
        return;
    std::vector<int> fds;
    for (const std::string &d : displays)
        // Close-on-exec: programs a test starts must not keep the claim.
        fds.push_back(open(display_lock_path(d).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    for (;;) {
        for (size_t i = 0; i < displays.size(); i++) {
            if (fds[i] < 0 || flock(fds[i], LOCK_EX | LOCK_NB) != 0)
                continue;
            g_setenv("DISPLAY", displays[i].c_str(), TRUE);
            for (size_t j = 0; j < fds.size(); j++)
                if (j != i && fds[j] >= 0)
                    close(fds[j]);
            return;  // fds[i] stays open, and locked, until the process ends
        }
        if (std::none_of(fds.begin(), fds.end(), [](int fd) { return fd >= 0; })) {
            // No lock files to be had: run unguarded rather than not at all.
            g_setenv("DISPLAY", displays[0].c_str(), TRUE);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

const std::string &shell_test_start()
{
    if (!config_home.empty())
        return config_home;
    config_home = scratch_dir_new();
    std::string folder = config_home + "/dravlen-client";
    g_mkdir_with_parents(folder.c_str(), 0700);
    scratch_write(folder + "/user.ini", shell_test_user_ini);
    g_setenv("XDG_CONFIG_HOME", config_home.c_str(), TRUE);
    // Choosers without a folder of their own open in the home folder: keep
    // whatever a test saves there out of the real one.
    std::string home = config_home + "/home";
    g_mkdir_with_parents((home + "/.local/share").c_str(), 0700);
    g_setenv("HOME", home.c_str(), TRUE);
    // Port detection looks only at what a test puts into this folder.
    g_mkdir_with_parents(shell_test_ports_folder().c_str(), 0700);
    detect_set_probe_globs({shell_test_ports_folder() + "/*"});
    // Without an X server every later step would crash somewhere else.  A
    // loaded server now and then refuses a connection for a moment (seen
    // once in a few thousand test starts): a few more tries before giving up.
    bool opened = gtk_init_check(nullptr, nullptr);
    for (int attempt = 0; !opened && attempt < 10; attempt++) {
        g_usleep(200 * 1000);
        opened = gtk_init_check(nullptr, nullptr);
    }
    if (!opened)
        g_error("cannot open display %s", g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "(unset)");
    startup_initialise();
    shell_pump(50);
    std::atexit([] { scratch_dir_remove(config_home); });
    return config_home;
}

std::string shell_test_ports_folder()
{
    return config_home + "/ports";
}

std::string shell_test_config_path()
{
    return shell_test_start() + "/dravlen-client/user.ini";
}

bool shell_pump_until(const std::function<bool()> &cond, int timeout_ms)
{
    gint64 end = g_get_monotonic_time() + (gint64)timeout_ms * 1000;
    while (!cond()) {
        if (g_get_monotonic_time() > end)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void shell_pump(int ms)
{
    shell_pump_until([] { return false; }, ms);
}

void shell_send_key(GtkWidget *window, guint keyval)
{
    GdkEvent *event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(window->window));
    event->key.keyval = keyval;
    event->key.send_event = TRUE;
    gtk_widget_event(window, event);
    gdk_event_free(event);
}

namespace {
struct pending_answer {
    std::string name;
    int response = 0;
    std::function<void(GtkWidget *)> before;
    std::shared_ptr<bool> done;
    bool prepared = false;
    gint64 answer_at = 0;
    int delay_ms = 0;
    bool responded = false;
    bool resend = false;  // set up again, to be answered at answer_at
    GtkWidget *answered = nullptr;  // weak: cleared when the dialog is destroyed
    // True once the dialog shows what `before` set up; a chooser applies a
    // new folder only when it has read it, which under load takes seconds.
    std::function<bool(GtkWidget *)> ready;
    gint64 give_up_at = 0;   // answer anyway after this
    gint64 set_up_again_at = 0;
};

GtkWidget *find_toplevel(const std::string &name)
{
    GtkWidget *found = nullptr;
    GList *list = gtk_window_list_toplevels();
    for (GList *l = list; l; l = l->next) {
        GtkWidget *w = GTK_WIDGET(l->data);
        if (gtk_widget_get_visible(w) && name == gtk_widget_get_name(w))
            found = w;
    }
    g_list_free(list);
    return found;
}

gboolean answer_tick(gpointer data)
{
    auto *p = static_cast<pending_answer *>(data);
    if (p->responded) {
        // A file chooser can hold back a response while it is still reading
        // its folder under load: answer again until the dialog has gone,
        // rather than leave the test stuck in the dialog's loop.
        if (p->answered && gtk_widget_get_visible(p->answered)) {
            if (g_get_monotonic_time() < p->answer_at)
                return TRUE;
            // Set the dialog up again (a chooser may have lost a file name
            // it was given while it changed folders), then answer after a
            // pause for the folder to load.
            if (!p->resend) {
                if (p->before)
                    p->before(p->answered);
                p->resend = true;
                p->answer_at = g_get_monotonic_time() + 300000;
                return TRUE;
            }
            p->resend = false;
            p->answer_at = g_get_monotonic_time() + 500000;
            gtk_dialog_response(GTK_DIALOG(p->answered), p->response);
            return TRUE;
        }
        if (p->answered)
            g_object_remove_weak_pointer(G_OBJECT(p->answered), (gpointer *)&p->answered);
        delete p;
        return FALSE;
    }
    GtkWidget *dialog = find_toplevel(p->name);
    if (!dialog)
        return TRUE;
    gint64 now = g_get_monotonic_time();
    if (!p->prepared) {
        if (p->before)
            p->before(dialog);
        p->prepared = true;
        p->answer_at = now + (gint64)p->delay_ms * 1000;
        p->set_up_again_at = p->answer_at + 2000000;
        p->give_up_at = now + 20000000;
        return TRUE;
    }
    if (now < p->answer_at)
        return TRUE;
    if (p->ready && !p->ready(dialog) && now < p->give_up_at) {
        // Not there yet: wait, and now and then set it up again in case the
        // chooser dropped what it was given while changing folders.
        if (now >= p->set_up_again_at) {
            if (p->before)
                p->before(dialog);
            p->set_up_again_at = now + 2000000;
        }
        return TRUE;
    }
    p->responded = true;
    p->answered = dialog;
    g_object_add_weak_pointer(G_OBJECT(dialog), (gpointer *)&p->answered);
    p->answer_at = g_get_monotonic_time() + 500000;
    *p->done = true;
    gtk_dialog_response(GTK_DIALOG(dialog), p->response);
    return TRUE;
}
}  // namespace

static std::shared_ptr<bool> answer_when_ready(const char *name, int response,
                                               std::function<void(GtkWidget *)> before,
                                               int delay_ms,
                                               std::function<bool(GtkWidget *)> ready)
{
    auto *p = new pending_answer();
    p->name = name;
    p->response = response;
    p->before = std::move(before);
    p->done = std::make_shared<bool>(false);
    p->delay_ms = delay_ms;
    p->ready = std::move(ready);
    auto done = p->done;
    g_timeout_add(20, answer_tick, p);
    return done;
}

std::shared_ptr<bool> shell_answer_dialog(const char *name, int response,
                                          std::function<void(GtkWidget *)> before, int delay_ms)
{
    return answer_when_ready(name, response, std::move(before), delay_ms, {});
}

// True when the chooser would hand out `path` now.
static bool chooser_holds(GtkWidget *d, const std::string &path)
{
    gchar *current = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
    bool same = current && path == current;
    g_free(current);
    return same;
}

std::shared_ptr<bool> shell_choose_load(const std::string &path, int delay_ms)
{
    return answer_when_ready(
        "filechooserdialog_load", GTK_RESPONSE_OK,
        [path](GtkWidget *d) { gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(d), path.c_str()); },
        delay_ms, [path](GtkWidget *d) { return chooser_holds(d, path); });
}

std::shared_ptr<bool> shell_choose_save(const std::string &folder, const std::string &name,
                                        int delay_ms)
{
    std::string path = folder + "/" + name;
    return answer_when_ready(
        "filechooserdialog_save", GTK_RESPONSE_OK,
        [folder, name](GtkWidget *d) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), folder.c_str());
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), name.c_str());
        },
        delay_ms, [path](GtkWidget *d) { return chooser_holds(d, path); });
}

void shell_set_auto_naming(bool on)
{
    GtkWidget *check = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
    g_signal_handlers_block_by_func(check, (gpointer)on_checkbutton_disk_dump_auto_naming_toggled,
                                    nullptr);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), on);
    g_signal_handlers_unblock_by_func(check,
                                      (gpointer)on_checkbutton_disk_dump_auto_naming_toggled,
                                      nullptr);
}

std::string shell_log_text()
{
    GtkTextBuffer *buffer =
        gtk_text_view_get_buffer(GTK_TEXT_VIEW(lookup_widget(window_main, "textview_log")));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    char *text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string s = text;
    g_free(text);
    return s;
}

void shell_log_clear()
{
    GtkTextBuffer *buffer =
        gtk_text_view_get_buffer(GTK_TEXT_VIEW(lookup_widget(window_main, "textview_log")));
    gtk_text_buffer_set_text(buffer, "", 0);
}

std::string shell_status_text()
{
    // The status bar keeps its message in a label inside its frame.
    GtkStatusbar *bar = GTK_STATUSBAR(lookup_widget(window_main, "statusbar_main"));
    return gtk_label_get_text(GTK_LABEL(bar->label));
}

static void catch_warning(const gchar *, GLogLevelFlags, const gchar *message, gpointer data)
{
    auto *c = static_cast<shell_warning_catcher *>(data);
    c->text += message;
    c->text += "\n";
}

shell_warning_catcher::shell_warning_catcher()
{
    handler = g_log_set_handler(nullptr, G_LOG_LEVEL_WARNING, catch_warning, this);
}

shell_warning_catcher::~shell_warning_catcher()
{
    g_log_remove_handler(nullptr, handler);
}

bool shell_save_snapshot(GtkWidget *widget, const std::string &path)
{
    shell_pump(300);
    gtk_widget_queue_draw(widget);
    gdk_window_process_updates(widget->window, TRUE);
    gdk_display_sync(gtk_widget_get_display(widget));
    GdkPixbuf *shot = shell_widget_snapshot(widget);
    if (!shot)
        return false;
    bool saved = gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, NULL);
    g_object_unref(shot);
    return saved;
}

GdkPixbuf *shell_widget_snapshot(GtkWidget *widget)
{
    GdkPixmap *pixmap = gtk_widget_get_snapshot(widget, nullptr);
    if (!pixmap)
        return nullptr;
    gint width = 0, height = 0;
    gdk_drawable_get_size(pixmap, &width, &height);
    GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(nullptr, pixmap, gtk_widget_get_colormap(widget),
                                                   0, 0, 0, 0, width, height);
    g_object_unref(pixmap);
    return shot;
}

bool shell_snap_window(GtkWidget *window, const std::string &path, int settle_ms)
{
    gtk_widget_show(window);
    gtk_window_present(GTK_WINDOW(window));
    shell_pump(settle_ms);
    return shell_save_snapshot(window, path);
}

std::string shell_screenshot_dir()
{
    const char *dir = g_getenv("DRAVLEN_SCREENSHOT_DIR");
    if (!dir || !*dir)
        return "";
    g_mkdir_with_parents(dir, 0755);
    return dir;
}
