#pragma once
// How far the destinations of the operator's list got: the search under way
// and the destinations owed a new search. A destination is finished when a
// result page of its search leaves nothing more to follow and no page of it
// failed. One whose search page or any result page failed, or whose paging
// was cut short because the next slot replaced a page still loading, is
// owed: it is searched again from its first page in the slots after the
// list, oldest owed first, and given up (and recorded) only within the
// bounds of store/Retry.h.

#include "platform/base/AnsiString.h"
#include "platform/net/FetchFailure.h"
#include "store/Retry.h"

#include <optional>

// A destination owed a new search.
struct TOwedDestination {
    AnsiString code;
    store::RetryState state;
    long long countedAt = 0;  // Timer1 tick at which `state` was last counted
};

// The search under way.
struct TSearch {
    AnsiString code;
    int line = -1;  // the Memo2 line searched; -1 for an owed destination searched again
    store::RetryState state;  // its failures before this search
    long long countedAt = 0;
    // Why a page of this search failed, when one did.
    std::optional<platform::FetchFailure> failure;
    // A pass ended its paging with no page failed.
    bool done = false;
};
