#include <gtest/gtest.h>

#include "image/d64.h"
#include "image/directory.h"

#include <cstring>
#include <string>

namespace {

uint8_t *sector(int t, int s)
{
    return d64_storage + d64_sector_offset(t, s);
}

uint8_t *dir_entry(int s, int k)
{
    return sector(18, s) + 32 * k;
}

void set_link(int t, int s, uint8_t lt, uint8_t ls)
{
    sector(t, s)[0] = lt;
    sector(t, s)[1] = ls;
}

void set_entry(int dir_sector, int k, uint8_t type, uint8_t ft, uint8_t fs, const std::string &name,
               unsigned blocks = 1)
{
    uint8_t *e = dir_entry(dir_sector, k);
    e[2] = type;
    e[3] = ft;
    e[4] = fs;
    memset(e + 5, 0xA0, 16);
    memcpy(e + 5, name.data(), std::min<size_t>(name.size(), 16));
    e[30] = (uint8_t)blocks;
    e[31] = (uint8_t)(blocks >> 8);
}

class Directory : public ::testing::Test {
protected:
    void SetUp() override
    {
        d64_module_init();
        d64_storage_init_and_set_to_not_ready();
        set_link(18, 0, 18, 1);
        set_link(18, 1, 0, 255);
    }
};

TEST_F(Directory, NamesFollowTheZeroRule)
{
    char name[17];
    uint8_t *e = dir_entry(1, 0);
    memset(e + 5, 0, 16);
    d64_get_filename(e, name);
    EXPECT_STREQ(name, "");

    memset(e + 5, 0xA0, 16);
    e[5] = 'A';
    e[6] = 'B';
    e[7] = 0;
    d64_get_filename(e, name);
    EXPECT_EQ(std::string(name), std::string("AB@") + std::string(13, '\xA0'));

    uint8_t *h = sector(18, 0);
    memset(h + 0xA2, 0, 5);
    char id[6];
    d64_get_diskid(d64_storage, id);
    EXPECT_STREQ(id, "");
    memcpy(h + 0xA2, "35\xA0" "2A", 5);
    d64_get_diskid(d64_storage, id);
    EXPECT_STREQ(id, "35\xA0" "2A");

    memcpy(h + 0x90, "DISK\0NAME\xA0\xA0\xA0\xA0\xA0\xA0\xA0", 16);
    d64_get_diskname(d64_storage, name);
    EXPECT_STREQ(name, "DISK@NAME\xA0\xA0\xA0\xA0\xA0\xA0\xA0");
}

TEST_F(Directory, BadHeaderLinkHidesNameButNotDirectory)
{
    uint8_t *h = sector(18, 0);
    memcpy(h + 0x90, "NAME", 4);
    memcpy(h + 0xA2, "AB 2A", 5);
    set_link(18, 0, 18, 4);
    char name[17] = "x", id[6] = "x";
    d64_get_diskname(d64_storage, name);
    d64_get_diskid(d64_storage, id);
    EXPECT_STREQ(name, "");
    EXPECT_STREQ(id, "");
    EXPECT_FALSE(d64_is_first_dir_link_valid(d64_storage));

    d64_dir_position pos;
    const uint8_t *e;
    d64_first_dir_entry(d64_storage, &pos, &e);
    EXPECT_EQ(pos.track, 18);
    EXPECT_EQ(pos.sector, 1);
    EXPECT_EQ(pos.index, 0);
    EXPECT_EQ(e, sector(18, 1));
}

// Number of entries a plain walk sees before the chain ends (bounded here).
int walk_length(d64_dir_position *last)
{
    d64_dir_position pos;
    const uint8_t *e;
    d64_first_dir_entry(d64_storage, &pos, &e);
    int n = 1;
    while (n < 1000 && d64_next_dir_entry(d64_storage, &pos, &e))
        ++n;
    *last = pos;
    return n;
}

TEST_F(Directory, WalkFollowsTrack18LinksAndStopsAtBadOnes)
{
    d64_dir_position last;
    EXPECT_EQ(walk_length(&last), 8);
    EXPECT_EQ(last.index, 7);

    set_link(18, 1, 18, 4);
    set_link(18, 4, 18, 18);
    set_link(18, 18, 0, 255);
    EXPECT_EQ(walk_length(&last), 24);
    EXPECT_EQ(last.sector, 18);

    // Out-of-range links end the directory like the end marker does.
    const uint8_t bad[][2] = {{18, 19}, {19, 0}, {0, 1}, {36, 1}, {255, 255}, {17, 4}};
    for (const auto &b : bad) {
        set_link(18, 4, b[0], b[1]);
        EXPECT_EQ(walk_length(&last), 16) << int(b[0]) << "/" << int(b[1]);
        EXPECT_EQ(last.sector, 4);
        EXPECT_EQ(last.index, 7);
    }

    // A failed step leaves position and entry alone.
    d64_dir_position pos = {18, 4, 7};
    const uint8_t *e = dir_entry(4, 7);
    EXPECT_EQ(d64_next_dir_entry(d64_storage, &pos, &e), 0);
    EXPECT_EQ(e, dir_entry(4, 7));

    // A position that never came from a walk is refused, not followed.
    pos = {40, 30, 3};
    EXPECT_EQ(d64_next_dir_entry(d64_storage, &pos, &e), 0);
}

TEST_F(Directory, EntryFields)
{
    uint8_t *e = dir_entry(1, 2);
    uint8_t type;
    const uint8_t types_ok[] = {0x82, 0x02, 0xC4, 0x40, 0x00};
    for (uint8_t t : types_ok) {
        e[2] = t;
        EXPECT_EQ(d64_get_filetype(e, &type), 1) << int(t);
        EXPECT_EQ(type, t);
    }
    const uint8_t types_bad[] = {0x05, 0x85, 0x46, 0xFF, 0x3F};
    for (uint8_t t : types_bad) {
        e[2] = t;
        EXPECT_EQ(d64_get_filetype(e, &type), 0) << int(t);
    }

    e[30] = 0xD2;
    e[31] = 0x04;
    unsigned size;
    d64_get_file_size_sectors(e, &size);
    EXPECT_EQ(size, 1234u);

    struct {
        uint8_t t, s;
        int valid;
    } firsts[] = {{17, 20, 1}, {17, 21, 0}, {18, 18, 1}, {18, 19, 0}, {0, 0, 0},
                  {35, 16, 1}, {36, 0, TRACKS >= 36}, {40, 16, TRACKS == 40}, {41, 0, 0}, {255, 0, 0}};
    for (auto &f : firsts) {
        e[3] = f.t;
        e[4] = f.s;
        int t, s;
        EXPECT_EQ(d64_get_file_first_track_and_sector(e, &t, &s), f.valid) << int(f.t) << "/" << int(f.s);
        EXPECT_EQ(t, f.t);
        EXPECT_EQ(s, f.s);
    }
}

TEST_F(Directory, BamBitsAndFreeCount)
{
    uint8_t *h = sector(18, 0);
    // A freshly formatted disk: every sector free except track 18.
    for (int t = 1; t <= 35; ++t) {
        int n = d64_sectors_of_track(t);
        uint8_t *entry = h + 4 * t;
        entry[0] = (uint8_t)(t == 18 ? 0 : n);
        uint32_t bits = t == 18 ? 0 : (1u << n) - 1;
        entry[1] = (uint8_t)bits;
        entry[2] = (uint8_t)(bits >> 8);
        entry[3] = (uint8_t)(bits >> 16);
    }
    unsigned count;
    d64_count_free_sectors(d64_storage, &count);
    EXPECT_EQ(count, 664u);
    // Track 18's count never enters the total.
    h[4 + 4 * 17] = 200;
    d64_count_free_sectors(d64_storage, &count);
    EXPECT_EQ(count, 664u);

    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 1, 0), 0);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 18, 0), 1);
    h[4 + 4 * 9 + 1 + 1] &= (uint8_t)~(1 << 3);  // track 10 sector 11
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 10, 11), 1);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 10, 10), 0);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 10, 12), 0);
    h[4 + 4 * 34 + 3] = 0;  // track 35 sectors 16 to 23
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 35, 16), 1);
    // No bitmap exists for these: never reported as in use.
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 35, 17), 0);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 0, 0), 0);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 36, 0), 0);
    EXPECT_EQ(d64_is_sector_allocated(d64_storage, 40, 0), 0);
}

