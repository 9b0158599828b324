#include "image/imagefile.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "engine/options.h"
#include "image/d64.h"
#include "tests/support/scratch_dir.h"

namespace {

// What the caller hands to a save, and what it got back.
struct save_inputs {
    std::string per_disk_log;
    bool has_log = true;
    int md5 = 0;
    filer_saved saved;
};
save_inputs ui;

void reset_hooks()
{
    ui = save_inputs();
}

// The store saved as the engine saves it.
int save_d64_image_and_ancillary_files(const char *path, int, int reread)
{
    return filer_save_d64(path, d64_storage, ui.has_log ? &ui.per_disk_log : nullptr, reread,
                          ui.md5, &ui.saved);
}

std::string store_bytes(int64_t n)
{
    return std::string((const char *)d64_storage, (size_t)n);
}

// A store with recognisable data and every sector read cleanly.
void fill_clean_image()
{
    d64_init_disk_image_contents(d64_storage);
    for (int64_t i = 0; i < d64_base_size; i++)
        d64_storage[i] = (uint8_t)(i * 7 + (i >> 8));
    d64_init_error_info_contents(d64_storage, D64_ERR_OK);
}

class ImageFile : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override
    {
        d64_module_init();
        dir = scratch_dir_new();
        ASSERT_FALSE(dir.empty());
        options_set_defaults();
        utf8_path_configfile = g_strdup((dir + "/user.ini").c_str());
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
        reset_hooks();
        fill_clean_image();
    }
    void TearDown() override
    {
        options_module_shutdown();
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
        scratch_dir_remove(dir);
    }
    std::string at(const char *name) const { return dir + "/" + name; }
};

TEST_F(ImageFile, SizeFollowsErrorInfo)
{
    EXPECT_EQ(filer_image_size_to_save(d64_storage), d64_base_size);
    EXPECT_EQ(d64_base_size, TRACKS == 35 ? 174848 : 196608);

    // One bad sector anywhere, even the very last, brings the error info along.
    d64_set_block_error_info(d64_storage, TRACKS, 16, D64_ERR_CHECKSUM);
    EXPECT_EQ(filer_image_size_to_save(d64_storage), TRACKS == 35 ? 175531 : 197376);

    // Inaccessible sectors are still not clean.
    d64_init_error_info_contents(d64_storage, D64_ERR_INACCESSIBLE);
    EXPECT_EQ(filer_image_size_to_save(d64_storage), d64_base_size + d64_block_error_info_size);
}

TEST_F(ImageFile, SaveAndLoadRoundTrips)
{
    // Clean image: plain D64; loading it back marks every sector as read.
    std::string p = at("clean.d64");
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
    EXPECT_EQ(scratch_read(p), store_bytes(d64_base_size));
    std::string expected = store_bytes(d64_base_size + d64_block_error_info_size);
    d64_storage_init_and_set_to_not_ready();
    guint64 size = 0;
    ASSERT_EQ(filer_load_d64_image(p.c_str(), &size, nullptr), 1);
    EXPECT_EQ(size, (guint64)d64_base_size);
    EXPECT_EQ(store_bytes(d64_base_size + d64_block_error_info_size), expected);

    // With error info: every error byte comes back as it was, odd ones too.
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_GCR);
    d64_set_block_error_info(d64_storage, 1, 0, 0x00);
    d64_set_block_error_info(d64_storage, 2, 3, 0xFF);
    std::string q = at("errors.d64");
    ASSERT_EQ(save_d64_image_and_ancillary_files(q.c_str(), 0, 0), 1);
    expected = store_bytes(d64_base_size + d64_block_error_info_size);
    EXPECT_EQ(scratch_read(q), expected);
    d64_storage_init_and_set_to_not_ready();
    ASSERT_EQ(filer_load_d64_image(q.c_str(), &size, nullptr), 1);
    EXPECT_EQ(size, (guint64)(d64_base_size + d64_block_error_info_size));
    EXPECT_EQ(store_bytes(d64_base_size + d64_block_error_info_size), expected);

}

