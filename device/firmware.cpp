#include "device/firmware.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>

const char firmware_file_name[] = "dravlen32u4.hex";

int firmware_save_firmware(void)
{
    // The terminator goes into the file too; avrdude stops reading at the
    // end-of-file record before it.
    return g_file_set_contents(firmware_file_name, firmware, (gssize)strlen(firmware) + 1,
                               nullptr)
               ? 1
               : 0;
}

int firmware_unlink_firmware(void)
{
    if (g_unlink(firmware_file_name) == 0 || errno == ENOENT)
        return 1;
    return 0;
}
