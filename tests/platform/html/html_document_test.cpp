// The document engine through the interfaces the crawler and the detail
// extractor use: creation under COM, the element collections, element kinds,
// addresses, replacement of content, frames, and the serialized document.

#include "platform/dom/HtmlTree.h"
#include "platform/html/HtmlDocument.h"
#include "platform/testing/ComFaults.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Readable QString values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// Keeps COM initialised for the lifetime of a test.
class ComScope {
public:
    ComScope() { CoInitialize(nullptr); }
    ~ComScope() { CoUninitialize(); }
};

class DocumentTest : public ::testing::Test {
protected:
    ComPtr<IHTMLDocument2> Parse(const QString& markup, const QUrl& address = QUrl("http://hotels.example/dir/page.ctl?x=1"))
    {
        ComPtr<IHTMLDocument2> doc;
        EXPECT_EQ(CreateDocumentFromHtml(markup, address, doc), S_OK);
        return doc;
    }
    static ComPtr<IDispatch> Item(const ComPtr<IHTMLElementCollection>& c, LONG i)
    {
        ComPtr<IDispatch> item;
        EXPECT_EQ(c->item(VariantI4(i), VARIANT{}, item), S_OK) << "item " << i;
        return item;
    }
    static ComPtr<IHTMLElementCollection> All(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLElementCollection> all;
        EXPECT_EQ(doc->get_all(all), S_OK);
        return all;
    }
    static ComPtr<IHTMLElementCollection> Anchors(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLElementCollection> anchors;
        EXPECT_EQ(doc->get_anchors(anchors), S_OK);
        return anchors;
    }
    static LONG Length(const ComPtr<IHTMLElementCollection>& c)
    {
        LONG n = -1;
        EXPECT_EQ(c->get_length(&n), S_OK);
        return n;
    }
    static QString Outer(const ComPtr<IDispatch>& item)
    {
        ComPtr<IHTMLElement> e;
        QString s;
        if (QueryInterface(item, e) == S_OK)
            e->get_outerHTML(s);
        return s;
    }
    static QString Text(const ComPtr<IDispatch>& item)
    {
        ComPtr<IHTMLElement> e;
        QString s;
        if (QueryInterface(item, e) == S_OK)
            e->get_innerText(s);
        return s;
    }
    static QString Href(const ComPtr<IDispatch>& item)
    {
        ComPtr<IHTMLAnchorElement> a;
        QString s;
        if (QueryInterface(item, a) == S_OK)
            a->get_href(s);
        return s;
    }
    // Tag names of `all`, read from each element's outerHTML start tag.
    static QStringList Tags(const ComPtr<IHTMLDocument2>& doc)
    {
        QStringList tags;
        const auto all = All(doc);
        for (LONG i = 0; i < Length(all); ++i)
            tags << Outer(Item(all, i)).mid(1).section(QRegularExpression("[ >]"), 0, 0);
        return tags;
    }
    // href of the first A element of the page.
    QString FirstHref(const QString& body, const QUrl& address = QUrl("http://hotels.example/dir/page.ctl?x=1"))
    {
        const auto all = All(Parse(body, address));
        for (LONG i = 0; i < Length(all); ++i) {
            ComPtr<IHTMLAnchorElement> a;
            if (QueryInterface(Item(all, i), a) == S_OK) {
                QString s;
                EXPECT_EQ(a->get_href(s), S_OK);
                return s;
            }
        }
        return QStringLiteral("<no anchor>");
    }

    ComScope com_;
};

// --- Creating documents -------------------------------------------------

TEST(DocumentCreation, RefusedWhileComIsNotInitialised)
{
    ASSERT_EQ(CoInitializeCount(), 0);
    ComPtr<IHTMLDocument2> doc;
    EXPECT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, doc), CO_E_NOTINITIALIZED);
    EXPECT_FALSE(doc);
    EXPECT_EQ(CreateDocumentFromHtml("<p>x", QUrl("http://a.example/"), doc), CO_E_NOTINITIALIZED);
    EXPECT_FALSE(doc);
}

