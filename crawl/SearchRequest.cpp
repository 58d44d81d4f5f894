#include "crawl/SearchRequest.h"

#include "app/Unit1.h"
#include "platform/settings/Settings.h"

#include <algorithm>

int SearchTicks = 0;

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
    // A line of the operator's list is followed until it is finished; the
    // searches of the empty code past the list are not.
    const bool listed = ListActive && index >= 0 && index < Memo2->Lines->Count();
    // 1. Mark the search as started.
    SearchStarted = 1;
    // 2. The line exactly as typed; past the last line, an empty code.
    DestCode = Memo2->Lines->Strings(index);
    if (listed)
        ForgetPagingCounts();
    // 3. The search address for the code.
    SearchUrl = BuildSearchUrl(ToAnsi(SiteBase), DestCode);
    // 4. Navigate without the optional arguments; returns at once.
    CppWebBrowser1->Navigate(ToWide(SearchUrl));

    if (listed) {
        TSearch search{DestCode, index, {}, SearchClock, std::nullopt, false};
        if (const auto restored = RestoredRetries.find(DestCode); restored != RestoredRetries.end()) {
            search.state = restored->second;
            RestoredRetries.erase(restored);
        }
        CurrentSearch = std::move(search);
    }
    SaveDestinationList();
}

void TForm1::SearchOwedDestination(const TOwedDestination& owed)
{
    SettleSearch();
    SearchStarted = 1;
    DestCode = owed.code;
    ForgetPagingCounts();
    SearchUrl = BuildSearchUrl(ToAnsi(SiteBase), DestCode);
    CppWebBrowser1->Navigate(ToWide(SearchUrl));
    CurrentSearch = TSearch{owed.code, -1, owed.state, owed.countedAt, std::nullopt, false};
    SaveDestinationList();
}

void TForm1::Timer1Timer(TObject* Sender)
{
    // No new search once the close has begun.
    if (Closing)
        return;
    ++SearchClock;
    if (SearchTicks == 60) {
        SearchTicks = 0;
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
    } else {
        ++SearchTicks;
    }
}
