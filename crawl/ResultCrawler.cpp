#include "crawl/ResultCrawler.h"

#include "app/Unit1.h"
#include "platform/base/Report.h"
#include "platform/html/Mshtml.h"

bool IsNextPageLink(const AnsiString& link, const AnsiString& text)
{
    return Pos("hotsavail.ctl?", link) > 0 && text == "Next";
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
        if (CurrentSearch) {
            ComPtr<IHTMLDocumentLoadFailure> load;
            platform::FetchFailure failure;
            if (QueryInterface(pDisp, load) == S_OK && load && load->get_loadFailure(failure) == S_OK
                && failure.Failed()) {
                if (page) {
                    CurrentSearch->failure = failure;
                    CurrentSearch->done = false;
                } else {
                    platform::Report(QStringLiteral("frame not loaded (%1), destination \"%2\" goes on: %3")
                                         .arg(failure.Describe(), ToWide(CurrentSearch->code),
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
    // 1. The document of the page that completed.
    ComPtr<IHTMLDocument2> document;
    if (QueryInterface(pDisp, document) != S_OK)
        return;

    // 2. Anchors: the named A elements.
    ComPtr<IHTMLElementCollection> anchors;
    LONG n = 0;
    if (document->get_anchors(anchors) != S_OK || !anchors || anchors->get_length(&n) != S_OK)
        n = 0;
    document.reset();

    // 3. Anchor walk.
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
        if (Pos("hotsavail.ctl?", link) > 0) {
            ComPtr<IHTMLElement> element;
            QString innerText;
            if (QueryInterface(item, element) == S_OK && element->get_innerText(innerText) == S_OK
                && IsNextPageLink(link, ToAnsi(innerText)))
                NextPageCounts[link] += 1;
        }
        // 3.6: the anchor's interfaces are released as they go out of scope.
    }

    // 4. Release the anchor collection.
    anchors.reset();

    // 5. Detail links, in key order; links already queued in this run are not
    // lined up again (they would be extracted over and over).
    for (const auto& [link, count] : LinkCounts)
        if (IsDetailLink(link) && !QueuedLinks.count(link))
            DetailLinks->Add(link);

    // 6. Paging links seen at most twice so far. The links queued again are
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

    // 7. Transfer count.
    const int transferCount = DetailLinks->Count();

    // 8. Log the page in Memo1.
    Memo1->Lines->Add("First Page");

    // 10. Transfer, moved before the paging: following a page empties
    // DetailLinks, so the lined-up links are handed over while they are there.
    TransferDetailLinks(transferCount);

    // 9. Paging.
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
    if (page && CurrentSearch && !follows && !CurrentSearch->failure && !CppWebBrowser1->Busy() && !CurrentSearch->done) {
        CurrentSearch->done = true;
        SaveDestinationList();
    }

    // 11. Detail turn.
    ProcessNextDetail();

    // 12. Watchdog.
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
    // 1. No paging link left: nothing to follow.
    if (NextPages.empty())
        return;
    // 2. Take the last paging link off the list.
    const AnsiString link = NextPages.back();
    NextPages.pop_back();
    // 3. Clear the detail links: the next page lines up its own.
    DetailLinks->Clear();
    // 4. Navigate without the optional arguments; the page's completion is a new pass.
    VARIANT notGiven = VariantNotGiven();
    CppWebBrowser1->Navigate(ToWide(link), &notGiven, &notGiven, &notGiven, &notGiven);
}
