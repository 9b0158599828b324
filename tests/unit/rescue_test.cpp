// The damage report, the sector map and stacking dumps, on cc1541-made disks
// whose error info marks known sectors bad.
#include <gtest/gtest.h>

#include "image/d64.h"
#include "image/damage.h"
#include "image/imagefile.h"
#include "image/merge.h"
#include "image/sector_map.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using ts = std::pair<int, int>;

class Rescue : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        d64_module_init();
        if (!cc1541_available())
            GTEST_SKIP() << "cc1541 not installed";
        dir = scratch_dir_new();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override
    {
        if (!dir.empty())
            scratch_dir_remove(dir);
    }

    // A cc1541 disk with `count` files of growing size, as data and error
    // info all 0x01.
    std::vector<uint8_t> disk(const std::string &diskname, int count, const char *file = "d.d64")
    {
        std::vector<cc1541_file> files;
        for (int i = 0; i < count; i++) {
            cc1541_file f;
            f.name = "FILE " + std::to_string(i);
            f.data_size = 300 + 400 * (size_t)i;
            files.push_back(f);
        }
        std::string path = dir + "/" + file;
        EXPECT_TRUE(cc1541_build_d64(path, diskname, "rs", files));
        std::string bytes = scratch_read(path);
        std::vector<uint8_t> image(bytes.begin(), bytes.end());
        image.resize((size_t)d64_base_size, 0);  // a 40-track build: empty tracks 36 to 40
        image.resize((size_t)(d64_base_size + d64_block_error_info_size), D64_ERR_OK);
        return image;
    }
};

std::vector<std::vector<ts>> chains_of(const std::vector<uint8_t> &image)
{
    return cc1541_chains(std::string(image.begin(), image.end()));
}

void mark(std::vector<uint8_t> &image, ts where, uint8_t code)
{
    d64_set_block_error_info(image.data(), where.first, where.second, code);
}

std::set<std::string> damaged_names(const damage_report &r)
{
    std::set<std::string> names;
    for (const damage_file &f : r.files)
        if (damage_file_is_damaged(f))
            names.insert(damage_file_name(f));
    return names;
}

TEST_F(Rescue, DamageNamesExactlyTheFilesWhoseChainsPassBadSectors)
{
    std::vector<uint8_t> image = disk("DAMAGE", 12);
    std::vector<std::vector<ts>> chains = chains_of(image);
    ASSERT_EQ(chains.size(), 12u);
    // A checksum error inside file 3, a GCR error at the end of file 5, an
    // unreadable block early in file 7 (its chain breaks there), and a bad
    // free sector that belongs to nobody.
    mark(image, chains[3][1], D64_ERR_CHECKSUM);
    mark(image, chains[5].back(), D64_ERR_GCR);
    mark(image, chains[7][1], D64_ERR_NO_SYNC);
    mark(image, {35, 16}, D64_ERR_CHECKSUM);
    // The second directory sector read with a checksum error: reported, yet
    // its entries still followed.
    const uint8_t *first_dir = image.data() + d64_sector_offset(18, 1);
    ts second_dir = {first_dir[0], first_dir[1]};
    ASSERT_EQ(second_dir.first, 18);
    mark(image, second_dir, D64_ERR_CHECKSUM);

    damage_report r;
    damage_report_make(image.data(), 1, &r);
    EXPECT_EQ(r.files.size(), 12u);
    EXPECT_EQ(damaged_names(r), (std::set<std::string>{"FILE 3", "FILE 5", "FILE 7"}));
    EXPECT_EQ(r.damaged, 3);
    const damage_file &broken = r.files[7];
    EXPECT_EQ(broken.end, DAMAGE_CHAIN_UNREADABLE);
    EXPECT_EQ(ts(broken.end_at.track, broken.end_at.sector), chains[7][1]);
    EXPECT_EQ(broken.unknown, (int)chains[7].size() - 2);
    EXPECT_EQ(r.files[3].end, DAMAGE_CHAIN_WHOLE);
    ASSERT_EQ(r.files[3].bad.size(), 1u);
    EXPECT_EQ(r.files[3].bad[0].code, D64_ERR_CHECKSUM);

    std::vector<std::string> lines;
    damage_report_lines(r, &lines);
    char expected[96];
    snprintf(expected, sizeof expected, "chain broken at %d/%d: %d blocks unknown",
             chains[7][1].first, chains[7][1].second, broken.unknown);
    auto has = [&](const std::string &part) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string &l) { return l.find(part) != std::string::npos; });
    };
    EXPECT_TRUE(has(expected));
    EXPECT_TRUE(has("BAM 18/0: good"));
    EXPECT_TRUE(has("18/" + std::to_string(second_dir.second) + " checksum failed (0x05)"));
    EXPECT_EQ(lines.back(), "3 damaged files of 12");

    // The same directory sector unreadable: its entries and those after it
    // are unknown, so only the first sector's files are reported.
    mark(image, second_dir, D64_ERR_NO_SYNC);
    damage_report_make(image.data(), 1, &r);
    EXPECT_EQ(r.files.size(), 8u);
    EXPECT_EQ(r.directory_end, DAMAGE_CHAIN_UNREADABLE);
    EXPECT_EQ(damaged_names(r), (std::set<std::string>{"FILE 3", "FILE 5", "FILE 7"}));
    // A partial dump leaves sectors unread on purpose: no damage then.
    mark(image, second_dir, D64_ERR_OK);
    damage_report_make(image.data(), 0, &r);
    EXPECT_EQ(damaged_names(r), (std::set<std::string>{"FILE 3", "FILE 5"}));
}

