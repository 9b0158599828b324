// Questions that a worker's job asks the user on its way: the worker waits
// while the window asks them as yes/no dialogs.
#pragma once

#include "engine/engine.h"

// engine_ui::ask for a worker thread: shows `text` in a yes/no dialog on the
// GUI thread and waits for the answer.  1 for yes.
int questions_ask_from_worker(void *user, engine_question question, const char *text);
