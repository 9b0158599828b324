// Helpers for the sector grid and sector contents tests: disks made with
// cc1541 put into the image store, and pixels read from the grid.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/cc1541_tool.h"

// Builds a disk with cc1541 in a scratch folder and copies it into the
// image store with every error byte 0x01 (tracks the file does not cover
// stay zero).  Returns false with a reason in *error.
bool grid_load_cc1541_disk(const std::string &diskname, const std::vector<cc1541_file> &files,
                           std::string *error);
// Sets every error byte of the store.
void grid_set_all_errors(uint8_t code);
// First track and sector of the n-th directory entry (0-based).
bool grid_file_start(int n, int *track, int *sector);

struct grid_rgb {
    int r, g, b;
    bool operator==(const grid_rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};
// As #RRGGBB, for test messages.
std::ostream &operator<<(std::ostream &os, const grid_rgb &c);
// The 8-bit colour cairo stores for a colour given as doubles.
grid_rgb grid_rgb_of(double r, double g, double b);
// Pixel of the off-screen grid surface; of a pixbuf.
grid_rgb grid_surface_pixel(int x, int y);
grid_rgb grid_pixbuf_pixel(GdkPixbuf *pixbuf, int x, int y);
// Each channel within one step (cairo rounds).
bool grid_rgb_near(grid_rgb a, grid_rgb b);
std::string grid_rgb_text(grid_rgb c);
