// Writing images onto disks and firmware onto the board, from the command
// line and through the engine, against dravlen-sim.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/firmware.h"
#include "engine/restore.h"
#include "engine/update.h"
#include "engine/verify.h"
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

// The data bytes of an Intel HEX text as they land in flash.
std::string hex_data(const std::string &hex)
{
    std::string data;
    for (size_t pos = 0; (pos = hex.find(':', pos)) != std::string::npos; pos++) {
        auto byte = [&](size_t i) { return (int)std::stoul(hex.substr(pos + 1 + 2 * i, 2), nullptr, 16); };
        int count = byte(0), address = byte(1) << 8 | byte(2);
        if (byte(3) != 0)
            continue;
        if (data.size() < (size_t)(address + count))
            data.resize(address + count, '\xff');
        for (int i = 0; i < count; i++)
            data[address + i] = (char)byte(4 + i);
    }
    return data;
}

class Writing : public SimFixture {
protected:
    void SetUp() override
    {
        SimFixture::SetUp();
        d64_module_init();
        engine_clear_abort();
    }
    void TearDown() override
    {
        SimFixture::TearDown();
        engine_clear_abort();
    }
    void start_sim(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--log", dir + "/commands.log"});
        SimFixture::start_sim(args);
    }
    std::string commands() { return scratch_read(dir + "/commands.log"); }

    // A cc1541 disk with files; the 40-track build gets five more tracks
    // of patterned data.
    std::string make_image(const std::string &name)
    {
        std::string path = dir + "/" + name;
        std::vector<cc1541_file> files;
        for (int i = 0; i < 5; i++) {
            cc1541_file f;
            f.name = "FILE" + std::to_string(i);
            f.data_size = 1500 + 4000 * i;
            files.push_back(f);
        }
        EXPECT_TRUE(cc1541_build_d64(path, "WRITTEN", "wr", files));
        if (TRACKS == 40) {
            std::string image = scratch_read(path);
            for (int i = 0; i < 5 * 17 * 256; i++)
                image += (char)(i * 7 + i / 256);
            scratch_write(path, image);
        }
        return path;
    }

    // The program in `dir`, with a configuration folder of its own.
    cli_run_result run(std::vector<std::string> args, bool on_sim = true)
    {
        if (on_sim)
            args.insert(args.begin(), {"--port", sim.port});
        return cli_run(DRAVLEN_CLI_PATH, args, dir, dir);
    }
    // Sends SIGINT after `delay_ms` and measures how long the program takes
    // to end.
    cli_run_result interrupt(std::vector<std::string> args, int delay_ms, double *seconds)
    {
        args.insert(args.begin(), {"--port", sim.port});
        cli_run_result r = cli_run_interrupted(DRAVLEN_CLI_PATH, args, dir, delay_ms, dir);
        EXPECT_FALSE(r.ended_before_sigint) << "ended before the signal";
        *seconds = r.seconds_after_sigint;
        return r;
    }
};

// ---------------------------------------------------------------- write

TEST_F(Writing, DiskBecomesByteIdenticalToTheImage)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string image = make_image("source.d64");
    start_sim({"--blank", "8", "--save", "8=" + dir + "/disk.d64"});
    cli_run_result r = run({"write", "--yes", "--json", image});
    EXPECT_EQ(r.status, 0) << r.err;
    int total = (int)(d64_base_size / 256);
    EXPECT_EQ(line_count(r.out), 1) << r.out;
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"succeeded\"")) << r.out;
    EXPECT_TRUE(contains(r.out, ",\"sectors_written\":" + std::to_string(total) +
                               ",\"sectors_total\":" + std::to_string(total) +
                               ",\"verify\":{\"sectors\":" + std::to_string(total) +
                               ",\"matching\":" + std::to_string(total) +
                               ",\"differing\":[],\"unreadable\":[]},\"exit_status\":0}"))
        << r.out;
    // Not a terminal: one plain line per track, and the read-back.
    EXPECT_EQ(line_count(r.err), TRACKS + 1) << r.err;
    EXPECT_TRUE(contains(r.err, "Wrote track " + std::to_string(TRACKS) + " of " +
                               std::to_string(TRACKS) + " (" + std::to_string(total)))
        << r.err;
    sim_stop(&sim);
    std::string written = scratch_read(dir + "/disk.d64");
    EXPECT_EQ(written.size(), (size_t)d64_base_size);
    EXPECT_TRUE(written == scratch_read(image)) << "the disk differs from the image";

    // A clean image with error info goes out too, as its plain part.
    std::string with_info = scratch_read(image) + std::string((size_t)d64_block_error_info_size, 1);
    scratch_write(dir + "/info.d64", with_info);
    start_sim({"--blank", "9", "--save", "9=" + dir + "/disk9.d64"});
    r = run({"write", "--drive", "9", "-y", dir + "/info.d64"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "to the disk in drive 9")) << r.out;
    sim_stop(&sim);
    EXPECT_TRUE(scratch_read(dir + "/disk9.d64") == scratch_read(image));
}

