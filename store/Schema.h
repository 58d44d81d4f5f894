#pragma once
// The two tables of the "Hotels_Db" database and their creation.
//
//   "Going"      "Id" integer key assigned on insert (keeps the natural order
//                stable), "Url" text, "AirPort" text: pending detail links.
//   "Staymarker" "Url" text primary key, then "AirPort", "HeaderBar",
//                "HotelInfo", "Direction", "Dining", "Transportation",
//                "PropertyInformation", "Services", "RatingsAwards",
//                "Attractions", "PhotoUrl", "ExtractedAt" (UTC ISO 8601), all
//                text: one extracted hotel per row.
//
// The window never creates tables; these functions are for the first-run
// step of the program entry and for the set-up tool.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "platform/base/AnsiString.h"

#include <QString>
#include <QStringList>

namespace store {

// The CREATE TABLE statement of `table` ("Going" or "Staymarker") for a Qt
// Sql driver name ("QSQLITE" or "QPSQL"); empty for anything else.
QString CreateTableSql(const QString& table, const QString& driverName);

// Creates the tables the alias's database lacks, in one transaction, and
// returns the names of those it created (empty when all existed), then
// upgrades it (UpgradeHotelsDb). A missing SQLite file, and its folder, are
// created first. Throws EDatabaseError.
QStringList EnsureHotelsDbTables(const AnsiString& alias);

// Brings a database of an earlier version up to this one in place, in one
// transaction: adds the retry columns "Going" lacks, the tables "Failures"
// and "Destinations" when missing, and on PostgreSQL indexes the addresses
// of "Going" and "Staymarker" by their digest instead of their text, so that
// an address of any length (64 KiB and more) is stored and found. No row is
// changed or lost, and the previous version can still read "Going". Does
// nothing to a database without "Going" (its window reports that one).
// Returns a line for each change made (empty when up to date). Throws
// EDatabaseError.
QStringList UpgradeHotelsDb(const AnsiString& alias);

// First start on this machine: when "Hotels_Db" resolves to the embedded
// default file and that file does not exist yet, creates it with both tables.
// Otherwise does nothing. Throws EDatabaseError when the creation fails.
void PrepareFirstRun();

}  // namespace store
