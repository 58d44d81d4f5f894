// One crawler pass over hand-made result pages: the gate, the anchor walk,
// the counting maps, the paging rule, the log lines and the transfer.

#include "crawl/ResultCrawler.h"
#include "platform/html/Mshtml.h"
#include "support/FormAccess.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <gtest/gtest.h>

namespace {

// Pages live at an address nothing can load: the pass's navigations and its
// detail turn then stay off the network and off the event loop, so each
// test sees exactly one pass.
const QUrl kPage("ftp://hotels.example/cannonball.ctl?airport=osl");
const AnsiString kSite = "ftp://hotels.example/";

TEST(AnchorTests, NextPageNeedsTheAvailabilityAddressAndExactlyNext)
{
    EXPECT_TRUE(IsNextPageLink("http://h/hotsavail.ctl?p=2", "Next"));
    EXPECT_FALSE(IsNextPageLink("http://h/hotsavail.ctl?p=2", "next"));
    EXPECT_FALSE(IsNextPageLink("http://h/hotsavail.ctl?p=2", "Next "));
    EXPECT_FALSE(IsNextPageLink("http://h/hotsavail.ctl?p=2", "Next >>"));
    EXPECT_FALSE(IsNextPageLink("http://h/hotsavail.ctl", "Next")) << "the question mark is part of the marker";
    EXPECT_FALSE(IsNextPageLink("http://h/other.ctl?p=2", "Next"));
    EXPECT_TRUE(IsDetailLink("http://h/hotsdetail.ctl?hotel=1"));
    EXPECT_FALSE(IsDetailLink("http://h/HOTSDETAIL.CTL?hotel=1"));
    EXPECT_EQ(PageLogLine(2), "2th Page");
    EXPECT_EQ(PageLogLine(11), "11th Page");
}

class CrawlerPass : public ::testing::Test {
protected:
    TestDatabase db;
    TForm1 form{ThisDesk()};
    TForm1TestAccess f{form};
    RecordedMessages recorded;

    void SetUp() override
    {
        ASSERT_GT(CoInitializeCount(), 0);
        form.Memo1->setPlainText("Memo1");
        f.SearchStarted() = 1;
        f.DestCode() = "osl";
    }

    void TearDown() override
    {
        for (const QString& m : recorded.texts)
            EXPECT_EQ(m, "URL Moniker 생성 실패");
    }

