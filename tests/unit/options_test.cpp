#include "engine/options.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace {

const char DEFAULT_FILE[] =
    "# Dravlen client config file - do NOT edit\n"
    "\n[connection]\ndevice_port=/dev/ttyACM0\nbootloader_port=/dev/ttyACM1\n"
    "\n[format]\ndisk_name=NEW DISK\ndisk_id=01\n"
    "\n[imaging]\ndrive_index=0\nmax_sector_errors=10\nsector_read_retries=3\n"
    "outmost_track=1\nfirst_sector_in_dir_order=false\n"
    "\n[directories]\nd64_dir=\nprg_dir=\npng_dir=\nrom_dir=\n"
    "\n[colors]\nsector_da_bg_color_red=65535\nsector_da_bg_color_green=65535\n"
    "sector_da_bg_color_blue=65535\n"
    "\n[outputs]\nfile_extensions_uppercase=false\nside_letters_uppercase=false\n"
    "special_flags_before_offset=false\nappend_disk_name=false\nconfirm_overwrite=true\n"
    "\n[notifications]\nnotify_tracks_beyond_35=true\nnotify_side_b_1571=true\n"
    "\n[retries]\nretry_sectors_once_per_pass=true\n"
    "\n[misc]\ninclude_scr_files=false\ndouble_png_dimensions=true\ncreate_md5_digest=false\nverify_after_restore=true\n"
    "\n[interface]\nfont_description=Monospace 10\nexpansion=1\n"
    "\n[position]\n";

class Options : public ::testing::Test {
protected:
    std::string dir;
    std::string path;
    gchar *old_config_home = nullptr;

    void SetUp() override
    {
        dir = scratch_dir_new();
        ASSERT_FALSE(dir.empty());
        old_config_home = g_strdup(g_getenv("XDG_CONFIG_HOME"));
        g_setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), TRUE);
        path = dir + "/user.ini";
        options_module_shutdown();
        utf8_path_configfile = g_strdup(path.c_str());
        options_window_position_hook = nullptr;
    }
    void TearDown() override
    {
        options_window_position_hook = nullptr;
        options_module_shutdown();
        scratch_dir_remove(dir);
        if (old_config_home)
            g_setenv("XDG_CONFIG_HOME", old_config_home, TRUE);
        else
            g_unsetenv("XDG_CONFIG_HOME");
        g_free(old_config_home);
    }
    void load(const std::string &text) { options_load_from_data(text.data(), text.size()); }
};

TEST_F(Options, FirstStartWritesDefaults)
{
    options_load_from_file();
    EXPECT_EQ(scratch_read(path), DEFAULT_FILE);
    EXPECT_STREQ(options_device_port_string, "/dev/ttyACM0");
    EXPECT_STREQ(options_font_description_string, "Monospace 10");
    EXPECT_EQ(options_d64_dir_string, nullptr);
    EXPECT_EQ(options_window_main_position, nullptr);
    EXPECT_EQ(options_sector_da_bg_color.green, 65535);

    // With a window, the position closes the file.
    options_window_position_hook = [](int *x, int *y) {
        *x = 120;
        *y = -8;
        return 1;
    };
    ASSERT_EQ(options_save_to_file(), 1);
    EXPECT_EQ(scratch_read(path), std::string(DEFAULT_FILE) + "window_main=120;-8;\n");
}

TEST_F(Options, SavedFileLoadsBackUnchanged)
{
    options_set_defaults();
    options_set_string(&options_device_port_string, "/dev/ttyUSB3");
    options_set_string(&options_disk_name_string, "  lead\\and trail  ");
    // A tab in a port name survives; in a disk name it would be blanked.
    options_set_string(&options_bootloader_port_string, "  boot\\port\tx  ");
    options_set_string(&options_font_description_string, "DejaVu Sans Mono Bold 12");
    options_set_string(&options_d64_dir_string, dir.c_str());
    options_set_string(&options_rom_dir_string, dir.c_str());
    options_drive_index = 3;
    options_max_sector_errors = 1000;
    options_outmost_track = 5;
    options_first_sector_in_dir_order = 1;
    options_sector_da_bg_color = {1, 2, 3};
    options_confirm_overwrite = 0;
    options_create_md5_digest = 1;
    options_expansion = 2;
    int xy[2] = {10, 20};
    options_set_window_main_position(xy);
    gchar *before = options_build_file_text();
    ASSERT_NE(before, nullptr);
    ASSERT_EQ(options_save_to_file(), 1);

    options_set_defaults();
    options_load_from_file();
    EXPECT_STREQ(options_disk_name_string, "  lead\\and trail  ");
    EXPECT_STREQ(options_bootloader_port_string, "  boot\\port\tx  ");
    EXPECT_STREQ(options_d64_dir_string, dir.c_str());
    EXPECT_STREQ(options_rom_dir_string, dir.c_str());
    EXPECT_EQ(options_png_dir_string, nullptr);
    EXPECT_EQ(options_drive_index, 3);
    EXPECT_EQ(options_sector_da_bg_color.blue, 3);
    ASSERT_NE(options_window_main_position, nullptr);
    EXPECT_EQ(options_window_main_position[1], 20);
    gchar *after = options_build_file_text();
    EXPECT_STREQ(before, after);
    g_free(before);
    g_free(after);
}

