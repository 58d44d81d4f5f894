// Hostile markup: pages built to make the HTML engine recurse, nest without
// bound or carry huge attribute lists. Each must parse, walk and free in
// bounded depth and memory, while ordinary pages pass the markup caps
// untouched.

#include "platform/dom/HtmlSerialize.h"
#include "platform/dom/HtmlTree.h"
#include "platform/dom/InnerText.h"
#include "platform/htmllimit/HtmlLimits.h"
#include "tests/platform/htmllimit/HostileMarkup.h"

#include "support/SampleSite.h"
#include "tests/detail/DetailPages.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=x"));


using hostile::Page;
using hostile::Repeat;

// Element depth below the document node, without recursion.
std::size_t MaxDepth(const html::Tree& tree)
{
    std::size_t deepest = 0;
    std::vector<std::pair<const GumboNode*, std::size_t>> stack;
    if (tree.document())
        stack.emplace_back(tree.document(), 0);
    while (!stack.empty()) {
        const auto [n, d] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, d);
        if (const GumboVector* kids = html::Children(n))
            for (unsigned i = 0; i < kids->length; ++i)
                if (html::IsElement(static_cast<const GumboNode*>(kids->data[i])))
                    stack.emplace_back(static_cast<const GumboNode*>(kids->data[i]), d + 1);
    }
    return deepest;
}

const GumboNode* Body(const html::Tree& tree)
{
    for (const GumboNode* e : tree.all)
        if (html::IsHtml(e, GUMBO_TAG_BODY))
            return e;
    return nullptr;
}

std::size_t Count(const std::string& text, std::string_view what)
{
    std::size_t n = 0;
    for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size()))
        ++n;
    return n;
}

// ------------------------------------------------------------ hostile pages

// Every hostile page is within this multiple of its own size in parser
// memory. Ordinary pages measure about 17 bytes per input byte; markup made
// of nothing but short tags ("<br>" over and over) about 60, since every
// element costs the parser a few hundred bytes; formatting re-opened after
// every block close (at most three copies per close) about 90.
constexpr std::size_t kMemoryPerInputByte = 128;

class HostilePages : public ::testing::Test {
protected:
    // Parses, checks depth and memory, and walks the tree the ways the
    // crawler and the extractor do.
    static std::shared_ptr<html::Tree> ParseAndWalk(const std::string& page)
    {
        auto tree = html::Tree::Parse(page, kAddress);
        EXPECT_TRUE(tree->document());
        EXPECT_LE(MaxDepth(*tree), static_cast<std::size_t>(3 * html::kMaxNestingDepth));
        EXPECT_LE(tree->parseMemory(), kMemoryPerInputByte * page.size() + (1u << 20));
        const GumboNode* root = tree->all.empty() ? nullptr : tree->all.front();
        EXPECT_TRUE(html::IsHtml(root, GUMBO_TAG_HTML));
        EXPECT_FALSE(html::OuterHtml(root).empty());
        EXPECT_TRUE(html::InnerText(root).has_value());
        EXPECT_FALSE(tree->Serialized().empty());
        return tree;
    }
};

TEST_F(HostilePages, HundredThousandNestedTableCellsParseWalkAndFree)
{
    const std::string page = Page("<a name=\"top\" href=\"x\">top</a>" + Repeat("<table><tr><td>", 100000) +
                                  "<a name=\"deep\" href=\"y\">deep</a>");
    auto tree = ParseAndWalk(page);
    EXPECT_TRUE(tree->limited());
    // The anchor beyond the depth cap is gone, its text is not.
    ASSERT_EQ(tree->anchors.size(), 1u);
    EXPECT_EQ(html::Attribute(tree->anchors[0], "name"), std::string("top"));
    EXPECT_EQ(html::TextContent(Body(*tree)), "topdeep");
    // Rows and cells of the dropped tables went with them.
    EXPECT_LT(tree->all.size(), static_cast<std::size_t>(html::kMaxNestingDepth) + 8);
    tree.reset();  // freeing must not recurse either
}

