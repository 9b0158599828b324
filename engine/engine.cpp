#include "engine/engine.h"

#include "engine/operation_state.h"
#include "engine/options.h"

std::atomic<int> *engine_abort_flag(void)
{
    return &flag_abort_requested;
}

void engine_request_abort(void)
{
    // A lock-free atomic store: fine inside a signal handler.
    flag_abort_requested.store(1, std::memory_order_relaxed);
}

void engine_clear_abort(void)
{
    flag_abort_requested.store(0, std::memory_order_relaxed);
}

int engine_abort_requested(void)
{
    return flag_abort_requested.load(std::memory_order_relaxed) != 0;
}

char *engine_load_options_read_only(void)
{
    // Same place as the GUI's options file; nothing is created here.
    char *path = g_build_filename(g_get_user_config_dir(), "dravlen-client", "user.ini", nullptr);
    gchar *data = nullptr;
    gsize length = 0;
    options_set_defaults();
    if (g_file_get_contents(path, &data, &length, nullptr))
        options_load_from_data(data, length);
    else
        options_set_defaults();
    g_free(data);
    return path;
}