TEST_F(DocumentTest, NewDocumentIsEmptyAndUninitialized)
{
    ComPtr<IHTMLDocument2> doc;
    ASSERT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, doc), S_OK);
    QString state;
    doc->get_readyState(state);
    EXPECT_EQ(state, "uninitialized");
    EXPECT_EQ(Length(All(doc)), 0);
    EXPECT_EQ(Length(Anchors(doc)), 0);
    ComPtr<IPersistMoniker> persist;
    EXPECT_EQ(QueryInterface(doc, persist), S_OK);
}

TEST_F(DocumentTest, InjectedCreationFailureIsReturned)
{
    FailNextComCall(ComCall::CoCreateInstance, E_FAIL);
    ComPtr<IHTMLDocument2> doc;
    EXPECT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, doc), E_FAIL);
    EXPECT_FALSE(doc);
    EXPECT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, doc), S_OK);
}

TEST_F(DocumentTest, DocumentFromMarkupIsComplete)
{
    QString state;
    Parse("<p>x")->get_readyState(state);
    EXPECT_EQ(state, "complete");
}

// --- Collections and element kinds --------------------------------------

TEST_F(DocumentTest, AllListsEveryElementInDocumentOrder)
{
    const auto doc = Parse("<!DOCTYPE html><title>t</title><div><p>a<b>b</b></p><template><i>x</i></template>"
                           "<table><tr><td>c</table></div>");
    EXPECT_EQ(Tags(doc), QStringList({"html", "head", "title", "body", "div", "p", "b", "template", "table",
                                      "tbody", "tr", "td"}));
}

TEST_F(DocumentTest, AnchorsAreTheNamedOrIdentifiedLinks)
{
    const auto anchors = Anchors(Parse("<a href=1>plain</a><a name=n>named</a><a id=i href=2>with id</a>"
                                       "<span name=s>not a link</span><svg><a id=svg></a></svg>"));
    ASSERT_EQ(Length(anchors), 2);
    EXPECT_EQ(Text(Item(anchors, 0)), "named");
    EXPECT_EQ(Text(Item(anchors, 1)), "with id");
}

TEST_F(DocumentTest, ItemRejectsPositionsOutsideTheCollectionAndOtherArguments)
{
    const auto all = All(Parse("<p>x"));
    const LONG n = Length(all);
    ComPtr<IDispatch> item = std::make_shared<IDispatch>();
    EXPECT_EQ(all->item(VariantI4(n), VARIANT{}, item), E_INVALIDARG);
    EXPECT_FALSE(item);
    EXPECT_EQ(all->item(VariantI4(-1), VARIANT{}, item), E_INVALIDARG);
    EXPECT_EQ(all->item(VariantBstr("0"), VARIANT{}, item), E_INVALIDARG);
    EXPECT_EQ(all->item(VariantI4(0), VariantI4(0), item), E_INVALIDARG);
    EXPECT_FALSE(item);
    EXPECT_EQ(all->item(VariantI4(n - 1), VARIANT{}, item), S_OK);
    EXPECT_TRUE(item);
    EXPECT_EQ(all->get_length(nullptr), E_POINTER);
}

TEST_F(DocumentTest, InterfacesFollowTheElementKind)
{
    const auto all = All(Parse("<a href=x>a</a><table><tr><td>c</td></tr></table><div>d</div>"));
    int anchors = 0, tables = 0, elements = 0;
    for (LONG i = 0; i < Length(all); ++i) {
        const auto item = Item(all, i);
        ComPtr<IHTMLAnchorElement> a;
        ComPtr<IHTMLTable> t;
        ComPtr<IHTMLElement> e;
        anchors += QueryInterface(item, a) == S_OK;
        tables += QueryInterface(item, t) == S_OK;
        elements += QueryInterface(item, e) == S_OK;
        if (Outer(item).startsWith("<a ")) {
            EXPECT_TRUE(a);
        }
        if (Outer(item).startsWith("<table>")) {
            EXPECT_TRUE(t);
        }
    }
    EXPECT_EQ(anchors, 1);
    EXPECT_EQ(tables, 1);
    EXPECT_EQ(elements, Length(all));
}

