#include <gtest/gtest.h>

#include "image/basic.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct DollarEntry {
    unsigned blocks;
    std::string name;
    std::string type;  // "PRG" etc, with splat/lock around as the drive prints
};

void put_line(Bytes &p, unsigned number, const std::string &text)
{
    size_t at = p.size();
    p.push_back(0);
    p.push_back(0);
    p.push_back((uint8_t)number);
    p.push_back((uint8_t)(number >> 8));
    p.insert(p.end(), text.begin(), text.end());
    p.push_back(0);
    unsigned next = 0x0801 + (unsigned)(p.size() - 2);
    p[at] = (uint8_t)next;
    p[at + 1] = (uint8_t)(next >> 8);
}

// The "$" program as a 1541 sends it.
Bytes dollar_program(const std::string &name16, const std::string &id5, const std::vector<DollarEntry> &entries,
                     unsigned free_blocks)
{
    Bytes p = {0x01, 0x08};
    put_line(p, 0, "\x12\"" + name16 + "\" " + id5);
    for (const DollarEntry &e : entries) {
        std::string text(e.blocks < 10 ? 3 : e.blocks < 100 ? 2 : 1, ' ');
        text += "\"" + e.name + "\"";
        text.resize(text.size() + 16 - e.name.size(), ' ');
        text += e.type;
        text.resize(27, ' ');
        put_line(p, e.blocks, text);
    }
    put_line(p, free_blocks, "BLOCKS FREE.             ");
    p.push_back(0);
    p.push_back(0);
    return p;
}

std::string text_of(GString *s)
{
    return std::string(s->str, s->len);
}

int list_dir(const Bytes &p, std::string *out)
{
    GString *s = g_string_new(nullptr);
    int r = basic_list_directory_contents(p.data(), p.size(), s);
    *out = text_of(s);
    g_string_free(s, TRUE);
    return r;
}

int list_escaped(const Bytes &p, int max_lines, std::string *out)
{
    GString *s = g_string_new(nullptr);
    int r = basic_list_basic_program_escaped(p.data(), p.size(), max_lines, s);
    *out = text_of(s);
    g_string_free(s, TRUE);
    return r;
}

const std::vector<DollarEntry> sample_entries = {
    {12, "GAME", " PRG "}, {5, "NOTES", "*SEQ<"}, {664, "BIG", " PRG "}};

TEST(DollarListing, RelinkRebuildsLinksAndListsInColumns)
{
    Bytes good = dollar_program("TEST DISK       ", "AB 2A", sample_entries, 123);
    Bytes p = good;
    // Links as they arrive are not to be trusted.
    for (size_t at = 2; at + 2 < p.size();) {
        size_t next = p[at] + (p[at + 1] << 8) - 0x0801 + 2;
        p[at] = 0xEA;
        p[at + 1] = 0xEA;
        at = next;
    }
    ASSERT_EQ(basic_relink_directory_listing(p.data(), p.size()), 1);
    EXPECT_EQ(p, good);

    std::string text;
    ASSERT_EQ(list_dir(p, &text), 1);
    EXPECT_EQ(text,
              "0 \x12\"TEST DISK       \" AB 2A\r"
              "12   \"GAME\"             PRG   \r"
              "5    \"NOTES\"           *SEQ< \r"
              "664  \"BIG\"              PRG    \r"
              "123 BLOCKS FREE.             \r");
}

TEST(DollarListing, ZeroBytesInNamesAndLineNumbers)
{
    Bytes p = dollar_program("DISK            ", "AB 2A", {{1, std::string("A\0B", 3), " PRG "}}, 1664);
    std::string text;
    ASSERT_EQ(basic_relink_directory_listing(p.data(), p.size()), 1);
    ASSERT_EQ(list_dir(p, &text), 1);
    EXPECT_NE(text.find("1    \"A@B\""), std::string::npos) << text;
    // Line numbers wrap at 1000 like the sizes of the image listing.
    EXPECT_NE(text.find("\r664 BLOCKS FREE."), std::string::npos) << text;

    // A carriage return inside a name must not split the entry's line.
    Bytes q = dollar_program("DISK            ", "AB 2A", {{1, "A\rB", " PRG "}}, 1);
    ASSERT_EQ(list_dir(q, &text), 1);
    EXPECT_NE(text.find("\"A\x8D" "B\""), std::string::npos);
}

TEST(DollarListing, EmptyAndForeignPrograms)
{
    Bytes empty = {0x01, 0x08, 0x00, 0x00};
    std::string text = "x";
    EXPECT_EQ(basic_relink_directory_listing(empty.data(), empty.size()), 1);
    EXPECT_EQ(empty, (Bytes{0x01, 0x08, 0x00, 0x00}));
    EXPECT_EQ(list_dir(empty, &text), 1);
    EXPECT_EQ(text, "");

    Bytes foreign = dollar_program("DISK            ", "AB 2A", sample_entries, 1);
    foreign[1] = 0x10;  // loads at $1001
    EXPECT_EQ(basic_relink_directory_listing(foreign.data(), foreign.size()), 0);
    EXPECT_EQ(list_dir(foreign, &text), 0);
    EXPECT_EQ(list_escaped(foreign, 1, &text), 0);

    for (size_t n = 0; n < 4; ++n) {
        Bytes tiny(empty.begin(), empty.begin() + n);
        EXPECT_EQ(basic_relink_directory_listing(tiny.data(), tiny.size()), 0);
        EXPECT_EQ(list_dir(tiny, &text), 0);
        EXPECT_EQ(list_escaped(tiny, 1, &text), 0);
    }
}

