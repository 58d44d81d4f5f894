#pragma once
// The operator's destination list and how far the crawl got in it: one
// object that holds all of the list's state, shown in Memo2.
//
// The typed lines live in the memo, and only there: each code is read from
// it when its search is sent, so the operator's edits to lines not searched
// yet take effect. Everything else about the list is kept here:
//   - whether the list is followed (from the first press that searches it),
//   - the search under way,
//   - the destinations owed a new search, oldest first,
//   - the failures so far of lines an earlier run left owed, by code,
//   - whether "Destinations" has been read in this run.
// The window's handlers read and write "Destinations" and report; this
// object decides what the list is and what comes next, and does no I/O.
//
// A destination is finished when a result page of its search leaves nothing
// more to follow and no page of it failed. One whose search page or any
// result page failed, or whose paging was cut short because the next slot
// replaced a page still loading, is owed: it is searched again from its
// first page in the slots after the list, oldest owed first, and given up
// (and recorded) only within the bounds of store/Retry.h.
//
// Clocks are Timer1 ticks since start-up (TForm1::SearchClock).

#include "platform/base/AnsiString.h"
#include "platform/net/FetchFailure.h"
#include "store/Destinations.h"
#include "store/Retry.h"

#include <deque>
#include <map>
#include <optional>
#include <vector>

class TMemo;

// A destination owed a new search.
struct TOwedDestination {
    AnsiString code;
    store::RetryState state;
    long long countedAt = 0;  // clock at which `state` was last counted
};

// The search under way.
struct TSearch {
    AnsiString code;
    int line = -1;  // the memo line searched; -1 for an owed destination searched again
    store::RetryState state;  // its failures before this search
    long long countedAt = 0;
    // Why a page of this search failed, when one did.
    std::optional<platform::FetchFailure> failure;
    // A pass ended its paging with no page failed.
    bool done = false;
};

// What ending a search came to.
struct TSettledSearch {
    enum class Outcome {
        Finished,  // done with no page failed, or no search was followed
        Owed,      // joined the owed destinations
        GivenUp,   // failed for the last time: to be recorded
    };
    Outcome outcome = Outcome::Finished;
    AnsiString code;
    AnsiString why;            // why it is owed or given up
    store::RetryState state;   // its failures, this one counted
    long long retryAfter = 0;  // the wait the site asked for, in ticks (0: none)
};

class TDestinationList {
public:
    // The memo that shows the typed lines and lets the operator edit them.
    // Called once, before any other call; the memo outlives this object.
    void ShowIn(TMemo& memo) { memo_ = &memo; }

    // The typed lines, as the memo splits them.
    int Count() const;
    // Line `index`; empty past the last line.
    AnsiString Line(int index) const;

    // --- the list an earlier run left in "Destinations"

    // Whether "Destinations" has been read in this run. Until then its rows
    // are never written over.
    bool Read() const { return read_; }
    // At start: `entries` (read from "Destinations") become the memo's lines,
    // the typed ones not searched yet, then the owed ones, so that one press
    // searches them all from the first line on. No entries leave the memo as
    // it is.
    void Restore(const std::vector<store::DestinationEntry>& entries);
    // After a read that failed: entries whose code is not in the memo join
    // it while the list is not followed yet, and are owed (counted from
    // `clock`) once it is. Returns how many joined.
    int Recover(const std::vector<store::DestinationEntry>& entries, long long clock);

    // --- following the list

    bool Followed() const { return followed_; }
    // The press that searches the list starts following it.
    void Follow() { followed_ = true; }

    // The search to follow for memo line `index`, with the failures an
    // earlier run counted for its code (used up here); none when the list is
    // not followed or `index` is past the list (the empty code is not followed).
    std::optional<TSearch> LineSearch(int index, long long clock);
    // Takes off the owed destinations the oldest whose wait is over at
    // `clock`, and the search to follow for it; none while `index` (the
    // current line) is still on the list, the list is not followed, or no
    // wait is over.
    std::optional<TSearch> TakeDueOwed(int index, long long clock);
    // The search just sent becomes the one under way.
    void Begin(std::optional<TSearch> search) { current_ = std::move(search); }
    // The search under way, or nullptr.
    TSearch* Current() { return current_ ? &*current_ : nullptr; }
    // Ends the search under way: one that failed or did not finish is owed
    // (or given up), counted at `clock` on a timer of `tickMs`; `now` is
    // the time stamp of its failure.
    TSettledSearch Settle(long long clock, int tickMs, const AnsiString& now);
    const std::deque<TOwedDestination>& Owed() const { return owed_; }

    // What "Destinations" keeps at `clock` with `destIndex` the current line:
    // the typed lines after it (and the one under way until it is done),
    // then the owed destinations (the one searched again included until it
    // is done), their waits brought up to `clock`.
    std::vector<store::DestinationEntry> Entries(int destIndex, long long clock) const;

private:
    TMemo* memo_ = nullptr;
    bool read_ = false;
    bool followed_ = false;
    std::optional<TSearch> current_;
    std::deque<TOwedDestination> owed_;
    // The failures so far of owed destinations an earlier run left, which
    // came back as memo lines, by code.
    std::map<AnsiString, store::RetryState> restored_;
};
