// The demo disk that scripts/demo.sh plays through the simulator: built by
// scripts/make_demo_disk.sh, it has to list cleanly and be damaged only
// where a first imaging run can show it off.
#include <gtest/gtest.h>

#include <glib.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "image/d64.h"
#include "image/directory.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"

namespace {

constexpr int kBaseSize35 = 174848;
constexpr int kBlocks35 = 683;

int run_script(const std::string &script, const std::string &out, std::string *messages)
{
    std::string path = std::string(DRAVLEN_SOURCE_DIR) + "/scripts/" + script;
    gchar *argv[] = {const_cast<gchar *>("bash"), const_cast<gchar *>(path.c_str()),
                     const_cast<gchar *>(out.c_str()), nullptr};
    gchar *so = nullptr, *se = nullptr;
    gint status = -1;
    gboolean ok = g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &so,
                               &se, &status, nullptr);
    *messages = std::string(so ? so : "") + (se ? se : "");
    g_free(so);
    g_free(se);
    return ok && g_spawn_check_wait_status(status, nullptr);
}

class DemoDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch_dir_new();
        ASSERT_FALSE(dir.empty());
        path = dir + "/demo.d64";
        std::string messages;
        ASSERT_TRUE(run_script("make_demo_disk.sh", path, &messages)) << messages;
        bool ok = false;
        file = scratch_read(path, &ok);
        ASSERT_TRUE(ok);
        image.assign(D64_STORAGE_SIZE, 0);
        memcpy(image.data(), file.data(), std::min(file.size(), image.size()));
    }
    void TearDown() override { scratch_dir_remove(dir); }

    int error_of(int track, int sector) const
    {
        return (uint8_t)file[kBaseSize35 + start_sector_of_track[track] + sector];
    }

    std::string dir, path, file;
    std::vector<uint8_t> image;
};

TEST_F(DemoDisk, IsA35TrackImageWithErrorBytesAndTheSameOnEveryRun)
{
    EXPECT_EQ(file.size(), (size_t)(kBaseSize35 + kBlocks35));
    std::string again, messages;
    ASSERT_TRUE(run_script("make_demo_disk.sh", dir + "/again.d64", &messages)) << messages;
    again = scratch_read(dir + "/again.d64");
    EXPECT_TRUE(again == file) << "the demo disk differs between runs";
}

TEST_F(DemoDisk, ListsItsProgramsWithIntactChains)
{
    char name[17];
    d64_get_diskname(image.data(), name);
    EXPECT_STREQ(name, "DRAVLEN DEMO\xA0\xA0\xA0\xA0");

    const std::vector<std::string> expected = {"HELLO", "GAME", "WORN", "FONT", "MUSIC", "NOTES"};
    std::vector<std::string> names;
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(image.data(), &pos, &entry);
    for (int guard = 0; guard < 144 && entry; guard++) {
        if (entry[2] != 0) {
            d64_get_filename(entry, name);
            std::string n(name);
            n.erase(n.find_last_not_of('\xA0') + 1);
            names.push_back(n);

            // Follow the chain: as many blocks as the directory says, no
            // block twice, ending in a last-block marker.
            unsigned blocks = 0;
            d64_get_file_size_sectors(entry, &blocks);
            int t = 0, s = 0;
            ASSERT_TRUE(d64_get_file_first_track_and_sector(entry, &t, &s)) << n;
            std::set<std::pair<int, int>> seen;
            while (t != 0) {
                ASSERT_TRUE(d64_are_track_and_sector_valid((uint8_t)t, (uint8_t)s)) << n;
                ASSERT_TRUE(seen.insert({t, s}).second) << n << " loops at " << t << "/" << s;
                EXPECT_TRUE(d64_is_sector_allocated(image.data(), t, s)) << n;
                const uint8_t *block = image.data() + d64_sector_offset(t, s);
                t = block[0];
                s = block[1];
            }
            EXPECT_EQ(seen.size(), blocks) << n;
        }
        if (!d64_next_dir_entry(image.data(), &pos, &entry))
            break;
    }
    EXPECT_EQ(names, expected);
}

TEST_F(DemoDisk, DamageShowsEveryErrorKindAndStaysWithinTheRetryLimit)
{
    std::map<int, int> kinds;
    int in_files = 0, in_free = 0;
    for (int t = 1; t <= 35; t++) {
        for (int s = 0; s < d64_sectors_of_track(t); s++) {
            int code = error_of(t, s);
            if (code == D64_ERR_OK)
                continue;
            kinds[code]++;
            if (d64_is_sector_allocated(image.data(), t, s))
                in_files++;
            else
                in_free++;
        }
    }
    EXPECT_GT(kinds[D64_ERR_CHECKSUM], 0);
    EXPECT_GT(kinds[D64_ERR_GCR], 0);
    EXPECT_GT(kinds[D64_ERR_NO_SYNC], 0);
    EXPECT_EQ(kinds.size(), 3u) << "only the three kinds of damage a warp pass reports";
    EXPECT_GT(in_files, 0);
    EXPECT_GT(in_free, 0);

    // With the default limit of 10 the client goes on to retry every sector.
    int total = 0;
    for (auto &k : kinds)
        total += k.second;
    EXPECT_LE(total, 10);

    // The directory track stays clean, so the directory always lists.
    for (int s = 0; s < d64_sectors_of_track(18); s++)
        EXPECT_EQ(error_of(18, s), D64_ERR_OK) << "18/" << s;

    // WORN, a one-block program, is the file that cannot be read.
    d64_dir_position pos;
    const uint8_t *entry = nullptr;
    d64_first_dir_entry(image.data(), &pos, &entry);
    ASSERT_TRUE(d64_next_dir_entry(image.data(), &pos, &entry));
    ASSERT_TRUE(d64_next_dir_entry(image.data(), &pos, &entry));
    char name[17];
    d64_get_filename(entry, name);
    ASSERT_EQ(std::string(name, 4), "WORN");
    int t = 0, s = 0;
    ASSERT_TRUE(d64_get_file_first_track_and_sector(entry, &t, &s));
    EXPECT_EQ(error_of(t, s), D64_ERR_CHECKSUM);
}

TEST_F(DemoDisk, TheSimulatorTakesItWithDriveTiming)
{
    sim_process sim;
    ASSERT_TRUE(sim_start(&sim, {"--drive", "8=" + path, "--drive-timing"}));
    EXPECT_FALSE(sim.port.empty());
    EXPECT_TRUE(sim_stop(&sim));
}

}  // namespace