TEST_F(ImageFile, LogFilesNormalAndReread)
{
    std::string p = at("disk.d64");
    scratch_write(p + ".log", "stale log\n");
    ui.per_disk_log = "first\n";
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
    EXPECT_EQ(scratch_read(p + ".log"), "first\n");

    // Re-read saves append to their own log, created when missing...
    ui.per_disk_log = "reread one\n";
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 1), 1);
    EXPECT_EQ(scratch_read(p + "-reread.log"), "reread one\n");
    ui.per_disk_log = "reread two\n";
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 1), 1);
    EXPECT_EQ(scratch_read(p + "-reread.log"), "reread one\nreread two\n");
    EXPECT_EQ(scratch_read(p + ".log"), "first\n");

    // ...and a later normal save leaves that file alone.
    ui.per_disk_log = "second\n";
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
    EXPECT_EQ(scratch_read(p + ".log"), "second\n");
    EXPECT_EQ(scratch_read(p + "-reread.log"), "reread one\nreread two\n");

    // Without a per-disk log nothing replaces the existing one.
    ui.has_log = false;
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
    EXPECT_EQ(scratch_read(p + ".log"), "second\n");
}

// Runs md5sum in the folder so that it prints the bare file name.
std::string run_md5sum(const std::string &dir, const std::vector<std::string> &args, int *status)
{
    std::vector<const char *> argv = {"md5sum"};
    for (const std::string &a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr);
    gchar *out = nullptr;
    GError *error = nullptr;
    gboolean ok = g_spawn_sync(dir.c_str(), (gchar **)argv.data(), nullptr, G_SPAWN_SEARCH_PATH,
                               nullptr, nullptr, &out, nullptr, status, &error);
    EXPECT_TRUE(ok) << (error ? error->message : "");
    if (error)
        g_error_free(error);
    std::string s = out ? out : "";
    g_free(out);
    return s;
}

TEST_F(ImageFile, DigestMatchesMd5sum)
{
    std::string p = at("plain.d64");
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
    EXPECT_FALSE(g_file_test((p + ".md5").c_str(), G_FILE_TEST_EXISTS));

    ui.md5 = 1;
    for (int with_errors = 0; with_errors < 2; with_errors++) {
        if (with_errors)
            d64_set_block_error_info(d64_storage, 20, 5, D64_ERR_CHECKSUM);
        ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 0), 1);
        std::string digest = scratch_read(p + ".md5");
        int status = -1;
        std::string printed = run_md5sum(dir, {"-b", "plain.d64"}, &status);
        EXPECT_EQ(digest, printed);
        run_md5sum(dir, {"-c", "--status", "plain.d64.md5"}, &status);
        EXPECT_EQ(status, 0);
    }
    // A digest beside the file stays in step with it, asked for or not.
    ui.md5 = 0;
    d64_set_block_error_info(d64_storage, 21, 2, D64_ERR_GCR);
    ASSERT_EQ(save_d64_image_and_ancillary_files(p.c_str(), 0, 1), 1);
    int status = -1;
    run_md5sum(dir, {"-c", "--status", "plain.d64.md5"}, &status);
    EXPECT_EQ(status, 0) << scratch_read(p + ".md5");
    gchar *empty = filer_md5_hex("", 0);
    EXPECT_STREQ(empty, "d41d8cd98f00b204e9800998ecf8427e");
    g_free(empty);
}

TEST(ImageFileNames, OverwriteQuestionNamesFileAndFolder)
{
    gchar *markup = filer_overwrite_markup("/tmp/x/0001a.d64", nullptr);
    EXPECT_NE(std::string(markup).find("A file named \"0001a.d64\" already exists"),
              std::string::npos);
    // No image folder set: the path's own.
    EXPECT_NE(std::string(markup).find("already exists in \"x\""), std::string::npos);
    g_free(markup);
    markup = filer_overwrite_markup("/tmp/x/0001a.d64", "/images/mine");
    EXPECT_NE(std::string(markup).find("already exists in \"mine\""), std::string::npos);
    g_free(markup);

    // Markup special characters in the name are escaped.
    markup = filer_overwrite_markup("/tmp/a&b.d64", nullptr);
    EXPECT_NE(std::string(markup).find("a&amp;b.d64"), std::string::npos);
    g_free(markup);
}

