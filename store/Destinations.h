#pragma once
// The "Destinations" table of "Hotels_Db": the operator's typed list as far
// as it is not done yet, so that a close, a crash or a kill does not lose it.
// One row per destination still to search, in list order: first the typed
// lines not yet searched (the one being searched included until it is done),
// then the owed destinations (searched and failed, to be searched again),
// oldest owed first.
//
//   "Id"           integer key assigned on insert (the list's order)
//   "Code"         the destination code exactly as typed
//   "Owed"         0 for a typed line not yet searched, 1 for an owed one
//   "Attempts", "FailingTicks", "RetryInTicks", "LastFailure", "LastFailedAt"
//                  the destination's RetryState (Retry.h); 0 and empty when
//                  it never failed
//   "Desk"         the desk whose list it is (DeskAccess.h)
//
// Each desk has its own list; nothing here reads or writes another desk's rows.
//
// Errors: every function here reports a failure by throwing EDatabaseError.

#include "platform/base/AnsiString.h"
#include "store/DeskAccess.h"
#include "store/Retry.h"

#include <QSqlDatabase>
#include <QString>

#include <vector>

namespace store {

struct DestinationEntry {
    AnsiString code;
    bool owed = false;
    RetryState retry;

    friend bool operator==(const DestinationEntry&, const DestinationEntry&) = default;
};

// Replaces the rows of `desk` with `entries`, in order, on an open
// connection `db` inside whatever transaction the caller holds.
void ReplaceDestinations(QSqlDatabase& db, const QString& desk, const std::vector<DestinationEntry>& entries);

// The rows of `desk` in list order; empty when the table does not exist (a
// database not yet upgraded). Uses the desk's connection (Connection.h).
std::vector<DestinationEntry> ReadDestinations(const DeskAccess& desk);

}  // namespace store
