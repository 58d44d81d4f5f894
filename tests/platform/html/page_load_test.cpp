// Off-screen documents loaded over real HTTP from a server on loopback:
// ready states, redirects, failures, routes and the limits of a fetch.

#include "platform/engine/Engine.h"
#include "platform/html/HtmlDocument.h"
#include "platform/html/Mshtml.h"
#include "platform/net/Network.h"
#include "platform/net/PageFetch.h"
#include "platform/settings/Settings.h"
#include "platform/testing/ComFaults.h"

#include "support/LoopbackSite.h"
#include "support/ParseGate.h"
#include "support/Pump.h"

#include <QTcpServer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

// Readable failure output for states and addresses.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// A loopback port with nothing listening on it.
int RefusingPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

class DocumentLoadOverHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = platform::CurrentSettings();
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    }
    void TearDown() override
    {
        CoUninitialize();
        platform::SetSettings(saved_);
    }

    ComPtr<IHTMLDocument2> NewDocument()
    {
        ComPtr<IHTMLDocument2> doc;
        EXPECT_EQ(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, doc), S_OK);
        return doc;
    }

    // Starts loading `url` into `doc` the way the detail loader does.
    HRESULT StartLoad(const ComPtr<IHTMLDocument2>& doc, const QString& url)
    {
        ComPtr<IMoniker> moniker;
        ComPtr<IBindCtx> bindCtx;
        ComPtr<IPersistMoniker> persist;
        if (HRESULT hr = CreateURLMoniker(nullptr, url, moniker); FAILED(hr))
            return hr;
        if (HRESULT hr = CreateBindCtx(0, bindCtx); FAILED(hr))
            return hr;
        bindCtx->SetPageLimits(platform::CurrentSettings().Page());
        if (HRESULT hr = QueryInterface(doc, persist); hr != S_OK)
            return hr;
        return persist->Load(false, moniker.get(), bindCtx.get(), 0);
    }

    static QString State(const ComPtr<IHTMLDocument2>& doc)
    {
        QString state;
        doc->get_readyState(state);
        return state;
    }

    // Pumps until the document is complete; returns every distinct state
    // seen from now on, in order.
    QStringList WaitComplete(const ComPtr<IHTMLDocument2>& doc)
    {
        QStringList states{State(doc)};
        PumpUntil([&] {
            const QString now = State(doc);
            if (now != states.back())
                states << now;
            return now == QLatin1String("complete");
        });
        return states;
    }

    ComPtr<IHTMLDocument2> LoadComplete(const QString& url)
    {
        auto doc = NewDocument();
        EXPECT_EQ(StartLoad(doc, url), S_OK);
        EXPECT_EQ(WaitComplete(doc).back(), QStringLiteral("complete"));
        return doc;
    }

    static std::string Serialized(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLDocumentSerialization> serialization;
        const std::string* text = nullptr;
        if (QueryInterface(doc, serialization) != S_OK || serialization->get_serializedUtf8(text) != S_OK || !text)
            return {};
        return *text;
    }

    // A page time-out of 3 s: quick retries wait 100, 200 and 400 ms.
    void ShortTimeout(int seconds = 3)
    {
        platform::Settings quick = saved_;
        quick.pageTimeoutS = seconds;
        platform::SetSettings(quick);
    }

    static QUrl AddressOf(const ComPtr<IHTMLDocument2>& doc) { return std::dynamic_pointer_cast<HtmlDocument>(doc)->Address(); }

    // The href of the document's first named anchor.
    static QString FirstAnchorHref(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLElementCollection> anchors;
        ComPtr<IDispatch> item;
        ComPtr<IHTMLAnchorElement> anchor;
        QString href;
        if (doc->get_anchors(anchors) == S_OK && anchors->item(VariantI4(0), VARIANT{}, item) == S_OK &&
            QueryInterface(item, anchor) == S_OK)
            anchor->get_href(href);
        return href;
    }

    static bool IsEmptyDocument(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLElementCollection> all;
        ComPtr<IDispatch> item;
        ComPtr<IHTMLElement> element;
        QString text;
        if (doc->get_all(all) != S_OK)
            return false;
        // An empty parse still has html/head/body; it has no text.
        if (all->item(VariantI4(0), VARIANT{}, item) == S_OK && QueryInterface(item, element) == S_OK)
            element->get_innerText(text);
        return text.trimmed().isEmpty();
    }

    LoopbackSite site_;
    platform::Settings saved_;
};

