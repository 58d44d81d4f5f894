// The crawl on a site built as today's sites are (the sample site's modern
// mode: lists and paging written by scripts, a session cookie every page
// after the search needs, a page that raises dialogs), with the browser
// engine that runs scripts and keeps cookies, and with our own engine that
// does neither and must visibly keep nothing.

#include "platform/engine/Engine.h"
#include "store/Going.h"
#include "store/Staymarker.h"
#include "support/CrawlDriver.h"
#include "support/FormAccess.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/SampleSite.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"


#include <gtest/gtest.h>


namespace {

class ModernSiteCrawl : public ::testing::Test {
protected:
    SampleSite site{{QStringLiteral("--modern")}};
    std::unique_ptr<TestDatabase> db;
    RecordedMessages recorded;

    void SetUp() override
    {
        ASSERT_TRUE(site.started());
        platform::Settings s = site.routedSettings();
        s.timerIntervalMs = 60000;  // the test ticks the handlers itself
        s.pageTimeoutS = 30;
        db = std::make_unique<TestDatabase>(s);
    }


    int turnedAway()
    {
        std::string body;
        return site.get("/mode/turned-away", &body) == 200 ? std::stoi(body) : -1;
    }

    // Crawls osl and adl with both handlers ticked whenever the browser is
    // not loading a result page, until `done` or `timeoutMs`.
    bool crawl(TForm1& form, const std::function<bool()>& done, int timeoutMs)
    {
        IdleTicker ticker(form);
        form.show();
        form.Button2->click();
        return PumpUntil(done, timeoutMs);
    }
};

TEST_F(ModernSiteCrawl, BrowserEngineKeepsEveryHotelWithinOneSession)
{
    platform::engine::UseEngine(platform::BrowserEngine::Chromium);
    TForm1 form{ThisDesk()};
    ASSERT_NE(form.CppWebBrowser1->EngineView(), nullptr);
    ASSERT_TRUE(crawl(form, [&] { return KeptHotels().size() >= 13; }, 180000))
        << "kept " << KeptHotels().size() << " hotels; requests:\n"
        << site.requestLines().join('\n').toStdString();

    const auto kept = KeptHotels();
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(kept.at("http://hotels.example/hotsdetail.ctl?hotel=osl-" + std::to_string(i)), "osl");
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(kept.at("http://hotels.example/hotsdetail.ctl?hotel=adl-" + std::to_string(i)), "adl");
    // Every page after the search went with the session the search set.
    EXPECT_EQ(turnedAway(), 0);
    // The script-written street line is part of what was kept.
    bool streetSeen = false;
    for (const auto& row : store::ReadAllHotels())
        streetSeen = streetSeen || row.HotelInfo.find("Harbour Street") != std::string::npos;
    EXPECT_TRUE(streetSeen);
    // adl's first page raised alert() and confirm(): answered, never shown.
    EXPECT_TRUE(recorded.texts.isEmpty()) << recorded.texts.join('\n').toStdString();
}

TEST_F(ModernSiteCrawl, OwnEngineWithoutScriptsOrCookiesVisiblyKeepsNothing)
{
    platform::engine::UseEngine(platform::BrowserEngine::Html);
    TForm1 form{ThisDesk()};
    // The result lists are only data for a script: no hotel link is ever
    // seen, so both destinations pass without a detail page asked for.
    ASSERT_TRUE(crawl(
        form,
        [&] { return site.countRequestsContaining("airport=adl") >= 1 && !form.CppWebBrowser1->Busy(); }, 60000));
    EXPECT_TRUE(KeptHotels().empty());
    EXPECT_TRUE(site.requestedHotelIds().isEmpty());
}

}  // namespace
