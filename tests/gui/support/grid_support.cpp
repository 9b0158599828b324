#include "tests/gui/support/grid_support.h"

#include <cairo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/d64.h"
#include "image/directory.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/sector_grid.h"

bool grid_load_cc1541_disk(const std::string &diskname, const std::vector<cc1541_file> &files,
                           std::string *error)
{
    if (!cc1541_available()) {
        *error = "cc1541 not installed";
        return false;
    }
    std::string dir = scratch_dir_new();
    std::string path = dir + "/disk.d64";
    bool built = cc1541_build_d64(path, diskname, "ID", files, error);
    bool ok = false;
    std::string bytes = built ? scratch_read(path, &ok) : std::string();
    scratch_dir_remove(dir);
    if (!built || !ok)
        return false;
    // cc1541 writes 35 tracks; the 40-track store keeps its extra tracks empty.
    memset(d64_storage, 0, (size_t)d64_base_size);
    memcpy(d64_storage, bytes.data(), std::min(bytes.size(), (size_t)d64_base_size));
    grid_set_all_errors(D64_ERR_OK);
    return true;
}

void grid_set_all_errors(uint8_t code)
{
    memset(d64_storage + d64_base_size, code, (size_t)d64_block_error_info_size);
}

bool grid_file_start(int n, int *track, int *sector)
{
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(d64_storage, &pos, &entry);
    for (int i = 0; i < n; i++)
        if (!d64_next_dir_entry(d64_storage, &pos, &entry))
            return false;
    *track = entry[D64_ENTRY_FIRST_TRACK];
    *sector = entry[D64_ENTRY_FIRST_SECTOR];
    return true;
}

grid_rgb grid_rgb_of(double r, double g, double b)
{
    auto byte = [](double v) { return (int)(v * 255.0 + 0.5); };
    return {byte(r), byte(g), byte(b)};
}

grid_rgb grid_surface_pixel(int x, int y)
{
    cairo_surface_flush(surface_sector_grid);
    const unsigned char *data = cairo_image_surface_get_data(surface_sector_grid);
    int stride = cairo_image_surface_get_stride(surface_sector_grid);
    uint32_t px;
    memcpy(&px, data + y * stride + x * 4, 4);
    return {(int)(px >> 16 & 0xFF), (int)(px >> 8 & 0xFF), (int)(px & 0xFF)};
}

grid_rgb grid_pixbuf_pixel(GdkPixbuf *pixbuf, int x, int y)
{
    const guchar *p = gdk_pixbuf_get_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) +
                      x * gdk_pixbuf_get_n_channels(pixbuf);
    return {p[0], p[1], p[2]};
}

std::ostream &operator<<(std::ostream &os, const grid_rgb &c)
{
    char text[16];
    snprintf(text, sizeof text, "#%02X%02X%02X", c.r, c.g, c.b);
    return os << text;
}

bool grid_rgb_near(grid_rgb a, grid_rgb b)
{
    return std::abs(a.r - b.r) <= 1 && std::abs(a.g - b.g) <= 1 && std::abs(a.b - b.b) <= 1;
}

std::string grid_rgb_text(grid_rgb c)
{
    char text[32];
    snprintf(text, sizeof text, "(%d, %d, %d)", c.r, c.g, c.b);
    return text;
}
