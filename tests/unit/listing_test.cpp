#include <gtest/gtest.h>

#include "image/d64.h"
#include "image/directory.h"
#include "image/listing.h"
#include "tests/support/cc1541_tool.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

uint8_t *sector(int t, int s)
{
    return d64_storage + d64_sector_offset(t, s);
}

void set_entry(int dir_sector, int k, uint8_t type, const std::string &name, unsigned blocks)
{
    uint8_t *e = sector(18, dir_sector) + 32 * k;
    e[2] = type;
    e[3] = 1;
    e[4] = 0;
    memset(e + 5, 0xA0, 16);
    memcpy(e + 5, name.data(), std::min<size_t>(name.size(), 16));
    e[30] = (uint8_t)blocks;
    e[31] = (uint8_t)(blocks >> 8);
}

// A freshly formatted disk named "EMPTY", ID "AB 2A".
void format_disk()
{
    d64_storage_init_and_set_to_not_ready();
    uint8_t *h = sector(18, 0);
    h[0] = 18;
    h[1] = 1;
    h[2] = 0x41;
    for (int t = 1; t <= 35; ++t) {
        int n = d64_sectors_of_track(t);
        h[4 * t] = (uint8_t)(t == 18 ? 0 : n);
    }
    memset(h + 0x90, 0xA0, 27);
    memcpy(h + 0x90, "EMPTY", 5);
    memcpy(h + 0xA2, "AB\xA0" "2A", 5);
    sector(18, 1)[0] = 0;
    sector(18, 1)[1] = 255;
}

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\r') {
            lines.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    EXPECT_EQ(start, text.size()) << "text after the last carriage return";
    return lines;
}

struct Listing {
    int count;
    int loop;
    std::vector<std::string> lines;
};

Listing list(int include_scr = 0)
{
    GString *text = g_string_new(nullptr);
    Listing l;
    l.count = d64_create_directory_listing(d64_storage, text, include_scr, &l.loop);
    l.lines = split_lines(std::string(text->str, text->len));
    g_string_free(text, TRUE);
    EXPECT_EQ((int)l.lines.size(), l.count);
    return l;
}

class ListingBuilder : public ::testing::Test {
protected:
    void SetUp() override
    {
        d64_module_init();
        format_disk();
    }
};

TEST_F(ListingBuilder, EmptyDiskAndDamagedHeader)
{
    Listing l = list();
    ASSERT_EQ(l.count, 2);
    EXPECT_EQ(l.lines[0], "0 \x12\"EMPTY           \" AB\xA0" "2A");
    EXPECT_EQ(l.lines[1], "664 BLOCKS FREE.");
    EXPECT_EQ(l.loop, 0);

    // Eight empty slots, each an SCR line when asked for.
    l = list(1);
    ASSERT_EQ(l.count, 10);
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(l.lines[i], "0    \"\"                 SCR ");

    // A header whose link is not 18/1: no name or ID, entries still listed.
    sector(18, 0)[1] = 2;
    set_entry(1, 0, 0x82, "FILE", 3);
    l = list();
    ASSERT_EQ(l.count, 3);
    EXPECT_EQ(l.lines[0], "0 \x12\"                \"      ");
    EXPECT_EQ(l.lines[1], "3    \"FILE\"             PRG ");
}

TEST_F(ListingBuilder, EntryColumns)
{
    set_entry(1, 0, 0x82, "ABC\xA0,8,1", 1234);
    set_entry(1, 1, 0x82, "AB\xA0\xC3\xC4", 7);
    set_entry(1, 2, 0x81, "SIXTEEN CHARS 16", 12);
    set_entry(1, 3, 0x42, "LOCKED", 1);
    set_entry(1, 4, 0xC4, "REL", 999);
    set_entry(1, 5, 0x86, "TYPE6", 1000);
    set_entry(1, 6, 0x00, "GONE", 5);
    set_entry(1, 7, 0x80, "A\rB", 0);
    Listing l = list();
    ASSERT_EQ(l.count, 9);
    EXPECT_EQ(l.lines[1], "234  \"ABC\",8,1          PRG ");
    EXPECT_EQ(l.lines[2], "7    \"AB\"CD             PRG ");
    EXPECT_EQ(l.lines[3], "12   \"SIXTEEN CHARS 16\" SEQ ");
    EXPECT_EQ(l.lines[4], "1    \"LOCKED\"          *PRG<");
    EXPECT_EQ(l.lines[5], "999  \"REL\"              REL<");
    EXPECT_EQ(l.lines[6], "0    \"TYPE6\"            SEQ ");
    // A carriage return in a name must not end the line.
    EXPECT_EQ(l.lines[7], "0    \"A\x8D" "B\"              DEL ");
    for (int i = 1; i <= 7; ++i)
        EXPECT_EQ(l.lines[i].size(), 28u) << i;

    l = list(1);
    ASSERT_EQ(l.count, 10);
    EXPECT_EQ(l.lines[7], "5    \"GONE\"             SCR ");
}

