#pragma once
// Desks: the copies of the program that share one "Hotels_Db", each with a
// name of its own ([desk] name in the settings). Every row of "Going",
// "Destinations" and "Failures" carries its desk in the column "Desk", and
// a desk reads and writes only its own rows there; "Staymarker" is shared
// (one row per hotel, naming the desk that kept it last).
//
// An SQLite file holds one desk: there the desk takes over, at start, the
// pending rows the file holds under any other name (the machine was
// renamed, say), so nothing an earlier run left is out of its reach.
//
// Errors: every function here reports a failure by throwing EDatabaseError.

#include <QString>
#include <QStringList>

namespace store {

// The advisory locks of desks on PostgreSQL: class key and the call that
// locks the desk named by its one bound value, e.g.
// DeskLockCall("pg_try_advisory_lock") (InstanceLock.cpp).
inline constexpr int kDeskLockClass = 0x48746c73;  // "Htls"
QString DeskLockCall(const char* function);

// Gives `desk` the rows of "Going", "Destinations" and "Failures" written
// before desks existed (no desk), whole and in one transaction; on SQLite
// also the pending rows of other desk names (see above). On PostgreSQL two
// desks starting at once take turns, so the rows go to exactly one of them.
// Returns a line for each table that had rows to adopt.
QStringList AdoptRows(const QString& desk);

// Moves every row of "Going", "Destinations" and "Failures" of desk `from`
// to desk `to`, in one transaction: the pending work of a desk whose
// machine is gone for good. Refused (EDatabaseError saying which) while a
// copy of either desk runs, and for the same desk twice; a desk without
// rows is not an error. Returns a line per table saying how many rows moved.
QStringList HandOver(const QString& from, const QString& to);

}  // namespace store
