// The dravlen program as a user runs it: arguments, output, exit statuses,
// Ctrl+C, and the GUI's options left as they were.  Against dravlen-sim.
#include <gtest/gtest.h>

#include <glib.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "device/firmware.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"

namespace {

const char *const program = TRACKS == 40 ? "dravlen40" : "dravlen";

class Cli : public SimFixture {
protected:
    cli_run_result run(std::vector<std::string> args)
    {
        return cli_run(DRAVLEN_CLI_PATH, args, config_home);
    }
    cli_run_result run_on_sim(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--port", sim.port});
        return cli_run(DRAVLEN_CLI_PATH, args, config_home);
    }
};

// ---------------------------------------------------------------- usage

TEST_F(Cli, HelpListsTheSubcommandsThatExistAndExitsZero)
{
    for (const char *help : {"--help", "-h"}) {
        cli_run_result r = run({help});
        EXPECT_EQ(r.status, 0) << help;
        for (const char *sub : {"info", "status", "command", "read", "dump", "reread", "reset",
                                "write", "update", "dir", "get", "put", "scratch", "validate",
                                "format", "rom", "ls", "extract", "map", "merge"})
            EXPECT_TRUE(contains(r.out, std::string("\n  ") + sub + " ")) << sub;
        EXPECT_EQ(r.out.rfind(std::string("Usage: ") + program + " [OPTIONS]", 0), 0u) << r.out;
        EXPECT_TRUE(contains(r.out, "Exit status: 0 done; 1 failed; 2 usage error; 3 ")) << r.out;
        EXPECT_TRUE(r.err.empty());
    }
}

TEST_F(Cli, EverySubcommandHasItsOwnHelp)
{
    for (const char *sub : {"info", "status", "command", "read", "dump", "reread", "reset", "write",
                            "update", "dir", "get", "put", "scratch", "validate", "format", "rom",
                            "ls", "extract", "map", "merge"}) {
        for (std::vector<std::string> args : {std::vector<std::string>{sub, "--help"},
                                              std::vector<std::string>{"--help", sub}}) {
            cli_run_result r = run(args);
            EXPECT_EQ(r.status, 0) << sub;
            EXPECT_EQ(r.out.rfind(std::string("Usage: ") + program + " " + sub, 0), 0u) << r.out;
            EXPECT_TRUE(contains(r.out, "Exit status:")) << sub;
        }
    }
    // Help needs no port and no device: it works with a port that is not there.
    EXPECT_EQ(run({"--port", "/nonexistent", "status", "--help"}).status, 0);
}

TEST_F(Cli, UsageErrorsExitTwoWithOneLine)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"read", "a.d64", "b.d64"},
        {"info", "--frob"},
        {"info", "extra"},
        {"info", "--bus"},
        {"info", "--drive", "9"},
        {"status", "--drive", "12"},
        {"status", "--drive", "x"},
        {"status", "--drive"},
        {"status", "--port"},
        {"status", "--port="},
        {"command"},
        {"command", "I0", "V0"},
        {"reset", "--tracks", "36"},
        {"frobnicate", "--help"},
    };
    for (const std::vector<std::string> &args : cases) {
        cli_run_result r = run(args);
        EXPECT_EQ(cli_usage_error_fault(r, program), "") << cli_shown_args(args);
        EXPECT_TRUE(r.out.empty()) << cli_shown_args(args);
    }
}