TEST_F(ListingBuilder, NameNormalisation)
{
    char out[19];
    const uint8_t zeros[16] = {};
    d64_normalize_listing_name(zeros, 16, out);
    EXPECT_STREQ(out, "");
    d64_normalize_listing_name((const uint8_t *)"35\xA0" "2A", 5, out);
    EXPECT_STREQ(out, "35\xA0" "2A");
    d64_normalize_listing_name((const uint8_t *)"A\0B\xA0\xA0", 5, out);
    EXPECT_STREQ(out, "A@B");

    // Bit 7 is cleared after the shifted space, but never into a zero or a
    // carriage return.
    d64_quote_listing_name("X\xA0\x80\x8D\xC1\xA0Y", out);
    EXPECT_STREQ(out, "\"X\"\x80\x8D" "A Y");
}

TEST_F(ListingBuilder, DirectoryLoopsAndTheEntryBound)
{
    uint8_t *s1 = sector(18, 1), *s4 = sector(18, 4);
    s1[0] = 18;
    s1[1] = 4;
    s4[0] = 18;
    s4[1] = 1;
    set_entry(1, 0, 0x82, "ONE", 1);
    set_entry(4, 3, 0x82, "FOUR", 1);
    Listing l = list();
    EXPECT_EQ(l.loop, 1);
    ASSERT_EQ(l.count, 4);
    EXPECT_EQ(l.lines[2].substr(5, 6), "\"FOUR\"");

    s1[1] = 1;  // links to itself
    l = list(1);
    EXPECT_EQ(l.loop, 1);
    EXPECT_EQ(l.count, 10);

    // Links off track 18 or past its last sector end the directory quietly.
    for (auto link : {std::pair<int, int>{19, 0}, {18, 19}, {0, 1}, {36, 0}, {255, 255}}) {
        s1[0] = (uint8_t)link.first;
        s1[1] = (uint8_t)link.second;
        l = list();
        EXPECT_EQ(l.loop, 0);
        EXPECT_EQ(l.count, 3);
    }

    // 19 sectors chained (18/1 .. 18/18, then 18/0): only 144 entries count.
    for (int s = 1; s <= 18; ++s) {
        sector(18, s)[0] = 18;
        sector(18, s)[1] = (uint8_t)(s == 18 ? 0 : s + 1);
        for (int k = 0; k < 8; ++k)
            set_entry(s, k, 0x82, "F", 1);
    }
    l = list();
    EXPECT_EQ(l.loop, 0);
    EXPECT_EQ(l.count, 146);
}

// --- Cross-checks against what cc1541 prints for the same image -----------

