// The section walk: the pure pieces, golden fixture pages, and the fast walk
// against the direct one over varied and generated pages.

#include "DetailPages.h"
#include "RecordFields.h"
#include "support/SampleSite.h"

#include "detail/HotelDescParser.h"
#include "detail/Sections.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"

#include <QTimer>

#include <gtest/gtest.h>

using detailtest::Fields;
using detailtest::FieldsOf;

namespace {

// ---------------------------------------------------------------- pure pieces

TEST(SectionMarkers, MatchOnlyTheExactQuotedLowercaseForm)
{
    EXPECT_TRUE(detail::HasMarker("<td name=\"Dining\">", "Dining"));
    EXPECT_TRUE(detail::HasMarker("xx name=\"Property Information\"yy", "Property Information"));
    EXPECT_FALSE(detail::HasMarker("<td name=Dining>", "Dining"));
    EXPECT_FALSE(detail::HasMarker("<td NAME=\"Dining\">", "Dining"));
    EXPECT_FALSE(detail::HasMarker("<td name = \"Dining\">", "Dining"));
    EXPECT_FALSE(detail::HasMarker("<td name=\"dining\">", "Dining"));
    EXPECT_FALSE(detail::HasMarker("<td name=\"Dining", "Dining"));
    EXPECT_FALSE(detail::HasMarker("", "Dining"));
}

TEST(SectionMarkers, TableListsTheNineSectionsInWalkOrderWithTheirLengths)
{
    const char* names[] = {"gray_header_bar", "hotel_info", "Direction", "Dining", "Transportation",
                           "Property Information", "Services", "Ratings_Awards", "Attractions"};
    const std::size_t lengths[] = {22, 17, 16, 13, 21, 27, 15, 21, 18};
    ASSERT_EQ(detail::kSectionMarkers.size(), 9u);
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(detail::kSectionMarkers[k].name, names[k]);
        EXPECT_EQ(detail::MarkerText(detail::kSectionMarkers[k].name).size(), lengths[k]) << names[k];
    }
    EXPECT_EQ(detail::kSectionMarkers[0].field, &THotelDescParser::HeaderBar);
    EXPECT_EQ(detail::kSectionMarkers[0].post, detail::PostProcess::HeaderCut);
    EXPECT_EQ(detail::kSectionMarkers[1].field, &THotelDescParser::HotelInfo);
    EXPECT_EQ(detail::kSectionMarkers[1].post, detail::PostProcess::TrimLeft);
    EXPECT_EQ(detail::kSectionMarkers[7].field, &THotelDescParser::RatingsAwards);
    for (std::size_t k = 2; k < 9; ++k)
        EXPECT_EQ(detail::kSectionMarkers[k].post, detail::PostProcess::None) << names[k];
}

TEST(HeaderCut, KeepsTheNameAndItsSpaceBeforeTheLabel)
{
    EXPECT_EQ(detail::HeaderCut("\n  Grand Hotel Avg Price 120 NOK"), "Grand Hotel ");
    EXPECT_EQ(detail::HeaderCut("\r\n\t Hotel Avg Price 1 Avg Price 2"), "Hotel ");
}

TEST(HeaderCut, WithoutTheLabelOnlyTrimsTheLeft)
{
    EXPECT_EQ(detail::HeaderCut("\n  Grand Hotel \n"), "Grand Hotel \n");
    EXPECT_EQ(detail::HeaderCut("Avg price is lower case"), "Avg price is lower case");
    EXPECT_EQ(detail::HeaderCut(""), "");
}

TEST(HeaderCut, LabelAtTheStartLeavesNothing)
{
    EXPECT_EQ(detail::HeaderCut("Avg Price 120 NOK"), "");
    EXPECT_EQ(detail::HeaderCut("   Avg Price 120 NOK"), "");
}

