#pragma once
// The set-up tool hotelcrawler-initdb.

#include <QStringList>

#include <iosfwd>

namespace tools {

// The set-up tool, `[--settings FILE] [--hand-over DESK]`: creates the
// "Hotels_Db" tables when missing, upgrades those of an earlier version in
// place (store::EnsureHotelsDbTables), and tells on `out` what it did: a
// line per table ("created table ..." or "table exists: ..."), then
// "upgraded: ..." for each change the upgrade made. --settings makes FILE
// the settings in force first (see ApplySettingsOption); --help and
// --version answer on `out`.
//
// --hand-over DESK then moves DESK's rows to the desk of the settings in
// force (store::HandOver to its [desk] name) and prints each line it
// returns. DESK must be a good desk name (platform::DeskNameProblem), given
// once, and not the settings' own desk; those are checked before the
// database is touched. While either desk runs the hand-over is refused: the
// reason is on `err`, exit code 1, nothing moved (the tables are still
// created or upgraded).
//
// Returns the process exit code (ExitCode): 0 done, 1 database failure or
// refused hand-over (message on `err`, passwords masked), 2 wrong usage or
// an unreadable settings file (usage on `err`).
int RunInitDb(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace tools
