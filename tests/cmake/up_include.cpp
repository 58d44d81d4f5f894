// A handler file: it may include the window's header above it, and nothing
// else of app/.
#include "app/Unit1.h"
#include "app/CloseOnSignals.h"