TEST(PhotoPrefix, AppendsTheWrittenOutPortAndPhotoPage)
{
    EXPECT_EQ(detail::PhotoPrefix("http://hotels.example"), "http://hotels.example:80/hotsphoto.ctl?");
    EXPECT_EQ(detail::PhotoPrefix("http://hotels.example/"), "http://hotels.example:80/hotsphoto.ctl?");
    const AnsiString prefix = detail::PhotoPrefix("http://hotels.example");
    EXPECT_GT(Pos(prefix, "http://hotels.example:80/hotsphoto.ctl?hotel=1"), 0);
    EXPECT_EQ(Pos(prefix, "http://hotels.example/hotsphoto.ctl?hotel=1"), 0);
}

// ------------------------------------------------------------- walk fixtures

// COM initialised and the sample site's base in force for every case.
class WalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        platform::Settings settings;
        settings.siteBase = QStringLiteral("http://hotels.example");
        platform::SetSettings(settings);
    }
    void TearDown() override { CoUninitialize(); }

    // The fields the fast walk leaves in a fresh record, after checking that
    // the direct walk leaves exactly the same ones.
    Fields Extract(const std::string& html)
    {
        const ComPtr<IHTMLDocument2> doc = detailtest::DocumentFrom(html);
        EXPECT_TRUE(doc);
        if (!doc)
            return {};
        THotelDescParser fast{platform::CurrentSettings().siteBase};
        fast.ExtractSections(doc.get());
        THotelDescParser plain{platform::CurrentSettings().siteBase};
        plain.ExtractSectionsPlain(doc.get());
        EXPECT_EQ(FieldsOf(fast), FieldsOf(plain));
        return FieldsOf(fast);
    }
    Fields ExtractFixture(const char* name)
    {
        const std::string html = detailtest::FixtureText(QString::fromLatin1(name));
        EXPECT_FALSE(html.empty()) << name;
        return Extract(html);
    }
};

using R = THotelDescParser;

class GoldenPage : public WalkTest {};

TEST_F(GoldenPage, NoMarkersAndNoPhotoLinkLeaveEveryFieldEmpty)
{
    EXPECT_EQ(ExtractFixture("no_markers.html"), Fields{});
}

TEST_F(GoldenPage, OneTableWithEveryMarkerFillsAllNineSections)
{
    const Fields f = ExtractFixture("all_markers.html");
    const AnsiString whole = "\n  Grand Hotel Avg Price 120 NOK\n\nEverything";
    for (auto k : {&R::Direction, &R::Dining, &R::Transportation, &R::PropertyInformation, &R::Services,
                   &R::RatingsAwards, &R::Attractions})
        EXPECT_EQ(f[k], whole) << detailtest::NameOf(k);
    EXPECT_EQ(f[&R::HeaderBar], "Grand Hotel ");
    EXPECT_EQ(f[&R::HotelInfo], "Grand Hotel Avg Price 120 NOK\n\nEverything");
    EXPECT_EQ(f[&R::PhotoUrl], "");
    EXPECT_EQ(f[&R::PageUrl], "");
    EXPECT_EQ(f[&R::Spare], "");
}

TEST_F(GoldenPage, InnerTableWinsOverItsEnclosingTable)
{
    const Fields f = ExtractFixture("nested_dining.html");
    EXPECT_EQ(f[&R::Dining], "Breakfast buffet");
}

// The marker is searched in the serialized HTML, which writes every
// attribute as lower-case name="value". Attribute spellings therefore match
// after serialization (NAME=, spaces around =, unquoted values), while the
// same near misses in text stay as written and do not; quotes inside an
// attribute value are written as &quot; and do not match.
TEST_F(GoldenPage, MarkerMustMatchExactlyAsSerialized)
{
    const Fields f = ExtractFixture("marker_forms.html");
    EXPECT_EQ(f[&R::Dining], "");
    EXPECT_EQ(f[&R::Services], "");
    EXPECT_EQ(f[&R::Attractions], "");
    EXPECT_EQ(f[&R::Direction], "");
    EXPECT_EQ(f[&R::Transportation], "capital attribute name");
    EXPECT_EQ(f[&R::RatingsAwards], "spaced attribute");
    EXPECT_EQ(f[&R::HotelInfo], "bare attribute value");
    EXPECT_EQ(f[&R::PropertyInformation], "in a comment");
}

