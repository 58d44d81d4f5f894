// The sample site's fault modes, switched at run time or given at start:
// which requests each one fails, and how the client sees it.

#include "support/Pump.h"
#include "tests/tools/SampleSiteTest.h"

#include <httplib.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

class SampleSiteFaults : public SampleSiteTest {
protected:
    // The statuses of `count` requests in a row for `path` (0: dropped).
    std::vector<int> statuses(int count, const std::string& path = "/hotsdetail.ctl?hotel=osl-1")
    {
        std::vector<int> out;
        for (int i = 0; i < count; ++i)
            out.push_back(site.get(path));
        return out;
    }

    httplib::Result rawGet(const std::string& path)
    {
        httplib::Client client("127.0.0.1", site.port());
        return client.Get(path.c_str(), {{"Host", "hotels.example"}});
    }
};

TEST_F(SampleSiteFaults, OutageDropsEverythingButTheControlsUntilSwitchedOff)
{
    std::string confirmation;
    ASSERT_EQ(site.get("/fault/outage?ms=600000", &confirmation), 200);
    EXPECT_EQ(confirmation, "outage: every request is dropped for 600000 ms\n");
    EXPECT_EQ(site.get(SearchPath("osl")), 0);
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-1"), 0);
    EXPECT_EQ(site.get("/no-such-page"), 0);
    EXPECT_TRUE(site.release("slow-1"));
    EXPECT_EQ(site.countFaultsContaining(), 3);
    EXPECT_EQ(site.countFaultsContaining("FAULT drop GET /hotsdetail.ctl?hotel=osl-1 Host: hotels.example"), 1);
    EXPECT_EQ(site.requestedHotelIds(), QStringList{"osl-1"});

    ASSERT_TRUE(site.fault("off"));
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-1"), 200);
    EXPECT_EQ(site.countFaultsContaining(), 3);
}

TEST_F(SampleSiteFaults, OutageEndsByItselfAndASecondOneReplacesTheFirst)
{
    ASSERT_TRUE(site.fault("outage?ms=600000"));
    ASSERT_TRUE(site.fault("outage?ms=0"));
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-1"), 200);

    ASSERT_TRUE(site.fault("outage?ms=200"));
    ASSERT_TRUE(PumpUntil([&] { return site.get("/hotsdetail.ctl?hotel=osl-2") == 200; }));
    // Once over, it stays over: every drop came before the first answer.
    EXPECT_EQ(statuses(3), (std::vector<int>{200, 200, 200}));
    const QStringList lines = site.requestLines().filter("hotel=osl-2");
    const qsizetype firstAnswered = lines.indexOf(QRegularExpression("GET .*"));  // a whole line that is no fault
    ASSERT_GE(firstAnswered, 0);
    for (qsizetype i = firstAnswered; i < lines.size(); ++i)
        EXPECT_FALSE(lines[i].startsWith("FAULT")) << lines[i].toStdString();
}

TEST_F(SampleSiteFaults, DroppedAnswerIsCutShortForEveryClient)
{
    ASSERT_TRUE(site.fault("outage?ms=600000"));
    const auto raw = rawGet("/hotsdetail.ctl?hotel=osl-1");
    EXPECT_FALSE(raw);
    EXPECT_EQ(raw.error(), httplib::Error::Read);

    // Qt's own network access (what the crawler fetches through) reports an
    // error, not a short page.
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(
        QUrl(QStringLiteral("http://127.0.0.1:%1/hotsdetail.ctl?hotel=osl-1").arg(site.port())))));
    ASSERT_TRUE(PumpUntil([&] { return reply->isFinished(); }));
    EXPECT_EQ(reply->error(), QNetworkReply::RemoteHostClosedError) << reply->errorString().toStdString();
}

TEST_F(SampleSiteFaults, FlakyFailsTheSameRequestsForTheSameSeed)
{
    ASSERT_TRUE(site.fault("flaky?percent=50&seed=7"));
    const std::vector<int> first = statuses(40);
    const auto count = [&](int status) { return static_cast<int>(std::count(first.begin(), first.end(), status)); };
    // Both kinds, about the share asked for, and each one logged as a fault.
    EXPECT_GT(count(0), 0);
    EXPECT_GT(count(503), 0);
    EXPECT_EQ(count(0) + count(503) + count(200), 40);
    EXPECT_GT(count(200), 10);
    EXPECT_LT(count(200), 30);
    EXPECT_EQ(site.countFaultsContaining("FAULT 503 GET"), count(503));
    EXPECT_EQ(site.countFaultsContaining("FAULT drop GET"), count(0));

    ASSERT_TRUE(site.fault("flaky?percent=50&seed=7"));
    EXPECT_EQ(statuses(40), first);
    ASSERT_TRUE(site.fault("flaky?percent=50&seed=8"));
    EXPECT_NE(statuses(40), first);
}

TEST_F(SampleSiteFaults, FlakyShareFromNoneToAll)
{
    ASSERT_TRUE(site.fault("flaky?percent=0"));
    EXPECT_EQ(statuses(10), std::vector<int>(10, 200));
    ASSERT_TRUE(site.fault("flaky?percent=100&seed=3"));
    for (const int status : statuses(10))
        EXPECT_TRUE(status == 0 || status == 503) << status;
    EXPECT_EQ(site.countFaultsContaining(), 10);
}

