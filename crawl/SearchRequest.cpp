#include "crawl/SearchRequest.h"

#include "app/Unit1.h"

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
    // A line of the operator's list is followed until it is finished; the
    // searches of the empty code past the list are not.
    // Each reading of the memo splits its whole text: a followed line's code
    // comes with its search.
    std::optional<TSearch> followed = Destinations.LineSearch(index, SearchClock);
    const AnsiString code = followed ? followed->code : Destinations.Line(index);
    StartSearch(code, std::move(followed));
}

void TForm1::SearchOwedDestination(TSearch owed)
{
    SettleSearch();
    const AnsiString code = owed.code;
    StartSearch(code, std::move(owed));
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
    Destinations.Begin(std::move(followed));
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
    if (std::optional<TSearch> owed = Destinations.TakeDueOwed(DestIndex, SearchClock)) {
        SearchOwedDestination(std::move(*owed));
        return;
    }
    SearchDestination(DestIndex);
}