TEST_F(DocumentLoadOverHttp, ReadyStateGoesLoadingInteractiveComplete)
{
    site_.Serve("/hotel", "<html><body><a name=a1 href='detail?id=1'>One</a></body></html>");
    auto doc = NewDocument();
    ASSERT_EQ(StartLoad(doc, site_.Url("/hotel")), S_OK);
    EXPECT_EQ(State(doc), QStringLiteral("loading"));  // at once, before any event is processed
    EXPECT_EQ(WaitComplete(doc), (QStringList{"loading", "interactive", "complete"}));
    EXPECT_EQ(FirstAnchorHref(doc), site_.Url("/detail?id=1"));
}

TEST_F(DocumentLoadOverHttp, SendsOurUserAgent)
{
    site_.Serve("/ua", "<p>x</p>");
    LoadComplete(site_.Url("/ua"));
    ASSERT_EQ(site_.Log().size(), 1u);
    // The browser engine sends its own unless [browser] user_agent says
    // otherwise (see the engine's own tests).
    if (platform::engine::EngineInUse() == platform::BrowserEngine::Html) {
        EXPECT_EQ(site_.Log()[0].userAgent, "hotelcrawler/" HC_VERSION);
    }
    else
        EXPECT_NE(site_.Log()[0].userAgent.find("Chrome/"), std::string::npos) << site_.Log()[0].userAgent;
}

TEST_F(DocumentLoadOverHttp, HttpErrorPageIsStillThePage)
{
    auto doc = LoadComplete(site_.Url("/nowhere"));  // 404 with a body
    EXPECT_NE(Serialized(doc).find("missing"), std::string::npos);
}

TEST_F(DocumentLoadOverHttp, DecodesByHeaderCharsetAndDefaultsToWindows1252)
{
    site_.Serve("/korean", "<p>\xB0\xA1</p>", "text/html; charset=euc-kr");
    site_.Serve("/western", "<p>caf\xE9 \x80</p>", "text/html");
    EXPECT_NE(Serialized(LoadComplete(site_.Url("/korean"))).find("\xEA\xB0\x80"), std::string::npos);  // 가
    EXPECT_NE(Serialized(LoadComplete(site_.Url("/western"))).find("caf\xC3\xA9 \xE2\x82\xAC"), std::string::npos);
}

class DocumentLoadRedirects : public DocumentLoadOverHttp {
protected:
    // /hop0 -> /hop1 -> ... -> /hop<n-1> -> /end: n redirects.
    void Chain(int n)
    {
        for (int i = 0; i < n; ++i)
            site_.Redirect("/hop" + std::to_string(i), i + 1 < n ? "/hop" + std::to_string(i + 1) : "/end");
        site_.Serve("/end", "<a id=x href='next'>n</a>");
    }
};

TEST_F(DocumentLoadRedirects, FollowedToTheFinalAddressWhichIsTheBase)
{
    Chain(2);
    auto doc = LoadComplete(site_.Url("/hop0"));
    EXPECT_EQ(AddressOf(doc), QUrl(site_.Url("/end")));
    EXPECT_EQ(FirstAnchorHref(doc), site_.Url("/next"));
}

TEST_F(DocumentLoadRedirects, TenAreFollowedElevenFail)
{
    Chain(10);
    EXPECT_EQ(AddressOf(LoadComplete(site_.Url("/hop0"))), QUrl(site_.Url("/end")));

    Chain(11);
    auto doc = LoadComplete(site_.Url("/hop0"));
    EXPECT_TRUE(IsEmptyDocument(doc));
    EXPECT_EQ(AddressOf(doc), QUrl(site_.Url("/hop0")));
    EXPECT_EQ(site_.Requests("/end"), 1);  // only the first chain got there
}

TEST_F(DocumentLoadRedirects, ToAnotherSchemeEndsTheFetchAsFailed)
{
    site_.Redirect("/tofile", "file:///etc/hostname");
    site_.Redirect("/todata", "data:text/html,<p>secret</p>");
    for (const char* path : {"/tofile", "/todata"}) {
        auto doc = LoadComplete(site_.Url(path));
        EXPECT_TRUE(IsEmptyDocument(doc)) << path;
        EXPECT_EQ(Serialized(doc).find("secret"), std::string::npos);
    }
}

