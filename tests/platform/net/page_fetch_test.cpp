// Why a page fetch failed, and its quick retries: the failure kinds and
// Retry-After on their own, then fetches over real HTTP from a loopback
// server that drops connections or answers error statuses on request.

#include "platform/net/FetchFailure.h"
#include "platform/net/Network.h"
#include "platform/net/PageFetch.h"

#include "support/LoopbackSite.h"
#include "support/Pump.h"

#include <QTcpServer>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

namespace {

using Kind = platform::FetchFailure::Kind;

// Readable failure output for kinds.
const char* NameOf(Kind kind)
{
    switch (kind) {
    case Kind::None: return "None";
    case Kind::NoConnection: return "NoConnection";
    case Kind::ConnectionClosed: return "ConnectionClosed";
    case Kind::NameLookup: return "NameLookup";
    case Kind::Tls: return "Tls";
    case Kind::Timeout: return "Timeout";
    case Kind::HttpStatus: return "HttpStatus";
    case Kind::Refused: return "Refused";
    case Kind::Other: return "Other";
    }
    return "?";
}

}  // namespace

namespace platform {
inline void PrintTo(FetchFailure::Kind kind, std::ostream* os) { *os << NameOf(kind); }
}  // namespace platform

namespace {

// ------------------------------------------------- sorting failures

platform::FetchFailure Failure(Kind kind, int status = 0, int retryAfterS = -1)
{
    platform::FetchFailure failure;
    failure.kind = kind;
    failure.httpStatus = status;
    failure.retryAfterS = retryAfterS;
    return failure;
}

TEST(FetchFailureKinds, QtNetworkErrorsSortIntoTheKindsCallersActOn)
{
    using E = QNetworkReply::NetworkError;
    const std::vector<std::pair<E, Kind>> cases = {
        {E::NoError, Kind::None},
        {E::ConnectionRefusedError, Kind::NoConnection},
        {E::ProxyConnectionRefusedError, Kind::NoConnection},  // the fuzz targets' closed proxy
        {E::TemporaryNetworkFailureError, Kind::NoConnection},
        {E::RemoteHostClosedError, Kind::ConnectionClosed},
        {E::HostNotFoundError, Kind::NameLookup},
        {E::SslHandshakeFailedError, Kind::Tls},
        {E::TimeoutError, Kind::Timeout},
        {E::TooManyRedirectsError, Kind::Refused},
        {E::ProtocolUnknownError, Kind::Refused},
        {E::UnknownNetworkError, Kind::Other},
        {E::ProtocolFailure, Kind::Other},
        {E::ServiceUnavailableError, Kind::Other},  // the status itself is used when one came
    };
    for (const auto& [error, kind] : cases)
        EXPECT_EQ(platform::FailureKindOf(error), kind) << int(error);
}

TEST(FetchFailureKinds, NetworkKindsAndBusyStatusesAreTransientOthersPermanent)
{
    for (int status : {408, 425, 429, 500, 502, 503, 504, 599})
        EXPECT_TRUE(platform::IsTransientStatus(status)) << status;
    for (int status : {0, 200, 302, 400, 401, 403, 404, 410, 426, 499, 600})
        EXPECT_FALSE(platform::IsTransientStatus(status)) << status;

    for (Kind kind : {Kind::NoConnection, Kind::ConnectionClosed, Kind::NameLookup, Kind::Tls, Kind::Timeout,
                      Kind::Other})
        EXPECT_TRUE(Failure(kind).IsTransient()) << NameOf(kind);
    EXPECT_FALSE(Failure(Kind::Refused).IsTransient());
    EXPECT_FALSE(platform::FetchFailure{}.IsTransient());
    EXPECT_FALSE(platform::FetchFailure{}.Failed());
    EXPECT_TRUE(Failure(Kind::HttpStatus, 503).IsTransient());
    EXPECT_FALSE(Failure(Kind::HttpStatus, 404).IsTransient());
}

TEST(FetchFailureKinds, DescriptionNamesTheStatusAndTheWaitAskedFor)
{
    EXPECT_EQ(Failure(Kind::HttpStatus, 503).Describe(), QStringLiteral("HTTP 503"));
    EXPECT_EQ(Failure(Kind::HttpStatus, 429, 30).Describe(),
              QStringLiteral("HTTP 429 (Retry-After 30 s)"));
    // The library's words are for logs, not for the short text.
    platform::FetchFailure timedOut = Failure(Kind::Timeout);
    timedOut.detail = QStringLiteral("Operation canceled");
    EXPECT_EQ(timedOut.Describe(), QStringLiteral("time-out"));
}

// 1994-11-06 08:49:37 UTC.
constexpr qint64 kNow = 784111777;

TEST(FetchRetryAfterHeader, DeltaSecondsAreTakenAsTheyAre)
{
    EXPECT_EQ(platform::ParseRetryAfter("120", kNow), 120);
    EXPECT_EQ(platform::ParseRetryAfter(" 5 ", kNow), 5);
    EXPECT_EQ(platform::ParseRetryAfter("0", kNow), 0);
    // Too large for an int is a very long wait, not an unreadable one.
    EXPECT_EQ(platform::ParseRetryAfter("99999999999999999999999", kNow), std::numeric_limits<int>::max());
}

TEST(FetchRetryAfterHeader, HttpDatesInAllThreeFormsCountFromNow)
{
    EXPECT_EQ(platform::ParseRetryAfter("Sun, 06 Nov 1994 08:50:07 GMT", kNow), 30);
    EXPECT_EQ(platform::ParseRetryAfter("Sunday, 06-Nov-94 08:50:07 GMT", kNow), 30);
    EXPECT_EQ(platform::ParseRetryAfter("Sun Nov  6 08:50:07 1994", kNow), 30);
    EXPECT_EQ(platform::ParseRetryAfter("Mon, 07 Nov 1994 08:49:37 GMT", kNow), 86400);
    // A wrong weekday does not make the date unclear.
    EXPECT_EQ(platform::ParseRetryAfter("Fri, 06 Nov 1994 08:50:07 GMT", kNow), 30);
    // Two-digit years after 1999.
    EXPECT_EQ(platform::ParseRetryAfter("Thursday, 01-Jan-15 00:00:00 GMT", 1420070400 - 10), 10);
    // A date already past asks for no wait.
    EXPECT_EQ(platform::ParseRetryAfter("Sat, 05 Nov 1994 08:49:37 GMT", kNow), 0);
}

TEST(FetchRetryAfterHeader, GarbageIsUnreadable)
{
    for (const char* value : {"", "   ", "soon", "-5", "+5", "1.5", "5s", "Sun, 31 Feb 1994 08:49:37 GMT",
                              "Sun, 06 Nov 1994 25:00:00 GMT", "Sun, 06 Nov 1994 08:49:37 PST",
                              "Sun, 06 Foo 1994 08:49:37 GMT", "06 Nov 1994 08:49:37 GMT", "Sun,"})
        EXPECT_EQ(platform::ParseRetryAfter(value, kNow), -1) << value;
}

TEST(FetchRetryDelays, DoubleFromAThirtiethOfThePageTimeoutHeldWithinBounds)
{
    using std::chrono::milliseconds;
    EXPECT_EQ(platform::QuickRetryDelay(60, 0), milliseconds(2000));
    EXPECT_EQ(platform::QuickRetryDelay(60, 1), milliseconds(4000));
    EXPECT_EQ(platform::QuickRetryDelay(60, 2), milliseconds(8000));
    EXPECT_EQ(platform::QuickRetryDelay(1, 0), milliseconds(50));
    EXPECT_EQ(platform::QuickRetryDelay(1, 2), milliseconds(200));
    EXPECT_EQ(platform::QuickRetryDelay(15, 0), milliseconds(500));
    EXPECT_EQ(platform::QuickRetryDelay(3600, 0), milliseconds(2000));  // held at 2 s
    EXPECT_EQ(platform::QuickRetryDelay(0, 0), milliseconds(50));       // never below 50 ms
}

// ------------------------------------------------- fetching with retries

// A page time-out of 3 s: quick retries wait 100, 200 and 400 ms.
class PageFetchRetries : public ::testing::Test {
protected:
    void SetTimeout(int seconds) { timeoutS_ = seconds; }