TEST_F(SampleSiteFaults, RetryAfterAnswers429WithTheDelay)
{
    ASSERT_TRUE(site.fault("retry-after?percent=100&seconds=7"));
    const auto refused = rawGet(SearchPath("krk"));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 429);
    EXPECT_EQ(refused->get_header_value("Retry-After"), "7");
    EXPECT_EQ(site.countFaultsContaining("FAULT 429 GET /cannonball.ctl?"), 1);

    ASSERT_TRUE(site.fault("retry-after?percent=50&seconds=1&seed=5"));
    const std::vector<int> first = statuses(20);
    EXPECT_NE(std::count(first.begin(), first.end(), 429), 0);
    EXPECT_NE(std::count(first.begin(), first.end(), 200), 0);
    ASSERT_TRUE(site.fault("retry-after?percent=50&seconds=1&seed=5"));
    EXPECT_EQ(statuses(20), first);
}

TEST_F(SampleSiteFaults, SlowAnswersWaitAtLeastTheDelay)
{
    ASSERT_TRUE(site.fault("slow?ms=300"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=adl-1"), 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(site.countFaultsContaining(), 0);  // slow, not failed
}

TEST_F(SampleSiteFaults, BadControlIsRefusedAndChangesNothing)
{
    ASSERT_TRUE(site.fault("flaky?percent=100"));
    std::string problem;
    EXPECT_EQ(site.get("/fault/flaky?percent=150", &problem), 400);
    EXPECT_EQ(problem, "percent must be a whole number from 0 to 100, not \"150\"\n");
    EXPECT_EQ(site.get("/fault/flaky?percent=0&speed=1", &problem), 400);
    EXPECT_EQ(problem, "flaky takes no parameter \"speed\"\n");
    EXPECT_EQ(site.get("/fault/outage", &problem), 400);
    EXPECT_EQ(problem, "missing ms=\n");
    EXPECT_EQ(site.get("/fault/outage?ms=-5"), 400);
    EXPECT_EQ(site.get("/fault/retry-after?percent=10"), 400);
    EXPECT_EQ(site.get("/fault/blackout?ms=5"), 400);
    EXPECT_NE(statuses(3), (std::vector<int>{200, 200, 200}));  // still 100% flaky
}

TEST(SampleSiteFaultsAtStart, FaultGivenOnTheCommandLineIsInForceFromTheFirstRequest)
{
    SampleSite site({"--fault", "retry-after?percent=100&seconds=2"});
    ASSERT_TRUE(site.started());
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-1"), 429);
    EXPECT_TRUE(site.fault("off"));
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-1"), 200);
}

TEST_F(SampleSiteFaults, FailSearchFailsOnlyTheNamedDestinationsSearchesAsOftenAsAsked)
{
    std::string confirmation;
    ASSERT_EQ(site.get("/fault/fail-search?code=adl&times=2", &confirmation), 200);
    EXPECT_EQ(confirmation, "fail-search: the next 2 searches of \"adl\" answer 503\n");
    EXPECT_EQ(site.get(SearchPath("osl")), 200);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=adl&page=1"), 200) << "only searches count";
    EXPECT_EQ(site.get(SearchPath("adl")), 503);
    httplib::Client client("127.0.0.1", site.port());
    const auto head = client.Head(SearchPath("adl").c_str(), {{"Host", "hotels.example"}});
    ASSERT_TRUE(head);
    EXPECT_EQ(head->status, 503) << "a HEAD sees the failure without using it up";
    EXPECT_EQ(site.get(SearchPath("adl")), 503);
    EXPECT_EQ(site.get(SearchPath("adl")), 200);
    EXPECT_EQ(site.countFaultsContaining("FAULT 503 GET /cannonball.ctl?"), 2);
    EXPECT_EQ(site.get("/fault/fail-search?times=1"), 400);
}

TEST_F(SampleSiteFaults, AdFrameIsOnEveryResultPageAndAnswersItsStatus)
{
    EXPECT_EQ(site.get("/ad.ctl"), 404);
    EXPECT_EQ(fetchOk(SearchPath("osl")).find("<iframe"), std::string::npos);
    ASSERT_TRUE(site.fault("ad-frame?status=404"));
    EXPECT_NE(fetchOk(SearchPath("osl")).find("<iframe src=\"/ad.ctl\""), std::string::npos);
    EXPECT_NE(fetchOk("/hotsavail.ctl?airport=osl&left=6&page=2").find("<iframe src=\"/ad.ctl\""), std::string::npos);
    EXPECT_EQ(fetchOk("/hotsdetail.ctl?hotel=osl-1").find("/ad.ctl"), std::string::npos) << "result pages only";
    EXPECT_EQ(site.get("/ad.ctl"), 404);
    ASSERT_TRUE(site.fault("ad-frame?status=200"));
    EXPECT_NE(fetchOk("/ad.ctl").find("Fly for less."), std::string::npos);
    EXPECT_EQ(site.get("/fault/ad-frame?status=99"), 400);
    ASSERT_TRUE(site.fault("off"));
    EXPECT_EQ(fetchOk(SearchPath("osl")).find("<iframe"), std::string::npos);
}

}  // namespace
