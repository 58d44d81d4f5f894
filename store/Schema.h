#pragma once
// The tables of the "Hotels_Db" database, their creation and their upgrade.
//
//   "Going"        "Id" integer key assigned on insert (keeps the natural
//                  order stable), "Url" text, "AirPort" text: pending detail
//                  links; then the link's retry state (RetryColumns.h:
//                  "Attempts", "FailingTicks", "RetryInTicks", "LastFailure",
//                  "LastFailedAt"), NULL for a link that never failed;
//                  then "Desk" (Desk.h). Indexed by desk and key
//                  ("Going_Desk") and by address (UrlKey.h).
//   "Staymarker"   "Url" text key, then "AirPort", "HeaderBar", "HotelInfo",
//                  "Direction", "Dining", "Transportation",
//                  "PropertyInformation", "Services", "RatingsAwards",
//                  "Attractions", "PhotoUrl", "ExtractedAt" (UTC ISO 8601),
//                  "Desk", all text: one extracted hotel per row.
//                  Indexed by "ExtractedAt" ("Staymarker_ExtractedAt"),
//                  the order the export reads it in.
//   "Failures"     what the crawl gave up on (Failures.h).
//   "Destinations" the destinations still to search (Destinations.h).
//
// Addresses are indexed as UrlKey.h says: by their text on SQLite, by their
// digest on PostgreSQL, so an address of any length is stored and found.
//
// The window never creates tables; these functions are for the program
// entry (first run, upgrade) and for the set-up tool.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "platform/base/AnsiString.h"

#include <QString>
#include <QStringList>

namespace store {

// The CREATE TABLE statement of `table` ("Going", "Staymarker", "Failures"
// or "Destinations") for a Qt Sql driver name ("QSQLITE" or "QPSQL"), in
// this version's shape; empty for anything else. The indexes are made
// separately (UrlKey::CreateIndexSql).
QString CreateTableSql(const QString& table, const QString& driverName);

// Creates the tables the alias's database lacks and upgrades those of an
// earlier version (as UpgradeHotelsDb), all in one transaction, and returns
// the names of the tables it created (empty when all existed); the lines of
// the upgrade go to `upgraded` when given. A missing SQLite file, and its
// folder, are created first. Throws EDatabaseError.
QStringList EnsureHotelsDbTables(const AnsiString& alias, QStringList* upgraded = nullptr);

// Brings a database of an earlier version up to this one in place, in one
// transaction: adds the retry columns "Going" lacks, the tables "Failures"
// and "Destinations" when missing, the column "Desk" every table lacks
// (NULL in the rows there, until a desk adopts them: Desk.h) with the index
// "Going_Desk", the index "Staymarker_ExtractedAt" when missing, and on
// PostgreSQL indexes the addresses
// of "Going" and "Staymarker" by their digest instead of their text, so that
// an address of any length (64 KiB and more) is stored and found. No row is
// changed or lost, and the previous version can still read "Going". Does
// nothing to a database without "Going" (its window reports that one).
// Returns a line for each change made (empty when up to date). Throws
// EDatabaseError.
QStringList UpgradeHotelsDb(const AnsiString& alias);

// First start on this machine: when "Hotels_Db" resolves to the embedded
// default file and that file does not exist yet, creates it with every table.
// Otherwise does nothing. Throws EDatabaseError when the creation fails.
void PrepareFirstRun();

}  // namespace store
