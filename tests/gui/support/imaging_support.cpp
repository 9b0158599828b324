#include "imaging_support.h"

#include <gtk/gtk.h>

#include "gui/jobs/operation.h"
#include "engine/options.h"
#include "image/imagefile.h"
#include "tests/gui/support/shell_support.h"
#include "tests/support/cc1541_tool.h"
#include "tests/support/scratch_dir.h"
#include "gui/windows/widgets.h"
#include "gui/windows/window_main.h"

bool img_build_disk(const std::string &dir, const std::string &name, int tracks, std::string *d64,
                    std::string *g64)
{
    *d64 = dir + "/" + name + ".d64";
    // cc1541 turns ASCII capitals into shifted PETSCII: lower case gives the
    // plain letters a disk name is normally made of.
    std::string petscii_name = name;
    for (char &c : petscii_name)
        c = (char)g_ascii_tolower(c);
    std::vector<std::string> args = {"-n", petscii_name, "-i", "ab"};
    if (tracks == 40)
        args.push_back("-4");
    if (g64) {
        *g64 = dir + "/" + name + ".g64";
        args.push_back("-g");
        args.push_back(*g64);
    }
    // Sizes that spread over several tracks, with contents no two blocks share.
    const size_t sizes[] = {9000, 700, 30000, 2500};
    const char *names[] = {"alpha", "beta", "gamma", "delta"};
    for (int i = 0; i < 4; i++) {
        std::string content(sizes[i], '\0');
        uint32_t x = 0x9E3779B9u * (i + 1);
        for (char &c : content) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = (char)(x >> 24);
        }
        std::string local = dir + "/" + names[i] + ".bin";
        if (!scratch_write(local, content))
            return false;
        args.insert(args.end(), {"-f", names[i], "-w", local});
    }
    args.push_back(*d64);
    std::string out, err;
    return cc1541_run(args, &out, &err) == 1;
}

std::string img_disk::file() const
{
    return data + std::string(errors.begin(), errors.end());
}

bool img_load(const std::string &path, img_disk *disk)
{
    bool ok = false;
    std::string bytes = scratch_read(path, &ok);
    if (!ok)
        return false;
    for (int tracks : {35, 40}) {
        size_t base = 256 * (size_t)geometry_blocks(tracks);
        if (bytes.size() != base && bytes.size() != base + geometry_blocks(tracks))
            continue;
        disk->tracks = tracks;
        disk->data = bytes.substr(0, base);
        if (bytes.size() == base)
            disk->errors.assign(geometry_blocks(tracks), 1);
        else
            disk->errors.assign(bytes.begin() + base, bytes.end());
        return true;
    }
    return false;
}

bool img_save(const std::string &path, const img_disk &disk)
{
    return scratch_write(path, disk.file());
}

namespace {

GtkWidget *main_widget(const char *name)
{
    return lookup_widget(window_main, name);
}

const char *const toggles[] = {"checkbutton_disk_dump_auto_naming",
                               "checkbutton_pre_initialize_disk",
                               "radiobutton_disk_dump_auto_naming_side_a",
                               "radiobutton_disk_dump_auto_naming_side_b"};
const char *const spins[] = {"spinbutton_sector_read_retries", "spinbutton_max_sector_errors",
                             "spinbutton_outmost_track", "spinbutton_disk_dump_auto_naming_offset"};
int *const int_options[] = {&options_create_md5_digest, &options_confirm_overwrite,
                            &options_append_disk_name, &options_file_extensions_uppercase,
                            &options_notify_side_b_1571, &options_notify_tracks_beyond_35,
                            &options_retry_sectors_once_per_pass, &options_drive_index,
                            &options_max_sector_errors, &options_sector_read_retries,
                            &options_outmost_track};
gchar **const string_options[] = {&options_d64_dir_string, &options_device_port_string};

}  // namespace

struct img_window_state {
    std::string log, title, label, config;
    int drive;
    bool toggle[4];
    double spin[4];
    int ints[11];
    std::string strings[2];
    bool string_set[2];
    std::string last_path;
    bool last_path_set;
};

