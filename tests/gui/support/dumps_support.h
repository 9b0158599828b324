// Helpers for the special-dump and re-read tests: a cc1541 disk of the
// build's track count with error bytes set in code, the simulator serving
// it, and the main-window settings a dump or re-read reads.
#pragma once

#include "tests/support/geometry.h"

#include <cstdint>
#include <string>
#include <vector>


struct dumps_file_entry {
    int number;  // 1-based directory position
    std::string name;
    int type;    // type byte & 0x3F
    int track, sector;
};

// A disk image as bytes plus one error byte per block.
struct dumps_disk {
    int tracks = 35;
    std::string data;
    std::vector<uint8_t> errors;

    char *block(int t, int s) { return &data[256 * geometry_block(t, s)]; }
    uint8_t &error(int t, int s) { return errors[geometry_block(t, s)]; }
    // D64 with error info (or without, when plain).
    std::string file(bool plain = false) const;
    std::vector<dumps_file_entry> directory() const;
    // Whether the BAM marks t/s as used (tracks 1 to 35).
    bool allocated(int t, int s) const;
    void set_allocated(int t, int s);
};

// "RESCUE ME": in directory order TAIL (7/18), GAME (1/20), the SEQ NOTES,
// DATA (6/1) and LOADER (1/0, a BASIC line in its first sector), every
// error byte 0x01.
bool dumps_build_disk(const std::string &dir, int tracks, dumps_disk *disk);
// Loads a D64 (error info optional).
bool dumps_read_disk(const std::string &path, int tracks, dumps_disk *disk);

// Main-window controls: drive 8, retries, max errors, outermost track, and
// auto naming (on: into folder with side/offset; the folder question is not
// asked).
void dumps_prepare_window(int retries, int max_errors, int outmost);
void dumps_set_auto_naming(bool on, const std::string &folder = std::string(), bool side_b = false,
                           int offset = 1);
// Pumps until the running operation has finished.
bool dumps_wait_idle(int timeout_ms = 60000);

int dumps_count(const std::string &text, const std::string &piece);
// True when the pieces occur in `text` in this order.
bool dumps_in_order(const std::string &text, const std::vector<std::string> &pieces);
std::string dumps_fmt(const char *format, ...);