TEST_F(Rescue, SectorMapHasAColumnPerTrackAndARowPerSector)
{
    std::vector<uint8_t> codes((size_t)d64_block_error_info_size, D64_ERR_OK);
    codes[(size_t)start_sector_of_track[17] + 3] = D64_ERR_CHECKSUM;
    codes[(size_t)start_sector_of_track[TRACKS] + 16] = D64_ERR_GCR;
    codes[0] = D64_ERR_INACCESSIBLE;
    std::vector<std::string> lines;
    sector_map_lines(codes.data(), (int)codes.size(), TRACKS, &lines);
    ASSERT_EQ(lines.size(), 2u + 21u + 2u);
    for (const std::string &line : lines)
        EXPECT_LE(line.size(), 80u) << line;
    const int column0 = 6;  // after the sector label
    EXPECT_EQ(lines[2 + 3][column0 + 16], 'C');
    EXPECT_EQ(lines[2 + 16][column0 + TRACKS - 1], 'G');
    EXPECT_EQ(lines[2 + 0][column0], 'x');
    // Track 35 has 17 sectors: no cell below them.
    EXPECT_LE(lines[2 + 17].size(), (size_t)column0 + 30);
    EXPECT_EQ(lines[1].substr(column0, 10), "1234567890");
}

TEST_F(Rescue, MergeStacksDumpsWithDifferentBadSectorsToTheCleanImage)
{
    const std::vector<uint8_t> clean = disk("STACK", 6);
    std::vector<std::vector<ts>> chains = chains_of(clean);
    std::vector<uint8_t> a = clean, b = clean, c = clean;
    // Each dump fails somewhere else, with garbage where it failed.
    auto spoil = [](std::vector<uint8_t> &image, ts where, uint8_t code) {
        mark(image, where, code);
        uint8_t *data = image.data() + d64_sector_offset(where.first, where.second);
        if (code == D64_ERR_NO_SYNC)
            memset(data, 0, 256);
        else
            data[17] ^= 0x5A;
    };
    spoil(a, chains[0][0], D64_ERR_CHECKSUM);
    spoil(a, {18, 1}, D64_ERR_GCR);
    spoil(b, chains[2][1], D64_ERR_NO_SYNC);
    spoil(c, chains[0][0], D64_ERR_GCR);
    spoil(c, chains[4][0], D64_ERR_CHECKSUM);

    merge_result m;
    merge_dumps({a.data(), b.data(), c.data()}, &m);
    EXPECT_TRUE(merge_same_disk(m));
    EXPECT_EQ(m.sectors_bad, 0);
    EXPECT_EQ(m.image, clean);
    EXPECT_EQ(filer_image_size_to_save(m.image.data()), d64_base_size);

    // Where no dump is good the best read wins: checksum failed over GCR
    // failed over no sync, with that read's bytes.
    spoil(b, chains[0][0], D64_ERR_NO_SYNC);
    merge_dumps({c.data(), b.data(), a.data()}, &m);
    EXPECT_EQ(d64_get_block_error_info(m.image.data(), chains[0][0].first, chains[0][0].second),
              D64_ERR_CHECKSUM);
    size_t at = (size_t)d64_sector_offset(chains[0][0].first, chains[0][0].second);
    EXPECT_TRUE(std::equal(a.begin() + at, a.begin() + at + 256, m.image.begin() + at));
    EXPECT_EQ(m.sectors_bad, 1);
    EXPECT_EQ(filer_image_size_to_save(m.image.data()), d64_base_size + d64_block_error_info_size);
}

