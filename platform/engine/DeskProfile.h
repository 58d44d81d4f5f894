#pragma once
// The desk's browser profile: one per desk, persistent in the user's data
// folder, shared by the browser pane and the off-screen page, so that a
// cookie any page sets (HttpOnly ones too) goes with every later request of
// either, and survives a restart and a kill.

#include <QString>

class QWebEngineProfile;

namespace platform::engine {

class CookieJournal;

// The profile of the desk in the settings in force, made on first use (it
// starts the engine: see StartChromium) as a child of the application
// object. Its folder is DeskProfileFolder(); it sends [browser] user_agent
// when one is set; it refuses every download (one line on standard error
// each). Window thread only; needs a QApplication.
QWebEngineProfile* DeskProfile();

// The profile's cookie journal; flushed by the loads after every page.
CookieJournal& DeskCookies();

// <data folder>/browser/<desk name>.
QString DeskProfileFolder();

}  // namespace platform::engine
