#include "app/Unit1.h"

#include "platform/base/Report.h"
#include "platform/db/Alias.h"
#include "platform/html/Com.h"
#include "platform/settings/Settings.h"
#include "store/Going.h"

#include <exception>
#include <utility>

TForm1* Form1 = nullptr;

TForm1::TForm1(store::DeskAccess desk, QWidget* parent)
    : TForm(parent), SiteBase(platform::CurrentSettings().siteBase), Limits(platform::CurrentSettings().Page()),
      Desk(desk), GoingWrites(std::move(desk))
{
    ::Form1 = this;

    // Load the controls with their stored properties.
    setupUi(this);
    move(138, 120);  // the form's stored place; only its size comes from the form file
    Panel2->SetCaption(QStringLiteral("Panel2"));
    Panel1->SetCaption(QStringLiteral("Panel1"));
    Splitter1->setStretchFactor(0, 0);  // the left pane keeps its width
    Splitter1->setStretchFactor(1, 1);  // the browser takes the extra space
    Splitter1->setSizes({361, 703});
    CppWebBrowser1->SetPageLimits(Limits);
    Destinations.ShowIn(*Memo2);

    Timer1 = new TTimer(this);
    Timer2 = new TTimer(this);
    Table2 = new TTable(this);
    Table2->SetDatabaseName(platform::kHotelsAlias);
    Table2->SetTableName("Staymarker");

    // Both timers tick from here on at the installation's pace. The setting
    // is read here only: what converts seconds into ticks asks the timer.
    const int interval = platform::CurrentSettings().timerIntervalMs;
    Timer1->SetInterval(interval);
    Timer2->SetInterval(interval);
    Timer1->OnTimer = [this](TObject* sender) { Timer1Timer(sender); };
    Timer2->OnTimer = [this](TObject* sender) { Timer2Timer(sender); };

    Button2->OnClick = [this](TObject* sender) { Button2Click(sender); };
    CppWebBrowser1->OnNewWindow2 = [this](TObject* sender, LPDISPATCH* ppDisp, VARIANT_BOOL* cancel) {
        CppWebBrowser1NewWindow2(sender, ppDisp, cancel);
    };
    CppWebBrowser1->OnDocumentComplete = [this](TObject* sender, LPDISPATCH pDisp, VARIANT* url) {
        CppWebBrowser1DocumentComplete(sender, pDisp, url);
    };
    OnClose = [this](TObject* sender, int& action) { FormClose(sender, action); };

    FormCreate(this);
}

TForm1::~TForm1()
{
    if (::Form1 == this)
        ::Form1 = nullptr;
}

void TForm1::FormCreate(TObject* Sender)
{
    // Probe the desk's rows of "Going": saved work means resume mode.
    // A table that cannot be opened holds no rows.
    const store::GoingProbe probe = store::ProbeGoing(Desk);
    if (!probe.opened)
        ReportTableOpenFailure(probe.why);
    ResumeMode = probe.hasRows;
    // An empty table seen by the probe holds nothing this run must keep.
    GoingKnown = probe.opened && !probe.hasRows;

    if (FAILED(CoInitialize(nullptr)))
        ShowMessage("COM Init 에러");

    DetailLinks = std::make_unique<TStringList>();
    // No page is crawled before the next search, not even that of a search
    // Timer1 started while a start-up message box waited.
    SearchStarted = 0;

    // The destinations an earlier run left unsearched come back into Memo2.
    RestoreDestinationList();
}

void TForm1::FormClose(TObject* Sender, int& Action)
{
    Closing = true;

    // The destinations still to search, for the next start.
    SaveDestinationList();

    // Save the links not yet handled into "Going", in one transaction.
    // The write-through has them there already; writes it still owes go
    // first, and the save then makes the table exact. Rows of an earlier run
    // that this run never read are kept.
    GoingWrites.Flush();
    const auto mode = GoingKnown ? store::GoingSave::Replace : store::GoingSave::Merge;
    try {
        const store::GoingOpen saved = store::SaveGoing(Desk, UnhandledLinks(), mode, RetryLinks.States(DetailClock));
        if (saved.opened)
            GoingWrites.SupersededBySave(mode == store::GoingSave::Replace);
        else
            ReportTableOpenFailure(saved.why);
    } catch (const std::exception& e) {
        // The write-through kept the links; the close goes on.
        Application->ShowException(QString::fromUtf8(e.what()));
    }

    ProcessNextDetail();

    DetailLinks.reset();
    LinkCounts.clear();
    NextPageCounts.clear();
    NextPages.clear();
    CoUninitialize();

    if (!GoingWrites.Flush())
        platform::Report(QStringLiteral("closing with %1 links and %2 hotels not written to \"Hotels_Db\"")
                             .arg(GoingWrites.OwedLinks())
                             .arg(GoingWrites.OwedHotels()));
    Closed = true;
}

void TForm1::ReportTableOpenFailure(const QString& why)
{
    platform::Report(QStringLiteral("could not open \"Going\": ") + why);
    ShowMessage("Table Open Exception");
}

TPendingLinks TForm1::UnhandledLinks() const
{
    // PendingLinks in order, then the links in progress in the order they had
    // in PendingLinks (the innermost step took the one nearest the front),
    // the links waiting for another try, and the handled links whose rows
    // the write-through still owes (a hotel row that could not be stored
    // keeps its link). Links the database refuses are left out: the save
    // would only fail on them again.
    TPendingLinks links = PendingLinks;
    links.insert(links.end(), InProgressLinks.rbegin(), InProgressLinks.rend());
    const TPendingLinks waiting = RetryLinks.Links();
    links.insert(links.end(), waiting.begin(), waiting.end());
    const TPendingLinks unsettled = GoingWrites.UnsettledLinks();
    links.insert(links.end(), unsettled.begin(), unsettled.end());
    std::set<AnsiString> refused;
    for (const Hotel_Url& link : GoingWrites.RefusedLinks())
        refused.insert(link.Url);
    if (!refused.empty())
        std::erase_if(links, [&](const Hotel_Url& link) { return refused.count(link.Url) > 0; });
    return links;
}