TEST_F(DocumentTest, SvgElementsHaveNoInnerText)
{
    const auto all = All(Parse("<svg><text>abc</text></svg>"));
    for (LONG i = 0; i < Length(all); ++i) {
        ComPtr<IHTMLElement> e;
        ASSERT_EQ(QueryInterface(Item(all, i), e), S_OK);
        QString s;
        if (Outer(Item(all, i)).startsWith("<svg>")) {
            EXPECT_EQ(e->get_innerText(s), E_FAIL);
        }
        if (Outer(Item(all, i)).startsWith("<body>")) {
            EXPECT_EQ(e->get_innerText(s), S_OK);
            EXPECT_EQ(s, "abc");
        }
    }
}

// --- Addresses ------------------------------------------------------------

TEST_F(DocumentTest, HrefResolvesAgainstTheDocumentAddress)
{
    EXPECT_EQ(FirstHref("<a href='hotsdetail.ctl?hotel=7&amp;dest=SEL'>x</a>"),
              "http://hotels.example/dir/hotsdetail.ctl?hotel=7&dest=SEL");
    EXPECT_EQ(FirstHref("<a href='/top.ctl'>x</a>"), "http://hotels.example/top.ctl");
    EXPECT_EQ(FirstHref("<a href='../up'>x</a>"), "http://hotels.example/up");
    EXPECT_EQ(FirstHref("<a href='//cdn.example/i'>x</a>"), "http://cdn.example/i");
    EXPECT_EQ(FirstHref("<a href='#sec'>x</a>"), "http://hotels.example/dir/page.ctl?x=1#sec");
    EXPECT_EQ(FirstHref("<a href=''>x</a>"), "http://hotels.example/dir/page.ctl?x=1");
    EXPECT_EQ(FirstHref("<a href='  next.ctl\n'>x</a>"), "http://hotels.example/dir/next.ctl");
}

TEST_F(DocumentTest, HrefKeepsWhatABrowserKeeps)
{
    // An explicit default port stays: the detail extractor looks for ":80/hotsphoto.ctl?".
    EXPECT_EQ(FirstHref("<a href='http://hotels.example:80/hotsphoto.ctl?x=1'>p</a>"),
              "http://hotels.example:80/hotsphoto.ctl?x=1");
    // Query strings stay as written, escapes included; only what may not stand in one is escaped.
    EXPECT_EQ(FirstHref("<a href='hotsavail.ctl?a=%7E%41&b=x+y&c=%zz'>n</a>"),
              "http://hotels.example/dir/hotsavail.ctl?a=%7E%41&b=x+y&c=%zz");
    EXPECT_EQ(FirstHref("<a href='s.ctl?q=a b&city=서울'>n</a>"),
              "http://hotels.example/dir/s.ctl?q=a%20b&city=%EC%84%9C%EC%9A%B8");
    EXPECT_EQ(FirstHref("<a href='javascript:go(1)'>j</a>"), "javascript:go(1)");
    EXPECT_EQ(FirstHref("<a href='HTTP://Hotels.EXAMPLE/A'>x</a>"), "http://hotels.example/A");
}

TEST_F(DocumentTest, AnchorWithoutHrefHasEmptyAddress)
{
    EXPECT_EQ(FirstHref("<a name=top>x</a>"), "");
}

TEST_F(DocumentTest, FirstBaseElementSetsTheBase)
{
    EXPECT_EQ(FirstHref("<base href='/other/'><base href='http://wrong.example/'><a href='d.ctl'>x</a>"),
              "http://hotels.example/other/d.ctl");
    EXPECT_EQ(FirstHref("<base target=_top><base href='http://b.example/x/'><a href='d.ctl'>x</a>"),
              "http://b.example/x/d.ctl");
    EXPECT_EQ(FirstHref("<template><base href='/t/'></template><a href='d.ctl'>x</a>"),
              "http://hotels.example/dir/d.ctl");
}

TEST_F(DocumentTest, FrameSourcesAreResolvedInOrderSkippingEmptyOnes)
{
    ComPtr<HtmlDocument> doc = HtmlDocument::Create();
    doc->SetContent("<frameset><frame src='left.ctl'><frame><frame src=''>"
                    "<frame src='http://x.example:80/r?a=%7E'></frameset>",
                    QUrl("http://hotels.example/dir/index.ctl"));
    EXPECT_EQ(doc->FrameSources(), QList<QUrl>({QUrl("http://hotels.example/dir/left.ctl"),
                                                QUrl("http://x.example:80/r?a=%7E")}));
    doc->SetContent("<p><iframe src='/ad'></iframe><iframe src=' '></iframe>", QUrl("http://h.example/a/b"));
    EXPECT_EQ(doc->FrameSources(), QList<QUrl>({QUrl("http://h.example/ad")}));
}