TEST_F(Directory, GatePredicates)
{
    EXPECT_EQ(d64_is_bam_sector_error_free(d64_storage), 0);
    d64_set_block_error_info(d64_storage, 18, 0, 0x01);
    EXPECT_EQ(d64_is_bam_sector_error_free(d64_storage), 1);
    d64_set_block_error_info(d64_storage, 18, 0, 0x05);
    EXPECT_EQ(d64_is_bam_sector_error_free(d64_storage), 0);

    EXPECT_EQ(d64_is_first_dir_link_valid(d64_storage), 1);
    EXPECT_EQ(d64_is_first_dir_link_valid_in_track(d64_storage, 19), 0);
    set_link(19, 0, 18, 1);
    EXPECT_EQ(d64_is_first_dir_link_valid_in_track(d64_storage, 19), 1);
    EXPECT_EQ(d64_is_first_dir_link_valid_in_track(d64_storage, 0), 0);
    EXPECT_EQ(d64_is_first_dir_link_valid_in_track(d64_storage, TRACKS + 1), 0);
    set_link(18, 0, 18, 2);
    EXPECT_EQ(d64_is_first_dir_link_valid(d64_storage), 0);
}

class OwnerLookup : public Directory {
protected:
    int owner(int t, int s, std::string *name = nullptr, const uint8_t **entry = nullptr)
    {
        char buf[17] = "";
        const uint8_t *e = nullptr;
        int r = d64_get_filename_for_sector(d64_storage, &e, t, s, buf);
        if (name)
            *name = buf;
        if (entry)
            *entry = e;
        return r;
    }
};

