#include "engine/destination.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Creating a file is the one test that also sees read-only mounts, full
// inode tables and what root may not do.
bool folder_takes_files(const char *folder)
{
    gchar *probe = g_build_filename(folder, ".dravlen-probe-XXXXXX", nullptr);
    int fd = g_mkstemp(probe);
    bool ok = fd >= 0;
    if (ok) {
        close(fd);
        g_unlink(probe);
    }
    g_free(probe);
    return ok;
}

bool exists(const std::string &path)
{
    return g_file_test(path.c_str(), G_FILE_TEST_EXISTS) ||
           g_file_test(path.c_str(), G_FILE_TEST_IS_SYMLINK);
}

}  // namespace

destination_verdict destination_check_folder(const char *folder)
{
    if (!g_file_test(folder, G_FILE_TEST_IS_DIR))
        return DESTINATION_NO_FOLDER;
    return folder_takes_files(folder) ? DESTINATION_OK : DESTINATION_FOLDER_REFUSES;
}

destination_verdict destination_check(const char *path)
{
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode))
        return DESTINATION_NOT_A_FILE;
    gchar *folder = g_path_get_dirname(path);
    destination_verdict verdict = destination_check_folder(folder);
    g_free(folder);
    if (verdict == DESTINATION_OK && g_file_test(path, G_FILE_TEST_EXISTS))
        verdict = DESTINATION_TAKEN;
    return verdict;
}

const char *destination_text(destination_verdict verdict)
{
    switch (verdict) {
    case DESTINATION_OK:
        return "";
    case DESTINATION_TAKEN:
        return "file exists";
    case DESTINATION_NO_FOLDER:
        return "no such folder";
    case DESTINATION_FOLDER_REFUSES:
        return "the folder does not take new files";
    case DESTINATION_NOT_A_FILE:
        return "not a regular file";
    }
    return "";
}

std::string destination_free_name(const std::string &path)
{
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1))
        dot = path.size();
    for (int n = 1;; n++) {
        std::string name = path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
        if (!exists(name) && !exists(name + ".log") && !exists(name + ".md5") &&
            !exists(name + "-reread.log"))
            return name;
    }
}