// A script that asks for JSON gets one object at every ending, failures
// before any device work included, agreeing with the exit status.
TEST_F(Cli, EveryEndingPrintsJsonThatAgreesWithTheExitStatus)
{
    struct ending {
        std::vector<std::string> args;
        int status;
    };
    for (const ending &e : std::vector<ending>{
             {{"--port", "/nonexistent", "info", "--json"}, 1},
             {{"--port", "/nonexistent", "reread", "missing.d64", "--json"}, 1},
             {{"--port", "/nonexistent", "get", "A\"B", "--json"}, 2},
             {{"--json", "frobnicate"}, 2},
             {{"--port", "/nonexistent", "dump", "frob", "--json"}, 2}}) {
        cli_run_result r = run(e.args);
        EXPECT_EQ(r.status, e.status) << cli_shown_args(e.args);
        EXPECT_EQ(line_count(r.out), 1) << r.out;
        EXPECT_EQ(r.out.rfind("{\"command\":", 0), 0u) << r.out;
        EXPECT_TRUE(contains(r.out, "\"outcome\":\"failed\",\"error\":\"")) << r.out;
        EXPECT_TRUE(contains(r.out, ",\"exit_status\":" + std::to_string(e.status) + "}\n"))
            << r.out;
    }
    // Neither --port nor settings: the default port is used and named as such.
    if (!g_file_test("/dev/ttyACM0", G_FILE_TEST_EXISTS)) {
        cli_run_result r = run({"status"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, std::string(program) +
                             ": cannot open /dev/ttyACM0 (the default port: none set with --port "
                             "or in the client's settings): no such port\n");
    }
}

TEST_F(Cli, DriveCommandsThatCannotBeSentAreRefusedBeforeThePortIsOpened)
{
    // The port does not exist: a refusal with status 2 shows nothing was tried.
    for (const char *text : {"S:A\"B", "I0\nV0", "I0\r", ""}) {
        cli_run_result r = run({"--port", "/nonexistent", "command", text});
        EXPECT_EQ(r.status, 2) << text;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
    }
    cli_run_result r = run({"--port", "/nonexistent", "command", std::string(300, 'A')});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "too long")) << r.err;
}

TEST_F(Cli, VersionAndTheOtherTrackCount)
{
    cli_run_result r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(std::string(program) + " ", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, TRACKS == 40 ? "(40 tracks)" : "(35 tracks)")) << r.out;
    // Either build reaches the other one.
    r = run({"--tracks", TRACKS == 40 ? "35" : "40", "--version"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, TRACKS == 40 ? "dravlen 3" : "dravlen40 3")) << r.out;
    EXPECT_TRUE(contains(r.out, TRACKS == 40 ? "(35 tracks)" : "(40 tracks)")) << r.out;
}

// ---------------------------------------------------------------- ports

