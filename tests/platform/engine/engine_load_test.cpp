// Pages loaded in the browser engine: what the settled document holds,
// how failures are told apart and retried, and that nothing a page does can
// hold the load or reach the machine.

#include "platform/engine/DeskProfile.h"
#include "platform/engine/EngineLoad.h"
#include "platform/engine/GuardedPage.h"
#include "platform/engine/OffscreenPage.h"
#include "platform/net/Network.h"
#include "platform/settings/Settings.h"
#include "support/LoopbackSite.h"
#include "support/Pump.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWebEngineProfile>

#include <gtest/gtest.h>

#include <optional>

namespace {

using platform::FetchFailure;
using platform::engine::EngineLoad;
using platform::engine::EngineResult;

class EngineLoadTest : public ::testing::Test {
protected:
    LoopbackSite site;
    platform::engine::OffscreenLease lease;

    // Loads `path` of the site in the off-screen page and waits for the report.
    EngineResult Load(const std::string& path, int timeoutS = 20, int settleMs = 200)
    {
        std::optional<EngineResult> report;
        EngineLoad load(lease.Page(), QUrl(site.Url(QString::fromStdString(path))), timeoutS,
                        settleMs, [&](const EngineResult& r) { report = r; });
        load.Start();
        EXPECT_TRUE(PumpUntil([&] { return report.has_value(); }, (timeoutS + 10) * 1000)) << path;
        return report.value_or(EngineResult{});
    }
};

TEST_F(EngineLoadTest, ContentScriptsAddAfterLoadIsInTheSettledDocument)
{
    site.Serve("/list.json", R"(["fetched-1","fetched-2"])", "application/json");
    site.Serve("/page", R"(<!DOCTYPE html><html><body><div id="out"></div><script>
document.addEventListener('DOMContentLoaded', () => { out.insertAdjacentHTML('beforeend', '<p>on-ready</p>'); });
window.addEventListener('load', () => {
  setTimeout(() => {
    out.insertAdjacentHTML('beforeend', '<p>after-timer</p>');
    fetch('/list.json').then(r => r.json()).then(list => {
      for (const name of list) out.insertAdjacentHTML('beforeend', '<a href="/h?' + name + '">' + name + '</a>');
    });
  }, 150);
});
</script></body></html>)");
    const EngineResult r = Load("/page");
    EXPECT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    EXPECT_EQ(r.attempts, 1);
    const QString html = QString::fromUtf8(r.page.page.html);
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE html>"))) << html.left(60).toStdString();
    for (const char* part : {"on-ready", "after-timer", "fetched-1", "fetched-2"})
        EXPECT_TRUE(html.contains(QLatin1String(part))) << part << " missing from " << html.toStdString();
}

TEST_F(EngineLoadTest, PagesOverASliceComeWholeInSlicesFramesToo)
{
    // Korean text: slices end inside a character's bytes, and the pieces
    // must join back into the same text. In a comment, which the page
    // keeps but does not lay out (a page of 70,000 paragraphs takes the
    // engine half a minute on a busy machine).
    std::string rows = "<!--";
    for (int i = 0; rows.size() < 3 * platform::engine::kSliceBytes / 2; ++i)
        rows += "\xEC\x84\x9C\xEC\x9A\xB8 row " + std::to_string(i) + "\n";
    rows += "-->";
    site.Serve("/inner", "<!DOCTYPE html><html><head><meta charset=utf-8></head><body>" + rows + "<p>inner-end</p></body></html>");
    site.Serve("/page", "<!DOCTYPE html><html><head><meta charset=utf-8></head><body>" + rows + "<iframe src=\"/inner\"></iframe><p>page-end</p></body></html>");
    const EngineResult r = Load("/page");
    ASSERT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    ASSERT_EQ(r.page.frames.size(), 1u);
    for (const QByteArray& html : {r.page.page.html, r.page.frames[0].html}) {
        EXPECT_GT(html.size(), qsizetype(rows.size()));
        EXPECT_TRUE(html.endsWith("</body></html>")) << html.right(40).toStdString();
        const QString text = QString::fromUtf8(html);
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
        EXPECT_EQ(text.count(QStringLiteral("\uC11C\uC6B8 row")), text.count(QStringLiteral("row ")));
    }
    EXPECT_TRUE(r.page.page.html.contains("page-end"));
    EXPECT_TRUE(r.page.frames[0].html.contains("inner-end"));
}

TEST_F(EngineLoadTest, FramesThePageMayReadComeInnerFirstOthersNot)
{
    LoopbackSite other;  // another port: another origin
    other.Serve("/ad", "<p>foreign</p>");
    site.Serve("/inner", "<p>inner</p>");
    site.Serve("/outer", R"(<p>outer</p><iframe src="/inner"></iframe>)");
    site.Serve("/page", "<p>top</p><iframe src=\"/outer\"></iframe><iframe src=\"" + other.Url("/ad").toStdString()
                            + "\"></iframe><iframe src=\"file:///etc/hostname\"></iframe>");
    const EngineResult r = Load("/page");
    ASSERT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    ASSERT_EQ(r.page.frames.size(), 2u);
    EXPECT_EQ(r.page.frames[0].address, QUrl(site.Url("/inner")));
    EXPECT_EQ(r.page.frames[1].address, QUrl(site.Url("/outer")));
    EXPECT_TRUE(r.page.frames[0].html.contains("<p>inner</p>"));
    EXPECT_EQ(site.Requests("/inner"), 1);
}

TEST_F(EngineLoadTest, ErrorStatusPageIsTheDocumentAndTransientOnesAreRetried)
{
    site.Status("/missing", 404);
    EngineResult r = Load("/missing");
    EXPECT_EQ(r.failure.kind, FetchFailure::Kind::HttpStatus);
    EXPECT_EQ(r.httpStatus, 404);
    EXPECT_TRUE(r.page.page.html.contains("status 404"));
    EXPECT_EQ(r.attempts, 1);

    site.Serve("/busy", "<p>fine now</p>");
    site.FailTimes("/busy", 2, LoopbackSite::Fault::Answering(500));
    r = Load("/busy");
    EXPECT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    EXPECT_EQ(r.attempts, 3);
    EXPECT_TRUE(r.page.page.html.contains("fine now"));

    // A 503 is asked once more, with HEAD, for its Retry-After (the engine
    // shows no headers): once a load, however often it answers 503.
    site.Serve("/unavailable", "<p>back</p>");
    site.FailTimes("/unavailable", 3, LoopbackSite::Fault::Answering(503, "0"));
    r = Load("/unavailable");
    EXPECT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    EXPECT_EQ(r.attempts, 4);
    EXPECT_EQ(site.Requests("/unavailable"), 4);
    EXPECT_EQ(site.Heads("/unavailable"), 1);

    site.Serve("/dropped", "<p>whole</p>");
    site.FailTimes("/dropped", 1, LoopbackSite::Fault::Dropped());
    r = Load("/dropped");
    EXPECT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    EXPECT_EQ(r.attempts, 2);
}

TEST_F(EngineLoadTest, RetryAfterBeyondTheTimeOutIsReportedWithItsDelay)
{
    site.Status("/throttled", 429, "120");
    const EngineResult r = Load("/throttled", 5);
    EXPECT_EQ(r.failure.kind, FetchFailure::Kind::HttpStatus);
    EXPECT_EQ(r.failure.httpStatus, 429);
    EXPECT_EQ(r.failure.retryAfterS, 120);
    EXPECT_EQ(r.attempts, 1);
}

TEST_F(EngineLoadTest, NoConnectionAndTimeOutAreTheirOwnKinds)
{
    int closedPort = 0;
    {
        LoopbackSite gone;
        closedPort = gone.Port();
    }
    std::optional<EngineResult> report;
    EngineLoad refused(lease.Page(), QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)),
                       2, 100, [&](const EngineResult& r) { report = r; });
    refused.Start();
    ASSERT_TRUE(PumpUntil([&] { return report.has_value(); }, 20000));
    EXPECT_EQ(report->failure.kind, FetchFailure::Kind::NoConnection) << report->failure.Describe().toStdString();
    EXPECT_TRUE(report->page.page.html.isEmpty());

    site.Hold("/slow");
    const EngineResult r = Load("/slow", 1);
    EXPECT_EQ(r.failure.kind, FetchFailure::Kind::Timeout);
    site.Release();
}