TEST_F(HostilePages, UncappedDeepTreeWalksAndFreesWithoutRecursion)
{
    // The same page without the caps: 400,000 elements, one inside the
    // other. The walks and the destruction must not use the call stack.
    const std::string page = Page(Repeat("<table><tr><td>", 100000) + "deep");
    auto tree = html::Tree::ParseWithoutLimits(page, kAddress);
    ASSERT_TRUE(tree->document());
    EXPECT_GE(MaxDepth(*tree), 400000u);
    EXPECT_EQ(html::InnerText(Body(*tree)).value_or(""), "deep");
    EXPECT_EQ(html::TextContent(Body(*tree)), "deep");
    const std::string outer = html::OuterHtml(tree->all.front());
    EXPECT_EQ(Count(outer, "<td>"), 100000u);
    EXPECT_EQ(tree->Extents().size(), tree->all.size());
    tree.reset();
}

TEST_F(HostilePages, InputThatTripsTheParsersOwnAssertionReadsAsEmptyAndTheNextParseWorks)
{
    // The library aborts on this one; the page must not take the program down.
    const std::string page = "<svg><tbody><desc><select></select><tr><colgroup><optgroup><select><tr></body>";
    ::testing::internal::CaptureStderr();
    const auto tree = html::Tree::Parse(page, kAddress);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(tree->document(), nullptr);
    EXPECT_TRUE(tree->all.empty());
    EXPECT_NE(said.find("gave up on a page"), std::string::npos) << said;
    const auto next = html::Tree::Parse(std::string("<a name=x href=y>ok</a>"), kAddress);
    ASSERT_NE(next->document(), nullptr);
    EXPECT_EQ(next->anchors.size(), 1u);

    // Pages are parsed on a worker thread too.
    std::shared_ptr<html::Tree> onWorker;
    ::testing::internal::CaptureStderr();
    std::thread worker([&] { onWorker = html::Tree::Parse(page, kAddress); });
    worker.join();
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(onWorker->document(), nullptr);
}

TEST_F(HostilePages, FortyThousandNestedDivsKeepTheirText)
{
    std::string body;
    for (int i = 0; i < 40000; ++i)
        body += "<div>" + std::to_string(i % 10);
    body += Repeat("</div>", 40000) + "<p id=after>after</p>";
    auto tree = ParseAndWalk(Page(body));
    EXPECT_LE(MaxDepth(*tree), static_cast<std::size_t>(html::kMaxNestingDepth) + 2);
    const std::string text = html::TextContent(Body(*tree));
    EXPECT_EQ(text.size(), 40000u + 5u);
    // The end tags of the dropped divs went with them: the paragraph after
    // them is a child of body again.
    const GumboNode* after = tree->all.back();
    ASSERT_TRUE(html::IsHtml(after, GUMBO_TAG_P));
    EXPECT_TRUE(html::IsHtml(after->parent, GUMBO_TAG_BODY));
}

TEST_F(HostilePages, FortyThousandAttributesOnOneTag)
{
    std::string tag = "<div id=first";
    for (int i = 0; i < 40000; ++i)
        tag += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    auto tree = ParseAndWalk(Page(tag + ">text</div>"));
    const GumboNode* div = nullptr;
    for (const GumboNode* e : tree->all)
        if (html::IsHtml(e, GUMBO_TAG_DIV))
            div = e;
    ASSERT_TRUE(div);
    EXPECT_EQ(div->v.element.attributes.length, static_cast<unsigned>(html::kMaxAttributesPerTag));
    EXPECT_EQ(html::Attribute(div, "id"), std::string("first"));
    EXPECT_EQ(html::InnerText(div).value_or(""), "text");
}

TEST_F(HostilePages, RepeatedBodyTagsCannotPileUpAttributes)
{
    std::string page = "<body>";
    for (int i = 0; i < 2000; ++i)
        page += "<body b" + std::to_string(i) + "=1 c" + std::to_string(i) + "=2>";
    auto tree = ParseAndWalk(page + "x");
    EXPECT_LE(Body(*tree)->v.element.attributes.length, static_cast<unsigned>(html::kMaxAttributesPerTag));
}

