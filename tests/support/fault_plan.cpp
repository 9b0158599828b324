#include "tests/support/fault_plan.h"

#include "tests/support/geometry.h"

std::string fault_ts_text(fault_ts ts)
{
    return std::to_string(ts.first) + "/" + std::to_string(ts.second);
}

std::vector<std::string> fault_args(const fault_set &f)
{
    std::vector<std::string> args;
    for (const fault_ts &ts : f.corrupt)
        args.insert(args.end(), {"--corrupt-checksum", fault_ts_text(ts)});
    for (const fault_ts &ts : f.drop)
        args.insert(args.end(), {"--drop", fault_ts_text(ts)});
    for (int t : f.no_sector)
        args.insert(args.end(), {"--no-sector-track", std::to_string(t)});
    for (const auto &seq : f.sequence) {
        std::string codes;
        for (int c : seq.second)
            codes += (codes.empty() ? "" : ",") + std::to_string(c);
        args.insert(args.end(), {"--sequence", fault_ts_text(seq.first) + "=" + codes});
    }
    for (const auto &r : f.renumber)
        args.insert(args.end(),
                    {"--sector-number", fault_ts_text(r.first) + "=" + std::to_string(r.second)});
    for (const auto &r : f.reply)
        args.insert(args.end(),
                    {"--reply-sector", fault_ts_text(r.first) + "=" + std::to_string(r.second)});
    if (f.corrupt_random)
        args.insert(args.end(), {"--corrupt-random", std::to_string(f.corrupt_random), "--seed",
                                 std::to_string(f.corrupt_seed)});
    if (f.silent_after >= 0)
        args.insert(args.end(), {"--silent-after", std::to_string(f.silent_after)});
    if (f.hangup_after >= 0)
        args.insert(args.end(), {"--hangup-after", std::to_string(f.hangup_after)});
    if (f.trickle)
        args.insert(args.end(), {"--trickle", std::to_string(f.trickle)});
    if (f.timing)
        args.push_back("--drive-timing");
    return args;
}

int fault_last_packet_sector(int t)
{
    int n = geometry_sectors(t);
    return ((t * 7 + 3) % n + n - 1) % n;
}

int fault_first_packet_sector(int t)
{
    return (t * 7 + 3) % geometry_sectors(t);
}

fault_set fault_draw_cli(fault_rng &rng, bool device, bool *silent)
{
    fault_set f;
    int faults = 1 + rng.pick(4);
    for (int i = 0; i < faults; i++) {
        int t = 1 + rng.pick(34);
        int any_s = rng.pick(geometry_sectors(t));
        // The last packet of a track carries its highest sectors.
        fault_ts end(t, geometry_sectors(t) - 1 - rng.pick(2));
        fault_ts any(t, any_s);
        switch (rng.pick(8)) {
        case 0:
            f.drop.insert(rng.pick(2) ? end : any);
            break;
        case 1:
            f.corrupt.insert(rng.pick(2) ? end : any);
            break;
        case 2:  // a lost end of track before a track without sync
            f.drop.insert(end);
            f.no_sector.insert(t + 1);
            break;
        case 3:
            f.no_sector.insert(1 + rng.pick(35));
            break;
        case 4: {
            static const std::vector<int> codes[] = {{1, 5}, {5, 1}, {9, 9, 1}, {5}, {3, 1}, {2, 6, 1}};
            f.sequence[any] = codes[rng.pick(6)];
            break;
        }
        case 5:
            f.renumber[any] = rng.pick(2) ? 25 : rng.pick(geometry_sectors(t));
            break;
        case 6:  // the re-read of a lost sector answered with another one
            f.drop.insert(any);
            f.reply[any] = (any_s + 1 + rng.pick(geometry_sectors(t) - 1)) % geometry_sectors(t);
            break;
        default:
            f.corrupt_random = 1 + rng.pick(4);
            f.corrupt_seed = rng.engine() % 1000000007;
            break;
        }
    }
    *silent = false;
    if (device) {
        if (rng.pick(2)) {
            f.hangup_after = rng.pick(250000);
        } else {
            f.silent_after = rng.pick(250000);
            *silent = true;
        }
    }
    return f;
}
