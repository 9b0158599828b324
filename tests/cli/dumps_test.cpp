// dravlen dump and dravlen reread against the simulator: what lands in the
// files, the exit statuses, --tracks, Ctrl+C and bad input.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "engine/dumps.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_recorder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"

namespace {

const char *const program = TRACKS == 40 ? "dravlen40" : "dravlen";
const int sectors_all = TRACKS == 40 ? 768 : 683;

size_t sector_index(int track, int sector)
{
    static const int before[] = {0, 0, 21, 42, 63, 84, 105, 126, 147, 168, 189, 210, 231, 252,
                                 273, 294, 315, 336, 357, 376, 395, 414, 433, 452, 471, 490,
                                 508, 526, 544, 562, 580, 598, 615, 632, 649, 666, 683, 700,
                                 717, 734, 751};
    return (size_t)(before[track] + sector);
}

std::string sector_of(const std::string &d64, int track, int sector)
{
    return d64.substr(sector_index(track, sector) * 256, 256);
}

// The D64 plus an error byte per sector: `bad` get 0x05 and zeroed data.
std::string with_errors(std::string d64, const std::vector<std::pair<int, int>> &bad)
{
    std::string info((size_t)sectors_all, '\x01');
    for (auto [t, s] : bad) {
        info[sector_index(t, s)] = '\x05';
        d64.replace(sector_index(t, s) * 256, 256, std::string(256, '\0'));
    }
    return d64 + info;
}

// Runs the program in `cwd`; with sigint_after_ms, sends Ctrl+C then and
// measures how long it takes to end.
cli_run_result run_cli(const std::string &cwd, const std::string &config_home,
                       const std::vector<std::string> &args, int sigint_after_ms = -1)
{
    if (sigint_after_ms < 0)
        return cli_run(DRAVLEN_CLI_PATH, args, config_home, cwd);
    cli_run_result r =
        cli_run_interrupted(DRAVLEN_CLI_PATH, args, config_home, sigint_after_ms, cwd);
    if (r.ended_before_sigint)
        ADD_FAILURE() << "ended before Ctrl+C: " << r.err;
    return r;
}

class Dumps : public SimFixture {
protected:
    std::string work;
    std::string source;  // the disk's D64, this build's size

