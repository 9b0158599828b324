// Options loader on arbitrary key-file text: loading must never crash, the
// range rules must hold afterwards, and what would be saved must load back
// to the very same text.  Works in memory only; no configuration is touched.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/options.h"

// A GLib warning or critical means misuse somewhere: make it a finding.
static void fail_on_glib_warning(const gchar *, GLogLevelFlags level, const gchar *message,
                                 gpointer)
{
    if (level & (G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_ERROR)) {
        fprintf(stderr, "GLib: %s\n", message);
        abort();
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_log_set_default_handler(fail_on_glib_warning, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    options_set_defaults();
    options_load_from_data(reinterpret_cast<const char *>(data), size);

    if (options_drive_index < 0 || options_drive_index > 3)
        abort();
    if (options_expansion != 1 && options_expansion != 2)
        abort();
    if (!options_device_port_string || !options_font_description_string)
        abort();

    gchar *first = options_build_file_text();
    if (!first)
        abort();
    options_load_from_data(first, strlen(first));
    gchar *second = options_build_file_text();
    if (!second || strcmp(first, second) != 0)
        abort();
    g_free(first);
    g_free(second);
    return 0;
}
