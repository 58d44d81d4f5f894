// Parsing and walking a result/detail page of the hotel site's shape, the
// way the crawler and the detail extractor do: get_all, item for every
// element, the anchor/table queries, href of every anchor, and outerHTML and
// innerText of every table.

#include "platform/html/Mshtml.h"

#include <benchmark/benchmark.h>

#include <QString>
#include <QUrl>

namespace {

// A page of about `megabytes` MB: a layout table holding one table per hotel,
// with named anchors, detail and paging links, scripts and Korean text.
QString HotelPage(int megabytes)
{
    QString page = QStringLiteral(
        "<!DOCTYPE html><html><head><title>Hotels</title>"
        "<script>function go(a){ if (a < 1 && a > -1) return \"</b>\"; }</script>"
        "<style>td.rate{font-weight:bold}</style></head><body>"
        "<table width=100% id=layout><tr><td valign=top>\n");
    const qsizetype target = static_cast<qsizetype>(megabytes) * 1024 * 1024;
    for (int i = 0; page.size() < target; ++i) {
        page += QStringLiteral(
                    "<table class=hotel border=0 cellpadding=2>\n"
                    "<tr><td colspan=2><a name=\"h%1\"></a><a href=\"hotsdetail.ctl?hotel=%1&amp;dest=SEL&amp;ref=%7E%1\">"
                    "<b>Grand Hotel %1</b></a> <img src=\"/img/star4.gif\" alt=\"****\"></td></tr>\n"
                    "<tr><td class=addr>서울특별시 중구 세종대로 %1 &nbsp; Seoul</td>"
                    "<td class=rate>KRW&nbsp;%2<br><font size=1>per night</font></td></tr>\n"
                    "<tr><td colspan=2><p>Hotel Information</p><ul><li>Pool<li>Spa<li>Free parking</ul>"
                    "<a href=\"http://hotels.example:80/hotsphoto.ctl?hotel=%1\">Photos</a> | "
                    "<a href=\"javascript:go(%1)\">Map</a></td></tr>\n"
                    "</table>\n")
                    .arg(i)
                    .arg(90000 + i * 7);
        if (i % 25 == 24)
            page += QStringLiteral("<div class=paging><a href=\"hotsavail.ctl?page=%1&dest=SEL\">Next</a></div>\n").arg(i);
    }
    page += QStringLiteral("</td></tr></table></body></html>");
    return page;
}

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsavail.ctl?dest=SEL"));

ComPtr<IHTMLDocument2> ParsePage(const QString& page)
{
    ComPtr<IHTMLDocument2> doc;
    CreateDocumentFromHtml(page, kAddress, doc);
    return doc;
}

// Everything the extractor and the crawler read from one document.
std::size_t Walk(const ComPtr<IHTMLDocument2>& doc, std::size_t& elements)
{
    std::size_t chars = 0;
    ComPtr<IHTMLElementCollection> all;
    doc->get_all(all);
    LONG n = 0;
    all->get_length(&n);
    elements = static_cast<std::size_t>(n);
    for (LONG i = 0; i < n; ++i) {
        ComPtr<IDispatch> item;
        if (all->item(VariantI4(i), VARIANT{}, item) != S_OK)
            continue;
        ComPtr<IHTMLAnchorElement> anchor;
        if (QueryInterface(item, anchor) == S_OK) {
            QString href;
            anchor->get_href(href);
            chars += static_cast<std::size_t>(href.size());
        }
        ComPtr<IHTMLTable> table;
        if (QueryInterface(item, table) == S_OK) {
            ComPtr<IHTMLElement> element;
            QueryInterface(item, element);
            QString outer, text;
            element->get_outerHTML(outer);
            element->get_innerText(text);
            chars += static_cast<std::size_t>(outer.size() + text.size());
        }
    }
    return chars;
}

void BM_ParsePage(benchmark::State& state)
{
    const QString page = HotelPage(static_cast<int>(state.range(0)));
    const auto bytes = page.toUtf8().size();
    for (auto _ : state) {
        auto doc = ParsePage(page);
        benchmark::DoNotOptimize(doc);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ParsePage)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_WalkPage(benchmark::State& state)
{
    const auto doc = ParsePage(HotelPage(static_cast<int>(state.range(0))));
    std::size_t elements = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(Walk(doc, elements));
    state.counters["elements"] = static_cast<double>(elements);
    state.counters["elements_per_s"] =
        benchmark::Counter(static_cast<double>(elements), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WalkPage)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

// The whole document serialized once, with every element's extent (what a
// caller reading outerHTML for every element uses instead).
void BM_SerializeDocument(benchmark::State& state)
{
    const QString page = HotelPage(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto doc = ParsePage(page);
        ComPtr<IHTMLDocumentSerialization> ser;
        QueryInterface(doc, ser);
        state.ResumeTiming();
        const std::string* whole = nullptr;
        ser->get_serializedUtf8(whole);
        benchmark::DoNotOptimize(whole->size());
        state.PauseTiming();
        doc.reset();
        ser.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_SerializeDocument)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    // Documents can only be created with COM initialised on the thread.
    CoInitialize(nullptr);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CoUninitialize();
    return 0;
}
