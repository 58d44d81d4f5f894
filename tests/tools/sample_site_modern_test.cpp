// The sample site's modern mode as a crawler without scripts or cookies
// meets it, and as the data a real browser's scripts work from: the session
// cookie of a search, the "session expired" page without it, result pages
// whose anchors exist only as data (checked against the classic page's
// anchors), detail pages with a script-written line, and the switch between
// the modes. Requests go through the raw HTTP client, as in
// sample_site_test.cpp.

#include "tests/tools/SampleSiteTest.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <future>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// A named anchor with an address: what the crawler collects from a page.
struct NamedAnchor {
    std::string name;
    std::string href;  // &amp; turned back into &
    std::string text;  // &amp; and &gt; turned back

    bool operator==(const NamedAnchor&) const = default;
};

void PrintTo(const NamedAnchor& a, std::ostream* out) { *out << a.name << " -> " << a.href << " \"" << a.text << '"'; }

std::string Unescape(std::string text)
{
    for (const auto& [entity, plain] : {std::pair{"&gt;", ">"}, std::pair{"&lt;", "<"}, std::pair{"&amp;", "&"}})
        for (size_t at; (at = text.find(entity)) != std::string::npos;)
            text.replace(at, std::string(entity).size(), plain);
    return text;
}

// Every <a name=".." href=".."> in the markup, in document order.
std::vector<NamedAnchor> NamedAnchorsOf(const std::string& html)
{
    static const std::regex tag(R"re(<a\s+name="([^"]*)"\s+href="([^"]*)"[^>]*>([^<]*)</a>)re");
    std::vector<NamedAnchor> anchors;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it)
        anchors.push_back({(*it)[1], Unescape((*it)[2]), Unescape((*it)[3])});
    return anchors;
}

// The "Avg Price ..." amounts of a classic result page, in row order.
std::vector<std::string> ClassicPrices(const std::string& html)
{
    static const std::regex cell(R"(<td>Avg Price ([^<]*)</td>)");
    std::vector<std::string> prices;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), cell); it != std::sregex_iterator(); ++it)
        prices.push_back((*it)[1]);
    return prices;
}

// The text of the element <script type="application/json" id="data">.
std::string DataScript(const std::string& html)
{
    static const std::string open = "<script type=\"application/json\" id=\"data\">";
    const size_t from = html.find(open);
    if (from == std::string::npos)
        return {};
    const size_t start = from + open.size();
    return html.substr(start, html.find("</script>", start) - start);
}

QJsonObject ParseJson(const std::string& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " in " << text;
    return document.object();
}

NamedAnchor AnchorOf(const QJsonValue& value)
{
    const QJsonObject o = value.toObject();
    return {o.value("name").toString().toStdString(), o.value("href").toString().toStdString(),
            o.value("text").toString().toStdString()};
}

// The value of the session cookie a search answer sets, or "" (with a
// failure) when it sets none or sets it otherwise.
std::string SessionCookieOf(const SampleSite::Answer& answer)
{
    static const std::regex form(R"(hcsession=([0-9a-f]{32}); Path=/; HttpOnly)");
    const auto [first, last] = answer.headers.equal_range("set-cookie");
    std::vector<std::string> cookies;
    for (auto it = first; it != last; ++it)
        cookies.push_back(it->second);
    std::smatch match;
    if (cookies.size() != 1 || !std::regex_match(cookies[0], match, form)) {
        ADD_FAILURE() << "expected one hcsession cookie, path /, HttpOnly; got " << cookies.size() << " Set-Cookie"
                      << (cookies.empty() ? std::string() : ": " + cookies[0]);
        return {};
    }
    return "hcsession=" + match[1].str();
}

bool IsExpiredPage(const std::string& html)
{
    return html.find("<title>Session expired</title>") != std::string::npos && html.find("<a ") == std::string::npos;
}

struct ResultPageRef {
    std::string code;
    int page;
    std::string path;
};

