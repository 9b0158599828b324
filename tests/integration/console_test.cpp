#include <gtest/gtest.h>

#include "engine/operation_state.h"
#include "device/console.h"
#include "device/serial.h"
#include "tests/support/sim_process.h"

#include <glib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start)
{
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A scripted device on the far side of a real pty: writes chosen bytes with
// chosen pauses, reads what the client sends, and can hang up.
struct peer_step {
    enum kind_type { send, pause, expect, hangup, mark } kind;
    std::string bytes;   // send: bytes to write
    int amount;          // pause: milliseconds; expect: bytes to read
};

peer_step send_bytes(const std::string &b) { return {peer_step::send, b, 0}; }
peer_step pause_ms(int ms) { return {peer_step::pause, "", ms}; }
peer_step expect_bytes(int n) { return {peer_step::expect, "", n}; }
peer_step hang_up() { return {peer_step::hangup, "", 0}; }
peer_step mark_done() { return {peer_step::mark, "", 0}; }

struct pty_peer {
    int master = -1;
    int slave = -1;
    std::string path;
    std::string received;          // what the client sent, in order
    std::atomic<int> marked{0};    // set by a mark step
    std::thread worker;
};

void peer_open(pty_peer *p)
{
    ASSERT_EQ(openpty(&p->master, &p->slave, nullptr, nullptr, nullptr), 0);
    // Start from a cooked, flow-controlled line so that the client has to
    // make it raw itself.
    termios tio;
    ASSERT_EQ(tcgetattr(p->slave, &tio), 0);
    tio.c_iflag |= ICRNL | IXON | IXOFF;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    ASSERT_EQ(tcsetattr(p->slave, TCSANOW, &tio), 0);
    p->path = ttyname(p->slave);
}

void peer_read(pty_peer *p, int n)
{
    while (n > 0) {
        pollfd pf{p->master, POLLIN, 0};
        if (poll(&pf, 1, 3000) <= 0)
            return;
        char buf[512];
        ssize_t got = read(p->master, buf, std::min<int>(n, sizeof buf));
        if (got <= 0)
            return;
        p->received.append(buf, static_cast<size_t>(got));
        n -= static_cast<int>(got);
    }
}

void peer_play(pty_peer *p, std::vector<peer_step> steps)
{
    p->worker = std::thread([p, steps]() {
        for (const peer_step &s : steps) {
            switch (s.kind) {
            case peer_step::send:
                if (write(p->master, s.bytes.data(), s.bytes.size()) < 0)
                    return;
                break;
            case peer_step::pause:
                std::this_thread::sleep_for(std::chrono::milliseconds(s.amount));
                break;
            case peer_step::expect:
                peer_read(p, s.amount);
                break;
            case peer_step::hangup:
                close(p->master);
                p->master = -1;
                break;
            case peer_step::mark:
                p->marked = 1;
                break;
            }
        }
    });
}

void peer_close(pty_peer *p)
{
    if (p->worker.joinable())
        p->worker.join();
    if (p->master >= 0)
        close(p->master);
    if (p->slave >= 0)
        close(p->slave);
    p->master = p->slave = -1;
}

// Runs `call` while another thread sets `flag` after `delay_ms`; returns the
// seconds from setting the flag to the call's return (negative when it
// returned before), and the call's result in *result.
double abort_latency(std::atomic<int> *flag, int delay_ms, const std::function<int()> &call,
                     int *result)
{
    std::atomic<long long> set_at{0};
    std::thread aborter([&]() {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
        set_at = clock_type::now().time_since_epoch().count();
        *flag = 1;
    });
    *result = call();
    long long returned_at = clock_type::now().time_since_epoch().count();
    aborter.join();
    return std::chrono::duration<double>(clock_type::duration(returned_at - set_at.load())).count();
}

std::vector<std::string> finished_texts;

// A command as a job sends it: a failure's text is what the job ends with.
bool process_command(int handle, int device, const char *word)
{
    std::atomic<int> never{0};
    console_error failure = console_process_command(handle, device, word, &never);
    if (failure)
        finished_texts.push_back(console_error_text(failure));
    return failure == CONSOLE_OK;
}

void run_idle_callbacks()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

// Sets the abort flags if a test has not finished within a few seconds, so a
// broken synchronisation fails the test instead of hanging the suite.
struct watchdog {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread t;
    void start(std::atomic<int> *flag)
    {
        t = std::thread([this, flag]() {
            std::unique_lock<std::mutex> lock(m);
            if (!cv.wait_for(lock, std::chrono::seconds(5), [this]() { return done; })) {
                ADD_FAILURE() << "watchdog: test took too long";
                *flag = 1;
                flag_abort_requested = 1;
            }
        });
    }
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            done = true;
        }
        cv.notify_all();
        if (t.joinable())
            t.join();
    }
};

