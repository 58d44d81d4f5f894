#pragma once
// The three uses of the pending-work table "Going" of "Hotels_Db": the
// start-up probe, the resume load and the save at close. All run on the
// window's thread; each binds, opens, uses and closes its table within the call.
//
// A table that cannot be opened is reported with the message box
// "Table Open Exception" and counts as holding no rows. Other database
// failures are EDatabaseError exceptions for the caller's default error box.

#include "platform/DbTables.h"
#include "store/HotelUrl.h"

#include <QObject>

#include <vector>

namespace store {

// Start-up probe: whether "Going" holds at least one row. Uses a temporary
// table owned by `owner`, destroyed before returning.
bool GoingHasRows(QObject* owner);

// Resume load: appends every row of "Going", in the table's order, at the end
// of `PendingLinks`. `Table1` is closed afterwards (also when an exception
// leaves this function).
void LoadGoing(TTable& Table1, std::vector<Hotel_Url>& PendingLinks);

enum class GoingSave {
    Replace,  // "Going" ends up holding exactly the list
    Append,   // the list is added after the rows already there
};

// Save at close: writes `PendingLinks` into "Going" in list order, all in one
// transaction. On a failure after opening, the transaction is rolled back (the
// table keeps its previous rows), `Table1` is closed and the error is rethrown.
void SaveGoing(TTable& Table1, const std::vector<Hotel_Url>& PendingLinks,
               GoingSave mode = GoingSave::Replace);

}  // namespace store
