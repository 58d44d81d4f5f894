#include "detail/RetryQueue.h"

#include <algorithm>

long long TRetryLink::WaitLeft(long long now) const
{
    return store::Aged(state, now - countedAt).retryInTicks;
}

void TRetryQueue::Add(const Hotel_Url& link, const store::RetryState& state, long long now)
{
    links_.push_back(TRetryLink{link, state, now});
}

std::optional<TRetryLink> TRetryQueue::TakeDue(long long now)
{
    auto best = links_.end();
    for (auto it = links_.begin(); it != links_.end(); ++it) {
        if (it->WaitLeft(now) > 0)
            continue;
        // Due longest: the earliest due tick; the first added wins a tie.
        if (best == links_.end()
            || it->countedAt + it->state.retryInTicks < best->countedAt + best->state.retryInTicks)
            best = it;
    }
    if (best == links_.end())
        return std::nullopt;
    TRetryLink taken = std::move(*best);
    links_.erase(best);
    return taken;
}

std::vector<Hotel_Url> TRetryQueue::Links() const
{
    std::vector<Hotel_Url> links;
    links.reserve(links_.size());
    for (const TRetryLink& r : links_)
        links.push_back(r.link);
    return links;
}

store::GoingRetries TRetryQueue::States(long long now) const
{
    store::GoingRetries states;
    for (const TRetryLink& r : links_)
        states[r.link.Url] = store::Aged(r.state, now - r.countedAt);
    return states;
}