TEST_F(ImageFile, FailedSaveKeepsExistingFile)
{
    std::string p = at("keep.d64");
    ASSERT_TRUE(scratch_write(p, "good old image"));
    ASSERT_TRUE(scratch_write(p + ".log", "old log"));
    ASSERT_TRUE(scratch_write(p + ".md5", "old sum"));
    ui.md5 = 1;
    std::string before = scratch_list(dir);

    // A file size limit makes the write itself fail halfway.
    ASSERT_TRUE(scratch_file_size_limit(4096));
    int saved = save_d64_image_and_ancillary_files(p.c_str(), 0, 0);
    scratch_file_size_unlimit();

    EXPECT_EQ(saved, 0);
    EXPECT_EQ(scratch_read(p), "good old image");
    EXPECT_EQ(scratch_read(p + ".log"), "old log");
    EXPECT_EQ(scratch_read(p + ".md5"), "old sum");
    EXPECT_EQ(scratch_list(dir), before);  // no temporary file left behind
    // The reason, and the file that failed, not a temporary one.
    EXPECT_EQ(ui.saved.error, "File too large");
    EXPECT_EQ(ui.saved.failed, p);

    // Missing folder, and a folder standing where the file should go.
    EXPECT_EQ(save_d64_image_and_ancillary_files(at("nowhere/x.d64").c_str(), 0, 0), 0);
    ASSERT_EQ(g_mkdir(at("isdir.d64").c_str(), 0700), 0);
    EXPECT_EQ(save_d64_image_and_ancillary_files(at("isdir.d64").c_str(), 0, 0), 0);
    EXPECT_TRUE(g_file_test(at("isdir.d64").c_str(), G_FILE_TEST_IS_DIR));
}

TEST_F(ImageFile, LoadRefusesWrongSizes)
{
    const int64_t plain = d64_base_size;
    const int64_t full = d64_base_size + d64_block_error_info_size;
    const int64_t other_full = TRACKS == 35 ? 197376 : 175531;
    const int64_t other_plain = TRACKS == 35 ? 196608 : 174848;
    const int64_t bad_sizes[] = {0, 1, plain - 1, plain + 1, full - 1, full + 1,
                                 other_plain, other_full, 4 * full};
    for (int64_t n : bad_sizes) {
        SCOPED_TRACE(n);
        std::string p = at("bad.d64");
        ASSERT_TRUE(scratch_write(p, std::string((size_t)n, '\x01')));
        d64_storage_init_and_set_to_not_ready();
        std::string reset_store = store_bytes(full);
        utf8_path_lastopenfile_d64 = g_strdup(p.c_str());
        filer_load_problem problem;
        EXPECT_EQ(filer_load_d64_image(p.c_str(), nullptr, &problem), 0);
        EXPECT_EQ(store_bytes(full), reset_store);
        EXPECT_EQ(utf8_path_lastopenfile_d64, nullptr);
        EXPECT_STREQ(problem.status, " Load failed: Image size is not as expected");
        EXPECT_STREQ(problem.reason, "Image size is not as expected");
        EXPECT_EQ(problem.log, TRACKS == 35
                                          ? "Image size is not as expected for a 35-track disk\n"
                                          : "Image size is not as expected for a 40-track disk\n");
    }

    // Unreadable: a different failure, and the remembered path stays.
    const char *unreadable[] = {"missing.d64", "."};
    for (const char *name : unreadable) {
        d64_storage_init_and_set_to_not_ready();
        std::string reset_store = store_bytes(full);
        utf8_path_lastopenfile_d64 = g_strdup("kept");
        filer_load_problem problem;
        EXPECT_EQ(filer_load_d64_image(at(name).c_str(), nullptr, &problem), 0);
        EXPECT_EQ(store_bytes(full), reset_store);
        EXPECT_STREQ(utf8_path_lastopenfile_d64, "kept");
        EXPECT_STREQ(problem.status, " Load failed: Unable to load from image");
        EXPECT_EQ(problem.log.rfind("Unable to load from image: ", 0), 0u);
        g_free(utf8_path_lastopenfile_d64);
        utf8_path_lastopenfile_d64 = nullptr;
    }
}

