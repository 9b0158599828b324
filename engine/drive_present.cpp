// The check every drive job makes before it reads or writes anything: the
// drive must answer on its error channel, as it does for the board-info job.
// Without it, a job for an absent drive runs on a bus with no listener and
// reports no-sync sectors, an all-$FF ROM or a write that went nowhere.
#include "engine/engine.h"

#include "device/console.h"

const char *engine_sync_with_drive(int handle, int device)
{
    if (!console_synch_with_device(handle, engine_abort_flag()))
        return console_text_unable_to_sync;
    if (device < ENGINE_FIRST_DEVICE || device > ENGINE_LAST_DEVICE)
        return nullptr;
    // Reading the channel clears it; every job reads it afresh when it needs it.
    char status[ENGINE_STATUS_SIZE];
    if (const char *failure = console_request_status(handle, device, status, sizeof status,
                                                     engine_abort_flag()))
        return failure;
    if (!console_synch_with_device(handle, engine_abort_flag()))
        return console_text_unable_to_sync;
    return nullptr;
}