// --- Replacing content ----------------------------------------------------

TEST_F(DocumentTest, ElementsOutliveReplacedContent)
{
    ComPtr<HtmlDocument> doc = HtmlDocument::Create();
    doc->SetContent("<a name=old href=o.ctl>old text</a>", QUrl("http://first.example/"));
    ComPtr<IHTMLElementCollection> anchors;
    doc->get_anchors(anchors);
    const auto oldAnchor = Item(anchors, 0);
    doc->SetContent("<p>new page", QUrl("http://second.example/"));
    EXPECT_EQ(Outer(oldAnchor), "<a name=\"old\" href=\"o.ctl\">old text</a>");
    EXPECT_EQ(Href(oldAnchor), "http://first.example/o.ctl");
    EXPECT_EQ(Length(anchors), 1);
    ComPtr<IHTMLElementCollection> fresh;
    doc->get_anchors(fresh);
    EXPECT_EQ(Length(fresh), 0);
    EXPECT_EQ(doc->Address(), QUrl("http://second.example/"));
    QString state;
    doc->get_readyState(state);
    EXPECT_EQ(state, "uninitialized");  // content alone does not move the ready state
}

// --- Serialized document -------------------------------------------------

class SerializedDocument : public DocumentTest {
protected:
    // For every element of `all`, its outerHTML in UTF-8 is exactly its extent of the serialization.
    void ExpectExtentsMatchOuterHtml(const QString& markup)
    {
        const auto doc = Parse(markup);
        ComPtr<IHTMLDocumentSerialization> ser;
        ASSERT_EQ(QueryInterface(doc, ser), S_OK);
        const std::string* whole = nullptr;
        ASSERT_EQ(ser->get_serializedUtf8(whole), S_OK);
        ASSERT_TRUE(whole);
        const auto all = All(doc);
        const LONG n = Length(all);
        ASSERT_GT(n, 3);
        for (LONG i = 0; i < n; ++i) {
            IHTMLDocumentSerialization::Extent extent;
            ASSERT_EQ(ser->get_extentOfAll(i, extent), S_OK);
            ASSERT_LE(extent.end, whole->size());
            EXPECT_EQ(whole->substr(extent.begin, extent.end - extent.begin), Outer(Item(all, i)).toStdString())
                << "element " << i;
        }
        IHTMLDocumentSerialization::Extent past;
        EXPECT_EQ(ser->get_extentOfAll(n, past), E_INVALIDARG);
        EXPECT_EQ(ser->get_extentOfAll(-1, past), E_INVALIDARG);
    }
};

TEST_F(SerializedDocument, ExtentsMatchOuterHtmlOnNestedTables)
{
    ExpectExtentsMatchOuterHtml("<!DOCTYPE html><table id=a><tr><td><table><tr><td>in<td>x</table>"
                                "<tr><td>last</table><p>after");
}

TEST_F(SerializedDocument, ExtentsMatchOuterHtmlWithScriptsPreAndComments)
{
    ExpectExtentsMatchOuterHtml("<!-- top --><html><head><script>if (a < b && c > d) x = \"</p>\";</script>"
                                "<style>p>b{}</style></head><body><pre>\n\nline</pre><textarea>\n<&></textarea>"
                                "<!-- c --><template><td>t</td></template><br><img src=x></body></html><!-- end -->");
}

TEST_F(SerializedDocument, ExtentsMatchOuterHtmlWithNonAsciiAndEscapedAttributes)
{
    ExpectExtentsMatchOuterHtml("<div title='\"서울\" & <부산>'>호텔 정보&nbsp;—&amp;<svg viewBox='0 0 1 1'>"
                                "<foreignObject><b>ü</b></foreignObject><a xlink:href='#q'/></svg></div>");
}

