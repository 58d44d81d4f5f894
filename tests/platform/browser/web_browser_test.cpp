// The browser control over real HTTP on loopback: completion events for
// frames and pages, replaced navigations, new windows and refused addresses.

#include "platform/browser/WebBrowser.h"
#include "platform/html/HtmlDocument.h"
#include "platform/net/Network.h"
#include "platform/settings/Settings.h"

#include "support/LoopbackSite.h"
#include "support/ParseGate.h"
#include "support/Pump.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// Readable failure output for addresses.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class BrowserNavigation : public ::testing::Test {
protected:
    BrowserNavigation()
    {
        browser_.SetPageLimits(saved_.Page());
        browser_.OnDocumentComplete = [this](TObject* sender, LPDISPATCH pDisp, VARIANT* url) {
            EXPECT_EQ(sender, &browser_);
            ComPtr<IHTMLDocument2> doc;
            EXPECT_EQ(QueryInterface(pDisp, doc), S_OK);
            EXPECT_EQ(url->vt, VT_BSTR);
            completed_ << url->bstrVal;
            ComPtr<IHTMLDocumentLoadFailure> loadFailure;
            EXPECT_EQ(QueryInterface(pDisp, loadFailure), S_OK);
            if (loadFailure) {
                loadFailure->get_loadFailure(failures_[url->bstrVal]);
            }
            if (onComplete_)
                onComplete_(url->bstrVal);
        };
    }

    QString Url(const char* path) const { return site_.Url(QString::fromUtf8(path)); }

    // Pumps until `url` has completed (true) or the deadline passes.
    bool WaitFor(const QString& url)
    {
        return PumpUntil([&] { return completed_.contains(url); });
    }

    // Navigates to a fresh marker page and waits for it: everything an
    // earlier navigation could still have raised has had its turn by then.
    void Settle()
    {
        site_.Serve("/settle", "<p>settled</p>");
        const QString settle = Url("/settle");
        const auto before = completed_.count(settle);
        browser_.Navigate(settle);
        ASSERT_TRUE(PumpUntil([&] { return completed_.count(settle) > before; }));
    }

    // A page time-out of 3 s: quick retries wait 100, 200 and 400 ms.
    void ShortTimeout()
    {
        platform::PageLimits quick = saved_.Page();
        quick.timeoutS = 3;
        browser_.SetPageLimits(quick);
    }

    const platform::Settings saved_ = platform::CurrentSettings();
    LoopbackSite site_;
    TCppWebBrowser browser_;
    QStringList completed_;
    // The load failure of each completed document, by address.
    std::map<QString, platform::FetchFailure> failures_;
    std::function<void(const QString& url)> onComplete_;
};

TEST_F(BrowserNavigation, FramesCompleteBeforeTheirPage)
{
    site_.Serve("/page", "<frameset><frame src='/outer'><frame src='/second'></frameset>");
    site_.Serve("/outer", "<iframe src='inner'></iframe>");
    site_.Serve("/inner", "<p>inner</p>");
    site_.Serve("/second", "<p>second</p>");
    browser_.Navigate(Url("/page"));
    EXPECT_TRUE(browser_.Busy());
    EXPECT_TRUE(completed_.isEmpty());  // never from inside Navigate
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(completed_, (QStringList{Url("/inner"), Url("/outer"), Url("/second"), Url("/page")}));
    EXPECT_FALSE(browser_.Busy());
    EXPECT_EQ(browser_.LocationURL(), Url("/page"));
    ASSERT_TRUE(browser_.Document());
}

TEST_F(BrowserNavigation, FrameNestingStopsThreeDeep)
{
    site_.Serve("/f0", "<iframe src='/f1'></iframe>");
    site_.Serve("/f1", "<iframe src='/f2'></iframe>");
    site_.Serve("/f2", "<iframe src='/f3'></iframe>");
    site_.Serve("/f3", "<iframe src='/f4'></iframe>");
    site_.Serve("/f4", "<p>too deep</p>");
    browser_.Navigate(Url("/f0"));
    ASSERT_TRUE(WaitFor(Url("/f0")));
    EXPECT_EQ(completed_, (QStringList{Url("/f3"), Url("/f2"), Url("/f1"), Url("/f0")}));
    EXPECT_EQ(site_.Requests("/f4"), 0);
}

