// Whole-disk imaging in the engine, seen through a recording engine_ui: what
// the window is told during a read, the checks' questions, and saving.
#include <gtest/gtest.h>

#include <glib.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/imaging.h"
#include "image/d64.h"
#include "image/imagefile.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/sim_process.h"
#include "version.h"

namespace {

struct event {
    std::string kind;  // cell, log, count, step, show, ask, finished
    int a = 0, b = 0, c = 0;
    std::string text;
};

struct recorder {
    std::vector<event> events;
    std::vector<int> answers;  // given to questions in turn; then "no"
    engine_outcome outcome = {};
    std::vector<std::string> files;

    int count(const std::string &kind) const
    {
        int n = 0;
        for (const event &e : events)
            n += e.kind == kind;
        return n;
    }
    bool logged(const std::string &line) const
    {
        for (const event &e : events)
            if (e.kind == "log" && e.text == line)
                return true;
        return false;
    }
};

recorder *of(void *user)
{
    return static_cast<recorder *>(user);
}

engine_ui recording_ui(recorder *r)
{
    engine_ui ui = {};
    ui.user = r;
    ui.sector_cell = [](void *u, int t, int s, int code, int) {
        of(u)->events.push_back({"cell", t, s, code, ""});
    };
    ui.log_line = [](void *u, const char *line, int for_disk_log) {
        of(u)->events.push_back({"log", for_disk_log, 0, 0, line});
    };
    ui.error_count = [](void *u, int n) { of(u)->events.push_back({"count", n, 0, 0, ""}); };
    ui.error_count_step = [](void *u, int d) { of(u)->events.push_back({"step", d, 0, 0, ""}); };
    ui.directory_ready = [](void *u, engine_image_view v) {
        of(u)->events.push_back({"show", (int)v, 0, 0, ""});
    };
    ui.ask = [](void *u, engine_question q, const char *text) {
        recorder *r = of(u);
        r->events.push_back({"ask", (int)q, 0, 0, text});
        int yes = r->answers.empty() ? 0 : r->answers.front();
        if (!r->answers.empty())
            r->answers.erase(r->answers.begin());
        return yes;
    };
    ui.finished = [](void *u, const engine_outcome *o) {
        recorder *r = of(u);
        r->events.push_back({"finished", (int)o->kind, 0, 0, ""});
        r->outcome = *o;
        for (const char *const *f = o->files; f && *f; f++)
            r->files.push_back(*f);
    };
    return ui;
}

class EngineImaging : public SimFixture {
protected:
    std::string disk;  // the D64 bytes cc1541 made

