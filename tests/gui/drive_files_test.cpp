// Drive file operations end to end against the simulator: the directory as
// the drive sends it, PRG import and export checked with cbmconvert, the
// DOS commands, ROM dumps, and the failure texts of each.
#include <gtest/gtest.h>

#include <gtk/gtk.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/d64.h"
#include "gui/jobs/drive_files_job.h"
#include "gui/drawing/dirview.h"
#include "tests/gui/support/drive_support.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "gui/windows/dialogs.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

std::string patterned(size_t size)
{
    std::string data(size, 0);
    for (size_t i = 0; i < size; i++)
        data[i] = (char)(i * 7 + i / 251);
    if (size >= 2) {
        data[0] = 0x01;
        data[1] = 0x08;
    }
    return data;
}

class DriveFiles : public DriveTest {
protected:
    void SetUp() override
    {
        DriveTest::SetUp();
        request_confirmation_to_modify_disk = 0;
        options_file_extensions_uppercase = 0;
        // Choosers open where the test saves: no folder change to wait for.
        options_set_string(&options_prg_dir_string, dir.c_str());
        options_set_string(&options_rom_dir_string, dir.c_str());
    }
    void TearDown() override
    {
        drawingarea_directory_listing_reset();
        notebook_main_set_page(0);
        DriveTest::TearDown();
    }
    std::string make_disk(const std::string &name, int count, size_t size = 700)
    {
        std::vector<cc1541_file> files;
        for (int i = 0; i < count; i++) {
            cc1541_file f;
            f.name = "FILE" + std::to_string(i);
            f.data_size = size + 300 * i;
            f.type = i == 1 ? "SEQ" : "PRG";
            files.push_back(f);
        }
        std::string path = dir + "/" + name;
        EXPECT_TRUE(cc1541_build_d64(path, "DRIVE FILES", "df", files));
        return path;
    }
    void click(const char *button) { gtk_button_clicked(GTK_BUTTON(w(button))); }
    void list_directory()
    {
        click("button_directory");
        ASSERT_TRUE(wait_idle());
    }
    void select_item(int index)
    {
        filer_move_to_first(dir_filer);
        for (int i = 0; i < index; i++)
            filer_move_down(dir_filer);
    }
    // Arms the save chooser to pick `path` (or to be cancelled when empty).
    std::shared_ptr<bool> save_to(const std::string &path)
    {
        if (path.empty())
            return shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
        char *folder = g_path_get_dirname(path.c_str());
        char *base = g_path_get_basename(path.c_str());
        auto answered = shell_choose_save(folder, base);
        g_free(folder);
        g_free(base);
        return answered;
    }
    void import(const std::string &path)
    {
        shell_choose_load(path);
        click("button_load_PRG");
    }
    // Files cbmconvert extracts from a saved disk, into folder `out`.
    bool extract(const std::string &image, const std::string &out)
    {
        g_mkdir_with_parents(out.c_str(), 0700);
        gchar *argv[] = {(gchar *)"cbmconvert", (gchar *)"-N", (gchar *)"-d",
                         (gchar *)image.c_str(), nullptr};
        gint status = 0;
        return g_spawn_sync(out.c_str(), argv, nullptr,
                            (GSpawnFlags)(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                          G_SPAWN_STDERR_TO_DEV_NULL),
                            nullptr, nullptr, nullptr, nullptr, &status, nullptr) &&
               status == 0;
    }
};

TEST(DriveFilesNames, ImportNameCutAndBlockCount)
{
    char name[17];
    drive_files_c64_name_from_path("/x/GAME.PRG", name);
    EXPECT_STREQ(name, "GAME");
    drive_files_c64_name_from_path("/x/my.prg.bak", name);
    EXPECT_STREQ(name, "MY");
    drive_files_c64_name_from_path("/x/a.prg.b.prg", name);
    EXPECT_STREQ(name, "A.PRG.B");
    // ".PRG" is looked for before ".prg", wherever they stand.
    drive_files_c64_name_from_path("/x/one.PRG.two.prg", name);
    EXPECT_STREQ(name, "ONE");
    drive_files_c64_name_from_path("/x/Mixed.Prg", name);
    EXPECT_STREQ(name, "MIXED");
    drive_files_c64_name_from_path("/x.prg/plain", name);
    EXPECT_STREQ(name, "PLAIN");
    // The C64 lists the name in capitals; what it cannot show becomes '-'.
    drive_files_c64_name_from_path("/x/\xc3\xa9t\xc3\xa9_1*2.prg", name);
    EXPECT_STREQ(name, "-T--1-2");
    drive_files_c64_name_from_path("/x/say\"hi.prg", name);  // a quote never reaches the drive
    EXPECT_STREQ(name, "SAY-HI");
    drive_files_c64_name_from_path("/x/a very long file name.prg", name);
    EXPECT_STREQ(name, "A VERY LONG FILE");

    // Names that would break the quoted command line, or scratch more than
    // the one file, never reach the drive.
    EXPECT_TRUE(drive_files_name_is_safe_for_command("GAME", 1));
    EXPECT_TRUE(drive_files_name_is_safe_for_command("A*B", 0));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("A*B", 1));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("WHO?", 1));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("", 0));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("SAY\"HI", 0));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("TWO\rLINES", 0));
    EXPECT_FALSE(drive_files_name_is_safe_for_command("TWO\nLINES", 0));

    EXPECT_EQ(drive_files_blocks_of_size(2), 1);
    EXPECT_EQ(drive_files_blocks_of_size(254), 1);
    EXPECT_EQ(drive_files_blocks_of_size(255), 2);
    EXPECT_EQ(drive_files_blocks_of_size(PRG_STORAGE_SIZE), 664);
}

