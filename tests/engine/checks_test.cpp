// The checks of an image in memory, told through the engine's callbacks:
// inaccessible tracks in use, hints of tracks beyond 35, and the order in
// which the sector reads visit a track; disks named as the listings name them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/dumps.h"
#include "engine/imaging.h"
#include "image/d64.h"
#include "image/directory.h"

namespace {

struct told {
    std::string log;
    std::vector<std::string> notices;
};

engine_ui telling(told *t)
{
    engine_ui ui = {};
    ui.user = t;
    ui.log_line = [](void *u, const char *line, int) { static_cast<told *>(u)->log += line; };
    ui.ask = [](void *u, engine_question, const char *text) {
        static_cast<told *>(u)->notices.push_back(text);
        return 1;
    };
    return ui;
}

class EngineChecks : public ::testing::Test {
protected:
    void SetUp() override
    {
        d64_module_init();
        d64_init_disk_image_contents(d64_storage);
        d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    }
    uint8_t *block(int t, int s) { return d64_storage + d64_sector_offset(t, s); }
    // A header sector on track 18 with an empty directory and a BAM in which
    // the listed tracks are fully allocated.
    void bam(std::initializer_list<int> used_tracks)
    {
        block(18, 0)[0] = 18;
        block(18, 0)[1] = 1;
        for (int t = 1; t <= 35; t++) {
            uint8_t *e = block(18, 0) + 4 * t;
            e[0] = (uint8_t)d64_sectors_of_track(t);
            e[1] = e[2] = 0xFF;
            e[3] = 0x1F;
        }
        for (int t : used_tracks)
            memset(block(18, 0) + 4 * t, 0, 4);
    }
};

TEST_F(EngineChecks, InaccessibleTracksInUseFollowTheBam)
{
    told t;
    engine_ui ui = telling(&t);
    bam({});
    engine_check_inaccessible_tracks(&ui, 2);
    bam({2});
    engine_check_inaccessible_tracks(&ui, 2);
    engine_check_inaccessible_tracks(&ui, 1);
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_CHECKSUM);
    engine_check_inaccessible_tracks(&ui, 2);
    EXPECT_EQ(t.log,
              "Inaccessible tracks are not in use, according to BAM contents\n"
              "Inaccessible tracks are unfortunately in use, according to BAM contents\n"
              "Inaccessible tracks are not in use, according to BAM contents\n"
              "BAM sector contains errors: Can't verify if inaccessible tracks are in use");
}

#if TRACKS != 40
TEST_F(EngineChecks, TracksBeyond35AreAnnounced)
{
    bam({});
    uint8_t *entry = block(18, 1);
    entry[2] = 0x82;
    entry[3] = 17;
    entry[4] = 0;
    memcpy(entry + 5, "FILE", 4);
    block(17, 0)[0] = 40;
    block(17, 0)[1] = 3;
    told t;
    engine_ui ui = telling(&t);
    engine_check_tracks_beyond_35(&ui);
    ASSERT_EQ(t.notices.size(), 1u);
    EXPECT_NE(t.notices[0].find("dump it as a 40 track disk"), std::string::npos) << t.notices[0];
    EXPECT_EQ(t.log, "Tracks beyond 35 might be in use\n");
}
#endif

TEST(EngineOrder, InterleavedOrderVisitsEverySectorOnce)
{
    const std::vector<int> expected[] = {
        {0, 3, 6, 9, 12, 15, 18, 1, 4, 7, 10, 13, 16, 19, 2, 5, 8, 11, 14, 17, 20},
        {0, 3, 6, 9, 12, 15, 18, 2, 5, 8, 11, 14, 17, 4, 7, 10, 13, 16, 1},
        {0, 3, 6, 9, 12, 15, 1, 4, 7, 10, 13, 16, 2, 5, 8, 11, 14, 17},
        {0, 3, 6, 9, 12, 15, 2, 5, 8, 11, 14, 1, 4, 7, 10, 13, 16},
    };
    for (const auto &e : expected) {
        int order[21];
        int n = engine_interleaved_order((int)e.size(), order);
        EXPECT_EQ(std::vector<int>(order, order + n), e);
    }
}

TEST(EngineOrder, HeaderLabelShowsNamesAsTheListingsDo)
{
    uint8_t header[256];
    memset(header, 0xA0, sizeof header);
    // Shifted letters and a graphics byte, as a C64 may have named the disk.
    memcpy(header + D64_BAM_DISKNAME_OFFSET, "\xc4\xc1\xd4\xc1 1\x7e", 7);
    memcpy(header + D64_BAM_DISKID_OFFSET, "AB", 2);
    EXPECT_EQ(engine_header_label(header), "data 1{$7e},AB");
}

}  // namespace
