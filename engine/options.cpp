#include "engine/options.h"

#include <glib/gstdio.h>
#include <cstring>

gchar *utf8_path_configfile = nullptr;

gchar *options_device_port_string = nullptr;
gchar *options_bootloader_port_string = nullptr;
gchar *options_disk_name_string = nullptr;
gchar *options_disk_id_string = nullptr;
int options_drive_index = 0;
int options_max_sector_errors = 10;
int options_sector_read_retries = 3;
int options_outmost_track = 1;
int options_first_sector_in_dir_order = 0;
gchar *options_d64_dir_string = nullptr;
gchar *options_prg_dir_string = nullptr;
gchar *options_png_dir_string = nullptr;
gchar *options_rom_dir_string = nullptr;
options_color options_sector_da_bg_color = {65535, 65535, 65535};
int options_file_extensions_uppercase = 0;
int options_side_letters_uppercase = 0;
int options_special_flags_before_offset = 0;
int options_append_disk_name = 0;
int options_confirm_overwrite = 1;
int options_notify_tracks_beyond_35 = 1;
int options_notify_side_b_1571 = 1;
int options_retry_sectors_once_per_pass = 1;
int options_include_scr_files = 0;
int options_double_png_dimensions = 1;
int options_create_md5_digest = 0;
int options_verify_after_restore = 1;
gchar *options_font_description_string = nullptr;
int options_expansion = 1;
int *options_window_main_position = nullptr;

int (*options_window_position_hook)(int *x, int *y) = nullptr;

const options_range options_range_sector_read_retries = {0, 100};
const options_range options_range_max_sector_errors = {0, 1000};
const options_range options_range_outmost_track = {1, 5};