// Every result page of every destination with hotels, by the address the
// crawler reaches it at (the search for page 1).
std::vector<ResultPageRef> AllResultPages()
{
    std::vector<ResultPageRef> pages;
    for (const auto& [code, count] : {std::pair{"osl", 3}, std::pair{"adl", 1}, std::pair{"krk", 2},
                                      std::pair{"upn", 4}, std::pair{"slo", 1}})
        for (int page = 1; page <= count; ++page)
            pages.push_back({code, page,
                             page == 1 ? SearchPath(code)
                                       : "/hotsavail.ctl?airport=" + std::string(code) + "&page=" + std::to_string(page)});
    return pages;
}

const std::vector<std::string> kDetailPaths = {"/hotsdetail.ctl?hotel=osl-1", "/hotsphoto.ctl?hotel=osl-1",
                                               "/map.ctl?hotel=osl-1"};

class ModernSiteTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(site.started()) << "could not start " << HC_SAMPLE_SITE_EXE; }

    // Searches `code` and returns the Cookie header value the answer hands out.
    std::string openSession(const std::string& code = "osl")
    {
        const SampleSite::Answer answer = site.fetch(SearchPath(code));
        EXPECT_EQ(answer.status, 200);
        return SessionCookieOf(answer);
    }

    std::string fetchOk(const std::string& path, const std::string& cookie)
    {
        const SampleSite::Answer answer = site.fetch(path, cookie);
        EXPECT_EQ(answer.status, 200) << path;
        return answer.body;
    }

    SampleSite site{QStringList{QStringLiteral("--modern")}};
};

TEST_F(ModernSiteTest, SearchHandsOutAFreshHttpOnlySessionEachTime)
{
    const std::string first = openSession("osl");
    const std::string second = openSession("adl");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    // Both stay good: a browser may hold either.
    for (const std::string& cookie : {first, second})
        EXPECT_FALSE(IsExpiredPage(fetchOk("/hotsdetail.ctl?hotel=osl-2", cookie)));

    // A search the site turns down opens no session.
    const SampleSite::Answer refused = site.fetch(kSearchPrefix + "osl");
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.headers.count("set-cookie"), 0u);
}

TEST_F(ModernSiteTest, PagesWithoutAKnownSessionAnswerTheExpiredPage)
{
    const std::string cookie = openSession();
    ASSERT_FALSE(cookie.empty());
    const std::string token = cookie.substr(cookie.find('=') + 1);
    std::string madeUp = token;
    madeUp[0] = madeUp[0] == '0' ? '1' : '0';

    std::vector<std::string> paths = kDetailPaths;
    paths.push_back("/hotsavail.ctl?airport=osl&left=6&page=2");
    paths.push_back("/hotsdetail.ctl?hotel=no-such-hotel");  // the session is asked first
    for (const std::string& path : paths) {
        for (const std::string& bad : std::vector<std::string>{"", "hcsession=" + madeUp, "hcsession=", "other=" + token,
                                                             "xhcsession=" + token, "hcsession=" + token + "0"}) {
            const SampleSite::Answer answer = site.fetch(path, bad);
            EXPECT_EQ(answer.status, 200) << path << " with \"" << bad << '"';
            EXPECT_TRUE(IsExpiredPage(answer.body)) << path << " with \"" << bad << '"';
        }
        if (path.find("no-such-hotel") != std::string::npos)
            continue;
        // The session among other cookies, with the blanks browsers put.
        for (const std::string& good : {cookie, "a=1; " + cookie + "; b=2", "a=1;" + cookie})
            EXPECT_FALSE(IsExpiredPage(fetchOk(path, good))) << path << " with \"" << good << '"';
    }
    EXPECT_EQ(site.fetch("/hotsdetail.ctl?hotel=no-such-hotel", cookie).status, 404);

    // The paging data a result page's script fetches is guarded the same way.
    EXPECT_EQ(site.fetch("/paging.json?airport=osl&page=1").status, 403);
    EXPECT_EQ(site.fetch("/paging.json?airport=osl&page=1", "hcsession=" + madeUp).status, 403);
    EXPECT_EQ(site.fetch("/paging.json?airport=osl&page=1", cookie).status, 200);
    EXPECT_EQ(site.fetch("/paging.json?airport=osl&page=4", cookie).status, 404);
}

