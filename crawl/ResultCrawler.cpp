#include "crawl/ResultCrawler.h"

#include "app/Unit1.h"
#include "platform/base/Report.h"
#include "platform/html/Mshtml.h"

namespace {

// The address of a further result page (only the first comes from the search).
bool IsResultPageAddress(const AnsiString& link)
{
    return Pos("hotsavail.ctl?", link) > 0;
}

}  // namespace

bool IsNextPageLink(const AnsiString& link, const AnsiString& text)
{
    return IsResultPageAddress(link) && text == "Next";
}

bool IsDetailLink(const AnsiString& link)
{
    return Pos("hotsdetail.ctl?", link) > 0;
}

AnsiString PageLogLine(int pageNumber)
{
    return std::to_string(pageNumber) + "th Page";
}

void TForm1::CppWebBrowser1DocumentComplete(TObject* Sender, LPDISPATCH pDisp, VARIANT* URL)
{
    // Before FormCreate made DetailLinks (a message box of the start-up
    // probe pumps events, and Timer1 may have searched by then) and once the
    // close has begun, there are no link lists to crawl into.
    if (SearchStarted == 1 && DetailLinks && !Closing) {
        // Frames complete before their page. Whether the destination
        // finished or failed follows its result pages alone: an ad frame
        // that answers 404 is no failure of the search, and a frame without
        // a "Next" link does not end the paging its page still has to do.
        const bool page = !CppWebBrowser1->IsFrameDocument(pDisp);
        // A page of the search that failed (after the control's own quick
        // retries) leaves the destination owed; the pass runs as for any
        // completed document.
        if (TSearch* search = Destinations.Current()) {
            ComPtr<IHTMLDocumentLoadFailure> load;
            platform::FetchFailure failure;
            if (QueryInterface(pDisp, load) == S_OK && load && load->get_loadFailure(failure) == S_OK
                && failure.Failed()) {
                if (page) {
                    search->failure = failure;
                    search->done = false;
                } else {
                    platform::Report(QStringLiteral("frame not loaded (%1), destination \"%2\" goes on: %3")
                                         .arg(failure.Describe(), ToWide(search->code),
                                              URL && URL->vt == VT_BSTR ? URL->bstrVal : QString()));
                }
            }
        }
        CrawlResultPage(pDisp, page);
    }
}

void TForm1::CppWebBrowser1NewWindow2(TObject* Sender, LPDISPATCH* ppDisp, VARIANT_BOOL* Cancel)
{
    *Cancel = VARIANT_TRUE;
}

void TForm1::CrawlResultPage(LPDISPATCH pDisp, bool page)
{
    ComPtr<IHTMLDocument2> document;
    if (QueryInterface(pDisp, document) != S_OK)
        return;

    // The anchors: the named A elements only.
    ComPtr<IHTMLElementCollection> anchors;
    LONG n = 0;
    if (document->get_anchors(anchors) != S_OK || !anchors || anchors->get_length(&n) != S_OK)
        n = 0;
    document.reset();

    // Every anchor's address is counted; a paging link also on its own. Only
    // a result page's link has its text read, which walks the anchor's subtree.
    for (LONG i = 0; i < n; ++i) {
        ComPtr<IDispatch> item;
        if (anchors->item(VariantI4(i), VARIANT{}, item) != S_OK || !item)
            continue;
        ComPtr<IHTMLAnchorElement> anchor;
        if (QueryInterface(item, anchor) != S_OK)
            continue;
        QString href;
        if (anchor->get_href(href) != S_OK)
            continue;
        const AnsiString link = ToAnsi(href);
        if (link.empty())
            continue;
        LinkCounts[link] += 1;
        if (IsResultPageAddress(link)) {
            ComPtr<IHTMLElement> element;
            QString innerText;
            if (QueryInterface(item, element) == S_OK && element->get_innerText(innerText) == S_OK
                && IsNextPageLink(link, ToAnsi(innerText)))
                NextPageCounts[link] += 1;
        }
    }
    anchors.reset();

    // Detail links, in key order; links already queued in this run are not
    // lined up again (they would be extracted over and over).
    for (const auto& [link, count] : LinkCounts)
        if (IsDetailLink(link) && !QueuedLinks.count(link))
            DetailLinks->Add(link);

    // Paging links seen at most twice so far. The links queued again are
    // followed first and those queued for the first time last, each group in
    // descending key order: only the navigation issued last takes effect, and
    // it must reach a page not seen yet (page=3 after page=2 re-queued page=1).
    TNextPages firstTime;
    for (auto& [link, count] : NextPageCounts) {
        if (count <= 2) {
            (QueuedPages.insert(link).second ? firstTime : NextPages).push_back(link);
            count += 1;
        }
    }
    NextPages.insert(NextPages.begin(), firstTime.begin(), firstTime.end());

    const int transferCount = DetailLinks->Count();
    Memo1->Lines->Add("First Page");

    // The transfer comes before the paging: following a page empties
    // DetailLinks, so the lined-up links are handed over while they are there.
    TransferDetailLinks(transferCount);

    // Each paging link followed logs the number of the page it leads to.
    int pageNumber = 2;
    const bool follows = !NextPages.empty();
    while (!NextPages.empty()) {
        FollowNextPage();
        Memo1->Lines->Add(PageLogLine(pageNumber));
        ++pageNumber;
    }

    // A result page (not one of its frames) that leaves nothing to follow,
    // with no page of the search failed and nothing still loading, finishes
    // its destination.
    TSearch* search = Destinations.Current();
    if (page && search && !follows && !search->failure && !CppWebBrowser1->Busy() && !search->done) {
        search->done = true;
        SaveDestinationList();
    }

    // Every pass gives the detail queue a step, and re-arms the search timer
    // should anything have stopped it.
    ProcessNextDetail();
    Timer1->SetEnabled(true);
}

void TForm1::TransferDetailLinks(int count)
{
    // Never read past the end of DetailLinks, and queue each link once per run.
    const int available = std::min(count, DetailLinks->Count());
    TPendingLinks transferred;
    for (int i = 0; i < available; ++i) {
        const AnsiString& link = DetailLinks->Strings(i);
        if (!QueuedLinks.insert(link).second)
            continue;
        transferred.push_back(Hotel_Url{link, DestCode});
    }
    PendingLinks.insert(PendingLinks.end(), transferred.begin(), transferred.end());
    // The pass's links reach "Going" at once, in one transaction.
    GoingWrites.Added(transferred);
}

void TForm1::FollowNextPage()
{
    if (NextPages.empty())
        return;
    const AnsiString link = NextPages.back();
    NextPages.pop_back();
    // The next page lines up its own detail links.
    DetailLinks->Clear();
    // The page's completion is a new pass.
    VARIANT notGiven = VariantNotGiven();
    CppWebBrowser1->Navigate(ToWide(link), &notGiven, &notGiven, &notGiven, &notGiven);
}
