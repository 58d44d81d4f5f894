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

#include <QObject>

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

// Resume load: appends every row of "Going", in the table's order, at the end
// of `PendingLinks`. `Table1` is closed afterwards (also when an exception
// leaves this function). False when the table could not be opened (reported,
// nothing appended).
bool LoadGoing(TTable& Table1, std::vector<Hotel_Url>& PendingLinks);

enum class GoingSave {
    Replace,  // "Going" ends up holding exactly the list
    Append,   // the list is added after the rows already there
    // Rows whose "Url" is in the list are replaced by the list; other rows
    // (those of an earlier run that this run never read) stay.
    Merge,
};

// Save at close: writes `PendingLinks` into "Going" in list order, all in one
// transaction. True when written; false when the table could not be opened
// (reported, nothing changed). On a failure after opening (the transaction
// cannot start, a statement fails) the transaction is rolled back, so the
// table keeps its previous rows, `Table1` is closed and the error is rethrown.
bool SaveGoing(TTable& Table1, const std::vector<Hotel_Url>& PendingLinks,
               GoingSave mode = GoingSave::Replace);

}  // namespace store
