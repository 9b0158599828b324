#include "image/imagefile.h"

#include <glib/gi18n-lib.h>
#include <glib/gstdio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/d64.h"
#include "image/directory.h"

gchar *utf8_path_lastopenfile_d64 = nullptr;

namespace {

// Written to a temporary file beside the target and renamed over it, so a
// failed write never costs the file that was there before.
gboolean write_file_atomically(const char *path, const char *data, gsize length, GError **error)
{
    return g_file_set_contents_full(path, data, (gssize)length,
                                    (GFileSetContentsFlags)(G_FILE_SET_CONTENTS_CONSISTENT |
                                                            G_FILE_SET_CONTENTS_DURABLE),
                                    0666, error);
}

// 1 written, 0 failed (*error set), -1 no per-disk log to write.
int write_log_file(const char *path, const std::string *text, int reread, GError **error)
{
    if (!text)
        return -1;  // no per-disk log: leave any older file alone
    const char *log = text->data();
    size_t length = text->size();
    gchar *name = g_strdup_printf("%s%s.log", path, reread ? "-reread" : "");
    gchar *old = nullptr;
    gsize old_length = 0;
    gboolean written;
    if (reread && g_file_test(name, G_FILE_TEST_IS_REGULAR) &&
        g_file_get_contents(name, &old, &old_length, nullptr)) {
        std::string joined(old, old_length);
        joined.append(log, length);
        written = write_file_atomically(name, joined.data(), joined.size(), error);
    } else {
        written = write_file_atomically(name, log, (gsize)length, error);
    }
    g_free(old);
    g_free(name);
    return written ? 1 : 0;
}

// 1 written, 0 failed (*error set).
int write_digest_file(const char *path, const uint8_t *data, size_t length, GError **error)
{
    gchar *hex = filer_md5_hex(data, length);
    if (!hex) {
        g_set_error_literal(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "no MD5 digest");
        return 0;
    }
    gchar *base = g_path_get_basename(path);
    // The line md5sum -c checks.
    gchar *text = g_strdup_printf("%s *%s\n", hex, base);
    gchar *name = g_strdup_printf("%s.md5", path);
    gboolean written = write_file_atomically(name, text, strlen(text), error);
    g_free(name);
    g_free(text);
    g_free(base);
    g_free(hex);
    return written ? 1 : 0;
}

// Keeps the first failure's message for the caller.
void note_failure(filer_saved *saved, GError *error)
{
    if (saved && saved->error.empty())
        saved->error = error ? error->message : "unknown error";
    if (error)
        g_error_free(error);
}

struct dump_patterns {
    const char *auto_before;
    const char *auto_after;
    const char *suggest_before;
    const char *suggest_after;
};

const dump_patterns PATTERNS[] = {
    {"%04d%c%s%s.%s", "%04d%c%s%s.%s", "%s.%s", "%s.%s"},
    {"T18_%04d%c%s%s.%s", "%04d%c_T18%s%s.%s", "T18_%s.%s", "%s_T18.%s"},
    {"T18+_%04d%c%s%s.%s", "%04d%c_T18+%s%s.%s", "T18+_%s.%s", "%s_T18+.%s"},
    {"BAM_%04d%c%s%s.%s", "%04d%c_BAM%s%s.%s", "BAM_%s.%s", "%s_BAM.%s"},
};

const dump_patterns &patterns_of(filer_dump_kind kind)
{
    int i = (int)kind;
    if (i < 0 || i >= (int)G_N_ELEMENTS(PATTERNS))
        i = 0;
    return PATTERNS[i];
}

// Reads the file, or refuses one of more than limit bytes by its size
// without reading it whole.  A directory gets GLib's read error.  Failures carry GLib's own message, which names
// the file by its display name (a raw path need not be valid UTF-8).
int read_bounded(const char *path, size_t limit, std::vector<uint8_t> &out, GError **error)
{
    GStatBuf st;
    int known = g_stat(path, &st) == 0;
    if (known && S_ISREG(st.st_mode) && (guint64)st.st_size > limit) {
        out.assign(limit + 1, 0);
        return 1;
    }
    if (known && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        // A pipe would block the window and a device may never end: never
        // opened.
        gchar *shown = g_filename_display_name(path);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL, _("Not a regular file: “%s”"), shown);
        g_free(shown);
        return 0;
    }
    gchar *contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path, &contents, &length, error))
        return 0;
    out.assign(contents, contents + std::min((size_t)length, limit + 1));
    g_free(contents);
    return 1;
}

}  // namespace