TEST_F(HostilePages, ReopenedFormattingStaysBounded)
{
    // Formatting elements closed by a block end tag are re-opened, as
    // copies, by the text after it; with distinct attributes every copy is
    // new. Repeat that as often as the page allows.
    std::string block = Repeat("<div>", 200);
    for (int i = 0; i < 200; ++i)
        block += "<b class=c" + std::to_string(i) + ">";
    block += Repeat("</div>x", 200) + Repeat("</b>", 200);
    const std::string page = Page(Repeat(block, 40));
    auto tree = ParseAndWalk(page);
    std::size_t copies = 0;
    for (const GumboNode* e : tree->all)
        copies += html::IsHtml(e, GUMBO_TAG_B);
    // Input bytes pay for the copies, so they stay proportional to the page.
    EXPECT_LE(copies, page.size() / 2 + html::kReopenAllowance);
}

TEST_F(HostilePages, MisnestedFormattingAroundBlocksStaysBounded)
{
    auto tree = ParseAndWalk(Page(Repeat("<b><div></b>", 50000) + "x"));
    EXPECT_TRUE(tree->limited());
    auto fonts = ParseAndWalk(Page(Repeat("<font size=2>text<br>", 50000)));
    EXPECT_TRUE(fonts->limited());
    auto links = ParseAndWalk(Page(Repeat("<a href=x><p>", 50000)));
    auto lists = ParseAndWalk(Page(Repeat("<ul><li><p>", 50000)));
    auto svg = ParseAndWalk(Page("<svg>" + Repeat("<g><desc><div>", 30000) + "</svg>"));
    EXPECT_TRUE(svg->limited());
}

TEST_F(HostilePages, OtherShapesStayWithinTheDepthBound)
{
    // Each shape repeats one misnesting 20,000 times; ParseAndWalk checks
    // the tree's depth and the parser's memory.
    for (const std::string& piece : {
             std::string("<table><div>"), std::string("<select><div>"), std::string("<b><p>x</b>"),
             std::string("<nobr>x<nobr>"), std::string("<a><div><a><div>"), std::string("<svg><foreignObject>"),
             std::string("<math><mi>"), std::string("<template>"), std::string("<ul><li>"), std::string("<dl><dd><dt>"),
             std::string("<h1><h2><section>"), std::string("<form><fieldset>"), std::string("<button><span>"),
             std::string("<ruby><rt><rb><span>"), std::string("<object><applet><marquee>"), std::string("<x-a><x-b>"),
             std::string("<span><div></span>"), std::string("<table><b class=x>"), std::string("<td><tr><caption><b>"),
             std::string("<i><div></i><div>"), std::string("<p><font color=red><div></font>"), std::string("<br>"),
         }) {
        SCOPED_TRACE(piece);
        const std::string page = Page(Repeat(piece, 20000) + "end");
        const auto tree = ParseAndWalk(page);
        RecordProperty(piece, std::to_string(tree->parseMemory() / page.size()) + " bytes per input byte");
    }
}