TEST_F(BrowserNavigation, FailedPageStillCompletesEmpty)
{
    ShortTimeout();  // the refused connection is retried quickly first
    QTcpServer probe;  // a port with nothing listening once it is closed
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const QString refused = QStringLiteral("http://127.0.0.1:%1/x").arg(probe.serverPort());
    probe.close();
    browser_.Navigate(refused);
    ASSERT_TRUE(WaitFor(refused));
    EXPECT_EQ(completed_, QStringList{refused});
    EXPECT_EQ(browser_.LocationURL(), refused);
    EXPECT_TRUE(browser_.View()->toPlainText().trimmed().isEmpty());
}

class BrowserLoadFailure : public BrowserNavigation {
protected:
    void SetUp() override { ShortTimeout(); }
};

TEST_F(BrowserLoadFailure, PageThatKeepsFailingCompletesEmptyWithItsFailure)
{
    site_.Drop("/down");
    browser_.Navigate(Url("/down"));
    ASSERT_TRUE(WaitFor(Url("/down")));
    EXPECT_EQ(completed_, QStringList{Url("/down")});
    EXPECT_EQ(failures_[Url("/down")].kind, platform::FetchFailure::Kind::ConnectionClosed);
    EXPECT_GE(site_.Requests("/down"), 1 + platform::kQuickRetries);  // Qt may send a drop again
    EXPECT_TRUE(browser_.View()->toPlainText().trimmed().isEmpty());
}

TEST_F(BrowserLoadFailure, FlakyResultPageAndFrameAreRetriedAndCompleteWhole)
{
    site_.Serve("/results", "<a name=h1 href='/hotel'>Hotel one</a><iframe src='/frame'></iframe>");
    site_.Serve("/frame", "<p>frame</p>");
    site_.FailTimes("/results", 2, LoopbackSite::Fault::Answering(503));
    site_.FailTimes("/frame", 1, LoopbackSite::Fault::Dropped());
    browser_.Navigate(Url("/results"));
    ASSERT_TRUE(WaitFor(Url("/results")));
    EXPECT_EQ(completed_, (QStringList{Url("/frame"), Url("/results")}));  // each once, after its retries
    EXPECT_FALSE(failures_[Url("/results")].Failed());
    EXPECT_FALSE(failures_[Url("/frame")].Failed());
    EXPECT_EQ(site_.Requests("/results"), 3);
    EXPECT_EQ(site_.Requests("/frame"), 2);
    EXPECT_TRUE(browser_.View()->toPlainText().contains(QStringLiteral("Hotel one")));
}

TEST_F(BrowserLoadFailure, ErrorStatusFrameCarriesItsStatusBesideAPageThatLoaded)
{
    site_.Serve("/page", "<p>page</p><iframe src='/busy'></iframe>");
    site_.Status("/busy", 503, "600");  // asks for longer than the page time-out: no retry
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(completed_, (QStringList{Url("/busy"), Url("/page")}));
    const platform::FetchFailure& busy = failures_[Url("/busy")];
    EXPECT_EQ(busy.kind, platform::FetchFailure::Kind::HttpStatus);
    EXPECT_EQ(busy.httpStatus, 503);
    EXPECT_EQ(busy.retryAfterS, 600);
    EXPECT_EQ(site_.Requests("/busy"), 1);
    EXPECT_FALSE(failures_[Url("/page")].Failed());
}

class BrowserReplacedNavigation : public BrowserNavigation {};

TEST_F(BrowserReplacedNavigation, ReplacedWhileLoadingRaisesNothing)
{
    site_.Hold("/slow");
    site_.Serve("/quick", "<p>quick</p>");
    browser_.Navigate(Url("/slow"));
    ASSERT_TRUE(PumpUntil([&] { return site_.Requests("/slow") == 1; }));
    browser_.Navigate(Url("/quick"));
    site_.Release();
    ASSERT_TRUE(WaitFor(Url("/quick")));
    Settle();
    EXPECT_EQ(completed_, (QStringList{Url("/quick"), Url("/settle")}));
}