TEST_F(DriveFiles, DirectoryOfTwentyFilesEqualsCc1541sListing)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string disk = make_disk("twenty.d64", 20);
    cc1541_listing expected;
    ASSERT_TRUE(cc1541_read_listing(disk, &expected));
    start_sim({"--drive", "8=" + disk});
    click("button_directory");
    EXPECT_EQ(shell_status_text(), " Directory requested on drive 8");
    EXPECT_EQ(gtk_notebook_get_current_page(GTK_NOTEBOOK(w("notebook_main"))), 1);
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(starts_with(shell_status_text(), " Directory listing completed in ")) << shell_status_text();
    EXPECT_EQ(log_text(), "================================\nReading disk directory\nCompleted\n");
    EXPECT_EQ(flag_dir_listing_was_last_operation, 1);
    EXPECT_TRUE(gtk_widget_is_focus(w("button_directory")));
    EXPECT_NE(commands().find("di 8\ndd \"$\" 8\n"), std::string::npos) << commands();

    char name[17];
    filer_get_disk_name(dir_filer, name);
    EXPECT_EQ(cc1541_petscii_to_ascii(name), expected.diskname);
    ASSERT_EQ(filer_get_number_items(dir_filer), 20);
    for (int i = 0; i < 20; i++) {
        select_item(i);
        int blocks = -1;
        ASSERT_TRUE(filer_get_current_item_size_in_blocks(dir_filer, &blocks));
        filer_get_current_item_filename(dir_filer, name);
        EXPECT_EQ(blocks, expected.entries[i].blocks) << i;
        EXPECT_EQ(cc1541_petscii_to_ascii(name), expected.entries[i].name) << i;
        EXPECT_EQ(filer_get_current_item_filetype(dir_filer), expected.entries[i].type == "seq" ? 1 : 2);
    }
    EXPECT_EQ(atoi(dir_filer->footer), expected.blocks_free);

    // What the panel showed while the program arrived: 15 lines, then the
    // note; fed in uneven pieces, as the link delivers them.
    drive_files_listing_progress progress{};
    GPtrArray *lines = g_ptr_array_new_with_free_func(g_free);
    int clears = 0;
    for (int received = 0; received <= ped.received_size; received += 37) {
        int clear = 0;
        guint before = lines->len;
        drive_files_listing_progress_lines(dir_storage, received, &progress, lines, &clear);
        if (clear) {
            clears++;
            EXPECT_EQ(before, 0u);
        }
    }
    EXPECT_EQ(clears, 1);
    ASSERT_EQ(lines->len, 16u);
    std::string header = (const char *)g_ptr_array_index(lines, 0);
    EXPECT_TRUE(starts_with(header, "0 \x12\"DRIVE FILES     \" ")) << header;
    for (int i = 1; i < 15; i++) {
        std::string line = (const char *)g_ptr_array_index(lines, i);
        EXPECT_TRUE(starts_with(line, std::to_string(expected.entries[i - 1].blocks) + " ")) << line;
        EXPECT_NE(line.find("\"FILE" + std::to_string(i - 1) + "\""), std::string::npos) << line;
    }
    EXPECT_STREQ((const char *)g_ptr_array_index(lines, 15), "... READING IN PROGRESS ...");
    g_ptr_array_free(lines, TRUE);
}

