// Memory of one window over a simulated day of crawling: 1,440 result-page
// passes (one search a minute), each on a page of 100 hotel links and one
// "Next" link, with one detail step between two passes as the detail timer
// would run it (every 61st tick of a 1000 ms timer) besides the step each
// pass takes itself.
//
// Of the 100 hotels of a page, NEW are new and the rest were seen in earlier
// passes (the first pass has 100 new ones whatever NEW is). With NEW = 0 the
// same page comes back every minute, "Next" link included; otherwise its
// "Next" link is new as well. The site's host is routed to a closed loopback
// port, so every detail step is a real load that fails at once. With
// load = 0 the hotel links are "ftp:" addresses instead, which no step even
// tries to load: the difference between the two shows what the loads leave
// behind.
//
// After every 144 passes a line is printed: the heap in use (mallinfo2), the
// resident size and its peak (/proc/self/status VmRSS, VmHWM), the window's
// list sizes, the lines in its log and the wall time of the last 144 passes. The peak is the
// process's: run one case per process (--benchmark_filter) for a clean one.
// The heap's growth per distinct link is the counter heap_per_link.
//
// Each failed load writes one line on standard error; run it with 2>/dev/null.

#include "app/Unit1.h"
#include "bench/BenchApp.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "store/Schema.h"
#include "tests/support/FormAccess.h"
#include "tests/support/ThisDesk.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kPasses = 1440;
constexpr int kReportEvery = 144;
constexpr int kHotelsPerPage = 100;

QTemporaryDir* Scratch = nullptr;

// A fresh database for each case, so that one case's "Going" does not slow
// the next one's writes.
void FreshDatabase(int newPerPass, bool load)
{
    platform::Settings settings = platform::CurrentSettings();
    settings.hotelsDb = QStringLiteral("sqlite:")
                        + Scratch->filePath(QStringLiteral("Hotels_Db_%1_%2.sqlite").arg(newPerPass).arg(load));
    platform::SetSettings(settings);
    store::EnsureHotelsDbTables("Hotels_Db");
}

struct Memory {
    double heapMb = 0;  // bytes handed out by malloc and not freed
    double rssMb = 0;
    double hwmMb = 0;
};

double StatusKb(const QByteArray& status, const char* key)
{
    const int at = status.indexOf(key);
    if (at < 0)
        return 0;
    return status.mid(at + static_cast<int>(qstrlen(key))).trimmed().split(' ').value(0).toDouble();
}

Memory Measure()
{
    Memory m;
    m.heapMb = static_cast<double>(mallinfo2().uordblks) / (1024.0 * 1024.0);
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        const QByteArray text = status.readAll();
        m.rssMb = StatusKb(text, "VmRSS:") / 1024.0;
        m.hwmMb = StatusKb(text, "VmHWM:") / 1024.0;
    }
    return m;
}

// The page of pass `pass`: its first hotels are new (numbered on from
// `nextNew`), the others repeat the hotels seen so far in turn.
QString ResultPage(int pass, int newPerPass, bool load, long& nextNew)
{
    const std::string base = load ? "http://hotels.example" : "ftp://hotels.example";
    const int fresh = pass == 0 ? kHotelsPerPage : newPerPass;
    const long seen = nextNew;
    std::string html = "<html><head><title>Results</title></head><body><table>";
    for (int i = 0; i < kHotelsPerPage; ++i) {
        const long id = i < fresh ? nextNew++ : (static_cast<long>(pass) * kHotelsPerPage + i) % seen;
        const std::string link = base + "/hotsdetail.ctl?hotel=osl-" + std::to_string(id);
        html += "<tr><td><a name=\"h" + std::to_string(i + 1) + "\" href=\"" + link + "\">Hotel "
                + std::to_string(id) + "</a></td><td>from 99 EUR</td></tr>";
    }
    const int nextPage = newPerPass == 0 ? 2 : pass + 2;
    html += "</table><a name=\"next\" href=\"http://hotels.example/hotsavail.ctl?airport=osl&amp;left=100&amp;page="
            + std::to_string(nextPage) + "\">Next</a></body></html>";
    return QString::fromStdString(html);
}

void BM_SimulatedDay(benchmark::State& state)
{
    const int newPerPass = static_cast<int>(state.range(0));
    const bool load = state.range(1) != 0;
    for (auto _ : state) {
        FreshDatabase(newPerPass, load);
        const Memory start = Measure();
        std::printf("\n%d new hotels per pass, detail pages %s; before the window: heap %.1f MB, RSS %.1f MB, peak %.1f MB\n",
                    newPerPass, load ? "loaded" : "not loaded", start.heapMb, start.rssMb, start.hwmMb);
        std::printf("%6s %8s %7s %8s %10s %8s %8s %9s %11s\n", "passes", "heap MB", "RSS MB", "peak MB",
                    "LinkCounts", "pending", "queued", "log lines", "ms per pass");
        long nextNew = 0;
        Memory last;
        std::size_t distinct = 0;
        {
            auto form = std::make_unique<TForm1>(ThisDesk());
            TForm1TestAccess f(*form);
            f.DestCode() = "osl";
            QElapsedTimer clock;
            clock.start();
            for (int pass = 0; pass < kPasses; ++pass) {
                ComPtr<IHTMLDocument2> doc;
                if (CreateDocumentFromHtml(ResultPage(pass, newPerPass, load, nextNew),
                                           QUrl(QStringLiteral("http://hotels.example/hotsavail.ctl?airport=osl")),
                                           doc)
                    != S_OK) {
                    state.SkipWithError("a page could not be parsed");
                    return;
                }
                f.CrawlResultPage(doc.get());
                doc.reset();
                // The browser gives up on the "Next" page; the detail timer's step.
                Application->ProcessMessages();
                f.ProcessNextDetail();
                Application->ProcessMessages();

                if ((pass + 1) % kReportEvery == 0) {
                    last = Measure();
                    std::printf("%6d %8.1f %7.1f %8.1f %10zu %8zu %8zu %9d %11.2f\n", pass + 1, last.heapMb,
                                last.rssMb, last.hwmMb, f.LinkCounts().size(), f.PendingLinks().size(),
                                f.QueuedLinks().size(), form->Memo1->blockCount(),
                                static_cast<double>(clock.elapsed()) / kReportEvery);
                    std::fflush(stdout);
                    clock.restart();
                }
            }
            distinct = f.LinkCounts().size() + f.NextPageCounts().size();
            // The window goes without a close, as after a crash: its lists are
            // freed with it and "Going" keeps what was pending.
        }
        Application->ProcessMessages();
        const Memory after = Measure();
        std::printf("after the window is gone: heap %.1f MB, RSS %.1f MB\n", after.heapMb, after.rssMb);
        state.counters["distinct_links"] = static_cast<double>(distinct);
        state.counters["heap_growth_MB"] = last.heapMb - start.heapMb;
        state.counters["heap_per_link"] =
            distinct ? (last.heapMb - start.heapMb) * 1024.0 * 1024.0 / static_cast<double>(distinct) : 0;
        state.counters["peak_MB"] = last.hwmMb;
    }
}

BENCHMARK(BM_SimulatedDay)->ArgNames({"new", "load"})->ArgsProduct({{0, 10, 100}, {1, 0}})->Iterations(1)->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BenchApp bench(argc, argv);
    if (!bench.isValid())
        return 2;
    // The steps are run by the loop above, not by the timers.
    BenchApp::UseOfflineSite(60 * 60 * 1000);
    Scratch = &bench.home.dir;
    return bench.Run(/*quiet=*/true);
}
