// The one save of an image, reached through a dump of the directory track:
// the overwrite question, a name the user gives, automatic names in a
// folder, and a save that fails.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

#include "engine/dumps.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

namespace {

struct saver {
    std::vector<std::string> asked;  // "path|folder" per overwrite question
    int answer = 0;
    std::string give;                // the name ask_file_name gives, "" to cancel
    std::vector<std::string> log;
    engine_outcome outcome = {};
    std::string failure;
};

saver *of(void *u)
{
    return static_cast<saver *>(u);
}

class EngineSaving : public ::testing::Test {
protected:
    std::string dir;
    sim_process sim = {};

    void SetUp() override
    {
        engine_clear_abort();
        d64_module_init();
        dir = scratch_dir_new();
        ASSERT_TRUE(cc1541_build_d64(dir + "/disk.d64", "SAVE ME", "S1", {{"ONE"}}));
        ASSERT_TRUE(sim_start(&sim, {"--drive", "8=" + dir + "/disk.d64"}));
    }
    void TearDown() override
    {
        sim_stop(&sim);
        scratch_dir_remove(dir);
    }
    // Dumps track 18 with `s` answering; ask_overwrite and ask_file_name
    // only when `window` (as the window asks).
    void dump(saver *s, engine_sector_job job, bool window = true)
    {
        // A board of its own for each dump: these tests are about the save.
        sim_stop(&sim);
        ASSERT_TRUE(sim_start(&sim, {"--drive", "8=" + dir + "/disk.d64"}));
        job.port = sim.port.c_str();
        engine_ui ui = {};
        ui.user = s;
        ui.log_line = [](void *u, const char *line, int) { of(u)->log.push_back(line); };
        if (window) {
            ui.ask_overwrite = [](void *u, const char *path, const char *folder) {
                of(u)->asked.push_back(std::string(path) + "|" + (folder ? folder : "-"));
                return of(u)->answer;
            };
            ui.ask_file_name = [](void *u, const char *suggested) -> char * {
                of(u)->asked.push_back(std::string("name:") + suggested);
                return of(u)->give.empty() ? nullptr : g_strdup(of(u)->give.c_str());
            };
        }
        ui.finished = [](void *u, const engine_outcome *o) {
            of(u)->outcome = *o;
            of(u)->failure = o->failure ? o->failure : "";
        };
        engine_reset_image_store();
        engine_special_dump(&ui, ENGINE_DUMP_DIR_TRACK, &job);
    }
    engine_sector_job job()
    {
        engine_sector_job j = {};
        j.port = sim.port.c_str();
        j.handle = -1;
        j.device = 8;
        j.tries = 1;
        j.outmost_track = 1;
        j.md5 = 1;
        return j;
    }
    bool exists(const std::string &p) { return g_file_test(p.c_str(), G_FILE_TEST_EXISTS); }
};

TEST_F(EngineSaving, AReplaceQuestionDeclinedOrUnansweredKeepsEveryFile)
{
    std::string p = dir + "/0001a_T18.d64";
    ASSERT_TRUE(scratch_write(p, "good old image"));
    ASSERT_TRUE(scratch_write(p + ".log", "old log"));
    engine_sector_job j = job();
    j.auto_naming = 1;
    j.folder = dir.c_str();

    saver no;
    dump(&no, j);
    EXPECT_EQ(no.asked, std::vector<std::string>{p + "|" + dir});
    EXPECT_EQ(no.outcome.save, ENGINE_SAVE_DECLINED);
    EXPECT_EQ(no.failure, "file exists");
    EXPECT_EQ(no.log.back(), "Unable to save disk image to file: file exists\n");
    EXPECT_EQ(scratch_read(p), "good old image");
    EXPECT_EQ(scratch_read(p + ".log"), "old log");
    EXPECT_FALSE(exists(p + ".md5"));

    // No one to ask: declined too.
    saver nobody;
    dump(&nobody, j, false);
    EXPECT_EQ(nobody.outcome.save, ENGINE_SAVE_DECLINED);
    EXPECT_EQ(scratch_read(p), "good old image");

    // Accepted, or the question switched off: replaced with all three files.
    saver yes;
    yes.answer = 1;
    dump(&yes, j);
    EXPECT_EQ(yes.outcome.save, ENGINE_SAVE_WRITTEN) << yes.failure;
    EXPECT_EQ(scratch_read(p).size(), (size_t)d64_base_size + d64_block_error_info_size);
    EXPECT_TRUE(exists(p + ".md5"));
    EXPECT_EQ(yes.log.back(), "Disk image saved to: " + p + "\n");
    saver off;
    j.overwrite = 1;
    dump(&off, j);
    EXPECT_TRUE(off.asked.empty());
    EXPECT_EQ(off.outcome.save, ENGINE_SAVE_WRITTEN) << off.failure;
}

TEST_F(EngineSaving, ANameTheUserGivesIsTakenWithoutAQuestion)
{
    std::string p = dir + "/mine.d64";
    ASSERT_TRUE(scratch_write(p, "old"));
    saver s;
    s.give = p;
    dump(&s, job());
    // The chooser has asked about replacing: the engine does not again.
    EXPECT_EQ(s.asked, std::vector<std::string>{"name:SAVE ME_T18.d64"});
    EXPECT_EQ(s.outcome.save, ENGINE_SAVE_WRITTEN);
    EXPECT_NE(scratch_read(p), "old");

    saver cancel;
    dump(&cancel, job());
    EXPECT_EQ(cancel.outcome.save, ENGINE_SAVE_CANCELLED);
    EXPECT_EQ(cancel.outcome.kind, ENGINE_SUCCEEDED);
    EXPECT_EQ(cancel.log.back(), "Disk image not saved at user's request\n");
}

TEST_F(EngineSaving, AFailedWriteSaysWhyOnBothLogs)
{
    engine_sector_job j = job();
    std::string p = dir + "/nowhere/x.d64";
    j.path = p.c_str();
    saver s;
    dump(&s, j);
    EXPECT_EQ(s.outcome.save, ENGINE_SAVE_FAILED);
    EXPECT_EQ(s.outcome.kind, ENGINE_FAILED);
    EXPECT_EQ(s.failure.rfind("Unable to save disk image to file: ", 0), 0u) << s.failure;
    EXPECT_EQ(s.log.back(), s.failure + "\n");
    EXPECT_FALSE(exists(dir + "/nowhere"));
}

}  // namespace