TEST(DollarListing, TruncatedProgramsAreRefusedAtEveryLength)
{
    Bytes full = dollar_program("DISK            ", "AB 2A", sample_entries, 1);
    for (size_t n = 4; n < full.size(); ++n) {
        // Exact-size copies, so any read past the end is caught by ASan.
        Bytes cut(full.begin(), full.begin() + n);
        Bytes relinked = cut;
        EXPECT_EQ(basic_relink_directory_listing(relinked.data(), relinked.size()), 0) << n;
        std::string text;
        EXPECT_EQ(list_dir(cut, &text), 0) << n;
        // What was converted before the cut stays.
        if (n >= 34) {
            EXPECT_EQ(text.substr(0, 28), "0 \x12\"DISK            \" AB 2A\r") << n;
        }
    }
}

TEST(DollarListing, MissingTerminator)
{
    Bytes p = dollar_program("DISK            ", "AB 2A", sample_entries, 1);
    p.resize(p.size() - 3);  // the last line's terminator and the end link
    p.resize(p.size() + 40, 'X');
    EXPECT_EQ(basic_relink_directory_listing(p.data(), p.size()), 0);
    std::string text;
    EXPECT_EQ(list_dir(p, &text), 0);
}

TEST(DollarListing, LinksBackwardsAndInCircles)
{
    Bytes p = dollar_program("DISK            ", "AB 2A", sample_entries, 1);
    size_t second = 2 + 30;  // the first entry line
    std::string text;

    Bytes back = p;
    back[second] = 0x00;
    back[second + 1] = 0x07;  // $0700, before the program
    EXPECT_EQ(list_dir(back, &text), 0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2);

    Bytes to_start = p;
    to_start[second] = 0x01;
    to_start[second + 1] = 0x08;
    EXPECT_EQ(list_dir(to_start, &text), 0);

    Bytes self = p;
    unsigned own = 0x0801 + 30;
    self[second] = (uint8_t)own;
    self[second + 1] = (uint8_t)(own >> 8);
    EXPECT_EQ(list_dir(self, &text), 0);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), BASIC_MAX_LINES);
    EXPECT_EQ(list_escaped(self, 100000, &text), 0);

    Bytes beyond = p;
    beyond[second] = 0xF0;
    beyond[second + 1] = 0xFF;
    EXPECT_EQ(list_dir(beyond, &text), 0);

    // The relinker ignores all of these links and repairs them.
    EXPECT_EQ(basic_relink_directory_listing(self.data(), self.size()), 1);
    EXPECT_EQ(self, p);
}

// A tokenised BASIC program from lines of raw bytes.
Bytes program(const std::vector<std::pair<unsigned, std::string>> &lines)
{
    Bytes p = {0x01, 0x08};
    for (auto &l : lines)
        put_line(p, l.first, l.second);
    p.push_back(0);
    p.push_back(0);
    return p;
}

TEST(EscapedBasic, KeywordsOutsideQuotesEscapesInside)
{
    std::string text;
    Bytes p = program({{10, "\x99\"\x93HI\""}, {20, "\x93"}, {64000, "\x89 10"}});
    ASSERT_EQ(list_escaped(p, 10, &text), 1);
    EXPECT_EQ(text, "10 PRINT\"{CLEAR}HI\"\n20 LOAD\n64000 GOTO 10");

    ASSERT_EQ(list_escaped(p, 1, &text), 1);
    EXPECT_EQ(text, "10 PRINT\"{CLEAR}HI\"");
    ASSERT_EQ(list_escaped(p, 0, &text), 1);
    EXPECT_EQ(text, "");
}

TEST(EscapedBasic, EveryByteClass)
{
    std::string text;
    Bytes p = program({{1, "\x01\x05\x06\x0D\x1F\x7F\x80\x81\xA0\xA1\xCB\xCC\xFF"},
                       {2, "\"\x01\x05\x06\x0D\x1F\x7F\x80\x81\x82\x8F\xA0\xA1\xCB\xCC\xFF\""}});
    ASSERT_EQ(list_escaped(p, 2, &text), 1);
    EXPECT_EQ(text,
              "1 .{WHITE}.{RETURN}{BLUE}.ENDFORCLOSEGETGO..\n"
              "2 \".{WHITE}.{RETURN}{BLUE}..{ORANGE}..{SHIFT+SPACE}....\"");
}

TEST(EscapedBasic, MalformedProgramsFail)
{
    std::string text;
    Bytes p = program({{10, "\x99"}, {20, "\x80"}});
    Bytes back = p;
    size_t second = back[2] + (back[3] << 8) - 0x0801 + 2;
    back[second] = 0x00;
    back[second + 1] = 0x04;
    EXPECT_EQ(list_escaped(back, 5, &text), 0);
    EXPECT_EQ(text, "10 PRINT\n20 END");
    // With a limit of two lines the bad link after line 20 is never read.
    EXPECT_EQ(list_escaped(back, 2, &text), 1);

    for (size_t n = 0; n < p.size(); ++n) {
        Bytes cut(p.begin(), p.begin() + n);
        EXPECT_EQ(list_escaped(cut, 5, &text), 0) << n;
    }
}

}  // namespace