TEST_F(BrowserReplacedNavigation, ReplacedWhileItsFramesLoadRaisesNothingForThem)
{
    site_.Serve("/framed", "<iframe src='/done'></iframe><iframe src='/slow'></iframe>");
    site_.Serve("/done", "<p>done</p>");
    site_.Hold("/slow");
    browser_.Navigate(Url("/framed"));
    ASSERT_TRUE(PumpUntil([&] { return site_.Requests("/slow") == 1 && site_.Requests("/done") == 1; }));
    Settle();
    site_.Release();
    Settle();
    EXPECT_EQ(completed_, (QStringList{Url("/settle"), Url("/settle")}));
}

TEST_F(BrowserReplacedNavigation, HandlerNavigatingFromAFrameEndsThePage)
{
    site_.Serve("/framed", "<iframe src='/frame'></iframe>");
    site_.Serve("/frame", "<p>frame</p>");
    site_.Serve("/next", "<p>next</p>");
    onComplete_ = [this](const QString& url) {
        if (url == Url("/frame"))
            browser_.Navigate(Url("/next"));
    };
    browser_.Navigate(Url("/framed"));
    ASSERT_TRUE(WaitFor(Url("/next")));
    Settle();
    EXPECT_EQ(completed_, (QStringList{Url("/frame"), Url("/next"), Url("/settle")}));
}

class BrowserLinks : public BrowserNavigation {
protected:
    void OpenPage(const std::string& html)
    {
        site_.Serve("/links", html);
        site_.Serve("/other", "<p>other</p>");
        browser_.Navigate(Url("/links"));
        ASSERT_TRUE(WaitFor(Url("/links")));
        completed_.clear();
    }
    // A click in the view, as the view reports it.
    void Click(const QString& href) { emit browser_.View()->anchorClicked(QUrl(href)); }

    int newWindowRequests_ = 0;
    bool cancelNewWindows_ = true;

    void SetUp() override
    {
        browser_.OnNewWindow2 = [this](TObject*, LPDISPATCH* ppDisp, VARIANT_BOOL* cancel) {
            ++newWindowRequests_;
            EXPECT_EQ(*ppDisp, nullptr);
            EXPECT_EQ(*cancel, VARIANT_FALSE);
            if (cancelNewWindows_)
                *cancel = VARIANT_TRUE;
        };
    }
};

TEST_F(BrowserLinks, NewWindowLinkIsRefusedWhenTheHandlerCancels)
{
    OpenPage("<a href='/other' target='_blank'>pop</a>");
    Click(QStringLiteral("/other"));
    EXPECT_EQ(newWindowRequests_, 1);
    EXPECT_FALSE(browser_.Busy());
    Settle();
    EXPECT_EQ(site_.Requests("/other"), 0);
    EXPECT_EQ(completed_, QStringList{Url("/settle")});
}

TEST_F(BrowserLinks, NamedTargetAlsoAsksAndOpensHereUnlessCancelled)
{
    cancelNewWindows_ = false;
    OpenPage("<a href='other' target='details'>named</a>");
    Click(QStringLiteral("other"));
    EXPECT_EQ(newWindowRequests_, 1);
    ASSERT_TRUE(WaitFor(Url("/other")));
    EXPECT_EQ(browser_.LocationURL(), Url("/other"));
}

TEST_F(BrowserLinks, PlainAndSameWindowLinksNavigateWithoutAsking)
{
    OpenPage("<a href='/other'>plain</a><a href='/other?top' target='_TOP'>top</a>");
    Click(QStringLiteral("/other"));
    ASSERT_TRUE(WaitFor(Url("/other")));
    EXPECT_TRUE(browser_.View()->toPlainText().contains(QStringLiteral("other")));
    Click(QStringLiteral("/other?top"));
    ASSERT_TRUE(WaitFor(Url("/other?top")));
    EXPECT_EQ(newWindowRequests_, 0);
}

class BrowserRefusesLocalAddresses : public BrowserNavigation {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        secret_ = dir_.filePath(QStringLiteral("secret.html"));
        QFile file(secret_);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<p>secret</p>");
    }
    QUrl SecretUrl() const { return QUrl::fromLocalFile(secret_); }

    QTemporaryDir dir_;
    QString secret_;
};

