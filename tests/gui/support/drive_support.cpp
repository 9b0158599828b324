#include "drive_support.h"

#include <gtk/gtk.h>

#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "gui/drawing/c64pixbufs.h"
#include "gui/drawing/dirview.h"

namespace {

// Writes everything unless asked to stop.
bool put(fake_monitor *m, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        if (m->stop)
            return false;
        ssize_t n = write(m->master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += (size_t)n;
        } else {
            pollfd p{m->master, POLLOUT, 0};
            poll(&p, 1, 20);
        }
    }
    return true;
}

// Reads exactly n bytes unless asked to stop.
bool get(fake_monitor *m, uint8_t *out, size_t n)
{
    size_t done = 0;
    while (done < n) {
        if (m->stop)
            return false;
        pollfd p{m->master, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        ssize_t k = read(m->master, out + done, n - done);
        if (k > 0)
            done += (size_t)k;
    }
    return true;
}

void play_restore(fake_monitor *m)
{
    for (;;) {
        uint8_t packet[324];
        if (!put(m, "d") || !get(m, packet, sizeof packet))
            return;
        std::lock_guard<std::mutex> g(m->lock);
        m->packets.push_back({packet[323], packet[322]});
        if (packet[323] == 0)
            return;
    }
}

void serve(fake_monitor *m)
{
    const std::string prompt = "\r\n> ";
    if (!put(m, prompt))
        return;
    std::string line;
    while (!m->stop) {
        uint8_t c;
        if (!get(m, &c, 1))
            return;
        if (c != '\r') {
            line += (char)c;
            continue;
        }
        {
            std::lock_guard<std::mutex> g(m->lock);
            m->lines.push_back(line);
        }
        if (!put(m, line + "\r\n"))
            return;
        auto answer = m->answers.find(line);
        if (answer != m->answers.end() && !put(m, answer->second))
            return;
        // Every job first asks whether its drive is there.
        if (answer == m->answers.end() && line.rfind("de ", 0) == 0 &&
            !put(m, std::string("OK\x0c") + "00, OK,00,00"))
            return;
        if (m->restore_mode && line.rfind("wr ", 0) == 0)
            play_restore(m);
        if (!put(m, prompt))
            return;
        line.clear();
    }
}

}  // namespace

bool fake_monitor_start(fake_monitor *m)
{
    if (openpty(&m->master, &m->slave, nullptr, nullptr, nullptr) != 0)
        return false;
    termios tio;
    tcgetattr(m->slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(m->slave, TCSANOW, &tio);
    fcntl(m->master, F_SETFL, fcntl(m->master, F_GETFL) | O_NONBLOCK);
    m->path = ttyname(m->slave);
    m->worker = std::thread(serve, m);
    return true;
}

void fake_monitor_stop(fake_monitor *m)
{
    m->stop = 1;
    if (m->worker.joinable())
        m->worker.join();
    if (m->master >= 0)
        close(m->master);
    if (m->slave >= 0)
        close(m->slave);
    m->master = m->slave = -1;
}

std::vector<std::string> fake_monitor_lines(fake_monitor *m)
{
    std::lock_guard<std::mutex> g(m->lock);
    return m->lines;
}

std::string drive_u16(int value)
{
    return std::string{(char)(value & 0xFF), (char)((value >> 8) & 0xFF)};
}

namespace {

// The panel draws glyphs unchanged: a cell shows a glyph when every pixel
// has the same colour.
bool cell_equals(GdkPixbuf *picture, int column, int row, GdkPixbuf *glyph)
{
    int pn = gdk_pixbuf_get_n_channels(picture), gn = gdk_pixbuf_get_n_channels(glyph);
    int prs = gdk_pixbuf_get_rowstride(picture), grs = gdk_pixbuf_get_rowstride(glyph);
    const guchar *p = gdk_pixbuf_get_pixels(picture);
    const guchar *g = gdk_pixbuf_get_pixels(glyph);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            if (memcmp(p + (row * 8 + y) * prs + (column * 8 + x) * pn, g + y * grs + x * gn, 3))
                return false;
    return true;
}

}  // namespace

std::string drive_panel_row(int row)
{
    GdkPixbuf **font = c64pixbufs_get_quoted_font_array();
    std::string text;
    for (int column = 0; column < FILER_COLUMNS; column++) {
        char found = '?';
        for (int c = 0x20; c < 0x60; c++)
            if (cell_equals(pixbuf_directory_listing, column, row, font[c])) {
                found = (char)c;
                break;
            }
        text += found;
    }
    return text;
}

std::string drive_hex_data(const std::string &hex)
{
    std::string data;
    size_t pos = 0;
    while ((pos = hex.find(':', pos)) != std::string::npos) {
        auto byte = [&](size_t i) { return (int)std::stoul(hex.substr(pos + 1 + 2 * i, 2), nullptr, 16); };
        int count = byte(0), address = byte(1) << 8 | byte(2), type = byte(3);
        if (type == 0) {
            if (data.size() < (size_t)(address + count))
                data.resize(address + count, '\xff');
            for (int i = 0; i < count; i++)
                data[address + i] = (char)byte(4 + i);
        }
        pos++;
    }
    return data;
}