TEST_F(ModernSiteTest, ResultDataNamesExactlyTheClassicAnchors)
{
    // The classic pages first, from the same site.
    ASSERT_EQ(site.get("/mode/classic"), 200);
    const std::vector<ResultPageRef> pages = AllResultPages();
    std::vector<std::string> classic;
    for (const auto& ref : pages)
        classic.push_back(fetchOk(ref.path, {}));
    ASSERT_EQ(site.get("/mode/modern"), 200);
    const std::string cookie = openSession();
    ASSERT_FALSE(cookie.empty());

    for (size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(pages[i].path);
        const std::string html = fetchOk(pages[i].path, cookie);
        // A reader without scripts finds no hotel and no way on.
        for (const NamedAnchor& a : NamedAnchorsOf(html)) {
            EXPECT_EQ(a.href.find("hotsdetail.ctl?"), std::string::npos) << a.href;
            EXPECT_EQ(a.href.find("hotsavail.ctl?"), std::string::npos) << a.href;
        }
        EXPECT_EQ(html.find(">Next<"), std::string::npos);

        const QJsonObject data = ParseJson(DataScript(html));
        EXPECT_EQ(data.value("airport").toString().toStdString(), pages[i].code);
        EXPECT_EQ(data.value("page").toInt(), pages[i].page);
        std::vector<NamedAnchor> scripted;
        std::vector<std::string> prices;
        for (const QJsonValue& hotel : data.value("hotels").toArray()) {
            scripted.push_back(AnchorOf(hotel));
            prices.push_back(hotel.toObject().value("price").toString().toStdString());
        }
        // The script fetches the paging anchors from the address the data names.
        const std::string pagingPath = data.value("paging").toString().toStdString();
        EXPECT_EQ(pagingPath, "/paging.json?airport=" + pages[i].code + "&page=" + std::to_string(pages[i].page));
        for (const QJsonValue& link : ParseJson(fetchOk(pagingPath, cookie)).value("paging").toArray())
            scripted.push_back(AnchorOf(link));

        EXPECT_EQ(scripted, NamedAnchorsOf(classic[i]));
        EXPECT_EQ(prices, ClassicPrices(classic[i]));
    }
}

TEST_F(ModernSiteTest, ScriptsStayInsideTheirElements)
{
    const std::string cookie = openSession();
    const std::string html = fetchOk("/hotsavail.ctl?airport=osl&left=6&page=2", cookie);
    const std::string data = DataScript(html);
    ASSERT_FALSE(data.empty());
    // Nothing in the data can end its element or start markup.
    EXPECT_EQ(data.find('<'), std::string::npos);
    EXPECT_EQ(data.find('&'), std::string::npos);

    // The paging data escapes the same way and decodes to plain text.
    const std::string paging = fetchOk("/paging.json?airport=osl&page=2", cookie);
    EXPECT_EQ(paging.find('&'), std::string::npos);
    EXPECT_EQ(paging.find('>'), std::string::npos);
    const QJsonArray links = ParseJson(paging).value("paging").toArray();
    ASSERT_EQ(links.size(), 3);
    EXPECT_EQ(AnchorOf(links[2]).text, "Next >>");
}

TEST_F(ModernSiteTest, OnlyTheFirstAdelaidePageRaisesDialogs)
{
    const std::string cookie = openSession();
    for (const auto& ref : AllResultPages()) {
        const QJsonObject data = ParseJson(DataScript(fetchOk(ref.path, cookie)));
        const bool dialogs = ref.code == "adl" && ref.page == 1;
        EXPECT_EQ(data.contains("alert"), dialogs) << ref.path;
        EXPECT_EQ(data.contains("confirm"), dialogs) << ref.path;
    }
}

