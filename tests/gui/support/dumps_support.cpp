#include "dumps_support.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstdarg>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

std::string dumps_disk::file(bool plain) const
{
    return plain ? data : data + std::string(errors.begin(), errors.end());
}

std::vector<dumps_file_entry> dumps_disk::directory() const
{
    std::vector<dumps_file_entry> entries;
    int t = 18, s = 1, number = 0;
    for (int sectors = 0; sectors < 18 && t == 18 && s < 19; sectors++) {
        const unsigned char *b =
            reinterpret_cast<const unsigned char *>(data.data()) + 256 * geometry_block(t, s);
        for (int i = 0; i < 8; i++) {
            const unsigned char *e = b + 32 * i;
            number++;
            if (e[2] == 0)
                continue;
            std::string name(reinterpret_cast<const char *>(e + 5), 16);
            name = name.substr(0, name.find('\xa0'));
            entries.push_back({number, name, e[2] & 0x3F, e[3], e[4]});
        }
        t = b[0];
        s = b[1];
    }
    return entries;
}

bool dumps_disk::allocated(int t, int s) const
{
    const unsigned char *bam = reinterpret_cast<const unsigned char *>(data.data()) +
                               256 * geometry_block(18, 0) + 4 * t;
    return !(bam[1 + s / 8] & (1 << (s % 8)));
}

void dumps_disk::set_allocated(int t, int s)
{
    unsigned char *bam =
        reinterpret_cast<unsigned char *>(&data[256 * geometry_block(18, 0) + 4 * t]);
    if (bam[1 + s / 8] & (1 << (s % 8))) {
        bam[1 + s / 8] &= (unsigned char)~(1 << (s % 8));
        bam[0]--;
    }
}

bool dumps_read_disk(const std::string &path, int tracks, dumps_disk *disk)
{
    bool ok = false;
    std::string bytes = scratch_read(path, &ok);
    size_t base = 256u * geometry_blocks(tracks);
    if (!ok || (bytes.size() != base && bytes.size() != base + geometry_blocks(tracks)))
        return false;
    disk->tracks = tracks;
    disk->data = bytes.substr(0, base);
    if (bytes.size() == base)
        disk->errors.assign(geometry_blocks(tracks), 0x01);
    else
        disk->errors.assign(bytes.begin() + base, bytes.end());
    return true;
}

bool dumps_build_disk(const std::string &dir, int tracks, dumps_disk *disk)
{
    std::string d64 = dir + "/source.d64";
    std::vector<std::string> args = {"-n", "rescue me", "-i", "ab"};
    if (tracks == 40)
        args.push_back("-4");
    const struct {
        const char *name, *type;
        size_t size;
    } files[] = {{"loader", "PRG", 300}, {"game", "PRG", 30000}, {"notes", "SEQ", 600},
                 {"data", "PRG", 2000},  {"tail", "PRG", 9000}};
    int i = 0;
    for (const auto &f : files) {
        std::string content(f.size, '\0');
        uint32_t x = 0x9E3779B9u * ++i;
        for (char &c : content) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = (char)(x >> 24);
        }
        std::string local = dir + "/" + f.name + ".bin";
        if (!scratch_write(local, content))
            return false;
        args.insert(args.end(), {"-T", f.type, "-f", f.name, "-w", local});
    }
    args.push_back(d64);
    std::string out, err;
    if (!cc1541_run(args, &out, &err) || !dumps_read_disk(d64, tracks, disk))
        return false;

    // cc1541 fills the disk from track 1 in directory order; swapping the
    // first and the last entry puts the directory out of track order.
    char *dir_sector = disk->block(18, 1);
    std::string first(dir_sector + 2, 30);
    std::copy(dir_sector + 4 * 32 + 2, dir_sector + 4 * 32 + 32, dir_sector + 2);
    std::copy(first.begin(), first.end(), dir_sector + 4 * 32 + 2);

    // LOADER starts with one BASIC line: 10 PRINT"HI"
    for (const dumps_file_entry &e : disk->directory()) {
        if (e.name != "LOADER")
            continue;
        const unsigned char program[] = {0x01, 0x08, 0x0b, 0x08, 0x0a, 0x00, 0x99, '"',
                                         'H',  'I',  '"',  0x00, 0x00, 0x00};
        std::string bytes(reinterpret_cast<const char *>(program), sizeof program);
        disk->data.replace(256 * geometry_block(e.track, e.sector) + 2, bytes.size(), bytes);
    }
    return true;
}

namespace {
GtkWidget *w(const char *name)
{
    return lookup_widget(window_main, name);
}
}  // namespace

void dumps_prepare_window(int retries, int max_errors, int outmost)
{
    gtk_combo_box_set_active(GTK_COMBO_BOX(w("combobox_drive")), 0);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(w("checkbutton_pre_initialize_disk")), FALSE);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(w("spinbutton_sector_read_retries")), retries);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(w("spinbutton_max_sector_errors")), max_errors);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(w("spinbutton_outmost_track")), outmost);
}

void dumps_set_auto_naming(bool on, const std::string &folder, bool side_b, int offset)
{
    shell_set_auto_naming(on);
    if (!folder.empty())
        options_set_string(&options_d64_dir_string, folder.c_str());
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(w(side_b ? "radiobutton_disk_dump_auto_naming_side_b"
                                   : "radiobutton_disk_dump_auto_naming_side_a")),
        TRUE);
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(w("spinbutton_disk_dump_auto_naming_offset")),
                              offset);
}

bool dumps_wait_idle(int timeout_ms)
{
    return shell_pump_until([] { return !operation_is_running(); }, timeout_ms);
}

int dumps_count(const std::string &text, const std::string &piece)
{
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        n++;
    return n;
}

bool dumps_in_order(const std::string &text, const std::vector<std::string> &pieces)
{
    size_t at = 0;
    for (const std::string &p : pieces) {
        at = text.find(p, at);
        if (at == std::string::npos)
            return false;
        at += p.size();
    }
    return true;
}

std::string dumps_fmt(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    char *text = g_strdup_vprintf(format, args);
    va_end(args);
    std::string s = text;
    g_free(text);
    return s;
}
