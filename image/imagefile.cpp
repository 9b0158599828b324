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

// One file of a save, written first under a temporary name beside its
// target so that the files of one save appear together.
struct pending_file {
    std::string target;
    std::string temp;
};

// Writes data to a fresh temporary file beside target.  1 on success, else
// 0 with *reason set and nothing left behind.
int write_temporary(const std::string &target, const char *data, size_t length,
                    std::vector<pending_file> *pending, std::string *reason)
{
    std::string pattern = target + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = g_mkstemp_full(name.data(), O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        *reason = g_strerror(errno);
        return 0;
    }
    int err = 0;
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : EIO;
            break;
        }
        data += n;
        length -= (size_t)n;
    }
    if (!err && fsync(fd) != 0)
        err = errno;
    if (close(fd) != 0 && !err)
        err = errno;
    if (err) {
        g_unlink(name.data());
        *reason = g_strerror(err);
        return 0;
    }
    pending->push_back({target, name.data()});
    return 1;
}

void remove_temporaries(const std::vector<pending_file> &pending)
{
    for (const pending_file &f : pending)
        g_unlink(f.temp.c_str());
}

// What the per-disk log file of a save holds: the log, after what an
// "-reread.log" already holds.
std::string log_contents(const char *log_name, const std::string &log, int reread)
{
    std::string text;
    gchar *old = nullptr;
    gsize old_length = 0;
    if (reread && g_file_test(log_name, G_FILE_TEST_IS_REGULAR) &&
        g_file_get_contents(log_name, &old, &old_length, nullptr))
        text.assign(old, old_length);
    g_free(old);
    return text + log;
}

// The line md5sum -c checks, or "" when there is no digest.
std::string digest_line(const char *path, const uint8_t *data, size_t length)
{
    gchar *hex = filer_md5_hex(data, length);
    if (!hex)
        return std::string();
    gchar *base = g_path_get_basename(path);
    std::string line = std::string(hex) + " *" + base + "\n";
    g_free(base);
    g_free(hex);
    return line;
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

    // Everything is written under temporary names first and renamed at the
    // end: a D64 never stands beside another image's log or digest, and a
    // save that fails leaves the files that were there as they were.
    int64_t size = filer_image_size_to_save(image);
    std::string log_name = std::string(path) + (reread ? "-reread.log" : ".log");
    std::string md5_name = std::string(path) + ".md5";
    // No per-disk log: any older file is left alone.
    bool with_log = log != nullptr;
    std::string log_text = with_log ? log_contents(log_name.c_str(), *log, reread) : std::string();
    // A digest already beside the file is kept in step with it: an old sum
    // beside a new image would call a good image damaged.
    bool with_md5 = want_md5 || g_file_test(md5_name.c_str(), G_FILE_TEST_EXISTS);
    std::string md5_text = with_md5 ? digest_line(path, image, (size_t)size) : std::string();
    std::vector<pending_file> pending;
    std::string reason;
    std::string failed = path;
    if (g_file_test(path, G_FILE_TEST_EXISTS) && !g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
        reason = g_file_test(path, G_FILE_TEST_IS_DIR) ? g_strerror(EISDIR) : "not a regular file";
    } else if (!write_temporary(path, (const char *)image, (size_t)size, &pending, &reason)) {
    } else if (with_log && (failed = log_name, !write_temporary(log_name, log_text.data(),
                                                                 log_text.size(), &pending,
                                                                 &reason))) {
    } else if (with_md5 && md5_text.empty()) {
        failed = md5_name;
        reason = "no MD5 digest";
    } else if (with_md5 && (failed = md5_name, !write_temporary(md5_name, md5_text.data(),
                                                                 md5_text.size(), &pending,
                                                                 &reason))) {
    } else {
        failed.clear();
        // The old digest goes first: between the renames the new image may
        // stand alone, never beside the old image's sum.
        if (g_file_test(md5_name.c_str(), G_FILE_TEST_EXISTS))
            g_unlink(md5_name.c_str());
        for (size_t i = 0; i < pending.size(); i++)
            if (g_rename(pending[i].temp.c_str(), pending[i].target.c_str()) != 0) {
                reason = g_strerror(errno);
                failed = pending[i].target;
                remove_temporaries(std::vector<pending_file>(pending.begin() + (long)i,
                                                             pending.end()));
                pending.clear();
                break;
            }
    }
    saved->error = reason;
    saved->failed = failed;
    if (!failed.empty() && (failed == path || !pending.empty())) {
        // Nothing was renamed, or the image itself was not: no file changed.
        remove_temporaries(pending);
        saved->failed = failed;
        return 0;
    }
    // The image is in place; a file beside it may not be.
    bool log_failed = failed == log_name, md5_failed = failed == md5_name;
    saved->log = with_log ? (log_failed ? 0 : 1) : -1;
    saved->md5 = with_md5 ? (md5_failed || log_failed ? 0 : 1) : -1;
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
