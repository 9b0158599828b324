#include "device/firmware.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <glib/gi18n.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const char firmware_file_name[] = "dravlen32u4.hex";

int firmware_save_firmware(void)
{
    return firmware_save_firmware_in(".");
}

int firmware_save_firmware_in(const char *folder)
{
    char *path = g_build_filename(folder, firmware_file_name, nullptr);
    // The terminator goes into the file too; avrdude stops reading at the
    // end-of-file record before it.
    int ok = g_file_set_contents(path, firmware, (gssize)strlen(firmware) + 1, nullptr) ? 1 : 0;
    g_free(path);
    return ok;
}

int firmware_unlink_firmware(void)
{
    if (g_unlink(firmware_file_name) == 0 || errno == ENOENT)
        return 1;
    return 0;
}

// "<digits>" at *p into *value; false without digits or on overflow.
static bool read_number(const char **p, int *value)
{
    if (!g_ascii_isdigit(**p))
        return false;
    errno = 0;
    char *end = nullptr;
    long v = strtol(*p, &end, 10);
    if (errno == ERANGE || v > INT_MAX)
        return false;
    *value = (int)v;
    *p = end;
    return true;
}

const char *firmware_version_verdict(const char *version)
{
    const char *p = version;
    int major, minor;
    if (!read_number(&p, &major) || *p++ != '.' || !read_number(&p, &minor))
        return N_("unknown version");
    long long diff = ((long long)major - FIRMWARE_VERSION_MAJOR) * 1000 + minor -
                     FIRMWARE_VERSION_MINOR;
    if (diff == 0)
        return N_("current");
    return diff < 0 ? N_("should upgrade") : N_("should downgrade");
}