TEST_F(HostilePages, RandomTagSoupStaysWithinTheDepthBound)
{
    // Random mixes of the tokens that move the tree builder around. With a
    // small cap, the tree the parser builds from the limited markup must stay
    // within a small multiple of it, and the limited markup must be the
    // input with pieces cut out.
    static const char* const kTokens[] = {
        "<div>", "</div>", "<p>", "</p>", "<b>", "</b>", "<b class=a>", "<i>", "</i>", "<a href=x>", "</a>",
        "<font size=2>", "</font>", "<nobr>", "</nobr>", "<table>", "</table>", "<tr>", "</tr>", "<td>", "</td>",
        "<th>", "<tbody>", "<caption>", "</caption>", "<colgroup>", "<col>", "<ul>", "<li>", "</li>", "<dl>",
        "<dd>", "<dt>", "<select>", "<option>", "<optgroup>", "</select>", "<button>", "</button>", "<form>",
        "</form>", "<h1>", "<h2>", "</h1>", "<span>", "</span>", "<x-y>", "</x-y>", "<svg>", "</svg>", "<g>",
        "<foreignObject>", "<desc>", "<math>", "<mi>", "</math>", "<template>", "</template>", "<object>",
        "</object>", "<marquee>", "<ruby>", "<rt>", "<rb>", "<br>", "<img src=x>", "<hr>", "text", " ", "\n",
        "<script>if(a<b)x()</script>", "<style>p{}</style>", "<textarea><div></textarea>", "<!-- <div> -->",
        "<body class=z>", "<html>", "</body>", "</html>", "<path/>", "<![CDATA[<b>]]>", "<title><i></title>",
    };
    html::Limits small;
    small.maxDepth = 16;
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE(seed);
        detailpages::Rng rng(seed);
        std::string page;
        for (int i = 0; i < 4000; ++i)
            page += kTokens[rng.Below(static_cast<int>(std::size(kTokens)))];
        const std::string limited = html::LimitedMarkup(page, nullptr, small);
        // A subsequence of the input.
        std::size_t at = 0;
        for (const char c : limited) {
            at = page.find(c, at);
            ASSERT_NE(at, std::string::npos);
            ++at;
        }
        const auto tree = html::Tree::ParseWithoutLimits(limited, kAddress);
        EXPECT_LE(MaxDepth(*tree), static_cast<std::size_t>(3 * small.maxDepth + 3));
    }
}

// ------------------------------------------------------------ the caps themselves

class MarkupCaps : public ::testing::Test {
protected:
    static std::string Nested(int depth, std::string_view tag = "div")
    {
        std::string open = "<" + std::string(tag) + ">";
        std::string close = "</" + std::string(tag) + ">";
        return Page(Repeat(open, static_cast<std::size_t>(depth)) + "core" + Repeat(close, static_cast<std::size_t>(depth)) +
                    "<p>tail</p>");
    }
    static std::string WithAttributes(int count)
    {
        std::string tag = "<span";
        for (int i = 0; i < count; ++i)
            tag += " data-n" + std::to_string(i) + "='" + std::to_string(i) + "'";
        return Page(tag + ">x</span>");
    }
};

TEST_F(MarkupCaps, DepthJustBelowAtAndAboveTheCap)
{
    const int cap = html::kMaxNestingDepth;
    std::string out;
    html::LimitReport report;
    EXPECT_FALSE(html::LimitMarkup(Nested(cap - 1), out, &report));
    EXPECT_EQ(report.deepest, cap - 1);
    EXPECT_FALSE(html::LimitMarkup(Nested(cap), out, &report));
    EXPECT_EQ(report.deepest, cap);
    ASSERT_TRUE(html::LimitMarkup(Nested(cap + 1), out, &report));
    EXPECT_EQ(report.droppedStartTags, 1u);
    EXPECT_EQ(report.droppedEndTags, 1u);
    EXPECT_TRUE(out == Nested(cap));
}

TEST_F(MarkupCaps, AttributesJustBelowAtAndAboveTheCap)
{
    const int cap = html::kMaxAttributesPerTag;
    std::string out;
    html::LimitReport report;
    EXPECT_FALSE(html::LimitMarkup(WithAttributes(cap - 1), out));
    EXPECT_FALSE(html::LimitMarkup(WithAttributes(cap), out));
    ASSERT_TRUE(html::LimitMarkup(WithAttributes(cap + 1), out, &report));
    EXPECT_EQ(report.droppedAttributes, 1u);
    EXPECT_EQ(report.droppedStartTags, 0u);
    EXPECT_TRUE(out == WithAttributes(cap));
}

TEST_F(MarkupCaps, DroppedStartTagsLeaveTheirTextAndSiblings)
{
    html::Limits small;
    small.maxDepth = 3;
    const std::string page = "<div>1<div>2<div>3<div>4<span>5</span></div>6</div>7</div>8</div>9";
    // Depth 3: the fourth div and the span inside it go; their text stays.
    EXPECT_EQ(html::LimitedMarkup(page, nullptr, small), "<div>1<div>2<div>3456</div>7</div>8</div>9");
}

