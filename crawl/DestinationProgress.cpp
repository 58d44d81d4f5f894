// The window's bookkeeping of the operator's list: settling each search as
// finished or owed, and keeping the list in "Destinations" so that a close,
// a crash or a kill does not lose the lines not yet searched.

#include "crawl/DestinationProgress.h"

#include "app/Unit1.h"
#include "platform/base/Report.h"
#include "store/Destinations.h"
#include "store/Failures.h"

#include <algorithm>
#include <exception>
#include <set>

void TForm1::SettleSearch()
{
    if (!CurrentSearch)
        return;
    TSearch search = std::move(*CurrentSearch);
    CurrentSearch.reset();
    if (search.done && !search.failure)
        return;

    // Failed, or still under way when the next search replaced it.
    const AnsiString why = search.failure ? ToAnsi(search.failure->Describe()) : AnsiString("cut short by the next search");
    const bool transient = !search.failure || search.failure->IsTransient();
    const long long retryAfter = search.failure ? store::TicksFor(search.failure->retryAfterS, Timer1->Interval()) : 0;
    if (store::RetryAfterCapped(retryAfter))
        platform::Report(QStringLiteral("destination \"%1\" asked to be searched again in %2 ticks; waiting the longest wait, %3 ticks")
                             .arg(ToWide(search.code))
                             .arg(retryAfter)
                             .arg(store::kMaxRetryTicks));
    const AnsiString now = store::UtcNowText();
    store::RetryState state = search.state;
    const auto decision =
        store::CountFailure(state, SearchClock - search.countedAt, why, now, transient, retryAfter);
    if (decision == store::RetryDecision::GiveUp) {
        GoingWrites.Record(store::FailureRecord{store::kFailureDestination, search.code, search.code, why,
                                                state.attempts, now});
        platform::Report(QStringLiteral("destination \"%1\" given up after %2 attempts: %3")
                             .arg(ToWide(search.code))
                             .arg(state.attempts)
                             .arg(ToWide(why)));
        return;
    }
    OwedDestinations.push_back(TOwedDestination{search.code, state, SearchClock});
    platform::Report(QStringLiteral("destination \"%1\" not finished (%2); searched again later")
                         .arg(ToWide(search.code), ToWide(why)));
}

void TForm1::ForgetPagingCounts()
{
    NextPageCounts.clear();
    QueuedPages.clear();
}

void TForm1::SaveDestinationList()
{
    if (!ListActive)
        return;
    // Rows this run never read are never replaced: until "Destinations" has
    // been read, each write first tries to read it, and is left out while
    // that fails.
    if (!DestinationsRead && !RecoverDestinationList())
        return;
    std::vector<store::DestinationEntry> entries;
    // The typed lines not searched yet, and the one under way until it is done.
    const std::vector<AnsiString> lines = Memo2->Lines->All();
    for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
        const bool underWay = CurrentSearch && CurrentSearch->line == i && !CurrentSearch->done;
        if (i <= DestIndex && !underWay)
            continue;
        store::DestinationEntry entry{lines[static_cast<std::size_t>(i)], false, {}};
        if (underWay)
            entry.retry = CurrentSearch->state;
        else if (const auto restored = RestoredRetries.find(entry.code); restored != RestoredRetries.end())
            entry.retry = restored->second;
        entries.push_back(std::move(entry));
    }
    // Then the owed ones, their waits brought up to now; an owed destination
    // being searched again stays owed until its search is done.
    const auto owedEntry = [this](const AnsiString& code, const store::RetryState& state, long long countedAt) {
        return store::DestinationEntry{code, true, store::Aged(state, SearchClock - countedAt)};
    };
    if (CurrentSearch && CurrentSearch->line < 0 && !CurrentSearch->done)
        entries.push_back(owedEntry(CurrentSearch->code, CurrentSearch->state, CurrentSearch->countedAt));
    for (const TOwedDestination& owed : OwedDestinations)
        entries.push_back(owedEntry(owed.code, owed.state, owed.countedAt));
    GoingWrites.Destinations(entries);
}

std::optional<std::vector<store::DestinationEntry>> TForm1::ReadDestinationList()
{
    try {
        std::vector<store::DestinationEntry> entries = store::ReadDestinations(Desk);
        DestinationsRead = true;
        return entries;
    } catch (const std::exception& e) {
        const QString line = QStringLiteral("could not read the unfinished destinations, kept as they are and read "
                                            "again at the next press or write: ")
                             + QString::fromUtf8(e.what());
        platform::Report(line);
        Memo1->Lines->Add(ToAnsi(line));
        return std::nullopt;
    }
}

void TForm1::RestoreDestinationList()
{
    const auto entries = ReadDestinationList();
    if (!entries || entries->empty())
        return;
    // The lines not searched yet, then the owed ones, each on a line of its
    // own: one press searches them all from the first line on.
    QStringList lines;
    for (const store::DestinationEntry& entry : *entries) {
        lines << ToWide(entry.code);
        if (entry.retry.Failed())
            RestoredRetries.emplace(entry.code, entry.retry);
    }
    Memo2->setPlainText(lines.join(QLatin1Char('\n')));
}

bool TForm1::RecoverDestinationList()
{
    const auto entries = ReadDestinationList();
    if (!entries)
        return false;
    // Codes the operator has in the list already keep their place there.
    const std::vector<AnsiString> typed = Memo2->Lines->All();
    const std::set<AnsiString> listed(typed.begin(), typed.end());
    int added = 0;
    for (const store::DestinationEntry& entry : *entries) {
        if (listed.count(entry.code)) {
            // Its failures so far count on when its line is searched.
            if (entry.retry.Failed())
                RestoredRetries.emplace(entry.code, entry.retry);
            continue;
        }
        if (!ListActive) {
            // Before the press searches the list: after the typed lines.
            Memo2->Lines->Add(entry.code);
            if (entry.retry.Failed())
                RestoredRetries.emplace(entry.code, entry.retry);
        } else {
            // The list is being searched already: in the slots after it,
            // with the failures counted so far.
            OwedDestinations.push_back(TOwedDestination{entry.code, entry.retry, SearchClock});
        }
        ++added;
    }
    if (added > 0)
        Memo1->Lines->Add(ToAnsi(QStringLiteral("%1 unfinished destinations of an earlier run read back").arg(added)));
    return true;
}