    ComPtr<IHTMLDocument2> page(const QString& body)
    {
        ComPtr<IHTMLDocument2> doc;
        EXPECT_EQ(CreateDocumentFromHtml("<!DOCTYPE html><body>" + body, kPage, doc), S_OK);
        return doc;
    }
    // One document-complete event for `doc`.
    void complete(const ComPtr<IHTMLDocument2>& doc)
    {
        VARIANT url = VariantBstr(kPage.toString());
        form.CppWebBrowser1DocumentComplete(form.CppWebBrowser1, doc.get(), &url);
    }
    void pass(const QString& body) { complete(page(body)); }
    QStringList log() const { return form.Memo1->toPlainText().split('\n'); }
    int count(const TLinkCounts& map, const AnsiString& key) const
    {
        const auto it = map.find(key);
        return it == map.end() ? 0 : it->second;
    }
    std::vector<AnsiString> pendingUrls()
    {
        std::vector<AnsiString> urls;
        for (const auto& link : f.PendingLinks())
            urls.push_back(link.Url);
        return urls;
    }
};

const char* kNext = "<a name=n href='hotsavail.ctl?page=2'>Next</a>";

TEST_F(CrawlerPass, NothingHappensBeforeTheFirstSearch)
{
    f.SearchStarted() = 0;
    pass(kNext);
    EXPECT_EQ(log(), QStringList({"Memo1"}));
    EXPECT_TRUE(f.LinkCounts().empty());
}

TEST_F(CrawlerPass, ADispatchThatIsNoDocumentEndsThePass)
{
    auto doc = page(kNext);
    ComPtr<IHTMLElementCollection> all;
    ASSERT_EQ(doc->get_all(all), S_OK);
    ComPtr<IDispatch> element;
    ASSERT_EQ(all->item(VariantI4(0), VARIANT{}, element), S_OK);
    form.CppWebBrowser1DocumentComplete(form.CppWebBrowser1, element.get(), nullptr);
    form.CppWebBrowser1DocumentComplete(form.CppWebBrowser1, nullptr, nullptr);
    EXPECT_EQ(log(), QStringList({"Memo1"}));
    EXPECT_TRUE(f.LinkCounts().empty());
}

TEST_F(CrawlerPass, PageWithoutAnchorsLogsFirstPageAndEnablesTimer1)
{
    form.Timer1->SetEnabled(false);
    pass("<p>No hotels</p>");
    EXPECT_EQ(log(), QStringList({"Memo1", "First Page"}));
    EXPECT_TRUE(f.PendingLinks().empty());
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_TRUE(form.Timer2->Enabled());
}

TEST_F(CrawlerPass, OnlyNamedAnchorsWithAnAddressAreCounted)
{
    pass("<a href='hotsdetail.ctl?hotel=unnamed'>x</a>"
         "<a name=a>no address</a>"
         "<a id=b href='hotsdetail.ctl?hotel=1'>One</a>"
         "<a name=c href='hotsdetail.ctl?hotel=1'>One again</a>"
         "<a name=d href='other.ctl?x=1'>Next</a>");
    EXPECT_EQ(f.LinkCounts().size(), 2u);
    EXPECT_EQ(count(f.LinkCounts(), kSite + "hotsdetail.ctl?hotel=1"), 2);
    EXPECT_EQ(count(f.LinkCounts(), kSite + "other.ctl?x=1"), 1);
    EXPECT_TRUE(f.NextPageCounts().empty()) << "Next without the availability address is no paging link";
}

TEST_F(CrawlerPass, PagingLinksNeedTheExactText)
{
    pass("<a name=a href='hotsavail.ctl?p=a'>next</a>"
         "<a name=b href='hotsavail.ctl?p=b'>Next &gt;&gt;</a>"
         "<a name=c href='hotsavail.ctl?p=c'><b>Next</b></a>");
    EXPECT_EQ(f.NextPageCounts().size(), 1u);
    EXPECT_EQ(count(f.NextPageCounts(), kSite + "hotsavail.ctl?p=c"), 2) << "seen once, queued once";
    EXPECT_EQ(count(f.LinkCounts(), kSite + "hotsavail.ctl?p=a"), 1);
}

TEST_F(CrawlerPass, PagingLinkCountsBuildUpOverPasses)
{
    const QString once = "<a name=o href='hotsavail.ctl?once'>Next</a>";
    const QString twice = "<a name=t1 href='hotsavail.ctl?twice'>Next</a><a name=t2 href='hotsavail.ctl?twice'>Next</a>";
    const QString thrice = "<a name=r1 href='hotsavail.ctl?thrice'>Next</a><a name=r2 href='hotsavail.ctl?thrice'>Next</a>"
                           "<a name=r3 href='hotsavail.ctl?thrice'>Next</a>";
    pass(once + twice + thrice);
    EXPECT_EQ(log().mid(1), QStringList({"First Page", "2th Page", "3th Page"}));
    pass("<p>a page without links</p>");
    EXPECT_EQ(log().mid(4), QStringList({"First Page", "2th Page"})) << "the once-seen link is queued a second time";
    pass("<p>again</p>");
    EXPECT_EQ(log().mid(6), QStringList({"First Page"}));
    EXPECT_EQ(count(f.NextPageCounts(), kSite + "hotsavail.ctl?once"), 3);
    EXPECT_EQ(count(f.NextPageCounts(), kSite + "hotsavail.ctl?twice"), 3);
    EXPECT_EQ(count(f.NextPageCounts(), kSite + "hotsavail.ctl?thrice"), 3);
    EXPECT_TRUE(f.NextPages().empty());
}

TEST_F(CrawlerPass, PagingLinksAreFollowedInDescendingKeyOrder)
{
    // Loadable addresses this time (they lead to a closed port): the browser
    // accepts each navigation, and the last one issued is the one it loads.
    ComPtr<IHTMLDocument2> doc;
    ASSERT_EQ(CreateDocumentFromHtml("<!DOCTYPE html><body>"
                                     "<a name=a href='hotsavail.ctl?p=a'>Next</a>"
                                     "<a name=c href='hotsavail.ctl?p=c'>Next</a>"
                                     "<a name=b href='hotsavail.ctl?p=b'>Next</a>",
                                     QUrl("http://hotels.example/cannonball.ctl"), doc),
              S_OK);
    complete(doc);
    EXPECT_EQ(log().mid(1), QStringList({"First Page", "2th Page", "3th Page", "4th Page"}));
    // The page the browser loads (or fails to) is the last one navigated to;
    // its completion starts no second pass here.
    form.CppWebBrowser1->OnDocumentComplete = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return !form.CppWebBrowser1->Busy(); }));
    EXPECT_EQ(form.CppWebBrowser1->LocationURL(), "http://hotels.example/hotsavail.ctl?p=a")
        << "navigated to c, then b, then a";
}

