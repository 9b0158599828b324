// File choosers for D64, PRG and PNG files and the working folder, with the
// folder memory kept in the options and the D64 preview.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

GtkWidget *create_filechooserdialog_save(const char *title);
GtkWidget *create_filechooserdialog_load(const char *title);
GtkWidget *create_filechooserdialog_select_folder(void);

// Each returns 1 and a newly allocated path in *path when accepted, else 0.
int fileopen_save_d64_file(const char *suggested_name, char **path);
int fileopen_load_d64_file(char **path, const char *title, const char *preselected_path);
int fileopen_save_prg_file(const char *suggested_name, char **path, const char *title);
int fileopen_load_prg_file(char **path);
// A drive ROM dump: a PRG chooser with a folder memory of its own.
int fileopen_save_rom_file(const char *suggested_name, char **path, const char *title);
// An Intel HEX file to flash onto the board.
int fileopen_load_firmware_file(char **path);
int fileopen_save_png_file(const char *suggested_name, char **path, const char *title);
// 1 when a folder was chosen; it is stored in options_d64_dir_string.
int fileopen_select_folder(void);

// Kinds of files, each with the last folder used for it.
enum { FILEOPEN_IMAGES, FILEOPEN_PRG, FILEOPEN_PNG, FILEOPEN_ROM };
// Where a chooser for that kind opens: its last folder, else the image
// folder setting, else the home folder.  Newly allocated.
char *fileopen_start_folder(int kind);

// The name a PRG is saved under: ".PRG" is added unless the name is longer
// than three characters and already ends in ".PRG" or ".prg".  Newly allocated.
char *fileopen_prg_name_with_extension(const char *path);

// What the D64 preview shows for a file's contents.  `image` is a copy of
// the file in a buffer of at least D64_STORAGE_SIZE bytes; a directory found
// on track 19 or 20 is copied over track 18 in it.  Returns 0 when the size
// is not that of an image (label "Sector errors: N/A").
struct fileopen_d64_preview {
    int shifted_track;  // 19 or 20 when the directory came from there, else 0
    char label[64];     // "Sector errors: ..."
};
int fileopen_d64_preview_examine(uint8_t *image, int64_t size, fileopen_d64_preview *preview);

// The load D64 chooser with its preview, and what its preview shows for the
// file `name` (1 when it is an image; label and picture are updated).
GtkWidget *fileopen_create_load_d64_dialog(const char *title);
int fileopen_d64_preview_show(GtkWidget *dialog, const char *name);

// Directory drawing for the previews, supplied by the directory view: draws
// the image's directory at least `min_rows` text rows tall (null when none).
extern GdkPixbuf *(*fileopen_preview_draw_directory)(const uint8_t *image, int min_rows);
// Turns the blues of a drawing red (a listing from a shifted track).
extern void (*fileopen_preview_blues_to_reds)(GdkPixbuf *pixbuf);