    void SetUp() override
    {
        SimFixture::SetUp();
        work = dir + "/work";
        ASSERT_EQ(g_mkdir(work.c_str(), 0700), 0);
        source = make_disk("disk.d64", "DUMP ME", "5X",
                           {{"LOADER", "PRG", false, false, 600},
                            {"NOTES", "SEQ", false, false, 5000},
                            {"GAME", "PRG", false, false, 12000}});
        ASSERT_EQ(source.size(), 683u * 256);
        // Tracks beyond 35 are there, empty, in the 40-track build.
        source.resize((size_t)sectors_all * 256, '\0');
        ASSERT_TRUE(scratch_write(dir + "/disk.d64", source));
    }
    void start_sim(std::vector<std::string> extra = {})
    {
        extra.insert(extra.begin(), {"--drive", "8=" + dir + "/disk.d64"});
        SimFixture::start_sim(extra);
    }
    cli_run_result run(std::vector<std::string> args, int sigint_after_ms = -1)
    {
        args.insert(args.begin(), {"--port", sim.port});
        return run_cli(work, config_home, args, sigint_after_ms);
    }
    std::string file(const std::string &name) { return scratch_read(work + "/" + name); }
};

// ---------------------------------------------------------------- dump

TEST_F(Dumps, DirDumpHoldsTheDirectoryTrackOfTheDiskAndNothingElse)
{
    start_sim();
    cli_run_result r = run({"dump", "dir", "t18.d64"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string saved = file("t18.d64");
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257) << "unread sectors need error info";
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            char error = saved[(size_t)sectors_all * 256 + sector_index(t, s)];
            if (t == 18) {
                EXPECT_EQ(sector_of(saved, t, s), sector_of(source, t, s)) << t << "/" << s;
                EXPECT_EQ(error, '\x01');
            } else {
                EXPECT_EQ(sector_of(saved, t, s), std::string(256, '\0')) << t << "/" << s;
                ASSERT_EQ(error, '\x03') << t << "/" << s;
            }
        }
    EXPECT_EQ(file("t18.d64.log").rfind("Log file created by", 0), 0u);
    EXPECT_TRUE(contains(file("t18.d64.log"), "Dumping track 18\n"));
    EXPECT_TRUE(contains(file("t18.d64.log"), "Correctly processed t/s 18/18 (checksum: $"));
    EXPECT_TRUE(contains(r.err, "19 sectors read: 19 good, 0 with errors")) << r.err;

    // The port may come from the GUI's options, which saving leaves alone.
    std::string folder = config_home + "/dravlen-client";
    ASSERT_EQ(g_mkdir_with_parents(folder.c_str(), 0700), 0);
    std::string ini = "[connection]\ndevice_port=" + sim.port + "\n";
    ASSERT_TRUE(scratch_write(folder + "/user.ini", ini));
    r = run_cli(work, config_home, {"dump", "dir", "again.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file("again.d64"), saved);
    EXPECT_EQ(scratch_read(folder + "/user.ini"), ini);
    EXPECT_EQ(scratch_list(folder), "user.ini");

    // An existing file is not replaced without a yes; --overwrite replaces it.
    ASSERT_TRUE(scratch_write(work + "/t18.d64", "keep"));
    r = run({"dump", "dir", "t18.d64"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(file("t18.d64"), "keep");
    r = run({"dump", "dir", "--overwrite", "t18.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(file("t18.d64"), saved);
}

TEST_F(Dumps, FirstSectorDumpNamesItselfAndReportsWhatItRead)
{
    start_sim({"--corrupt-checksum", "18/1"});
    cli_run_result r = run({"dump", "dir-first", "--json", "--retries", "0"});
    // Every answer for the directory sector 18/1 was lost: it stays unread
    // (code 3), the image is saved, status 3.
    ASSERT_EQ(r.status, 3) << r.err;
    ASSERT_EQ(line_count(r.out), 1) << r.out;
    EXPECT_TRUE(contains(r.out, "\"dump\":\"dir-first\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"bad_sectors\":[{\"track\":18,\"sector\":1,\"code\":3}]"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\"exit_status\":3")) << r.out;
    // No directory entries, so no first sector to read: only track 18.
    EXPECT_TRUE(contains(r.out, "\"sectors_read\":19")) << r.out;
    std::string listing = scratch_list(work);
    EXPECT_TRUE(contains(listing, "T18+")) << listing;
    EXPECT_TRUE(contains(listing, ".log")) << listing;
    sim_stop(&sim);

    // A sound directory: the first sector of each PRG is read too.
    start_sim();
    r = run({"dump", "dir-first", "dirfirst.d64", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"sectors_read\":21")) << r.out;
    std::string saved = file("dirfirst.d64");
    int read_outside_18 = 0;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++)
            if (t != 18 && saved[(size_t)sectors_all * 256 + sector_index(t, s)] == '\x01') {
                read_outside_18++;
                EXPECT_EQ(sector_of(saved, t, s), sector_of(source, t, s));
            }
    EXPECT_EQ(read_outside_18, 2);
}

TEST_F(Dumps, BamDumpReadsTheAllocatedSectorsOnly)
{
    if (TRACKS == 40) {
        start_sim();
        cli_run_result r = run({"dump", "bam", "x.d64"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(line_count(r.err), 1) << r.err;
        EXPECT_EQ(scratch_list(work), "");
        return;
    }
    start_sim();
    cli_run_result r = run({"dump", "bam", "bam.d64"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string saved = file("bam.d64");
    int read = 0;
    for (int t = 1; t <= TRACKS; t++)
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            char error = saved[(size_t)sectors_all * 256 + sector_index(t, s)];
            if (error == '\x01') {
                read++;
                EXPECT_EQ(sector_of(saved, t, s), sector_of(source, t, s));
            }
        }
    // 600 + 5000 + 12000 bytes in 254-byte blocks, the BAM and two directory sectors.
    EXPECT_GE(read, 3 + 21 + 48);
    EXPECT_LT(read, 3 + 21 + 48 + 19);
}

// ---------------------------------------------------------------- reread

TEST_F(Dumps, RereadAgainstAGoodDiskFixesTheFileInPlace)
{
    start_sim();
    std::string bad = with_errors(source, {{5, 3}, {18, 4}, {20, 2}});
    ASSERT_TRUE(scratch_write(work + "/disk.d64", bad));
    cli_run_result r = run({"reread", "disk.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Every sector clean again: the file is the disk, without error info.
    EXPECT_EQ(file("disk.d64"), source);
    std::string log = file("disk.d64-reread.log");
    EXPECT_EQ(log.rfind("Log file opened by", 0), 0u) << log;
    EXPECT_TRUE(contains(log, "Re-reading sectors with errors\n")) << log;
    EXPECT_TRUE(contains(log, "Correctly processed t/s 18/4  (checksum: $")) << log;

    // A clean file has nothing to re-read and is left alone.
    r = run({"reread", "disk.d64", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "No errors to correct on disk")) << r.err;
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"succeeded\"")) << r.out;
    EXPECT_EQ(file("disk.d64"), source);
}

TEST_F(Dumps, RereadAgainstAStillBadDiskKeepsTheErrorAndExitsThree)
{
    start_sim({"--corrupt-checksum", "5/3"});
    ASSERT_TRUE(scratch_write(work + "/disk.d64", with_errors(source, {{5, 3}, {20, 2}})));
    cli_run_result r = run({"reread", "disk.d64", "--json", "--retries", "2"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(r.out, "\"bad_sectors\":[{\"track\":5,\"sector\":3,\"code\":5}]"))
        << r.out;
    std::string saved = file("disk.d64");
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257);
    EXPECT_EQ(saved[(size_t)sectors_all * 256 + sector_index(5, 3)], '\x05');
    EXPECT_EQ(saved[(size_t)sectors_all * 256 + sector_index(20, 2)], '\x01');
    EXPECT_EQ(sector_of(saved, 20, 2), sector_of(source, 20, 2));

    // More errors than allowed: refused, the file untouched.
    std::string before = saved;
    r = run({"reread", "disk.d64", "--max-errors", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Too many errors to retry")) << r.err;
    EXPECT_EQ(file("disk.d64"), before);

    // An error byte no D64 defines is said on load and counts as not read:
    // outside the range re-read it is neither written back nor reported.
    std::string odd = with_errors(source, {{5, 3}});
    odd[(size_t)sectors_all * 256 + sector_index(20, 2)] = '\xFF';
    ASSERT_TRUE(scratch_write(work + "/odd.d64", odd));
    r = run({"reread", "odd.d64", "--tracks", "1-10", "--json"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(r.err, std::string(program) +
                                    ": warning: 1 sectors carry error bytes that no D64 defines "
                                    "(first 20/2: 0xFF); they count as not read\n"))
        << r.err;
    EXPECT_TRUE(contains(r.out, "{\"track\":20,\"sector\":2,\"code\":3}")) << r.out;
    EXPECT_EQ(file("odd.d64")[(size_t)sectors_all * 256 + sector_index(20, 2)], '\x03');
}

TEST_F(Dumps, TrackRangeLeavesSectorsOutsideItAlone)
{
    start_sim();
    ASSERT_TRUE(scratch_write(work + "/disk.d64", with_errors(source, {{5, 3}, {18, 4}, {20, 2}})));
    cli_run_result r = run({"reread", "disk.d64", "--tracks", "1-10"});
    EXPECT_EQ(r.status, 3) << r.err;
    std::string saved = file("disk.d64");
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257);
    const char *info = saved.data() + (size_t)sectors_all * 256;
    EXPECT_EQ(info[sector_index(5, 3)], '\x01');
    EXPECT_EQ(sector_of(saved, 5, 3), sector_of(source, 5, 3));
    EXPECT_EQ(info[sector_index(18, 4)], '\x05');
    EXPECT_EQ(info[sector_index(20, 2)], '\x05');
    EXPECT_TRUE(contains(file("disk.d64-reread.log"), "track range 1-10 (both inclusive)"));

    // A range without errors re-reads nothing; the errors outside remain.
    r = run({"reread", "disk.d64", "--tracks", "21-25"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(file("disk.d64"), saved);
}

TEST_F(Dumps, CtrlCDuringRereadLeavesTheFileByteIdentical)
{
    start_sim({"--drive-timing"});
    std::vector<std::pair<int, int>> bad;
    for (int t = 1; t <= 17; t++)
        for (int s = 0; s < 21; s += 4)
            bad.push_back({t, s});
    std::string original = with_errors(source, bad);
    ASSERT_TRUE(scratch_write(work + "/disk.d64", original));
    std::string listing = scratch_list(work);
    cli_run_result r = run({"reread", "disk.d64", "--max-errors", "999", "--json"}, 700);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_LT(r.seconds_after_sigint, 0.2);
    EXPECT_TRUE(contains(r.err, "interrupted")) << r.err;
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"interrupted\"")) << r.out;
    EXPECT_EQ(file("disk.d64"), original);
    EXPECT_EQ(scratch_list(work), listing) << "no log, no temporary file";

    // Same for a dump: nothing is written.
    r = run({"dump", "dir-first", "never.d64"}, 500);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_LT(r.seconds_after_sigint, 0.2);
    EXPECT_EQ(scratch_list(work), listing);
}

// Another disk, a link, a second re-read, a file changed meanwhile: the
// re-read never mixes two disks nor wipes out what it did not load.
TEST_F(Dumps, RereadKeepsToItsOwnDiskAndFile)
{
    start_sim({"--drive-timing"});
    std::string bad = with_errors(source, {{5, 3}, {20, 2}});
    std::string other = bad;
    other.replace(sector_index(18, 0) * 256 + 0x90, 5, "OTHER");
    ASSERT_TRUE(scratch_write(work + "/other.d64", other));
    cli_run_result r = run({"reread", "other.d64"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "drive 8: \"DUMP ME,5X\" where the image holds \"OTHERME,5X\" "
                                "(disk name and ID differ): not re-read"))
        << r.err;
    EXPECT_EQ(file("other.d64"), other) << "not one sector of the other disk taken";
    r = run({"reread", "other.d64", "--force"});
    EXPECT_EQ(r.status, 0) << r.err;

    // Through a link the linked file is replaced, in its own folder.
    ASSERT_EQ(g_mkdir((dir + "/kept").c_str(), 0700), 0);
    ASSERT_TRUE(scratch_write(dir + "/kept/disk.d64", bad));
    ASSERT_EQ(symlink((dir + "/kept/disk.d64").c_str(), (work + "/link.d64").c_str()), 0);
    r = run({"reread", "link.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(g_file_test((work + "/link.d64").c_str(), G_FILE_TEST_IS_SYMLINK));
    EXPECT_EQ(scratch_read(dir + "/kept/disk.d64"), source);
    EXPECT_TRUE(g_file_test((dir + "/kept/disk.d64-reread.log").c_str(), G_FILE_TEST_EXISTS));

    // A second re-read of a file being re-read is refused.
    ASSERT_TRUE(scratch_write(work + "/disk.d64", bad));
    int held = open((work + "/disk.d64").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    r = run({"reread", "disk.d64"});
    close(held);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "Another re-read of this image is running")) << r.err;
    EXPECT_EQ(file("disk.d64"), bad);

    // Changed while the re-read ran: kept, and the result goes beside it.
    cli_child c;
    ASSERT_TRUE(cli_child_start(&c, DRAVLEN_CLI_PATH,
                                {"--port", sim.port, "reread", "disk.d64", "--retries", "9"},
                                config_home, work));
    g_usleep(300 * 1000);
    std::string changed = with_errors(source, {{5, 3}});
    ASSERT_TRUE(scratch_write(work + "/disk.d64", changed));
    EXPECT_EQ(cli_child_finish(&c), 0) << c.err_text;
    EXPECT_EQ(file("disk.d64"), changed);
    EXPECT_EQ(file("disk-1.d64"), source);
    EXPECT_TRUE(contains(file("disk-1.d64-reread.log"),
                         "disk.d64 changed during the re-read: the result goes to disk-1.d64\n"));
}

// ---------------------------------------------------------------- the engine

// The engine as the GUI drives it: no saving, one outcome, last.
engine_ui recording_ui(engine_recorder *r)
{
    engine_ui ui = engine_recorder_ui(r);
    ui.sector_cell = [](void *user, int t, int s, int code, int) {
        auto *r = static_cast<engine_recorder *>(user);
        engine_recorder_event(r);
        if (code != ENGINE_CELL_READING && code != ENGINE_CELL_RETRYING)
            r->log.push_back("cell " + std::to_string(t) + "/" + std::to_string(s));
    };
    return ui;
}

TEST_F(Dumps, EngineReportsOnceAndStopsAtTheFirstFailure)
{
    engine_clear_abort();
    d64_module_init();
    // The board hangs up in the middle of the directory track.
    start_sim({"--hangup-after", "4000"});
    engine_recorder r;
    engine_ui ui = recording_ui(&r);
    engine_sector_job job = {};
    job.port = sim.port.c_str();
    job.handle = -1;
    job.device = 8;
    job.tries = 1;
    job.outmost_track = 1;
    engine_reset_image_store();
    EXPECT_EQ(engine_special_dump(&ui, ENGINE_DUMP_DIR_TRACK, &job), 0);
    EXPECT_EQ(r.finished, 1);
    EXPECT_FALSE(r.event_after_finish);
    EXPECT_EQ(r.outcome.kind, ENGINE_FAILED);
    ASSERT_NE(r.outcome.failure, nullptr);
    EXPECT_LT(r.outcome.sectors_good, 19);

    // No port: the same single outcome, and nothing was read.
    engine_recorder none;
    ui = recording_ui(&none);
    job.port = "/nonexistent";
    EXPECT_EQ(engine_reread(&ui, ENGINE_REREAD_DIR_TRACK, &job), 0);
    EXPECT_EQ(none.finished, 1);
    EXPECT_STREQ(none.outcome.failure, "Unable to access communication port to device");
    EXPECT_TRUE(none.log.empty());
}

TEST(DumpRules, TrackRangesAndVisitOrder)
{
    int first, last;
    // An answer below the outermost track, or ends the wrong way round.
    engine_track_range_resolve(1, 10, 3, &first, &last);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(3, 10));
    engine_track_range_resolve(30, 20, 1, &first, &last);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(30, 30));
    engine_track_range_resolve(50, 60, 1, &first, &last);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(TRACKS, TRACKS));
    engine_track_range_bounds(1, 40, 3, &first, &last);
    EXPECT_EQ(std::make_pair(first, last), std::make_pair(3, TRACKS));

    // Track 18 without its BAM sector, every other sector once.
    int order[21];
    ASSERT_EQ(engine_allocated_visit_order(18, order), 18);
    EXPECT_EQ(std::vector<int>(order, order + 18),
              (std::vector<int>{3, 6, 9, 12, 15, 18, 2, 5, 8, 11, 14, 17, 4, 7, 10, 13, 16, 1}));
    EXPECT_EQ(engine_allocated_visit_order(1, order), 21);

    char *heading = engine_reread_heading(ENGINE_REREAD_TRACK_RANGE, 1, 4, 9);
    EXPECT_STREQ(heading, "Re-reading sectors with errors in track range 4-9 (both inclusive)\n");
    g_free(heading);
    heading = engine_dump_heading(ENGINE_DUMP_ALLOCATED, 3);
    EXPECT_STREQ(heading, "Dumping allocated sectors only (expected outermost track: 3)\n");
    g_free(heading);
}

// ---------------------------------------------------------------- bad input

TEST_F(Dumps, UsageErrorsAndBadFilesGetOneLine)
{
    const std::vector<std::vector<std::string>> usage = {
        {"dump"},
        {"dump", "frob"},
        {"dump", "dir", "a.d64", "b.d64"},
        {"dump", "dir", "--batch"},
        {"dump", "dir", "--tracks", "1-3"},
        {"reread"},
        {"reread", "a.d64", "b.d64"},
        {"reread", "a.d64", "--tracks", "5-3"},
        {"reread", "a.d64", "--tracks", "0-3"},
        {"reread", "a.d64", "--tracks", TRACKS == 40 ? "1-41" : "1-36"},
        {"reread", "a.d64", "--tracks", "1-"},
        {"reread", "a.d64", "--overwrite"},
        {"read", "--tracks", "1-5"},
    };
    for (const std::vector<std::string> &args : usage) {
        cli_run_result r = run_cli(work, config_home, args);
        EXPECT_EQ(cli_usage_error_fault(r, program), "") << cli_shown_args(args);
    }
    for (const char *sub : {"dump", "reread"}) {
        cli_run_result r = run_cli(work, config_home, {sub, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: ") + program + " " + sub, 0), 0u) << r.out;
    }

    start_sim();
    cli_run_result r = run({"reread", "missing.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    ASSERT_TRUE(scratch_write(work + "/short.d64", std::string(175000, '\0')));
    r = run({"reread", "short.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Image size is not as expected")) << r.err;
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    EXPECT_EQ(file("short.d64"), std::string(175000, '\0'));
    // A destination that cannot take the file is refused before the drive
    // is touched, on one line.
    r = run({"dump", "dir", "no-such-folder/x.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "cannot save to no-such-folder/x.d64: no such folder")) << r.err;
    EXPECT_EQ(line_count(r.err), 1) << r.err;
    r = run({"dump", "dir", "--drive", "9", "x.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Device not present")) << r.err;
    EXPECT_FALSE(contains(scratch_list(work), "x.d64"));
}

}  // namespace
