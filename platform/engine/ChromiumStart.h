#pragma once
// The Chromium engine's process-wide switches, which it reads once, when the
// first profile or page is made: where [network] routes send each host, no
// throttling of pages that are never shown, and the sandbox.

#include "platform/settings/Settings.h"

#include <QByteArray>

namespace platform::engine {

// The command-line switches for `settings`, added to what
// QTWEBENGINE_CHROMIUM_FLAGS already holds: every route as a host-resolver
// rule (the address and its Host header stay as they are), timers of unshown
// pages left at full speed, and, when `asRoot`, no sandbox (Chromium refuses
// to start its sandbox as root).
QByteArray ChromiumFlags(const Settings& settings, const QByteArray& fromEnvironment, bool asRoot);

// Sets the switches for the settings in force into the environment, once,
// before the engine starts; later calls do nothing. Running as root it says
// once on standard error that the sandbox is off.
void StartChromium();

}  // namespace platform::engine
