// Shared state of the one running operation: the record handed from the GUI
// handler to its worker and finisher, the abort flag and the lock that guards
// the progress values while a worker runs.  GLib-only, so the device layer and
// the tests can use it without GTK.
#pragma once

#include <atomic>
#include <mutex>

struct operation_data {
    int device;            // IEC device number, 8 to 11
    int pre_initialize;    // send "di" before a disk read
    char file_name[17];    // C64 file name, up to 16 characters
    int received_size;     // bytes received so far
    int total_size;        // expected blocks or ROM pages
    char command[64];      // command word for the generic command worker
    double progress;       // 0.0 to 1.0, under lock_ped while a worker runs
    int max_sector_errors;
    int tries_per_sector;
    int outmost_track;     // 1 to 5
    int range_first_track;
    int range_last_track;
};

extern operation_data ped;
extern std::mutex lock_ped;

// Set to 0 when an operation starts, to 1 by Abort and by quitting; every
// serial read and write checks it.
extern std::atomic<int> flag_abort_requested;


// 1 while an operation runs: the GUI sets it as it locks and unlocks its
// controls, and whatever would replace the image store checks it.
void operation_set_running(int running);
int operation_is_running(void);

// Progress helpers that take lock_ped.
void ped_set_progress(double fraction);
double ped_get_progress();
