#include "engine/input_file.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>


engine_input_result engine_read_input_file(const char *path, size_t max_size, std::string *out,
                                           long long *size, char **message,
                                           std::atomic<int> *abort)
{
    out->clear();
    *size = 0;
    *message = nullptr;
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *message = g_strdup_printf("cannot read %s: %s", path, g_strerror(errno));
        return ENGINE_INPUT_UNREADABLE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        *message = g_strdup_printf("cannot read %s: %s", path, g_strerror(errno));
        close(fd);
        return ENGINE_INPUT_UNREADABLE;
    }
    if (!S_ISREG(st.st_mode)) {
        *message = g_strdup_printf(S_ISDIR(st.st_mode) ? "%s is a folder, not a file"
                                                       : "%s is not a regular file",
                                   path);
        close(fd);
        return ENGINE_INPUT_NOT_REGULAR;
    }
    *size = (long long)st.st_size;
    if ((unsigned long long)st.st_size > max_size) {
        *message = g_strdup_printf("%s is too large: %lld bytes, at most %zu", path,
                                   (long long)st.st_size, max_size);
        close(fd);
        return ENGINE_INPUT_TOO_LARGE;
    }
    // A file that grows while it is read still stops one byte past the limit.
    out->resize(max_size + 1);
    size_t have = 0;
    while (have < out->size()) {
        if (abort && abort->load()) {
            *message = g_strdup_printf("reading %s interrupted", path);
            close(fd);
            out->clear();
            return ENGINE_INPUT_ABORTED;
        }
        size_t want = std::min<size_t>(out->size() - have, 65536);
        ssize_t n = read(fd, &(*out)[have], want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            *message = g_strdup_printf("cannot read %s: %s", path, g_strerror(errno));
            close(fd);
            out->clear();
            return ENGINE_INPUT_UNREADABLE;
        }
        if (n == 0)
            break;
        have += (size_t)n;
    }
    close(fd);
    out->resize(have);
    *size = (long long)have;
    if (have > max_size) {
        *message = g_strdup_printf("%s is too large: more than %zu bytes", path, max_size);
        out->clear();
        return ENGINE_INPUT_TOO_LARGE;
    }
    return ENGINE_INPUT_READ;
}