TEST_F(EngineLoadTest, PageThatNeverStopsChangingIsReadAsItStandsAtTheTimeOut)
{
    site.Serve("/ticker", R"(<p id="t">0</p><script>let n = 0; setInterval(() => { t.textContent = ++n; }, 20);</script>)");
    const EngineResult r = Load("/ticker", 2, 500);
    EXPECT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    EXPECT_TRUE(r.page.page.html.contains("id=\"t\""));
}

TEST_F(EngineLoadTest, DialogsPermissionsWindowsAndLocalFilesCannotHoldOrReachTheMachine)
{
    site.Serve("/pushy", R"(<div id="out"></div><script>
const note = t => out.insertAdjacentHTML('beforeend', '<p>' + t + '</p>');
alert('hello');
note('confirm=' + confirm('go on?'));
note('prompt=' + prompt('name?', 'x'));
note('window=' + (window.open('/other') === null ? 'none' : 'opened'));
navigator.geolocation.getCurrentPosition(() => note('geo=granted'), e => note('geo=denied'));
Notification.requestPermission().then(p => note('notify=' + p));
fetch('file:///etc/hostname').then(() => note('file=read'), () => note('file=refused'));
window.addEventListener('beforeunload', e => { e.preventDefault(); e.returnValue = 'stay?'; });
</script>)");
    const EngineResult r = Load("/pushy");
    ASSERT_FALSE(r.failure.Failed()) << r.failure.Describe().toStdString();
    const QString html = QString::fromUtf8(r.page.page.html);
    for (const char* part : {"confirm=true", "prompt=null", "window=none", "geo=denied", "file=refused"})
        EXPECT_TRUE(html.contains(QLatin1String(part))) << part << " missing from " << html.toStdString();
    EXPECT_FALSE(html.contains(QLatin1String("notify=granted")));
    EXPECT_EQ(site.Requests("/other"), 0);

    // The leave-page question does not keep the next page from loading.
    site.Serve("/next", "<p>next page</p>");
    const EngineResult next = Load("/next");
    EXPECT_TRUE(next.page.page.html.contains("next page"));
}

