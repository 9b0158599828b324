// File > Merge another dump into this image, on the image in memory.
#include <gtest/gtest.h>

#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/d64.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/cli_run.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

// A cc1541 disk in this build's size: data, then error info all good.
std::string disk_image(const std::string &dir, const char *name)
{
    std::string path = dir + "/" + name + ".d64";
    EXPECT_EQ(cc1541_build_d64(path, name, "mg", {{"ONE"}, {"TWO"}, {"THREE"}}), 1);
    std::string bytes = scratch_read(path);
    bytes.resize((size_t)d64_base_size, '\0');
    return bytes + std::string((size_t)d64_block_error_info_size, '\1');
}

void merge_with(const std::string &path)
{
    auto chosen = shell_choose_load(path);
    gtk_menu_item_activate(GTK_MENU_ITEM(lookup_widget(window_main, "menuitem_merge_dump")));
    EXPECT_TRUE(*chosen);
}

TEST(MergeDump, TheChosenDumpFillsTheImagesBadSectorsAndAnotherDiskIsAskedAbout)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    shell_test_start();
    std::string dir = scratch_dir_new();
    const std::string clean = disk_image(dir, "MERGE");
    std::vector<std::vector<std::pair<int, int>>> chains = cc1541_chains(clean);
    auto info_at = [](std::pair<int, int> ts) {
        return (size_t)(d64_base_size + start_sector_of_track[ts.first] + ts.second);
    };
    // In memory: a checksum error with a wrong byte; the dump fails elsewhere.
    memcpy(d64_storage, clean.data(), clean.size());
    d64_storage[info_at(chains[1][0])] = D64_ERR_CHECKSUM;
    d64_storage[d64_sector_offset(chains[1][0].first, chains[1][0].second) + 9] ^= 0x20;
    std::string dump = clean;
    dump[info_at(chains[0][0])] = D64_ERR_GCR;
    ASSERT_TRUE(scratch_write(dir + "/dump.d64", dump));

    shell_log_clear();
    merge_with(dir + "/dump.d64");
    EXPECT_EQ(memcmp(clean.data(), d64_storage, clean.size()), 0);
    EXPECT_TRUE(contains(shell_log_text(), "Merging 2 dumps")) << shell_log_text();
    EXPECT_TRUE(contains(shell_log_text(), "No damaged files")) << shell_log_text();
    EXPECT_EQ(shell_status_text(), " Dump merged [0]: dump.d64");

    // Another disk: asked first, and No leaves the image as it was.
    std::string other = disk_image(dir, "OTHER");
    other[info_at(chains[2][0])] = D64_ERR_CHECKSUM;
    ASSERT_TRUE(scratch_write(dir + "/other.d64", other));
    d64_storage[info_at(chains[2][0])] = D64_ERR_NO_SYNC;
    std::string before((const char *)d64_storage, clean.size());
    auto asked = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    merge_with(dir + "/other.d64");
    EXPECT_TRUE(*asked);
    EXPECT_EQ(memcmp(before.data(), d64_storage, before.size()), 0);
    scratch_dir_remove(dir);
}

}  // namespace