TEST_F(SerializedDocument, WholeDocumentStartsWithItsDoctype)
{
    ComPtr<HtmlDocument> doc = HtmlDocument::Create();
    doc->SetContent("<!DOCTYPE html><!-- c --><p class=x>a &lt; b", QUrl());
    EXPECT_EQ(doc->DocumentHtml(),
              "<!DOCTYPE html><!-- c --><html><head></head><body><p class=\"x\">a &lt; b</p></body></html>");
}

TEST_F(SerializedDocument, EmptyDocumentSerializesToNothing)
{
    ComPtr<HtmlDocument> doc = HtmlDocument::Create();
    const std::string* whole = nullptr;
    ASSERT_EQ(doc->get_serializedUtf8(whole), S_OK);
    EXPECT_EQ(*whole, "");
    IHTMLDocumentSerialization::Extent e;
    EXPECT_EQ(doc->get_extentOfAll(0, e), E_INVALIDARG);
}

// --- Pages shaped like the site's ----------------------------------------

TEST_F(DocumentTest, DetailTableTextReadsLikeTheRenderedPage)
{
    const auto all = All(Parse("<table class=info><tr><td><b>Hotel Information</b></td></tr>\n"
                               "<tr><td>Check-in:\n  3 PM</td><td>Check-out: <i>noon</i> </td></tr>\n"
                               "<tr><td><p>Pool</p><p>Spa</p></td></tr></table>"));
    for (LONG i = 0; i < Length(all); ++i) {
        ComPtr<IHTMLTable> table;
        if (QueryInterface(Item(all, i), table) == S_OK) {
            // The row's line break is text; the paragraph's two required breaks come on top of it.
            EXPECT_EQ(Text(Item(all, i)), "Hotel Information\nCheck-in: 3 PM\tCheck-out: noon\n\n\nPool\n\nSpa");
        }
    }
}

TEST_F(DocumentTest, InlineElementKeepsSpacesItsNeighboursRender)
{
    const auto anchors = Anchors(Parse("<div>Go to<a name=1> Next </a>page</div><div>Go to <a name=2> Next </a></div>"
                                       "<div><a id=3> Next </a><img></div>"));
    EXPECT_EQ(Text(Item(anchors, 0)), " Next ");
    EXPECT_EQ(Text(Item(anchors, 1)), "Next");  // the space before it and the line end take both
    EXPECT_EQ(Text(Item(anchors, 2)), "Next ");
}

TEST_F(DocumentTest, HiddenElementsGiveTheirTextContent)
{
    const auto all = All(Parse("<div hidden><span>a</span> <b>b</b></div><script>var s;</script>"));
    QStringList texts;
    for (LONG i = 0; i < Length(all); ++i)
        if (Outer(Item(all, i)).startsWith("<div") || Outer(Item(all, i)).startsWith("<script"))
            texts << Text(Item(all, i));
    EXPECT_EQ(texts, QStringList({"a b", "var s;"}));
}

// Nesting far deeper than a recursive walk could survive on the call stack.
TEST_F(DocumentTest, DeepNestingUpToTheDepthCapIsWalkedWhole)
{
    // 120 tables hold 480 elements below the html, head and body: all of
    // them within the engine's depth cap. Deeper pages are cut at the cap
    // (see the hostile-markup tests).
    QString markup;
    for (int i = 0; i < 120; ++i)
        markup += "<table><tr><td>";
    markup += "core";
    const auto doc = Parse(markup);
    const auto all = All(doc);
    ASSERT_GT(Length(all), 480);
    const QString outer = Outer(Item(all, 3));  // the outermost table
    EXPECT_TRUE(outer.startsWith("<table><tbody><tr><td><table>"));
    EXPECT_TRUE(outer.endsWith("</td></tr></tbody></table>"));
    EXPECT_EQ(Text(Item(all, 3)), "core");
    ComPtr<IHTMLDocumentSerialization> ser;
    ASSERT_EQ(QueryInterface(doc, ser), S_OK);
    IHTMLDocumentSerialization::Extent e;
    ASSERT_EQ(ser->get_extentOfAll(3, e), S_OK);
    EXPECT_EQ(e.end - e.begin, static_cast<std::size_t>(outer.toUtf8().size()));
}

}  // namespace
