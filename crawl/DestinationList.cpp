#include "crawl/DestinationList.h"

#include "platform/toolkit/Forms.h"

#include <algorithm>
#include <set>

int TDestinationList::Count() const { return memo_->Lines->Count(); }

AnsiString TDestinationList::Line(int index) const { return memo_->Lines->Strings(index); }

void TDestinationList::Restore(const std::vector<store::DestinationEntry>& entries)
{
    read_ = true;
    if (entries.empty())
        return;
    QStringList lines;
    for (const store::DestinationEntry& entry : entries) {
        lines << ToWide(entry.code);
        if (entry.retry.Failed())
            restored_.emplace(entry.code, entry.retry);
    }
    memo_->setPlainText(lines.join(QLatin1Char('\n')));
}

int TDestinationList::Recover(const std::vector<store::DestinationEntry>& entries, long long clock)
{
    read_ = true;
    // Codes the operator has in the list already keep their place there;
    // their failures so far count on when their line is searched.
    const std::vector<AnsiString> typed = memo_->Lines->All();
    const std::set<AnsiString> listed(typed.begin(), typed.end());
    int added = 0;
    for (const store::DestinationEntry& entry : entries) {
        const bool inMemo = listed.count(entry.code) > 0;
        if (inMemo || !followed_) {
            if (!inMemo)
                memo_->Lines->Add(entry.code);
            if (entry.retry.Failed())
                restored_.emplace(entry.code, entry.retry);
        } else {
            // The list is being searched already: in the slots after it,
            // with the failures counted so far.
            owed_.push_back(TOwedDestination{entry.code, entry.retry, clock});
        }
        if (!inMemo)
            ++added;
    }
    return added;
}

std::optional<TSearch> TDestinationList::LineSearch(int index, long long clock)
{
    if (!followed_ || index < 0)
        return std::nullopt;
    const std::vector<AnsiString> lines = memo_->Lines->All();
    if (index >= static_cast<int>(lines.size()))
        return std::nullopt;
    TSearch search{lines[static_cast<std::size_t>(index)], index, {}, clock, std::nullopt, false};
    if (const auto restored = restored_.find(search.code); restored != restored_.end()) {
        search.state = restored->second;
        restored_.erase(restored);
    }
    return search;
}

std::optional<TSearch> TDestinationList::TakeDueOwed(int index, long long clock)
{
    if (!followed_ || index < Count())
        return std::nullopt;
    const auto due = std::find_if(owed_.begin(), owed_.end(), [clock](const TOwedDestination& owed) {
        return store::Aged(owed.state, clock - owed.countedAt).retryInTicks == 0;
    });
    if (due == owed_.end())
        return std::nullopt;
    TSearch search{due->code, -1, due->state, due->countedAt, std::nullopt, false};
    owed_.erase(due);
    return search;
}

TSettledSearch TDestinationList::Settle(long long clock, int tickMs, const AnsiString& now)
{
    if (!current_)
        return {};
    TSearch search = std::move(*current_);
    current_.reset();
    TSettledSearch settled;
    settled.code = search.code;
    if (search.done && !search.failure)
        return settled;

    // Failed, or still under way when the next search replaced it.
    const std::optional<platform::FetchFailure>& failure = search.failure;
    settled.why = failure ? ToAnsi(failure->Describe()) : AnsiString("cut short by the next search");
    settled.retryAfter = failure ? store::TicksFor(failure->retryAfterS, tickMs) : 0;
    settled.state = search.state;
    const bool transient = !failure || failure->IsTransient();
    const auto decision = store::CountFailure(settled.state, clock - search.countedAt, settled.why, now, transient,
                                              settled.retryAfter);
    if (decision == store::RetryDecision::GiveUp) {
        settled.outcome = TSettledSearch::Outcome::GivenUp;
        return settled;
    }
    owed_.push_back(TOwedDestination{search.code, settled.state, clock});
    settled.outcome = TSettledSearch::Outcome::Owed;
    return settled;
}

std::vector<store::DestinationEntry> TDestinationList::Entries(int destIndex, long long clock) const
{
    std::vector<store::DestinationEntry> entries;
    // The typed lines not searched yet, and the one under way until it is done.
    const std::vector<AnsiString> lines = memo_->Lines->All();
    const bool searching = current_ && !current_->done;
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const bool underWay = searching && current_->line == i;
        if (i <= destIndex && !underWay)
            continue;
        store::DestinationEntry entry{lines[static_cast<std::size_t>(i)], false, {}};
        if (underWay)
            entry.retry = current_->state;
        else if (const auto restored = restored_.find(entry.code); restored != restored_.end())
            entry.retry = restored->second;
        entries.push_back(std::move(entry));
    }
    // Then the owed ones, their waits brought up to now; an owed destination
    // being searched again stays owed until its search is done.
    const auto owedEntry = [clock](const AnsiString& code, const store::RetryState& state, long long countedAt) {
        return store::DestinationEntry{code, true, store::Aged(state, clock - countedAt)};
    };
    if (searching && current_->line < 0)
        entries.push_back(owedEntry(current_->code, current_->state, current_->countedAt));
    for (const TOwedDestination& owed : owed_)
        entries.push_back(owedEntry(owed.code, owed.state, owed.countedAt));
    return entries;
}