TEST_F(DocumentLoadOverHttp, RefusedConnectionEndsCompleteAndEmpty)
{
    ShortTimeout();  // the refused connection is retried quickly first
    const QString url = QStringLiteral("http://127.0.0.1:%1/x").arg(RefusingPort());
    auto doc = LoadComplete(url);
    EXPECT_TRUE(IsEmptyDocument(doc));
    EXPECT_EQ(AddressOf(doc), QUrl(url));
}

TEST_F(DocumentLoadOverHttp, TimedOutFetchEndsCompleteAndEmpty)
{
    platform::Settings quick = saved_;
    quick.pageTimeoutS = 1;
    platform::SetSettings(quick);
    site_.Hold("/slow");
    auto doc = LoadComplete(site_.Url("/slow"));
    EXPECT_TRUE(IsEmptyDocument(doc));
    EXPECT_EQ(Serialized(doc).find("late"), std::string::npos);
}

TEST_F(DocumentLoadOverHttp, RouteConnectsElsewhereButKeepsAddressAndHost)
{
    platform::Settings routed = saved_;
    routed.routes = {{QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), site_.Port()},
                     {QStringLiteral("hotels.example"), 8080, QStringLiteral("127.0.0.1"), site_.Port()}};
    platform::SetSettings(routed);
    site_.Serve("/hotsdetail.ctl", "<a name=n href='/hotsphoto.ctl?x=1'>p</a>");
    site_.Redirect("/moved", "/hotsdetail.ctl");

    auto doc = LoadComplete(QStringLiteral("http://hotels.example/moved"));
    const auto log = site_.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].host, "hotels.example");
    EXPECT_EQ(log[1].host, "hotels.example");  // the redirect's hop is routed too
    EXPECT_EQ(AddressOf(doc), QUrl("http://hotels.example/hotsdetail.ctl"));
    EXPECT_EQ(FirstAnchorHref(doc), QStringLiteral("http://hotels.example/hotsphoto.ctl?x=1"));

    LoadComplete(QStringLiteral("http://hotels.example:8080/hotsdetail.ctl"));
    EXPECT_EQ(site_.Log().back().host, "hotels.example:8080");
}

TEST_F(DocumentLoadOverHttp, DroppingTheDocumentAbortsItsFetch)
{
    site_.Hold("/slow");
    site_.Serve("/after", "<p>after</p>");
    {
        auto doc = NewDocument();
        ASSERT_EQ(StartLoad(doc, site_.Url("/slow")), S_OK);
        ASSERT_TRUE(PumpUntil([&] { return site_.Requests("/slow") == 1; }));
    }
    site_.Release();
    // Whatever the aborted fetch still had queued runs during this load.
    auto later = LoadComplete(site_.Url("/after"));
    EXPECT_NE(Serialized(later).find("after"), std::string::npos);
}

TEST_F(DocumentLoadOverHttp, ASecondLoadReplacesTheFirst)
{
    site_.Hold("/slow");
    site_.Serve("/quick", "<p>quick</p>");
    auto doc = NewDocument();
    ASSERT_EQ(StartLoad(doc, site_.Url("/slow")), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return site_.Requests("/slow") == 1; }));
    ASSERT_EQ(StartLoad(doc, site_.Url("/quick")), S_OK);
    WaitComplete(doc);
    site_.Release();
    LoadComplete(site_.Url("/quick"));  // gives the abandoned response time to arrive, were it still wanted
    EXPECT_NE(Serialized(doc).find("quick"), std::string::npos);
    EXPECT_EQ(Serialized(doc).find("late"), std::string::npos);
}

class MonikerCreation : public ::testing::Test {};

TEST_F(MonikerCreation, OnlyAbsoluteHttpAndHttpsAddresses)
{
    ComPtr<IMoniker> moniker;
    EXPECT_EQ(CreateURLMoniker(nullptr, QStringLiteral("https://hotels.example/a?b=c"), moniker), S_OK);
    EXPECT_EQ(moniker->Address(), QUrl("https://hotels.example/a?b=c"));
    EXPECT_EQ(CreateURLMoniker(nullptr, QStringLiteral(" http://hotels.example/a b?x=1 2"), moniker), S_OK);
    EXPECT_EQ(moniker->Address().toString(QUrl::FullyEncoded), QStringLiteral("http://hotels.example/a%20b?x=1%202"));
    for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,<p>x</p>",
                            "/hotsdetail.ctl?x", "", "ftp://hotels.example/", "http://"}) {
        EXPECT_EQ(CreateURLMoniker(nullptr, QString::fromUtf8(bad), moniker), MK_E_SYNTAX) << bad;
        EXPECT_FALSE(moniker) << bad;
    }
}

