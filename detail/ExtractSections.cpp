// The section walk over a loaded document: the photo link and the marked
// sections (kSectionMarkers), in two equivalent forms.
//
// The direct form serializes the outer HTML of every table. A marker deep in
// nested tables is then serialized once per enclosing table, so its cost
// grows with page size times nesting depth. The fast form reads the
// document's serialization once, finds every marker occurrence in it, and
// tests a table by whether an occurrence lies inside the table's byte extent
// (its outer HTML is exactly that slice). Because a later match overwrites
// an earlier one, only the last matching table of each field matters: its
// inner text is read once, after the walk.

#include "detail/HotelDescParser.h"
#include "detail/Pump.h"
#include "detail/Sections.h"
#include "platform/html/Mshtml.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kMarkerCount = std::tuple_size_v<decltype(detail::kSectionMarkers)>;

// Pumps after the first element and then whenever a millisecond has passed
// since the last pump. One pump per element costs about as much as the rest
// of the fast walk together (5 MB page, 155k elements: ~120 ms of pumping
// against ~100 ms of walking), while a pump per millisecond still delivers
// timer ticks and network events with at most a millisecond's delay.
class BoundedPump {
public:
    void AfterElement()
    {
        if (clock_.isValid() && clock_.elapsed() < 1)
            return;
        detail::PumpOnce();
        clock_.start();
    }

private:
    QElapsedTimer clock_;
};

// The document's collection of all elements and its length, read once; null
// when there is no document or no collection.
ComPtr<IHTMLElementCollection> AllElements(IHTMLDocument2* document, LONG& n)
{
    n = 0;
    ComPtr<IHTMLElementCollection> all;
    if (!document || FAILED(document->get_all(all)) || !all)
        return nullptr;
    all->get_length(&n);
    return all;
}

// Element `i` of `all`, fetched the way the walk does it (name = i as a
// 32-bit integer, index = empty), followed by `pump()` whatever the fetch
// gave. Null when the fetch did not return exactly S_OK or gave nothing.
template <class Pump>
ComPtr<IDispatch> FetchElement(IHTMLElementCollection& all, LONG i, Pump&& pump)
{
    ComPtr<IDispatch> element;
    const HRESULT hr = all.item(VariantI4(i), VARIANT{}, element);
    pump();
    if (hr != S_OK)
        element.reset();
    return element;
}

// The href of `element` when it is an anchor whose href holds `prefix`.
bool PhotoHref(IDispatch* element, const AnsiString& prefix, AnsiString& href)
{
    ComPtr<IHTMLAnchorElement> anchor;
    if (QueryInterface(element, anchor) != S_OK)
        return false;
    QString wide;
    anchor->get_href(wide);
    AnsiString text = ToAnsi(wide);
    if (Pos(prefix, text) <= 0)
        return false;
    href = std::move(text);
    return true;
}

// The IHTMLElement of `element` when it is a table.
ComPtr<IHTMLElement> TableElement(IDispatch* element)
{
    ComPtr<IHTMLTable> table;
    ComPtr<IHTMLElement> tableElement;
    if (QueryInterface(element, table) != S_OK || QueryInterface(table, tableElement) != S_OK)
        return nullptr;
    return tableElement;
}

// The marker text of every section (name="..."), in table order.
std::array<AnsiString, kMarkerCount> MarkerTexts()
{
    std::array<AnsiString, kMarkerCount> texts;
    for (std::size_t k = 0; k < kMarkerCount; ++k)
        texts[k] = detail::MarkerText(detail::kSectionMarkers[k].name);
    return texts;
}

// Start offsets of every occurrence of each marker in `text`, in ascending
// order. All markers begin with name=", so one scan for that opening finds
// them all.
std::array<std::vector<std::size_t>, kMarkerCount> FindMarkers(std::string_view text,
                                                               const std::array<AnsiString, kMarkerCount>& markers)
{
    std::array<std::vector<std::size_t>, kMarkerCount> found;
    constexpr std::string_view opening = "name=\"";
    for (std::size_t at = text.find(opening); at != std::string_view::npos;
         at = text.find(opening, at + 1)) {
        for (std::size_t k = 0; k < kMarkerCount; ++k) {
            if (text.compare(at, markers[k].size(), markers[k]) == 0)
                found[k].push_back(at);
        }
    }
    return found;
}