TEST_F(Cli, PortProblemsAreOneClearLine)
{
    cli_run_result r = run({"--port", "/dev/nonexistent-dravlen", "info"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(program) + ": cannot open /dev/nonexistent-dravlen: no such port\n");

    r = run({"--port", "/etc/hostname", "status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "not a serial port")) << r.err;

    start_sim({"--blank", "8"});
    int fd = open(sim.port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    r = run_on_sim({"status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(program) + ": cannot open " + sim.port +
                         ": the port is in use by another program\n");
    close(fd);
    EXPECT_EQ(run_on_sim({"status"}).status, 0);
}

TEST_F(Cli, PortAndDriveComeFromTheGuiOptionsWhichStayUntouched)
{
    start_sim({"--blank", "9"});
    std::string folder = config_home + "/dravlen-client";
    ASSERT_EQ(g_mkdir_with_parents(folder.c_str(), 0700), 0);
    std::string ini = folder + "/user.ini";
    // Only drive 9 is there, so the drive index of the file must be used.
    std::string text = "# Dravlen client config file - do NOT edit\n[connection]\ndevice_port=" +
                       sim.port + "\n\n[imaging]\ndrive_index=1\n\n[position]\nwindow_main=5;6;\n";
    ASSERT_TRUE(scratch_write(ini, text));
    cli_run_result r = run({"status"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "73,CBM DOS V2.6 1541,00,00\n");
    EXPECT_EQ(run({"info"}).status, 0);
    EXPECT_EQ(run({"reset", "--bus"}).status, 0);
    // Options on the command line win.
    r = run({"status", "--drive", "8"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "drive 8: Device not present")) << r.err;
    EXPECT_EQ(scratch_read(ini), text);
    EXPECT_EQ(scratch_list(folder), "user.ini") << "no other file appears";
}

TEST_F(Cli, WithoutAnOptionsFileNothingIsCreated)
{
    cli_run_result r = run({"--port", "/nonexistent", "status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(scratch_list(config_home), "");
    // An empty port setting stops before any device work.
    std::string folder = config_home + "/dravlen-client";
    ASSERT_EQ(g_mkdir_with_parents(folder.c_str(), 0700), 0);
    ASSERT_TRUE(scratch_write(folder + "/user.ini", "[connection]\ndevice_port=\n"));
    r = run({"info"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "no port set")) << r.err;
}

// ---------------------------------------------------------------- device jobs

// What info's JSON says update would flash.
std::string carried_json()
{
    return firmware_is_test_image ? "null" : "\"2.4.0\"";
}

TEST_F(Cli, InfoShowsVersionVerdictAndTheDrivesThatAnswer)
{
    start_sim({"--version", "2.4.0", "--blank", "8", "--blank", "10"});
    cli_run_result r = run_on_sim({"info"});
    EXPECT_EQ(r.status, 0) << r.err;
    // A build with the test image says that update has nothing of its own.
    std::string update_line =
        firmware_is_test_image
            ? "Update:    this build carries no board firmware (update needs --hex FILE)\n"
            : "";
    EXPECT_EQ(r.out, "Port:      " + sim.port + "\n"
                     "Firmware:  v2.4.0 (current)\n" + update_line +
                     "Drive 8:   73,CBM DOS V2.6 1541,00,00\n"
                     "Drive 9:   not present\n"
                     "Drive 10:  73,CBM DOS V2.6 1541,00,00\n"
                     "Drive 11:  not present\n");
    EXPECT_TRUE(r.err.empty()) << r.err;

    r = run_on_sim({"info", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(line_count(r.out), 1);
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"succeeded\"")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"firmware\":{\"version\":\"2.4.0\",\"verdict\":\"current\","
                                "\"carried\":" + carried_json() + "}"))
        << r.out;
    // The first info read the channels, so now they say OK.
    EXPECT_TRUE(contains(r.out, "{\"device\":8,\"present\":true,\"status\":\"00, OK,00,00\"}"));
    EXPECT_TRUE(contains(r.out, "{\"device\":9,\"present\":false}")) << r.out;
}

TEST_F(Cli, InfoJudgesOtherFirmwareVersions)
{
    start_sim({"--old-firmware", "--blank", "8"});
    cli_run_result r = run_on_sim({"info"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "Firmware:  v1.13.0.35 (should upgrade)\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "Drive 8:   73,")) << r.out;
    sim_stop(&sim);

    start_sim({"--version", "2.5.1\"x", "--blank", "8"});
    r = run_on_sim({"info", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "{\"version\":\"2.5.1\\\"x\",\"verdict\":\"should downgrade\","
                                "\"carried\":" + carried_json() + "}"))
        << r.out;
}

TEST_F(Cli, StatusReadsAndClearsTheErrorChannel)
{
    start_sim({"--blank", "8"});
    cli_run_result r = run_on_sim({"status"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "73,CBM DOS V2.6 1541,00,00\n");
    r = run_on_sim({"status", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "\"drive\":8,\"status\":\"00, OK,00,00\",\"exit_status\":0}")) << r.out;

    // The board going away mid-answer is a failure, not a hang.
    sim_stop(&sim);
    start_sim({"--blank", "8", "--hangup-after", "12"});
    r = run_on_sim({"status"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(program) + ": status reading failed: Communication error\n");
    sim_stop(&sim);
    start_sim({"--blank", "8"});

    r = run_on_sim({"status", "--drive", "11", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "\"outcome\":\"failed\",\"error\":\"Device not present\""))
        << r.out;
    EXPECT_EQ(r.err, std::string(program) + ": status reading failed: drive 11: Device not present\n");
}

TEST_F(Cli, CommandSendsDosCommandsAndShowsTheDrivesAnswer)
{
    std::string dir = scratch_dir_new();
    std::string d64 = dir + "/files.d64";
    ASSERT_TRUE(cc1541_build_d64(d64, "CLI DISK", "42", {{"ALPHA"}, {"BETA"}}));
    start_sim({"--drive", "8=" + d64, "--save", "8=" + dir + "/after.d64"});

    cli_run_result r = run_on_sim({"command", "S:ALPHA"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "01, FILES SCRATCHED,01,00\n");

    // A refused command fails, and the drive's reason is still shown.
    r = run_on_sim({"command", "Q", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "\"drive_command\":\"Q\",\"status\":\"31,SYNTAX ERROR,00,00\","
                                "\"exit_status\":1}"))
        << r.out;
    EXPECT_EQ(r.err, std::string(program) +
                         ": drive 8 refused the command: 31,SYNTAX ERROR,00,00\n");

    r = run_on_sim({"command", "I0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "00, OK,00,00\n");

    r = run_on_sim({"command", "--drive", "9", "I0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty()) << r.out;

    sim_stop(&sim);
    cc1541_listing listing;
    ASSERT_TRUE(cc1541_read_listing(dir + "/after.d64", &listing));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].name, "beta");
    scratch_dir_remove(dir);
}

TEST_F(Cli, ResetOfADriveAndOfTheBus)
{
    start_sim({"--blank", "8", "--blank", "9"});
    // Read the power-on messages away first.
    ASSERT_EQ(run_on_sim({"info"}).status, 0);

    cli_run_result r = run_on_sim({"reset", "--drive", "9"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Drive 9 reset\n");
    EXPECT_EQ(run_on_sim({"status", "--drive", "8"}).out, "00, OK,00,00\n");
    EXPECT_EQ(run_on_sim({"status", "--drive", "9"}).out, "73,CBM DOS V2.6 1541,00,00\n");

    r = run_on_sim({"reset", "--bus", "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "\"bus\":true,\"exit_status\":0}")) << r.out;
    EXPECT_EQ(run_on_sim({"status", "--drive", "8"}).out, "73,CBM DOS V2.6 1541,00,00\n");
    EXPECT_EQ(run_on_sim({"status", "--drive", "9"}).out, "73,CBM DOS V2.6 1541,00,00\n");

    r = run_on_sim({"reset", "--drive", "10"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "Device not present")) << r.err;
}

// With only drive 8 on the bus, every job for drive 11 ends before it reads
// or writes anything: no disk command reaches the board, no file appears.
TEST_F(Cli, JobsForAnAbsentDriveFailBeforeTheyTouchAnything)
{
    std::string work = scratch_dir_new();
    std::string image((TRACKS == 40 ? 768 : 683) * 256, '\x11');
    ASSERT_TRUE(scratch_write(work + "/in.d64", image));
    start_sim({"--blank", "8", "--log", work + "/commands.log"});
    const std::vector<std::vector<std::string>> jobs = {
        {"write", "--yes", "in.d64"}, {"read", "out.d64"},  {"rom", "1541", "rom.bin"},
        {"dir"},                      {"dump", "dir"},      {"get", "FILE", "file.prg"},
        {"reset"},                    {"command", "I0"},
    };
    for (std::vector<std::string> args : jobs) {
        SCOPED_TRACE(cli_shown_args(args));
        args.insert(args.begin(), {"--port", sim.port, "--drive", "11"});
        cli_run_result r = cli_run(DRAVLEN_CLI_PATH, args, config_home, work);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(contains(r.err, " failed: ") && contains(r.err, "Device not present")) << r.err;
        EXPECT_EQ(line_count(r.err), 1) << r.err;
    }
    EXPECT_EQ(scratch_list(work), "commands.log in.d64");
    // Only the check went out: "de 11", never "wr", "ws", "w1", "wd", "dd".
    std::string log = scratch_read(work + "/commands.log");
    for (const char *word : {"wr ", "ws ", "w1 ", "w2 ", "wd ", "dd ", "rs ", "dc "})
        EXPECT_FALSE(contains(log, word)) << word << " in\n" << log;
    EXPECT_TRUE(contains(log, "de 11")) << log;
    scratch_dir_remove(work);
}

// A board that falls silent ends every job by itself, within the limit
// --timeout sets, with the failure text of its step and a note in the log.
TEST_F(Cli, ASilentBoardOrAStreamOneByteShortEndsEveryJobWithinItsLimit)
{
    std::string work = scratch_dir_new();
    const int sectors = TRACKS == 40 ? 768 : 683;
    ASSERT_TRUE(scratch_write(work + "/disk.d64", std::string((size_t)sectors * 256, '\0')));
    // The whole stream of a read: the prompts, echoes and answers before the
    // packets come to 54 bytes.
    const std::string one_short = std::to_string(sectors * 324 + 54 - 1);
    struct silent_case {
        std::string silent_after;
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<silent_case> cases = {
        {"0", {"read", "out.d64"}, "read failed: Unable to sync with device"},
        {"0", {"info"}, "board info failed: Unable to sync with device"},
        {"0", {"dir"}, "directory listing failed: Unable to sync with device"},
        {one_short, {"read", "out.d64"}, "read failed: Communication error"},
    };
    for (const silent_case &c : cases) {
        SCOPED_TRACE(cli_shown_args(c.args) + " silent after " + c.silent_after);
        start_sim({"--drive", "8=" + work + "/disk.d64", "--silent-after", c.silent_after});
        std::vector<std::string> args = {"--port", sim.port, "--timeout", "0.3", "-v"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        gint64 start = g_get_monotonic_time();
        cli_run_result r = cli_run(DRAVLEN_CLI_PATH, args, config_home, work);
        double seconds = (g_get_monotonic_time() - start) / 1e6;
        sim_stop(&sim);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_GE(seconds, 0.3);
        EXPECT_LT(seconds, 1.5);
        EXPECT_TRUE(contains(r.err, c.says)) << r.err;
        EXPECT_TRUE(contains(r.err, "The board stopped answering: nothing came for 0.3 s\n"))
            << r.err;
    }
    // The read cut short by the silent board keeps what arrived.
    EXPECT_EQ(scratch_list(work), "disk.d64 out.partial.d64 out.partial.d64.log");
    scratch_dir_remove(work);
}

// ---------------------------------------------------------------- Ctrl+C

// Starts the program, lets it wait on a silent board, sends SIGINT and
// measures how long it takes to end.
void interrupt_while_waiting(const sim_process &sim, const std::string &config_home,
                             const std::vector<std::string> &args, double *seconds,
                             cli_run_result *result)
{
    std::vector<std::string> full = {"--port", sim.port};
    full.insert(full.end(), args.begin(), args.end());
    *result = cli_run_interrupted(DRAVLEN_CLI_PATH, full, config_home, 400);
    *seconds = result->seconds_after_sigint;
    EXPECT_FALSE(result->ended_before_sigint)
        << "it should still have been waiting: " << result->err;
}

TEST_F(Cli, CtrlCEndsAnyWaitWithinAFifthOfASecond)
{
    // Silent from the start: waiting for the prompt.  Then silent after the
    // prompt and the echo: waiting for an answer.
    for (const char *after : {"0", "12"}) {
        start_sim({"--blank", "8", "--silent-after", after});
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{"info", "--json"}, std::vector<std::string>{"status"},
              std::vector<std::string>{"reset", "--bus"}}) {
            double seconds = 0;
            cli_run_result r;
            interrupt_while_waiting(sim, config_home, args, &seconds, &r);
            EXPECT_LT(seconds, 0.2) << args[0] << " after " << after;
            EXPECT_EQ(r.status, 130) << args[0] << " " << r.err;
            EXPECT_TRUE(contains(r.err, "interrupted")) << r.err;
            EXPECT_EQ(line_count(r.err), 1) << r.err;
            if (args.size() > 1 && args[1] == "--json") {
                EXPECT_TRUE(contains(r.out, "\"outcome\":\"interrupted\"")) << r.out;
            }
        }
        sim_stop(&sim);
    }
}

}  // namespace
