// Parse time and parser memory of hostile pages, each next to an ordinary
// generated detail page of the same size: 40,000 nested divs, 40,000
// attributes on one tag, 100,000 nested table/tr/td, formatting elements
// re-opened after every block close, and misnested formatting around blocks.
// The "Uncapped" runs parse the same bytes without the markup caps, for
// comparison (they are quadratic; one iteration each).
//
// Counters: bytes_per_input_byte is the parser's memory (Tree::parseMemory)
// divided by the page size; bytes_per_second is input parsed per second.

#include "platform/dom/HtmlTree.h"
#include "platform/htmllimit/HtmlLimits.h"
#include "tests/detail/DetailPages.h"
#include "tests/platform/htmllimit/HostileMarkup.h"

#include <benchmark/benchmark.h>

#include <QUrl>

#include <string>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=x"));


using hostile::Repeat;
const auto Wrap = hostile::Page;

std::string NestedDivs() { return Wrap(Repeat("<div>", 40000) + "core" + Repeat("</div>", 40000)); }

std::string ManyAttributes()
{
    std::string tag = "<div";
    for (int i = 0; i < 40000; ++i)
        tag += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    return Wrap(tag + ">x</div>");
}

std::string NestedTables() { return Wrap(Repeat("<table><tr><td>", 100000) + "core"); }

std::string ReopenedFormatting()
{
    std::string block = Repeat("<div>", 200);
    for (int i = 0; i < 200; ++i)
        block += "<b class=c" + std::to_string(i) + ">";
    block += Repeat("</div>x", 200) + Repeat("</b>", 200);
    return Wrap(Repeat(block, 60));
}

std::string MisnestedFormatting() { return Wrap(Repeat("<b><div></b>", 100000) + "x"); }

std::string Plain(std::size_t bytes) { return detailpages::SizedPage(bytes, 5); }

void Run(benchmark::State& state, const std::string& page, bool capped)
{
    std::size_t memory = 0;
    for (auto _ : state) {
        auto tree = capped ? html::Tree::Parse(page, kAddress) : html::Tree::ParseWithoutLimits(page, kAddress);
        memory = tree->parseMemory();
        benchmark::DoNotOptimize(tree->all.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
    state.counters["input_bytes"] = static_cast<double>(page.size());
    state.counters["bytes_per_input_byte"] = static_cast<double>(memory) / static_cast<double>(page.size());
}

void BM_NestedDivs(benchmark::State& s) { static const std::string p = NestedDivs(); Run(s, p, true); }
void BM_NestedDivsPlain(benchmark::State& s) { static const std::string p = Plain(NestedDivs().size()); Run(s, p, true); }
void BM_NestedDivsUncapped(benchmark::State& s) { static const std::string p = NestedDivs(); Run(s, p, false); }
void BM_ManyAttributes(benchmark::State& s) { static const std::string p = ManyAttributes(); Run(s, p, true); }
void BM_ManyAttributesPlain(benchmark::State& s) { static const std::string p = Plain(ManyAttributes().size()); Run(s, p, true); }
void BM_ManyAttributesUncapped(benchmark::State& s) { static const std::string p = ManyAttributes(); Run(s, p, false); }
void BM_NestedTables(benchmark::State& s) { static const std::string p = NestedTables(); Run(s, p, true); }
void BM_NestedTablesPlain(benchmark::State& s) { static const std::string p = Plain(NestedTables().size()); Run(s, p, true); }
void BM_NestedTablesUncapped(benchmark::State& s) { static const std::string p = NestedTables(); Run(s, p, false); }
void BM_ReopenedFormatting(benchmark::State& s) { static const std::string p = ReopenedFormatting(); Run(s, p, true); }
void BM_ReopenedFormattingPlain(benchmark::State& s) { static const std::string p = Plain(ReopenedFormatting().size()); Run(s, p, true); }
void BM_MisnestedFormatting(benchmark::State& s) { static const std::string p = MisnestedFormatting(); Run(s, p, true); }
void BM_MisnestedFormattingPlain(benchmark::State& s) { static const std::string p = Plain(MisnestedFormatting().size()); Run(s, p, true); }

// The pass over the markup alone, on an ordinary page (nothing to remove).
void BM_LimitPassPlain(benchmark::State& state)
{
    static const std::string page = Plain(4 * 1024 * 1024);
    std::string out;
    for (auto _ : state)
        benchmark::DoNotOptimize(html::LimitMarkup(page, out));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page.size()));
}

}  // namespace

BENCHMARK(BM_NestedDivs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedDivsPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedDivsUncapped)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ManyAttributes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyAttributesPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ManyAttributesUncapped)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_NestedTables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedTablesPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NestedTablesUncapped)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ReopenedFormatting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReopenedFormattingPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MisnestedFormatting)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MisnestedFormattingPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LimitPassPlain)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
