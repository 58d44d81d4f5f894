// Section extraction on generated detail pages of about 50 KB, 500 KB and
// 5 MB with tables nested 1, 5 and 20 deep: the fast walk, the direct walk
// (where it finishes in reasonable time), the page parse on its own, and the
// cost of one event pump per element.

#include "bench/BenchApp.h"
#include "tests/detail/DetailPages.h"

#include "detail/HotelDescParser.h"
#include "platform/html/Mshtml.h"
#include "platform/toolkit/Forms.h"

#include <benchmark/benchmark.h>

#include <map>
#include <utility>

namespace {

const std::string& Page(std::size_t bytes, int depth)
{
    static std::map<std::pair<std::size_t, int>, std::string> pages;
    auto& page = pages[{bytes, depth}];
    if (page.empty())
        page = detailpages::SizedPage(bytes, depth);
    return page;
}

ComPtr<IHTMLDocument2> Document(std::size_t bytes, int depth)
{
    static std::map<std::pair<std::size_t, int>, ComPtr<IHTMLDocument2>> docs;
    auto& doc = docs[{bytes, depth}];
    if (!doc)
        CreateDocumentFromHtml(QString::fromStdString(Page(bytes, depth)),
                               QUrl(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=b")), doc);
    return doc;
}

LONG ElementCount(IHTMLDocument2* doc)
{
    ComPtr<IHTMLElementCollection> all;
    LONG n = 0;
    if (SUCCEEDED(doc->get_all(all)) && all)
        all->get_length(&n);
    return n;
}

void Describe(benchmark::State& state, std::size_t bytes, IHTMLDocument2* doc)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["elements"] = static_cast<double>(ElementCount(doc));
}

void BM_Parse(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const QString html = QString::fromStdString(Page(bytes, static_cast<int>(state.range(1))));
    const QUrl address(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=b"));
    for (auto _ : state) {
        ComPtr<IHTMLDocument2> doc;
        CreateDocumentFromHtml(html, address, doc);
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Each iteration walks a freshly parsed document, so the fast walk pays for
// the document's serialization as it does on every real page.
template <class Walk>
void ExtractFresh(benchmark::State& state, Walk walk)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const QString html = QString::fromStdString(Page(bytes, static_cast<int>(state.range(1))));
    const QUrl address(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=b"));
    for (auto _ : state) {
        state.PauseTiming();
        ComPtr<IHTMLDocument2> doc;
        CreateDocumentFromHtml(html, address, doc);
        state.ResumeTiming();
        THotelDescParser record{platform::CurrentSettings().siteBase};
        walk(record, doc.get());
        benchmark::DoNotOptimize(record.Attractions.data());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    Describe(state, bytes, Document(bytes, static_cast<int>(state.range(1))).get());
}

void BM_ExtractFast(benchmark::State& state)
{
    ExtractFresh(state, [](THotelDescParser& r, IHTMLDocument2* d) { r.ExtractSections(d); });
}

void BM_ExtractPlain(benchmark::State& state)
{
    ExtractFresh(state, [](THotelDescParser& r, IHTMLDocument2* d) { r.ExtractSectionsPlain(d); });
}

// One pump per element of a page, with nothing else done: what the walk's
// "process pending messages after every element" costs on its own.
void BM_PumpPerElement(benchmark::State& state)
{
    const auto bytes = static_cast<std::size_t>(state.range(0));
    const ComPtr<IHTMLDocument2> doc = Document(bytes, static_cast<int>(state.range(1)));
    const LONG n = ElementCount(doc.get());
    for (auto _ : state) {
        for (LONG i = 0; i < n; ++i)
            Application->ProcessMessages();
    }
    Describe(state, bytes, doc.get());
}

void Shapes(benchmark::internal::Benchmark* b)
{
    for (long bytes : {50'000L, 500'000L, 5'000'000L})
        for (long depth : {1L, 5L, 20L})
            b->Args({bytes, depth});
}

void PlainShapes(benchmark::internal::Benchmark* b)
{
    for (long bytes : {50'000L, 500'000L})
        for (long depth : {1L, 5L, 20L})
            b->Args({bytes, depth});
    b->Args({5'000'000L, 1L});
}

BENCHMARK(BM_Parse)->Apply(Shapes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractFast)->Apply(Shapes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExtractPlain)->Apply(PlainShapes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PumpPerElement)->Args({5'000'000L, 1L})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    BenchApp bench(argc, argv);
    return bench.isValid() ? bench.Run() : 2;
}