TEST_F(OwnerLookup, FindsTheFileWhoseChainHoldsTheSector)
{
    // FIRST: 17/0 -> 17/10 -> 19/3 (end). SECOND: 20/5 -> 17/10 (shared).
    set_entry(1, 0, 0x82, 17, 0, "FIRST");
    set_link(17, 0, 17, 10);
    set_link(17, 10, 19, 3);
    set_link(19, 3, 0, 120);
    set_entry(1, 1, 0x82, 20, 5, "SECOND");
    set_link(20, 5, 17, 10);

    std::string name;
    const uint8_t *e;
    EXPECT_EQ(owner(19, 3, &name, &e), 1);
    EXPECT_EQ(name, "FIRST" + std::string(11, '\xA0'));
    EXPECT_EQ(e, dir_entry(1, 0));
    EXPECT_EQ(owner(17, 10, &name), 1);
    EXPECT_EQ(name.substr(0, 5), "FIRST");
    EXPECT_EQ(owner(20, 5, &name, &e), 1);
    EXPECT_EQ(e, dir_entry(1, 1));
    EXPECT_EQ(owner(17, 1), 0);
    // 0/120 is the end marker, not a block of the file.
    EXPECT_EQ(owner(0, 120), 0);
}

TEST_F(OwnerLookup, SkipsScratchedAndInvalidEntries)
{
    set_entry(1, 0, 0x00, 5, 0, "SCRATCHED");
    set_entry(1, 1, 0x82, 0, 0, "TRACK0");
    set_entry(1, 2, 0x82, 36, 0, "TRACK36");
    set_entry(1, 3, 0x82, 5, 21, "SECTOR21");
    set_entry(1, 4, 0x81, 5, 0, "LIVE");
    set_link(5, 0, 0, 0);
    std::string name;
    EXPECT_EQ(owner(5, 0, &name), 1);
    EXPECT_EQ(name.substr(0, 4), "LIVE");
    EXPECT_EQ(owner(0, 0), 0);
    if (TRACKS == 35) {
        EXPECT_EQ(owner(36, 0), 0);
    }
}

