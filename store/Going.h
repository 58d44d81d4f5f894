#pragma once
// The three uses of the pending-work table "Going" of "Hotels_Db": the
// start-up probe, the resume load and the save at close. All run on the
// window's thread; each binds, opens, uses and closes its table within the call.
//
// Errors: a failure is reported by throwing EDatabaseError, for the caller's
// default error box; the one exception is a table that cannot be opened,
// which is reported here with the message box "Table Open Exception" and
// counts as holding no rows.

#include "platform/db/DbTables.h"
#include "store/HotelUrl.h"
#include "store/Retry.h"

#include <QObject>

#include <map>
#include <vector>

namespace store {

struct GoingProbe {
    bool opened = false;   // false: the table could not be opened (reported)
    bool hasRows = false;  // at least one row; false when not opened
};

// Start-up probe: whether "Going" holds at least one row. Uses a temporary
// table owned by `owner`, destroyed before returning.
GoingProbe ProbeGoing(QObject* owner);
inline bool GoingHasRows(QObject* owner) { return ProbeGoing(owner).hasRows; }

// The retry state of the links that failed before, by "Url".
using GoingRetries = std::map<AnsiString, RetryState>;

// Resume load: appends every row of "Going", in the table's order, at the end
// of `PendingLinks`. `Table1` is closed afterwards (also when an exception
// leaves this function). False when the table could not be opened (reported,
// nothing appended). When `retries` is given, the retry state of every row
// that failed before is put there (a table of an earlier version, without
// those columns, gives none).
bool LoadGoing(TTable& Table1, std::vector<Hotel_Url>& PendingLinks, GoingRetries* retries = nullptr);

enum class GoingSave {
    Replace,  // "Going" ends up holding exactly the list
    Append,   // the list is added after the rows already there
    // Rows whose "Url" is in the list are replaced by the list; other rows
    // (those of an earlier run that this run never read) stay.
    Merge,
};

// Save at close: writes `PendingLinks` into "Going" in list order, all in one
// transaction; a link found in `retries` gets its retry state with its row
// (a table of an earlier version, without those columns, gets the links
// alone). True when written; false when the table could not be opened
// (reported, nothing changed). On a failure after opening (the transaction
// cannot start, a statement fails) the transaction is rolled back, so the
// table keeps its previous rows, `Table1` is closed and the error is rethrown.
bool SaveGoing(TTable& Table1, const std::vector<Hotel_Url>& PendingLinks,
               GoingSave mode = GoingSave::Replace, const GoingRetries& retries = {});

}  // namespace store
