// End-to-end imaging speed: the simulator streams a whole 35-track disk as
// fast as the pty allows.  Beside each dump by the client (menu item to
// finisher, as its timer measures it) a plain reader drains the same "ws"
// stream from the same simulator; the ratio should stay below 1.5.  While the
// client's pass runs, a 2 ms ticker on the GUI main loop records the longest
// gap between two of its runs (the longest time the loop was blocked).
//
// Run under an X server: xvfb-run -a build/bench/imaging_e2e_bench [runs]
#include <gtk/gtk.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "device/console.h"
#include "device/serial.h"
#include "tests/gui/support/imaging_support.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

const size_t PASS_BYTES = 683 * 324;  // one packet per sector of a full disk

double now()
{
    return g_get_monotonic_time() / 1e6;
}

// Port open to the last byte of the pass, reading as much as is there.
double plain_reader_seconds(const std::string &port)
{
    std::atomic<int> no_abort{0};
    double t0 = now();
    int handle = -1;
    if (!serial_connect_and_configure_port(&handle, port.c_str()))
        return -1;
    double result = -1;
    if (console_synch_with_device(handle, &no_abort) &&
        console_execute_command(handle, "ws 35 8 1", &no_abort)) {
        static unsigned char buffer[65536];
        size_t got = 0;
        while (got < PASS_BYTES) {
            pollfd p = {handle, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0)
                break;
            ssize_t n = read(handle, buffer, std::min(sizeof buffer, PASS_BYTES - got));
            if (n <= 0)
                break;
            got += (size_t)n;
        }
        if (got == PASS_BYTES)
            result = now() - t0;
        console_synch_with_device(handle, &no_abort);
    }
    serial_disconnect_port(handle);
    return result;
}

struct client_run {
    double timer_seconds = -1;  // what the finisher reports
    double span_seconds = -1;   // start text to completion text
    double wall_seconds = -1;   // menu item to the finisher's first tick after
    double max_gap_ms = 0;      // longest main-loop gap before the finisher
    double finisher_ms = 0;     // the gap that held the finisher (save, checks)
};

// The finisher reports as soon as it starts, so the moment its status text
// is pushed ends the measured span; the start text begins it.
struct span {
    double start = -1, end = -1;
};

void on_text_pushed(GtkStatusbar *, guint, gchar *text, gpointer data)
{
    auto *sp = static_cast<span *>(data);
    std::string t = text ? text : "";
    if (t.rfind(" Imaging process started", 0) == 0)
        sp->start = now();
    else if (t.rfind(" Imaging completed in ", 0) == 0)
        sp->end = now();
}

struct ticker_state {
    GMainLoop *loop;
    double last;
    double start;
    client_run *run;
};

gboolean tick(gpointer data)
{
    auto *st = static_cast<ticker_state *>(data);
    double t = now();
    double gap = (t - st->last) * 1000.0;
    st->last = t;
    bool finished = shell_status_text().rfind(" Imaging completed in ", 0) == 0;
    if (finished && st->run->wall_seconds < 0) {
        st->run->wall_seconds = t - st->start;
        st->run->finisher_ms = gap;
    } else if (!finished) {
        st->run->max_gap_ms = std::max(st->run->max_gap_ms, gap);
    }
    if (!operation_is_running()) {
        g_main_loop_quit(st->loop);
        return FALSE;
    }
    return TRUE;
}

client_run client_dump()
{
    client_run run;
    span sp;
    GtkWidget *bar = lookup_widget(window_main, "statusbar_main");
    gulong handler = g_signal_connect(bar, "text-pushed", G_CALLBACK(on_text_pushed), &sp);
    ticker_state st = {g_main_loop_new(nullptr, FALSE), now(), now(), &run};
    gtk_menu_item_activate(
        GTK_MENU_ITEM(lookup_widget(window_main, "menuitem_dump_the_whole_disk")));
    st.last = now();
    g_timeout_add(2, tick, &st);
    g_main_loop_run(st.loop);
    g_main_loop_unref(st.loop);
    g_signal_handler_disconnect(bar, handler);
    if (sp.start > 0 && sp.end > 0)
        run.span_seconds = sp.end - sp.start;
    std::string status = shell_status_text();
    sscanf(status.c_str(), " Imaging completed in %lf", &run.timer_seconds);
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? atoi(argv[1]) : 5;
    if (runs < 1)
        runs = 1;
    shell_test_start();
    std::string dir = scratch_dir_new();
    std::string out = dir + "/images";
    g_mkdir_with_parents(out.c_str(), 0700);
    img_prepare_window(out, 2, 10, 1);
    options_create_md5_digest = 1;

    sim_process sim{};
    if (!sim_start(&sim, {"--blank", "8"})) {
        fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }
    options_set_string(&options_device_port_string, sim.port.c_str());

    std::vector<double> plain, client, wall, gaps;
    printf("run  plain_s  client_s  ratio  client_timer_s  wall_incl_finisher_s  max_loop_gap_ms  "
           "finisher_ms\n");
    for (int i = 0; i < runs; i++) {
        // The simulator notices a client's close and the next open by
        // polling: give it time so both readers meet it idle.
        shell_pump(150);
        double p = plain_reader_seconds(sim.port);
        shell_pump(150);
        client_run c = client_dump();
        if (p <= 0 || c.span_seconds <= 0) {
            fprintf(stderr, "run %d failed (plain %.3f, client %.3f): %s\n", i, p,
                    c.timer_seconds, shell_status_text().c_str());
            continue;
        }
        printf("%3d  %7.4f  %8.4f  %5.2f  %14.2f  %20.3f  %15.1f  %11.1f\n", i, p,
               c.span_seconds, c.span_seconds / p, c.timer_seconds, c.wall_seconds, c.max_gap_ms,
               c.finisher_ms);
        plain.push_back(p);
        client.push_back(c.span_seconds);
        wall.push_back(c.wall_seconds);
        gaps.push_back(c.max_gap_ms);
    }
    if (!plain.empty()) {
        printf("median: plain %.4f s, client %.4f s, client incl. finisher %.3f s, "
               "ratio client/plain %.2f, worst loop gap during the pass %.1f ms\n",
               median(plain), median(client), median(wall), median(client) / median(plain),
               *std::max_element(gaps.begin(), gaps.end()));
    }
    sim_stop(&sim);
    scratch_dir_remove(dir);
    return plain.empty() ? 1 : 0;
}