TEST_F(CrawlerPass, KeysWalkInByteOrder)
{
    pass("<a name=a href='hotsdetail.ctl?b'>x</a><a name=b href='hotsdetail.ctl?B'>x</a>"
         "<a name=c href='hotsdetail.ctl?bb'>x</a><a name=d href='hotsdetail.ctl?b!'>x</a>");
    std::vector<AnsiString> keys;
    for (const auto& [key, value] : f.LinkCounts())
        keys.push_back(key.substr(key.find('?') + 1));
    EXPECT_EQ(keys, (std::vector<AnsiString>{"B", "b", "b!", "bb"}));
}

TEST_F(CrawlerPass, LastPageTransfersEveryLinedUpLinkWithTheDestinationCode)
{
    pass("<a name=a href='hotsdetail.ctl?hotel=2'>Two</a><a name=b href='hotsdetail.ctl?hotel=1'>One</a>"
         "<a name=c href='hotsdetail.ctl?hotel=3'>Three</a>");
    // The detail turn took the greatest address already; the other two wait.
    EXPECT_EQ(pendingUrls(), (std::vector<AnsiString>{kSite + "hotsdetail.ctl?hotel=1",
                                                      kSite + "hotsdetail.ctl?hotel=2"}));
    for (const auto& link : f.PendingLinks())
        EXPECT_EQ(link.AirPort, "osl");
    EXPECT_EQ(f.DetailLinks()->Count(), 3) << "the transfer does not empty the line-up";
}

TEST_F(CrawlerPass, PagingPassTransfersBeforeItFollowsTheNextPage)
{
    pass("<a name=a href='hotsdetail.ctl?hotel=1'>One</a><a name=b href='hotsdetail.ctl?hotel=2'>Two</a>" + QString(kNext));
    EXPECT_EQ(log().mid(1), QStringList({"First Page", "2th Page"}));
    EXPECT_EQ(f.DetailLinks()->Count(), 0) << "following a page empties the line-up";
    EXPECT_EQ(pendingUrls(), (std::vector<AnsiString>{kSite + "hotsdetail.ctl?hotel=1"}));
}

TEST_F(CrawlerPass, EachDetailLinkIsQueuedOncePerRun)
{
    pass("<a name=a href='hotsdetail.ctl?hotel=1'>One</a><a name=b href='hotsdetail.ctl?hotel=2'>Two</a>");
    f.PendingLinks().clear();
    f.DestCode() = "adl";
    pass("<a name=a href='hotsdetail.ctl?hotel=1'>One</a><a name=c href='hotsdetail.ctl?hotel=3'>Three</a>");
    EXPECT_TRUE(f.PendingLinks().empty()) << "hotel 3 was taken by the detail turn, 1 and 2 were queued before";
    EXPECT_EQ(count(f.LinkCounts(), kSite + "hotsdetail.ctl?hotel=1"), 2);
}

TEST_F(CrawlerPass, NewWindowsAreAlwaysCancelled)
{
    VARIANT_BOOL cancel = VARIANT_FALSE;
    LPDISPATCH disp = nullptr;
    form.CppWebBrowser1NewWindow2(form.CppWebBrowser1, &disp, &cancel);
    EXPECT_EQ(cancel, VARIANT_TRUE);
    EXPECT_EQ(disp, nullptr);
}

}  // namespace
