// dir, get, put, scratch, validate, format and rom against dravlen-sim, with
// cc1541-made disks, checked with cc1541's listing and cbmconvert's
// extraction of the disks the simulator saves.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

#include "engine/drive_files.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_recorder.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"

namespace {

const std::string program = TRACKS == 40 ? "dravlen40" : "dravlen";

std::string lower(const std::string &s)
{
    char *l = g_ascii_strdown(s.c_str(), -1);
    std::string out = l;
    g_free(l);
    return out;
}

class Files : public SimFixture {
protected:
    void SetUp() override
    {
        if (!cc1541_available())
            GTEST_SKIP() << "cc1541 not installed";
        SimFixture::SetUp();
    }
    // The simulator with `disk` in drive 8, saved to out.d64 when it stops.
    void start_sim(const std::string &disk, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"--drive", "8=" + disk, "--save", "8=" + dir + "/out.d64",
                                         "--log", dir + "/commands.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        SimFixture::start_sim(args);
    }
    cli_run_result run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--port", sim.port});
        return cli_run(DRAVLEN_CLI_PATH, args, config_home, dir);
    }
    std::string make_disk(const std::string &name, const std::vector<cc1541_file> &files,
                          const std::string &diskname = "FILES DISK")
    {
        SimFixture::make_disk(name, diskname, "fd", files);
        return dir + "/" + name;
    }
    // The files cbmconvert extracts from an image, into a fresh folder.
    std::string extract(const std::string &image)
    {
        std::string out = dir + "/extracted";
        scratch_dir_remove(out);
        EXPECT_TRUE(cbmconvert_extract(image, out));
        return out;
    }
};

std::string patterned(size_t size, int seed)
{
    std::string data(size, 0);
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i * 13 + seed + i / 253);
    data[0] = 0x01;
    data[1] = 0x08;
    return data;
}

// ---------------------------------------------------------------- dir

