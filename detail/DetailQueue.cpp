// The detail queue driver: one step takes the next pending link, extracts
// its hotel page and keeps what it found; Timer2 runs a step at the pace
// TTickPacer sets.

#include "detail/DetailQueue.h"

#include "app/Unit1.h"
#include "detail/HotelDescParser.h"
#include "platform/base/Report.h"
#include "store/Failures.h"
#include "store/Staymarker.h"

#include <algorithm>
#include <optional>

namespace {

bool AnySectionFound(const THotelDescParser& parser)
{
    return std::any_of(store::kHotelSectionFields.begin(), store::kHotelSectionFields.end(),
                       [&](const auto& field) { return !(parser.*field.member).empty(); });
}

// The Staymarker row of what a loaded page yielded; none for a page without
// any section, so that a good row kept earlier is never replaced by an empty one.
std::optional<store::StaymarkerRow> HotelRow(const THotelDescParser& parser, const AnsiString& airPort)
{
    if (!AnySectionFound(parser))
        return std::nullopt;
    store::StaymarkerRow row;
    static_cast<store::HotelSections&>(row) = parser;
    row.Url = parser.PageUrl;
    row.AirPort = airPort;
    row.ExtractedAt = store::UtcNowText();
    return row;
}

}  // namespace

void TForm1::ProcessNextDetail()
{
    // A step nested too deep leaves every link where it is for a later tick.
    if (InProgressLinks.size() >= static_cast<std::size_t>(kMaxDetailNesting)) {
        Timer2->SetEnabled(true);
        return;
    }
    // The link, taken with no message pumped in between: a failed link whose
    // next try is due goes first, else the last of PendingLinks. The link stays
    // in "Going" while its page is handled, so a crash meanwhile loses nothing.
    std::optional<TRetryLink> retry = RetryLinks.TakeDue(DetailClock);
    if (!retry && PendingLinks.empty()) {
        Timer1->SetEnabled(true);
    } else {
        Hotel_Url link;
        if (retry) {
            link = retry->link;
        } else {
            link = PendingLinks.back();
            PendingLinks.pop_back();
        }
        InProgressLinks.push_back(link);
        auto parser = std::make_unique<THotelDescParser>(SiteBase);
        parser->SetUrl(link.Url);
        parser->Parse(Limits);
        SettleDetail(link, *parser, retry);
        parser.reset();
        // Nested steps finish first, so this step's link is the last one.
        const auto mine = std::find(InProgressLinks.rbegin(), InProgressLinks.rend(), link);
        if (mine != InProgressLinks.rend())
            InProgressLinks.erase(std::next(mine).base());
    }
    Timer2->SetEnabled(true);
}

void TForm1::SettleDetail(const Hotel_Url& link, const THotelDescParser& parser, const std::optional<TRetryLink>& retry)
{
    const platform::FetchFailure& failure = parser.LoadFailure();
    const AnsiString now = store::UtcNowText();
    if (parser.Loaded()) {
        // The link leaves "Going" in the transaction that keeps its hotel;
        // a page without any section is recorded instead.
        if (auto row = HotelRow(parser, link.AirPort))
            GoingWrites.Handled(link, row);
        else
            GoingWrites.Handled(link, std::nullopt,
                                store::FailureRecord{store::kFailureNoSections, link.Url, link.AirPort,
                                                     "no section found", 0, now});
        return;
    }

    // The page failed: counted, then tried again later or given up.
    store::RetryState state = retry ? retry->state : store::RetryState{};
    const AnsiString why = ToAnsi(failure.Describe());
    const long long retryAfter = store::TicksFor(failure.retryAfterS, Timer2->Interval());
    if (store::RetryAfterCapped(retryAfter))
        platform::Report(QStringLiteral("page asked to be tried again in %1 ticks; waiting the longest wait, %2 ticks: %3")
                             .arg(retryAfter)
                             .arg(store::kMaxRetryTicks)
                             .arg(ToWide(link.Url)));
    const auto decision = store::CountFailure(state, retry ? DetailClock - retry->countedAt : 0, why, now,
                                              failure.IsTransient(), retryAfter);
    if (decision == store::RetryDecision::TryLater) {
        RetryLinks.Add(link, state, DetailClock);
        GoingWrites.Failed(link, state);
        platform::Report(QStringLiteral("page not loaded (%1), tried again in %2 ticks: %3")
                             .arg(failure.Describe())
                             .arg(state.retryInTicks)
                             .arg(ToWide(link.Url)));
        return;
    }
    GoingWrites.Handled(link, std::nullopt,
                        store::FailureRecord{store::kFailureLink, link.Url, link.AirPort, why, state.attempts, now});
    platform::Report(QStringLiteral("page given up after %1 attempts (%2): %3")
                         .arg(state.attempts)
                         .arg(failure.Describe())
                         .arg(ToWide(link.Url)));
}

void TForm1::Timer2Timer(TObject* Sender)
{
    if (Closed)
        return;
    ++DetailClock;
    if (DetailPace.Tick())
        ProcessNextDetail();
}
