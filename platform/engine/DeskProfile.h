#pragma once
// The desk's browser profile: one per desk, persistent in the user's data
// folder, shared by the browser pane and the off-screen page, so that a
// cookie any page sets (HttpOnly ones too) goes with every later request of
// either, and survives a restart and a kill.

#include <QString>

class QWebEngineProfile;

namespace platform::engine {

class CookieJournal;

// Names the desk whose profile DeskProfile() makes and whose folder
// DeskProfileFolder() is. Called once, before the first of those calls:
// the program with the desk it has just claimed, before its window (whose
// browser pane makes a page as it is built); a test or benchmark program
// from its harness. Without it, DeskProfile() and DeskProfileFolder() stop
// the program with a message saying so; so does a call that would change
// the desk of a profile already made. Window thread only.
void UseDesk(const QString& deskName);

// The profile of the desk given to UseDesk, made on first use (it starts
// the engine: see StartChromium) as a child of the application object.
// Its folder is DeskProfileFolder(); it sends [browser] user_agent when one
// is set; it refuses every download (one line on standard error each).
// Window thread only; needs a QApplication.
QWebEngineProfile* DeskProfile();

// The profile's cookie journal; flushed by the loads after every page.
CookieJournal& DeskCookies();

// <data folder>/browser/<desk name>.
QString DeskProfileFolder();

}  // namespace platform::engine