TEST_F(DriveFiles, UnrelinkableDirectoryKeepsTheLinesShownWhileReceiving)
{
    // Three 32-byte records without a single line end: nothing to relink.
    std::string records(94, 'A');
    records[2] = records[3] = 0x01;  // line number 257 of the header
    for (int i = 30; i < 62; i++)
        records[i] = 'B';
    records[30 + 2] = 0x02;
    records[30 + 3] = 0x00;  // line number 2; the zero belongs to the number
    records[30 + 4 + 3] = 0x00;  // shown as '@'
    for (int i = 62; i < 94; i++)
        records[i] = 'C';
    start_fake({{"di 8", "OK"},
                {"dd \"$\" 8", "OK\x01\x08" + drive_u16(94) + records + drive_u16(0)}});
    list_directory();
    EXPECT_TRUE(starts_with(shell_status_text(), " Directory listing completed in "));
    EXPECT_EQ(log_text(), "================================\nReading disk directory\n");
    EXPECT_EQ(drive_panel_row(0), "257 " + std::string(24, 'A'));
    EXPECT_EQ(drive_panel_row(1), "2 BBB@" + std::string(22, 'B'));
    EXPECT_EQ(drive_panel_row(2), "219 " + std::string(24, 'C'));  // 0x4343 % 1000
    EXPECT_EQ(drive_panel_row(8), std::string(28, ' '));  // "READING DIR..." was cleared
}

TEST_F(DriveFiles, DirectoryFailuresResetThePanel)
{
    struct fault {
        std::vector<std::string> args;
        std::string text;
    };
    for (const fault &f : std::vector<fault>{
             {{"--answer", "dd=NP"}, "Device not present"},
             {{"--answer", "di=NP"}, "Device not present"},
             {{"--answer", "dd=FM"}, "Filename missing"},
             {{"--answer", "dd=KO"}, "Command failed"},
             {{"--wrong-echo", "dd"}, "Unable to request directory on device"},
             {{"--wrong-echo", "di"}, "Unable to request command execution on device"},
             // Past the drive check (43 bytes), in the listing.
             {{"--hangup-after", "70"}, "Communication error"}}) {
        std::vector<std::string> args = {"--blank", "8"};
        args.insert(args.end(), f.args.begin(), f.args.end());
        start_sim(args);
        log_clear();
        list_directory();
        EXPECT_EQ(shell_status_text(), " Directory listing failed: " + f.text) << f.args[1];
        EXPECT_EQ(log_text(), "================================\nReading disk directory\nFailed\n");
        EXPECT_EQ(filer_get_number_items(dir_filer), 0);
        stop_sim();
    }

    start_sim({"--blank", "8", "--silent-after", "30"});
    click("button_directory");
    shell_pump(200);
    click("button_abort_operation");
    ASSERT_TRUE(wait_idle(2000));
    EXPECT_EQ(shell_status_text(), " Directory listing aborted: please wait for the drive to finish");
    EXPECT_TRUE(ends_with(log_text(), "Aborted\n"));
    EXPECT_EQ(filer_get_number_items(dir_filer), 0);
}

TEST_F(DriveFiles, DirectoryLargerThanItsBufferFails)
{
    std::string chunk(1000, ' ');
    std::string data = "OK\x01\x08";
    for (int i = 0; i < 5; i++)
        data += drive_u16(1000) + chunk;
    start_fake({{"di 8", "OK"}, {"dd \"$\" 8", data + drive_u16(0)}});
    list_directory();
    EXPECT_EQ(shell_status_text(),
              " Directory listing failed: Received data does not fit into the buffer");
    EXPECT_EQ(filer_get_number_items(dir_filer), 0);
}

TEST_F(DriveFiles, ImportedPrgEqualsThePcFileOnDiskAndExportsBack)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    // The largest file a 35-track disk holds.
    std::string pc = patterned(PRG_STORAGE_SIZE);
    scratch_write(dir + "/BIG GAME.PRG", pc);
    start_sim({"--blank", "8", "--save", "8=" + dir + "/out.d64"});
    import(dir + "/BIG GAME.PRG");
    EXPECT_EQ(shell_status_text(), " PRG import requested on drive 8 (168656 bytes - 664 blocks)");
    ASSERT_TRUE(wait_idle(60000));
    EXPECT_TRUE(starts_with(shell_status_text(), " PRG import completed in ")) << shell_status_text();
    EXPECT_EQ(log_text(), "================================\nImporting PRG\nCompleted\n");
    EXPECT_FALSE(gtk_widget_get_visible(progressbar_main));
    EXPECT_NE(commands().find("du \"BIG GAME\" 8 168656"), std::string::npos);

    list_directory();
    ASSERT_EQ(filer_get_number_items(dir_filer), 1);
    select_item(0);
    log_clear();
    auto answered = save_to(dir + "/exported.prg");
    click("button_save_PRG");
    EXPECT_EQ(shell_status_text(), " PRG export requested on drive 8 (allegedly 664 blocks)");
    ASSERT_TRUE(wait_idle(60000));
    EXPECT_TRUE(*answered);
    EXPECT_TRUE(starts_with(shell_status_text(), " PRG export completed in ")) << shell_status_text();
    EXPECT_EQ(log_text(), "================================\nExporting PRG\nPRG saved to: " + dir +
                                    "/exported.prg\n");
    EXPECT_NE(commands().find("dd \"BIG GAME\" 8 1"), std::string::npos);
    EXPECT_TRUE(scratch_read(dir + "/exported.prg") == pc);

    stop_sim();
    ASSERT_TRUE(extract(dir + "/out.d64", dir + "/x"));
    EXPECT_TRUE(scratch_read(dir + "/x/big game.prg") == pc);
}