class ListingVsCc1541 : public ListingBuilder {
protected:
    std::string dir;
    void SetUp() override
    {
        ListingBuilder::SetUp();
        if (!cc1541_available())
            GTEST_SKIP() << "cc1541 not installed";
        dir = cc1541_temp_dir_new();
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override { cc1541_temp_dir_remove(dir); }

    void check(const std::string &diskname, const std::string &id, const std::vector<cc1541_file> &files)
    {
        std::string path = dir + "/disk.d64", error;
        ASSERT_TRUE(cc1541_build_d64(path, diskname, id, files, &error)) << error;
        cc1541_listing theirs;
        ASSERT_TRUE(cc1541_read_listing(path, &theirs, &error)) << error;
        std::string image;
        ASSERT_TRUE(cc1541_read_file(path, &image));
        ASSERT_EQ(image.size(), 174848u);
        d64_storage_init_and_set_to_not_ready();
        memcpy(d64_storage, image.data(), image.size());

        Listing ours = list();
        EXPECT_EQ(ours.loop, 0);
        ASSERT_EQ(ours.count, (int)theirs.entries.size() + 2);
        ASSERT_EQ(theirs.entries.size(), files.size());

        const std::string &h = ours.lines[0];
        ASSERT_EQ(h.size(), 27u);
        EXPECT_EQ(cc1541_petscii_to_ascii(h.substr(4, 16)), theirs.diskname);
        EXPECT_EQ(cc1541_petscii_to_ascii(h.substr(22, 5)), theirs.id);

        for (size_t i = 0; i < theirs.entries.size(); ++i) {
            const std::string &line = ours.lines[i + 1];
            const cc1541_entry &e = theirs.entries[i];
            SCOPED_TRACE("entry " + std::to_string(i) + ": " + line);
            ASSERT_EQ(line.size(), 28u);
            EXPECT_EQ(atoi(line.substr(0, 3).c_str()), e.blocks % 1000);
            std::string quoted = "\"" + e.name + "\"" + e.after;
            quoted.resize(18, ' ');
            EXPECT_EQ(cc1541_petscii_to_ascii(line.substr(5, 18)), quoted);
            EXPECT_EQ(line[23] == '*', e.splat);
            std::string type = line.substr(24, 3);
            for (char &c : type)
                c = g_ascii_tolower(c);
            EXPECT_EQ(type, e.type);
            EXPECT_EQ(line[27] == '<', e.locked);
        }
        unsigned free_blocks = 0;
        sscanf(ours.lines.back().c_str(), "%u BLOCKS FREE.", &free_blocks);
        EXPECT_EQ((int)free_blocks, theirs.blocks_free);
        EXPECT_EQ(ours.lines.back(), std::to_string(theirs.blocks_free) + " BLOCKS FREE.");
    }
};

TEST_F(ListingVsCc1541, MixedTypesFlagsAndNames)
{
    std::vector<cc1541_file> files = {
        {"HELLO\xA0,8,1", "PRG", false, false, 3000, -1},
        {"DATA", "SEQ", true, false, 600, -1},
        {"RECORDS", "REL", false, true, 254, -1},
        {"USER\xA0\xA0X", "USR", true, true, 100, -1},
        {"GONE", "DEL", false, false, 10, -1},
        {"SIXTEEN CHARS 16", "PRG", false, false, 1, -1},
        {"HUGE", "PRG", false, false, 300, 1234},
        {"A B-C.D/E", "SEQ", false, false, 5000, -1},
        {"TRAIL\xA0\xA0\xA0", "PRG", false, false, 20, -1},
    };
    check("MY DISK\xA0X", "XY 2A", files);

    // The helper also makes the raw GCR form of a disk for other tests.
    std::string g64;
    ASSERT_TRUE(cc1541_build_d64(dir + "/g.d64", "G", "GG 2A", files, nullptr, dir + "/g.g64"));
    ASSERT_TRUE(cc1541_read_file(dir + "/g.g64", &g64));
    EXPECT_EQ(g64.substr(0, 8), "GCR-1541");
}

TEST_F(ListingVsCc1541, DirectoryOverSeveralSectors)
{
    std::vector<cc1541_file> files;
    for (int i = 0; i < 30; ++i) {
        cc1541_file f;
        f.name = "FILE " + std::to_string(i);
        f.data_size = 254 * (i % 4) + 1;
        f.type = i % 3 == 0 ? "SEQ" : "PRG";
        files.push_back(f);
    }
    check("SEVERAL", "12 2A", files);
}

TEST_F(ListingVsCc1541, FullDirectory)
{
    std::vector<cc1541_file> files;
    for (int i = 0; i < 144; ++i) {
        cc1541_file f;
        f.name = "F" + std::to_string(i);
        f.data_size = 10;
        files.push_back(f);
    }
    check("FULL", "FF 2A", files);
}

}  // namespace