TEST_F(Rescue, MergeRefusesDumpsOfTwoDisks)
{
    std::vector<uint8_t> one = disk("ONE DISK", 4, "one.d64");
    std::vector<uint8_t> other = disk("OTHER DISK", 4, "other.d64");
    merge_result m;
    merge_dumps({one.data(), other.data()}, &m);
    EXPECT_FALSE(merge_same_disk(m));
    EXPECT_EQ(m.other_header, 1);
    // Same header, but a good sector with other bytes: named.
    std::vector<uint8_t> changed = one;
    ts where = chains_of(one)[2][0];
    changed[(size_t)d64_sector_offset(where.first, where.second) + 100] ^= 1;
    merge_dumps({one.data(), changed.data()}, &m);
    EXPECT_EQ(m.other_header, -1);
    ASSERT_EQ(m.disagreements.size(), 1u);
    EXPECT_EQ(ts(m.disagreements[0].track, m.disagreements[0].sector), where);
    // A header not read with data proves nothing either way.
    mark(other, {18, 0}, D64_ERR_NO_SYNC);
    merge_dumps({one.data(), other.data()}, &m);
    EXPECT_EQ(m.other_header, -1);
}

TEST_F(Rescue, MajorityVoteRestoresBytesButNeverMarksASectorGood)
{
    const std::vector<uint8_t> clean = disk("VOTE", 3);
    ts where = chains_of(clean)[1][0];
    size_t at = (size_t)d64_sector_offset(where.first, where.second);
    std::vector<std::vector<uint8_t>> dumps(3, clean);
    for (int i = 0; i < 3; i++) {
        mark(dumps[i], where, D64_ERR_CHECKSUM);
        dumps[i][at + 10 + i] ^= 0xFF;  // each read wrong in another byte
    }
    merge_result m;
    merge_dumps({dumps[0].data(), dumps[1].data(), dumps[2].data()}, &m);
    ASSERT_EQ(m.majority.size(), 1u);
    EXPECT_EQ(m.majority[0].reads, 3);
    EXPECT_EQ(m.majority[0].split_bytes, 3);
    EXPECT_TRUE(std::equal(clean.begin() + at, clean.begin() + at + 256, m.image.begin() + at));
    EXPECT_EQ(d64_get_block_error_info(m.image.data(), where.first, where.second),
              D64_ERR_CHECKSUM);
    EXPECT_EQ(m.sectors_bad, 1);
    std::vector<std::string> lines;
    merge_log_lines(m, {"a", "b", "c"}, &lines);
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string &l) {
                               return l.find("still marked as checksum failed") !=
                                      std::string::npos;
                           }),
              lines.end());
    // Two reads are no majority: the first one is kept as it is.
    merge_dumps({dumps[1].data(), dumps[2].data()}, &m);
    EXPECT_TRUE(m.majority.empty());
    EXPECT_TRUE(std::equal(dumps[1].begin() + at, dumps[1].begin() + at + 256,
                           m.image.begin() + at));
}

}  // namespace