TEST_F(Writing, BadInputIsRefusedWithOneLineAndNothingWritten)
{
    std::string good((size_t)d64_base_size, '\0');
    scratch_write(dir + "/good.d64", good);
    scratch_write(dir + "/short.d64", good.substr(1));
    scratch_write(dir + "/other.d64", std::string(TRACKS == 40 ? 683 * 257 : 768 * 256, '\0'));
    std::string bad = good + std::string((size_t)d64_block_error_info_size, 1);
    bad[good.size() + 400] = 0x05;
    scratch_write(dir + "/errors.d64", bad);
    std::string unreadable = dir + "/nothing.d64";
    start_sim({"--blank", "8"});

    struct refusal {
        std::vector<std::string> args;
        int status;
        std::string says;
    };
    const std::vector<refusal> cases = {
        {{"write", dir + "/good.d64"}, 1, "no terminal to ask on; add --yes"},
        {{"write", "--yes", dir + "/short.d64"}, 1, "is no " + std::to_string(TRACKS) + "-track D64 image"},
        {{"write", "--yes", dir + "/other.d64"}, 1,
         TRACKS == 40 ? "(a 35-track image: use --tracks 35)" : "(a 40-track image: use --tracks 40)"},
        {{"write", "--yes", dir + "/errors.d64"}, 1, "(1 with errors)"},
        {{"write", "--yes", unreadable}, 1, "cannot read"},
        {{"write", "--yes", "--drive", "12", dir + "/good.d64"}, 2, "unknown drive"},
        {{"write", "--yes"}, 2, "needs an argument"},
        {{"write", "--hex", "x.hex", dir + "/good.d64"}, 2, "does not take --hex"},
        {{"status", "--yes"}, 2, "does not take --yes"},
        {{"write", "--port", "/dev/nonexistent-dravlen", dir + "/good.d64"}, 1,
         "cannot open /dev/nonexistent-dravlen: no such port"},
    };
    for (const refusal &c : cases) {
        cli_run_result r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
        EXPECT_EQ(r.err.rfind(std::string(program) + ": ", 0), 0u) << r.err;
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_TRUE(r.out.empty()) << r.out;
    }
    // A script asking for JSON gets its object for a refusal too.
    cli_run_result r = run({"write", "--json", dir + "/good.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(line_count(r.out), 1) << r.out;
    EXPECT_TRUE(contains(r.out, "\"command\":\"write\",\"port\":\"" + sim.port +
                               "\",\"outcome\":\"failed\",\"error\":\"not writing to the disk"))
        << r.out;
    // The drive never heard of a write.
    sim_stop(&sim);
    EXPECT_FALSE(contains(commands(), "wr ")) << commands();

    // A board that breaks off mid-transfer is a failure, not a hang.
    start_sim({"--blank", "8", "--hangup-after", "300"});
    r = run({"write", "--yes", dir + "/good.d64"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, std::string(program) + ": write failed: Communication error\n" +
                                    program + ": the disk in drive 8 is now partly overwritten\n"))
        << r.err;
}

// The disk is read back after writing: a sector written damaged fails the
// verify by name and the write exits 4; --no-verify trusts the write.
TEST_F(Writing, AWeakSpotFailsTheVerifyAndIsNamed)
{
    std::string image = dir + "/image.d64";
    scratch_write(image, std::string((size_t)d64_base_size, '\x42'));
    int total = (int)(d64_base_size / 256);
    start_sim({"--blank", "8", "--write-fault", "1/2", "--write-fault", "20/3"});
    cli_run_result r = run({"write", "--yes", image});
    EXPECT_EQ(r.status, 4) << r.err;
    EXPECT_TRUE(contains(r.out, "verified: " + std::to_string(total - 2) + " of " +
                                    std::to_string(total) + " sectors match\n"
                                    "could not be read: 1/2 20/3\n"))
        << r.out;
    EXPECT_TRUE(contains(r.err, ": write: the disk in drive 8 does not match the image\n")) << r.err;

    r = run({"write", "--yes", "--no-verify", image});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(contains(r.out, "verified")) << r.out;
}

TEST_F(Writing, EngineVerifyNamesSectorsThatDifferAndKeepsTheImageInMemory)
{
    std::string disk((size_t)d64_base_size, '\x33');
    scratch_write(dir + "/disk.d64", disk);
    start_sim({"--drive", "8=" + dir + "/disk.d64"});
    std::string image = disk;
    image[d64_sector_offset(3, 4) + 17] = 0x34;
    memcpy(d64_storage, image.data(), image.size());
    d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    std::string store_before((const char *)d64_storage, D64_STORAGE_SIZE);

    struct verify_recorder : engine_recorder {
        std::vector<std::pair<int, int>> differs;
    } rec;
    engine_ui ui = engine_recorder_ui(&rec);
    ui.sector_cell = [](void *u, int t, int s, int code, int) {
        if (code == ENGINE_CELL_DIFFERS)
            static_cast<verify_recorder *>(static_cast<engine_recorder *>(u))->differs.push_back({t, s});
    };
    engine_verify_request request = {sim.port.c_str(), 8, d64_storage, 2, 0};
    engine_verify_result result;
    EXPECT_EQ(engine_verify_disk(&ui, &request, &result), 0);
    EXPECT_EQ(rec.finished, 1);
    EXPECT_EQ(rec.outcome.error, ENGINE_ERROR_DISK_DIFFERS);
    EXPECT_EQ(result.compared, (int)(d64_base_size / 256));
    EXPECT_EQ(result.matching, result.compared - 1);
    EXPECT_TRUE(result.unreadable.empty());
    ASSERT_EQ(result.differing.size(), 1u);
    EXPECT_EQ(result.differing[0], std::make_pair(3, 4));
    EXPECT_EQ(rec.differs, result.differing);
    std::string log;
    for (const std::string &line : rec.log)
        log += line;
    EXPECT_TRUE(contains(log, "Verify: t/s  3/4  differs from the image\n")) << log;
    EXPECT_TRUE(contains(log, "Verified: " + std::to_string(result.matching) + " of " +
                                  std::to_string(result.compared) + " sectors match\n"))
        << log;
    EXPECT_TRUE(std::string((const char *)d64_storage, D64_STORAGE_SIZE) == store_before)
        << "the image in memory changed";
}

// Inputs that are no regular file, or far too large, are refused at once,
// before the board hears anything: reading /dev/zero grew without end and a
// FIFO blocked until Ctrl+C.
TEST_F(Writing, WritePutAndUpdateRefuseInputsThatAreNoFileOrTooLargeUnread)
{
    std::string fifo = dir + "/fifo", sparse = dir + "/sparse";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int fd = open(sparse.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 8LL << 30), 0);  // 8 GiB of nothing on disk
    close(fd);
    start_sim({"--blank", "8"});
    const std::vector<std::string> inputs = {"/dev/zero", fifo, dir, sparse};
    const std::vector<std::vector<std::string>> jobs = {
        {"write", "--yes"}, {"put"}, {"update", "--hex"}};
    for (const std::vector<std::string> &job : jobs)
        for (const std::string &input : inputs) {
            std::vector<std::string> args = job;
            args.push_back(input);
            SCOPED_TRACE(cli_shown_args(args));
            gint64 start = g_get_monotonic_time();
            cli_run_result r = run(args);
            EXPECT_LT((g_get_monotonic_time() - start) / 1e6, 2.0);
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(line_count(r.err), 1) << r.err;
            // The update's engine check names the firmware file's kind.
            bool update = job[0] == "update";
            EXPECT_TRUE(contains(r.err, input == sparse ? (update ? "too large" : "8589934592 bytes")
                                        : input == dir && !update ? "is a folder"
                                                                  : "not a regular file"))
                << r.err;
        }
    sim_stop(&sim);
    EXPECT_EQ(commands(), "") << "the board was asked something";
}

TEST_F(Writing, CtrlCStopsTheWriteWithinAFifthOfASecond)
{
    std::string image = dir + "/image.d64";
    scratch_write(image, std::string((size_t)d64_base_size, 'x'));
    // Paced like a real drive: the write takes far longer than the wait.
    start_sim({"--blank", "8", "--drive-timing"});
    double seconds = 0;
    cli_run_result r = interrupt({"write", "--yes", image}, 700, &seconds);
    EXPECT_LT(seconds, 0.2);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, std::string(program) + ": write interrupted\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "Wrote track 1 of")) << "it was writing: " << r.err;
    // The port was let go: the board answers the next program at once.
    cli_run_result next = run({"status"});
    EXPECT_EQ(next.status, 0) << next.err;
}

// ---------------------------------------------------------------- the engine's restore

struct recorder : engine_recorder {
    std::vector<std::pair<int, int>> cells;
    double last_progress = 0;
    int errors = -1;
    std::string question;
    int answer = 0;
};

recorder *of(void *user)
{
    return static_cast<recorder *>(static_cast<engine_recorder *>(user));
}

engine_ui recording_ui(recorder *r)
{
    engine_ui ui = engine_recorder_ui(r);
    ui.sector_cell = [](void *u, int t, int s, int code, int) {
        EXPECT_EQ(code, 10);
        of(u)->cells.push_back({t, s});
    };
    ui.progress = [](void *u, double f) { of(u)->last_progress = f; };
    ui.error_count = [](void *u, int n) { of(u)->errors = n; };
    ui.ask = [](void *u, engine_question q, const char *text) {
        EXPECT_EQ(q, ENGINE_ASK_WRITE_DISK);
        recorder *r = of(u);
        r->question = text;
        return r->answer;
    };
    return ui;
}

TEST_F(Writing, EngineAsksFirstAndSendsEveryTrackInInterleave)
{
    std::string image = dir + "/disk.d64";
    scratch_write(image, std::string((size_t)d64_base_size, '\x55'));
    start_sim({"--blank", "8"});
    const std::string frame = std::string(32, '=') + "\nRestoring disk image\n";

    recorder declined;
    engine_ui ui = recording_ui(&declined);
    engine_write_request request = {sim.port.c_str(), 8, image.c_str(), nullptr, 0};
    EXPECT_EQ(engine_write_image(&ui, &request), 0);
    EXPECT_EQ(declined.question, "Write disk.d64 to the disk in drive 8?");
    EXPECT_EQ(declined.finished, 1);
    EXPECT_EQ(declined.outcome.kind, ENGINE_FAILED);
    EXPECT_EQ(declined.outcome.error, ENGINE_ERROR_WRITE_NOT_CONFIRMED);
    EXPECT_TRUE(declined.cells.empty());

    recorder accepted;
    accepted.answer = 1;
    ui = recording_ui(&accepted);
    EXPECT_EQ(engine_write_image(&ui, &request), 1);
    EXPECT_EQ(accepted.outcome.kind, ENGINE_SUCCEEDED);
    EXPECT_EQ(accepted.last_progress, 1.0);
    std::vector<std::pair<int, int>> expected;
    for (int t = 1; t <= TRACKS; t++) {
        int order[21];
        ASSERT_EQ(restore_sector_order(d64_sectors_of_track(t), order), 1);
        for (int i = 0; i < d64_sectors_of_track(t); i++)
            expected.push_back({t, order[i]});
    }
    EXPECT_EQ(accepted.cells, expected);
    std::string log;
    for (const std::string &l : accepted.log)
        log += l;
    EXPECT_EQ(log, frame + "Completed\n");
    sim_stop(&sim);
    // Only the write that was confirmed reached the drive.
    std::string sent = commands();
    EXPECT_EQ(sent.find("wr 8"), sent.rfind("wr 8")) << sent;
}

TEST_F(Writing, EngineRefusesImagesThatWouldNotComeOutEqual)
{
    std::string plain((size_t)d64_base_size, '\0');
    std::string info((size_t)d64_block_error_info_size, '\x01');
    int count = -1;
    auto check = [&](const std::string &bytes) {
        return engine_restore_check_image((const unsigned char *)bytes.data(), bytes.size(), &count);
    };
    EXPECT_EQ(check(plain), ENGINE_IMAGE_CLEAN);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(check(plain + info), ENGINE_IMAGE_CLEAN);
    EXPECT_EQ(check(plain + "x"), ENGINE_IMAGE_WRONG_SIZE);
    EXPECT_EQ(check(plain + info + "x"), ENGINE_IMAGE_WRONG_SIZE);
    // The other build's sizes are wrong here.
    size_t other = TRACKS == 40 ? 174848 : 196608;
    EXPECT_EQ(check(std::string(other, '\0')), ENGINE_IMAGE_WRONG_SIZE);
    // $0F is no accessible error but keeps the image off the disk all the same.
    info[0] = 0x0F;
    info[500] = 0x05;
    info[501] = 0x17;
    EXPECT_EQ(check(plain + info), ENGINE_IMAGE_HAS_ERRORS);
    EXPECT_EQ(count, 2);

    // Through the whole operation: refused before the question and the port.
    recorder r;
    r.answer = 1;
    engine_ui ui = recording_ui(&r);
    std::string bytes = plain + info;
    engine_write_request request = {"/nonexistent", 8, "x.d64", (const unsigned char *)bytes.data(),
                                    bytes.size()};
    EXPECT_EQ(engine_write_image(&ui, &request), 0);
    EXPECT_EQ(r.errors, 2);
    EXPECT_TRUE(r.question.empty());
    EXPECT_EQ(r.outcome.error, ENGINE_ERROR_IMAGE_HAS_ERRORS);
    ASSERT_EQ(r.log.size(), 4u);
    EXPECT_EQ(r.log[2], "Image contains errors and won't be restored\n");
    EXPECT_EQ(r.log[3], "Failed\n");
}

// ---------------------------------------------------------------- update

TEST_F(Writing, UpdateFlashesOnlyWhatItWasToldToAndOnlyWhenConfirmed)
{
    std::string boot = dir + "/boot port";
    start_sim({"--bootloader-link", boot, "--flash-out", dir + "/flash.bin"});
    if (firmware_is_test_image) {
        // The carried test image is never flashed, even with --yes.
        cli_run_result r = run({"update", "--yes", "--bootloader-port", boot, "--json"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(contains(r.err, "carries no board firmware")) << r.err;
        EXPECT_TRUE(contains(r.err, "--hex FILE")) << r.err;
        EXPECT_TRUE(contains(r.out, "\"outcome\":\"failed\"")) << r.out;
    }
    // No terminal to ask on and no --yes: refused.
    std::string own = ":10000000DEADBEEF00112233445566778899AABB56\r\n"
                      ":04001000CCDDEEFF56\r\n:00000001FF\r\n";
    std::string hex = dir + "/my:firmware.hex";
    scratch_write(hex, own);
    cli_run_result r = run({"update", "--bootloader-port", boot, "--hex", hex});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "no terminal to ask on; add --yes")) << r.err;
    EXPECT_FALSE(contains(commands(), "j")) << "the board was reset without a yes";
    // On a terminal it asks, naming port and file; anything but yes is no.
    std::string question = "Flash " + hex + " onto the board at " + sim.port + "? [y/N] ";
    r = cli_run_on_terminal(DRAVLEN_CLI_PATH,
                            {"--port", sim.port, "update", "--bootloader-port", boot, "--hex", hex},
                            dir, dir, 80, question, "n\n");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.err, question)) << r.err;
    EXPECT_TRUE(contains(r.err, "Flashing the firmware was not confirmed")) << r.err;
    EXPECT_FALSE(contains(commands(), "j")) << "the board was reset after a no";

    // A file of one's own; its name needs no care from avrdude's -U syntax.
    // With -v avrdude's messages are shown.
    r = run({"update", "-v", "--yes", "--bootloader-port", boot, "--hex", hex});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Firmware updated\n");
    EXPECT_TRUE(contains(r.err, "Bootloader port: " + boot + "\n")) << r.err;
    EXPECT_TRUE(contains(r.err, "avrdude")) << r.err;
    sim_stop(&sim);
    std::string flashed = scratch_read(dir + "/flash.bin");
    std::string expected = hex_data(own);
    ASSERT_EQ(expected.size(), 20u);
    ASSERT_GE(flashed.size(), expected.size());
    EXPECT_EQ(flashed.substr(0, expected.size()), expected);

    // The test image goes onto a board only when asked for by file; without
    // -v only the port is told.
    ASSERT_TRUE(firmware_save_firmware_in(dir.c_str()));
    std::string test_image = dir + "/" + firmware_file_name;
    g_remove((dir + "/flash.bin").c_str());
    start_sim({"--bootloader-link", boot, "--flash-out", dir + "/flash.bin"});
    r = run({"update", "--yes", "--bootloader-port", boot, "--hex", test_image, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"succeeded\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"bootloader_port\":\"" + boot + "\",\"hex\":")) << r.out;
    EXPECT_EQ(r.err, "Resetting the board into its bootloader\nBootloader port: " + boot + "\n");
    sim_stop(&sim);
    expected = hex_data(firmware);
    flashed = scratch_read(dir + "/flash.bin");
    ASSERT_GE(flashed.size(), expected.size());
    EXPECT_EQ(flashed.substr(0, expected.size()), expected);
}

