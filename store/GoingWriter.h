#pragma once
// The write-through of "Hotels_Db": every change of the window's pending
// work reaches the database as it happens, so that a crash, a power cut or a
// kill loses no link and no typed destination. It writes the rows of one
// desk (DeskAccess.h) and never touches another desk's.
//
//   Added(links)                    rows of "Going" for links that entered the pending list
//   Handled(link, hotel, failure)   the link's page was dealt with: its rows leave
//                                   "Going", its hotel row (when given) is stored
//                                   in "Staymarker" and a failure (when given) is
//                                   recorded in "Failures", all in one transaction
//   Failed(link, state)             the link's page failed and will be tried
//                                   again: its rows in "Going" carry `state`
//   Destinations(entries)           the destinations still to search are `entries`
//   Record(failure)                 a row of "Failures" (a destination given up)
//
// Each call writes, in one transaction on the desk's connection (kept on
// PostgreSQL, one per call on SQLite: DeskAccess.h), every
// write still owed from earlier calls followed by its own, each write in a
// savepoint of its own. A write that fails because the database cannot be
// reached or the transaction cannot go on (missing, read-only, locked, full,
// server gone, a statement timed out) is kept, in order, and tried again at
// the next call, however long that lasts: the crawl goes on, and nothing is
// lost while the program runs. A write that fails on its own while the rest
// of its transaction commits (a value the engine refuses, a table renamed, a
// privilege revoked) is tried again too; after kSetAsideAfter such failures
// it is set aside: reported on standard error with its row, and no longer
// tried. A set-aside Handled leaves the link's rows in "Going" (its deletion
// never happened); an Added of several links that fails is split at once so
// that the links the engine takes are written and only a refused link is
// counted and, in the end, set aside. Writes about the same address keep
// their order: while one fails, the later ones about that address wait
// (uncounted). Each kind of failure is reported on standard error once,
// until nothing is owed any more. While the upgrade the start could not
// make is owed (StartUpgrade.h), each call runs it first, and writes
// nothing, counting nothing, until it went through.
//
// Errors: nothing here throws; the store's EDatabaseError is caught in one
// place, and the failed write is kept and reported as above.
//
// Window thread only; no event is processed during a call.

#include "store/DeskAccess.h"
#include "store/Destinations.h"
#include "store/Failures.h"
#include "store/HotelUrl.h"
#include "store/Retry.h"
#include "store/Staymarker.h"

#include <QString>

#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace store {

class GoingWriter {
public:
    // Failures of one write, with the rest of its transaction committed,
    // before it is set aside.
    static constexpr int kSetAsideAfter = 3;

    // Writes the rows of `desk`, through its connection.
    explicit GoingWriter(DeskAccess desk);

    // Writes rows ("Url", "AirPort") for `links`, in list order.
    void Added(const std::vector<Hotel_Url>& links);
    // Deletes every row of "Going" whose "Url" is `link.Url`, stores `hotel`
    // when given in "Staymarker" (replacing the row of the same address) and
    // records `failure` when given in "Failures".
    void Handled(const Hotel_Url& link, const std::optional<StaymarkerRow>& hotel,
                 const std::optional<FailureRecord>& failure = std::nullopt);
    // Sets the retry columns of every row of "Going" whose "Url" is `link.Url`.
    void Failed(const Hotel_Url& link, const RetryState& state);
    // Replaces the saved destination list; of several owed lists only the
    // newest is written.
    void Destinations(const std::vector<DestinationEntry>& entries);
    // Adds a row to "Failures".
    void Record(const FailureRecord& failure);
    // Writes what is still owed; true when nothing is owed any more.
    bool Flush();

    // After the save at close rewrote "Going" itself: owed rows for added
    // links and owed retry columns are dropped (the save wrote them) and,
    // when `goingExact` (the save replaced the whole table), so are owed
    // deletions that store no hotel and record no failure. Owed hotel rows,
    // failure rows and destination lists are kept, and so are the deletions
    // that go with them.
    void SupersededBySave(bool goingExact);

    // Links whose Handled write is still owed or was set aside: their rows
    // are still in "Going", so the save at close keeps them there.
    std::vector<Hotel_Url> UnsettledLinks() const;
    // Links whose Added write was set aside: the engine refuses them, so the
    // save at close leaves them out instead of failing on them again.
    std::vector<Hotel_Url> RefusedLinks() const;

    // Writes still owed, for reports.
    std::size_t OwedLinks() const;   // links whose row is still to be added
    std::size_t OwedHotels() const;  // hotel rows still to be stored

private:
    // Implementation's own; see GoingWriter.cpp.
    enum class Kind { Added, Handled, Failed, Destinations, Record };
    struct Write {
        Kind kind = Kind::Added;
        std::vector<Hotel_Url> links;             // Added: the rows; Handled, Failed: the one link
        std::optional<StaymarkerRow> hotel;       // Handled
        std::optional<FailureRecord> failure;     // Handled, Record
        RetryState retry;                         // Failed
        std::vector<DestinationEntry> entries;    // Destinations
        int failures = 0;                         // failed alone, the rest committed
    };
    struct Problem {
        QString kind;  // what "reported once per kind" compares
        QString text;
    };
    struct Pass;

    void Owe(Write write);
    Pass WriteOwed() const;
    void Settle(const Pass& pass);
    void SetAside(const Write& write, const Problem& problem);
    void Report(const Problem& problem);

    DeskAccess desk_;
    std::vector<Write> owed_;
    std::vector<Hotel_Url> unsettled_;  // set-aside Handled writes
    std::vector<Hotel_Url> refused_;    // set-aside Added links
    std::set<QString> reported_;
    std::size_t setAside_ = 0;          // since the first failure reported
};

}  // namespace store