class ConsolePty : public ::testing::Test {
protected:
    pty_peer peer;
    int handle = -1;
    std::atomic<int> abort_flag{0};
    watchdog dog;

    void SetUp() override
    {
        dog.start(&abort_flag);
        flag_abort_requested = 0;
        run_idle_callbacks();
        finished_texts.clear();
        peer_open(&peer);
        ASSERT_TRUE(serial_connect_and_configure_port(&handle, peer.path.c_str()));
    }
    void TearDown() override
    {
        dog.stop();
        peer_close(&peer);
        if (handle >= 0)
            serial_disconnect_port(handle);
        flag_abort_requested = 0;
        run_idle_callbacks();
    }
};

TEST_F(ConsolePty, ReadsExactCountOfBinaryDataAcrossPauses)
{
    // Bytes a cooked or flow-controlled line would eat or rewrite.
    std::string data("\x00\r\n\x11\x13\x03\x04\x7f\xff", 9);
    peer_play(&peer, {send_bytes(data.substr(0, 2)), pause_ms(30), send_bytes(data.substr(2, 4)),
                      pause_ms(30), send_bytes(data.substr(6))});
    std::string got(data.size(), '?');
    ASSERT_TRUE(console_read(handle, &got[0], got.size(), &abort_flag));
    EXPECT_EQ(got, data);

    std::string out("\r\n\x11\x13\x00\xfe", 6);
    ASSERT_TRUE(console_write(handle, out.data(), out.size(), &abort_flag));
    peer_read(&peer, static_cast<int>(out.size()));
    EXPECT_EQ(peer.received, out);
}

TEST_F(ConsolePty, ChunkReadEndsAfterQuietGap)
{
    peer_play(&peer, {send_bytes("abc"), pause_ms(80), send_bytes("def")});
    char buf[16];
    size_t got = 0;
    ASSERT_TRUE(serial_read_chunk(handle, buf, sizeof buf, &got, &abort_flag));
    EXPECT_EQ(std::string(buf, got), "abc");
    ASSERT_TRUE(serial_read_chunk(handle, buf, sizeof buf, &got, &abort_flag));
    EXPECT_EQ(std::string(buf, got), "def");
}

TEST_F(ConsolePty, ZeroByteReadAndWriteCompleteAtOnce)
{
    abort_flag = 1;
    char c = 0;
    EXPECT_TRUE(console_read(handle, &c, 0, &abort_flag));
    EXPECT_TRUE(console_write(handle, &c, 0, &abort_flag));
    EXPECT_FALSE(console_read(handle, &c, 1, &abort_flag));
    EXPECT_FALSE(console_write(handle, &c, 1, &abort_flag));
    EXPECT_FALSE(console_synch_with_device(handle, &abort_flag));
}

TEST_F(ConsolePty, HangUpFailsReadsAndWritesAtOnce)
{
    peer_play(&peer, {send_bytes("ab"), pause_ms(20), hang_up()});
    close(peer.slave); // only the client holds the port now
    peer.slave = -1;
    char buf[10];
    auto start = clock_type::now();
    EXPECT_FALSE(console_read(handle, buf, sizeof buf, &abort_flag));
    EXPECT_LT(seconds_since(start), 0.5);
    start = clock_type::now();
    EXPECT_FALSE(console_write(handle, "v\r", 2, &abort_flag));
    EXPECT_FALSE(console_synch_with_device(handle, &abort_flag));
    EXPECT_LT(seconds_since(start), 0.5);
}