TEST_F(DriveFiles, ImportSizesAndNames)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    start_sim({"--blank", "8", "--save", "8=" + dir + "/out.d64"});
    struct item {
        std::string file;
        size_t size;
        std::string c64;
        int blocks;
    };
    for (const item &i : std::vector<item>{{"GAME.PRG", 254, "GAME", 1},
                                           {"two.prg.bak", 255, "TWO", 2},
                                           {"THE NAME IS FAR TOO LONG.prg", 600, "THE NAME IS FAR ", 3}}) {
        std::string pc = patterned(i.size);
        scratch_write(dir + "/" + i.file, pc);
        import(dir + "/" + i.file);
        EXPECT_EQ(shell_status_text(), " PRG import requested on drive 8 (" + std::to_string(i.size) +
                                           " bytes - " + std::to_string(i.blocks) + " blocks)");
        ASSERT_TRUE(wait_idle());
        EXPECT_TRUE(starts_with(shell_status_text(), " PRG import completed in ")) << i.file;
        EXPECT_NE(commands().find("du \"" + i.c64 + "\" 8 " + std::to_string(i.size)),
                  std::string::npos)
            << commands();
    }
    stop_sim();
    ASSERT_TRUE(extract(dir + "/out.d64", dir + "/x"));
    EXPECT_TRUE(scratch_read(dir + "/x/game.prg") == patterned(254)) << scratch_list(dir + "/x");
    EXPECT_TRUE(scratch_read(dir + "/x/two.prg") == patterned(255));

    // Sizes that never start.
    log_clear();
    scratch_write(dir + "/huge.prg", patterned(PRG_STORAGE_SIZE + 1));
    import(dir + "/huge.prg");
    EXPECT_EQ(shell_status_text(), " Import failed: File is too large for a disk");
    EXPECT_EQ(log_text(), "================================\nImporting PRG\n"
                                "Unable to fit file on a single 35-track disk\n");
    scratch_write(dir + "/tiny.prg", "\x01");
    import(dir + "/tiny.prg");
    EXPECT_EQ(shell_status_text(), " Import failed: File is too small");
    EXPECT_TRUE(ends_with(log_text(), "File is too small to be a valid PRG file\n"));
    EXPECT_FALSE(operation_is_running());
}

TEST_F(DriveFiles, ImportFailures)
{
    scratch_write(dir + "/f.prg", patterned(1000));
    struct fault {
        std::vector<std::string> args;
        std::string text;
    };
    for (const fault &f : std::vector<fault>{
             {{"--answer", "du=NP"}, "Device not present"},
             {{"--answer", "du=FM"}, "Filename missing"},
             {{"--answer", "du=NF"}, "Command failed"},
             {{"--answer", "du=KO"}, "Command failed"},
             {{"--wrong-echo", "du"}, "Unable to request PRG saving on device"},
             {{"--hangup-after", "26"}, "Communication error"}}) {
        std::vector<std::string> args = {"--blank", "8"};
        args.insert(args.end(), f.args.begin(), f.args.end());
        start_sim(args);
        import(dir + "/f.prg");
        ASSERT_TRUE(wait_idle());
        EXPECT_EQ(shell_status_text(), " PRG import failed: " + f.text) << f.args[1];
        EXPECT_FALSE(gtk_widget_get_visible(progressbar_main));
        stop_sim();
    }

    start_sim({"--blank", "8", "--silent-after", "4"});
    import(dir + "/f.prg");
    shell_pump(200);
    click("button_abort_operation");
    ASSERT_TRUE(wait_idle(2000));
    EXPECT_EQ(shell_status_text(), " PRG import aborted: please wait for the drive to finish");
    stop_sim();

    // A device asking for more than the file holds.
    start_fake({{"du \"F\" 8 1000", "OK" + drive_u16(600) + drive_u16(401)}});
    import(dir + "/f.prg");
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " PRG import failed: Device asked for more bytes than the file holds");
}

