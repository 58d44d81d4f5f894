// One result-page pass of the window (CrawlResultPage) on a typical page of
// 10 hotel links and one "Next" link, while the run has already seen 1k, 10k
// or 100k links (LinkCounts and the once-per-run set pre-filled with them).
//
// Three shapes of the same pass:
//   new_ftp   10 new links whose address cannot be loaded at all ("ftp:"):
//             the pass writes them to "Going" (one transaction), and its own
//             detail step takes one and ends at once (one more transaction).
//   new_http  10 new http links; the site's host is routed to a closed
//             loopback port, so the pass's detail step is a real failed load.
//   seen      10 links already queued in this run: no write, no step; what
//             is left is the walk over every link seen so far.
//
// The page is parsed outside the timing. Between iterations the pass's own
// links are taken out of the window's lists again and "Going" is emptied, so
// only the number of links seen varies (going_bench measures how the table's
// size matters). Wall time includes the database's syncs to disk; CPU time
// does not.
//
// Each failed load writes one line on standard error; run it with 2>/dev/null.

#include "app/Unit1.h"
#include "bench/BenchApp.h"
#include "platform/db/Alias.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "store/Schema.h"
#include "tests/support/FormAccess.h"
#include "tests/support/ThisDesk.h"

#include <benchmark/benchmark.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>

#include <string>

namespace {

enum Shape { kNewFtp = 0, kNewHttp = 1, kSeen = 2 };

const char* const kPageAddress = "http://hotels.example/hotsavail.ctl?airport=osl&page=1";

AnsiString DetailAddress(const std::string& base, const std::string& id)
{
    return base + "/hotsdetail.ctl?hotel=" + id;
}

AnsiString NextAddress(long serial)
{
    return "http://hotels.example/hotsavail.ctl?airport=osl&left=10&page=" + std::to_string(serial);
}

struct Page {
    QString html;
    std::vector<AnsiString> details;
    AnsiString next;
};

// A result page as the site sends it: ten named hotel anchors and a "Next".
Page MakePage(const std::string& base, const std::vector<std::string>& ids, long serial)
{
    Page page;
    std::string html = "<html><head><title>Results</title></head><body><table>";
    int n = 0;
    for (const std::string& id : ids) {
        const AnsiString link = DetailAddress(base, id);
        page.details.push_back(link);
        html += "<tr><td><a name=\"h" + std::to_string(++n) + "\" href=\"" + link + "\">Hotel " + id
                + "</a></td><td>from 99 EUR</td></tr>";
    }
    page.next = NextAddress(serial);
    html += "</table><a name=\"next\" href=\"" + page.next + "\">Next</a></body></html>";
    page.html = QString::fromStdString(html);
    return page;
}

// Empties "Going" on a connection of its own.
bool EmptyGoing()
{
    const QString name = QStringLiteral("crawl_pass_bench");
    bool ok = false;
    {
        QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
        QSqlQuery q(db);
        ok = q.exec(QStringLiteral("DELETE FROM \"Going\""));
        if (!ok)
            std::fprintf(stderr, "cannot empty \"Going\": %s\n", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

void BM_CrawlPass(benchmark::State& state)
{
    const long seenBefore = state.range(0);
    const auto shape = static_cast<Shape>(state.range(1));

    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    f.DestCode() = "osl";
    const std::string seenBase = "http://hotels.example";
    for (long i = 0; i < seenBefore; ++i) {
        const AnsiString link = DetailAddress(seenBase, "seen-" + std::to_string(i));
        f.LinkCounts()[link] = 1;
        f.QueuedLinks().insert(link);
    }

    const std::string base = shape == kNewFtp ? "ftp://hotels.example" : "http://hotels.example";
    long serial = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ++serial;
        std::vector<std::string> ids;
        for (int i = 0; i < 10; ++i)
            ids.push_back(shape == kSeen ? "seen-" + std::to_string((serial * 10 + i) % seenBefore)
                                         : "new-" + std::to_string(serial) + "-" + std::to_string(i));
        const Page page = MakePage(shape == kSeen ? seenBase : base, ids, serial);
        ComPtr<IHTMLDocument2> doc;
        if (CreateDocumentFromHtml(page.html, QUrl(QString::fromLatin1(kPageAddress)), doc) != S_OK) {
            state.SkipWithError("the page could not be parsed");
            break;
        }
        state.ResumeTiming();

        f.CrawlResultPage(doc.get());

        state.PauseTiming();
        doc.reset();
        // Back to the size the run had: only the pre-filled links stay.
        if (shape != kSeen)
            for (const AnsiString& link : page.details) {
                f.LinkCounts().erase(link);
                f.QueuedLinks().erase(link);
            }
        f.LinkCounts().erase(page.next);
        f.NextPageCounts().erase(page.next);
        f.QueuedPages().erase(page.next);
        f.PendingLinks().clear();
        form.Memo1->clear();
        // Lets the browser give up on the "Next" navigation (closed port).
        Application->ProcessMessages();
        const bool emptied = EmptyGoing();
        state.ResumeTiming();
        if (!emptied) {
            state.SkipWithError("\"Going\" could not be emptied");
            break;
        }
    }
    state.counters["links_seen"] = static_cast<double>(f.LinkCounts().size());
}

void Shapes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"seen", "shape"});
    for (long seen : {1'000L, 10'000L, 100'000L})
        for (long shape : {kNewFtp, kNewHttp, kSeen})
            b->Args({seen, shape});
}

BENCHMARK(BM_CrawlPass)->Apply(Shapes)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    BenchApp bench(argc, argv);
    if (!bench.isValid())
        return 2;
    // A minute between ticks: no timer tick during a pass.
    BenchApp::UseOfflineSite(60000, QStringLiteral("sqlite:") + bench.home.filePath(QStringLiteral("Hotels_Db.sqlite")));
    store::EnsureHotelsDbTables("Hotels_Db");
    return bench.Run(/*quiet=*/true);
}
