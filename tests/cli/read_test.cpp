// dravlen read: whole disks imaged from the simulator into D64 files, with
// error info, Ctrl+C, and batches of disks swapped in the simulator.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"

namespace {

const int sectors_35 = 683;
const int sectors_all = TRACKS == 40 ? 768 : 683;

// Starts the program in `cwd` with stdin, stdout and stderr on pipes.
void spawn_cli(const std::string &cwd, const std::string &config_home,
               const std::vector<std::string> &args, cli_child *c)
{
    ASSERT_TRUE(cli_child_start(c, DRAVLEN_CLI_PATH, args, config_home, cwd)) << c->err_text;
}

// A 35-track image grown to this build's track count with empty tracks.
std::string for_this_build(std::string d64)
{
    d64.resize((size_t)sectors_all * 256, '\0');
    return d64;
}

// Checks that every sector an image with error info marks good holds the
// disk's bytes; returns how many it marks good.
int good_sectors_hold_the_disk(const std::string &saved, const std::string &d64)
{
    int good = 0;
    for (int i = 0; i < sectors_all; i++) {
        if (saved[sectors_all * 256 + i] != '\1')
            continue;
        good++;
        EXPECT_EQ(saved.substr(i * 256, 256), d64.substr(i * 256, 256)) << "sector index " << i;
    }
    return good;
}

class Read : public SimFixture {
protected:
    std::string work;