TEST_F(GoldenPage, HeaderCutKeepsNameAndSpace)
{
    EXPECT_EQ(ExtractFixture("header_cut.html")[&R::HeaderBar], "Harbour Inn ");
}

TEST_F(GoldenPage, HeaderWithoutLabelIsOnlyLeftTrimmed)
{
    EXPECT_EQ(ExtractFixture("header_no_label.html")[&R::HeaderBar], "Harbour Inn, no price today ");
}

TEST_F(GoldenPage, HeaderBeginningWithLabelIsStoredEmpty)
{
    EXPECT_EQ(ExtractFixture("header_label_first.html")[&R::HeaderBar], "");
}

TEST_F(GoldenPage, LaterOfTwoPhotoLinksWinsAndPortlessLinksDoNot)
{
    EXPECT_EQ(ExtractFixture("photo_links.html")[&R::PhotoUrl],
              "http://hotels.example:80/hotsphoto.ctl?hotel=second&size=large");
    EXPECT_EQ(ExtractFixture("photo_without_port.html")[&R::PhotoUrl], "");
}

TEST_F(GoldenPage, UnmatchedFieldsKeepTheirEarlierValues)
{
    const ComPtr<IHTMLDocument2> doc = detailtest::DocumentFrom(detailtest::FixtureText("nested_dining.html"));
    ASSERT_TRUE(doc);
    THotelDescParser fast{platform::CurrentSettings().siteBase};
    fast.SetUrl("http://hotels.example/hotsdetail.ctl?hotel=t");
    fast.Services = "kept";
    fast.ExtractSections(doc.get());
    EXPECT_EQ(fast.PageUrl, "http://hotels.example/hotsdetail.ctl?hotel=t");
    EXPECT_EQ(fast.Services, "kept");
    EXPECT_EQ(fast.Dining, "Breakfast buffet");
}

TEST_F(GoldenPage, EventsAreHandledDuringTheWalk)
{
    const ComPtr<IHTMLDocument2> doc = detailtest::DocumentFrom(detailtest::FixtureText("all_markers.html"));
    ASSERT_TRUE(doc);
    bool ran = false;
    QTimer::singleShot(0, Application, [&ran] { ran = true; });
    THotelDescParser record{platform::CurrentSettings().siteBase};
    record.ExtractSections(doc.get());
    EXPECT_TRUE(ran);
}

// ------------------------------------------------- fast walk equals direct walk

class FastWalkIdentity : public WalkTest {};

TEST_F(FastWalkIdentity, MarkerNestedOneToTwentyTablesDeep)
{
    for (int depth = 1; depth <= 20; ++depth) {
        SCOPED_TRACE(depth);
        const Fields f = Extract(detailpages::NestedPage(depth, "Services"));
        // The innermost table holds the marker, so its text wins.
        EXPECT_EQ(f[&R::Services], "level " + std::to_string(depth - 1) + " innermost");
    }
}

TEST_F(FastWalkIdentity, MarkersAtTableBoundariesAndInScriptsAndComments)
{
    Extract("<table><tr><td>a</td></tr></table>name=\"Dining\"<table><tr><td>b</td></tr></table>");
    Extract("<table><tr><td>name=\"Din</td></tr></table>ing\" <table><tr><td>name=\"Dining\"</td></tr></table>");
    Extract("<table><tr><td><script>var m='name=\"Services\"';</script>s</td></tr></table>");
    EXPECT_EQ(Extract("<table><tr><td>name=\"name=\"Dining\"</td></tr></table>")[&R::Dining], "name=\"name=\"Dining\"");
    Extract("<table><tr><td><!--name=\"Attractions\"-->c</td></tr></table><!--name=\"Attractions\"-->");
    const Fields several = Extract("<table><tr><td name=\"Dining\">d</td><td name=\"Services\">s</td></tr></table>");
    EXPECT_EQ(several[&R::Dining], "d\ts");
    EXPECT_EQ(several[&R::Services], "d\ts");
}

