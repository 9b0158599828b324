// Records what an engine operation tells its engine_ui, for tests of the
// engine's contract: the log, one outcome, and nothing after it.
#pragma once

#include <string>
#include <vector>

#include "engine/engine.h"

struct engine_recorder {
    std::vector<std::string> log;  // log lines in order; tests may put other events between
    int finished = 0;              // how often finished came
    bool event_after_finish = false;
    engine_outcome outcome = {};
    std::vector<std::string> files;  // the outcome's, kept past the call
};

// A ui whose log_line and finished record into `r`; tests add the other
// callbacks (calling engine_recorder_event from them).
engine_ui engine_recorder_ui(engine_recorder *r);
// Notes an event: one after finished breaks the contract.
void engine_recorder_event(engine_recorder *r);
