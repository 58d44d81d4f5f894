#pragma once
// How far the crawl got, per desk and destination code: the hotels kept in
// "Staymarker", the detail links still waiting in "Going", when the last
// kept hotel was extracted, whether the destination is still to be searched
// ("Destinations") and what was given up on ("Failures"). Read for the
// export tool's --summary; the crawl itself never reads it.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "platform/base/AnsiString.h"

#include <vector>

namespace store {

struct DestinationSummary {
    AnsiString desk;             // the desk of the rows counted (Desk.h); empty before desks
    AnsiString airPort;          // the code as stored ("AirPort"); empty for rows without one
    long long kept = 0;          // rows of "Staymarker" with this code
    long long waiting = 0;       // rows of "Going" with this code
    AnsiString lastExtractedAt;  // greatest "ExtractedAt" of the kept rows; empty when none
    // "waiting": a typed line not searched yet; "owed": searched, failed, to
    // be searched again (also when the code is typed once more); "searched":
    // neither (from "Destinations").
    AnsiString state = "searched";
    long long givenUp = 0;       // rows of "Failures" with this code (links and the destination)

    friend bool operator==(const DestinationSummary&, const DestinationSummary&) = default;
};

// One entry per desk and code found in any of "Staymarker" (the desk that
// kept the hotel), "Going", "Destinations" and "Failures" (the last two may
// be missing: a database not yet upgraded), sorted by desk, then code (byte
// order, the same on every engine); a desk and code missing from a table
// has zero (or "searched") for it.
// Uses its own short-lived connection to "Hotels_Db"; a table that cannot be
// read is a failure, and so is a question about which tables and columns
// exist that fails (Tables.h: a lock is never taken for a missing table).
// The counts are read group by group: the memory taken is one entry per
// desk and code, however many rows they count.
std::vector<DestinationSummary> ReadDestinationSummary();

}  // namespace store