TEST_F(OwnerLookup, LoopingAndStrayChainsEndTheWalk)
{
    // A block linking to itself, then chains that leave the disk.
    set_entry(1, 0, 0x82, 3, 3, "SELF");
    set_link(3, 3, 3, 3);
    set_entry(1, 1, 0x82, 4, 0, "TO36");
    set_link(4, 0, 36, 0);
    set_entry(1, 2, 0x82, 4, 1, "TO255");
    set_link(4, 1, 255, 255);
    set_entry(1, 3, 0x82, 4, 2, "BADSECTOR");
    set_link(4, 2, 30, 18);
    set_entry(1, 4, 0x82, 6, 0, "AFTER");
    set_link(6, 0, 6, 1);
    set_link(6, 1, 6, 0);  // two-block loop

    std::string name;
    EXPECT_EQ(owner(6, 1, &name), 1);
    EXPECT_EQ(name.substr(0, 5), "AFTER");
    EXPECT_EQ(owner(30, 18), 0);
    EXPECT_EQ(owner(10, 0), 0);
    if (TRACKS == 40) {
        // Track 36 is real in this build, so the chain reaches it.
        EXPECT_EQ(owner(36, 0, &name), 1);
        EXPECT_EQ(name.substr(0, 4), "TO36");
    }
}

TEST_F(OwnerLookup, DirectoryLoopsAndLongChainsAreBounded)
{
    // 18/1 -> 18/4 -> 18/1: the second visit of 18/1 ends the lookup.
    set_link(18, 1, 18, 4);
    set_link(18, 4, 18, 1);
    set_entry(4, 7, 0x82, 9, 0, "IN4");
    set_link(9, 0, 0, 1);
    EXPECT_EQ(owner(9, 0), 1);
    EXPECT_EQ(owner(9, 1), 0);

    // A sector linking to itself.
    set_link(18, 1, 18, 1);
    EXPECT_EQ(owner(9, 0), 0);

    set_entry(4, 7, 0x00, 9, 0, "");
    // All 18 directory sectors chained: 144 entries. A chain that goes on
    // into 18/0 has entries beyond the bound, and those are never seen.
    for (int s = 1; s < 18; ++s)
        set_link(18, s, 18, s + 1);
    set_link(18, 18, 18, 0);
    set_entry(18, 7, 0x82, 9, 0, "LAST");
    set_entry(0, 2, 0x82, 9, 1, "BEYOND");
    set_link(9, 1, 0, 1);
    std::string name;
    EXPECT_EQ(owner(9, 0, &name), 1);
    EXPECT_EQ(name.substr(0, 4), "LAST");
    EXPECT_EQ(owner(9, 1), 0);
}

TEST(DirectorySort, IntegersAndFirstSectorRecordsSortAscending)
{
    GList *list = nullptr;
    for (int v : {1805, 1801, 1818, 1803})
        list = g_list_insert_sorted(list, GINT_TO_POINTER(v), (GCompareFunc)int_sort_function);
    std::string order;
    for (GList *l = list; l; l = l->next)
        order += std::to_string(GPOINTER_TO_INT(l->data)) + " ";
    EXPECT_EQ(order, "1801 1803 1805 1818 ");
    g_list_free(list);

    // Files on the same track keep their directory order.
    sector_query_record recs[] = {{"A", 1, 19, 0}, {"B", 2, 17, 3}, {"C", 3, 19, 1}, {"D", 4, 17, 0},
                                  {"E", 5, 1, 0}};
    GSList *q = nullptr;
    for (auto &r : recs)
        q = g_slist_append(q, &r);
    q = g_slist_sort(q, (GCompareFunc)compare_track_func);
    std::string names;
    for (GSList *l = q; l; l = l->next)
        names += static_cast<sector_query_record *>(l->data)->filename;
    EXPECT_EQ(names, "EBDAC");
    g_slist_free(q);
}

}  // namespace