TEST_F(DriveFiles, ExportNeedsAPrgAndReportsDeviceFaults)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string disk = make_disk("export.d64", 3, 20000);
    start_sim({"--drive", "8=" + disk, "--answer", "dc=NP"});
    list_directory();
    select_item(1);  // the SEQ file
    click("button_save_PRG");
    EXPECT_EQ(shell_status_text(), " Error: Invalid file selection");
    EXPECT_FALSE(operation_is_running());

    // The export sends no "di" first, and a cancelled chooser saves nothing.
    select_item(0);
    log_clear();
    auto answered = save_to("");
    click("button_save_PRG");
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(*answered);
    EXPECT_EQ(log_text(), "================================\nExporting PRG\n"
                                "PRG not saved at user's request\n");
    EXPECT_TRUE(ends_with(job_commands(), "dd \"$\" 8\ndd \"FILE0\" 8 1\n")) << commands();
    stop_sim();

    struct fault {
        std::vector<std::string> args;
        std::string text;
    };
    for (const fault &f : std::vector<fault>{
             {{"--answer", "dd=NF"}, "File not found"},
             {{"--answer", "dd=NP"}, "Device not present"},
             {{"--wrong-echo", "dd"}, "Unable to request PRG loading on device"},
             {{"--hangup-after", "300"}, "Communication error"}}) {
        std::vector<std::string> args = {"--drive", "8=" + disk};
        args.insert(args.end(), f.args.begin(), f.args.end());
        start_sim(args);
        click("button_save_PRG");
        ASSERT_TRUE(wait_idle());
        EXPECT_EQ(shell_status_text(), " PRG export failed: " + f.text) << f.args[1];
        stop_sim();
    }

    // Abort while the file arrives: reported as aborted, nothing offered.
    start_sim({"--drive", "8=" + disk, "--drive-timing"});
    log_clear();
    click("button_save_PRG");
    shell_pump(300);
    click("button_abort_operation");
    ASSERT_TRUE(wait_idle(3000));
    EXPECT_EQ(shell_status_text(), " PRG export aborted: please wait for the drive to finish");
    EXPECT_EQ(log_text(), "================================\nExporting PRG\nAborted\n");
}

TEST_F(DriveFiles, ExportLargerThanTheBufferIsNotSaved)
{
    filer_show_dir(dir_filer, "0 \x12\"X               \" XX 2A\r"
                              "9    \"BIG\"              PRG  \r"
                              "655 BLOCKS FREE.\r");
    std::string data = "OK\x01\x08";
    for (int i = 0; i < 3; i++)
        data += drive_u16(60000) + std::string(60000, 'x');
    start_fake({{"dd \"BIG\" 8 1", data + drive_u16(0)}});
    click("button_save_PRG");
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " PRG export failed: Received data does not fit into the buffer");
    EXPECT_TRUE(ends_with(log_text(), "Failed\n"));
}

TEST_F(DriveFiles, DosCommandsChangeTheSavedDisk)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string disk = make_disk("dos.d64", 4);
    std::string out = dir + "/out.d64";
    start_sim({"--drive", "8=" + disk, "--save", "8=" + out});
    list_directory();
    select_item(2);
    log_clear();
    click("button_scratch_file");
    EXPECT_EQ(shell_status_text(), " File scratching requested on drive 8");
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(starts_with(shell_status_text(), " Command completed in "));
    EXPECT_EQ(log_text(), "================================\nScratching file\nCompleted\n");
    cc1541_listing listing;
    ASSERT_TRUE(cc1541_read_listing(out, &listing));
    ASSERT_EQ(listing.entries.size(), 3u);
    EXPECT_EQ(listing.entries[2].name, "file3");  // cc1541 prints PETSCII capitals in lower case

    click("button_validate_disk");
    EXPECT_EQ(shell_status_text(), " Disk validation requested on drive 8");
    ASSERT_TRUE(wait_idle());

    options_set_string(&options_disk_name_string, "FRESH DISK");
    options_set_string(&options_disk_id_string, "FD");
    d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_OK);
    log_clear();
    click("button_format_disk");
    EXPECT_EQ(shell_status_text(), " Disk formatting requested on drive 8");
    EXPECT_EQ(d64_get_block_error_info(d64_storage, 18, 0), D64_ERR_NO_SYNC);
    EXPECT_EQ(d64_count_accessible_sector_errors(d64_storage, 1, TRACKS),
              start_sector_of_track[TRACKS + 1]);
    ASSERT_TRUE(wait_idle(30000));
    EXPECT_EQ(log_text(), "================================\nFormatting disk\nCompleted\n");
    ASSERT_TRUE(cc1541_read_listing(out, &listing));
    EXPECT_EQ(listing.diskname.substr(0, 10), "fresh disk");
    EXPECT_TRUE(listing.entries.empty());

    log_clear();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_format_ii")));
    ASSERT_TRUE(wait_idle(30000));
    EXPECT_EQ(log_text(), "================================\nFast formatting disk\nCompleted\n");
    std::string log = job_commands();
    EXPECT_NE(log.find("dc \"S:FILE2\" 8\ndc \"V0\" 8\ndc \"N:FRESH DISK,FD\" 8\nff \"FRESH DISK,FD\" " +
                       std::to_string(TRACKS) + " 8\n"),
              std::string::npos)
        << log;
}

