#pragma once
// Which engine loads, runs and reads the pages: the browser pane's and the
// off-screen detail pages'. Chosen once, before the first page loads.

#include "platform/settings/Settings.h"

namespace platform::engine {

// Makes `engine` the one every later load uses. Called at start (the
// program from its settings, tests from their harness); a load already
// under way keeps the engine it started with.
void UseEngine(BrowserEngine engine);

// The engine chosen by UseEngine; the settings' [browser] engine when
// UseEngine was never called.
BrowserEngine EngineInUse();

}  // namespace platform::engine