    void SetUp() override
    {
        SimFixture::SetUp();
        work = dir + "/out";
        ASSERT_EQ(g_mkdir(work.c_str(), 0700), 0);
    }
    // A cc1541 disk with a few files; its D64 bytes go to *d64.
    void make_disk(const std::string &name, const std::string &diskname, std::string *d64,
                   const std::string &g64 = std::string())
    {
        std::string path = dir + "/" + name;
        ASSERT_TRUE(cc1541_build_d64(path, diskname, "7A",
                                     {{"FIRST", "PRG", false, false, 3000},
                                      {"SECOND", "SEQ", false, false, 9000},
                                      {"THIRD", "PRG", false, false, 200}},
                                     nullptr, g64));
        bool ok = false;
        *d64 = scratch_read(path, &ok);
        ASSERT_TRUE(ok);
    }
    // Serves a cc1541 disk of this build's size with the simulator's faults
    // and reads it once without re-reads into pass.d64, which must hold
    // error info; *d64 gets the disk's bytes, the saved image is returned.
    std::string read_faulty_disk_once(const std::string &diskname,
                                      const std::vector<std::string> &faults, std::string *d64)
    {
        make_disk("made.d64", diskname, d64);
        *d64 = for_this_build(*d64);
        EXPECT_TRUE(scratch_write(dir + "/disk.d64", *d64));
        std::vector<std::string> args = {"--drive", "8=" + dir + "/disk.d64"};
        args.insert(args.end(), faults.begin(), faults.end());
        start_sim(args);
        cli_run_result r = read_disk({"--retries", "0", "pass.d64"});
        EXPECT_EQ(r.status, 3) << r.err;
        std::string saved = scratch_read(work + "/pass.d64");
        EXPECT_EQ(saved.size(), (size_t)sectors_all * 257) << r.err;
        return saved;
    }
    // With re-reads the same faulty disk comes back byte-identical.
    void read_whole_with_retries(const std::string &d64)
    {
        cli_run_result r = read_disk({"--retries", "3", "whole.d64"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(scratch_read(work + "/whole.d64"), d64);
    }
    cli_run_result read_disk(std::vector<std::string> args, const std::string &stdin_text = "")
    {
        args.insert(args.begin(), {"read", "--port", sim.port});
        cli_child c;
        spawn_cli(work, config_home, args, &c);
        if (!stdin_text.empty() && write(c.in, stdin_text.data(), stdin_text.size()) < 0)
            ADD_FAILURE() << "stdin";
        int status = cli_child_finish(&c);
        cli_run_result r;
        r.status = status;
        r.out = c.out_text;
        r.err = c.err_text;
        return r;
    }
};

// ---------------------------------------------------------------- one disk

TEST_F(Read, AG64IsReadBackByteIdenticalToTheD64OfTheSameDisk)
{
    std::string d64;
    make_disk("made.d64", "RESCUE ME", &d64, dir + "/made.g64");
    start_sim({"--drive", "8=" + dir + "/made.g64"});
    cli_run_result r = read_disk({"--json", "--md5"});
    std::string saved = scratch_read(work + "/0001a.d64");
    ASSERT_GE(saved.size(), (size_t)sectors_35 * 256) << r.err;
    EXPECT_EQ(saved.substr(0, (size_t)sectors_35 * 256), d64);
    if (TRACKS == 40) {
        // The G64 ends at track 35: the tracks beyond it had no sync.
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(saved.size(), (size_t)sectors_all * 257);
        EXPECT_EQ(saved.substr(sectors_all * 256, sectors_35), std::string(sectors_35, '\1'));
        EXPECT_EQ(saved.substr(sectors_all * 256 + sectors_35), std::string(85, '\3'));
    } else {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(saved.size(), d64.size()) << "a clean image has no error info";
    }

    // The summary object, checked by a JSON parser of its own.
    gchar *argv[] = {g_strdup("python3"), g_strdup("-c"),
                     g_strdup("import json,sys\n"
                              "o=json.loads(sys.stdin.read())\n"
                              "print(o['outcome'], len(o['files']), o['sectors_good'],"
                              " o['sectors_bad'], len(o['bad_sectors']), o['exit_status'],"
                              " o['elapsed_seconds'] >= 0)\n"),
                     nullptr};
    GPid pid;
    int in = -1, out = -1;
    ASSERT_TRUE(g_spawn_async_with_pipes(nullptr, argv, nullptr,
                                         (GSpawnFlags)(G_SPAWN_SEARCH_PATH |
                                                       G_SPAWN_DO_NOT_REAP_CHILD),
                                         nullptr, nullptr, &pid, &in, &out, nullptr, nullptr));
    for (gchar *a : argv)
        g_free(a);
    ASSERT_EQ(write(in, r.out.data(), r.out.size()), (ssize_t)r.out.size());
    close(in);
    std::string parsed;
    char buf[256];
    ssize_t n;
    while ((n = read(out, buf, sizeof buf)) > 0)
        parsed.append(buf, (size_t)n);
    close(out);
    waitpid(pid, nullptr, 0);
    int bad = sectors_all - sectors_35;
    EXPECT_EQ(parsed, "succeeded 3 " + std::to_string(sectors_35) + " " + std::to_string(bad) +
                          " " + std::to_string(bad) + " " + std::to_string(bad ? 3 : 0) +
                          " True\n")
        << r.out;

    // The log tells what happened, the digest names the image.
    std::string log = scratch_read(work + "/0001a.d64.log");
    EXPECT_EQ(log.rfind("Log file created by Dravlen client", 0), 0u) << log;
    EXPECT_TRUE(contains(log, "Imaging disk\n")) << log;
    EXPECT_TRUE(contains(log, "Completed\n")) << log;
    // Every sector's line, as in the window's log file.
    EXPECT_TRUE(contains(log, "Correctly processed t/s  1/0  (checksum: $")) << log;
    EXPECT_TRUE(contains(log, "Correctly processed t/s 35/16 (checksum: $")) << log;
    gchar *md5 = g_compute_checksum_for_data(G_CHECKSUM_MD5, (const guchar *)saved.data(),
                                             saved.size());
    EXPECT_EQ(scratch_read(work + "/0001a.d64.md5"), std::string(md5) + " *0001a.d64\n");
    g_free(md5);
}

TEST_F(Read, SectorErrorsAreSavedAsErrorInfoAndExitThree)
{
    std::string d64;
    make_disk("made.d64", "DAMAGED", &d64);
    d64 = for_this_build(d64);
    // Error info: a checksum error at 1/3 and a GCR error at 20/7 (data sectors).
    std::string info(sectors_all, '\1');
    info[3] = 5;
    info[357 + 19 * 2 + 7] = 9;  // track 20 starts after 17 tracks of 21 and 2 of 19
    ASSERT_TRUE(scratch_write(dir + "/damaged.d64", d64 + info));
    start_sim({"--drive", "8=" + dir + "/damaged.d64"});

    cli_run_result r = read_disk({"--retries", "2", "--json", "out.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    std::string saved = scratch_read(work + "/out.d64");
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257) << r.err;
    std::string saved_info = saved.substr(sectors_all * 256);
    EXPECT_EQ(saved_info, info);
    // Good sectors keep their data.
    EXPECT_EQ(saved.substr(0, 3 * 256), d64.substr(0, 3 * 256));
    EXPECT_TRUE(contains(r.out, "\"sectors_bad\":2,\"bad_sectors\":[{\"track\":1,\"sector\":3,"
                                "\"code\":5},{\"track\":20,\"sector\":7,\"code\":9}]"))
        << r.out;
    EXPECT_TRUE(contains(r.err, std::to_string(sectors_all - 2) + " sectors good, 2 with errors"))
        << r.err;
    EXPECT_TRUE(contains(r.err, "re-reading faulty sectors")) << r.err;
    // The summary ends with the damage report and the sector map; the log
    // closes with the report.
    const std::string legend_end = "x not accessible  ? other error code\n";
    EXPECT_EQ(r.err.substr(r.err.size() - std::min(r.err.size(), legend_end.size())), legend_end);
    EXPECT_TRUE(contains(r.err, "BAM 18/0: good\n")) << r.err;
    EXPECT_TRUE(contains(r.out, ",\"damaged_files\":[")) << r.out;
    std::string log = scratch_read(work + "/out.d64.log");
    EXPECT_LT(log.find("Completed\n"), log.find("Damage report\nBAM 18/0: good\n")) << log;

    // Nothing is replaced without a yes: no terminal to ask, so no, and
    // that is settled before the drive is touched.
    ASSERT_TRUE(scratch_write(work + "/out.d64", "keep me"));
    r = read_disk({"out.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "out.d64 exists: nothing read (use --overwrite to replace it)"))
        << r.err;
    EXPECT_FALSE(contains(r.err, "track 1 of")) << "the drive was touched: " << r.err;
    EXPECT_EQ(scratch_read(work + "/out.d64"), "keep me");
    r = read_disk({"out.d64", "--overwrite", "--no-map"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(scratch_read(work + "/out.d64"), saved);
    EXPECT_FALSE(contains(r.err, legend_end)) << r.err;
    // Re-reads left out are said, on stderr and in the summary.
    r = read_disk({"--retries", "2", "--max-errors", "1", "--json", dir + "/many.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string skipped = "not re-read: 2 errors, more than the maximum of 1";
    EXPECT_TRUE(contains(r.err, skipped + "\n")) << r.err;
    EXPECT_FALSE(contains(r.err, "re-reading faulty sectors")) << r.err;
    EXPECT_TRUE(contains(r.out, "\"reread_skipped\":\"" + skipped + "\",\"exit_status\":3}"))
        << r.out;

    // A disk with room for the image only: the files of a save appear
    // together or not at all, so none is left there, temporary or not, and
    // the read goes to the fallback whole.
    std::string full = dir + "/full";
    ASSERT_EQ(g_mkdir(full.c_str(), 0700), 0);
    // Pages for the image with its error info, and none to spare.
    std::string size = "size=" + std::to_string((sectors_all * 257 + 4095) / 4096 * 4096);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, size.c_str()) != 0)
        GTEST_SKIP() << "no tmpfs to fill (needs root): " << g_strerror(errno);
    r = read_disk({"--md5", "--json", full + "/out.d64"});
    std::string files = r.out.substr(0, r.out.find("]") + 1);
    std::string wrote = r.err;
    std::string left = scratch_list(full);
    umount2(full.c_str(), MNT_DETACH);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, full + "/out.d64.log: No space left on device")) << r.err;
    EXPECT_EQ(left, "");
    EXPECT_TRUE(contains(files, "\"outcome\":\"failed\"")) << r.out;
    EXPECT_TRUE(contains(files, "/state/dravlen/")) << r.out;
    EXPECT_TRUE(contains(files, "_DAMAGED.d64.log\",")) << r.out;
    EXPECT_FALSE(contains(wrote, "wrote " + full)) << r.err;
    EXPECT_EQ(scratch_list(work), "out.d64 out.d64.log");
}

// Where the image goes is settled before the drive is touched; a name
// taken only after the read keeps the read under a free name.
TEST_F(Read, TheDestinationIsSettledBeforeTheDriveIsTouched)
{
    std::string d64;
    make_disk("made.d64", "NAMED", &d64);
    ASSERT_TRUE(scratch_write(dir + "/disk.d64", for_this_build(d64)));
    start_sim({"--drive", "8=" + dir + "/disk.d64"});
    ASSERT_EQ(g_mkdir((work + "/folder.d64").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((work + "/fifo.d64").c_str(), 0600), 0);
    std::string ro = dir + "/ro";
    ASSERT_EQ(g_mkdir(ro.c_str(), 0700), 0);
    bool mounted = scratch_mount_tmpfs(ro, 64 * 1024, true);
    struct refusal {
        std::string file, why;
    };
    std::vector<refusal> refusals = {
        {"missing/out.d64", "cannot save to missing/out.d64: no such folder"},
        {"folder.d64", "cannot save to folder.d64: not a regular file"},
        {"fifo.d64", "cannot save to fifo.d64: not a regular file"}};
    if (mounted)
        refusals.push_back({ro + "/out.d64", "the folder does not take new files"});
    for (const refusal &c : refusals) {
        cli_run_result r = read_disk({c.file, "--json"});
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_TRUE(contains(r.err, c.why)) << r.err;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
        EXPECT_TRUE(contains(r.out, "\"exit_status\":1")) << r.out;
    }
    if (mounted)
        scratch_unmount(ro);
    EXPECT_EQ(scratch_list(work), "fifo.d64 folder.d64");

    // A name made from the disk name is known only after the read.
    ASSERT_TRUE(g_mkdir_with_parents((config_home + "/dravlen-client").c_str(), 0700) == 0);
    ASSERT_TRUE(scratch_write(config_home + "/dravlen-client/user.ini",
                              "[outputs]\nappend_disk_name=true\n"));
    ASSERT_TRUE(scratch_write(work + "/0001a_NAMED.d64", "older"));
    cli_run_result r = read_disk({});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "0001a_NAMED.d64 exists: the image goes to 0001a_NAMED-1.d64"))
        << r.err;
    EXPECT_EQ(scratch_read(work + "/0001a_NAMED.d64"), "older");
    EXPECT_EQ(scratch_read(work + "/0001a_NAMED-1.d64"), for_this_build(d64));

    // A disk that fills up during the read: the image goes to the fallback.
    std::string full = dir + "/full";
    ASSERT_EQ(g_mkdir(full.c_str(), 0700), 0);
    if (!scratch_mount_tmpfs(full, 64 * 1024, false))
        return;
    r = read_disk({full + "/big.d64"});
    scratch_unmount(full);
    EXPECT_EQ(r.status, 1) << r.err;
    std::string kept = config_home + "/state/dravlen";
    std::string names = scratch_list(kept);
    EXPECT_TRUE(contains(names, "_NAMED.d64 ")) << names;
    EXPECT_TRUE(contains(r.err, "it is kept in " + kept + "/")) << r.err;
    std::string first = names.substr(0, names.find(' '));
    EXPECT_EQ(scratch_read(kept + "/" + first), for_this_build(d64));
}

// Two faults at once: the packets that end tracks 17 and 18 (either side of
// a zone boundary) are lost in the fast pass.  Without re-reads no sector may
// be marked good with another sector's data; with them the disk comes back whole.
TEST_F(Read, LostEndOfTrackPacketsOnTwoTracksNeverStoreAWrongSector)
{
    std::string d64;
    std::string saved =
        read_faulty_disk_once("TWO FAULTS", {"--drop", "17/20", "--drop", "18/18"}, &d64);
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257);
    int good = good_sectors_hold_the_disk(saved, d64);
    EXPECT_GE(good, sectors_all - 4);
    EXPECT_LT(good, sectors_all);

    read_whole_with_retries(d64);
}

// Sector 8 of track 9 comes named 10 and the true sector 10 is lost: the
// numbers break the order in which the drive sends a track, so neither
// place is trusted; without that, 8's data stood as a good sector 10.
TEST_F(Read, PacketNamedAsALostSectorIsCaughtByTheOrderOfTheTrack)
{
    std::string d64;
    std::string saved = read_faulty_disk_once(
        "OUT OF TURN", {"--sector-number", "9/8=10", "--drop", "9/10"}, &d64);
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257);
    const int nine_ten = 8 * 21 + 10;
    EXPECT_NE(saved[sectors_all * 256 + nine_ten], '\1') << "9/10 holds 9/8's data";
    // The two on either side of the break, the first of the track and the
    // one after the false wrap: a few, not the rest of the track.
    EXPECT_GE(good_sectors_hold_the_disk(saved, d64), sectors_all - 6);
    EXPECT_TRUE(contains(scratch_read(work + "/pass.d64.log"),
                         "Sector t/s  9/10 out of turn on its track: left unread\n"));

    read_whole_with_retries(d64);
}

// The re-read of a lost 1/2 is answered with sector 7: the reply names the
// wrong sector, so it is a failed attempt and 1/2 stays unread.
TEST_F(Read, AReReadAnsweredWithAnotherSectorIsNeverStoredAsGood)
{
    std::string d64;
    make_disk("made.d64", "WRONG REPLY", &d64);
    d64 = for_this_build(d64);
    ASSERT_TRUE(scratch_write(dir + "/disk.d64", d64));
    start_sim({"--drive", "8=" + dir + "/disk.d64", "--drop", "1/2", "--reply-sector", "1/2=7"});
    cli_run_result r = read_disk({"--retries", "3", "out.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    std::string saved = scratch_read(work + "/out.d64");
    ASSERT_EQ(saved.size(), (size_t)sectors_all * 257) << r.err;
    EXPECT_NE(saved[sectors_all * 256 + 2], '\1') << "1/2 holds 1/7's data";
    EXPECT_EQ(good_sectors_hold_the_disk(saved, d64), sectors_all - 1);
    EXPECT_TRUE(contains(scratch_read(work + "/out.d64.log"),
                         "Sector t/s  1/2 : reply named sector 7, skipping packet\n"));
}

// Ctrl+C, SIGTERM or SIGHUP in the pass: the program ends at once and keeps
// what arrived as NAME.partial.d64, never over a file; a second stop
// before the first is acted on keeps nothing.
TEST_F(Read, AStopInThePassEndsAtOnceAndKeepsWhatArrived)
{
    std::string d64;
    make_disk("made.d64", "SLOW", &d64);
    start_sim({"--drive", "8=" + dir + "/made.d64", "--drive-timing"});
    // A file of that name was there: it must survive the interrupted read.
    ASSERT_TRUE(scratch_write(work + "/old.d64", "old"));
    ASSERT_TRUE(scratch_write(work + "/old.partial.d64", "older"));
    struct stop_case {
        int signal_number;
        int signals;
        std::vector<std::string> args;
        std::string kept;  // the partial image, or "" for none
    };
    for (stop_case sc : {stop_case{SIGINT, 1, {"--json"}, "0001a.partial.d64"},
                         stop_case{SIGTERM, 1, {"old.d64", "--overwrite"}, "old.partial-1.d64"},
                         stop_case{SIGHUP, 1, {"--json"}, "0001a.partial.d64"},
                         stop_case{SIGINT, 2, {"--json"}, ""}}) {
        std::vector<std::string> &args = sc.args;
        args.insert(args.begin(), {"read", "--port", sim.port});
        std::string before = scratch_list(work);
        cli_child c;
        spawn_cli(work, config_home, args, &c);
        g_usleep(600 * 1000);
        ASSERT_EQ(waitpid(c.pid, nullptr, WNOHANG), 0) << "the read should still be running";
        auto start = std::chrono::steady_clock::now();
        // A second stop, of another signal so that the two cannot merge
        // into one pending signal, before the first is acted on: both are
        // sent to the stopped program, so it sees them together.
        if (sc.signals > 1)
            kill(c.pid, SIGSTOP);
        kill(c.pid, sc.signal_number);
        if (sc.signals > 1) {
            kill(c.pid, SIGTERM);
            kill(c.pid, SIGCONT);
        }
        int status = cli_child_finish(&c, 5);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                             .count();
        EXPECT_LT(seconds, 0.2);
        EXPECT_EQ(scratch_read(work + "/old.d64"), "old");
        EXPECT_EQ(scratch_read(work + "/old.partial.d64"), "older");
        EXPECT_EQ(status, 130) << c.err_text;
        EXPECT_TRUE(contains(c.err_text, "interrupted")) << c.err_text;
        if (args.size() > 3 && args[3] == "--json") {
            EXPECT_TRUE(contains(c.out_text, "\"outcome\":\"interrupted\"")) << c.out_text;
        }
        if (sc.kept.empty()) {
            EXPECT_EQ(scratch_list(work), before) << "no new or temporary file";
            continue;
        }
        std::string partial = scratch_read(work + "/" + sc.kept);
        ASSERT_EQ(partial.size(), (size_t)sectors_all * 257) << scratch_list(work);
        int good = good_sectors_hold_the_disk(partial, for_this_build(d64));
        EXPECT_GT(good, 0);
        EXPECT_EQ(partial[(size_t)sectors_all * 257 - 1], '\x03') << "the last sector is not read";
        EXPECT_TRUE(contains(c.err_text, "reread --max-errors ")) << c.err_text;
        EXPECT_TRUE(contains(c.err_text, sc.kept)) << c.err_text;
        g_remove((work + "/" + sc.kept).c_str());
        g_remove((work + "/" + sc.kept + ".log").c_str());
        EXPECT_EQ(scratch_list(work), before) << "only the partial image and its log";
    }
}

// Cut short in the re-read phase, the image is whole: a hang-up saves it
// with its error info and exits 1; Ctrl+C stops the retries and saves it.
TEST_F(Read, AFailureOrAStopInTheRereadsKeepsTheWholeImage)
{
    std::string d64;
    make_disk("made.d64", "RETRIED", &d64);
    d64 = for_this_build(d64);
    ASSERT_TRUE(scratch_write(dir + "/disk.d64", d64));
    // Past the pass's packets, inside the retries of the one bad sector.
    std::string past_the_pass = std::to_string(sectors_all * 324 + 12000);
    for (const char *fault : {"--hangup-after", "--silent-after"}) {
        SCOPED_TRACE(fault);
        start_sim({"--drive", "8=" + dir + "/disk.d64", "--corrupt-checksum", "5/3", fault,
                   past_the_pass});
        cli_child c;
        spawn_cli(work, config_home, {"read", "--port", sim.port, "--retries", "99", "cut.d64"},
                  &c);
        bool silent = std::string(fault) == "--silent-after";
        if (silent) {
            ASSERT_TRUE(cli_child_wait_for_stderr(&c, "re-reading faulty sectors", 1))
                << c.err_text;
            g_usleep(100 * 1000);
            kill(c.pid, SIGINT);
        }
        int status = cli_child_finish(&c, 20);
        EXPECT_EQ(status, silent ? 3 : 1) << c.err_text;
        EXPECT_TRUE(contains(c.err_text, silent ? "re-reads stopped: the image is saved with "
                                                  "its error info"
                                                : "the image is saved with its error info"))
            << c.err_text;
        std::string saved = scratch_read(work + "/cut.d64");
        ASSERT_EQ(saved.size(), (size_t)sectors_all * 257) << c.err_text;
        EXPECT_EQ(good_sectors_hold_the_disk(saved, d64), sectors_all - 1);
        EXPECT_EQ(scratch_list(work), "cut.d64 cut.d64.log");
        g_remove((work + "/cut.d64").c_str());
        g_remove((work + "/cut.d64.log").c_str());
        sim_stop(&sim);
    }
}

// ---------------------------------------------------------------- terminal

TEST_F(Read, VerboseShowsEveryLineOfTheDiskLogAndCountsOneAsOne)
{
    std::string d64;
    make_disk("made.d64", "VERBOSE", &d64);
    ASSERT_TRUE(scratch_write(dir + "/disk.d64", for_this_build(d64)));
    start_sim({"--drive", "8=" + dir + "/disk.d64", "--corrupt-checksum", "1/3"});
    cli_run_result r = read_disk({"-v", "--retries", "2", "v.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(r.err, "Retrying t/s  1/3 \n")) << r.err;
    EXPECT_TRUE(contains(r.err, "re-reading faulty sectors (1 error)\n")) << r.err;
    EXPECT_TRUE(contains(r.err, std::to_string(sectors_all - 1) + " sectors good, 1 with errors"))
        << r.err;
    // The .log's lines, in its order, after its own first line.
    std::string log = scratch_read(work + "/v.d64.log");
    size_t at = 0;
    for (size_t line = log.find('\n') + 1, end; (end = log.find('\n', line)) != std::string::npos;
         line = end + 1) {
        std::string text = log.substr(line, end - line + 1);
        at = r.err.find(text, at);
        ASSERT_NE(at, std::string::npos) << "not shown: " << text;
    }
}

TEST_F(Read, TheLiveLineFitsANarrowTerminalAndNeverWraps)
{
    start_sim({"--blank", "8", "--corrupt-checksum", "2/3"});
    // stderr on a terminal 40 columns wide; $COLUMNS says otherwise and is
    // not what counts.
    g_setenv("COLUMNS", "200", TRUE);
    cli_run_result r = cli_run_on_terminal(DRAVLEN_CLI_PATH, {"read", "--port", sim.port, "t.d64"},
                                           config_home, work, 40);
    g_unsetenv("COLUMNS");
    EXPECT_EQ(r.status, 3) << r.err;
    std::string shown = r.err;
    for (size_t k; (k = shown.find("\033[K")) != std::string::npos;)
        shown.erase(k, 3);
    // Each drawing of the live line ("[###...] track ...") stays within 39
    // columns; the one at the end is cut there.
    int drawn = 0, cut = 0;
    size_t start = 0;
    for (size_t i = 0; i <= shown.size(); i++)
        if (i == shown.size() || shown[i] == '\r' || shown[i] == '\n') {
            std::string piece = shown.substr(start, i - start);
            start = i + 1;
            if (piece.empty() || piece[0] != '[')
                continue;
            drawn++;
            long columns = g_utf8_strlen(piece.c_str(), -1);
            EXPECT_LT(columns, 40) << piece;
            cut += columns == 39;
        }
    EXPECT_GT(drawn, 0) << shown;
    EXPECT_GT(cut, 0) << shown;
}

// ---------------------------------------------------------------- batches

TEST_F(Read, ABatchNamesEachDiskAndTakesTheNextOneFromTheSimulator)
{
    std::string first, second;
    make_disk("first.d64", "FIRST DISK", &first);
    make_disk("second.d64", "SECOND DISK", &second);
    ASSERT_TRUE(scratch_write(dir + "/first.d64", for_this_build(first)));
    ASSERT_TRUE(scratch_write(dir + "/second.d64", for_this_build(second)));
    // The second disk twice: as if the user forgot to change it.
    start_sim({"--drive", "8=" + dir + "/first.d64", "--next-disk", "8=" + dir + "/second.d64",
               "--next-disk", "8=" + dir + "/second.d64"});

    cli_child c;
    spawn_cli(work, config_home, {"read", "--port", sim.port, "--batch", "--offset", "7", "--json"},
              &c);
    const std::string prompt = "Insert the next disk and press Enter (q to stop)\n";
    for (int disk = 1; disk <= 2; disk++) {
        ASSERT_TRUE(cli_child_wait_for_stderr(&c, prompt, disk)) << c.err_text;
        kill(sim.pid, SIGUSR1);
        ASSERT_EQ(write(c.in, "\n", 1), 1);
    }
    ASSERT_TRUE(cli_child_wait_for_stderr(&c, prompt, 3)) << c.err_text;
    ASSERT_EQ(write(c.in, "q\n", 2), 2);
    int status = cli_child_finish(&c);
    EXPECT_EQ(status, 0) << c.err_text;
    EXPECT_EQ(scratch_list(work), "0007a.d64 0007a.d64.log 0007b.d64 0007b.d64.log 0008a.d64 "
                                  "0008a.d64.log");
    EXPECT_EQ(scratch_read(work + "/0007a.d64"), for_this_build(first));
    EXPECT_EQ(scratch_read(work + "/0007b.d64"), for_this_build(second));
    EXPECT_TRUE(contains(c.out_text, "\"files\":[\"0007a.d64\",\"0007a.d64.log\",\"0007b.d64\","
                                     "\"0007b.d64.log\",\"0008a.d64\",\"0008a.d64.log\"]"))
        << c.out_text;
    EXPECT_TRUE(contains(c.out_text, "\"disks\":[{")) << c.out_text;
    EXPECT_TRUE(contains(c.out_text, "\"same_as_previous\":true}]")) << c.out_text;

    // A line per disk, the warning for the unchanged one, and the table.
    const std::string good = std::to_string(sectors_all);
    EXPECT_TRUE(contains(c.err_text, "disk 1: \"FIRST DISK\" 7A: " + good +
                                         " good, 0 bad sectors, 0 damaged files\n"))
        << c.err_text;
    EXPECT_TRUE(contains(c.err_text, "disk 2: \"SECOND DISK\" 7A: ")) << c.err_text;
    EXPECT_TRUE(contains(c.err_text, "warning: disk 3 reads exactly as disk 2: was the disk "
                                     "changed?\n"))
        << c.err_text;
    EXPECT_FALSE(contains(c.err_text, "warning: disk 2 reads exactly")) << c.err_text;
    size_t table = c.err_text.find("\n3 disks read:\n");
    ASSERT_NE(table, std::string::npos) << c.err_text;
    std::string rows = c.err_text.substr(table);
    EXPECT_TRUE(contains(rows, "   1  0007a.d64     FIRST DISK        7A       " + good +
                                   "     0        0  clean\n"))
        << rows;
    EXPECT_TRUE(contains(rows, "   3  0008a.d64     SECOND DISK       7A       " + good +
                                   "     0        0  clean, same as disk 2\n"))
        << rows;
}

TEST_F(Read, ABatchEndsWithItsWorstDiskAndAtTheEndOfInput)
{
    std::string d64;
    make_disk("made.d64", "BOX", &d64);
    std::string info(sectors_all, '\1');
    info[5] = 5;
    ASSERT_TRUE(scratch_write(dir + "/bad.d64", for_this_build(d64) + info));
    start_sim({"--drive", "8=" + dir + "/bad.d64", "--next-disk", "8=" + dir + "/made.d64"});
    // The second disk goes in but the input ends before it is read.
    cli_child c;
    spawn_cli(work, config_home, {"read", "--port", sim.port, "--batch", "--side", "b"}, &c);
    ASSERT_TRUE(cli_child_wait_for_stderr(&c, "Insert the next disk", 1)) << c.err_text;
    EXPECT_EQ(cli_child_finish(&c), 3) << c.err_text;
    EXPECT_EQ(scratch_list(work), "0001b.d64 0001b.d64.log");
    EXPECT_TRUE(contains(c.err_text, "\"BOX\" 7A: " + std::to_string(sectors_all - 1) +
                                         " good, 1 bad sector, "))
        << c.err_text;
    EXPECT_TRUE(contains(c.err_text, "\n1 disk read:\n")) << c.err_text;
    EXPECT_TRUE(contains(c.err_text, "  saved with errors\n")) << c.err_text;

    // Ctrl+C at the question ends the batch as interrupted; the disks
    // already saved stay.
    cli_child again;
    spawn_cli(work, config_home, {"read", "--port", sim.port, "--batch", "--offset", "2"}, &again);
    ASSERT_TRUE(cli_child_wait_for_stderr(&again, "Insert the next disk", 1)) << again.err_text;
    kill(again.pid, SIGINT);
    EXPECT_EQ(cli_child_finish(&again, 5), 130) << again.err_text;
    EXPECT_EQ(scratch_list(work), "0001b.d64 0001b.d64.log 0002a.d64 0002a.d64.log");
}

// ---------------------------------------------------------------- usage

TEST_F(Read, BadReadOptionsAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {"read", "--retries", "x"},      {"read", "--retries", "-1"},
        {"read", "--first-track", "6"},  {"read", "--side", "c"},
        {"read", "--offset", "0"},       {"read", "--offset", "10000"},
        {"read", "a.d64", "b.d64"},      {"read", "--batch", "a.d64"},
        {"status", "--md5"},             {"info", "--batch"},
        {"read", "--max-errors"},
    };
    for (const std::vector<std::string> &args : cases) {
        std::vector<std::string> with_port = args;
        with_port.insert(with_port.begin() + 1, {"--port", "/nonexistent"});
        cli_run_result r = cli_run(DRAVLEN_CLI_PATH, with_port, config_home, work);
        EXPECT_EQ(r.status, 2) << args[1] << " " << r.err;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
    }
    // The window's settings are held to the window's ranges here too.
    std::string settings = config_home + "/dravlen-client";
    ASSERT_EQ(g_mkdir_with_parents(settings.c_str(), 0700), 0);
    ASSERT_TRUE(scratch_write(settings + "/user.ini",
                              "[imaging]\nsector_read_retries=2147483647\noutmost_track=9\n"));
    cli_run_result r = cli_run(DRAVLEN_CLI_PATH, {"read", "-v", "--port", "/nonexistent"},
                               config_home, work);
    EXPECT_TRUE(contains(r.err, "Imaging disk (expected outermost track: 5)")) << r.err;
    ASSERT_EQ(g_unlink((settings + "/user.ini").c_str()), 0);

    cli_child c;
    spawn_cli(work, config_home, {"read", "--port", "/dev/nonexistent-dravlen"}, &c);
    EXPECT_EQ(cli_child_finish(&c), 1);
    EXPECT_TRUE(contains(c.err_text, "no such port")) << c.err_text;
    EXPECT_EQ(scratch_list(work), "");
}

}  // namespace