TEST_F(MarkupCaps, VoidElementsAndImpliedEndTagsDoNotNest)
{
    html::Limits small;
    small.maxDepth = 4;
    for (const std::string& body : {
             Repeat("<br><img src=x><input><hr><meta charset=utf-8><wbr>", 50),
             Repeat("<p>para", 50),
             "<ul>" + Repeat("<li>item", 50) + "</ul>",
             "<dl>" + Repeat("<dt>term<dd>text", 50) + "</dl>",
             "<select>" + Repeat("<option>o", 50) + "</select>",
             "<table>" + Repeat("<tr><td>a<td>b<th>c", 50) + "</table>",
             "<table>" + Repeat("<tbody><tr><td>a", 50) + "</table>",
             Repeat("<table><tr><td>a</td></tr></table>", 50),
             Repeat("<h1>a<h2>b", 50),
             Repeat("<div>x</div>", 50),
             Repeat("<a href=1>a<a href=2>b", 50),
             "<svg>" + Repeat("<path d='M0'/><circle r=1 />", 50) + "</svg>",
         }) {
        SCOPED_TRACE(body.substr(0, 80));
        std::string out;
        html::LimitReport report;
        EXPECT_FALSE(html::LimitMarkup(body, out, &report, small));
        EXPECT_LE(report.deepest, 4);
    }
}

TEST_F(MarkupCaps, TextLikeContentIsNotMarkup)
{
    html::Limits small;
    small.maxDepth = 2;
    // Tags inside comments, raw text, RCDATA, CDATA, quoted attribute values
    // and the doctype are not elements and must not count.
    const std::string many = Repeat("<div><b><i>", 20);
    for (const std::string& body : {
             "<!--" + many + "-->",
             "<!-->" + std::string("<div>") + "<!--->",
             "<script>var s = '" + many + "</scrip' + 't>';</script>",
             "<style>/*" + many + "*/</style>",
             "<textarea>" + many + "</textarea>",
             "<title>" + many + "</title>",
             "<xmp>" + many + "</xmp>",
             "<iframe>" + many + "</iframe>",
             "<noembed>" + many + "</noembed>",
             "<noframes>" + many + "</noframes>",
             "<span title='" + many + "' alt=\"" + many + "\">x</span>",
             std::string("<!DOCTYPE html>"),
             std::string("<?xml version=\"1.0\"?>"),
             "<svg><![CDATA[" + many + "]]></svg>",
             "<plaintext>" + many,
         }) {
        SCOPED_TRACE(body.substr(0, 80));
        std::string out;
        html::LimitReport report;
        EXPECT_FALSE(html::LimitMarkup(body, out, &report, small));
        EXPECT_LE(report.deepest, 2);
    }
    // Outside svg a CDATA section is a bogus comment that ends at the first '>'.
    html::LimitReport report;
    std::string out;
    EXPECT_TRUE(html::LimitMarkup("<![CDATA[ x > <div><div><div> ]]>", out, &report, small));
    EXPECT_EQ(out, "<![CDATA[ x > <div><div> ]]>");
}

TEST_F(MarkupCaps, PendingFormattingCountsTowardsTheDepth)
{
    html::Limits small;
    small.maxDepth = 4;
    // The b elements are closed by </div> but re-opened by the text after
    // it, so they still count.
    html::LimitReport report;
    const std::string page = "<div><b class=1><b class=2><b class=3></div>x<div><u>y</u></div>";
    std::string out;
    EXPECT_TRUE(html::LimitMarkup(page, out, &report, small));
    EXPECT_EQ(report.droppedStartTags, 1u);
    EXPECT_EQ(out, "<div><b class=1><b class=2><b class=3></div>x<div>y</div>");
    // A table cell starts a fresh formatting level: closing it forgets them.
    small.maxDepth = 6;
    const std::string cells = Repeat("<table><tr><td><b class=1><b class=2></td></tr></table>x", 20);
    EXPECT_FALSE(html::LimitMarkup(cells, out, &report, small));
}

// Cases where an earlier model and the parser disagreed: the model kept an
// element open that the parser had closed, and a later tag then made the
// model close elements the parser kept open.
class ModelFollowsTheParser : public ::testing::Test {
protected:
    static std::size_t ParsedDepth(const std::string& page, int cap)
    {
        html::Limits small;
        small.maxDepth = cap;
        const auto tree = html::Tree::ParseWithoutLimits(html::LimitedMarkup(page, nullptr, small), kAddress);
        return MaxDepth(*tree);
    }
};