namespace {

const char CONFIG_FOLDER[] = "dravlen-client";
const char CONFIG_FILE[] = "user.ini";
const char HEADER_LINE[] = "# Dravlen client config file - do NOT edit\n";

// Linux device names instead of the COM ports of other platforms.
const char DEFAULT_DEVICE_PORT[] = "/dev/ttyACM0";
const char DEFAULT_BOOTLOADER_PORT[] = "/dev/ttyACM1";
const char DEFAULT_DISK_NAME[] = "NEW DISK";
const char DEFAULT_DISK_ID[] = "01";
const char DEFAULT_FONT[] = "Monospace 10";

// A string option and where it lives.
struct string_option {
    const char *group;
    const char *key;
    gchar **variable;
    const char *fallback;
};

const string_option STRING_OPTIONS[] = {
    {"connection", "device_port", &options_device_port_string, DEFAULT_DEVICE_PORT},
    {"connection", "bootloader_port", &options_bootloader_port_string, DEFAULT_BOOTLOADER_PORT},
    {"format", "disk_name", &options_disk_name_string, DEFAULT_DISK_NAME},
    {"format", "disk_id", &options_disk_id_string, DEFAULT_DISK_ID},
    {"interface", "font_description", &options_font_description_string, DEFAULT_FONT},
};

// Booleans and ints share this table; is_bool picks the key-file reader.
struct number_option {
    const char *group;
    const char *key;
    int *variable;
    int fallback;
    bool is_bool;
};

const number_option NUMBER_OPTIONS[] = {
    {"imaging", "drive_index", &options_drive_index, 0, false},
    {"imaging", "max_sector_errors", &options_max_sector_errors, 10, false},
    {"imaging", "sector_read_retries", &options_sector_read_retries, 3, false},
    {"imaging", "outmost_track", &options_outmost_track, 1, false},
    {"imaging", "first_sector_in_dir_order", &options_first_sector_in_dir_order, 0, true},
    {"outputs", "file_extensions_uppercase", &options_file_extensions_uppercase, 0, true},
    {"outputs", "side_letters_uppercase", &options_side_letters_uppercase, 0, true},
    {"outputs", "special_flags_before_offset", &options_special_flags_before_offset, 0, true},
    {"outputs", "append_disk_name", &options_append_disk_name, 0, true},
    {"outputs", "confirm_overwrite", &options_confirm_overwrite, 1, true},
    {"notifications", "notify_tracks_beyond_35", &options_notify_tracks_beyond_35, 1, true},
    {"notifications", "notify_side_b_1571", &options_notify_side_b_1571, 1, true},
    {"retries", "retry_sectors_once_per_pass", &options_retry_sectors_once_per_pass, 1, true},
    {"misc", "include_scr_files", &options_include_scr_files, 0, true},
    {"misc", "double_png_dimensions", &options_double_png_dimensions, 1, true},
    {"misc", "create_md5_digest", &options_create_md5_digest, 0, true},
    {"misc", "verify_after_restore", &options_verify_after_restore, 1, true},
    {"interface", "expansion", &options_expansion, 1, false},
};

// Keys that older files kept in [misc]; they win over the newer groups.
const char *const LEGACY_MISC_KEYS[] = {
    "file_extensions_uppercase", "side_letters_uppercase", "special_flags_before_offset",
    "append_disk_name", "confirm_overwrite", "notify_tracks_beyond_35",
    "notify_side_b_1571", "retry_sectors_once_per_pass",
};

const char *const COLOR_KEYS[] = {
    "sector_da_bg_color_red", "sector_da_bg_color_green", "sector_da_bg_color_blue",
};

guint16 *color_component(int i)
{
    guint16 *c[] = {&options_sector_da_bg_color.red, &options_sector_da_bg_color.green,
                    &options_sector_da_bg_color.blue};
    return c[i];
}

int *number_variable(const char *key)
{
    for (const number_option &o : NUMBER_OPTIONS)
        if (strcmp(o.key, key) == 0)
            return o.variable;
    return nullptr;
}

// The key-file reader sets its error twice (and warns) for a value holding a
// bad escape and ending in a lone backslash; such a value could not be read
// anyway, so it is refused before the reader sees it.
bool ends_in_lone_backslash(const gchar *raw)
{
    size_t n = strlen(raw), run = 0;
    while (run < n && raw[n - 1 - run] == '\\')
        run++;
    return run % 2 == 1;
}

// The string value of a key, or NULL when it is absent or unreadable.
gchar *read_string(GKeyFile *kf, const char *group, const char *key)
{
    gchar *raw = g_key_file_get_value(kf, group, key, nullptr);
    if (!raw)
        return nullptr;
    bool bad = ends_in_lone_backslash(raw);
    g_free(raw);
    return bad ? nullptr : g_key_file_get_string(kf, group, key, nullptr);
}

// Absent keys keep the default; present but unreadable ones read as 0/false,
// as the key-file reader gives them.
int read_number(GKeyFile *kf, const char *group, const char *key, bool is_bool, int fallback)
{
    if (!g_key_file_has_key(kf, group, key, nullptr))
        return fallback;
    GError *error = nullptr;
    int v = is_bool ? (g_key_file_get_boolean(kf, group, key, &error) ? 1 : 0)
                    : g_key_file_get_integer(kf, group, key, &error);
    if (error) {
        g_error_free(error);
        return 0;
    }
    return v;
}

// A folder is taken only from a file URI naming an existing folder.
void read_folder(GKeyFile *kf, const char *key, gchar **variable)
{
    gchar *uri = read_string(kf, "directories", key);
    if (!uri)
        return;
    gchar *path = g_filename_from_uri(uri, nullptr, nullptr);
    if (path && g_file_test(path, G_FILE_TEST_IS_DIR))
        options_set_string(variable, path);
    g_free(path);
    g_free(uri);
}

void read_position(GKeyFile *kf)
{
    gchar *raw = g_key_file_get_value(kf, "position", "window_main", nullptr);
    bool bad = !raw || ends_in_lone_backslash(raw);
    g_free(raw);
    if (bad)
        return;
    gsize n = 0;
    GError *error = nullptr;
    gint *list = g_key_file_get_integer_list(kf, "position", "window_main", &n, &error);
    if (error)
        g_error_free(error);
    else if (list && n == 2)
        options_set_window_main_position(list);
    g_free(list);
}

void load_keyfile(GKeyFile *kf)
{
    for (const string_option &o : STRING_OPTIONS) {
        gchar *v = read_string(kf, o.group, o.key);
        options_set_string(o.variable, v ? v : o.fallback);
        g_free(v);
    }
    for (const number_option &o : NUMBER_OPTIONS)
        *o.variable = read_number(kf, o.group, o.key, o.is_bool, o.fallback);
    for (int i = 0; i < 3; i++)
        *color_component(i) = (guint16)read_number(kf, "colors", COLOR_KEYS[i], false, 65535);

    // A hand-edited file may hold what the window's controls never let in.
    options_sector_read_retries =
        options_clamp(options_sector_read_retries, options_range_sector_read_retries);
    options_max_sector_errors =
        options_clamp(options_max_sector_errors, options_range_max_sector_errors);
    options_outmost_track = options_clamp(options_outmost_track, options_range_outmost_track);
    if (options_drive_index < 0 || options_drive_index > 3)
        options_drive_index = 0;
    if (options_expansion != 1 && options_expansion != 2)
        options_expansion = 1;

    // A hand-edited file may hold what the settings dialog never lets in.
    options_blank_format_text(options_disk_name_string);
    options_blank_format_text(options_disk_id_string);

    read_folder(kf, "d64_dir", &options_d64_dir_string);
    read_folder(kf, "prg_dir", &options_prg_dir_string);
    read_folder(kf, "png_dir", &options_png_dir_string);
    read_folder(kf, "rom_dir", &options_rom_dir_string);
    read_position(kf);

    if (g_key_file_has_key(kf, "misc", "d64_extension", nullptr)) {
        gchar *ext = read_string(kf, "misc", "d64_extension");
        options_file_extensions_uppercase = (ext && strcmp(ext, "D64") == 0) ? 1 : 0;
        g_free(ext);
    }
    for (const char *key : LEGACY_MISC_KEYS)
        if (g_key_file_has_key(kf, "misc", key, nullptr))
            *number_variable(key) = read_number(kf, "misc", key, true, 0);
}

void append_number_group(GString *text, const char *group)
{
    for (const number_option &o : NUMBER_OPTIONS) {
        if (strcmp(o.group, group) != 0)
            continue;
        if (o.is_bool)
            g_string_append_printf(text, "%s=%s\n", o.key, *o.variable ? "true" : "false");
        else
            g_string_append_printf(text, "%s=%d\n", o.key, *o.variable);
    }
}

void append_string_group(GString *text, const char *group)
{
    // The values go in through the key-file setter below, which escapes line
    // breaks and backslashes; written raw they would break the file or
    // smuggle in keys of their own.
    for (const string_option &o : STRING_OPTIONS)
        if (strcmp(o.group, group) == 0)
            g_string_append_printf(text, "%s=\n", o.key);
}

void append_folder(GString *text, const char *key, const gchar *folder)
{
    gchar *uri = folder ? g_filename_to_uri(folder, nullptr, nullptr) : nullptr;
    // No folder is an empty value, which reads back as none.
    g_string_append_printf(text, "%s=%s\n", key, uri ? uri : "");
    g_free(uri);
}

GKeyFile *build_keyfile()
{
    static const char *const GROUPS[] = {"connection", "format", "imaging", "directories",
                                         "colors", "outputs", "notifications", "retries",
                                         "misc", "interface", "position"};
    GString *text = g_string_new(HEADER_LINE);
    for (const char *group : GROUPS) {
        g_string_append_printf(text, "\n[%s]\n", group);
        if (strcmp(group, "directories") == 0) {
            append_folder(text, "d64_dir", options_d64_dir_string);
            append_folder(text, "prg_dir", options_prg_dir_string);
            append_folder(text, "png_dir", options_png_dir_string);
            append_folder(text, "rom_dir", options_rom_dir_string);
        } else if (strcmp(group, "colors") == 0) {
            for (int i = 0; i < 3; i++)
                g_string_append_printf(text, "%s=%u\n", COLOR_KEYS[i], *color_component(i));
        } else if (strcmp(group, "interface") == 0) {
            append_string_group(text, group);  // font before expansion
            append_number_group(text, group);
        } else {
            append_string_group(text, group);
            append_number_group(text, group);
        }
    }

    GKeyFile *kf = g_key_file_new();
    gboolean parsed = g_key_file_load_from_data(kf, text->str, text->len,
                                                G_KEY_FILE_KEEP_COMMENTS, nullptr);
    g_string_free(text, TRUE);
    if (!parsed) {
        g_key_file_free(kf);
        return nullptr;
    }
    for (const string_option &o : STRING_OPTIONS)
        g_key_file_set_string(kf, o.group, o.key, *o.variable ? *o.variable : "");

    int xy[2];
    if (options_window_position_hook && options_window_position_hook(&xy[0], &xy[1]))
        options_set_window_main_position(xy);
    if (options_window_main_position)
        g_key_file_set_integer_list(kf, "position", "window_main",
                                    options_window_main_position, 2);
    return kf;
}

}  // namespace

