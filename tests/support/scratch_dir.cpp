#include "tests/support/scratch_dir.h"

#include <sys/resource.h>

#include <csignal>

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

namespace {

bool run_quietly(const std::vector<std::string> &argv)
{
    std::vector<char *> args;
    for (const std::string &a : argv)
        args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    int status = -1;
    if (!g_spawn_sync(nullptr, args.data(), nullptr,
                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDOUT_TO_DEV_NULL |
                                  G_SPAWN_STDERR_TO_DEV_NULL),
                      nullptr, nullptr, nullptr, nullptr, &status, nullptr))
        return false;
    return g_spawn_check_wait_status(status, nullptr);
}

}  // namespace

bool scratch_mount_tmpfs(const std::string &dir, size_t bytes, bool read_only)
{
    std::string options = "size=" + std::to_string(bytes) + (read_only ? ",ro" : "");
    return run_quietly({"mount", "-t", "tmpfs", "-o", options, "tmpfs", dir});
}

void scratch_unmount(const std::string &dir)
{
    run_quietly({"umount", dir});
}

namespace {

struct rlimit size_limit_before;
void (*sigxfsz_before)(int) = SIG_DFL;
bool size_limited = false;

}  // namespace

bool scratch_file_size_limit(size_t bytes)
{
    if (!bytes)
        return true;
    if (!size_limited) {
        if (getrlimit(RLIMIT_FSIZE, &size_limit_before) != 0)
            return false;
        sigxfsz_before = signal(SIGXFSZ, SIG_IGN);
    }
    struct rlimit limit = size_limit_before;
    limit.rlim_cur = (rlim_t)bytes;
    size_limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    if (!size_limited)
        signal(SIGXFSZ, sigxfsz_before);
    return size_limited;
}

void scratch_file_size_unlimit(void)
{
    if (!size_limited)
        return;
    setrlimit(RLIMIT_FSIZE, &size_limit_before);
    signal(SIGXFSZ, sigxfsz_before);
    size_limited = false;
}