TEST_F(ModelFollowsTheParser, RubyTextNestsOutsideARuby)
{
    EXPECT_LE(ParsedDepth(Page(Repeat("<rt>x", 200)), 8), 8u + 3u);
    EXPECT_LE(ParsedDepth(Page("<ruby><select><option>" + Repeat("<rt>x", 200)), 8), 8u + 3u);
    std::string out;
    EXPECT_FALSE(html::LimitMarkup(Page("<ruby>" + Repeat("<rb>a<rt>b<rp>c", 200) + "</ruby>"), out));
}

TEST_F(ModelFollowsTheParser, TablesCloseParagraphs)
{
    EXPECT_LE(ParsedDepth("<!DOCTYPE html>" + Page(Repeat("<p><table></table><span>", 500)), 8), 8u + 3u);
    EXPECT_LE(ParsedDepth(Page(Repeat("<table><div><table><tr><td><span>", 500)), 8), 3u * 8u + 3u);
}

TEST_F(ModelFollowsTheParser, OptionGroupsNestInATemplateInASelect)
{
    EXPECT_LE(ParsedDepth(Page("<select><option><template>" + Repeat("<optgroup>", 300)), 8), 8u + 3u);
    std::string out;
    EXPECT_FALSE(html::LimitMarkup(Page("<select>" + Repeat("<optgroup><option>a<option>b", 300) + "</select>"), out));
}

TEST_F(ModelFollowsTheParser, CdataRightInsideHtmlContentOfSvgOrMathGoes)
{
    // The parser aborts the program on these inside a table.
    for (const std::string& piece : {std::string("<table><math><mi><![CDATA[x]]> "),
                                     std::string("<table><svg><desc><![CDATA[<b>]]>y"),
                                     std::string("<table><tr><svg><foreignObject><![CDATA[x]]> ")}) {
        SCOPED_TRACE(piece);
        html::LimitReport report;
        const std::string limited = html::LimitedMarkup(piece, &report);
        EXPECT_EQ(report.droppedSections, 1u);
        EXPECT_EQ(limited.find("CDATA"), std::string::npos);
        EXPECT_TRUE(html::Tree::Parse(piece, kAddress)->document());
    }
    // In svg itself a CDATA section is text and stays.
    std::string out;
    EXPECT_FALSE(html::LimitMarkup("<table><svg><![CDATA[x]]> </svg></table>", out));
}

// ------------------------------------------------------------ ordinary pages are unchanged

class OrdinaryPages : public ::testing::Test {
protected:
    static void ExpectUnchanged(const std::string& page, const std::string& what)
    {
        SCOPED_TRACE(what);
        std::string out;
        html::LimitReport report;
        EXPECT_FALSE(html::LimitMarkup(page, out, &report));
        EXPECT_FALSE(report.changed());
        EXPECT_LT(report.deepest, html::kMaxNestingDepth / 4);
    }
};

TEST_F(OrdinaryPages, SampleSitePagesAreUnchanged)
{
    SampleSite site;
    ASSERT_TRUE(site.started());
    std::vector<std::string> paths = {"/", "/hotsavail.ctl?airport=osl&left=10&page=1", "/hotsavail.ctl?airport=osl&left=2&page=3",
                                      "/hotsavail.ctl?airport=adl&left=3&page=1", "/hotsavail.ctl?airport=nil&left=0&page=1",
                                      "/hotsdetail.ctl?hotel=nope"};
    for (const char* id : {"osl-1", "osl-3", "osl-10", "adl-2"}) {
        paths.push_back(std::string("/hotsdetail.ctl?hotel=") + id);
        paths.push_back(std::string("/hotsphoto.ctl?hotel=") + id);
        paths.push_back(std::string("/map.ctl?hotel=") + id);
    }
    for (const std::string& path : paths) {
        std::string body;
        site.get(path, &body);
        ASSERT_FALSE(body.empty()) << path;
        ExpectUnchanged(body, path);
    }
}