// "A,B" would scratch A and B: the window says it cannot and sends nothing.
TEST_F(DriveFiles, ANameTheDriveWouldReadAsAPatternIsNotScratched)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    std::string disk = dir + "/list.d64";
    ASSERT_TRUE(cc1541_build_d64(disk, "NAMES", "nm", {{"A,B"}, {"A"}, {"B"}}));
    start_sim({"--drive", "8=" + disk});
    list_directory();
    select_item(0);
    log_clear();
    click("button_scratch_file");
    EXPECT_EQ(shell_status_text(), " Scratch refused: the drive cannot scratch this name exactly");
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(commands().find("S:"), std::string::npos) << commands();
}

TEST_F(DriveFiles, DosCommandChecksAndFaults)
{
    drawingarea_directory_listing_reset();
    options_set_string(&options_device_port_string, "/dev/null");
    click("button_scratch_file");
    EXPECT_EQ(shell_status_text(), " Error: Invalid file selection");

    // The modify-disk warning comes once: declined, then not asked again.
    request_confirmation_to_modify_disk = 1;
    start_sim({"--blank", "8", "--answer", "dc=NP"});
    auto answered = shell_answer_dialog("dialog_yes_no_confirmation", GTK_RESPONSE_NO);
    click("button_validate_disk");
    EXPECT_TRUE(*answered);
    EXPECT_FALSE(operation_is_running());
    EXPECT_EQ(log_text(), "");
    click("button_validate_disk");
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Command failed: Device not present");
    stop_sim();

    start_sim({"--blank", "8", "--answer", "ff=KO"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_format_ii")));
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Command failed: Command failed");
    stop_sim();

    options_set_string(&options_device_port_string, "");
    click("button_format_disk");
    EXPECT_EQ(shell_status_text(), " Error: Invalid device port");
}

TEST_F(DriveFiles, RomDumpsOf1541And1571)
{
    start_sim({"--blank", "8"});
    auto answered = save_to(dir + "/rom1541.prg");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
    EXPECT_EQ(shell_status_text(), " Drive ROM dumping requested on drive 8");
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(*answered);
    EXPECT_TRUE(starts_with(shell_status_text(), " Drive ROM dumping completed in "));
    EXPECT_EQ(log_text(), "================================\nDumping Drive ROM\nDrive ROM saved to: " +
                                    dir + "/rom1541.prg\n");
    std::string rom41 = scratch_read(dir + "/rom1541.prg");
    ASSERT_EQ(rom41.size(), 16386u);
    EXPECT_EQ(rom41.substr(0, 2), std::string("\x00\xC0", 2));
    EXPECT_EQ(rom41.substr(2, 21), "DRAVLEN-SIM DRIVE ROM");
    EXPECT_EQ(rom41.substr(0x3FFC + 2, 2), "\xA0\xEA");

    save_to(dir + "/rom1571.prg");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1571_drive_rom")));
    ASSERT_TRUE(wait_idle());
    std::string rom71 = scratch_read(dir + "/rom1571.prg");
    ASSERT_EQ(rom71.size(), 32770u);
    EXPECT_EQ(rom71.substr(0, 2), std::string("\x00\x80", 2));
    EXPECT_TRUE(rom71.substr(2 + 16384) == rom41.substr(2));
    EXPECT_NE(job_commands().find("wd 8\nwd 8 128\n"), std::string::npos) << commands();

    log_clear();
    save_to("");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
    ASSERT_TRUE(wait_idle());
    EXPECT_TRUE(ends_with(log_text(), "Drive ROM not saved at user's request\n"));
}

// The name a save chooser offers: the text of its first entry that has one.
std::string offered_name(GtkWidget *widget)
{
    if (GTK_IS_ENTRY(widget))
        return gtk_entry_get_text(GTK_ENTRY(widget));
    std::string found;
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget *child, gpointer data) {
                auto *f = static_cast<std::string *>(data);
                if (f->empty())
                    *f = offered_name(child);
            },
            &found);
    return found;
}

