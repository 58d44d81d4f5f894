#pragma once
// The main window and crawl controller. Every handler of the crawl (button,
// timers, browser events) is a method of TForm1 and every piece of crawl
// state lives in its members; everything runs on the window's event loop.
// The handlers' bodies live with their subsystems:
//
//   TForm1 (constructor), FormCreate,
//   FormClose, UnhandledLinks                 app/Unit1.cpp
//   Button2Click, LoadPendingLinks            crawl/DestinationList.cpp
//   Timer1Timer, SearchDestination            crawl/SearchRequest.cpp
//   CppWebBrowser1DocumentComplete,
//   CppWebBrowser1NewWindow2, CrawlResultPage,
//   TransferDetailLinks, FollowNextPage       crawl/ResultCrawler.cpp
//   Timer2Timer, ProcessNextDetail            detail/DetailQueue.cpp

#include "crawl/LinkLists.h"
#include "platform/browser/WebBrowser.h"
#include "platform/db/DbTables.h"
#include "platform/toolkit/Forms.h"
#include "store/GoingWriter.h"
#include "ui_Unit1.h"

#include <memory>
#include <set>

class TForm1 : public TForm, public Ui::Form1 {
public:
    // Components not on the visual form (Panel2, Button2, Panel1, Memo1,
    // Memo2, Splitter1 and CppWebBrowser1 come from Ui::Form1).
    TTimer* Timer1;
    TTable* Table1;
    TTimer* Timer2;
    TTable* Table2;

    // Handlers, wired in the constructor.
    void FormCreate(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Timer1Timer(TObject* Sender);
    void Timer2Timer(TObject* Sender);
    void FormClose(TObject* Sender, int& Action);
    void CppWebBrowser1NewWindow2(TObject* Sender, LPDISPATCH* ppDisp, VARIANT_BOOL* Cancel);
    void CppWebBrowser1DocumentComplete(TObject* Sender, LPDISPATCH pDisp, VARIANT* URL);

    // Constructs the members empty, loads the controls (both timers start
    // ticking here) and then runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

private:
    friend class TForm1TestAccess;

    std::unique_ptr<TStringList> DetailLinks;
    TLinkCounts LinkCounts;
    TLinkCounts NextPageCounts;
    TNextPages NextPages;
    AnsiString SearchUrl;
    TPendingLinks PendingLinks;
    int DestIndex = 0;
    bool ResumeMode = false;
    AnsiString DestCode;
    int SearchStarted = 0;

    // Detail links already moved into PendingLinks in this run (by a transfer
    // or the resume load): each one is queued once per run.
    std::set<AnsiString> QueuedLinks;
    // Whether this run knows every row of "Going": the probe saw it empty, or
    // the resume load read it. Until then the save at close keeps the rows it
    // never read instead of replacing the table.
    bool GoingKnown = false;
    // Paging links queued at least once in this run: a pass follows the links
    // it queues again before those it queues for the first time, so that the
    // navigation that takes effect (the last one issued) reaches a new page.
    std::set<AnsiString> QueuedPages;

    // Keeps "Going" in step with PendingLinks and the links in progress as
    // they change, so that no link is lost to a crash.
    store::GoingWriter GoingWrites;
    // Links taken off PendingLinks by detail steps still running, outermost
    // first (steps nest while a page loads).
    std::vector<Hotel_Url> InProgressLinks;
    // Set when FormClose starts: no result-page pass and no new search runs
    // from then on (the link lists are being taken down).
    bool Closing = false;
    // Set when FormClose has finished: no handler does anything any more.
    bool Closed = false;

    void SearchDestination(int index);
    void CrawlResultPage(LPDISPATCH pDisp);
    void FollowNextPage();
    void TransferDetailLinks(int count);
    void LoadPendingLinks();
    void ProcessNextDetail();
    // Going as the save at close writes it: every link not yet handled.
    TPendingLinks UnhandledLinks() const;
};

// The one main window, set while it exists.
extern TForm1* Form1;