    void SetUp() override
    {
        engine_clear_abort();
        d64_module_init();
        SimFixture::SetUp();
        // This build's track count: empty tracks beyond 35.
        disk = make_disk("disk.d64", "ENGINE", "E1", {{"ONE", "PRG", false, false, 5000}, {"TWO"}},
                         (size_t)d64_base_size);
        engine_reset_image_store();
    }
    void TearDown() override
    {
        SimFixture::TearDown();
        engine_clear_abort();
    }
    engine_imaging_params params()
    {
        engine_imaging_params p = {};
        p.port = sim.port.c_str();
        p.device = 8;
        p.retries = 3;
        p.max_errors = 10;
        p.outmost_track = 1;
        return p;
    }
    std::string store() const
    {
        return std::string((const char *)d64_storage, (size_t)d64_base_size);
    }
};

// ---------------------------------------------------------------- the read

TEST_F(EngineImaging, AMisnumberedPacketIsLeftUnreadThenReadAgainAndTheCountFollows)
{
    // The pass sends 5/2 as a second 5/3: neither can be trusted.
    ASSERT_TRUE(sim_start(&sim, {"--drive", "8=" + dir + "/disk.d64", "--sector-number",
                                 "5/2=3"}));
    recorder r;
    engine_ui ui = recording_ui(&r);
    engine_imaging_params p = params();
    EXPECT_EQ(engine_read_disk(&ui, &p), 1);

    ASSERT_EQ(r.count("finished"), 1);
    EXPECT_EQ(r.events.back().kind, "finished");
    EXPECT_EQ(r.outcome.kind, ENGINE_SUCCEEDED);
    EXPECT_EQ(r.outcome.sectors_bad, 0);
    EXPECT_EQ(store(), disk) << "both sectors came in on their own";
    EXPECT_TRUE(r.logged("Sector t/s  5/3  received twice: left unread\n"));
    int left_unread = 0, count_at = -1, steps = 0;
    for (size_t i = 0; i < r.events.size(); i++) {
        const event &e = r.events[i];
        left_unread += e.kind == "cell" && e.c == ENGINE_CELL_LEFT_UNREAD;
        if (e.kind == "count") {
            EXPECT_EQ(e.a, 2) << "5/2 and 5/3 unread after the pass";
            count_at = (int)i;
        }
        if (e.kind == "step") {
            EXPECT_GT((int)i, count_at) << "the re-reads come after the pass";
            steps += e.a;
        }
    }
    EXPECT_EQ(left_unread, 1);
    EXPECT_EQ(steps, -2);
    // The pass offers the directory once; the checks follow it, then the
    // save, which asks for a name that nobody gives here.
    int shown_in_pass = 0;
    for (const event &e : r.events) {
        if (e.kind == "log" && e.text == "Completed\n")
            break;
        shown_in_pass += e.kind == "show";
    }
    EXPECT_EQ(shown_in_pass, 1);
    EXPECT_EQ(r.count("ask"), 0);
    EXPECT_TRUE(r.logged("Disk image not saved at user's request\n"));
    EXPECT_EQ(r.outcome.save, ENGINE_SAVE_CANCELLED);
    EXPECT_TRUE(r.files.empty());
}

TEST_F(EngineImaging, ANoToReplacingAFileKeepsItAndAYesWritesTheImageAndItsLog)
{
    ASSERT_TRUE(sim_start(&sim, {"--drive", "8=" + dir + "/disk.d64"}));
    std::string path = dir + "/out.d64";
    ASSERT_TRUE(scratch_write(path, "earlier"));
    engine_imaging_params p = params();
    p.path = path.c_str();

    recorder no;
    engine_ui ui = recording_ui(&no);
    EXPECT_EQ(engine_read_disk(&ui, &p), 0);
    EXPECT_EQ(no.outcome.kind, ENGINE_FAILED);
    EXPECT_STREQ(no.outcome.failure, "file exists");
    ASSERT_EQ(no.count("ask"), 1);
    EXPECT_TRUE(no.files.empty());
    EXPECT_EQ(scratch_read(path), "earlier");

    engine_reset_image_store();
    recorder yes;
    yes.answers = {1};
    ui = recording_ui(&yes);
    EXPECT_EQ(engine_read_disk(&ui, &p), 1);
    EXPECT_EQ(yes.files, (std::vector<std::string>{path, path + ".log"}));
    EXPECT_EQ(scratch_read(path), disk);
    // The per-disk log holds what was meant for it, in order, and no more.
    std::string log = scratch_read(path + ".log");
    EXPECT_EQ(log.rfind("Log file created by Dravlen client " DRAVLEN_VERSION "\nImaging disk\n", 0), 0u)
        << log;
    EXPECT_NE(log.find("Completed\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Disk image saved to"), std::string::npos) << log;
    EXPECT_TRUE(yes.logged("Disk image saved to: " + path + "\n"));
}

// ---------------------------------------------------------------- checks

TEST_F(EngineImaging, ATrackShiftIsOfferedAndOnlyAYesMovesTheTracks)
{
    ASSERT_EQ(filer_load_d64_image((dir + "/disk.d64").c_str(), nullptr, nullptr), 1);
    // The disk as a drive two tracks off reads it: track 18 turns up as 20.
    disk_checks_shift_tracks_inwards(d64_storage, 2);
    std::string shifted = store();

    recorder no;
    engine_ui ui = recording_ui(&no);
    EXPECT_EQ(engine_check_read_image(&ui, 1, 0, 0), 1);
    ASSERT_EQ(no.count("ask"), 1);
    EXPECT_EQ(no.events[1].a, ENGINE_ASK_SHIFT_TRACKS);
    EXPECT_NE(no.events[1].text.find("shift tracks outwards by 2"), std::string::npos);
    EXPECT_TRUE(no.logged("Tracks not shifted outwards at user's request\n"));
    EXPECT_EQ(store(), shifted);

    recorder yes;
    yes.answers = {1};
    ui = recording_ui(&yes);
    engine_check_read_image(&ui, 1, 0, 0);
    EXPECT_TRUE(yes.logged("Tracks shifted outwards by 2 at user's request\n"));
    // Tracks 1 to 33 are back where they belong.
    size_t back = (size_t)d64_sector_offset(34, 0);
    EXPECT_EQ(store().substr(0, back), disk.substr(0, back));
    std::vector<int> shown;
    for (const event &e : yes.events)
        if (e.kind == "show")
            shown.push_back(e.a);
    std::vector<int> expected = {ENGINE_SHOW_SECTOR_ERRORS, ENGINE_SHOW_DIRECTORY};
    if (TRACKS != 40)
        expected.push_back(ENGINE_SHOW_ALLOCATED_SECTORS);
    EXPECT_EQ(shown, expected);
}

}  // namespace
