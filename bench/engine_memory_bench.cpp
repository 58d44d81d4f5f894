// What the browser engine costs over a long crawl: the memory of the program
// and its engine processes (renderers, zygotes) while 1,000 detail pages of
// about 150 KB load off-screen and 200 result pages load in the shown pane,
// and how long one detail step (load, settle, extract) takes with the
// default settling time. Pages come from a loopback server on its own
// thread.
//
// Counters: pss_mb_half and pss_mb_end, the proportional set size of the
// whole process tree (each shared page counted once, in shares) after half
// the pages and at the end (target: under 600 MB, and flat: the end no
// higher than the half by more than a few percent); rss_mb_* the same as
// the sum of resident sizes, which counts the engine processes' shared
// pages once per process; detail_step_ms, the mean detail step (target:
// under 1 s).

#include "bench/BenchApp.h"
#include "tests/detail/DetailPages.h"
#include "tests/support/LoopbackSite.h"

#include "detail/HotelDescParser.h"
#include "platform/browser/WebBrowser.h"
#include "platform/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <unistd.h>

namespace {

struct TreeMemory {
    double rssMb = 0;
    double pssMb = 0;
};

// A "Key:   N kB" line's number from /proc/<pid>/<file>; 0 when absent.
long KbOf(int pid, const char* file, const QByteArray& key)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toLong();
    return 0;
}

// The memory of this process and every process below it.
TreeMemory TreeMemoryNow()
{
    std::map<int, std::vector<int>> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (isPid)
            children[int(KbOf(pid, "status", "PPid:"))].push_back(pid);
    }
    TreeMemory total;
    std::vector<int> todo{int(::getpid())};
    while (!todo.empty()) {
        const int pid = todo.back();
        todo.pop_back();
        total.rssMb += double(KbOf(pid, "status", "VmRSS:")) / 1024.0;
        total.pssMb += double(KbOf(pid, "smaps_rollup", "Pss:")) / 1024.0;
        for (int child : children[pid])
            todo.push_back(child);
    }
    return total;
}

void BM_LongCrawlMemory(benchmark::State& state)
{
    platform::engine::UseEngine(platform::BrowserEngine::Chromium);
    LoopbackSite site;
    site.Serve("/detail", detailpages::SizedPage(150'000, 5));
    site.Serve("/result", detailpages::SizedPage(150'000, 2));
    const int detailPages = int(state.range(0));
    const int resultPages = detailPages / 5;
    TCppWebBrowser pane;
    pane.resize(1024, 768);
    pane.show();
    int completed = 0;
    pane.OnDocumentComplete = [&](TObject*, LPDISPATCH, VARIANT*) { ++completed; };
    for (auto _ : state) {
        TreeMemory half;
        qint64 detailMs = 0;
        for (int i = 0; i < detailPages; ++i) {
            QElapsedTimer step;
            step.start();
            THotelDescParser record{platform::CurrentSettings().siteBase};
            record.SetUrl((site.Url(QStringLiteral("/detail?n=%1").arg(i))).toStdString());
            record.Parse(platform::CurrentSettings().Page());
            detailMs += step.elapsed();
            if (i % 5 == 0 && i / 5 < resultPages) {
                const int before = completed;
                pane.Navigate(site.Url(QStringLiteral("/result?n=%1").arg(i)));
                while (completed == before)
                    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 100);
            }
            if (i == detailPages / 2)
                half = TreeMemoryNow();
        }
        const TreeMemory end = TreeMemoryNow();
        state.counters["pss_mb_half"] = half.pssMb;
        state.counters["pss_mb_end"] = end.pssMb;
        state.counters["rss_mb_half"] = half.rssMb;
        state.counters["rss_mb_end"] = end.rssMb;
        state.counters["detail_step_ms"] = double(detailMs) / detailPages;
    }
}

BENCHMARK(BM_LongCrawlMemory)->Arg(1000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BenchApp bench(argc, argv);
    return bench.isValid() ? bench.Run(true) : 2;
}