    // Fetches `url` to its one report; the delays of its retries go to delays_.
    platform::PageResult Fetch(const QString& url, std::shared_ptr<platform::BodyBudget> budget = nullptr)
    {
        platform::PageResult result;
        int reports = 0;
        platform::PageFetch fetch(QUrl(url), timeoutS_, [&](const platform::PageResult& r) {
            result = r;
            ++reports;
        });
        QObject::connect(&fetch, &platform::PageFetch::retrying,
                         [this](const platform::FetchFailure&, int delayMs) { delays_.push_back(delayMs); });
        if (budget)
            fetch.SetBudget(budget);
        fetch.Start();
        EXPECT_TRUE(PumpUntil([&] { return reports > 0; }, 30000));
        EXPECT_EQ(reports, 1);
        return result;
    }

    static QString ClosedPortUrl()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const int port = probe.serverPort();
        probe.close();
        return QStringLiteral("http://127.0.0.1:%1/x").arg(port);
    }

    LoopbackSite site_;
    int timeoutS_ = 3;
    std::vector<int> delays_;
};

// A page that fails twice in some transient way and then answers.
class FlakyPage : public PageFetchRetries, public ::testing::WithParamInterface<LoopbackSite::Fault> {};

TEST_P(FlakyPage, FailingTwiceIsFetchedWholeOnTheThirdAttempt)
{
    site_.Serve("/flaky", "<p>the whole page</p>");
    site_.FailTimes("/flaky", 2, GetParam());
    const auto result = Fetch(site_.Url("/flaky"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.httpStatus, 200);
    EXPECT_EQ(result.failure.kind, Kind::None);
    EXPECT_TRUE(result.error.isEmpty());
    EXPECT_EQ(result.text, QStringLiteral("<p>the whole page</p>"));
    EXPECT_EQ(site_.Requests("/flaky"), 3);
    // A drop may be sent again by Qt within one attempt (see LoopbackSite).
    if (GetParam().status != 0) {
        EXPECT_EQ(result.attempts, 3);
    }
    ASSERT_LE(result.attempts, 3);
    std::vector<int> delays{100, 200};
    delays.resize(result.attempts - 1);
    EXPECT_EQ(delays_, delays);
}

INSTANTIATE_TEST_SUITE_P(TransientFailures, FlakyPage,
                         ::testing::Values(LoopbackSite::Fault::Dropped(), LoopbackSite::Fault::Answering(503),
                                           LoopbackSite::Fault::Answering(429), LoopbackSite::Fault::Answering(408)),
                         [](const ::testing::TestParamInfo<LoopbackSite::Fault>& info) {
                             return info.param.status == 0 ? std::string("Dropped")
                                                           : "Status" + std::to_string(info.param.status);
                         });

TEST_F(PageFetchRetries, DroppedAnswerIsAClosedConnectionNotAPage)
{
    site_.Drop("/cut");
    const auto result = Fetch(site_.Url("/cut"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.text.isEmpty());
    EXPECT_EQ(result.failure.kind, Kind::ConnectionClosed) << result.error.toStdString();
    EXPECT_FALSE(result.error.isEmpty());
}

TEST_F(PageFetchRetries, CompressedPageLongerOnTheWireThanItsTextIsWhole)
{
    // "<p>whole</p>" gzipped is 32 bytes, and the announced length counts
    // those: the 12 bytes of the page are all of it, not short of it.
    static const char kGzipped[] =
        "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xb3\x29\xb0\x2b\xcf\xc8"
        "\xcf\x49\xb5\xd1\x2f\xb0\x03\x00\x09\x61\x8a\x41\x0c\x00\x00\x00";
    site_.ServeGzipped("/small", std::string(kGzipped, sizeof kGzipped - 1));
    const auto result = Fetch(site_.Url("/small"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.failure.kind, Kind::None) << result.error.toStdString();
    EXPECT_EQ(result.text, QStringLiteral("<p>whole</p>"));
    EXPECT_EQ(result.attempts, 1);
}

TEST_F(PageFetchRetries, PageFailingEveryTimeReportsTheLastAttemptsFailure)
{
    // Three drops, then an error status: the report is the status.
    site_.Status("/down", 502);
    site_.FailTimes("/down", 3, LoopbackSite::Fault::Dropped());
    const auto result = Fetch(site_.Url("/down"));
    EXPECT_EQ(result.attempts, 1 + platform::kQuickRetries);
    EXPECT_GE(site_.Requests("/down"), 1 + platform::kQuickRetries);  // Qt may send a drop again
    EXPECT_EQ(delays_, (std::vector<int>{100, 200, 400}));
    EXPECT_TRUE(result.ok);  // an answer came; its body is the error page
    EXPECT_EQ(result.httpStatus, 502);
    EXPECT_EQ(result.failure.kind, Kind::HttpStatus);
    EXPECT_EQ(result.failure.httpStatus, 502);
    EXPECT_EQ(result.text, QStringLiteral("<p>status 502</p>"));

    // Two error statuses, then drops to the end: the report is the drop.
    delays_.clear();
    site_.Drop("/gone");
    site_.FailTimes("/gone", 2, LoopbackSite::Fault::Answering(500));
    const auto gone = Fetch(site_.Url("/gone"));
    EXPECT_EQ(gone.attempts, 1 + platform::kQuickRetries);
    EXPECT_FALSE(gone.ok);
    EXPECT_EQ(gone.failure.kind, Kind::ConnectionClosed);
    EXPECT_EQ(gone.httpStatus, 0);
}

TEST_F(PageFetchRetries, RetryAfterThatFitsIsTheDelay)
{
    site_.Serve("/busy", "<p>served</p>");
    site_.FailTimes("/busy", 1, LoopbackSite::Fault::Answering(503, "1"));
    const auto result = Fetch(site_.Url("/busy"));
    EXPECT_EQ(delays_, std::vector<int>{1000});
    EXPECT_EQ(result.attempts, 2);
    EXPECT_EQ(result.failure.kind, Kind::None);
    EXPECT_EQ(result.text, QStringLiteral("<p>served</p>"));
}

TEST_F(PageFetchRetries, RetryAfterBeyondTheTimeOutFailsAtOnceAndKeepsTheWait)
{
    site_.Status("/busy", 429, "30");
    const auto result = Fetch(site_.Url("/busy"));
    EXPECT_TRUE(delays_.empty());
    EXPECT_EQ(result.attempts, 1);
    EXPECT_EQ(site_.Requests("/busy"), 1);
    EXPECT_EQ(result.failure.kind, Kind::HttpStatus);
    EXPECT_EQ(result.failure.httpStatus, 429);
    EXPECT_EQ(result.failure.retryAfterS, 30);
    EXPECT_TRUE(result.failure.IsTransient());
}

TEST_F(PageFetchRetries, PermanentStatusIsNotRetriedButKeepsItsBody)
{
    const auto missing = Fetch(site_.Url("/nowhere"));  // 404
    EXPECT_EQ(missing.attempts, 1);
    EXPECT_EQ(site_.Requests("/nowhere"), 1);
    EXPECT_TRUE(missing.ok);
    EXPECT_EQ(missing.failure.kind, Kind::HttpStatus);
    EXPECT_EQ(missing.failure.httpStatus, 404);
    EXPECT_EQ(missing.failure.retryAfterS, -1);
    EXPECT_EQ(missing.text, QStringLiteral("<p>missing</p>"));

    // A Retry-After on a permanent status is passed on all the same.
    site_.Status("/forbidden", 403, "5");
    const auto forbidden = Fetch(site_.Url("/forbidden"));
    EXPECT_EQ(forbidden.attempts, 1);
    EXPECT_EQ(forbidden.failure.retryAfterS, 5);
    EXPECT_TRUE(delays_.empty());
}

TEST_F(PageFetchRetries, ClosedPortIsNoConnectionAfterItsRetries)
{
    const auto result = Fetch(ClosedPortUrl());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure.kind, Kind::NoConnection) << result.error.toStdString();
    EXPECT_EQ(result.attempts, 1 + platform::kQuickRetries);
}

TEST_F(PageFetchRetries, HeldPageBeyondThePageTimeOutIsATimeOutNotRetried)
{
    SetTimeout(1);
    site_.Hold("/slow");
    const auto result = Fetch(site_.Url("/slow"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure.kind, Kind::Timeout);
    EXPECT_EQ(result.attempts, 1);
    EXPECT_TRUE(delays_.empty());
}

TEST_F(PageFetchRetries, RedirectHopIsNoRetryAndOnlyTheFailedHopIsTriedAgain)
{
    site_.Redirect("/moved", "/flaky");
    site_.Serve("/flaky", "<p>arrived</p>");
    site_.FailTimes("/flaky", 1, LoopbackSite::Fault::Answering(503));
    const auto result = Fetch(site_.Url("/moved"));
    EXPECT_EQ(result.attempts, 2);
    EXPECT_EQ(site_.Requests("/moved"), 1);
    EXPECT_EQ(site_.Requests("/flaky"), 2);
    EXPECT_EQ(result.finalAddress, QUrl(site_.Url("/flaky")));
    EXPECT_EQ(result.text, QStringLiteral("<p>arrived</p>"));
}

TEST_F(PageFetchRetries, RefusedAddressesAreNeitherFetchedNorRetried)
{
    const auto notHttp = Fetch(QStringLiteral("file:///etc/passwd"));
    EXPECT_EQ(notHttp.failure.kind, Kind::Refused);
    EXPECT_EQ(notHttp.attempts, 0);

    site_.Redirect("/tofile", "file:///etc/hostname");
    const auto redirected = Fetch(site_.Url("/tofile"));
    EXPECT_EQ(redirected.failure.kind, Kind::Refused);
    EXPECT_EQ(redirected.attempts, 1);
    EXPECT_TRUE(delays_.empty());
}

TEST_F(PageFetchRetries, FailedAttemptsGiveTheirBytesBackToTheSharedBudget)
{
    // Each busy answer is half the page's size; kept, two of them and the
    // page would not fit in the budget together.
    site_.Serve("/big", std::string(60000, 'b'), "text/plain");
    site_.FailTimes("/big", 2, LoopbackSite::Fault::AnsweringWith(503, std::string(30000, 'x')));
    auto budget = std::make_shared<platform::BodyBudget>(100000);
    const auto result = Fetch(site_.Url("/big"), budget);
    EXPECT_EQ(result.attempts, 3);
    EXPECT_FALSE(result.cut);
    EXPECT_EQ(result.text.size(), 60000);
    EXPECT_EQ(budget->Remaining(), 40000);

    // A fetch that fails for good spends nothing either.
    site_.Drop("/cut");
    Fetch(site_.Url("/cut"), budget);
    EXPECT_EQ(budget->Remaining(), 40000);
}

TEST_F(PageFetchRetries, FetchDestroyedWhileWaitingToRetryReportsNothing)
{
    site_.Serve("/later", "<p>later</p>");
    site_.FailTimes("/later", 1, LoopbackSite::Fault::Answering(503));
    int reports = 0;
    auto fetch = std::make_unique<platform::PageFetch>(QUrl(site_.Url("/later")), timeoutS_,
                                                       [&](const platform::PageResult&) { ++reports; });
    bool waiting = false;
    QObject::connect(fetch.get(), &platform::PageFetch::retrying, [&] { waiting = true; });
    fetch->Start();
    ASSERT_TRUE(PumpUntil([&] { return waiting; }));
    fetch.reset();

    // Another fetch through a retry of the same delay: the destroyed one's
    // retry would have been due meanwhile.
    site_.Serve("/other", "<p>other</p>");
    site_.FailTimes("/other", 1, LoopbackSite::Fault::Answering(503));
    EXPECT_EQ(Fetch(site_.Url("/other")).attempts, 2);
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(site_.Requests("/later"), 1);
}

TEST_F(PageFetchRetries, ReceiverMayDestroyTheFetchWhenTold)
{
    site_.Status("/down", 503);
    int reports = 0;
    auto* fetch =
        new platform::PageFetch(QUrl(site_.Url("/down")), timeoutS_, [&](const platform::PageResult&) { ++reports; });
    QObject::connect(fetch, &platform::PageFetch::retrying, [&] { delete fetch; fetch = nullptr; });
    fetch->Start();
    ASSERT_TRUE(PumpUntil([&] { return fetch == nullptr; }));
    Fetch(site_.Url("/down"));  // turns of the event loop for a retry, were one still due
    EXPECT_EQ(reports, 0);
}

}  // namespace
