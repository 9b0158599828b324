// Process-wide settings and the options file "user.ini" that keeps them.
// GLib only: the GUI copies these into its widgets and back.
#pragma once

#include <glib.h>
#include <cstddef>

#include "image/imagefile.h"

// A colour as three 16-bit components (the GUI turns it into a GdkColor).
struct options_color {
    guint16 red;
    guint16 green;
    guint16 blue;
};

// Full path of the options file, settled by options_module_init; owned here.
extern gchar *utf8_path_configfile;

// [connection]
extern gchar *options_device_port_string;      // "" stops every device operation
extern gchar *options_bootloader_port_string;
// [format]
extern gchar *options_disk_name_string;
extern gchar *options_disk_id_string;
// [imaging]
extern int options_drive_index;                // 0..3 for devices 8..11
extern int options_max_sector_errors;
extern int options_sector_read_retries;
extern int options_outmost_track;

// What the window's spin buttons allow for the read settings; the options
// file's values and the command line's flags are held to the same.
struct options_range {
    int low, high;
};
extern const options_range options_range_sector_read_retries;  // 0 to 100
extern const options_range options_range_max_sector_errors;    // 0 to 1000
extern const options_range options_range_outmost_track;        // 1 to 5
// `value` held to the range.
int options_clamp(int value, options_range range);
extern int options_first_sector_in_dir_order;
// [directories]: folder paths (file names, not URIs) or NULL
extern gchar *options_d64_dir_string;
extern gchar *options_prg_dir_string;
extern gchar *options_png_dir_string;  // last folder of PNG exports
extern gchar *options_rom_dir_string;  // last folder of drive ROM dumps
// [colors]
extern options_color options_sector_da_bg_color;
// [outputs]
extern int options_file_extensions_uppercase;
extern int options_side_letters_uppercase;
extern int options_special_flags_before_offset;
extern int options_append_disk_name;
extern int options_confirm_overwrite;
// [notifications]
extern int options_notify_tracks_beyond_35;
extern int options_notify_side_b_1571;
// [retries]
extern int options_retry_sectors_once_per_pass;
// [misc]
extern int options_include_scr_files;
extern int options_double_png_dimensions;
extern int options_create_md5_digest;
// After a restore, read the disk back and compare it with the image.
extern int options_verify_after_restore;
// [interface]
extern gchar *options_font_description_string;
extern int options_expansion;                  // 1 for 2x, 2 for 4x
// [position]: NULL, or two ints x, y (g_malloc'd)
extern int *options_window_main_position;

// Set by the GUI: stores the main window's current position and returns 1,
// or returns 0 when there is no window.  Without a hook (or when it returns
// 0) saving writes the last known position, if any.
extern int (*options_window_position_hook)(int *x, int *y);

// How generated file names look, as the [outputs] settings say.
filer_naming options_file_naming(void);

// Settles the folder and path, loads the file, returns utf8_path_configfile.
const char *options_module_init();
// Loads utf8_path_configfile into the variables; a missing file gets the
// defaults and is written at once.
void options_load_from_file();
// Loads a key file held in memory (same rules as the file, minus creating it).
void options_load_from_data(const char *data, size_t length);
// Writes every variable to utf8_path_configfile; 1 on success, 0 on failure.
int options_save_to_file();
// The text options_save_to_file writes (g_free it), or NULL when it cannot
// be built.
gchar *options_build_file_text();

// Every variable to its default (frees the strings it replaces).
void options_set_defaults();
// Replaces an option string with a copy of value (NULL allowed), freeing the
// old one.
void options_set_string(gchar **option, const char *value);
// Blanks, in place, what would break the drive commands that carry a disk
// name or ID ("N:name,id", "ff" with "name,id"): control characters such as
// CR and LF, which would end the command line, quotes, which would end its
// argument, and the separators and wildcards "*,:?".  NULL is allowed.
void options_blank_format_text(gchar *text);
// Replaces the main window position; NULL forgets it.
void options_set_window_main_position(const int *xy);
// Frees every owned string (end of run, leak checks).
void options_module_shutdown();