TEST_F(MonikerCreation, InjectedFailuresAreReturnedOnce)
{
    ComPtr<IMoniker> moniker;
    ComPtr<IBindCtx> bindCtx;
    FailNextComCall(ComCall::CreateURLMoniker);
    EXPECT_EQ(CreateURLMoniker(nullptr, QStringLiteral("http://hotels.example/"), moniker), E_FAIL);
    EXPECT_EQ(CreateURLMoniker(nullptr, QStringLiteral("http://hotels.example/"), moniker), S_OK);
    FailNextComCall(ComCall::CreateBindCtx);
    EXPECT_EQ(CreateBindCtx(0, bindCtx), E_FAIL);
    EXPECT_FALSE(bindCtx);
    EXPECT_EQ(CreateBindCtx(0, bindCtx), S_OK);
    EXPECT_TRUE(bindCtx);
}

TEST_F(MonikerCreation, LoadWithoutMonikerIsInvalid)
{
    auto doc = HtmlDocument::Create();
    EXPECT_EQ(doc->Load(false, nullptr, nullptr, 0), E_INVALIDARG);
    QString state;
    doc->get_readyState(state);
    EXPECT_EQ(state, QStringLiteral("uninitialized"));
}

class PageFetchLimits : public ::testing::Test {
protected:
    platform::PageResult Fetch(const QString& url)
    {
        platform::PageResult result;
        int reports = 0;
        platform::PageFetch fetch(QUrl(url), platform::PageLimits{}.timeoutS, [&](const platform::PageResult& r) {
            result = r;
            ++reports;
        });
        fetch.Start();
        EXPECT_EQ(reports, 0);  // never from inside Start
        EXPECT_TRUE(PumpUntil([&] { return reports > 0; }, 60000));
        EXPECT_EQ(reports, 1);
        return result;
    }
    LoopbackSite site_;
};

TEST_F(PageFetchLimits, BodyIsCutAt16MiB)
{
    site_.Serve("/big", std::string(platform::kMaxBodyBytes + 4096, 'a'), "text/plain");
    const auto result = Fetch(site_.Url("/big"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.text.size(), platform::kMaxBodyBytes);
}

TEST_F(PageFetchLimits, NonHttpAddressFailsWithoutNetwork)
{
    const auto result = Fetch(QStringLiteral("file:///etc/passwd"));
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.text.isEmpty());
}

TEST_F(PageFetchLimits, CallbackMayDestroyTheFetch)
{
    site_.Serve("/p", "<p>p</p>");
    int reports = 0;
    platform::PageFetch* fetch = nullptr;
    const int timeoutS = platform::PageLimits{}.timeoutS;
    fetch = new platform::PageFetch(QUrl(site_.Url("/p")), timeoutS, [&](const platform::PageResult& result) {
        ++reports;
        EXPECT_TRUE(result.ok);
        delete fetch;
        fetch = nullptr;
    });
    fetch->Start();
    ASSERT_TRUE(PumpUntil([&] { return reports > 0; }));
    Fetch(site_.Url("/p"));  // one more round through the event loop
    EXPECT_EQ(reports, 1);
}

// ------------------------------------------------- parsing off the window thread

class DocumentParsedInBackground : public DocumentLoadOverHttp {
protected:
    static LONG Length(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLElementCollection> all;
        LONG n = 0;
        if (doc->get_all(all) == S_OK)
            all->get_length(&n);
        return n;
    }
    static int Status(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLDocumentHttpStatus> status;
        int code = -1;
        if (QueryInterface(doc, status) == S_OK)
            status->get_httpStatus(code);
        return code;
    }
};