int options_clamp(int value, options_range range)
{
    return value < range.low ? range.low : value > range.high ? range.high : value;
}

void options_set_string(gchar **option, const char *value)
{
    gchar *copy = g_strdup(value);  // value may be the old string itself
    g_free(*option);
    *option = copy;
}

void options_blank_format_text(gchar *text)
{
    for (gchar *p = text; p && *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c < 0x20 || c == 0x7F || strchr("\"*,:?", c))
            *p = ' ';
    }
}

void options_set_window_main_position(const int *xy)
{
    if (!xy) {
        g_free(options_window_main_position);
        options_window_main_position = nullptr;
        return;
    }
    if (!options_window_main_position)
        options_window_main_position = g_new(int, 2);
    options_window_main_position[0] = xy[0];
    options_window_main_position[1] = xy[1];
}

void options_set_defaults()
{
    for (const string_option &o : STRING_OPTIONS)
        options_set_string(o.variable, o.fallback);
    for (const number_option &o : NUMBER_OPTIONS)
        *o.variable = o.fallback;
    options_sector_da_bg_color = {65535, 65535, 65535};
    options_set_string(&options_d64_dir_string, nullptr);
    options_set_string(&options_prg_dir_string, nullptr);
    options_set_string(&options_png_dir_string, nullptr);
    options_set_string(&options_rom_dir_string, nullptr);
    options_set_window_main_position(nullptr);
}

