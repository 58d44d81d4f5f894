// Fuzzes the HTML document engine: parse, the two element collections, href
// of every anchor, inner text and outer HTML of a bounded sample of
// elements, and the serialization extents the fast section walk relies on.
// Besides crashes and sanitizer reports it checks what the interfaces
// promise: a parsed document is complete, anchors are A elements, item()
// past the end fails cleanly, and each sampled element's outer HTML is
// exactly its extent of the document's serialization.

#include "fuzz/FuzzSupport.h"
#include "platform/html/Mshtml.h"

#include <QUrl>

#include <algorithm>
#include <string>

namespace {

// Elements whose text and markup are read: all of them on small pages, the
// first ones plus an even spread on large pages, so one input stays cheap.
constexpr LONG kSampleHead = 96;
constexpr LONG kSampleSpread = 96;

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsavail.ctl?airport=osl&page=1"));

void CheckPastTheEnd(IHTMLElementCollection& collection, LONG length, const char* which)
{
    ComPtr<IDispatch> item;
    if (SUCCEEDED(collection.item(VariantI4(length), VARIANT{}, item)) || item)
        fuzz::Fail("item() past the end of a collection succeeded", QString::fromLatin1(which));
    if (SUCCEEDED(collection.item(VariantI4(-1), VARIANT{}, item)) || item)
        fuzz::Fail("item(-1) of a collection succeeded", QString::fromLatin1(which));
}

void WalkAnchors(IHTMLDocument2& document, LONG allLength)
{
    ComPtr<IHTMLElementCollection> anchors;
    LONG n = 0;
    if (document.get_anchors(anchors) != S_OK || !anchors || anchors->get_length(&n) != S_OK)
        fuzz::Fail("a complete document gave no anchors collection");
    if (n < 0 || n > allLength)
        fuzz::Fail("more anchors than elements", QString::number(n));
    for (LONG i = 0; i < n; ++i) {
        ComPtr<IDispatch> item;
        if (anchors->item(VariantI4(i), VARIANT{}, item) != S_OK || !item)
            fuzz::Fail("an anchor inside the collection could not be read", QString::number(i));
        ComPtr<IHTMLAnchorElement> anchor;
        if (QueryInterface(item, anchor) != S_OK)
            fuzz::Fail("an item of anchors is no A element", QString::number(i));
        QString href;
        if (anchor->get_href(href) != S_OK)
            fuzz::Fail("get_href failed", QString::number(i));
    }
    CheckPastTheEnd(*anchors, n, "anchors");
}

void CheckElement(IHTMLDocumentSerialization* serialization, const std::string* serialized,
                  const ComPtr<IDispatch>& item, LONG index, std::size_t& lastBegin)
{
    ComPtr<IHTMLElement> element;
    if (QueryInterface(item, element) != S_OK)
        fuzz::Fail("an item of all is no element", QString::number(index));
    QString text;
    const HRESULT textResult = element->get_innerText(text);
    if (FAILED(textResult) && !text.isEmpty())
        fuzz::Fail("a failed get_innerText left text behind", QString::number(index));
    QString outer;
    if (element->get_outerHTML(outer) != S_OK)
        fuzz::Fail("get_outerHTML failed", QString::number(index));
    if (!serialization)
        return;
    IHTMLDocumentSerialization::Extent extent;
    if (serialization->get_extentOfAll(index, extent) != S_OK)
        fuzz::Fail("no extent for an element of all", QString::number(index));
    if (extent.begin > extent.end || extent.end > serialized->size())
        fuzz::Fail("extent outside the serialization", QString::number(index));
    // Elements come in document order, so their start tags do too.
    if (extent.begin < lastBegin)
        fuzz::Fail("extents out of document order", QString::number(index));
    lastBegin = extent.begin;
    const std::string expected = outer.toStdString();
    if (serialized->compare(extent.begin, extent.end - extent.begin, expected) != 0)
        fuzz::Fail("outerHTML differs from its extent of the serialization",
                   QStringLiteral("element %1\nouterHTML: %2\nextent:    %3")
                       .arg(index)
                       .arg(outer.left(400))
                       .arg(QString::fromStdString(serialized->substr(extent.begin, 400))));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::InitComOnly();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ComPtr<IHTMLDocument2> document = fuzz::ParsedDocument(data, size, kAddress);

    QString state;
    if (document->get_readyState(state) != S_OK || state != QLatin1String("complete"))
        fuzz::Fail("a parsed document is not complete", state);

    ComPtr<IHTMLElementCollection> all;
    LONG n = 0;
    if (document->get_all(all) != S_OK || !all || all->get_length(&n) != S_OK || n < 0)
        fuzz::Fail("a complete document gave no all collection");

    WalkAnchors(*document, n);
    CheckPastTheEnd(*all, n, "all");

    ComPtr<IHTMLDocumentSerialization> serialization;
    const std::string* serialized = nullptr;
    if (QueryInterface(document, serialization) == S_OK
        && (serialization->get_serializedUtf8(serialized) != S_OK || !serialized))
        fuzz::Fail("the document's serialization could not be read");

    const LONG head = std::min(n, kSampleHead);
    const LONG rest = n - head;
    const LONG stride = rest > kSampleSpread ? rest / kSampleSpread : 1;
    std::size_t lastBegin = 0;
    for (LONG i = 0; i < n; i = i < head ? i + 1 : i + stride) {
        ComPtr<IDispatch> item;
        if (all->item(VariantI4(i), VARIANT{}, item) != S_OK || !item)
            fuzz::Fail("an element inside all could not be read", QString::number(i));
        CheckElement(serialization.get(), serialized, item, i, lastBegin);
    }
    return 0;
}
