#include "engine/operation_state.h"

operation_data ped;
std::mutex lock_ped;
std::atomic<int> flag_abort_requested{0};

void ped_set_progress(double fraction)
{
    std::lock_guard<std::mutex> guard(lock_ped);
    ped.progress = fraction;
}

double ped_get_progress()
{
    std::lock_guard<std::mutex> guard(lock_ped);
    return ped.progress;
}

static std::atomic<int> operation_running{0};

void operation_set_running(int running)
{
    operation_running.store(running, std::memory_order_relaxed);
}

int operation_is_running(void)
{
    return operation_running.load(std::memory_order_relaxed);
}
