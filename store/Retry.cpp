#include "store/Retry.h"

#include <QDateTime>

#include <algorithm>

namespace store {

RetryState Aged(RetryState state, long long ticks)
{
    ticks = std::max(ticks, 0LL);
    state.failingTicks += ticks;
    state.retryInTicks = std::max(0LL, state.retryInTicks - ticks);
    return state;
}

long long TicksFor(int seconds, int tickMs)
{
    if (seconds <= 0)
        return 0;
    const long long tick = std::max(tickMs, 1);
    return (static_cast<long long>(seconds) * 1000 + tick - 1) / tick;
}

AnsiString UtcNowText()
{
    return ToAnsi(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
}

RetryDecision CountFailure(RetryState& state, long long ticksSinceLast, const AnsiString& why,
                           const AnsiString& atUtc, bool transient, long long retryAfterTicks)
{
    if (state.attempts > 0)
        state.failingTicks += std::max(ticksSinceLast, 0LL);
    ++state.attempts;
    state.lastFailure = why;
    state.lastFailedAt = atUtc;
    if (!transient)
        return RetryDecision::GiveUp;
    if (state.attempts >= kGiveUpAttempts && state.failingTicks >= kGiveUpTicks)
        return RetryDecision::GiveUp;
    // Doubling from one step: 61, 122, 244... ticks, at most kMaxRetryTicks.
    long long wait = kFirstRetryTicks;
    for (int i = 1; i < state.attempts && wait < kMaxRetryTicks; ++i)
        wait *= 2;
    state.retryInTicks = std::max(std::min(wait, kMaxRetryTicks), WithinMaxWait(retryAfterTicks));
    return RetryDecision::TryLater;
}

}  // namespace store