TEST_F(Writing, EngineUpdateAsksNamingPortAndFileBeforeTouchingTheBoard)
{
    start_sim({"--bootloader-link", dir + "/boot"});
    std::string hex = dir + "/fw.hex";
    scratch_write(hex, ":00000001FF\r\n");
    engine_update_request carried = {sim.port.c_str(), "", nullptr, false};
    EXPECT_EQ(engine_update_problem(&carried) == ENGINE_ERROR_NO_BOARD_FIRMWARE,
              firmware_is_test_image != 0);
    recorder r;
    engine_ui ui = engine_recorder_ui(&r);
    ui.ask = [](void *u, engine_question q, const char *text) {
        EXPECT_EQ(q, ENGINE_ASK_FLASH_FIRMWARE);
        of(u)->question = text;
        return 0;
    };
    engine_update_request request = {sim.port.c_str(), "", hex.c_str(), false};
    EXPECT_EQ(engine_update_firmware(&ui, &request), 0);
    EXPECT_EQ(r.question, "Flash " + hex + " onto the board at " + sim.port + "?");
    EXPECT_EQ(r.outcome.error, ENGINE_ERROR_FLASH_NOT_CONFIRMED);
    EXPECT_EQ(r.finished, 1);
    EXPECT_FALSE(contains(commands(), "j")) << commands();
}

