#include "tests/support/scratch_dir.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <vector>

std::string scratch_dir_new()
{
    gchar *dir = g_dir_make_tmp("dravlen-test-XXXXXX", nullptr);
    std::string out = dir ? dir : "";
    g_free(dir);
    return out;
}

void scratch_dir_remove(const std::string &dir)
{
    if (dir.empty())
        return;
    if (g_file_test(dir.c_str(), G_FILE_TEST_IS_DIR) &&
        !g_file_test(dir.c_str(), G_FILE_TEST_IS_SYMLINK)) {
        g_chmod(dir.c_str(), 0700);
        if (GDir *d = g_dir_open(dir.c_str(), 0, nullptr)) {
            while (const char *name = g_dir_read_name(d))
                scratch_dir_remove(dir + "/" + name);
            g_dir_close(d);
        }
        g_rmdir(dir.c_str());
    } else {
        g_unlink(dir.c_str());
    }
}

std::string scratch_read(const std::string &path, bool *ok)
{
    gchar *data = nullptr;
    gsize length = 0;
    bool got = g_file_get_contents(path.c_str(), &data, &length, nullptr);
    if (ok)
        *ok = got;
    std::string out = got ? std::string(data, length) : std::string();
    g_free(data);
    return out;
}

bool scratch_write(const std::string &path, const std::string &data)
{
    return g_file_set_contents(path.c_str(), data.data(), (gssize)data.size(), nullptr);
}

std::string scratch_list(const std::string &dir)
{
    std::vector<std::string> names;
    if (GDir *d = g_dir_open(dir.c_str(), 0, nullptr)) {
        while (const char *name = g_dir_read_name(d))
            names.push_back(name);
        g_dir_close(d);
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : " ") + n;
    return out;
}
