#pragma once
// The set-up tool hotelcrawler-initdb.

#include <QStringList>

#include <iosfwd>

namespace tools {

// The set-up tool, `[--settings FILE]`: creates the "Hotels_Db" tables when
// missing, upgrades those of an earlier version in place
// (store::EnsureHotelsDbTables), and tells on `out` what it did: a line per
// table ("created table ..." or "table exists: ..."), then "upgraded: ..."
// for each change the upgrade made. --settings makes FILE the settings
// in force first (see ApplySettingsOption); --help and --version answer on
// `out`. Returns the process exit code (ExitCode): 0 done, 1 database
// failure (message on `err`, passwords masked), 2 wrong usage or an
// unreadable settings file (usage on `err`).
int RunInitDb(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace tools
