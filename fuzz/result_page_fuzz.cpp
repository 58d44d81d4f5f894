// Fuzzes the result-page pass: the input parsed as the result page of a
// search, and TForm1::CrawlResultPage run over it as the browser's
// document-complete event does, with everything it starts: the write of its
// links to "Going", navigations to fuzzed "Next" addresses and the detail
// step for the last collected link.
//
// One window serves the whole run. Before each input its crawl state is put
// back as a new window has it (nothing counted, queued or loading, Memo1
// empty), so that an input takes the same path whatever ran before it; a new
// window per input cost about 4 ms (its widgets, and the start's reads of
// Hotels_Db).
//
// Nothing waits for the network:
//  - The detail step's load stops where its fetch would start: its bind
//    context cannot be made (platform/testing/ComFaults.h). The link's
//    address has been taken apart by then (CreateURLMoniker), and the step
//    settles the failed page as it settles a refused connection: tried
//    again later, its state written to "Going". Letting the fetch run cost a
//    third of a second per input (a refused connection is retried three
//    times), and even an answered one tens of milliseconds under the
//    sanitizers, because a fetch reads its body into room for the largest
//    page (16 MiB).
//  - Every page request is answered at once with a 404 (InstantAnswers.h),
//    so the navigation completes from the event loop after the pass, which
//    SettleNavigation runs. Its completion raises no second pass: that page
//    is not the input. The navigations' body budget is small, so that their
//    reads take small buffers.
//
// Checked besides crashes: the pass queues each detail link at most once,
// only detail links are queued, the paging list is used up, the navigation
// it started completes, and no request of the input tried to connect.

#include "app/Unit1.h"
#include "crawl/ResultCrawler.h"
#include "fuzz/FuzzSupport.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "platform/testing/ComFaults.h"
#include "tests/support/FormAccess.h"
#include "tests/support/ThisDesk.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <set>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/cannonball.ctl?Service=LODGEVISTAS&airport=osl"));

// Inputs between two renewals of the temporary Hotels_Db: each input leaves
// its transferred links in "Going" and its failed detail link in "Failures",
// and no input reads them.
constexpr int kInputsPerDatabase = 4096;

// Room for the answer page (InstantAnswers.h) many times over.
constexpr qint64 kNavigationBudget = 64 * 1024;

// Longer than any navigation can take: the page time-out (one second) ends
// one that is never answered.
constexpr std::chrono::seconds kNavigationLimit{10};

// The run's one window, made on first use (after the set-up), destroyed at exit.
TForm1& Window()
{
    static TForm1 window{ThisDesk()};
    return window;
}

// What a new window has, for everything a pass reads or changes, as a search
// of "osl" that has started.
void StartAfresh(TForm1& form)
{
    TForm1TestAccess f(form);
    f.DetailLinks()->Clear();
    f.LinkCounts().clear();
    f.NextPageCounts().clear();
    f.NextPages().clear();
    f.QueuedLinks().clear();
    f.QueuedPages().clear();
    f.PendingLinks().clear();
    f.RetryLinks() = TRetryQueue();
    f.InProgressLinks().clear();
    f.ForgetSearch();
    form.Memo1->clear();
    f.SearchStarted() = 1;
    f.DestCode() = "osl";
}

// Connections and name lookups tried so far, let through to the closed port
// or refused by the guard alike.
int NetworkAttempts()
{
    return fuzz::RefusedConnects() + fuzz::ClosedPortConnects() + fuzz::RefusedLookups();
}

// Runs the event loop until the browser's navigation, if any, has completed.
// Answered pages complete within a few turns; the wake-up timer only bounds
// a navigation that never completes, which is a failure.
void SettleNavigation(TCppWebBrowser& browser)
{
    const QDeadlineTimer deadline(kNavigationLimit);
    QTimer wake;
    wake.setSingleShot(true);
    while (browser.Busy()) {
        if (deadline.hasExpired())
            fuzz::Fail("the pass's navigation did not complete");
        if (!wake.isActive())
            wake.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0) + 1));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::InitApplication(argc, argv);
    // The navigation's completion only shows its page (see above).
    Window().CppWebBrowser1->OnDocumentComplete = nullptr;
    Window().CppWebBrowser1->SetNavigationBodyBudget(kNavigationBudget);
    // One input before the first: the toolkit's first-use caches (fonts,
    // styles, the network manager, the database driver) fill here, so the
    // fuzzer's per-input leak check and coverage see only what the pass
    // itself does.
    static const char warmUp[] =
        "<!DOCTYPE html><body><p>No hotels</p><a name=h href='hotsdetail.ctl?hotel=1'>x</a>"
        "<a name=n href='hotsavail.ctl?page=2'>Next</a>";
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static int inputs = 0;
    if (++inputs % kInputsPerDatabase == 0)
        fuzz::RenewHotelsDb();

    TForm1& form = Window();
    StartAfresh(form);
    TForm1TestAccess f(form);
    const int attemptsBefore = NetworkAttempts();

    {
        ComPtr<IHTMLDocument2> document = fuzz::ParsedDocument(data, size, kAddress);
        // Armed anew for every input: a pass without a detail step leaves it
        // unused, and the next input's step takes it then.
        FailNextComCall(ComCall::CreateBindCtx);
        f.CrawlResultPage(document.get());
    }

    std::set<AnsiString> queued;
    for (const Hotel_Url& link : f.PendingLinks()) {
        if (!IsDetailLink(link.Url))
            fuzz::Fail("a link that is no detail link was queued", QString::fromStdString(link.Url));
        if (!queued.insert(link.Url).second)
            fuzz::Fail("a detail link was queued twice", QString::fromStdString(link.Url));
    }
    if (!f.NextPages().empty())
        fuzz::Fail("paging links were left after the pass");

    // The window's close is not run: it would save the queue into "Going"
    // and start another detail step; the input's work ends here.
    SettleNavigation(*form.CppWebBrowser1);
    if (NetworkAttempts() != attemptsBefore)
        fuzz::Fail("a page request of the input went to the network instead of being answered at once");
    // What the input built is let go now, not at the next input: an input
    // that ends holding more allocations than it started with makes the
    // fuzzer run it again under the leak checker, which doubled its cost.
    StartAfresh(form);
    fuzz::DrainEvents();
    return 0;
}