img_window_state *img_window_state_save()
{
    auto *st = new img_window_state;
    st->log = shell_log_text();
    st->title = gtk_window_get_title(GTK_WINDOW(window_main));
    st->label = gtk_label_get_text(GTK_LABEL(main_widget("label_sector_errors_count")));
    st->config = scratch_read(shell_test_config_path());
    st->drive = gtk_combo_box_get_active(GTK_COMBO_BOX(main_widget("combobox_drive")));
    for (int i = 0; i < 4; i++) {
        st->toggle[i] = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(main_widget(toggles[i])));
        st->spin[i] = gtk_spin_button_get_value(GTK_SPIN_BUTTON(main_widget(spins[i])));
    }
    for (int i = 0; i < 11; i++)
        st->ints[i] = *int_options[i];
    for (int i = 0; i < 2; i++) {
        st->string_set[i] = *string_options[i] != nullptr;
        st->strings[i] = st->string_set[i] ? *string_options[i] : "";
    }
    st->last_path_set = utf8_path_lastopenfile_d64 != nullptr;
    st->last_path = st->last_path_set ? utf8_path_lastopenfile_d64 : "";
    return st;
}

void img_window_state_restore(img_window_state *st)
{
    GtkTextBuffer *buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(main_widget("textview_log")));
    gtk_text_buffer_set_text(buffer, st->log.c_str(), -1);
    gtk_window_set_title(GTK_WINDOW(window_main), st->title.c_str());
    gtk_label_set_text(GTK_LABEL(main_widget("label_sector_errors_count")), st->label.c_str());
    scratch_write(shell_test_config_path(), st->config);
    gtk_combo_box_set_active(GTK_COMBO_BOX(main_widget("combobox_drive")), st->drive);
    shell_set_auto_naming(st->toggle[0]);
    // Side B first, so that restoring side A leaves the pair as it was.
    for (int i : {1, 3, 2})
        if (st->toggle[i])
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(main_widget(toggles[i])), TRUE);
        else if (i < 2)
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(main_widget(toggles[i])), FALSE);
    for (int i = 0; i < 4; i++)
        gtk_spin_button_set_value(GTK_SPIN_BUTTON(main_widget(spins[i])), st->spin[i]);
    for (int i = 0; i < 11; i++)
        *int_options[i] = st->ints[i];
    for (int i = 0; i < 2; i++) {
        if (st->string_set[i]) {
            options_set_string(string_options[i], st->strings[i].c_str());
        } else {
            g_free(*string_options[i]);
            *string_options[i] = nullptr;
        }
    }
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = st->last_path_set ? g_strdup(st->last_path.c_str()) : nullptr;
    notebook_main_set_page(0);
    delete st;
}

void img_prepare_window(const std::string &folder, int retries, int max_errors, int outmost)
{
    options_set_string(&options_d64_dir_string, folder.c_str());
    options_create_md5_digest = 1;
    options_confirm_overwrite = 0;
    options_append_disk_name = 1;
    options_file_extensions_uppercase = 0;
    options_notify_side_b_1571 = 1;
    options_notify_tracks_beyond_35 = 1;
    options_retry_sectors_once_per_pass = 0;
    // Without the toggle handler, which would ask for the folder set above.
    shell_set_auto_naming(true);
    gtk_combo_box_set_active(GTK_COMBO_BOX(lookup_widget(window_main, "combobox_drive")), 0);
    gtk_toggle_button_set_active(
        GTK_TOGGLE_BUTTON(lookup_widget(window_main, "checkbutton_pre_initialize_disk")), FALSE);
    gtk_spin_button_set_value(
        GTK_SPIN_BUTTON(lookup_widget(window_main, "spinbutton_sector_read_retries")), retries);
    gtk_spin_button_set_value(
        GTK_SPIN_BUTTON(lookup_widget(window_main, "spinbutton_max_sector_errors")), max_errors);
    gtk_spin_button_set_value(
        GTK_SPIN_BUTTON(lookup_widget(window_main, "spinbutton_outmost_track")), outmost);
}

bool img_run_dump(int timeout_ms)
{
    gtk_menu_item_activate(
        GTK_MENU_ITEM(lookup_widget(window_main, "menuitem_dump_the_whole_disk")));
    return shell_pump_until([] { return !operation_is_running(); }, timeout_ms);
}

std::string img_saved_image(const std::string &folder)
{
    std::string found;
    GDir *d = g_dir_open(folder.c_str(), 0, nullptr);
    if (!d)
        return found;
    while (const char *name = g_dir_read_name(d)) {
        std::string n = name;
        if (n.size() > 4 && (n.compare(n.size() - 4, 4, ".d64") == 0 ||
                             n.compare(n.size() - 4, 4, ".D64") == 0))
            found = folder + "/" + n;
    }
    g_dir_close(d);
    return found;
}