TEST_F(ConsolePty, PromptSplitOverReadsIsFound)
{
    peer_play(&peer, {send_bytes("boot noise\r"), pause_ms(30), send_bytes("\n>"), pause_ms(30),
                      send_bytes(" ")});
    EXPECT_TRUE(console_synch_with_device(handle, &abort_flag));
}

TEST_F(ConsolePty, PromptSplitAcrossWindowBoundaryIsFound)
{
    const std::string prompt = "\r\n> ";
    for (size_t head = 1; head <= 3; ++head) {
        // The first read fills the 256-byte window exactly with the prompt's
        // first `head` bytes at its end; the rest arrives later.
        std::string first = std::string(256 - head, 'x') + prompt.substr(0, head);
        pty_peer &p = peer;
        p.marked = 0;
        peer_play(&p, {send_bytes(first), pause_ms(40), mark_done(), send_bytes(prompt.substr(head))});
        EXPECT_TRUE(console_synch_with_device(handle, &abort_flag)) << "split after " << head;
        EXPECT_EQ(p.marked.load(), 1);
        p.worker.join();
    }
}

TEST_F(ConsolePty, PromptEndingTheFullWindowCounts)
{
    peer_play(&peer, {send_bytes(std::string(252, 'y') + "\r\n> ")});
    EXPECT_TRUE(console_synch_with_device(handle, &abort_flag));
}

TEST_F(ConsolePty, PromptWithBytesQueuedBehindDoesNotCount)
{
    // The window fills exactly at the end of the first prompt while more
    // bytes already wait; only the later prompt synchronises.
    peer_play(&peer, {send_bytes(std::string(252, 'z') + "\r\n> more"), pause_ms(60), mark_done(),
                      send_bytes("\r\n> ")});
    ASSERT_TRUE(console_synch_with_device(handle, &abort_flag));
    EXPECT_EQ(peer.marked.load(), 1);
}

TEST_F(ConsolePty, CommandIsSentWithCrOnlyAndEchoChecked)
{
    peer_play(&peer, {expect_bytes(2), send_bytes("v\r\n")});
    EXPECT_TRUE(console_execute_command(handle, "v", &abort_flag));
    peer.worker.join();
    EXPECT_EQ(peer.received, "v\r");

    for (const char *bad : {"V\r\n", "v\n\r", "w\r\n"}) {
        peer.received.clear();
        peer_play(&peer, {expect_bytes(2), send_bytes(bad)});
        EXPECT_FALSE(console_execute_command(handle, "v", &abort_flag)) << bad;
        peer.worker.join();
    }
}

TEST_F(ConsolePty, OverlongCommandLineIsRefusedUnsent)
{
    std::string longest(254, 'a'); // 256 bytes with CR LF
    peer_play(&peer, {expect_bytes(255), send_bytes(longest + "\r\n")});
    EXPECT_TRUE(console_execute_command(handle, longest.c_str(), &abort_flag));
    peer.worker.join();
    EXPECT_EQ(peer.received, longest + "\r");

    peer.received.clear();
    std::string too_long(255, 'b');
    EXPECT_FALSE(console_execute_command(handle, too_long.c_str(), &abort_flag));
    pollfd pf{peer.master, POLLIN, 0};
    EXPECT_EQ(poll(&pf, 1, 50), 0) << "nothing may reach the device";
}

