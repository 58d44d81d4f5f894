// The whole crawl in the real event loop, over HTTP on loopback against the
// sample site: search, result pages, detail pages, results kept, close and
// resume.

#include "store/Going.h"
#include "store/Staymarker.h"
#include "support/CrawlDriver.h"
#include "support/FormAccess.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/SampleSite.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

const QString kOslSearch =
    "GET /cannonball.ctl?Service=LODGEVISTAS&SearchPath=hots&old_cb=N&SEQ=4082317765219034458126&mode=1"
    "&airport=osl&state=&ckin_dt_mon=Sep&ckin_dt_dy=1&ckout_dt_mon=Sep&ckout_dt_dy=3&pax_cnt=1&mode=2"
    " Host: hotels.example";

class EndToEnd : public ::testing::Test {
protected:
    SampleSite site;
    std::unique_ptr<TestDatabase> db;
    RecordedMessages recorded;
    QStringList& messages = recorded.texts;

    void SetUp() override
    {
        ASSERT_TRUE(site.started());
    }

    // Settings for a form about to be built: the site routed to the sample
    // site, `intervalMs` per timer tick.
    void pace(int intervalMs)
    {
        platform::Settings s = site.routedSettings();
        s.timerIntervalMs = intervalMs;
        s.pageTimeoutS = 30;
        if (!db)
            db = std::make_unique<TestDatabase>(s);
        else {
            s.hotelsDb = platform::CurrentSettings().hotelsDb;
            platform::SetSettings(s);
        }
    }
    static AnsiString detailUrl(const QString& id) { return "http://hotels.example/hotsdetail.ctl?hotel=" + id.toStdString(); }
};

