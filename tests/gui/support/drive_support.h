// Helpers for the drive operation tests: a scripted monitor on a raw pty for
// the answers the simulator cannot give, reading text back from the
// directory panel, and small file helpers.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A stand-in device: prints the prompt, echoes every command line and
// answers the ones in `answers` (exact line without CR) with their bytes,
// then prompts again.  Lines without an answer get only the echo and the
// prompt; "de N" without an answer of its own gets a drive's "00, OK,00,00",
// so that a job finds its drive there.  With restore_mode set, a "wr" line is played as a restore: "d"
// before each packet, the sector/track of each packet recorded.
struct fake_monitor {
    int master = -1;
    int slave = -1;
    std::string path;
    std::map<std::string, std::string> answers;
    bool restore_mode = false;
    std::mutex lock;
    std::vector<std::string> lines;            // command lines received
    std::vector<std::pair<int, int>> packets;  // track, sector of "wr" packets
    std::atomic<int> stop{0};
    std::thread worker;
};

bool fake_monitor_start(fake_monitor *m);
void fake_monitor_stop(fake_monitor *m);
std::vector<std::string> fake_monitor_lines(fake_monitor *m);

// Little-endian 16-bit count followed by nothing: the chunk header of "dd".
std::string drive_u16(int value);

// Text on row `row` of the directory panel, read cell by cell; cells that
// show no printable character of $20-$5F read as '?'.
std::string drive_panel_row(int row);

// Every data byte of an Intel HEX text, laid out from address 0 (gaps 0xFF).
std::string drive_hex_data(const std::string &hex);
