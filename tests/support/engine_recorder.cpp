#include "tests/support/engine_recorder.h"

void engine_recorder_event(engine_recorder *r)
{
    r->event_after_finish |= r->finished > 0;
}

engine_ui engine_recorder_ui(engine_recorder *r)
{
    engine_ui ui = {};
    ui.user = r;
    ui.log_line = [](void *user, const char *line, int) {
        engine_recorder *r = static_cast<engine_recorder *>(user);
        engine_recorder_event(r);
        r->log.push_back(line);
    };
    ui.finished = [](void *user, const engine_outcome *o) {
        engine_recorder *r = static_cast<engine_recorder *>(user);
        r->finished++;
        r->outcome = *o;
        for (const char *const *f = o->files; f && *f; f++)
            r->files.push_back(*f);
    };
    return ui;
}