TEST_F(Options, SavedFileHasExactlyTheKeys)
{
    options_set_defaults();
    int xy[2] = {1, 2};
    options_set_window_main_position(xy);
    ASSERT_EQ(options_save_to_file(), 1);
    GKeyFile *kf = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_file(kf, path.c_str(), G_KEY_FILE_NONE, nullptr));
    std::string layout;
    gchar **groups = g_key_file_get_groups(kf, nullptr);
    for (gchar **g = groups; *g; g++) {
        layout += std::string("[") + *g + "]";
        gchar **keys = g_key_file_get_keys(kf, *g, nullptr, nullptr);
        for (gchar **k = keys; *k; k++)
            layout += std::string(" ") + *k;
        g_strfreev(keys);
        layout += "\n";
    }
    g_strfreev(groups);
    g_key_file_free(kf);
    EXPECT_EQ(layout,
              "[connection] device_port bootloader_port\n"
              "[format] disk_name disk_id\n"
              "[imaging] drive_index max_sector_errors sector_read_retries outmost_track "
              "first_sector_in_dir_order\n"
              "[directories] d64_dir prg_dir png_dir rom_dir\n"
              "[colors] sector_da_bg_color_red sector_da_bg_color_green sector_da_bg_color_blue\n"
              "[outputs] file_extensions_uppercase side_letters_uppercase "
              "special_flags_before_offset append_disk_name confirm_overwrite\n"
              "[notifications] notify_tracks_beyond_35 notify_side_b_1571\n"
              "[retries] retry_sectors_once_per_pass\n"
              "[misc] include_scr_files double_png_dimensions create_md5_digest verify_after_restore\n"
              "[interface] font_description expansion\n"
              "[position] window_main\n");
}

TEST_F(Options, RangesAndWrongTypes)
{
    struct {
        const char *text;
        int drive, expansion, red, errors, md5, overwrite;
    } cases[] = {
        {"[imaging]\ndrive_index=7\n[interface]\nexpansion=3\n", 0, 1, 65535, 10, 0, 1},
        {"[imaging]\ndrive_index=-1\n[interface]\nexpansion=0\n", 0, 1, 65535, 10, 0, 1},
        {"[imaging]\ndrive_index=3\n[interface]\nexpansion=2\n", 3, 2, 65535, 10, 0, 1},
        // Colours held in 16 bits, read settings in the window's ranges, and values
        // that do not convert read as 0/false.
        {"[colors]\nsector_da_bg_color_red=70000\n[imaging]\nmax_sector_errors=5000\n", 0, 1,
         4464, 1000, 0, 1},
        {"[colors]\nsector_da_bg_color_red=-1\n", 0, 1, 65535, 10, 0, 1},
        {"[colors]\nsector_da_bg_color_red=abc\n[imaging]\nmax_sector_errors=99999999999\n"
         "[misc]\ncreate_md5_digest=1\n[outputs]\nconfirm_overwrite=yes\n",
         0, 1, 0, 0, 1, 0},
        {"[imaging]\ndrive_index=\n[interface]\nexpansion=2x\n", 0, 1, 65535, 10, 0, 1},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.text);
        options_set_defaults();
        load(c.text);
        EXPECT_EQ(options_drive_index, c.drive);
        EXPECT_EQ(options_expansion, c.expansion);
        EXPECT_EQ(options_sector_da_bg_color.red, c.red);
        EXPECT_EQ(options_max_sector_errors, c.errors);
        EXPECT_EQ(options_create_md5_digest, c.md5);
        EXPECT_EQ(options_confirm_overwrite, c.overwrite);
        // Untouched keys keep their defaults.
        EXPECT_EQ(options_sector_read_retries, 3);
        EXPECT_STREQ(options_disk_id_string, "01");
    }
    load("[imaging]\nsector_read_retries=2147483647\noutmost_track=-3\n");
    EXPECT_EQ(options_sector_read_retries, options_range_sector_read_retries.high);
    EXPECT_EQ(options_outmost_track, 1);
}

