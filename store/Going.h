#pragma once
// The uses of the pending-work table "Going" of "Hotels_Db" by one desk
// (DeskAccess.h): the start-up probe, the resume load and the save at close
// read and write only the rows of that desk, and the write-through
// (GoingWriter.h) adds rows with the same statement as the save. A table of an earlier
// version without the "Desk" column (an upgrade that failed) is used whole,
// as that version did.
//
// All run on the window's thread, on the connection of the desk they are
// given (Connection.h).
//
// Errors: a table that cannot be opened (the database cannot be reached,
// the table is missing) is answered with `opened` false and the reason,
// for the window to report; any later failure throws EDatabaseError. No
// message box is shown here.

#include "store/DeskAccess.h"
#include "store/HotelUrl.h"
#include "store/Retry.h"

#include <QSqlDatabase>
#include <QString>

#include <map>
#include <vector>

namespace store {

// Whether "Going" could be opened, and why not.
struct GoingOpen {
    bool opened = false;
    QString why;  // empty when opened
};

struct GoingProbe : GoingOpen {
    bool hasRows = false;  // the desk has at least one row; false when not opened
};

// Start-up probe: whether `desk` has at least one row in "Going".
GoingProbe ProbeGoing(const DeskAccess& desk);

// The retry state of the links that failed before, by "Url".
using GoingRetries = std::map<AnsiString, RetryState>;

// Resume load: appends every row of `desk` in "Going", in the table's
// order, at the end of `PendingLinks`. When `retries` is given, the retry
// state of every row that failed before is put there (a table of an earlier
// version, without those columns, gives none). Nothing is appended when the
// table could not be opened or a row could not be read.
GoingOpen LoadGoing(const DeskAccess& desk, std::vector<Hotel_Url>& PendingLinks, GoingRetries* retries = nullptr);

enum class GoingSave {
    Replace,  // the desk's rows end up being exactly the list
    // The desk's rows whose "Url" is in the list are replaced by the list;
    // its other rows (those of an earlier run that this run never read) stay.
    Merge,
};

// Save at close: writes `PendingLinks` as rows of `desk` in list order, all
// in one transaction; a link found in `retries` gets its retry state with
// its row. When the table could not be opened nothing changes. On a failure
// after opening the transaction is rolled back, so the table keeps its
// previous rows, and the error is thrown.
GoingOpen SaveGoing(const DeskAccess& desk, const std::vector<Hotel_Url>& PendingLinks,
                    GoingSave mode = GoingSave::Replace, const GoingRetries& retries = {});

// Adds rows of `desk` for `links`, in list order, with the retry state
// found in `retries` (NULL for the others), on an open connection `db`
// inside whatever transaction the caller holds. Many rows go in one
// statement. Throws EDatabaseError.
void InsertGoingRows(QSqlDatabase& db, const QString& desk, const std::vector<Hotel_Url>& links,
                     const GoingRetries& retries = {});

}  // namespace store