TEST_F(FastWalkIdentity, RandomPagesWithFixedSeeds)
{
    int filled = 0;
    for (std::uint64_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        const Fields f = Extract(detailpages::RandomPage(seed, 1 + static_cast<int>(seed % 8)));
        for (const auto& v : f.values)
            filled += v.empty() ? 0 : 1;
        if (HasFailure())
            break;
    }
    // The pages must actually exercise the sections, or identity proves nothing.
    EXPECT_GT(filled, 300);
}

TEST_F(FastWalkIdentity, SizedPagesAtSeveralDepths)
{
    for (int depth : {1, 5, 20}) {
        SCOPED_TRACE(depth);
        const Fields f = Extract(detailpages::SizedPage(20000, depth));
        EXPECT_NE(f[&R::Attractions], "");
        EXPECT_NE(f[&R::PhotoUrl], "");
    }
}

// A document that offers the COM surface but no serialization.
class BareDocument : public IHTMLDocument2 {
public:
    explicit BareDocument(ComPtr<IHTMLDocument2> inner) : inner_(std::move(inner)) {}
    HRESULT get_readyState(QString& p) override { return inner_->get_readyState(p); }
    HRESULT get_anchors(ComPtr<IHTMLElementCollection>& p) override { return inner_->get_anchors(p); }
    HRESULT get_all(ComPtr<IHTMLElementCollection>& p) override { return inner_->get_all(p); }

protected:
    ComPtr<IHTMLDocument2> inner_;
};

// A serialization that cannot place every other element.
class PatchyDocument : public BareDocument, public IHTMLDocumentSerialization {
public:
    using BareDocument::BareDocument;
    HRESULT get_serializedUtf8(const std::string*& p) override { return Ser()->get_serializedUtf8(p); }
    HRESULT get_extentOfAll(LONG index, Extent& p) override
    {
        return index % 2 ? E_FAIL : Ser()->get_extentOfAll(index, p);
    }

private:
    ComPtr<IHTMLDocumentSerialization> Ser()
    {
        ComPtr<IHTMLDocumentSerialization> s;
        QueryInterface(inner_, s);
        return s;
    }
};

TEST_F(FastWalkIdentity, DocumentsWithoutFullSerializationGiveTheSameFields)
{
    for (std::uint64_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        const ComPtr<IHTMLDocument2> doc = detailtest::DocumentFrom(detailpages::RandomPage(seed, 5));
        ASSERT_TRUE(doc);
        THotelDescParser reference{platform::CurrentSettings().siteBase};
        reference.ExtractSectionsPlain(doc.get());
        THotelDescParser bare{platform::CurrentSettings().siteBase};
        bare.ExtractSections(std::make_shared<BareDocument>(doc).get());
        THotelDescParser patchy{platform::CurrentSettings().siteBase};
        patchy.ExtractSections(std::make_shared<PatchyDocument>(doc).get());
        EXPECT_EQ(FieldsOf(bare), FieldsOf(reference));
        EXPECT_EQ(FieldsOf(patchy), FieldsOf(reference));
    }
}

TEST_F(FastWalkIdentity, SampleSiteDetailPages)
{
    SampleSite site;
    ASSERT_TRUE(site.started());
    for (const char* id : {"osl-1", "osl-3", "osl-10", "adl-2"}) {
        SCOPED_TRACE(id);
        std::string html;
        ASSERT_EQ(site.get(std::string("/hotsdetail.ctl?hotel=") + id, &html), 200);
        const Fields f = Extract(html);
        EXPECT_NE(f[&R::HeaderBar], "");
        EXPECT_EQ(Pos("Avg Price", f[&R::HeaderBar]), 0);
        EXPECT_NE(f[&R::Dining], "");
        EXPECT_EQ(f[&R::PhotoUrl], std::string("http://hotels.example:80/hotsphoto.ctl?hotel=") + id);
    }
}

}  // namespace