void filer_forget_image_path(void)
{
    g_free(utf8_path_lastopenfile_d64);
    utf8_path_lastopenfile_d64 = nullptr;
}

int64_t filer_image_size_to_save(const uint8_t *image)
{
    const uint8_t *info = image + d64_base_size;
    for (int64_t i = 0; i < d64_block_error_info_size; i++)
        if (info[i] != D64_ERR_OK)
            return d64_base_size + d64_block_error_info_size;
    return d64_base_size;
}

int filer_save_d64(const char *path, const uint8_t *image, const std::string *log, int reread,
                   int want_md5, filer_saved *saved)
{
    filer_saved none;
    if (!saved)
        saved = &none;
    *saved = filer_saved{};
    if (!path) {
        saved->error = "no file name";
        return 0;
    }
    int64_t size = filer_image_size_to_save(image);
    GError *error = nullptr;
    if (!write_file_atomically(path, (const char *)image, (gsize)size, &error)) {
        note_failure(saved, error);
        return 0;
    }
    GError *log_error = nullptr;
    saved->log = write_log_file(path, log, reread, &log_error);
    if (saved->log == 0)
        note_failure(saved, log_error);
    // A digest already beside the file is kept in step with it: an old sum
    // beside a new image would call a good image damaged.
    gchar *digest = g_strdup_printf("%s.md5", path);
    if (want_md5 || g_file_test(digest, G_FILE_TEST_EXISTS)) {
        GError *md5_error = nullptr;
        saved->md5 = write_digest_file(path, image, (size_t)size, &md5_error);
        if (saved->md5 == 0)
            note_failure(saved, md5_error);
    }
    g_free(digest);
    return 1;
}

gchar *filer_overwrite_markup(const char *path, const char *folder_path)
{
    gchar *name = g_filename_display_basename(path);
    // The image folder names where the file is; a path built without one
    // (folder unset) is named by its own folder.
    gchar *dir = folder_path ? g_strdup(folder_path) : g_path_get_dirname(path);
    gchar *folder = g_filename_display_basename(dir);
    gchar *markup = g_markup_printf_escaped(
        _("<span size=\"x-large\"><b>A file named \"%s\" already exists. Do you want to "
          "replace it?</b></span>\n\nThe file already exists in \"%s\". Replacing it will "
          "overwrite its contents."),
        name, folder);
    g_free(folder);
    g_free(dir);
    g_free(name);
    return markup;
}

int filer_read_d64_file(const char *path, std::vector<uint8_t> *image, GError **error)
{
    const size_t plain = (size_t)d64_base_size;
    const size_t with_info = (size_t)(d64_base_size + d64_block_error_info_size);
    if (!read_bounded(path, with_info, *image, error))
        return 0;
    if (image->size() != plain && image->size() != with_info) {
        gchar *shown = g_filename_display_name(path);
        g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_INVAL,
                    "%s is no %d-track D64 image (%s)", shown, TRACKS,
                    image->size() > with_info ? "too long" : "wrong size");
        g_free(shown);
        return 0;
    }
    image->resize(with_info, D64_ERR_OK);
    return 1;
}

void sanitize_filename(char *name)
{
    if (!name)
        return;
    unsigned char copy[17];
    memcpy(copy, name, sizeof copy);
    copy[16] = 0;
    for (int i = 0; i < 16 && copy[i]; i++) {
        unsigned char c = copy[i];
        bool keep = g_ascii_isalnum(c) || strchr("!()+-.", c) != nullptr;
        if (!keep)
            copy[i] = ' ';
    }
    auto blank = [](unsigned char c) { return g_ascii_isspace(c) || c == 0xA0; };
    unsigned char *start = copy;
    while (*start && blank(*start))
        start++;
    size_t n = strlen((const char *)start);
    while (n > 0 && blank(start[n - 1]))
        n--;
    memmove(name, start, n);
    name[n] = '\0';
}

