// Helpers for the imaging tests: disks built with cc1541 and patched in
// code (error info, track layouts), the simulator as the device, and running
// a whole-disk dump through the main window until its finisher has run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/gui/support/dumps_support.h"
#include "tests/support/sim_process.h"

// A cc1541 disk of a few PRG files (deterministic contents).  tracks 40 uses
// the 40-track layout; g64 also writes the raw GCR form (35 tracks only).
bool img_build_disk(const std::string &dir, const std::string &name, int tracks,
                    std::string *d64, std::string *g64 = nullptr);

// A D64 (35 tracks) as bytes plus one error byte per block.
struct img_disk {
    std::string data;              // 256 bytes per block
    std::vector<uint8_t> errors;   // one per block
    int tracks = 35;
    const char *block(int t, int s) const { return data.data() + 256 * geometry_block(t, s); }
    uint8_t &error(int t, int s) { return errors[geometry_block(t, s)]; }
    std::string file() const;      // D64 with error info
};
bool img_load(const std::string &path, img_disk *disk);
bool img_save(const std::string &path, const img_disk &disk);

// What the imaging tests change in the one main window and the options of
// the test process, kept so that later tests find what start-up left.
struct img_window_state;
img_window_state *img_window_state_save();
void img_window_state_restore(img_window_state *state);  // frees it

// Main-window settings for a dump: auto naming into `folder`, the three
// spin buttons, drive 8, no pre-initialisation.
void img_prepare_window(const std::string &folder, int retries, int max_errors, int outmost);
// Starts the dump from the menu item and pumps until the controls are back.
bool img_run_dump(int timeout_ms = 60000);
// The one image file saved in the folder, or "".
std::string img_saved_image(const std::string &folder);
