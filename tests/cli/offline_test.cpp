// ls, extract, map and merge on D64 files, no board: checked against
// cc1541's listing and cbmconvert's extraction of the same disks.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

#include "image/d64.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"

namespace {

const std::string program = TRACKS == 40 ? "dravlen40" : "dravlen";
constexpr int sectors_all = TRACKS == 40 ? 768 : 683;

int index_of(std::pair<int, int> ts)
{
    return start_sector_of_track[ts.first] + ts.second;
}

class Offline : public SimFixture {
protected:
    std::string clean;  // clean: the disk's data for this build
    std::vector<std::vector<std::pair<int, int>>> chains;

    void SetUp() override
    {
        if (!cc1541_available())
            GTEST_SKIP() << "cc1541 not installed";
        SimFixture::SetUp();
        std::vector<cc1541_file> files = {{"SMALL"}, {"MIDDLE"}, {"LARGE"}, {"NOTES"}};
        files[1].data_size = 3000;
        files[2].data_size = 20000;
        files[3].type = "SEQ";
        files[3].data_size = 900;
        ASSERT_TRUE(cc1541_build_d64(dir + "/disk35.d64", "RESCUE DISK", "rd", files));
        clean = scratch_read(dir + "/disk35.d64");
        chains = cc1541_chains(clean);
        clean.resize((size_t)sectors_all * 256, '\0');
        ASSERT_TRUE(scratch_write(dir + "/disk.d64", clean));
    }
    cli_run_result run(const std::vector<std::string> &args)
    {
        return cli_run(DRAVLEN_CLI_PATH, args, config_home, dir);
    }
    // The disk with error info: every sector good but those given.
    std::string with_errors(const std::vector<std::pair<std::pair<int, int>, char>> &bad,
                            std::string data = std::string())
    {
        std::string info(sectors_all, '\1');
        for (const auto &[ts, code] : bad)
            info[index_of(ts)] = code;
        return (data.empty() ? clean : data) + info;
    }
    // What cbmconvert extracts from the 35-track original, by file name.
    std::string cbmconvert(const std::string &name)
    {
        std::string out = dir + "/cbm";
        EXPECT_TRUE(cbmconvert_extract(dir + "/disk35.d64", out));
        return scratch_read(out + "/" + name);
    }
};

TEST_F(Offline, LsAgreesWithCc1541AndExtractWithCbmconvert)
{
    cc1541_listing expected;
    ASSERT_TRUE(cc1541_read_listing(dir + "/disk35.d64", &expected));
    cli_run_result r = run({"ls", "disk.d64"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cc1541_listing_fault(cli_output_lines(r.out), expected), "") << r.out;
    r = run({"ls", "--json", "disk.d64"});
    EXPECT_TRUE(contains(r.out, "{\"command\":\"ls\",\"file\":\"disk.d64\",\"disk_name\":"))
        << r.out;

    r = run({"extract", "disk.d64", "SMALL", "out/small.prg"});
    EXPECT_EQ(r.status, 1) << "no folder out/: " << r.err;
    g_mkdir_with_parents((dir + "/out").c_str(), 0700);
    for (const char *name : {"small.prg", "middle.prg", "large.prg", "notes.seq"}) {
        std::string wanted = cbmconvert(name);
        ASSERT_FALSE(wanted.empty()) << name;
        std::string c64_name(name, strchr(name, '.'));
        for (char &c : c64_name)
            c = g_ascii_toupper(c);
        r = run({"extract", "disk.d64", c64_name, "out/" + std::string(name)});
        ASSERT_EQ(r.status, 0) << name << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_TRUE(scratch_read(dir + "/out/" + name) == wanted) << name;
    }
    // The default name is the file's, with its type.
    r = run({"extract", "disk.d64", "NOTES"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(scratch_read(dir + "/NOTES.seq") == cbmconvert("notes.seq"));
    r = run({"extract", "disk.d64", "NOTES"});
    EXPECT_EQ(r.status, 1) << "kept without --overwrite";
    r = run({"extract", "disk.d64", "NOPE"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "holds no file \"NOPE\"")) << r.err;

    // No board: the port options are usage errors, a wrong size a failure.
    for (const std::vector<std::string> &args :
         std::vector<std::vector<std::string>>{{"ls", "--port", "/dev/null", "disk.d64"},
                                               {"map", "--drive", "9", "disk.d64"}})
        EXPECT_EQ(cli_usage_error_fault(run(args), program), "") << cli_shown_args(args);
    scratch_write(dir + "/short.d64", "abc");
    r = run({"ls", "short.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "short.d64 is no " + std::to_string(TRACKS) +
                                    "-track D64 image (wrong size)"))
        << r.err;
}

TEST_F(Offline, DamagedFilesComeOutWithWhatWasReadAndTheMapShowsWhere)
{
    // A checksum error inside MIDDLE (data intact), an unreadable third
    // block of LARGE.
    std::pair<int, int> middle_bad = chains[1][4], large_cut = chains[2][2];
    ASSERT_TRUE(scratch_write(dir + "/bad.d64",
                              with_errors({{middle_bad, 5}, {large_cut, 3}})));

    cli_run_result r = run({"extract", "bad.d64", "MIDDLE", "middle.prg"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(scratch_read(dir + "/middle.prg") == cbmconvert("middle.prg"));
    std::string at = std::to_string(middle_bad.first) + "/" + std::to_string(middle_bad.second);
    EXPECT_TRUE(contains(r.err, "bad " + at + " (0x05)")) << r.err;

    r = run({"extract", "bad.d64", "LARGE", "large.prg"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(scratch_read(dir + "/large.prg") == cbmconvert("large.prg").substr(0, 2 * 254));
    std::string cut = std::to_string(large_cut.first) + "/" + std::to_string(large_cut.second);
    EXPECT_TRUE(contains(r.err, "chain broken at " + cut + ": " +
                                    std::to_string(chains[2].size() - 3) + " blocks unknown"))
        << r.err;

    r = run({"map", "bad.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    std::vector<std::string> lines = cli_output_lines(r.out);
    ASSERT_GT(lines.size(), 23u) << r.out;
    EXPECT_EQ(lines[2 + middle_bad.second][6 + middle_bad.first - 1], 'C') << r.out;
    EXPECT_EQ(lines[2 + large_cut.second][6 + large_cut.first - 1], '-') << r.out;
    EXPECT_TRUE(contains(r.out, "\n2 damaged files of 4\n")) << r.out;
    EXPECT_FALSE(contains(r.out, "\"SMALL\"")) << r.out;
    r = run({"map", "--json", "bad.d64"});
    EXPECT_TRUE(contains(r.out, "\"damaged_files\":[{\"entry\":2,\"name\":\"MIDDLE\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"chain\":\"broken\"")) << r.out;
    r = run({"map", "disk.d64"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "\nNo damaged files\n")) << r.out;
}

TEST_F(Offline, MergeStacksDumpsAndRefusesOtherDisks)
{
    // Two reads that failed in different places, with garbage there.
    std::string spoiled = clean;
    spoiled[index_of(chains[0][0]) * 256 + 40] ^= 0x55;
    ASSERT_TRUE(scratch_write(dir + "/a.d64", with_errors({{chains[0][0], 5}, {{18, 1}, 9}},
                                                          spoiled)));
    ASSERT_TRUE(scratch_write(dir + "/b.d64", with_errors({{chains[2][3], 3}})));
    cli_run_result r = run({"merge", "a.d64", "b.d64", "-o", "out.d64"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(scratch_read(dir + "/out.d64") == clean) << "byte-identical, no error info";
    EXPECT_TRUE(contains(scratch_read(dir + "/out.d64.log"), "Merging 2 dumps"));
    r = run({"merge", "a.d64", "b.d64", "-o", "out.d64"});
    EXPECT_EQ(r.status, 1) << "an existing OUT is kept";
    EXPECT_TRUE(contains(r.err, "--overwrite")) << r.err;

    // Three checksum-failed reads vote; the sector stays a checksum error.
    for (const char *name : {"c.d64", "d.d64", "e.d64"})
        ASSERT_TRUE(scratch_write(dir + "/" + name, with_errors({{chains[0][0], 5}})));
    r = run({"merge", "--json", "a.d64", "c.d64", "d.d64", "--overwrite", "-o", "out.d64"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_TRUE(contains(r.out, "\"majority_sectors\":[{\"track\":" +
                                    std::to_string(chains[0][0].first)))
        << r.out;
    std::string merged = scratch_read(dir + "/out.d64");
    ASSERT_EQ(merged.size(), (size_t)sectors_all * 257);
    EXPECT_EQ(merged[(size_t)sectors_all * 256 + index_of(chains[0][0])], 5);
    EXPECT_TRUE(merged.substr(0, (size_t)sectors_all * 256) == clean) << "the majority's bytes";
    EXPECT_TRUE(contains(scratch_read(dir + "/out.d64.log"), "still marked as checksum failed"));

    // Another disk: refused, nothing written, unless forced.
    ASSERT_TRUE(cc1541_build_d64(dir + "/other35.d64", "OTHER DISK", "od", {{"SMALL"}}));
    std::string other = scratch_read(dir + "/other35.d64");
    other.resize((size_t)sectors_all * 256, '\0');
    ASSERT_TRUE(scratch_write(dir + "/other.d64", other));
    r = run({"merge", "disk.d64", "other.d64", "-o", "mixed.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "other.d64 has another disk name or ID than disk.d64")) << r.err;
    EXPECT_TRUE(contains(r.err, "good sectors that disagree: ")) << r.err;
    EXPECT_FALSE(g_file_test((dir + "/mixed.d64").c_str(), G_FILE_TEST_EXISTS));
    r = run({"merge", "--force", "disk.d64", "other.d64", "-o", "mixed.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cli_usage_error_fault(run({"merge", "a.d64", "b.d64"}), program), "");
}

}  // namespace