TEST_F(BrowserRefusesLocalAddresses, NavigateRefusesAnythingButHttp)
{
    for (const QString& url : {SecretUrl().toString(), QStringLiteral("javascript:alert(1)"),
                               QStringLiteral("data:text/html,<p>secret</p>"), QStringLiteral("/relative"),
                               QStringLiteral("ftp://127.0.0.1/")}) {
        browser_.Navigate(url);
        EXPECT_FALSE(browser_.Busy()) << url.toStdString();
    }
    Settle();
    EXPECT_EQ(completed_, QStringList{Url("/settle")});
}

TEST_F(BrowserRefusesLocalAddresses, LinksAndFramesToLocalAddressesAreDead)
{
    const std::string secret = SecretUrl().toString().toStdString();
    site_.Serve("/page", "<a href='" + secret + "' target=_blank>f</a><a href='javascript:alert(1)'>j</a>" +
                             "<iframe src='" + secret + "'></iframe><iframe src='data:text/html,x'></iframe>");
    browser_.OnNewWindow2 = [](TObject*, LPDISPATCH*, VARIANT_BOOL*) { ADD_FAILURE() << "asked for a new window"; };
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(completed_, QStringList{Url("/page")});  // no frame documents

    emit browser_.View()->anchorClicked(SecretUrl());
    emit browser_.View()->anchorClicked(QUrl(QStringLiteral("javascript:alert(1)")));
    EXPECT_FALSE(browser_.Busy());
    EXPECT_FALSE(browser_.View()->toPlainText().contains(QStringLiteral("secret")));
}

TEST_F(BrowserRefusesLocalAddresses, TheViewLoadsNoResource)
{
    QFile css(dir_.filePath(QStringLiteral("style.css")));
    ASSERT_TRUE(css.open(QIODevice::WriteOnly));
    css.write("p { color: red }");
    css.close();
    const QUrl image = QUrl::fromLocalFile(secret_);
    const QUrl sheet = QUrl::fromLocalFile(css.fileName());
    site_.Serve("/page", "<link rel=stylesheet href='" + sheet.toString().toStdString() + "'><img src='" +
                             image.toString().toStdString() + "'><img src='data:image/png;base64,iVBORw0KGgo='>");
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));

    QTextDocument* shown = browser_.View()->document();
    EXPECT_FALSE(shown->resource(QTextDocument::ImageResource, image).isValid());
    EXPECT_FALSE(shown->resource(QTextDocument::StyleSheetResource, sheet).isValid());
    EXPECT_FALSE(shown->resource(QTextDocument::ImageResource, QUrl("data:image/png;base64,iVBORw0KGgo=")).isValid());
    EXPECT_FALSE(shown->resource(QTextDocument::HtmlResource, image).isValid());
}

TEST_F(BrowserReplacedNavigation, ReplacedWhileItsPageIsParsedRaisesNothing)
{
    site_.Serve("/parsed", "<p>parsed late</p>");
    site_.Serve("/quick", "<p>quick</p>");
    ParseGate gate;
    browser_.Navigate(Url("/parsed"));
    ASSERT_TRUE(gate.WaitHeld());
    browser_.Navigate(Url("/quick"));
    ASSERT_TRUE(WaitFor(Url("/quick")));
    gate.Open();
    ASSERT_TRUE(gate.Drain());
    Settle();
    EXPECT_EQ(completed_, (QStringList{Url("/quick"), Url("/settle")}));
    EXPECT_FALSE(browser_.View()->toPlainText().contains(QStringLiteral("parsed late")));
}

TEST_F(BrowserReplacedNavigation, ControlDestroyedWhileItsPageIsParsedIsLeftAlone)
{
    site_.Serve("/parsed", "<p>parsed late</p>");
    ParseGate gate;
    {
        TCppWebBrowser doomed;
        doomed.OnDocumentComplete = [](TObject*, LPDISPATCH, VARIANT*) { ADD_FAILURE() << "raised after destruction"; };
        doomed.Navigate(Url("/parsed"));
        ASSERT_TRUE(gate.WaitHeld());
    }
    gate.Open();
    ASSERT_TRUE(gate.Drain());
    Settle();
    EXPECT_EQ(completed_, QStringList{Url("/settle")});
}

