#include "app/Unit1.h"

#include "platform/Com.h"
#include "platform/Settings.h"
#include "store/Going.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(QWidget* parent) : TForm(parent)
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

    Timer1 = new TTimer(this);
    Table1 = new TTable(this);
    Timer2 = new TTimer(this);
    Table2 = new TTable(this);
    Table2->SetDatabaseName("Hotels_Db");
    Table2->SetTableName("Staymarker");

    // Both timers tick from here on at the installation's pace.
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
    // 1.-4. Probe "Going" with a temporary table: saved work means resume mode.
    ResumeMode = store::GoingHasRows(this);

    // 5. Initialise COM for the window's thread.
    if (FAILED(CoInitialize(nullptr)))
        ShowMessage("COM Init 에러");

    // 6. The list that lines detail links up for transfer.
    DetailLinks = std::make_unique<TStringList>();

    // 7.
    SearchStarted = 0;
}

void TForm1::FormClose(TObject* Sender, int& Action)
{
    // 1.-5. Save PendingLinks into "Going", in one transaction. Until the
    // saved rows were loaded in this run they are not in PendingLinks, so the
    // save adds to them instead of replacing them.
    const auto mode = ResumeMode && !GoingLoaded ? store::GoingSave::Append : store::GoingSave::Replace;
    store::SaveGoing(*Table1, PendingLinks, mode);

    // 6. One more detail step.
    ProcessNextDetail();

    // 7.
    DetailLinks.reset();

    // 8.
    LinkCounts.clear();
    NextPageCounts.clear();
    NextPages.clear();

    // 9. Give back the start-up initialisation.
    CoUninitialize();
}
