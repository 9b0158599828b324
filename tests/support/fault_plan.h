// Faults for the simulator, drawn from a seed and turned into its
// arguments: one generator for the window's fault campaign and the command
// line's fault plans.  Both lean towards the ends of tracks, where a lost
// packet leaves the track of the next one in doubt.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

typedef std::pair<int, int> fault_ts;  // track, sector

// What the simulator is told to do wrong.
struct fault_set {
    std::set<fault_ts> corrupt, drop;           // --corrupt-checksum, --drop
    std::set<int> no_sector;                    // --no-sector-track
    std::map<fault_ts, std::vector<int>> sequence;  // --sequence: error codes in turn
    std::map<fault_ts, int> renumber;           // --sector-number
    std::map<fault_ts, int> reply;              // --reply-sector: re-reads answered with another
    int corrupt_random = 0;                     // --corrupt-random N with --seed corrupt_seed
    uint64_t corrupt_seed = 0;
    long long silent_after = -1, hangup_after = -1;  // bytes, -1: never
    int trickle = 0;
    bool timing = false;                        // --drive-timing
};

// The seeded draws, each from [0, n) or true with the given percent.
struct fault_rng {
    std::mt19937_64 engine;
    explicit fault_rng(uint64_t seed) : engine(seed) {}
    int pick(int n) { return (int)(engine() % (uint64_t)n); }
    bool chance(int percent) { return pick(100) < percent; }
};

// "T/S".
std::string fault_ts_text(fault_ts ts);
// The simulator's arguments for the faults, kind by kind in a fixed order.
std::vector<std::string> fault_args(const fault_set &f);
// Where the simulator's whole-disk pass ends and starts on a track: the
// sectors of its last and first packet.
int fault_last_packet_sector(int track);
int fault_first_packet_sector(int track);
// The command line's draw: 1 to 4 packet faults on tracks 1 to 34, and with
// `device` a device that hangs up or (*silent) falls silent.
fault_set fault_draw_cli(fault_rng &rng, bool device, bool *silent);