class BrowserBodyBudget : public BrowserNavigation {};

TEST_F(BrowserBodyBudget, FrameFoundOnceTheBudgetIsSpentIsNotFetchedButCompletesEmpty)
{
    browser_.SetNavigationBodyBudget(64 * 1024);
    // /big alone takes the whole budget; its cut body still names /after.
    site_.Serve("/page", "<iframe src='/big'></iframe>");
    site_.Serve("/big", "<iframe src='/after'></iframe><p>" + std::string(80 * 1024, 'x') + "</p>");
    site_.Serve("/after", "<p>after</p>");
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(completed_, (QStringList{Url("/after"), Url("/big"), Url("/page")}));
    EXPECT_EQ(site_.Requests("/after"), 0);
    EXPECT_FALSE(failures_[Url("/after")].Failed());  // nothing was asked of the site

    // The next navigation has a budget of its own.
    completed_.clear();
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(site_.Requests("/big"), 2);
    EXPECT_EQ(site_.Requests("/after"), 0);
}

TEST_F(BrowserBodyBudget, FramesWithinTheBudgetAreAllFetched)
{
    browser_.SetNavigationBodyBudget(64 * 1024);
    site_.Serve("/page", "<iframe src='/one'></iframe><iframe src='/two'></iframe>");
    site_.Serve("/one", "<p>" + std::string(20 * 1024, 'o') + "</p>");
    site_.Serve("/two", "<p>" + std::string(20 * 1024, 't') + "</p>");
    browser_.Navigate(Url("/page"));
    ASSERT_TRUE(WaitFor(Url("/page")));
    EXPECT_EQ(completed_, (QStringList{Url("/one"), Url("/two"), Url("/page")}));
    EXPECT_EQ(site_.Requests("/one") + site_.Requests("/two"), 2);
}

class BrowserView : public BrowserNavigation {};

TEST_F(BrowserView, HugePageIsShownShortenedWhileItsDocumentStaysWhole)
{
    std::string page = "<p>first line</p>";
    while (page.size() < TCppWebBrowser::kViewFullBytes + 4096)
        page += "<p><a href='/h'>hotel</a> filler filler filler</p>";
    page += "<p>last line</p>";
    site_.Serve("/huge", page);
    browser_.Navigate(Url("/huge"));
    ASSERT_TRUE(WaitFor(Url("/huge")));
    const QString shown = browser_.View()->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("Page shortened for display")));
    EXPECT_TRUE(shown.contains(QStringLiteral("first line")));
    EXPECT_FALSE(shown.contains(QStringLiteral("last line")));
    EXPECT_LT(shown.size(), qsizetype(TCppWebBrowser::kViewShortenedBytes));  // text is less than its markup

    ComPtr<IHTMLDocumentSerialization> serialization;
    const std::string* whole = nullptr;
    ASSERT_EQ(QueryInterface(browser_.Document(), serialization), S_OK);
    ASSERT_EQ(serialization->get_serializedUtf8(whole), S_OK);
    EXPECT_NE(whole->find("last line"), std::string::npos);
}

TEST_F(BrowserView, PageBelowTheLimitIsShownWhole)
{
    std::string page = "<p>first line</p>";
    while (page.size() < TCppWebBrowser::kViewShortenedBytes * 2)
        page += "<p>filler filler filler</p>";
    page += "<p>last line</p>";
    site_.Serve("/ordinary", page);
    browser_.Navigate(Url("/ordinary"));
    ASSERT_TRUE(WaitFor(Url("/ordinary")));
    const QString shown = browser_.View()->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("last line")));
    EXPECT_FALSE(shown.contains(QStringLiteral("Page shortened")));
}

TEST_F(BrowserLinks, LinkIsMatchedByItsWrittenHrefAndTheBaseDecidesWhereItGoes)
{
    cancelNewWindows_ = false;
    OpenPage("<base href='/sub/'><a href=' other ' target=win>spaced</a>");
    site_.Serve("/sub/other", "<p>sub other</p>");
    Click(QStringLiteral("other"));
    EXPECT_EQ(newWindowRequests_, 1);
    ASSERT_TRUE(WaitFor(Url("/sub/other")));
}

}  // namespace
