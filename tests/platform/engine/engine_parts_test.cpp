// The browser engine's parts that need no page: its switches, the cookie
// journal's file format, and the failure kinds of Chromium's error codes.

#include "platform/engine/ChromiumStart.h"
#include "platform/engine/CookieJournal.h"
#include "platform/engine/EngineLoad.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

using platform::FetchFailure;
using platform::engine::ChromiumFlags;
using platform::engine::CookieJournal;

TEST(ChromiumSwitches, RoutesBecomeResolverRulesAndRootTurnsTheSandboxOff)
{
    platform::Settings s;
    s.routes = {{"hotels.example", 80, "127.0.0.1", 8080}, {"img.example", 443, "localhost", 9443}};
    const QByteArray asUser = ChromiumFlags(s, " --lang=en ", false);
    EXPECT_TRUE(asUser.startsWith("--lang=en ")) << asUser.toStdString();
    EXPECT_TRUE(asUser.contains(
        R"(--host-resolver-rules="MAP hotels.example:80 127.0.0.1:8080, MAP img.example:443 localhost:9443")"))
        << asUser.toStdString();
    EXPECT_TRUE(asUser.contains("--disable-background-timer-throttling"));
    EXPECT_FALSE(asUser.contains("--no-sandbox"));

    const QByteArray asRoot = ChromiumFlags(platform::Settings{}, {}, true);
    EXPECT_TRUE(asRoot.contains("--no-sandbox"));
    EXPECT_FALSE(asRoot.contains("host-resolver-rules"));
}

TEST(CookieFile, KeepsHttpOnlyAndSessionCookiesAndDropsExpiredOnes)
{
    QNetworkCookie session("hcsession", "abc123");
    session.setDomain("hotels.example");
    session.setPath("/");
    session.setHttpOnly(true);
    QNetworkCookie lasting("pref", "en");
    lasting.setDomain(".hotels.example");
    lasting.setPath("/");
    lasting.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(30));
    QNetworkCookie gone("old", "x");
    gone.setDomain("hotels.example");
    gone.setExpirationDate(QDateTime::currentDateTimeUtc().addDays(-1));

    const auto back = CookieJournal::Parse(CookieJournal::Serialize({session, lasting, gone}));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].name(), "hcsession");
    EXPECT_TRUE(back[0].isHttpOnly());
    EXPECT_TRUE(back[0].isSessionCookie());
    EXPECT_EQ(back[1].domain(), ".hotels.example");
    EXPECT_FALSE(back[1].isSessionCookie());

    // Torn or foreign lines are skipped, not fatal.
    EXPECT_TRUE(CookieJournal::Parse("garbage\n\n; ;\nno-domain=1; path=/\n").empty());
}

TEST(ChromiumErrors, SortIntoTheKindsTheCrawlActsOn)
{
    using Kind = FetchFailure::Kind;
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-102), Kind::NoConnection);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-105), Kind::NameLookup);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-101), Kind::ConnectionClosed);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-324), Kind::ConnectionClosed);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-7), Kind::Timeout);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-202), Kind::Tls);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-310), Kind::Refused);
    EXPECT_EQ(platform::engine::FailureKindOfNetError(-2), Kind::Other);
}

}  // namespace
