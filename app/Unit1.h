#pragma once
// The main window and crawl controller. Every handler of the crawl (button,
// timers, browser events) is a method of TForm1 and every piece of crawl
// state lives in its members; everything runs on the window's event loop.
// The handlers' bodies live with their subsystems: crawl/ (destinations,
// search, result pages) and detail/ (the detail queue).

#include "crawl/LinkLists.h"
#include "platform/DbTables.h"
#include "platform/Forms.h"
#include "platform/WebBrowser.h"
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
    // Whether the rows of "Going" were loaded in this run; until then a save
    // at close adds to them instead of replacing them.
    bool GoingLoaded = false;

    void SearchDestination(int index);
    void CrawlResultPage(LPDISPATCH pDisp);
    void FollowNextPage();
    void TransferDetailLinks(int count);
    void LoadPendingLinks();
    void ProcessNextDetail();
};

// The one main window, set while it exists.
extern TForm1* Form1;