TEST_F(Files, DirAgreesWithCc1541sListing)
{
    std::vector<cc1541_file> files;
    for (int i = 0; i < 18; i++) {
        cc1541_file f;
        f.name = "FILE " + std::to_string(i);
        f.data_size = 200 + 700 * i;
        f.type = i % 5 == 1 ? "SEQ" : i % 5 == 2 ? "USR" : "PRG";
        f.locked = i == 3;
        f.open = i == 4;
        files.push_back(f);
    }
    std::string disk = make_disk("dir.d64", files);
    cc1541_listing expected;
    ASSERT_TRUE(cc1541_read_listing(disk, &expected));
    start_sim(disk);

    cli_run_result r = run({"dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(cc1541_listing_fault(cli_output_lines(r.out), expected), "") << r.out;
    std::string id = lower(expected.id.substr(0, expected.id.find_last_not_of(' ') + 1));
    EXPECT_TRUE(contains(scratch_read(dir + "/commands.log"), "di 8\ndd \"$\" 8\n"));

    r = run({"dir", "--json"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(cli_output_lines(r.out).size(), 1u);
    EXPECT_TRUE(contains(lower(r.out), "\"disk_name\":\"files disk\",\"disk_id\":\"" + id + "\""))
        << r.out;
    EXPECT_TRUE(contains(r.out, "{\"blocks\":" + std::to_string(expected.entries[3].blocks) +
                                    ",\"name\":\"FILE 3\",\"type\":\"PRG\",\"closed\":true,"
                                    "\"locked\":true}"))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\"name\":\"FILE 4\",\"type\":\"PRG\",\"closed\":false"));
    EXPECT_TRUE(contains(r.out, ",\"blocks_free\":" + std::to_string(expected.blocks_free) + ",\"exit_status\":0}"));
}

TEST_F(Files, DirFailuresAreOneLine)
{
    start_sim(make_disk("d.d64", {{"A"}}), {"--answer", "dd=NP"});
    cli_run_result r = run({"dir", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, program + ": directory listing failed: drive 8: Device not present\n");
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"failed\",\"error\":\"Device not present\""));
    EXPECT_FALSE(contains(r.out, "entries"));
    r = run({"dir", "--drive", "9"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
}

// ---------------------------------------------------------------- get and put

TEST_F(Files, GetGivesWhatCbmconvertExtracts)
{
    std::vector<cc1541_file> files = {{"SMALL"}, {"MIDDLE"}, {"LARGE"}};
    files[0].data_size = 2;
    files[1].data_size = 254 * 7;
    files[2].data_size = 30000;
    std::string disk = make_disk("get.d64", files);
    std::string x = extract(disk);
    start_sim(disk);

    for (const char *name : {"SMALL", "MIDDLE", "LARGE"}) {
        std::string expected = scratch_read(x + "/" + lower(name) + ".prg");
        ASSERT_FALSE(expected.empty()) << scratch_list(x);
        cli_run_result r = run({"get", name});
        ASSERT_EQ(r.status, 0) << name << r.err;
        EXPECT_TRUE(scratch_read(dir + "/" + name + ".prg") == expected) << name;
        int blocks = drive_files_blocks_of_size((int)expected.size());
        EXPECT_EQ(r.out, std::string(name) + ".prg: " + std::to_string(expected.size()) +
                             " bytes (" + std::to_string(blocks) +
                             (blocks == 1 ? " block)\n" : " blocks)\n"));
    }
    EXPECT_TRUE(contains(scratch_read(dir + "/commands.log"), "dd \"LARGE\" 8 1\n"));

    // An existing file is kept unless --overwrite; the drive is not asked.
    scratch_write(dir + "/mine.prg", "keep me");
    std::string before = scratch_read(dir + "/commands.log");
    cli_run_result r = run({"get", "MIDDLE", "mine.prg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, program + ": mine.prg already exists (use --overwrite to replace it)\n");
    EXPECT_EQ(scratch_read(dir + "/mine.prg"), "keep me");
    EXPECT_EQ(scratch_read(dir + "/commands.log"), before);
    r = run({"get", "MIDDLE", dir + "/mine.prg", "--overwrite", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(scratch_read(dir + "/mine.prg") == scratch_read(x + "/middle.prg"));
    EXPECT_TRUE(contains(r.out, "\"files\":[\"" + dir + "/mine.prg\"]")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"name\":\"MIDDLE\",\"bytes\":" +
                                    std::to_string(scratch_read(x + "/middle.prg").size()) + ",\"exit_status\":0}"))
        << r.out;

    // A name that is not there: a failure and no file.
    r = run({"get", "NOTHERE"});
    EXPECT_EQ(r.status, 1);
    // The drive's own reason follows the failure.
    EXPECT_EQ(r.err, program + ": get failed: File not found: 62,FILE NOT FOUND,00,00\n");
    EXPECT_FALSE(g_file_test((dir + "/NOTHERE.prg").c_str(), G_FILE_TEST_EXISTS));
}

TEST_F(Files, PutWritesTheFileByteForByte)
{
    std::string disk = make_disk("put.d64", {{"OLD"}});
    std::string big = patterned(40000, 3), small = patterned(254, 5);
    scratch_write(dir + "/BIG GAME.PRG", big);
    scratch_write(dir + "/small.prg", small);
    start_sim(disk);

    cli_run_result r = run({"put", "BIG GAME.PRG"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\"BIG GAME\": 40000 bytes (158 blocks) written\n");
    r = run({"put", dir + "/small.prg", "TINY", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"name\":\"TINY\",\"bytes\":254,\"blocks\":1,\"exit_status\":0}")) << r.out;
    // The drive refuses a name that is there already.
    r = run({"put", "small.prg", "OLD"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, program + ": put failed: Command failed: 63,FILE EXISTS,00,00\n");

    r = run({"dir"});
    EXPECT_TRUE(contains(r.out, "158  \"BIG GAME\"         PRG\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "1    \"TINY\"             PRG\n")) << r.out;
    sim_stop(&sim);
    std::string x = extract(dir + "/out.d64");
    EXPECT_TRUE(scratch_read(x + "/big game.prg") == big) << scratch_list(x);
    EXPECT_TRUE(scratch_read(x + "/tiny.prg") == small);
}

TEST_F(Files, BadNamesAndFilesAreRefusedBeforeTheDriveIsAsked)
{
    start_sim(make_disk("bad.d64", {{"A"}}));
    scratch_write(dir + "/ok.prg", patterned(300, 1));
    scratch_write(dir + "/tiny.prg", "\x01");
    scratch_write(dir + "/huge.prg", patterned(PRG_STORAGE_SIZE + 1, 1));
    scratch_write(dir + "/say\"hi.prg", patterned(300, 1));
    struct bad {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    for (const bad &b : std::vector<bad>{
             {{"get", "A\"B"}, 2, "quote"},
             {{"get", "SEVENTEEN LETTERS"}, 2, "longer than 16"},
             {{"get", ""}, 2, "empty"},
             {{"put", "missing.prg"}, 1, "cannot read"},
             {{"put", "tiny.prg"}, 1, "too small"},
             {{"put", "huge.prg"}, 1, "too large"},
             {{"put", "ok.prg", "BACK\\SLASH"}, 2, "C64 names do not have"},
             {{"put", "ok.prg", "SEVENTEEN LETTERS"}, 2, "longer than 16"},
             {{"put", "ok.prg", "LINE{$0d}BREAK"}, 2, "line break"},
             {{"scratch", "A*"}, 2, "wildcard"},
             {{"scratch", "WHO?"}, 2, "wildcard"},
             {{"scratch", "A,B"}, 2, "--pattern"},
             {{"scratch", "0:A"}, 2, "would make the drive scratch other files"},
             {{"scratch", "A=B"}, 2, "--pattern"},
             {{"format", "NO ID"}, 2, "NAME,ID"},
             {{"format", "NAME,ID3"}, 2, "ID is longer"},
             {{"format", "NAME,"}, 2, "ID is empty"},
             {{"format", "QU\"OTE,01"}, 2, "quote"},
             {{"format", "SEVENTEEN LETTERS,01"}, 2, "longer than 16"},
             {{"rom", "1581", "r.prg"}, 2, "unknown drive \"1581\""},
             {{"rom", "1541", "nofolder/r.prg"}, 1, "no such folder"},
             {{"get", "A", "--fast"}, 2, "does not take --fast"},
             {{"format", "X,01", "--overwrite"}, 2, "does not take --overwrite"},
             {{"rom", "1541"}, 2, "needs an argument"}}) {
        cli_run_result r = run(b.args);
        EXPECT_EQ(r.status, b.status) << b.args[0] << " " << b.args[1];
        EXPECT_EQ(cli_output_lines(r.err).size(), 1u) << r.err;
        EXPECT_TRUE(contains(r.err, b.says)) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // None of them reached the drive.
    EXPECT_EQ(scratch_read(dir + "/commands.log"), "");
    EXPECT_EQ(scratch_list(dir).find("r.prg"), std::string::npos);
}

// ---------------------------------------------------------------- C64 names

// What dir lists is typed back: plain and shifted letters, and bytes with
// no printable form ({$xx}), each name fetched byte-identical by get; put
// without NAME makes a name that lists in capitals.
TEST_F(Files, EveryListedNameIsTypedBackAndPutNamesInCapitals)
{
    std::vector<cc1541_file> files = {{"GAME"}, {"\xC7\xC1\xCD\xC5"}, {"M\xC9X 2"},
                                      {"A\x7B\x12" "B"}, {"\x5C\xFF"}};
    start_sim(make_disk("names.d64", files));
    cli_run_result r = run({"dir"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> names;
    for (const std::string &line : cli_output_lines(r.out)) {
        size_t open = line.find('"'), close = line.rfind('"');
        if (open != std::string::npos && close > open && line[0] != '0')
            names.push_back(line.substr(open + 1, close - open - 1));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"GAME", "game", "MiX 2", "A{$7b}{$12}B",
                                               "\xC2\xA3\xCF\x80"}))
        << r.out;
    for (size_t i = 0; i < names.size() && i < files.size(); i++) {
        std::string out = dir + "/got" + std::to_string(i) + ".prg";
        r = run({"get", names[i], out});
        EXPECT_EQ(r.status, 0) << names[i] << ": " << r.err;
        std::string data(100, '\0');
        for (size_t k = 0; k < data.size(); k++)
            data[k] = (char)(k * 7 + i);
        EXPECT_EQ(scratch_read(out), data) << names[i];
    }
    r = run({"get", "GAM\xC3\xA9"});
    EXPECT_EQ(cli_usage_error_fault(r, program), "");
    EXPECT_TRUE(contains(r.err, "C64 names do not have")) << r.err;

    scratch_write(dir + "/new game.prg", patterned(300, 1));
    r = run({"put", "new game.prg", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"name\":\"NEW GAME\"")) << r.out;
    r = run({"dir"});
    EXPECT_TRUE(contains(r.out, "\"NEW GAME\"")) << r.out;
    EXPECT_TRUE(contains(scratch_read(dir + "/commands.log"), "du \"NEW GAME\" 8 300\n"));
}

// A pattern scratches only with --pattern, and then says every file it took.
TEST_F(Files, ScratchByPatternNamesEveryFileDeleted)
{
    std::string out = dir + "/out.d64";
    start_sim(make_disk("p.d64", {{"A,B"}, {"A"}, {"B"}, {"AB"}, {"C"}}));
    cli_run_result r = run({"scratch", "A,B"});
    EXPECT_EQ(cli_usage_error_fault(r, program), "");
    EXPECT_FALSE(contains(scratch_read(dir + "/commands.log"), "S:")) << "sent anyway";

    r = run({"scratch", "--pattern", "A*", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"scratched\":[\"A,B\",\"A\",\"AB\"],\"exit_status\":0}"))
        << r.out;
    r = run({"scratch", "--pattern", "B,C"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "scratched \"B\"\nscratched \"C\"\n")) << r.out;
    cc1541_listing left;
    ASSERT_TRUE(cc1541_read_listing(out, &left));
    EXPECT_TRUE(left.entries.empty());
}

// ---------------------------------------------------------------- DOS commands

TEST_F(Files, ScratchValidateAndFormatShowInTheSavedDisk)
{
    std::vector<cc1541_file> files = {{"KEEP"}, {"GONE"}, {"ALSO KEPT"}};
    files[2].open = true;  // validate removes a file that was never closed
    start_sim(make_disk("dos.d64", files));

    cli_run_result r = run({"scratch", "GONE"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "01, FILES SCRATCHED,01,00\n");
    r = run({"scratch", "GONE", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, program + ": no file \"GONE\" on the disk in drive 8\n");
    // The summary agrees with the exit status, and says why.
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"failed\",\"error\":\"no file \\\"GONE\\\" on the "
                                "disk in drive 8\""))
        << r.out;
    EXPECT_TRUE(contains(r.out, "\"name\":\"GONE\",\"status\":\"01, FILES SCRATCHED,00,00\","
                                "\"scratched\":[],\"exit_status\":1}"))
        << r.out;
    r = run({"validate"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "00, OK,00,00\n");
    sim_stop(&sim);
    cc1541_listing listing;
    ASSERT_TRUE(cc1541_read_listing(dir + "/out.d64", &listing));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].name, "keep");

    g_rename((dir + "/out.d64").c_str(), (dir + "/dos2.d64").c_str());
    start_sim(dir + "/dos2.d64");
    r = run({"format", "FRESH DISK,FD"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "00, OK,00,00\n");
    EXPECT_EQ(run({"dir"}).out, "0 \"FRESH DISK      \" FD 2A\n664 BLOCKS FREE.\n");
    ASSERT_TRUE(scratch_write(dir + "/p.prg", patterned(600, 2)));
    ASSERT_EQ(run({"put", "p.prg"}).status, 0);
    r = run({"format", "QUICK,QK", "--fast", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"disk_name\":\"QUICK\",\"disk_id\":\"QK\",\"fast\":true")) << r.out;
    sim_stop(&sim);
    std::string log = scratch_read(dir + "/commands.log");
    EXPECT_TRUE(contains(log, "dc \"S:GONE\" 8\n")) << log;
    EXPECT_TRUE(contains(log, "dc \"V0\" 8\n"));
    EXPECT_TRUE(contains(log, "dc \"N:FRESH DISK,FD\" 8\n"));
    EXPECT_TRUE(contains(log, "ff \"QUICK,QK\" " + std::to_string(TRACKS) + " 8\n")) << log;
    ASSERT_TRUE(cc1541_read_listing(dir + "/out.d64", &listing));
    EXPECT_EQ(listing.diskname.substr(0, 5), "quick");
    EXPECT_TRUE(listing.entries.empty());
}

TEST_F(Files, RefusedDosCommandsShowTheDrivesReason)
{
    // The first directory sector has no sync: the drive cannot validate.
    std::string image = scratch_read(make_disk("plain.d64", {{"A"}, {"B"}}));
    ASSERT_EQ(image.size(), 174848u);
    std::string info(683, '\x01');
    info[357 + 1] = 0x03;
    ASSERT_TRUE(scratch_write(dir + "/bad_dir.d64", image + info));
    start_sim(dir + "/bad_dir.d64");
    cli_run_result r = run({"validate"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "21,READ ERROR,18,01\n");
    EXPECT_EQ(r.err, program + ": drive 8 refused the validation: 21,READ ERROR,18,01\n");
    r = run({"format", "X,01", "--drive", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, program + ": format failed: drive 10: Device not present\n");
}

// ---------------------------------------------------------------- rom

TEST_F(Files, RomDumpsHaveTheirSizeAndLoadAddress)
{
    start_sim(make_disk("rom.d64", {{"A"}}));
    cli_run_result r = run({"rom", "1541", "rom41.prg"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "rom41.prg: 1541 ROM, 16386 bytes\n");
    std::string rom41 = scratch_read(dir + "/rom41.prg");
    ASSERT_EQ(rom41.size(), 16386u);
    EXPECT_EQ(rom41.substr(0, 2), std::string("\x00\xC0", 2));
    EXPECT_EQ(rom41.substr(2, 21), "DRAVLEN-SIM DRIVE ROM");

    r = run({"rom", "1571", "rom71.prg", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"model\":\"1571\",\"bytes\":32770,\"exit_status\":0}")) << r.out;
    std::string rom71 = scratch_read(dir + "/rom71.prg");
    ASSERT_EQ(rom71.size(), 32770u);
    EXPECT_EQ(rom71.substr(0, 2), std::string("\x00\x80", 2));
    EXPECT_TRUE(rom71.substr(2 + 16384) == rom41.substr(2));

    r = run({"rom", "1571", "rom41.prg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(scratch_read(dir + "/rom41.prg").size(), 16386u);
    EXPECT_EQ(run({"rom", "1571", "rom41.prg", "--overwrite"}).status, 0);
    EXPECT_EQ(scratch_read(dir + "/rom41.prg").size(), 32770u);
}

// ---------------------------------------------------------------- Ctrl+C

TEST_F(Files, CtrlCEndsATransferAtOnceAndLeavesNoFile)
{
    cc1541_file big{"BIG"};
    big.data_size = 60000;
    std::string disk = make_disk("slow.d64", {big});
    scratch_write(dir + "/up.prg", patterned(60000, 7));
    // A paced drive for get and put, a trickling board for the ROM.
    struct slow {
        std::vector<std::string> sim_args;
        std::vector<std::string> args;
        std::string file;  // what must not appear
    };
    for (const slow &s : std::vector<slow>{
             {{"--drive-timing"}, {"get", "BIG", "big.prg"}, "big.prg"},
             {{"--trickle", "3"}, {"rom", "1541", "rom.prg"}, "rom.prg"},
             {{"--trickle", "3"}, {"put", "up.prg", "--json"}, ""}}) {
        start_sim(disk, s.sim_args);
        // The simulator's command log appears with the first command.
        ASSERT_TRUE(scratch_write(dir + "/commands.log", ""));
        std::string before = scratch_list(dir);
        std::vector<std::string> args = {"--port", sim.port};
        args.insert(args.end(), s.args.begin(), s.args.end());
        cli_run_result r = cli_run_interrupted(DRAVLEN_CLI_PATH, args, config_home, 400, dir);
        EXPECT_FALSE(r.ended_before_sigint) << s.args[0] << r.err;
        EXPECT_LT(r.seconds_after_sigint, 0.2) << s.args[0];
        EXPECT_EQ(r.status, 130) << s.args[0] << r.err;
        EXPECT_TRUE(contains(r.err, "interrupted")) << r.err;
        // No file and no temporary file beside it.
        EXPECT_EQ(scratch_list(dir), before) << s.args[0];
        if (s.args.back() == "--json") {
            EXPECT_TRUE(contains(r.out, "\"outcome\":\"interrupted\"")) << r.out;
        }
        sim_stop(&sim);
    }
}

// ---------------------------------------------------------------- helpers

TEST(DriveFilesWriting, SavesReplaceOnlyWhenAskedAndLeaveNoTemporaryFile)
{
    std::string dir = scratch_dir_new();
    std::string path = dir + "/a.prg";
    const uint8_t data[] = {1, 8, 42};
    char *error = nullptr;
    ASSERT_TRUE(drive_files_write_file(path.c_str(), data, 3, 0, &error));
    EXPECT_EQ(scratch_read(path), std::string("\x01\x08\x2a", 3));
    EXPECT_FALSE(drive_files_write_file(path.c_str(), data, 2, 0, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(contains(error, "already exists")) << error;
    g_free(error);
    EXPECT_EQ(scratch_read(path).size(), 3u);
    ASSERT_TRUE(drive_files_write_file(path.c_str(), data, 2, 1, &error));
    EXPECT_EQ(scratch_read(path).size(), 2u);
    EXPECT_EQ(scratch_list(dir), "a.prg");
    EXPECT_FALSE(drive_files_write_file((dir + "/no/such.prg").c_str(), data, 3, 1, &error));
    EXPECT_TRUE(contains(error, "no/such.prg")) << error;
    g_free(error);
    scratch_dir_remove(dir);
}

}  // namespace

// ---------------------------------------------------------------- engine

namespace {

struct recorder : engine_recorder {
    std::vector<std::string> listing;
    const char *answer = nullptr;  // what ask_file_name returns
    std::string asked;
};

recorder *of(void *user)
{
    return static_cast<recorder *>(static_cast<engine_recorder *>(user));
}

engine_ui recording_ui(recorder *r)
{
    engine_ui ui = engine_recorder_ui(r);
    ui.listing = [](void *user, engine_listing_event event, const char *text) {
        recorder *r = of(user);
        engine_recorder_event(r);
        r->listing.push_back(event == ENGINE_LISTING_CLEAR    ? std::string("<clear>")
                             : event == ENGINE_LISTING_NOTICE ? "<notice>" + std::string(text)
                                                              : std::string(text));
    };
    ui.ask_file_name = [](void *user, const char *suggested) -> char * {
        recorder *r = of(user);
        r->asked = suggested;
        return r->answer ? g_strdup(r->answer) : nullptr;
    };
    return ui;
}

}  // namespace

TEST_F(Files, EngineListingEventsAndAskedFileNames)
{
    std::vector<cc1541_file> files;
    for (int i = 0; i < 20; i++)
        files.push_back(cc1541_file{"ENTRY" + std::to_string(i)});
    start_sim(make_disk("twenty.d64", files));
    engine_clear_abort();
    engine_drive_job job = {sim.port.c_str(), 8, 0, 0};

    recorder r;
    engine_ui ui = recording_ui(&r);
    std::vector<uint8_t> buffer(DIR_STORAGE_SIZE);
    int received = 0;
    ASSERT_TRUE(engine_list_directory(&ui, &job, buffer.data(), (int)buffer.size(), &received));
    EXPECT_EQ(r.finished, 1);
    EXPECT_FALSE(r.event_after_finish);
    // What the GUI's panel shows while the program arrives.
    ASSERT_EQ(r.listing.size(), 18u);
    EXPECT_EQ(r.listing[0], "<notice>READING DIR...");
    EXPECT_EQ(r.listing[1], "<clear>");
    EXPECT_EQ(r.listing[3].rfind("1    \"ENTRY0\"", 0), 0u) << r.listing[3];
    EXPECT_EQ(r.listing[17], "... READING IN PROGRESS ...");
    EXPECT_EQ(r.log, (std::vector<std::string>{std::string(32, '=') + "\n",
                                               "Reading disk directory\n", "Completed\n"}));
    GString *text = g_string_new(nullptr);
    EXPECT_TRUE(drive_files_listing_text(buffer.data(), received, text));
    EXPECT_TRUE(contains(text->str, "\"ENTRY19\""));
    g_string_free(text, TRUE);

    // Without a path the name is asked; a cancel saves nothing.
    std::vector<uint8_t> prg(PRG_STORAGE_SIZE);
    engine_save_target ask = {nullptr, 1, 0, 0};
    recorder cancelled;
    ui = recording_ui(&cancelled);
    EXPECT_TRUE(engine_export_prg(&ui, &job, "ENTRY3", 1, prg.data(), (int)prg.size(),
                                  &received, &ask));
    EXPECT_EQ(cancelled.asked, "ENTRY3.prg");
    EXPECT_TRUE(cancelled.files.empty());
    EXPECT_EQ(cancelled.log[2], "PRG not saved at user's request\n");

    std::string path = dir + "/asked.prg";
    recorder saved;
    saved.answer = path.c_str();
    ui = recording_ui(&saved);
    EXPECT_TRUE(engine_export_prg(&ui, &job, "ENTRY3", 1, prg.data(), (int)prg.size(),
                                  &received, &ask));
    EXPECT_EQ(saved.files, std::vector<std::string>{path});
    EXPECT_EQ(saved.log[2], "PRG saved to: " + path + "\n");
    EXPECT_EQ(scratch_read(path), std::string((const char *)prg.data(), (size_t)received));
    // Asked again for a file that now exists: kept, and the job fails.
    recorder refused;
    refused.answer = path.c_str();
    ui = recording_ui(&refused);
    EXPECT_FALSE(engine_export_prg(&ui, &job, "ENTRY4", 1, prg.data(), (int)prg.size(),
                                   &received, &ask));
    EXPECT_EQ(refused.outcome.kind, ENGINE_FAILED);
    EXPECT_STREQ(refused.outcome.failure, "Unable to save to file");
    EXPECT_TRUE(refused.files.empty());
    EXPECT_EQ(refused.finished, 1);
}