TEST_F(EngineLoadTest, CookiesTheSiteSetsGoBackAndAreOnDiskAfterThePage)
{
    site.Serve("/set", "<p>set</p><script>document.cookie = 'seen=yes; path=/; max-age=3600';</script>");
    site.Serve("/echo", "<p id=c></p><script>c.textContent = document.cookie;</script>");
    ASSERT_FALSE(Load("/set").failure.Failed());
    const EngineResult r = Load("/echo");
    EXPECT_TRUE(r.page.page.html.contains("seen=yes")) << r.page.page.html.toStdString();
    QFile journal(platform::engine::DeskProfileFolder() + QStringLiteral("/cookies.txt"));
    ASSERT_TRUE(journal.open(QIODevice::ReadOnly));
    EXPECT_TRUE(journal.readAll().contains("seen=yes"));
}

TEST_F(EngineLoadTest, DroppedAnswerIsAClosedConnectionRetriedQuickly)
{
    site.Serve("/cut", "<p>" + std::string(4000, 'c') + "</p>");
    site.FailTimes("/cut", 1 + platform::kQuickRetries, LoopbackSite::Fault::Dropped());
    const EngineResult r = Load("/cut", 5);
    EXPECT_EQ(r.failure.kind, FetchFailure::Kind::ConnectionClosed) << r.failure.Describe().toStdString();
    EXPECT_TRUE(r.page.page.html.isEmpty());  // not the half that arrived
    EXPECT_EQ(site.Requests("/cut"), 1 + platform::kQuickRetries);
}

TEST_F(EngineLoadTest, DownloadIsRefusedAndNothingIsWritten)
{
    site.Serve("/file.bin", std::string(4096, 'x'), "application/octet-stream");
    QTemporaryDir downloads;
    lease.Page()->profile()->setDownloadPath(downloads.path());
    const EngineResult r = Load("/file.bin", 5);
    EXPECT_TRUE(QDir(downloads.path()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(r.page.page.html.isEmpty() || !r.page.page.html.contains("xxxx"));
}

}  // namespace

namespace {

TEST(EngineUserAgent, SettingReplacesTheEnginesOwn)
{
    platform::Settings s;
    s.userAgent = QStringLiteral("Analyst/2.0 (desk 4)");
    platform::SetSettings(s);  // before the desk's profile is made
    LoopbackSite site;
    site.Serve("/ua", "<p>ua</p>");
    platform::engine::OffscreenLease lease;
    std::optional<EngineResult> report;
    EngineLoad load(lease.Page(), QUrl(site.Url(QStringLiteral("/ua"))), 20, 100,
                    [&](const EngineResult& r) { report = r; });
    load.Start();
    ASSERT_TRUE(PumpUntil([&] { return report.has_value(); }, 30000));
    ASSERT_FALSE(site.Log().empty());
    EXPECT_EQ(site.Log()[0].userAgent, "Analyst/2.0 (desk 4)");
}

}  // namespace