// True when some occurrence of a marker of `length` bytes lies entirely
// within [begin, end). The first occurrence at or after `begin` ends first.
bool OccursWithin(const std::vector<std::size_t>& starts, std::size_t length, std::size_t begin, std::size_t end)
{
    const auto it = std::lower_bound(starts.begin(), starts.end(), begin);
    return it != starts.end() && *it + length <= end;
}

}  // namespace

void THotelDescParser::ExtractSectionsPlain(IHTMLDocument2* document)
{
    LONG n = 0;
    const ComPtr<IHTMLElementCollection> all = AllElements(document, n);
    if (!all)
        return;

    for (LONG i = 0; i < n; ++i) {
        const ComPtr<IDispatch> element = FetchElement(*all, i, detail::PumpOnce);
        if (!element)
            continue;
        PhotoHref(element.get(), photoPrefix_, PhotoUrl);
        const ComPtr<IHTMLElement> table = TableElement(element.get());
        if (!table)
            continue;
        QString outer;
        table->get_outerHTML(outer);
        const AnsiString outerHtml = ToAnsi(outer);
        for (const auto& marker : detail::kSectionMarkers) {
            if (!detail::HasMarker(outerHtml, AnsiString(marker.name)))
                continue;
            QString text;
            table->get_innerText(text);
            this->*marker.field = detail::PostProcessText(marker.post, ToAnsi(text));
        }
    }
}

void THotelDescParser::ExtractSections(IHTMLDocument2* document)
{
    if (!document)
        return;
    ComPtr<IHTMLDocumentSerialization> serialization;
    const std::string* serialized = nullptr;
    if (QueryInterface(document, serialization) != S_OK
        || serialization->get_serializedUtf8(serialized) != S_OK || !serialized) {
        ExtractSectionsPlain(document);
        return;
    }
    LONG n = 0;
    const ComPtr<IHTMLElementCollection> all = AllElements(document, n);
    if (!all)
        return;

    const std::string_view text = *serialized;
    const std::array<AnsiString, kMarkerCount> markers = MarkerTexts();
    const auto occurrences = FindMarkers(text, markers);
    const bool anyMarker = std::any_of(occurrences.begin(), occurrences.end(),
                                       [](const std::vector<std::size_t>& starts) { return !starts.empty(); });

    // The last table, in document order, that matches each marker.
    std::array<LONG, kMarkerCount> winner;
    winner.fill(-1);
    BoundedPump pump;
    for (LONG i = 0; i < n; ++i) {
        const ComPtr<IDispatch> element = FetchElement(*all, i, [&pump] { pump.AfterElement(); });
        if (!element)
            continue;
        PhotoHref(element.get(), photoPrefix_, PhotoUrl);
        const ComPtr<IHTMLElement> table = TableElement(element.get());
        if (!table)
            continue;
        IHTMLDocumentSerialization::Extent extent;
        if (serialization->get_extentOfAll(i, extent) == S_OK && extent.begin <= extent.end
            && extent.end <= text.size()) {
            if (!anyMarker)
                continue;
            for (std::size_t k = 0; k < kMarkerCount; ++k) {
                if (OccursWithin(occurrences[k], markers[k].size(), extent.begin, extent.end))
                    winner[k] = i;
            }
        } else {
            // No usable extent for this table: test its own serialization.
            QString outer;
            table->get_outerHTML(outer);
            const AnsiString outerHtml = ToAnsi(outer);
            for (std::size_t k = 0; k < kMarkerCount; ++k) {
                if (Pos(markers[k], outerHtml) > 0)
                    winner[k] = i;
            }
        }
    }

    // Inner text of each winning table, read once even when it wins several fields.
    std::map<LONG, AnsiString> innerTexts;
    for (std::size_t k = 0; k < kMarkerCount; ++k) {
        if (winner[k] < 0)
            continue;
        auto found = innerTexts.find(winner[k]);
        if (found == innerTexts.end()) {
            ComPtr<IDispatch> element;
            if (all->item(VariantI4(winner[k]), VARIANT{}, element) != S_OK || !element)
                continue;
            const ComPtr<IHTMLElement> table = TableElement(element.get());
            if (!table)
                continue;
            QString wide;
            table->get_innerText(wide);
            found = innerTexts.emplace(winner[k], ToAnsi(wide)).first;
        }
        const auto& marker = detail::kSectionMarkers[k];
        this->*marker.field = detail::PostProcessText(marker.post, found->second);
    }
}
