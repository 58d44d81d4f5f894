#pragma once
// How often, how long and why a pending link or an owed destination has
// failed, and when it is tried next. Time is counted in ticks of the timer
// that paces the work (the detail timer for links, the search timer for
// destinations), so a shorter tick shortens every wait, and a program that
// is not running does not age anything: a restart continues the count.

#include "platform/base/AnsiString.h"

namespace store {

struct RetryState {
    int attempts = 0;            // failed attempts so far; 0: never failed
    long long failingTicks = 0;  // ticks from the first failure to when the state was last counted
    long long retryInTicks = 0;  // ticks to wait, from then, before the next try
    AnsiString lastFailure;      // why the last attempt failed ("HTTP 503", "time-out"...)
    AnsiString lastFailedAt;     // UTC ISO 8601 time of the last failure

    bool Failed() const { return attempts > 0; }
    friend bool operator==(const RetryState&, const RetryState&) = default;
};

// One detail step (and one destination slot) is this many ticks.
constexpr long long kTicksPerStep = 61;
// The first wait after a failure is one step; each further failure doubles
// it, up to an hour's worth of ticks at the normal 1000 ms tick.
constexpr long long kFirstRetryTicks = kTicksPerStep;
constexpr long long kMaxRetryTicks = 3600;
// A transient failure is given up only when both hold: at least this many
// attempts, failing for at least eight hours' worth of ticks at the normal pace.
constexpr int kGiveUpAttempts = 5;
constexpr long long kGiveUpTicks = 8LL * 3600;

// `state` as it stands `ticks` after it was counted: those ticks added to its
// failing time and taken from its wait (0 once the wait is over). What is
// written for a link or destination still waiting, so that the next run
// goes on from there.
RetryState Aged(RetryState state, long long ticks);

// The ticks that `seconds` (a Retry-After) make at a tick of `tickMs`,
// rounded up; 0 for none (`seconds` of 0 or less).
long long TicksFor(int seconds, int tickMs);

// The time now, UTC, ISO 8601 ("2026-12-07T10:00:00Z"): the form of every
// time stamp the store keeps.
AnsiString UtcNowText();

// What happens after a failed attempt.
enum class RetryDecision {
    TryLater,  // keep it; `state.retryInTicks` says when
    GiveUp,    // record it as given up and drop it
};

// Whether a Retry-After of `retryAfterTicks` asks for more than any wait the
// schedule keeps (kMaxRetryTicks): such an answer waits kMaxRetryTicks
// instead, and callers say so on standard error.
constexpr bool RetryAfterCapped(long long retryAfterTicks) { return retryAfterTicks > kMaxRetryTicks; }

// A stored wait as it is used: within kMaxRetryTicks, never negative. Rows
// written before the cap (or by hand) may hold any number.
constexpr long long WithinMaxWait(long long retryInTicks)
{
    return retryInTicks < 0 ? 0 : (retryInTicks > kMaxRetryTicks ? kMaxRetryTicks : retryInTicks);
}

// Counts one more failed attempt into `state`: `ticksSinceLast` ticks passed
// since the state was last counted (ignored for the first failure), `why`
// and `atUtc` describe the attempt, `transient` says whether the failure may
// go away by itself, and `retryAfterTicks` (0 for none) is the least wait
// the answer asked for, honoured up to kMaxRetryTicks: a link or
// destination never waits longer than that, so a long Retry-After counts
// toward giving up like any other wait. A permanent failure is given up at
// once; a transient one once both give-up bounds are reached.
RetryDecision CountFailure(RetryState& state, long long ticksSinceLast, const AnsiString& why,
                           const AnsiString& atUtc, bool transient, long long retryAfterTicks);

}  // namespace store