// The body of a page: from <body> on.
std::string BodyOf(const std::string& html)
{
    const size_t body = html.find("<body>");
    return body == std::string::npos ? std::string() : html.substr(body);
}

TEST_F(ModernSiteTest, DetailPagesKeepTheClassicSectionsWithTheStreetWrittenByAScript)
{
    const std::vector<std::string> ids = {"osl-1", "osl-3", "krk-12", "upn-13"};
    ASSERT_EQ(site.get("/mode/classic"), 200);
    std::vector<std::string> classic;
    for (const std::string& id : ids)
        classic.push_back(fetchOk("/hotsdetail.ctl?hotel=" + id, {}));
    ASSERT_EQ(site.get("/mode/modern"), 200);
    const std::string cookie = openSession();

    static const std::regex written(R"re(<script>document\.write\("([^"<]*)"\);</script>)re");
    for (size_t i = 0; i < ids.size(); ++i) {
        SCOPED_TRACE(ids[i]);
        const std::string html = fetchOk("/hotsdetail.ctl?hotel=" + ids[i], cookie);
        const std::string street = ids[i].substr(ids[i].find('-') + 1) + " Harbour Street";

        // The street is nowhere but in the script that writes it.
        std::smatch match;
        ASSERT_TRUE(std::regex_search(html, match, written));
        EXPECT_EQ(match[1].str(), street);
        const std::string withoutScripts = std::regex_replace(html, written, "");
        EXPECT_EQ(withoutScripts.find("Harbour Street"), std::string::npos);
        // The script stands inside the hotel_info cell, between the name and the phone.
        const size_t info = html.find("name=\"hotel_info\"");
        ASSERT_NE(info, std::string::npos);
        EXPECT_LT(info, static_cast<size_t>(match.position(0)));
        EXPECT_LT(static_cast<size_t>(match.position(0)), html.find("Phone", info));

        // With the line written in, the body is the classic one: every
        // marker, section text, photo link and frame as before.
        EXPECT_EQ(BodyOf(std::regex_replace(html, written, "$1")), BodyOf(classic[i]));
        EXPECT_NE(html.find("<link rel=\"stylesheet\" href=\"/site.css\">"), std::string::npos);
    }
}

TEST_F(ModernSiteTest, StylesUseLayoutTheRichTextViewCannotShow)
{
    std::string css;
    ASSERT_EQ(site.get("/site.css", &css), 200);  // no session needed
    for (const char* feature : {"display: grid", "display: flex", "linear-gradient(", "border-radius", "box-shadow"})
        EXPECT_NE(css.find(feature), std::string::npos) << feature;

    const std::string cookie = openSession();
    for (const std::string& path : {SearchPath("osl"), std::string("/hotsavail.ctl?airport=krk&page=2"),
                                    std::string("/hotsdetail.ctl?hotel=adl-2")}) {
        const std::string html = fetchOk(path, cookie);
        EXPECT_NE(html.find("<link rel=\"stylesheet\" href=\"/site.css\">"), std::string::npos) << path;
        EXPECT_NE(html.find("<style>"), std::string::npos) << path;
    }
}

TEST_F(ModernSiteTest, SameRequestSameBytesWhateverTheSession)
{
    const std::string first = openSession();
    const std::string second = openSession();
    for (const std::string& path : {SearchPath("upn"), std::string("/hotsavail.ctl?airport=upn&page=3"),
                                    std::string("/hotsdetail.ctl?hotel=upn-7"), std::string("/paging.json?airport=upn&page=3")}) {
        const std::string once = fetchOk(path, first);
        EXPECT_EQ(fetchOk(path, first), once) << path;
        EXPECT_EQ(fetchOk(path, second), once) << path;
    }
}

TEST_F(ModernSiteTest, ConcurrentSearchesGetDistinctWorkingSessions)
{
    // Raw clients on worker threads: the fixture's client is for the test's
    // own thread. 4 x 12 searches log about 12 kB, well within the pipe; four
    // clients at a time stay within the server's listen backlog (5), where
    // more would have some connects wait a second for the retry.
    const int port = site.port();
    const auto searches = [port] {
        std::vector<std::string> cookies;
        httplib::Client client("127.0.0.1", port);
        client.set_connection_timeout(5);
        for (int i = 0; i < 12; ++i) {
            const auto result = client.Get(SearchPath("adl").c_str());
            if (result && result->status == 200)
                cookies.push_back(result->get_header_value("Set-Cookie"));
        }
        return cookies;
    };
    std::vector<std::future<std::vector<std::string>>> workers;
    for (int i = 0; i < 4; ++i)
        workers.push_back(std::async(std::launch::async, searches));
    std::set<std::string> cookies;
    for (auto& worker : workers)
        for (const std::string& header : worker.get())
            cookies.insert(header.substr(0, header.find(';')));
    ASSERT_EQ(cookies.size(), 48u);
    for (const std::string& cookie : cookies)
        EXPECT_FALSE(IsExpiredPage(fetchOk("/map.ctl?hotel=adl-1", cookie))) << cookie;
}

// A site started in classic mode and switched by control requests.
using SiteModeSwitchTest = SampleSiteTest;

TEST_F(SiteModeSwitchTest, ModeSwitchesBothWaysAndIsNeverFaulted)
{
    const auto classicFirstPage = [this] {
        const SampleSite::Answer answer = site.fetch(SearchPath("osl"));
        EXPECT_EQ(answer.headers.count("set-cookie"), 0u);
        return NamedAnchorsOf(answer.body).size();
    };
    EXPECT_EQ(classicFirstPage(), 6u);  // 4 hotels, Next, Next >>
    EXPECT_FALSE(IsExpiredPage(fetchOk("/hotsdetail.ctl?hotel=osl-1")));

    // Control requests get through an outage.
    ASSERT_TRUE(site.fault("outage?ms=60000"));
    std::string line;
    EXPECT_EQ(site.get("/mode/modern", &line), 200);
    EXPECT_EQ(line, "mode modern\n");
    ASSERT_TRUE(site.fault("off"));
    EXPECT_EQ(site.countFaultsContaining(QStringLiteral("/mode/")), 0);

    const SampleSite::Answer search = site.fetch(SearchPath("osl"));
    const std::string cookie = SessionCookieOf(search);
    EXPECT_TRUE(NamedAnchorsOf(search.body).empty());
    EXPECT_TRUE(IsExpiredPage(fetchOk("/hotsdetail.ctl?hotel=osl-1")));
    EXPECT_FALSE(IsExpiredPage(site.fetch("/hotsdetail.ctl?hotel=osl-1", cookie).body));

    EXPECT_EQ(site.get("/mode/classic", &line), 200);
    EXPECT_EQ(line, "mode classic\n");
    EXPECT_EQ(classicFirstPage(), 6u);
    const std::string detail = fetchOk("/hotsdetail.ctl?hotel=osl-1");
    EXPECT_NE(detail.find("1 Harbour Street<br>"), std::string::npos);
    EXPECT_EQ(detail.find("<script"), std::string::npos);

    // An unknown mode changes nothing.
    EXPECT_EQ(site.get("/mode/retro"), 400);
    EXPECT_EQ(classicFirstPage(), 6u);
    // Sessions survive a round trip through classic mode.
    ASSERT_EQ(site.get("/mode/modern"), 200);
    EXPECT_FALSE(IsExpiredPage(site.fetch("/hotsdetail.ctl?hotel=osl-1", cookie).body));
}

}  // namespace