TEST_F(Writing, UpdateFailuresAndCtrlCDuringTheBootloaderWait)
{
    std::string hex = dir + "/fw.hex";
    firmware_save_firmware_in(dir.c_str());
    g_rename((dir + "/" + firmware_file_name).c_str(), hex.c_str());
    scratch_write(dir + "/text.hex", "not a hex file\n");
    g_mkdir((dir + "/folder.hex").c_str(), 0700);
    start_sim({"--bootloader-link", dir + "/boot", "--flash-out", dir + "/flash.bin"});
    for (const char *bad : {"/text.hex", "/missing.hex", "/folder.hex"}) {
        cli_run_result r = run({"update", "--yes", "--hex", dir + bad});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
    }
    EXPECT_FALSE(contains(commands(), "j")) << "the board was reset for a bad file";

    double seconds = 0;
    cli_run_result r =
        interrupt({"update", "--yes", "--hex", hex, "--bootloader-port", dir + "/boot"}, 700,
                  &seconds);
    EXPECT_LT(seconds, 0.2);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_TRUE(contains(r.err, "update interrupted")) << r.err;
    g_usleep(2500 * 1000);
    sim_stop(&sim);
    EXPECT_FALSE(g_file_test((dir + "/flash.bin").c_str(), G_FILE_TEST_EXISTS))
        << "avrdude ran after Ctrl+C";

    // An avrdude that leaves a mark and fails: not started without a
    // bootloader port; its messages are shown when it fails.
    std::string fake = dir + "/bin";
    g_mkdir(fake.c_str(), 0700);
    scratch_write(fake + "/avrdude",
                  "#!/bin/sh\ntouch \"" + dir + "/avrdude-ran\"\necho 'avrdude: no answer'\nexit 1\n");
    g_chmod((fake + "/avrdude").c_str(), 0700);
    std::string path = g_getenv("PATH");
    g_setenv("PATH", (fake + ":" + path).c_str(), TRUE);
    start_sim({});
    r = run({"update", "--yes", "--hex", hex, "--bootloader-port", dir + "/nothing-here"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, std::string(program) + ": update failed: no bootloader port "
                                                       "appeared; name it with --bootloader-port"))
        << r.err;
    EXPECT_FALSE(g_file_test((dir + "/avrdude-ran").c_str(), G_FILE_TEST_EXISTS));
    sim_stop(&sim);
    start_sim({"--bootloader-link", dir + "/boot"});
    r = run({"update", "--yes", "--hex", hex, "--bootloader-port", dir + "/boot"});
    g_setenv("PATH", path.c_str(), TRUE);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(g_file_test((dir + "/avrdude-ran").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_TRUE(contains(r.err, "avrdude: no answer\n" + std::string(program) +
                                    ": update failed: The avrdude executable exited with error\n"))
        << r.err;
}

}  // namespace
