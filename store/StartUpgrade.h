#pragma once
// The program's upgrade of "Hotels_Db" at start, and its second chance
// before the first write.
//
// A database of an earlier version gains what this one keeps (Schema.h:
// UpgradeHotelsDb), and the rows written before desks become the desk's
// (Desk.h: AdoptRows). When the upgrade fails at start (a lock held
// elsewhere, a busy database, a server not up yet) the run must not write
// against the old tables: every write naming a new column would fail and,
// counted as its own fault, be set aside. The upgrade is then owed, and the
// write-through (GoingWriter) runs it again before it writes anything;
// while it keeps failing, the writes wait in memory like any others that
// cannot reach the database, and none is counted or set aside for it.
//
// Lines on standard error (platform::Report): each change the upgrade
// made, each table whose rows the desk took over, and why the upgrade or
// the take-over failed. A failed take-over is left to a later start:
// nothing is lost meanwhile.
//
// Window thread only (the owed upgrade is this process's).

#include <QString>

namespace store {

// Runs the upgrade and then the take-over for `desk`, telling what they did.
// When the upgrade fails, says so and owes it (see above). Returns whether
// the upgrade is done.
bool UpgradeAtStart(const QString& desk);

// Whether the start's upgrade is still owed.
bool UpgradeOwed();

// When the upgrade is owed: runs it again, and the take-over, as
// UpgradeAtStart does, and no longer owes it once it succeeded. Throws
// EDatabaseError, still owing it, when the upgrade fails again. Does
// nothing when nothing is owed.
void CatchUpUpgrade();

}  // namespace store