TEST_F(DriveFiles, RomAndPrgSavesThatDoNotHappenWriteNothing)
{
    std::string out = dir + "/saved";
    g_mkdir(out.c_str(), 0700);
    options_set_string(&options_prg_dir_string, out.c_str());
    options_set_string(&options_rom_dir_string, out.c_str());
    start_sim({"--blank", "8"});
    auto dump_rom = [&](std::shared_ptr<bool> answered) {
        log_clear();
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
        ASSERT_TRUE(wait_idle());
        EXPECT_TRUE(*answered);
        EXPECT_EQ(scratch_list(out), "") << "nothing saved, no file left half written";
    };
    // Cancelled: the drive's end was shown first, then the name offered
    // with the extension case asked for.
    options_file_extensions_uppercase = 1;
    std::string status, title, offered;
    dump_rom(shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL,
                                 [&](GtkWidget *d) {
                                     status = shell_status_text();
                                     title = gtk_window_get_title(GTK_WINDOW(d));
                                     offered = offered_name(d);
                                 }));
    EXPECT_TRUE(starts_with(status, " Drive ROM dumping completed in ")) << status;
    EXPECT_EQ(title, "Save ROM contents to PRG");
    EXPECT_EQ(offered, "ROM.PRG");
    EXPECT_EQ(log_text(), "================================\nDumping Drive ROM\n"
                          "Drive ROM not saved at user's request\n");

    // Abort pressed while the chooser is open.
    dump_rom(shell_answer_dialog(
        "filechooserdialog_save", GTK_RESPONSE_OK,
        [&](GtkWidget *d) {
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), "rom.prg");
            click("button_abort_operation");
        },
        300));
    EXPECT_EQ(shell_status_text(), " Drive ROM dumping aborted: please wait for the drive to finish");
    EXPECT_EQ(log_text(), "================================\nDumping Drive ROM\nAborted\n");

    // Writes that fail as on a full disk.
    ASSERT_TRUE(scratch_file_size_limit(1000));
    dump_rom(save_to(out + "/rom.prg"));
    scratch_file_size_unlimit();
    EXPECT_EQ(shell_status_text(), " Drive ROM dumping failed: Unable to save to file");
    EXPECT_EQ(log_text(), "================================\nDumping Drive ROM\n"
                          "Unable to save drive ROM to file: " + out + "/rom.prg: File too large\n");
    stop_sim();

    filer_show_dir(dir_filer, "0 \x12\"X               \" XX 2A\r"
                              "9    \"SMALL\"            PRG  \r"
                              "655 BLOCKS FREE.\r");
    start_fake({{"dd \"SMALL\" 8 1", "OK\x01\x08" + drive_u16(2000) + std::string(2000, 'x') +
                                         drive_u16(0)}});
    log_clear();
    auto answered = save_to(out + "/small.prg");
    ASSERT_TRUE(scratch_file_size_limit(1000));
    click("button_save_PRG");
    ASSERT_TRUE(wait_idle());
    scratch_file_size_unlimit();
    EXPECT_TRUE(*answered);
    EXPECT_EQ(shell_status_text(), " PRG export failed: Unable to save to file");
    EXPECT_EQ(log_text(), "================================\nExporting PRG\n"
                          "Unable to save PRG to file: " + out + "/small.prg: File too large\n");
    EXPECT_EQ(scratch_list(out), "");
}

