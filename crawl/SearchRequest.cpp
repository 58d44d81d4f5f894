#include "crawl/SearchRequest.h"

#include "app/Unit1.h"

#include <algorithm>
#include <optional>

AnsiString BuildSearchUrl(const AnsiString& siteBase, const AnsiString& destCode)
{
    AnsiString url = siteBase + "/cannonball.ctl?Service=LODGEVISTAS";
    url += "&SearchPath=hots&old_cb=N&SEQ=4082317765219034458126&mode=1";
    url += "&airport=" + destCode + "&state=";
    url += "&ckin_dt_mon=Sep&ckin_dt_dy=1";
    url += "&ckout_dt_mon=Sep&ckout_dt_dy=3";
    url += "&pax_cnt=1&mode=2";
    return url;
}

void TForm1::SearchDestination(int index)
{
    // The search this one replaces is finished, or owed from here on.
    SettleSearch();
    // Past the last line, an empty code.
    const AnsiString code = Memo2->Lines->Strings(index);
    // A line of the operator's list is followed until it is finished; the
    // searches of the empty code past the list are not.
    std::optional<TSearch> followed;
    if (ListActive && index >= 0 && index < Memo2->Lines->Count()) {
        followed = TSearch{code, index, {}, SearchClock, std::nullopt, false};
        if (const auto restored = RestoredRetries.find(code); restored != RestoredRetries.end()) {
            followed->state = restored->second;
            RestoredRetries.erase(restored);
        }
    }
    StartSearch(code, std::move(followed));
}

void TForm1::SearchOwedDestination(const TOwedDestination& owed)
{
    SettleSearch();
    StartSearch(owed.code, TSearch{owed.code, -1, owed.state, owed.countedAt, std::nullopt, false});
}

void TForm1::StartSearch(const AnsiString& code, std::optional<TSearch> followed)
{
    SearchStarted = 1;
    DestCode = code;
    if (followed)
        ForgetPagingCounts();
    SearchUrl = BuildSearchUrl(ToAnsi(SiteBase), DestCode);
    // Returns at once; the page's completion starts the crawl of its results.
    CppWebBrowser1->Navigate(ToWide(SearchUrl));
    CurrentSearch = std::move(followed);
    SaveDestinationList();
}

void TForm1::Timer1Timer(TObject* Sender)
{
    // No new search once the close has begun.
    if (Closing)
        return;
    ++SearchClock;
    if (!SearchPace.Tick())
        return;
    ++DestIndex;
    // Past the operator's list, the slot goes to the destination owed
    // longest whose wait is over; with none, to the search of the empty
    // code as before.
    if (ListActive && DestIndex >= Memo2->Lines->Count()) {
        const auto due = std::find_if(OwedDestinations.begin(), OwedDestinations.end(),
                                      [this](const TOwedDestination& owed) {
                                          return store::Aged(owed.state, SearchClock - owed.countedAt).retryInTicks == 0;
                                      });
        if (due != OwedDestinations.end()) {
            const TOwedDestination owed = *due;
            OwedDestinations.erase(due);
            SearchOwedDestination(owed);
            return;
        }
    }
    SearchDestination(DestIndex);
}