TEST_F(DocumentParsedInBackground, StaysLoadingWithoutATreeUntilTheParseHasFinished)
{
    site_.Serve("/held", "<p>one</p><p>two</p><a name=a href='x'>x</a>");
    site_.Serve("/other", "<p>other</p>");
    ParseGate gate;
    auto doc = NewDocument();
    ASSERT_EQ(StartLoad(doc, site_.Url("/held")), S_OK);
    ASSERT_TRUE(gate.WaitHeld());
    // Another page loads to the end meanwhile: the event loop ran many turns.
    EXPECT_NE(Serialized(LoadComplete(site_.Url("/other"))).find("other"), std::string::npos);
    EXPECT_EQ(State(doc), QStringLiteral("loading"));
    EXPECT_EQ(Length(doc), 0);
    EXPECT_EQ(Status(doc), 0);

    gate.Open();
    EXPECT_EQ(WaitComplete(doc), (QStringList{"loading", "interactive", "complete"}));
    EXPECT_EQ(Length(doc), 6);  // html, head, body, p, p, a
    EXPECT_EQ(FirstAnchorHref(doc), site_.Url("/x"));
}

TEST_F(DocumentParsedInBackground, DocumentDroppedWhileItsParseRunsIsLeftAlone)
{
    site_.Serve("/held", "<p>held</p>");
    site_.Serve("/after", "<p>after</p>");
    ParseGate gate;
    std::weak_ptr<IHTMLDocument2> gone;
    {
        auto doc = NewDocument();
        gone = doc;
        ASSERT_EQ(StartLoad(doc, site_.Url("/held")), S_OK);
        ASSERT_TRUE(gate.WaitHeld());
    }
    EXPECT_TRUE(gone.expired());
    gate.Open();
    ASSERT_TRUE(gate.Drain());
    // Whatever the worker could still have queued gets its turns here.
    EXPECT_NE(Serialized(LoadComplete(site_.Url("/after"))).find("after"), std::string::npos);
    EXPECT_TRUE(gone.expired());
}

TEST_F(DocumentParsedInBackground, ASecondLoadWinsOverTheFirstsLateParse)
{
    site_.Serve("/first", "<p>first</p>");
    site_.Serve("/second", "<p>second</p>");
    ParseGate gate;
    auto doc = NewDocument();
    ASSERT_EQ(StartLoad(doc, site_.Url("/first")), S_OK);
    ASSERT_TRUE(gate.WaitHeld());
    ASSERT_EQ(StartLoad(doc, site_.Url("/second")), S_OK);
    WaitComplete(doc);
    gate.Open();
    ASSERT_TRUE(gate.Drain());
    LoadComplete(site_.Url("/second"));  // turns for a late result, were it still wanted
    EXPECT_NE(Serialized(doc).find("second"), std::string::npos);
    EXPECT_EQ(Serialized(doc).find("first"), std::string::npos);
}

TEST_F(DocumentParsedInBackground, TellsTheFinalResponsesHttpStatus)
{
    site_.Serve("/ok", "<p>ok</p>");
    site_.Redirect("/moved", "/ok");
    EXPECT_EQ(Status(LoadComplete(site_.Url("/ok"))), 200);
    EXPECT_EQ(Status(LoadComplete(site_.Url("/moved"))), 200);
    EXPECT_EQ(Status(LoadComplete(site_.Url("/nowhere"))), 404);
    ShortTimeout();
    EXPECT_EQ(Status(LoadComplete(QStringLiteral("http://127.0.0.1:%1/x").arg(RefusingPort()))), 0);
    ComPtr<IHTMLDocument2> parsed;
    ASSERT_EQ(CreateDocumentFromHtml(QStringLiteral("<p>x"), QUrl(), parsed), S_OK);
    EXPECT_EQ(Status(parsed), 0);
}

// ------------------------------------------------- why a load failed

class DocumentLoadFailure : public DocumentLoadOverHttp {
protected:
    void SetUp() override
    {
        DocumentLoadOverHttp::SetUp();
        ShortTimeout();
    }
    static platform::FetchFailure FailureOf(const ComPtr<IHTMLDocument2>& doc)
    {
        ComPtr<IHTMLDocumentLoadFailure> loadFailure;
        platform::FetchFailure failure;
        failure.kind = platform::FetchFailure::Kind::Other;  // what a missing interface would leave
        EXPECT_EQ(QueryInterface(doc, loadFailure), S_OK);
        if (loadFailure) {
            EXPECT_EQ(loadFailure->get_loadFailure(failure), S_OK);
        }
        return failure;
    }
};