TEST(ImageFileNames, SanitizeFilename)
{
    struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"  MY*GAME/1  ", "MY GAME 1"},
        {"   \xA0\xA0   \xA0", ""},
        {"", ""},
        {"A!(B)+C-D.E", "A!(B)+C-D.E"},
        {"\x01\x1f" "ab\x80\xff" "c\xA0", "ab  c"},
        {"x\xA0\xA0y", "x  y"},
        {"..", ".."},
    };
    for (auto &c : cases) {
        char buf[17] = {};
        strncpy(buf, c.in, 16);
        sanitize_filename(buf);
        EXPECT_STREQ(buf, c.out) << "input: " << c.in;
    }
    // A full 16 characters without room for more; nothing past byte 16 is read.
    char full[18];
    memcpy(full, "ABCDEFGHIJKLMNOP", 16);
    full[16] = 'Q';
    full[17] = 'R';
    sanitize_filename(full);
    EXPECT_STREQ(full, "ABCDEFGHIJKLMNOP");
}

TEST(ImageFileNames, AutoNamingSequence)
{
    int side_b = 0, offset = 1;
    std::string seen;
    for (int i = 0; i < 5; i++) {
        seen += std::to_string(offset) + (side_b ? "B" : "A") + " ";
        filer_auto_naming_advance(&side_b, &offset);
    }
    EXPECT_EQ(seen, "1A 1B 2A 2B 3A ");

    side_b = 1;
    offset = 9999;
    filer_auto_naming_advance(&side_b, &offset);
    EXPECT_EQ(offset, 1);
    EXPECT_EQ(side_b, 0);

}

TEST(ImageFileNames, DumpNamePatterns)
{
    filer_naming n = {};
    auto check = [](gchar *got, const char *want) {
        EXPECT_STREQ(got, want);
        g_free(got);
    };
    check(filer_auto_name(n, FILER_DUMP_WHOLE_DISK, 12, 1, "GAMES"), "0012b.d64");
    n.append_disk_name = 1;
    check(filer_auto_name(n, FILER_DUMP_WHOLE_DISK, 12, 1, "GAMES"), "0012b_GAMES.d64");
    check(filer_auto_name(n, FILER_DUMP_DIR_TRACK, 3, 0, "X"), "0003a_T18_X.d64");
    n.append_disk_name = 0;
    n.uppercase_extension = 1;
    n.uppercase_side = 1;
    check(filer_auto_name(n, FILER_DUMP_DIR_TRACK_FIRST_SECTORS, 9999, 0, "X"), "9999A_T18+.D64");
    check(filer_auto_name(n, FILER_DUMP_BAM, 7, 1, "X"), "0007B_BAM.D64");
    check(filer_suggested_name(n, FILER_DUMP_BAM, "GAMES"), "GAMES_BAM.D64");
    n.flags_before_offset = 1;
    check(filer_auto_name(n, FILER_DUMP_BAM, 7, 1, "X"), "BAM_0007B.D64");
    check(filer_auto_name(n, FILER_DUMP_DIR_TRACK, 7, 1, "X"), "T18_0007B.D64");
    check(filer_auto_name(n, FILER_DUMP_WHOLE_DISK, 7, 1, "X"), "0007B.D64");
    check(filer_suggested_name(n, FILER_DUMP_DIR_TRACK_FIRST_SECTORS, "G"), "T18+_G.D64");
    check(filer_suggested_name(n, FILER_DUMP_WHOLE_DISK, "NO NAME"), "NO NAME.D64");

    // The image folder, when set, holds generated names.
    n.flags_before_offset = 0;
    check(filer_auto_name_path(n, FILER_DUMP_WHOLE_DISK, "/some/folder", 5, 0, "X"),
          "/some/folder/0005A.D64");
    check(filer_auto_name_path(n, FILER_DUMP_WHOLE_DISK, nullptr, 5, 0, "X"), "0005A.D64");
}

TEST(ImageFileNames, DiskNameForFile)
{
    d64_module_init();
    d64_storage_init_and_set_to_not_ready();
    uint8_t *bam = d64_storage + d64_sector_offset(18, 0);
    bam[0] = 18;
    bam[1] = 1;
    memset(bam + 0x90, 0xA0, 16);
    memcpy(bam + 0x90, " MY*GAME/1", 10);
    char name[17];
    filer_disk_name_for_file(d64_storage, 1, name);
    EXPECT_STREQ(name, "MY GAME 1");
    memset(bam + 0x90, 0xA0, 16);
    filer_disk_name_for_file(d64_storage, 1, name);
    EXPECT_STREQ(name, "NO NAME");
    filer_disk_name_for_file(d64_storage, 0, name);
    EXPECT_STREQ(name, "UNFORMATTED");
    d64_storage_init_and_set_to_not_ready();
}

}  // namespace