TEST_F(ConsolePty, TextsThatWouldSplitTheLineAreRefusedUnsent)
{
    // A line break would make the monitor run two commands; a stray quote
    // would end the quoted argument early.
    for (const char *bad : {"dc \"N:EVIL\rrb 8,01\" 8", "ff \"A\nB,01\" 35", "di 8\r",
                            "dc \"N:A\"B,01\" 8", "dd \"A\"B\"C\" 8 1", "dd \"\"\" 8 1", "v\""}) {
        EXPECT_FALSE(console_command_is_one_line(bad)) << bad;
        EXPECT_FALSE(console_execute_command(handle, bad, &abort_flag)) << bad;
    }
    EXPECT_FALSE(process_command(handle, 8, "dc \"S:X\r\""));
    pollfd pf{peer.master, POLLIN, 0};
    EXPECT_EQ(poll(&pf, 1, 50), 0) << "nothing may reach the device";
    run_idle_callbacks();
    ASSERT_EQ(finished_texts.size(), 1u);
    EXPECT_EQ(finished_texts[0], "Unable to request command execution on device");

    // Every command the client builds has no quote or one pair.
    for (const char *good : {"v", "di", "dc \"V0\"", "dc \"S:A B\"", "ff \"NEW DISK,01\" 40",
                             "dd \"$\" 8", "du \"GAME\" 8 2", "w2 8 18 0"})
        EXPECT_TRUE(console_command_is_one_line(good)) << good;
}

TEST_F(ConsolePty, CheckSuccessAcceptsOnlyOk)
{
    peer_play(&peer, {send_bytes("OK"), pause_ms(20), send_bytes("ok"), pause_ms(20), send_bytes("KO")});
    EXPECT_TRUE(console_check_success(handle, &abort_flag));
    EXPECT_FALSE(console_check_success(handle, &abort_flag));
    EXPECT_FALSE(console_check_success(handle, &abort_flag));
}

TEST_F(ConsolePty, ProcessedCommandCarriesDeviceNumberAndResyncsAfterOk)
{
    peer_play(&peer, {expect_bytes(5), send_bytes("rb 9\r\nOK"), pause_ms(30), mark_done(),
                      send_bytes("\r\n> ")});
    EXPECT_TRUE(process_command(handle, 9, "rb"));
    peer.worker.join();
    EXPECT_EQ(peer.received, "rb 9\r");
    EXPECT_EQ(peer.marked.load(), 1);
    run_idle_callbacks();
    EXPECT_TRUE(finished_texts.empty());
}

TEST_F(ConsolePty, ProcessedCommandReportsEachFailureOnce)
{
    struct failure_case {
        std::vector<peer_step> script;
        const char *text;
    };
    std::vector<failure_case> cases = {
        {{expect_bytes(5), send_bytes("di 8\r\n"), pause_ms(50), hang_up()}, "Communication error"},
        {{expect_bytes(5), send_bytes("dj 8\r\n")}, "Unable to request command execution on device"},
        {{expect_bytes(5), send_bytes("di 8\r\nOK"), pause_ms(50), hang_up()}, "Unable to sync with device"},
    };
    for (failure_case &c : cases) {
        peer_close(&peer);
        serial_disconnect_port(handle);
        peer.received.clear();
        peer_open(&peer);
        ASSERT_TRUE(serial_connect_and_configure_port(&handle, peer.path.c_str()));
        close(peer.slave);
        peer.slave = -1;
        finished_texts.clear();
        peer_play(&peer, c.script);
        EXPECT_FALSE(process_command(handle, 8, "di"));
        run_idle_callbacks();
        ASSERT_EQ(finished_texts.size(), 1u);
        EXPECT_EQ(finished_texts[0], c.text);
    }
}