TEST_F(OrdinaryPages, GoldenFixturesAreUnchanged)
{
    const QDir dir(QStringLiteral(HC_SOURCE_DIR "/tests/detail/fixtures"));
    const QStringList files = dir.entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_FALSE(files.isEmpty());
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ExpectUnchanged(file.readAll().toStdString(), name.toStdString());
    }
    for (int depth : {1, 5, 20})
        ExpectUnchanged(detailpages::SizedPage(200 * 1024, depth), "sized page, depth " + std::to_string(depth));
}

TEST_F(OrdinaryPages, ConformanceInputsAreUnchanged)
{
    std::size_t inputs = 0;
    for (const char* name : {"innertext.json", "serialization.json"}) {
        QFile file(QStringLiteral(HC_CONFORMANCE_DIR "/") + QLatin1String(name));
        if (!file.open(QIODevice::ReadOnly))
            GTEST_SKIP() << "conformance data not present";
        for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).array()) {
            const QJsonValue html = v.toObject().value("html");
            if (!html.isString())
                continue;
            const std::string markup = html.toString().toStdString();
            ExpectUnchanged(markup, name + std::string(" #") + std::to_string(v.toObject().value("id").toInt()));
            ExpectUnchanged("<div id=\"container\">" + markup + "</div>", "in container");
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 700u);
}

TEST_F(OrdinaryPages, PageJustUnderTheCapsParsesAsWithoutThem)
{
    // Nesting and attributes right at the caps, in the shapes real pages
    // use: layout tables, lists, formatting, an attribute-heavy element.
    std::string body;
    std::string close;
    for (int i = 0; i < 60; ++i) {
        body += "<table class=l" + std::to_string(i) + "><tr><td><div><font size=2>";
        close = "</font></div></td></tr></table>" + close;
    }
    body += "<ul><li>one<li>two<p>para<b>bold<i>both</b>tail</i></ul><span";
    for (int i = 1; i < html::kMaxAttributesPerTag; ++i)
        body += " data-x" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
    body += ">x</span>";
    for (int i = 0; i < html::kMaxNestingDepth - 60 * 6; ++i)
        body += "<span>";
    body += "core" + close;
    const std::string page = Page(body);
    html::LimitReport report;
    std::string out;
    EXPECT_FALSE(html::LimitMarkup(page, out, &report));
    EXPECT_EQ(report.deepest, html::kMaxNestingDepth);
    const auto limited = html::Tree::Parse(page, kAddress);
    const auto plain = html::Tree::ParseWithoutLimits(page, kAddress);
    EXPECT_FALSE(limited->limited());
    EXPECT_EQ(limited->all.size(), plain->all.size());
    EXPECT_TRUE(limited->Serialized() == plain->Serialized());
}

TEST_F(OrdinaryPages, TablesNestedJustUnderTheCapAreKept)
{
    // 120 levels of table, tbody, tr and td: 480 open elements.
    const auto tree = html::Tree::Parse(Repeat("<table><tr><td>", 120) + "core", kAddress);
    EXPECT_FALSE(tree->limited());
    ASSERT_GT(tree->all.size(), 480u);
    const GumboNode* outermost = tree->all[3];
    const std::string outer = html::OuterHtml(outermost);
    EXPECT_EQ(outer.rfind("<table><tbody><tr><td><table>", 0), 0u);
    EXPECT_EQ(outer.substr(outer.size() - 26), "</td></tr></tbody></table>");
    EXPECT_EQ(html::InnerText(outermost).value_or(""), "core");
    EXPECT_EQ(tree->Extents()[3].end - tree->Extents()[3].begin, outer.size());
}

TEST(HtmlTreeMemory, OrdinaryPageMemoryIsCounted)
{
    const std::string page = detailpages::SizedPage(500 * 1024, 5);
    const auto tree = html::Tree::Parse(page, kAddress);
    EXPECT_GT(tree->parseMemory(), page.size());
    EXPECT_LT(tree->parseMemory(), 32 * page.size());
    EXPECT_EQ(html::Tree::Empty()->parseMemory(), 0u);
}

}  // namespace
