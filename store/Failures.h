#pragma once
// The "Failures" table of "Hotels_Db": what the crawl gave up on, and pages
// that loaded without any section. Nothing is ever dropped silently: a link
// or destination that leaves the work unfinished leaves a row here.
//
//   "Id"       integer key assigned on insert (the order of recording)
//   "Kind"     kFailureLink, kFailureDestination or kFailureNoSections
//   "Url"      the detail page's address; the destination code for a destination
//   "AirPort"  the destination code the link was collected under (a
//              destination's own code for a destination)
//   "Reason"   why the last attempt failed ("HTTP 404", "time-out"...)
//   "Attempts" failed attempts, as an integer
//   "FailedAt" UTC ISO 8601 time it was recorded
//   "Desk"     the desk that gave up (Desk.h); NULL before desks
//
// Errors: every function here reports a failure by throwing EDatabaseError.

#include "platform/base/AnsiString.h"
#include "store/Names.h"

#include <QSqlDatabase>

#include <array>
#include <functional>
#include <string_view>
#include <vector>

namespace store {

inline constexpr const char* kFailureLink = "link";
inline constexpr const char* kFailureDestination = "destination";
inline constexpr const char* kFailureNoSections = "no sections";

struct FailureRecord {
    AnsiString kind;
    AnsiString url;
    AnsiString airPort;
    AnsiString reason;
    int attempts = 0;
    AnsiString failedAt;
    AnsiString desk = {};  // the desk that gave up; empty in a row written before desks

    friend bool operator==(const FailureRecord&, const FailureRecord&) = default;
};

// One column of "Failures" and the field of FailureRecord it holds: a text,
// or the whole number "Attempts".
struct FailureColumn {
    std::string_view name;
    AnsiString FailureRecord::*text = nullptr;  // null for the number
    int FailureRecord::*number = nullptr;       // null for a text
    std::string_view sqlType;                   // its type in CREATE TABLE, the same on both engines
};

// The columns after the key "Id", in table order, each with the record's
// field: every statement on the table, the export's CSV header and its
// workbook sheet name them in this order.
inline constexpr std::array<FailureColumn, 7> kFailureColumns = {{
    {"Kind", &FailureRecord::kind, nullptr, "TEXT NOT NULL"},
    {"Url", &FailureRecord::url, nullptr, "TEXT"},
    {"AirPort", &FailureRecord::airPort, nullptr, "TEXT"},
    {"Reason", &FailureRecord::reason, nullptr, "TEXT"},
    {"Attempts", nullptr, &FailureRecord::attempts, "INTEGER"},
    {"FailedAt", &FailureRecord::failedAt, nullptr, "TEXT"},
    {kDeskColumn, &FailureRecord::desk, nullptr, "TEXT"},
}};

// Adds the row on an open connection `db`, inside whatever transaction the
// caller holds.
void InsertFailure(QSqlDatabase& db, const FailureRecord& record);

// Calls `take(row)` for every row of every desk, in the order recorded,
// until it returns false; none when the table does not exist (a database
// not yet upgraded). The rows are read one at a time with a forward-only
// query, so a table of any length is read in the memory of one row. Uses
// its own short-lived connection, open until the last call of `take`
// returned; on PostgreSQL that connection has no time limit on statements,
// so a slow `take` does not cut the read short. A failure, also after some
// rows were taken, throws.
void ForEachFailure(const std::function<bool(const FailureRecord&)>& take);

// Every row, as ForEachFailure reads them.
std::vector<FailureRecord> ReadFailures();

}  // namespace store
