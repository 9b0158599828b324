#include "engine/engine.h"

#include "engine/operation_state.h"
#include "engine/options.h"

std::atomic<int> *engine_abort_flag(void)
{
    return &flag_abort_requested;
}

namespace {

// How many aborts came since the last clear: a second one means "keep
// nothing" to a job that keeps what it read when it is stopped early.
std::atomic<int> abort_requests{0};

}  // namespace

void engine_request_abort(void)
{
    // Lock-free atomic operations: fine inside a signal handler.
    flag_abort_requested.store(1, std::memory_order_relaxed);
    if (abort_requests.load(std::memory_order_relaxed) < 2)
        abort_requests.fetch_add(1, std::memory_order_relaxed);
}

void engine_clear_abort(void)
{
    flag_abort_requested.store(0, std::memory_order_relaxed);
    abort_requests.store(0, std::memory_order_relaxed);
}

int engine_abort_repeated(void)
{
    return abort_requests.load(std::memory_order_relaxed) >= 2;
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
