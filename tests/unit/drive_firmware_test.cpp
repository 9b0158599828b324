// The carried firmware image and the file it is flashed from.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <unistd.h>

#include <cstring>
#include <string>

#include "device/firmware.h"
#include "tests/support/scratch_dir.h"

namespace {

int hex_byte(const std::string &line, size_t i)
{
    return (int)std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16);
}

TEST(DriveFirmware, PayloadIsWellFormedIntelHex)
{
    std::string text = firmware;
    ASSERT_FALSE(text.empty());
    int records = 0;
    size_t pos = 0;
    std::string last;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        ASSERT_NE(end, std::string::npos) << "record without CR LF at " << pos;
        std::string line = text.substr(pos, end - pos);
        ASSERT_EQ(line[0], ':');
        ASSERT_EQ(line.size() % 2, 1u) << line;
        size_t count = (line.size() - 1) / 2;
        ASSERT_EQ((size_t)hex_byte(line, 0) + 5, count) << line;
        EXPECT_LE(hex_byte(line, 0), 16);
        int sum = 0;
        for (size_t i = 0; i < count; i++)
            sum += hex_byte(line, i);
        EXPECT_EQ(sum & 0xFF, 0) << "checksum of " << line;
        last = line;
        records++;
        pos = end + 2;
    }
    EXPECT_EQ(last, ":00000001FF");
    EXPECT_EQ(records, firmware_record_count);
}

TEST(DriveFirmware, FileHoldsThePayloadAndItsTerminatorAndGoesAway)
{
    std::string dir = scratch_dir_new();
    char *cwd = g_get_current_dir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    scratch_write(dir + "/dravlen32u4.hex", "old contents that are longer than nothing");
    EXPECT_EQ(firmware_save_firmware(), 1);
    std::string written = scratch_read(dir + "/dravlen32u4.hex");
    EXPECT_EQ(written, std::string(firmware, strlen(firmware) + 1));
    EXPECT_EQ(firmware_unlink_firmware(), 1);
    EXPECT_FALSE(g_file_test((dir + "/dravlen32u4.hex").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(firmware_unlink_firmware(), 1);  // already gone
    // A folder that cannot take the file.
    g_chmod(dir.c_str(), 0500);
    if (geteuid() != 0) {
        EXPECT_EQ(firmware_save_firmware(), 0);
    }
    g_chmod(dir.c_str(), 0700);
    EXPECT_EQ(chdir(cwd), 0);
    g_free(cwd);
    scratch_dir_remove(dir);
}

}  // namespace