TEST_F(DriveFiles, RomBytesArriveInBusOrderAndFaultsAreReported)
{
    std::string pages = std::string(256, '\x00') + std::string(256, '\xFF');
    // Bus order: complement, then bits 0<->3 and 4<->7.
    pages += std::string(62 * 256, '\x5A');
    start_fake({{"wd 8", pages}});
    save_to(dir + "/rom.prg");
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
    ASSERT_TRUE(wait_idle());
    std::string rom = scratch_read(dir + "/rom.prg");
    ASSERT_EQ(rom.size(), 16386u);
    EXPECT_EQ(rom.substr(2, 256), std::string(256, '\xFF'));
    EXPECT_EQ(rom.substr(258, 256), std::string(256, '\x00'));
    EXPECT_EQ((uint8_t)rom[514], 0x3C);  // $5A -> $A5 -> bits 0<->3 and 4<->7 -> $3C
    fake_monitor_stop(&fake);

    for (auto args : std::vector<std::vector<std::string>>{{"--wrong-echo", "wd"},
                                                           {"--hangup-after", "5000"}}) {
        std::vector<std::string> with_drive = args;
        with_drive.insert(with_drive.end(), {"--blank", "8"});
        start_sim(with_drive);
        gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1571_drive_rom")));
        ASSERT_TRUE(wait_idle());
        EXPECT_EQ(shell_status_text(), args[0] == "--wrong-echo"
                                           ? " Drive ROM dumping failed: Unable to request ROM dumping on device"
                                           : " Drive ROM dumping failed: Communication error");
        stop_sim();
    }

    start_sim({"--silent-after", "4"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
    shell_pump(200);
    click("button_abort_operation");
    ASSERT_TRUE(wait_idle(2000));
    EXPECT_EQ(shell_status_text(), " Drive ROM dumping aborted: please wait for the drive to finish");
}

TEST_F(DriveFiles, UnreadableDirectoryFailsTheDosCommandsAndShowsTheDriveError)
{
    if (!cc1541_available())
        GTEST_SKIP() << "cc1541 not installed";
    // The first directory sector (18/1) has no sync: as on a 1541, reading
    // the directory fails, and so does anything that needs it.
    std::string image = scratch_read(make_disk("plain.d64", 3));
    ASSERT_EQ(image.size(), 174848u);
    std::string info(683, '\x01');
    info[357 + 1] = 0x03;
    std::string disk = dir + "/bad_dir.d64";
    ASSERT_TRUE(scratch_write(disk, image + info));
    start_sim({"--drive", "8=" + disk});

    // The failure carries the drive's own reason, read from its error channel.
    list_directory();
    EXPECT_EQ(shell_status_text(), " Directory listing failed: Command failed: 21,READ ERROR,18,01");

    click("button_validate_disk");
    ASSERT_TRUE(wait_idle());
    EXPECT_EQ(shell_status_text(), " Command failed: Command failed");
    EXPECT_TRUE(ends_with(log_text(), "Validating disk\nFailed\n")) << log_text();
}

TEST_F(DriveFiles, HandEditedFormatTextNeverSplitsTheFormatCommands)
{
    // A user.ini edited by hand: escaped line breaks and quotes in the
    // disk name and ID, which the dialog's filter never lets in.
    gchar *original = options_build_file_text();
    ASSERT_NE(original, nullptr);
    GKeyFile *kf = g_key_file_new();
    ASSERT_TRUE(g_key_file_load_from_data(kf, original, -1, G_KEY_FILE_KEEP_COMMENTS, nullptr));
    g_key_file_set_value(kf, "format", "disk_name", "EVIL\\r\\nrb 8\\n\"X");
    g_key_file_set_value(kf, "format", "disk_id", "0\\r");
    gchar *edited = g_key_file_to_data(kf, nullptr, nullptr);
    g_key_file_free(kf);
    ASSERT_TRUE(scratch_write(shell_test_config_path(), edited));
    g_free(edited);
    options_load_from_file();

    start_sim({"--blank", "8", "--save", "8=" + dir + "/formatted.d64"});
    click("button_format_disk");
    ASSERT_TRUE(wait_idle(30000));
    EXPECT_TRUE(starts_with(shell_status_text(), " Command completed in ")) << shell_status_text();
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_format_ii")));
    ASSERT_TRUE(wait_idle(30000));
    EXPECT_TRUE(starts_with(shell_status_text(), " Command completed in ")) << shell_status_text();
    // One line per command: the breaks and the quote became spaces.
    EXPECT_EQ(job_commands(), "dc \"N:EVIL  rb 8  X,0 \" 8\nff \"EVIL  rb 8  X,0 \" " +
                              std::to_string(TRACKS) + " 8\n");

    // Values that reach the options another way are refused before the
    // image store is cleared or anything is sent.
    for (auto [name, id] : std::vector<std::pair<const char *, const char *>>{
             {"TWO\rrb 8", "01"}, {"NAME", "0\n"}, {"QU\"OTE", "01"}, {"NAME", "\"1"}}) {
        options_set_string(&options_disk_name_string, name);
        options_set_string(&options_disk_id_string, id);
        d64_set_block_error_info(d64_storage, 18, 0, D64_ERR_OK);
        for (bool fast : {false, true}) {
            if (fast)
                gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_format_ii")));
            else
                click("button_format_disk");
            EXPECT_EQ(shell_status_text(), " Error: Invalid disk name or ID") << name << id;
            EXPECT_FALSE(operation_is_running());
            EXPECT_EQ(d64_get_block_error_info(d64_storage, 18, 0), D64_ERR_OK);
        }
    }
    stop_sim();
    EXPECT_EQ(job_commands(), "dc \"N:EVIL  rb 8  X,0 \" 8\nff \"EVIL  rb 8  X,0 \" " +
                              std::to_string(TRACKS) + " 8\n");

    ASSERT_TRUE(scratch_write(shell_test_config_path(), original));
    g_free(original);
    options_load_from_file();
}

TEST_F(DriveFiles, AbortEndsARomDumpFromATricklingDeviceAtOnce)
{
    // One byte every 3 ms never leaves the 5 ms quiet gap that would end a
    // read; the 1541 ROM would take about 50 s this way.
    start_sim({"--blank", "8", "--trickle", "3"});
    gtk_menu_item_activate(GTK_MENU_ITEM(w("menuitem_dump_1541_drive_rom")));
    shell_pump(500);
    ASSERT_TRUE(operation_is_running());
    gint64 pressed = g_get_monotonic_time();
    click("button_abort_operation");
    ASSERT_TRUE(wait_idle(5000));
    double latency = (g_get_monotonic_time() - pressed) / 1e6;
    EXPECT_LT(latency, 0.2);
    RecordProperty("abort_latency_us", static_cast<int>(latency * 1e6));
    EXPECT_EQ(shell_status_text(), " Drive ROM dumping aborted: please wait for the drive to finish");
}

}  // namespace
