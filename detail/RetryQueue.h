#pragma once
// Detail links whose page failed for a reason that may pass (a dropped
// connection, a time-out, a 503): each waits here, still in "Going", until
// its next try is due, so that an outage of the site costs time, not links.
//
// Time is the detail timer's tick count (TForm1::DetailClock); a link's wait
// runs from the tick its last failure was counted.

#include "store/Going.h"
#include "store/HotelUrl.h"
#include "store/Retry.h"

#include <optional>
#include <vector>

struct TRetryLink {
    Hotel_Url link;
    store::RetryState state;
    long long countedAt = 0;  // the tick at which `state` was last counted

    // Ticks of waiting left at `now`; 0 when the link is due.
    long long WaitLeft(long long now) const;
};

class TRetryQueue {
public:
    // Adds the link; `state` was counted at tick `now`.
    void Add(const Hotel_Url& link, const store::RetryState& state, long long now);
    // Takes out the link whose try has been due longest (of equals, the one
    // added first); nothing when no link is due at tick `now`.
    std::optional<TRetryLink> TakeDue(long long now);

    // The links in the order they were added.
    std::vector<Hotel_Url> Links() const;
    // Every link's state as the save at close writes it, brought up to tick
    // `now`: the ticks since its last count added to its failing time, and
    // the wait still left in place of the whole wait.
    store::GoingRetries States(long long now) const;

private:
    std::vector<TRetryLink> links_;
};