TEST_F(EndToEnd, NavigationCrawlsBothDestinationsAndKeepsEveryHotelOnce)
{
    // The window's own timers stay quiet; the test ticks both handlers every
    // 5 ms, but only while the browser is not loading a result page, so a
    // destination step never cuts the paging of the one before short, however
    // slow the machine.
    pace(60000);
    TForm1 form{ThisDesk()};
    IdleTicker ticker(form);
    form.show();
    form.Button2->click();

    ASSERT_TRUE(PumpUntil([&] { return KeptHotels().size() >= 13; }, 120000))
        << "kept " << KeptHotels().size() << " hotels; requests:\n" << site.requestLines().join('\n').toStdString();

    const QStringList requests = site.requestLines();
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_EQ(requests.first(), kOslSearch) << "the button searches line 0 with the exact address";
    EXPECT_TRUE(site.countRequestsContaining("&airport=adl&state=") >= 1);

    // Every hotel kept once, under the destination it was found for.
    const auto kept = KeptHotels();
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(kept.at(detailUrl(QString("osl-%1").arg(i))), "osl");
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(kept.at(detailUrl(QString("adl-%1").arg(i))), "adl");
    const QStringList ids = site.requestedHotelIds();
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), ids.size()) << ids.join(' ').toStdString();
    EXPECT_FALSE(ids.contains("unlisted-1")) << "unnamed links are not followed";

    // The first page's hotels are taken last-in first-out.
    ASSERT_GE(ids.size(), 1);
    EXPECT_EQ(ids.first(), "osl-4");

    // Result pages are logged pass by pass. Page 2 queues the links to pages
    // 3 and 2 (seen once and queued once); the navigation issued last, to
    // the smaller address (page 3), is the one that loads; page 3 then queues
    // its own link a second time.
    const QStringList log = form.Memo1->toPlainText().split('\n');
    const QStringList osl = {"Memo1",
                             "First Page", "2th Page",               // page 1
                             "First Page", "2th Page", "3th Page",   // page 2
                             "First Page", "2th Page",               // page 3
                             "First Page",                           // page 3 again
                             "First Page"};                          // adl
    EXPECT_EQ(log.mid(0, osl.size()), osl);
    QStringList pages;
    for (const QString& line : site.requestLines())
        if (line.contains("hotsavail.ctl"))
            pages << line.section("&page=", 1).section(' ', 0, 0);
    EXPECT_EQ(pages.first(), "2");
    EXPECT_EQ(pages.last(), "3");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(EndToEnd, ResultPagesNumberedUpwardsAreAllReached)
{
    // upn's pages are hotsavail.ctl?airport=upn&page=N and carry no frame:
    // page 2 queues page 1 again and page 3 for the first time, and only the
    // navigation issued last takes effect, so it must be the one to page 3.
    pace(60000);
    TForm1 form{ThisDesk()};
    form.Memo2->setPlainText("upn");
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!form.CppWebBrowser1->Busy())
            form.Timer2Timer(form.Timer2);
    });
    ticker.start(5);
    form.show();
    form.Button2->click();

    ASSERT_TRUE(PumpUntil([&] { return KeptHotels().size() >= 13; }, 120000))
        << "kept " << KeptHotels().size() << " hotels; requests:\n" << site.requestLines().join('\n').toStdString();
    const auto kept = KeptHotels();
    for (int i = 1; i <= 13; ++i)
        EXPECT_EQ(kept.count(detailUrl(QString("upn-%1").arg(i))), 1u) << i;
    for (const char* page : {"page=2 ", "page=3 ", "page=4 "})
        EXPECT_GE(site.countRequestsContaining(QString("hotsavail.ctl?airport=upn&") + page), 1) << page;
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(EndToEnd, CloseKeepsUnprocessedLinksAndTheNextRunResumesFromThem)
{
    // Slow timers: only the crawler's own detail turns run during this test.
    pace(60000);
    TPendingLinks savedAtClose;
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        form.show();
        form.Button2->click();
        // Wait until every page of "osl" was crawled: each pass takes one
        // detail link, so the queue holds the rest.
        ASSERT_TRUE(PumpUntil([&] { return site.countRequestsContaining("hotsavail.ctl?airport=osl") >= 2 && !form.CppWebBrowser1->Busy(); }, 60000));
        ASSERT_FALSE(f.PendingLinks().empty());
        savedAtClose = f.PendingLinks();
        const int fetchedBeforeClose = site.requestedHotelIds().size();
        form.close();
        EXPECT_EQ(site.requestedHotelIds().size(), fetchedBeforeClose + 1) << "the close runs one more detail step";
    }
    // The close's detail step handled the last link: the rest is kept.
    const TPendingLinks keptInGoing(savedAtClose.begin(), savedAtClose.end() - 1);
    EXPECT_EQ(TestDatabase::ReadGoing(), keptInGoing) << "Going holds exactly the links not yet processed";

    // Restart: resume mode, and the press brings the rows back.
    pace(5);
    TForm1 again{ThisDesk()};
    TForm1TestAccess g(again);
    EXPECT_TRUE(g.ResumeMode());
    // The list's lines not finished come back, and the press searches them
    // from the first while it resumes the links.
    EXPECT_TRUE(again.Memo2->toPlainText().endsWith("adl")) << again.Memo2->toPlainText().toStdString();
    again.show();
    again.Button2->click();
    EXPECT_TRUE(PumpUntil([&] { return site.countRequestsContaining("cannonball.ctl") >= 2; }, 30000))
        << "the resume press searches the list's first line";
    ASSERT_TRUE(PumpUntil([&] {
        const auto kept = KeptHotels();
        for (const auto& link : savedAtClose)
            if (!kept.count(link.Url))
                return false;
        return true;
    }, 60000));
    for (const auto& link : savedAtClose)
        EXPECT_EQ(KeptHotels().at(link.Url), "osl");
}

TEST_F(EndToEnd, NewWindowLinksNeverOpenAnything)
{
    pace(60000);
    TForm1 form{ThisDesk()};
    form.show();
    form.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return !form.CppWebBrowser1->LocationURL().isEmpty() && !form.CppWebBrowser1->Busy(); }, 30000));
    const QString shown = form.CppWebBrowser1->LocationURL();
    const int before = site.requestLines().size();
    form.CppWebBrowser1->FollowLink(QUrl("http://hotels.example/map.ctl?view=all"));
    EXPECT_FALSE(form.CppWebBrowser1->Busy());
    EXPECT_EQ(form.CppWebBrowser1->LocationURL(), shown);
    EXPECT_EQ(site.requestLines().size(), before);
    int windows = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows += w->isVisible() ? 1 : 0;
    EXPECT_EQ(windows, 1);
}

}  // namespace
