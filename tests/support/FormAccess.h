#pragma once
// Tests, benchmarks and fuzz targets reach the window's private crawl state
// through this friend.

#include "app/Unit1.h"

class TForm1TestAccess {
public:
    explicit TForm1TestAccess(TForm1& form) : f(form) {}

    std::unique_ptr<TStringList>& DetailLinks() { return f.DetailLinks; }
    TLinkCounts& LinkCounts() { return f.LinkCounts; }
    TLinkCounts& NextPageCounts() { return f.NextPageCounts; }
    TNextPages& NextPages() { return f.NextPages; }
    AnsiString& SearchUrl() { return f.SearchUrl; }
    TPendingLinks& PendingLinks() { return f.PendingLinks; }
    std::set<AnsiString>& QueuedLinks() { return f.QueuedLinks; }
    std::set<AnsiString>& QueuedPages() { return f.QueuedPages; }
    int& DestIndex() { return f.DestIndex; }
    bool& ResumeMode() { return f.ResumeMode; }
    AnsiString& DestCode() { return f.DestCode; }
    int& SearchStarted() { return f.SearchStarted; }
    long long& SearchClock() { return f.SearchClock; }
    long long& DetailClock() { return f.DetailClock; }
    int& SearchTicks() { return f.SearchPace.ticks; }
    TRetryQueue& RetryLinks() { return f.RetryLinks; }
    std::vector<Hotel_Url>& InProgressLinks() { return f.InProgressLinks; }
    TSearch* CurrentSearch() { return f.Destinations.Current(); }
    void ForgetSearch() { f.Destinations.Begin(std::nullopt); }
    const std::deque<TOwedDestination>& OwedDestinations() { return f.Destinations.Owed(); }

    void SearchDestination(int index) { f.SearchDestination(index); }
    void CrawlResultPage(LPDISPATCH pDisp) { f.CrawlResultPage(pDisp); }
    void FollowNextPage() { f.FollowNextPage(); }
    void LoadPendingLinks() { f.LoadPendingLinks(); }
    void ProcessNextDetail() { f.ProcessNextDetail(); }

private:
    TForm1& f;
};
