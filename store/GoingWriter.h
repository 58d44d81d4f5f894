#pragma once
// The write-through of the pending-work table "Going": every change of the
// window's pending links reaches the database as it happens, so that a crash,
// a power cut or a kill loses no link.
//
//   Added(links)          rows for links that entered the pending list
//   Handled(url, hotel)   the link's page was dealt with: its rows leave
//                         "Going" and, when given, its hotel row is stored in
//                         "Staymarker", both in one transaction
//
// Each call writes, in one transaction on a connection of its own, every
// write still owed from earlier calls followed by its own. A write that fails
// (database missing, read-only, locked, full, server gone) is kept, in order,
// and tried again at the next call: the crawl goes on, and nothing is lost
// while the program runs. Each kind of failure is reported on standard error
// once, until a write succeeds again.
//
// Errors: nothing here throws; the store's EDatabaseError is caught in one
// place, and the failed write is kept and reported as above.
//
// Window thread only; no event is processed during a call.

#include "store/HotelUrl.h"
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
    // Writes rows ("Url", "AirPort") for `links`, in list order.
    void Added(const std::vector<Hotel_Url>& links);
    // Deletes every row of "Going" whose "Url" is `url` and stores `hotel`,
    // when given, in "Staymarker" (replacing the row of the same address).
    void Handled(const AnsiString& url, const std::optional<StaymarkerRow>& hotel);
    // Writes what is still owed; true when nothing is owed any more.
    bool Flush();

    // After the save at close rewrote "Going" itself: owed rows for added
    // links are dropped (the save wrote them) and, when `goingExact` (the
    // save replaced the whole table), so are owed deletions. Owed hotel rows
    // are kept.
    void SupersededBySave(bool goingExact);

    // Writes still owed, for reports and tests.
    std::size_t OwedLinks() const;   // links whose row is still to be added
    std::size_t OwedHotels() const;  // hotel rows still to be stored
    bool Owes() const { return !owed_.empty(); }

private:
    // A failed write: its kind (what "once per kind" compares) and its text.
    struct Problem {
        QString kind;
        QString text;
    };
    struct Write {
        std::vector<Hotel_Url> added;      // rows to insert
        std::optional<AnsiString> handled;  // rows to delete
        std::optional<StaymarkerRow> hotel;
    };
    // One transaction for every owed write; what went wrong on failure.
    std::optional<Problem> WriteOwed();
    void Report(const Problem& problem);

    std::vector<Write> owed_;
    std::set<QString> reported_;
};

}  // namespace store
