#pragma once
// The main window and crawl controller. Every handler of the crawl (button,
// timers, browser events) is a method of TForm1 and every piece of crawl
// state lives in its members; everything runs on the window's event loop.
// The handlers' bodies live with their subsystems:
//
//   TForm1 (constructor), FormCreate,
//   FormClose, UnhandledLinks                 app/Unit1.cpp
//   Button2Click, LoadPendingLinks            crawl/Navigation.cpp
//   Timer1Timer, SearchDestination,
//   SearchOwedDestination, StartSearch        crawl/SearchRequest.cpp
//   SettleSearch, SaveDestinationList,
//   ForgetPagingCounts, ReadDestinationList,
//   RestoreDestinationList,
//   RecoverDestinationList                    crawl/DestinationProgress.cpp
//   CppWebBrowser1DocumentComplete,
//   CppWebBrowser1NewWindow2, CrawlResultPage,
//   TransferDetailLinks, FollowNextPage       crawl/ResultCrawler.cpp
//   Timer2Timer, ProcessNextDetail,
//   SettleDetail                              detail/DetailQueue.cpp

#include "crawl/DestinationList.h"
#include "crawl/LinkLists.h"
#include "detail/RetryQueue.h"
#include "platform/browser/WebBrowser.h"
#include "platform/db/DbTables.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "platform/toolkit/TickPacer.h"
#include "store/DeskAccess.h"
#include "store/Destinations.h"
#include "store/GoingWriter.h"
#include "ui_Unit1.h"

#include <memory>
#include <optional>
#include <set>

class THotelDescParser;

class TForm1 : public TForm, public Ui::Form1 {
public:
    // Components not on the visual form (Panel2, Button2, Panel1, Memo1,
    // Memo2, Splitter1 and CppWebBrowser1 come from Ui::Form1).
    TTimer* Timer1;
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

    // Constructs the members empty for this copy's `desk` and the settings
    // in force, loads the controls (both timers start ticking here) and then
    // runs FormCreate.
    explicit TForm1(store::DeskAccess desk, QWidget* parent = nullptr);
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

    // The site the crawl searches, and how long one of its pages may take:
    // taken from the settings in force when the window is made.
    const QString SiteBase;
    const platform::PageLimits Limits;
    // This copy's desk: the rows of "Going", "Destinations" and "Failures"
    // it reads and writes are this desk's alone.
    const store::DeskAccess Desk;
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

    // Ticks of Timer1 and Timer2 since start-up: the clocks by which owed
    // destinations and failed links wait for their next try.
    long long SearchClock = 0;
    long long DetailClock = 0;
    // The pace of Timer1's searches and Timer2's detail steps.
    TTickPacer SearchPace;
    TTickPacer DetailPace;
    // Detail links whose page failed for a reason that may pass; each stays
    // in "Going" and is tried again when its wait is over.
    TRetryQueue RetryLinks;

    // The operator's list (shown in Memo2) and how far the crawl got in it:
    // whether it is followed, the search under way, the destinations owed.
    TDestinationList Destinations;

    void SearchDestination(int index);
    void SearchOwedDestination(TSearch owed);
    // Navigates to the search of `code`; `followed` becomes the search under
    // way, none for the empty code past the list.
    void StartSearch(const AnsiString& code, std::optional<TSearch> followed);
    // Ends the search under way: a search that failed or did not finish
    // becomes owed (or is given up and recorded), and says so.
    void SettleSearch();
    // Writes the destinations still to search to "Destinations".
    void SaveDestinationList();
    // Forgets how often paging links were seen and queued. Each search of
    // the list starts from nothing, so that the counts of an earlier search
    // (of the same code, failed or cut short, or of another one whose
    // result page loaded late) cannot stop it following its result pages.
    void ForgetPagingCounts();
    // Puts the list an earlier run left unfinished into Memo2.
    void RestoreDestinationList();
    // Reads "Destinations" after a read that failed (TDestinationList::
    // Recover). False while the table still cannot be read.
    bool RecoverDestinationList();
    // The desk's rows of "Destinations", or nothing when they cannot be read
    // (said on standard error and in Memo1).
    std::optional<std::vector<store::DestinationEntry>> ReadDestinationList();
    // One pass over a completed document: `page` is false for a frame of
    // the result page, whose pass collects and follows links as any pass
    // does but never settles the destination.
    void CrawlResultPage(LPDISPATCH pDisp, bool page = true);
    void FollowNextPage();
    void TransferDetailLinks(int count);
    void LoadPendingLinks();
    void ProcessNextDetail();
    // What a detail step's outcome does to its link: kept hotel, recorded
    // page without sections, another try later, or given up.
    void SettleDetail(const Hotel_Url& link, const THotelDescParser& parser, const std::optional<TRetryLink>& retry);
    // Going as the save at close writes it: every link not yet handled.
    TPendingLinks UnhandledLinks() const;
    // "Going" could not be opened: the message box "Table Open Exception",
    // and why on standard error.
    void ReportTableOpenFailure(const QString& why);
};

// The one main window, set while it exists.
extern TForm1* Form1;