void options_load_from_data(const char *data, size_t length)
{
    GKeyFile *kf = g_key_file_new();
    if (data && g_key_file_load_from_data(kf, data, length, G_KEY_FILE_KEEP_COMMENTS, nullptr))
        load_keyfile(kf);
    else
        options_set_defaults();
    g_key_file_free(kf);
}

void options_load_from_file()
{
    if (!utf8_path_configfile)
        return;
    if (!g_file_test(utf8_path_configfile, G_FILE_TEST_EXISTS)) {
        options_set_defaults();
        options_save_to_file();
        return;
    }
    gchar *data = nullptr;
    gsize length = 0;
    if (g_file_get_contents(utf8_path_configfile, &data, &length, nullptr))
        options_load_from_data(data, length);
    else
        options_set_defaults();
    g_free(data);
}

gchar *options_build_file_text()
{
    GKeyFile *kf = build_keyfile();
    if (!kf)
        return nullptr;
    gchar *text = g_key_file_to_data(kf, nullptr, nullptr);
    g_key_file_free(kf);
    return text;
}

int options_save_to_file()
{
    if (!utf8_path_configfile)
        return 0;
    GKeyFile *kf = build_keyfile();
    if (!kf)
        return 0;
    // Replaces the file as a whole (temporary file and rename).
    gboolean ok = g_key_file_save_to_file(kf, utf8_path_configfile, nullptr);
    g_key_file_free(kf);
    return ok ? 1 : 0;
}

const char *options_module_init()
{
    gchar *folder = g_build_filename(g_get_user_config_dir(), CONFIG_FOLDER, nullptr);
    g_free(utf8_path_configfile);
    if (g_file_test(folder, G_FILE_TEST_IS_DIR) || g_mkdir_with_parents(folder, 0700) == 0) {
        utf8_path_configfile = g_build_filename(folder, CONFIG_FILE, nullptr);
    } else {
        gchar *cwd = g_get_current_dir();
        utf8_path_configfile = g_build_filename(cwd, CONFIG_FILE, nullptr);
        g_free(cwd);
    }
    g_free(folder);
    options_set_defaults();
    options_load_from_file();
    return utf8_path_configfile;
}

void options_module_shutdown()
{
    for (const string_option &o : STRING_OPTIONS)
        options_set_string(o.variable, nullptr);
    options_set_string(&options_d64_dir_string, nullptr);
    options_set_string(&options_prg_dir_string, nullptr);
    options_set_string(&options_png_dir_string, nullptr);
    options_set_string(&options_rom_dir_string, nullptr);
    options_set_window_main_position(nullptr);
    g_free(utf8_path_configfile);
    utf8_path_configfile = nullptr;
}

filer_naming options_file_naming(void)
{
    filer_naming naming;
    naming.uppercase_extension = options_file_extensions_uppercase;
    naming.uppercase_side = options_side_letters_uppercase;
    naming.flags_before_offset = options_special_flags_before_offset;
    naming.append_disk_name = options_append_disk_name;
    return naming;
}