TEST_F(DocumentLoadFailure, UnavailablePageIsItsStatusWithItsBodyAsTheDocument)
{
    // Retry-After beyond the page time-out: no retry, the wait is kept.
    site_.Status("/busy", 503, "120");
    auto doc = LoadComplete(site_.Url("/busy"));
    const auto failure = FailureOf(doc);
    EXPECT_EQ(failure.kind, platform::FetchFailure::Kind::HttpStatus);
    EXPECT_EQ(failure.httpStatus, 503);
    EXPECT_EQ(failure.retryAfterS, 120);
    EXPECT_NE(Serialized(doc).find("status 503"), std::string::npos);
    EXPECT_EQ(site_.Requests("/busy"), 1);
}

TEST_F(DocumentLoadFailure, AnswerDroppedEveryTimeIsAnEmptyDocumentThatSaysSo)
{
    // More drops than the attempts: Qt may send a drop again (see LoopbackSite).
    site_.Serve("/cut", "<p>" + std::string(4000, 'c') + "</p>");
    site_.FailTimes("/cut", 100, LoopbackSite::Fault::Dropped());
    auto doc = LoadComplete(site_.Url("/cut"));
    EXPECT_EQ(FailureOf(doc).kind, platform::FetchFailure::Kind::ConnectionClosed);
    EXPECT_TRUE(IsEmptyDocument(doc));  // not the half that arrived
    EXPECT_GE(site_.Requests("/cut"), 1 + platform::kQuickRetries);
}

TEST_F(DocumentLoadFailure, PageThatAnswersAfterRetriesHasNoFailure)
{
    site_.Serve("/flaky", "<p>whole</p>");
    site_.FailTimes("/flaky", 2, LoopbackSite::Fault::Answering(503));
    auto doc = LoadComplete(site_.Url("/flaky"));
    EXPECT_FALSE(FailureOf(doc).Failed());
    EXPECT_NE(Serialized(doc).find("whole"), std::string::npos);
    EXPECT_EQ(site_.Requests("/flaky"), 3);

    ComPtr<IHTMLDocument2> parsed;
    ASSERT_EQ(CreateDocumentFromHtml(QStringLiteral("<p>x"), QUrl(), parsed), S_OK);
    EXPECT_FALSE(FailureOf(parsed).Failed());
}

TEST_F(DocumentLoadFailure, TimeOutAndRefusalAreToldAndANewLoadStartsClean)
{
    ShortTimeout(1);
    site_.Hold("/slow");
    auto doc = LoadComplete(site_.Url("/slow"));
    EXPECT_EQ(FailureOf(doc).kind, platform::FetchFailure::Kind::Timeout);

    site_.Serve("/fine", "<p>fine</p>");
    ASSERT_EQ(StartLoad(doc, site_.Url("/fine")), S_OK);
    EXPECT_FALSE(FailureOf(doc).Failed());  // while loading: nothing known yet
    WaitComplete(doc);
    EXPECT_FALSE(FailureOf(doc).Failed());

    ShortTimeout();
    EXPECT_EQ(FailureOf(LoadComplete(QStringLiteral("http://127.0.0.1:%1/x").arg(RefusingPort()))).kind,
              platform::FetchFailure::Kind::NoConnection);
}

TEST_F(PageFetchLimits, FetchesSharingABudgetTakeNoMoreThanItTogether)
{
    site_.Serve("/a", std::string(60000, 'a'), "text/plain");
    site_.Serve("/b", std::string(60000, 'b'), "text/plain");
    auto budget = std::make_shared<platform::BodyBudget>(100000);
    std::vector<platform::PageResult> results;
    std::vector<std::unique_ptr<platform::PageFetch>> fetches;
    for (const char* path : {"/a", "/b"}) {
        fetches.push_back(std::make_unique<platform::PageFetch>(
            QUrl(site_.Url(path)), platform::PageLimits{}.timeoutS,
            [&](const platform::PageResult& r) { results.push_back(r); }));
        fetches.back()->KeepRawBody();
        fetches.back()->SetBudget(budget);
        fetches.back()->Start();
    }
    ASSERT_TRUE(PumpUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results[0].body.size() + results[1].body.size(), 100000);
    EXPECT_TRUE(results[0].cut || results[1].cut);
    EXPECT_EQ(budget->Remaining(), 0);
    for (const auto& r : results) {
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.text.isEmpty());  // raw: decoding is left to the caller
        EXPECT_EQ(r.contentType, "text/plain");
    }
}

}  // namespace
