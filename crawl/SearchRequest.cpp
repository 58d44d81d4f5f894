#include "crawl/SearchRequest.h"

#include "app/Unit1.h"
#include "platform/settings/Settings.h"

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
    // 1.
    SearchStarted = 1;
    // 2. The line exactly as typed; past the last line, an empty code.
    DestCode = Memo2->Lines->Strings(index);
    // 3.
    SearchUrl = BuildSearchUrl(ToAnsi(platform::CurrentSettings().siteBase), DestCode);
    // 4. Navigate without the optional arguments; returns at once.
    CppWebBrowser1->Navigate(ToWide(SearchUrl));
}

void TForm1::Timer1Timer(TObject* Sender)
{
    // No new search once the close has begun.
    if (Closing)
        return;
    if (SearchTicks == 60) {
        SearchTicks = 0;
        ++DestIndex;
        SearchDestination(DestIndex);
    } else {
        ++SearchTicks;
    }
}
