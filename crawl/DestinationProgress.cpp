// The window's side of the destination list (DestinationList.h): ending
// each search, reporting it, and keeping the list in "Destinations" so that
// a close, a crash or a kill does not lose the lines not yet searched.

#include "app/Unit1.h"
#include "platform/base/Report.h"
#include "store/Destinations.h"
#include "store/Failures.h"

#include <exception>

void TForm1::SettleSearch()
{
    const TSettledSearch settled = Destinations.Settle(SearchClock, Timer1->Interval(), store::UtcNowText());
    if (settled.outcome == TSettledSearch::Outcome::Finished)
        return;
    const QString code = ToWide(settled.code);
    if (store::RetryAfterCapped(settled.retryAfter))
        platform::Report(QStringLiteral("destination \"%1\" asked to be searched again in %2 ticks; waiting the longest wait, %3 ticks")
                             .arg(code)
                             .arg(settled.retryAfter)
                             .arg(store::kMaxRetryTicks));
    if (settled.outcome == TSettledSearch::Outcome::GivenUp) {
        GoingWrites.Record(store::FailureRecord{store::kFailureDestination, settled.code, settled.code, settled.why,
                                                settled.state.attempts, settled.state.lastFailedAt});
        platform::Report(QStringLiteral("destination \"%1\" given up after %2 attempts: %3")
                             .arg(code)
                             .arg(settled.state.attempts)
                             .arg(ToWide(settled.why)));
        return;
    }
    platform::Report(QStringLiteral("destination \"%1\" not finished (%2); searched again later")
                         .arg(code, ToWide(settled.why)));
}

void TForm1::ForgetPagingCounts()
{
    NextPageCounts.clear();
    QueuedPages.clear();
}

void TForm1::SaveDestinationList()
{
    if (!Destinations.Followed())
        return;
    // Rows this run never read are never replaced: until "Destinations" has
    // been read, each write first tries to read it, and is left out while
    // that fails.
    if (!Destinations.Read() && !RecoverDestinationList())
        return;
    GoingWrites.Destinations(Destinations.Entries(DestIndex, SearchClock));
}

std::optional<std::vector<store::DestinationEntry>> TForm1::ReadDestinationList()
{
    try {
        return store::ReadDestinations(Desk);
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
    if (const auto entries = ReadDestinationList())
        Destinations.Restore(*entries);
}

bool TForm1::RecoverDestinationList()
{
    const auto entries = ReadDestinationList();
    if (!entries)
        return false;
    const int added = Destinations.Recover(*entries, SearchClock);
    if (added > 0)
        Memo1->Lines->Add(ToAnsi(QStringLiteral("%1 unfinished destinations of an earlier run read back").arg(added)));
    return true;
}
