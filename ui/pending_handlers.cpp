// Handlers of menu items and buttons whose jobs are not built yet.  Each
// does nothing; when a job lands, its module defines the handler and the
// placeholder here goes.
#include "ui/handlers.h"

