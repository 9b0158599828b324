// What a batch of disks read one after another shows: a line after each
// disk, a warning when a disk reads exactly as the one before, and a table
// at the end.
#pragma once

#include <string>
#include <vector>

struct cli_batch_disk {
    int number;            // from 1
    int status;            // the disk's exit status
    std::string file;      // the image saved, or ""
    std::string name, id;  // from the header (ID: its two characters), readable; "" when unread
    int good, bad;
    int damaged;           // files hit by bad sectors, -1 when not known
    bool same_as_previous; // the image equals the disk read before it
};

struct cli_batch {
    std::vector<cli_batch_disk> disks;
    std::vector<unsigned char> previous_image;  // the last saved image, with its error info
};

// Takes the disk just read from the image store (name, ID, and whether it
// equals the previous one), prints its line and, when it equals the one
// before, the warning; on stderr.
void cli_batch_disk_done(cli_batch *batch, cli_batch_disk disk, bool saved);
// The table of every disk read, on stderr.
void cli_batch_print_summary(const cli_batch *batch);