void filer_auto_naming_advance(int *side_b, int *offset)
{
    if (!*side_b) {
        *side_b = 1;
        return;
    }
    *offset = (*offset + 1) % 10000;
    if (*offset <= 0)
        *offset = 1;
    *side_b = 0;
}

const char *filer_d64_extension(const filer_naming &naming)
{
    return naming.uppercase_extension ? "D64" : "d64";
}

gchar *filer_auto_name(const filer_naming &naming, filer_dump_kind kind, int offset, int side_b,
                       const char *disk_name)
{
    const dump_patterns &p = patterns_of(kind);
    const char *format = naming.flags_before_offset ? p.auto_before : p.auto_after;
    char side = side_b ? 'B' : 'A';
    if (!naming.uppercase_side)
        side = g_ascii_tolower(side);
    bool append = naming.append_disk_name && disk_name;
    return g_strdup_printf(format, offset, side, append ? "_" : "", append ? disk_name : "",
                           filer_d64_extension(naming));
}

gchar *filer_suggested_name(const filer_naming &naming, filer_dump_kind kind,
                            const char *disk_name)
{
    const dump_patterns &p = patterns_of(kind);
    const char *format = naming.flags_before_offset ? p.suggest_before : p.suggest_after;
    return g_strdup_printf(format, disk_name ? disk_name : "", filer_d64_extension(naming));
}

gchar *filer_auto_name_path(const filer_naming &naming, filer_dump_kind kind, const char *folder,
                            int offset, int side_b, const char *disk_name)
{
    gchar *name = filer_auto_name(naming, kind, offset, side_b, disk_name);
    if (!folder)
        return name;
    gchar *path = g_build_filename(folder, name, nullptr);
    g_free(name);
    return path;
}

void filer_disk_name_for_file(const uint8_t *image, int has_read_data, char *name17)
{
    if (!has_read_data) {
        g_strlcpy(name17, "UNFORMATTED", D64_NAME_BUFFER_SIZE);
        return;
    }
    d64_get_diskname(image, name17);
    sanitize_filename(name17);
    if (!name17[0])
        g_strlcpy(name17, "NO NAME", D64_NAME_BUFFER_SIZE);
}

gchar *filer_md5_hex(const void *data, size_t length)
{
    return g_compute_checksum_for_data(G_CHECKSUM_MD5, (const guchar *)data, length);
}

int filer_load_d64_image(const char *path, guint64 *file_size, filer_load_problem *problem)
{
    filer_load_problem ignored;
    if (!problem)
        problem = &ignored;
    const size_t plain = (size_t)d64_base_size;
    const size_t with_info = (size_t)(d64_base_size + d64_block_error_info_size);
    std::vector<uint8_t> data;
    GError *error = nullptr;
    if (!path || !read_bounded(path, with_info, data, &error)) {
        problem->status = _(" Load failed: Unable to load from image");
        problem->reason = "Unable to load from image";
        problem->log = std::string("Unable to load from image: ") +
                       (error ? error->message : "no file") + "\n";
        g_clear_error(&error);
        return 0;
    }
    if (data.size() != plain && data.size() != with_info) {
        problem->status = _(" Load failed: Image size is not as expected");
        problem->reason = "Image size is not as expected";
        problem->log = TRACKS == 40 ? "Image size is not as expected for a 40-track disk\n"
                                    : "Image size is not as expected for a 35-track disk\n";
        filer_forget_image_path();
        return 0;
    }
    memcpy(d64_storage, data.data(), data.size());
    if (data.size() == plain)
        d64_init_error_info_contents(d64_storage, D64_ERR_OK);
    if (file_size)
        *file_size = data.size();
    return 1;
}
