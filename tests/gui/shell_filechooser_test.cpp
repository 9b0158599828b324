// File choosers: the ".PRG" rule, what the D64 preview makes of a file,
// folder memory through real dialogs, and the auto-naming check box that
// asks for a folder.
#include <gtest/gtest.h>

#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/options.h"
#include "image/d64.h"
#include "tests/gui/support/fixtures.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/filechooser.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

namespace {

class ShellChooser : public WindowTest {};

std::string prg(const char *name)
{
    char *s = fileopen_prg_name_with_extension(name);
    std::string r = s;
    g_free(s);
    return r;
}

TEST_F(ShellChooser, PrgNamesGetTheirExtensionOnlyWhenMissing)
{
    EXPECT_EQ(prg("/x/GAME"), "/x/GAME.PRG");
    EXPECT_EQ(prg("/x/GAME.prg"), "/x/GAME.prg");
    EXPECT_EQ(prg("/x/GAME.PRG"), "/x/GAME.PRG");
    EXPECT_EQ(prg("A.P"), "A.P.PRG");
    EXPECT_EQ(prg("GAME.Prg"), "GAME.Prg.PRG");
}

// A file image in a buffer as large as the store, as the preview uses it.
struct file_image {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(D64_STORAGE_SIZE, 0);
    uint8_t *sector(int t, int s) { return bytes.data() + d64_sector_offset(t, s); }
    uint8_t &error(int t, int s) { return bytes[d64_error_offset(t, s)]; }
    void all_errors(uint8_t code)
    {
        for (int t = 1; t <= TRACKS; t++)
            for (int s = 0; s < d64_sectors_of_track(t); s++)
                error(t, s) = code;
    }
};

std::string examine(file_image &img, int64_t size, int *shifted = nullptr, int *ok = nullptr)
{
    fileopen_d64_preview preview;
    int r = fileopen_d64_preview_examine(img.bytes.data(), size, &preview);
    if (shifted)
        *shifted = preview.shifted_track;
    if (ok)
        *ok = r;
    return preview.label;
}

TEST_F(ShellChooser, PreviewCountsErrorsOfImagesWithErrorInfo)
{
    file_image img;
    img.sector(18, 0)[0] = 18;
    img.sector(18, 0)[1] = 1;
    int64_t full = d64_base_size + d64_block_error_info_size;
    img.all_errors(D64_ERR_OK);
    EXPECT_EQ(examine(img, full), "Sector errors: 0");
    img.error(1, 0) = D64_ERR_INACCESSIBLE;
    img.error(TRACKS, 16) = D64_ERR_INACCESSIBLE;
    img.error(18, 5) = D64_ERR_CHECKSUM;
    EXPECT_EQ(examine(img, full), "Sector errors: 3 (1 accessible)");
    // A plain image has no error info to count.
    EXPECT_EQ(examine(img, d64_base_size), "Sector errors: 0");
}

TEST_F(ShellChooser, PreviewRefusesOtherSizes)
{
    file_image img;
    int ok = 1;
    EXPECT_EQ(examine(img, d64_base_size + 1, nullptr, &ok), "Sector errors: N/A");
    EXPECT_EQ(ok, 0);
    examine(img, 0, nullptr, &ok);
    EXPECT_EQ(ok, 0);
    // The other build's sizes are not images of this one.
    int64_t other = TRACKS == 35 ? 196608 : 174848;
    examine(img, other, nullptr, &ok);
    EXPECT_EQ(ok, 0);
}

TEST_F(ShellChooser, PreviewTakesADirectoryFromAShiftedTrack)
{
    file_image img;
    img.sector(18, 0)[0] = 0x55;  // broken link on track 18
    for (int t : {19, 20}) {
        img.sector(t, 0)[0] = 18;
        img.sector(t, 0)[1] = 1;
        img.sector(t, 0)[0x90] = (uint8_t)('A' + t - 19);  // tells the copies apart
    }
    int shifted = 0;
    file_image plain = img;
    EXPECT_EQ(examine(plain, d64_base_size, &shifted), "Sector errors: 0");
    EXPECT_EQ(shifted, 19);
    EXPECT_EQ(plain.sector(18, 0)[0], 18);
    EXPECT_EQ(plain.sector(18, 0)[0x90], 'A');
    EXPECT_EQ(memcmp(plain.sector(18, 0), plain.sector(19, 0), 19 * 256), 0);

    // With error info, a track whose sector 0 was not read cleanly does not count.
    file_image with_errors = img;
    with_errors.all_errors(D64_ERR_OK);
    with_errors.error(19, 0) = D64_ERR_GCR;
    examine(with_errors, d64_base_size + d64_block_error_info_size, &shifted);
    EXPECT_EQ(shifted, 20);
    EXPECT_EQ(with_errors.sector(18, 0)[0x90], 'B');

    // A valid track 18 is never replaced.
    file_image fine = img;
    fine.sector(18, 0)[0] = 18;
    fine.sector(18, 0)[1] = 1;
    examine(fine, d64_base_size, &shifted);
    EXPECT_EQ(shifted, 0);
    EXPECT_EQ(fine.sector(18, 0)[0x90], 0);
}

// Chooses `path` in the chooser called `name` once it shows, then accepts.
std::shared_ptr<bool> choose(const char *name, const std::string &path, bool save)
{
    return shell_answer_dialog(
        name, GTK_RESPONSE_OK,
        [path, save](GtkWidget *dialog) {
            GtkFileChooser *chooser = GTK_FILE_CHOOSER(dialog);
            if (save) {
                char *folder = g_path_get_dirname(path.c_str());
                char *base = g_path_get_basename(path.c_str());
                gtk_file_chooser_set_current_folder(chooser, folder);
                gtk_file_chooser_set_current_name(chooser, base);
                g_free(folder);
                g_free(base);
            } else {
                gtk_file_chooser_set_filename(chooser, path.c_str());
            }
        },
        400);
}

TEST_F(ShellChooser, AcceptedPrgChoosersRememberTheirFolder)
{
    std::string sub = dir + "/programs";
    g_mkdir(sub.c_str(), 0700);
    scratch_write(sub + "/GAME.PRG", "\x01\x08");
    options_set_string(&options_prg_dir_string, dir.c_str());
    options_set_string(&options_d64_dir_string, dir.c_str());

    char *path = nullptr;
    auto answered = choose("filechooserdialog_load", sub + "/GAME.PRG", false);
    ASSERT_EQ(fileopen_load_prg_file(&path), 1);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(std::string(path), sub + "/GAME.PRG");
    EXPECT_EQ(std::string(options_prg_dir_string), sub);
    EXPECT_EQ(std::string(options_d64_dir_string), dir);  // the other kind is untouched
    g_free(path);

    answered = choose("filechooserdialog_save", dir + "/NEW", true);
    ASSERT_EQ(fileopen_save_prg_file("SUGGESTED", &path, "Export"), 1);
    EXPECT_EQ(std::string(path), dir + "/NEW.PRG");
    EXPECT_EQ(std::string(options_prg_dir_string), dir);
    g_free(path);
}

TEST_F(ShellChooser, CancelledChooserChangesNothing)
{
    options_set_string(&options_d64_dir_string, dir.c_str());
    char *path = reinterpret_cast<char *>(1);
    auto answered = shell_answer_dialog("filechooserdialog_save", GTK_RESPONSE_CANCEL);
    EXPECT_EQ(fileopen_save_png_file("grid.png", &path, "Export"), 0);
    EXPECT_TRUE(*answered);
    EXPECT_EQ(path, nullptr);
    EXPECT_EQ(std::string(options_d64_dir_string), dir);
    answered = shell_answer_dialog("filechooserdialog_select_folder", GTK_RESPONSE_DELETE_EVENT);
    EXPECT_EQ(fileopen_select_folder(), 0);
    EXPECT_EQ(std::string(options_d64_dir_string), dir);
}

TEST_F(ShellChooser, LoadChooserPreviewLabelFollowsTheFile)
{
    std::string image(d64_base_size + d64_block_error_info_size, '\1');
    image[d64_base_size + 3] = 5;
    image[d64_base_size + 4] = 15;
    scratch_write(dir + "/disk.d64", image);
    scratch_write(dir + "/short.d64", image.substr(1));

    GtkWidget *dialog = fileopen_create_load_d64_dialog("Load");
    GtkLabel *label = GTK_LABEL(lookup_widget(dialog, "label_preview_sector_errors"));
    EXPECT_STREQ(gtk_label_get_text(label), "Sector errors: N/A");
    EXPECT_EQ(fileopen_d64_preview_show(dialog, (dir + "/disk.d64").c_str()), 1);
    EXPECT_STREQ(gtk_label_get_text(label), "Sector errors: 2 (1 accessible)");
    EXPECT_TRUE(gtk_file_chooser_get_preview_widget_active(GTK_FILE_CHOOSER(dialog)));
    EXPECT_EQ(fileopen_d64_preview_show(dialog, (dir + "/short.d64").c_str()), 0);
    EXPECT_STREQ(gtk_label_get_text(label), "Sector errors: N/A");
    EXPECT_FALSE(gtk_file_chooser_get_preview_widget_active(GTK_FILE_CHOOSER(dialog)));
    EXPECT_EQ(fileopen_d64_preview_show(dialog, dir.c_str()), 0);  // a folder
    gtk_widget_destroy(dialog);
}

TEST_F(ShellChooser, AutoNamingAsksForAFolderAndRelabelsTheButton)
{
    GtkWidget *check = lookup_widget(window_main, "checkbutton_disk_dump_auto_naming");
    GtkLabel *label = GTK_LABEL(lookup_widget(window_main, "label_save_image_to_D64"));

    auto answered = shell_answer_dialog("filechooserdialog_select_folder", GTK_RESPONSE_CANCEL);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
    EXPECT_TRUE(*answered);
    EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)));
    EXPECT_STREQ(gtk_label_get_label(label), "Warp_save to D64...");

    // The chooser starts in the remembered folder; a folder change would
    // land in the background, after the answer.
    options_set_string(&options_d64_dir_string, dir.c_str());
    answered = shell_answer_dialog(
        "filechooserdialog_select_folder", GTK_RESPONSE_OK,
        [&](GtkWidget *d) { gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), dir.c_str()); },
        400);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), TRUE);
    EXPECT_TRUE(*answered);
    EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(check)));
    EXPECT_STREQ(gtk_label_get_label(label), "Warp_save to D64");
    EXPECT_EQ(std::string(options_d64_dir_string), dir);
    EXPECT_EQ(gtk_label_get_mnemonic_widget(label),
              lookup_widget(window_main, "button_save_image_to_D64"));

    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), FALSE);
    EXPECT_STREQ(gtk_label_get_label(label), "Warp_save to D64...");
}

}  // namespace