TEST_F(ConsolePty, PortIsExclusiveUntilClosed)
{
    int second = -1;
    EXPECT_FALSE(serial_connect_and_configure_port(&second, peer.path.c_str()));
    EXPECT_EQ(second, -1);
    ASSERT_TRUE(serial_disconnect_port(handle));
    handle = -1;
    // Exclusive mode outlives the descriptor on a pty; it must not lock out
    // the next non-root client.
    int plain = open(peer.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(plain, 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(plain, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(plain);
    ASSERT_TRUE(serial_connect_and_configure_port(&second, peer.path.c_str()));
    handle = second;
}

TEST(SerialOpen, BareNameIsTriedUnderDev)
{
    int h = -1;
    EXPECT_TRUE(serial_connect_and_configure_port(&h, "ptmx"));
    EXPECT_GE(h, 0);
    serial_disconnect_port(h);
}

TEST(SerialOpen, RefusesMissingPortsAndNonTerminals)
{
    int h = 7;
    EXPECT_FALSE(serial_connect_and_configure_port(&h, ""));
    EXPECT_EQ(h, -1);
    EXPECT_FALSE(serial_connect_and_configure_port(&h, "/dev/ttyACM-none"));
    EXPECT_FALSE(serial_connect_and_configure_port(&h, "ttyACM-none"));
    EXPECT_FALSE(serial_connect_and_configure_port(&h, "/dev/null"));
    EXPECT_EQ(h, -1);
}

// The same protocol against the device simulator.
class ConsoleSim : public ::testing::Test {
protected:
    sim_process sim{};
    bool sim_running = false;
    std::atomic<int> abort_flag{0};
    watchdog dog;

    void SetUp() override
    {
        flag_abort_requested = 0;
        run_idle_callbacks();
        finished_texts.clear();
        dog.start(&abort_flag);
    }
    void TearDown() override
    {
        dog.stop();
        if (sim_running) {
            EXPECT_TRUE(sim_stop(&sim));
        }
        flag_abort_requested = 0;
        run_idle_callbacks();
    }
    void start(const std::vector<std::string> &args)
    {
        ASSERT_TRUE(sim_start(&sim, args));
        sim_running = true;
    }
    // Opens the port and waits for the prompt, as every operation begins.
    int open_synced()
    {
        int h = -1;
        if (!serial_connect_and_configure_port(&h, sim.port.c_str()))
            return -1;
        if (!console_synch_with_device(h, &abort_flag)) {
            serial_disconnect_port(h);
            return -1;
        }
        return h;
    }
};

TEST_F(ConsoleSim, SynchronisesThroughNoiseAndStaysInStep)
{
    // Prompt-like noise, longer than the window, before every real prompt.
    // No complete fake prompt: a pty may hand one over at the end of a read
    // before the bytes behind it arrive, which would make the case a race
    // (the queued-bytes rule is covered with the scripted peer).
    std::string noise;
    for (int i = 0; i < 40; ++i)
        noise += "boot\r\n>x\r\n ";
    start({"--garbage", noise, "--blank", "8"});
    for (int session = 0; session < 2; ++session) {
        int h = open_synced();
        ASSERT_GE(h, 0);
        // After "OK" the second synchronisation eats noise and prompt, so the
        // next command's echo is the next thing read.
        EXPECT_TRUE(process_command(h, 8, "di"));
        ASSERT_TRUE(console_execute_command(h, "v", &abort_flag));
        char version[7];
        ASSERT_TRUE(console_read(h, version, sizeof version, &abort_flag));
        EXPECT_EQ(std::string(version, sizeof version), "2.4.0\r\n");
        EXPECT_TRUE(console_read(h, version, 0, &abort_flag));
        serial_disconnect_port(h);
    }
    run_idle_callbacks();
    EXPECT_TRUE(finished_texts.empty());
}

TEST_F(ConsoleSim, EveryAnswerHasItsFailureText)
{
    start({"--answer", "di=NP", "--answer", "rs=FM", "--answer", "rb=NF", "--answer", "dc=KO",
           "--answer", "ff=ZZ", "--wrong-echo", "wd", "--blank", "9"});
    struct answer_case {
        const char *word;
        const char *text;
    };
    const answer_case answers[] = {
        {"di", "Device not present"},
        {"rs", "Filename missing"},
        {"rb", "File not found"},
        {"dc \"V0\"", "Command failed"},
        {"ff \"A,B\" 35", "Command failed"},
        {"wd", "Unable to request command execution on device"},
    };
    for (const answer_case &c : answers) {
        int h = open_synced();
        ASSERT_GE(h, 0) << c.word;
        finished_texts.clear();
        EXPECT_FALSE(process_command(h, 9, c.word)) << c.word;
        serial_disconnect_port(h);
        run_idle_callbacks();
        ASSERT_EQ(finished_texts.size(), 1u) << c.word;
        EXPECT_EQ(finished_texts[0], c.text) << c.word;
    }
}

TEST_F(ConsoleSim, WrongEchoFailsTheCommand)
{
    start({"--wrong-echo", "v"});
    int h = open_synced();
    ASSERT_GE(h, 0);
    EXPECT_FALSE(console_execute_command(h, "v", &abort_flag));
    serial_disconnect_port(h);
}

TEST_F(ConsoleSim, AbortEndsWaitOnSilentDevice)
{
    start({"--silent-after", "4"}); // the first prompt, then nothing
    int h = open_synced();
    ASSERT_GE(h, 0);
    int ok = 1;
    double latency = abort_latency(&abort_flag, 200,
                                   [&]() { return console_execute_command(h, "v", &abort_flag); }, &ok);
    EXPECT_FALSE(ok);
    EXPECT_GE(latency, 0.0);
    EXPECT_LT(latency, 0.5);
    RecordProperty("abort_latency_us", static_cast<int>(latency * 1e6));
    serial_disconnect_port(h);
}

TEST_F(ConsoleSim, AbortEndsWaitsOnATricklingDevice)
{
    // One byte every 3 ms: the 5 ms quiet gap that ends a chunk never comes.
    std::string noise(3000, '#');
    start({"--trickle", "3", "--garbage", noise, "--blank", "8"});
    int h = -1;
    ASSERT_TRUE(serial_connect_and_configure_port(&h, sim.port.c_str()));
    int ok = 1;
    double latency = abort_latency(&abort_flag, 300,
                                   [&]() { return console_synch_with_device(h, &abort_flag); }, &ok);
    EXPECT_FALSE(ok);
    EXPECT_GE(latency, 0.0);
    EXPECT_LT(latency, 0.2);
    serial_disconnect_port(h);

    // A long binary read: a ROM dump of 64 pages takes about 50 s this way.
    ASSERT_TRUE(sim_stop(&sim));
    sim_running = false;
    start({"--trickle", "3", "--blank", "8"});
    abort_flag = 0;
    h = open_synced();
    ASSERT_GE(h, 0);
    ASSERT_TRUE(console_execute_command(h, "wd 8", &abort_flag));
    std::vector<char> rom(64 * 256);
    latency = abort_latency(&abort_flag, 300,
                            [&]() { return console_read(h, rom.data(), rom.size(), &abort_flag); }, &ok);
    EXPECT_FALSE(ok);
    EXPECT_GE(latency, 0.0);
    EXPECT_LT(latency, 0.2);
    RecordProperty("trickle_abort_latency_us", static_cast<int>(latency * 1e6));
    serial_disconnect_port(h);
}

TEST_F(ConsoleSim, HangUpMidReadFailsAtOnce)
{
    start({"--hangup-after", "6", "--blank", "8"}); // prompt, then "v\r" of the echo
    int h = open_synced();
    ASSERT_GE(h, 0);
    auto start_time = clock_type::now();
    EXPECT_FALSE(console_execute_command(h, "v", &abort_flag));
    EXPECT_LT(seconds_since(start_time), 0.5);
    EXPECT_FALSE(console_synch_with_device(h, &abort_flag));
    EXPECT_EQ(abort_flag.load(), 0) << "ended by the hang-up, not by the watchdog";
    serial_disconnect_port(h);
}

TEST_F(ConsoleSim, SecondClientIsRefusedWhileThePortIsHeld)
{
    start({"--blank", "8"});
    int first = open_synced();
    ASSERT_GE(first, 0);
    int second = -1;
    EXPECT_FALSE(serial_connect_and_configure_port(&second, sim.port.c_str()));
    // The holder is undisturbed.
    EXPECT_TRUE(process_command(first, 8, "di"));
    serial_disconnect_port(first);
    second = open_synced();
    ASSERT_GE(second, 0);
    serial_disconnect_port(second);
}

} // namespace