TEST_F(Options, GarbageGivesDefaults)
{
    const std::string garbage[] = {
        std::string("\x00\x01\xff\xfe binary", 12),
        "key_without_group=1\n",
        "[connection\ndevice_port=x\n",
        "[connection]\nno equals sign\n",
        "[connection]\ndevice_port=\xff\xfe\n",
        "",
    };
    for (const std::string &g : garbage) {
        options_set_defaults();
        options_set_string(&options_device_port_string, "/dev/changed");
        options_drive_index = 2;
        load(g);
        EXPECT_STREQ(options_device_port_string, "/dev/ttyACM0");
        EXPECT_EQ(options_drive_index, 0);
    }

    // A file that does not parse is loaded as defaults and left as it is.
    ASSERT_TRUE(scratch_write(path, "not a key file"));
    options_drive_index = 2;
    options_load_from_file();
    EXPECT_EQ(options_drive_index, 0);
    EXPECT_EQ(scratch_read(path), "not a key file");
}

int glib_warnings = 0;
void count_warning(const gchar *, GLogLevelFlags, const gchar *, gpointer)
{
    glib_warnings++;
}

TEST_F(Options, BadEscapesFallBackQuietly)
{
    guint id = g_log_set_handler("GLib", (GLogLevelFlags)(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
                                 count_warning, nullptr);
    glib_warnings = 0;
    options_set_defaults();
    options_set_string(&options_disk_name_string, "changed");
    load("[format]\ndisk_name=\\q\\\ndisk_id=ok\\\\\n"
         "[position]\nwindow_main=\\q1;2\\\n");
    EXPECT_STREQ(options_disk_name_string, "NEW DISK");
    EXPECT_STREQ(options_disk_id_string, "ok\\");
    EXPECT_EQ(options_window_main_position, nullptr);
    EXPECT_EQ(glib_warnings, 0);
    g_log_remove_handler("GLib", id);
}

TEST_F(Options, FoldersMustExist)
{
    std::string sub = dir + "/images";
    ASSERT_EQ(g_mkdir(sub.c_str(), 0700), 0);
    gchar *uri = g_filename_to_uri(sub.c_str(), nullptr, nullptr);
    gchar *gone = g_filename_to_uri((dir + "/gone").c_str(), nullptr, nullptr);
    gchar *file_uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    ASSERT_TRUE(scratch_write(path, "x"));

    options_set_defaults();
    load(std::string("[directories]\nd64_dir=") + uri + "\nprg_dir=(NULL)\n");
    EXPECT_STREQ(options_d64_dir_string, sub.c_str());
    EXPECT_EQ(options_prg_dir_string, nullptr);

    // Bad values keep what was there.
    const std::string bad[] = {"(NULL)", gone, file_uri, "http://example.org/x", sub, ""};
    for (const std::string &b : bad) {
        load("[directories]\nd64_dir=" + b + "\n");
        EXPECT_STREQ(options_d64_dir_string, sub.c_str()) << b;
    }
    g_free(uri);
    g_free(gone);
    g_free(file_uri);
}

TEST_F(Options, PositionNeedsTwoIntegers)
{
    const char *bad[] = {"1;2;3;", "1;", "a;b;", "", "1.5;2;"};
    for (const char *b : bad) {
        options_set_defaults();
        load(std::string("[position]\nwindow_main=") + b + "\n");
        EXPECT_EQ(options_window_main_position, nullptr) << b;
    }
    load("[position]\nwindow_main=-5;7;\n");
    ASSERT_NE(options_window_main_position, nullptr);
    EXPECT_EQ(options_window_main_position[0], -5);
    EXPECT_EQ(options_window_main_position[1], 7);
}

TEST_F(Options, LegacyMiscOverrides)
{
    options_set_defaults();
    load("[outputs]\nconfirm_overwrite=true\nappend_disk_name=true\n"
         "[misc]\nconfirm_overwrite=false\nretry_sectors_once_per_pass=false\n");
    EXPECT_EQ(options_confirm_overwrite, 0);
    EXPECT_EQ(options_append_disk_name, 1);
    EXPECT_EQ(options_retry_sectors_once_per_pass, 0);

    load("[outputs]\nfile_extensions_uppercase=false\n[misc]\nd64_extension=D64\n");
    EXPECT_EQ(options_file_extensions_uppercase, 1);
    load("[outputs]\nfile_extensions_uppercase=true\n[misc]\nd64_extension=d64\n");
    EXPECT_EQ(options_file_extensions_uppercase, 0);
    load("[misc]\nd64_extension=D64\nfile_extensions_uppercase=false\n");
    EXPECT_EQ(options_file_extensions_uppercase, 0);
}

TEST_F(Options, LineBreaksCannotInjectKeys)
{
    options_set_defaults();
    options_set_string(&options_disk_name_string, "A\n[connection]\ndevice_port=/dev/evil\n");
    options_set_string(&options_disk_id_string, "\n");
    ASSERT_EQ(options_save_to_file(), 1);
    options_set_defaults();
    options_load_from_file();
    // Read back as the same one value, with the breaks blanked (below).
    EXPECT_STREQ(options_disk_name_string, "A [connection] device_port=/dev/evil ");
    EXPECT_STREQ(options_disk_id_string, " ");
    EXPECT_STREQ(options_device_port_string, "/dev/ttyACM0");
}

TEST_F(Options, HandEditedFormatTextIsCleanedOnLoading)
{
    // Escaped line breaks and tabs, quotes, and the drive's separators would
    // split or bend the format commands built from these two values.
    scratch_write(path, "[format]\ndisk_name=EVIL\\r\\ndi 8\\t\"X\"*?\ndisk_id=0\"\\r\n"
                        "[connection]\ndevice_port=/dev/ttyUSB7\n");
    options_load_from_file();
    EXPECT_STREQ(options_disk_name_string, "EVIL  di 8  X   ");
    EXPECT_STREQ(options_disk_id_string, "0  ");
    EXPECT_STREQ(options_device_port_string, "/dev/ttyUSB7");  // other strings as they are

    load("[format]\ndisk_name=GAMES, VOL:2\ndisk_id=\\t1\n");
    EXPECT_STREQ(options_disk_name_string, "GAMES  VOL 2");
    EXPECT_STREQ(options_disk_id_string, " 1");

    gchar text[] = "ok \x7f\x01";
    options_blank_format_text(text);
    EXPECT_STREQ(text, "ok   ");
    options_blank_format_text(nullptr);
}

TEST_F(Options, SaveFailureIsClean)
{
    options_set_defaults();
    g_free(utf8_path_configfile);
    utf8_path_configfile = g_strdup((dir + "/missing/user.ini").c_str());
    options_drive_index = 2;
    EXPECT_EQ(options_save_to_file(), 0);
    EXPECT_EQ(options_drive_index, 2);
    g_free(utf8_path_configfile);
    utf8_path_configfile = nullptr;
    EXPECT_EQ(options_save_to_file(), 0);
}

// options_module_init reads the configuration folder that GLib settles once
// per process, so it runs in a child: this binary started again with its own
// environment, which does the init and exits before any test runs.
const bool init_child_done = [] {
    if (!g_getenv("DRAVLEN_OPTIONS_CHILD"))
        return false;
    const char *path = options_module_init();
    bool ok = path && g_file_test(path, G_FILE_TEST_IS_REGULAR);
    printf("PATH=%s\n", path ? path : "(none)");
    fflush(stdout);
    _exit(ok ? 0 : 1);
}();

std::string run_init_child(const std::string &config_home, const std::string &cwd, int *status)
{
    gchar *self = g_file_read_link("/proc/self/exe", nullptr);
    const char *argv[] = {self, nullptr};
    gchar **env = g_get_environ();
    env = g_environ_setenv(env, "XDG_CONFIG_HOME", config_home.c_str(), TRUE);
    env = g_environ_setenv(env, "DRAVLEN_OPTIONS_CHILD", "1", TRUE);
    gchar *out = nullptr;
    g_spawn_sync(cwd.c_str(), (gchar **)argv, env, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                 nullptr, status, nullptr);
    std::string s = out ? out : "";
    g_free(out);
    g_strfreev(env);
    g_free(self);
    return s;
}

TEST(OptionsInit, ConfigFolderAndFallback)
{
    std::string dir = scratch_dir_new();
    ASSERT_FALSE(dir.empty());
    int status = -1;
    std::string out = run_init_child(dir + "/cfg", dir, &status);
    EXPECT_EQ(status, 0) << out;
    std::string folder = dir + "/cfg/dravlen-client";
    EXPECT_NE(out.find("PATH=" + folder + "/user.ini\n"), std::string::npos) << out;
    struct stat st;
    ASSERT_EQ(g_stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(scratch_read(folder + "/user.ini"), DEFAULT_FILE);

    // The configuration folder cannot be made (a file is in the way): the
    // working folder holds the file.
    ASSERT_TRUE(scratch_write(dir + "/blocker", "x"));
    std::string work = dir + "/work";
    ASSERT_EQ(g_mkdir(work.c_str(), 0700), 0);
    out = run_init_child(dir + "/blocker", work, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("PATH=" + work + "/user.ini\n"), std::string::npos) << out;
    EXPECT_EQ(scratch_read(work + "/user.ini"), DEFAULT_FILE);
    scratch_dir_remove(dir);
}

}  // namespace
