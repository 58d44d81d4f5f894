// The sample site as the crawler meets it: the exact search address, the
// chain of result pages, the markers of the detail pages and the test hooks.
// Requests go through a raw HTTP client with the Host header the program
// sends, so these tests do not depend on the crawler's own network code.

#include "support/Pump.h"
#include "tests/tools/SampleSiteTest.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Anchor {
    bool named = false;
    std::string name;
    bool hasHref = false;
    std::string href;  // as written, with &amp; turned back into &
    std::string text;
};

std::string Unescape(std::string text)
{
    for (size_t at; (at = text.find("&amp;")) != std::string::npos;)
        text.replace(at, 5, "&");
    for (size_t at; (at = text.find("&gt;")) != std::string::npos;)
        text.replace(at, 4, ">");
    return text;
}

std::vector<Anchor> AnchorsOf(const std::string& html)
{
    static const std::regex tag(R"(<a\s([^>]*)>([^<]*)</a>)");
    static const std::regex attribute(R"re(([a-z]+)="([^"]*)")re");
    std::vector<Anchor> anchors;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), tag); it != std::sregex_iterator(); ++it) {
        Anchor a;
        a.text = Unescape((*it)[2]);
        const std::string attrs = (*it)[1];
        for (auto at = std::sregex_iterator(attrs.begin(), attrs.end(), attribute); at != std::sregex_iterator(); ++at) {
            if ((*at)[1] == "name") {
                a.named = true;
                a.name = (*at)[2];
            } else if ((*at)[1] == "href") {
                a.hasHref = true;
                a.href = Unescape((*at)[2]);
            }
        }
        anchors.push_back(a);
    }
    return anchors;
}

// The anchors the crawler treats as paging links: named, to a result page,
// with the text exactly "Next".
std::vector<Anchor> PagingLinks(const std::string& html)
{
    std::vector<Anchor> out;
    for (const auto& a : AnchorsOf(html))
        if (a.named && a.href.find("hotsavail.ctl?") != std::string::npos && a.text == "Next")
            out.push_back(a);
    return out;
}

std::vector<std::string> DetailIds(const std::string& html)
{
    std::vector<std::string> ids;
    for (const auto& a : AnchorsOf(html))
        if (a.named && a.href.rfind("hotsdetail.ctl?hotel=", 0) == 0)
            ids.push_back(a.href.substr(std::string("hotsdetail.ctl?hotel=").size()));
    return ids;
}

// How many tables are open at `pos` of `html`.
int TableDepthAt(const std::string& html, size_t pos)
{
    int depth = 0;
    for (size_t at = 0; (at = html.find("<table", at)) != std::string::npos && at < pos; ++at)
        ++depth;
    for (size_t at = 0; (at = html.find("</table>", at)) != std::string::npos && at < pos; ++at)
        --depth;
    return depth;
}

int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++count;
    return count;
}

// ---------------------------------------------------------------------------

class SampleSiteSearch : public SampleSiteTest {};

TEST_F(SampleSiteSearch, ExactSearchAddressGivesFirstResultPageAndIsLogged)
{
    const std::string html = fetchOk(SearchPath("osl"));
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_EQ(DetailIds(html), (std::vector<std::string>{"osl-1", "osl-2", "osl-3", "osl-4"}));

    const QString expected = QString::fromStdString("GET " + SearchPath("osl") + " Host: hotels.example");
    EXPECT_TRUE(site.requestLines().contains(expected)) << site.requestLines().join('\n').toStdString();
}

TEST_F(SampleSiteSearch, SearchThatDiffersFromTheFixedParametersIsRefused)
{
    // The two "mode" values swapped, "state" left out, the code after "state=".
    std::string swapped = SearchPath("osl");
    swapped.replace(swapped.find("mode=1"), 6, "mode=2");
    swapped.replace(swapped.rfind("mode=2"), 6, "mode=1");
    EXPECT_EQ(site.get(swapped), 400);

    std::string noState = SearchPath("osl");
    noState.erase(noState.find("&state="), 7);
    EXPECT_EQ(site.get(noState), 400);

    EXPECT_EQ(site.get(kSearchPrefix + "&state=osl" + kSearchSuffix.substr(7)), 400);
    EXPECT_EQ(site.get("/cannonball.ctl?airport=osl"), 400);
}

TEST_F(SampleSiteSearch, DestinationsWithoutHotelsGetAPageWithoutLinks)
{
    for (const std::string code : {"nil", "", "xyz", "OSL"}) {
        const std::string html = fetchOk(SearchPath(code));
        EXPECT_NE(html.find("No hotels found"), std::string::npos) << code;
        EXPECT_TRUE(AnchorsOf(html).empty()) << code;
    }
}

TEST_F(SampleSiteSearch, CodeIsEchoedEscaped)
{
    const std::string html = fetchOk(SearchPath("%3Cb%3Ex%22"));
    EXPECT_NE(html.find("&lt;b&gt;x&quot;"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
}

// ---------------------------------------------------------------------------

class SampleSitePaging : public SampleSiteTest {
protected:
    // Follows the one "Next" link of each page, from the search on; returns
    // the detail ids of every page visited, page by page.
    std::vector<std::vector<std::string>> walk(const std::string& code)
    {
        std::vector<std::vector<std::string>> pages;
        std::string html = fetchOk(SearchPath(code));
        for (int guard = 0; guard < 10; ++guard) {
            pages.push_back(DetailIds(html));
            const auto next = PagingLinks(html);
            if (next.empty())
                break;
            EXPECT_EQ(next.size(), 1u);
            html = fetchOk("/" + next[0].href);
        }
        return pages;
    }
};

TEST_F(SampleSitePaging, OslSpreadsTenHotelsOverThreePages)
{
    const auto pages = walk("osl");
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].size(), 4u);
    EXPECT_EQ(pages[1].size(), 4u);
    EXPECT_EQ(pages[2].size(), 2u);
    std::set<std::string> all;
    for (const auto& page : pages)
        all.insert(page.begin(), page.end());
    EXPECT_EQ(all.size(), 10u);
    EXPECT_TRUE(all.count("osl-10"));
}

TEST_F(SampleSitePaging, AdlHasOnePageOfThreeHotels)
{
    const auto pages = walk("adl");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], (std::vector<std::string>{"adl-1", "adl-2", "adl-3"}));
}

TEST_F(SampleSitePaging, KrkSpreadsTwelveDistinctHotelsOverTwoPages)
{
    const auto pages = walk("krk");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].size(), 6u);
    EXPECT_EQ(pages[1].size(), 6u);
    std::set<std::string> all;
    for (const auto& page : pages)
        all.insert(page.begin(), page.end());
    std::set<std::string> expected;
    for (int i = 1; i <= 12; ++i)
        expected.insert("krk-" + std::to_string(i));
    EXPECT_EQ(all, expected);
}

TEST_F(SampleSitePaging, UpnAddressesCarryOnlyThePageNumberAndSortUpwards)
{
    static const std::regex pageOnly(R"(hotsavail\.ctl\?airport=upn&page=([0-9]+))");
    std::vector<std::string> followed;
    std::vector<size_t> sizes;
    std::set<std::string> hotels;
    std::string html = fetchOk(SearchPath("upn"));
    for (int page = 1; page <= 10; ++page) {
        // Result pages carry no frames: each load completes exactly once.
        EXPECT_EQ(html.find("<iframe"), std::string::npos) << page;
        EXPECT_EQ(html.find("<frame"), std::string::npos) << page;
        const auto ids = DetailIds(html);
        sizes.push_back(ids.size());
        hotels.insert(ids.begin(), ids.end());
        const auto next = PagingLinks(html);
        if (next.empty())
            break;
        ASSERT_EQ(next.size(), 1u) << page;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(next[0].href, m, pageOnly)) << next[0].href;
        EXPECT_EQ(std::stoi(m[1]), page + 1);
        followed.push_back(next[0].href);
        html = fetchOk("/" + next[0].href);
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{3, 4, 3, 3}));
    EXPECT_EQ(hotels.size(), 13u);
    ASSERT_EQ(followed.size(), 3u);
    EXPECT_LT(followed[0], followed[1]);
    EXPECT_LT(followed[1], followed[2]);
    // The "Previous" link of page 3 uses the same form.
    for (const auto& a : AnchorsOf(fetchOk("/hotsavail.ctl?airport=upn&page=3"))) {
        if (a.text == "Previous") {
            EXPECT_EQ(a.href, "hotsavail.ctl?airport=upn&page=2");
        }
    }
}

TEST_F(SampleSitePaging, OtherDestinationsKeepAddressesThatSortDownwards)
{
    std::vector<std::string> followed;
    std::string html = fetchOk(SearchPath("osl"));
    for (auto next = PagingLinks(html); !next.empty(); next = PagingLinks(html)) {
        EXPECT_NE(next[0].href.find("&left="), std::string::npos) << next[0].href;
        followed.push_back(next[0].href);
        html = fetchOk("/" + next[0].href);
        ASSERT_LT(followed.size(), 5u);
    }
    ASSERT_EQ(followed.size(), 2u);
    EXPECT_GT(followed[0], followed[1]);
}

TEST_F(SampleSitePaging, ResultPagesCarryTheDistractors)
{
    const auto anchors = AnchorsOf(fetchOk("/hotsavail.ctl?airport=osl&page=2"));
    int unnamed = 0, newWindow = 0, namedWithoutHref = 0, nextLookAlikes = 0, previous = 0;
    for (const auto& a : anchors) {
        unnamed += !a.named;
        newWindow += !a.named && a.href == "map.ctl?view=all";
        namedWithoutHref += a.named && !a.hasHref;
        nextLookAlikes += a.named && a.text == "Next >>" && a.href.find("hotsavail.ctl?") != std::string::npos;
        previous += a.named && a.text == "Previous";
    }
    EXPECT_EQ(unnamed, 2);
    EXPECT_EQ(newWindow, 1);
    EXPECT_EQ(namedWithoutHref, 1);
    EXPECT_EQ(nextLookAlikes, 1);
    EXPECT_EQ(previous, 1);
    // The unnamed detail link leads nowhere: the crawler must never ask for it.
    for (const auto& a : anchors) {
        if (!a.named && a.href.find("hotsdetail.ctl?") != std::string::npos) {
            EXPECT_EQ(site.get("/" + a.href), 404);
        }
    }
}

TEST_F(SampleSitePaging, PagesOutOfRangeAreNotFound)
{
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=osl&page=4"), 404);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=osl&page=0"), 404);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=osl&page=x"), 404);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=nil&page=2"), 404);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=krk&page=3"), 404);
    EXPECT_EQ(site.get("/hotsavail.ctl?airport=upn&page=5"), 404);
}

// ---------------------------------------------------------------------------

class SampleSiteDetail : public SampleSiteTest {
protected:
    static std::vector<std::string> markers()
    {
        return {"gray_header_bar", "hotel_info",     "Direction",   "Dining",    "Transportation",
                "Property Information", "Services", "Ratings_Awards", "Attractions"};
    }
};

TEST_F(SampleSiteDetail, EveryListedHotelHasAllNineMarkersInsideNestedTables)
{
    std::vector<std::string> ids = {"adl-1", "adl-3", "krk-1", "krk-12", "upn-1", "upn-13"};
    for (int i = 1; i <= 10; ++i)
        ids.push_back("osl-" + std::to_string(i));
    for (const auto& id : ids) {
        const std::string html = fetchOk("/hotsdetail.ctl?hotel=" + id);
        for (const auto& marker : markers()) {
            const std::string text = "name=\"" + marker + "\"";
            ASSERT_EQ(Occurrences(html, text), 1) << id << " " << marker;
            // Inside an inner table, which is inside the layout table.
            EXPECT_GE(TableDepthAt(html, html.find(text)), 2) << id << " " << marker;
        }
    }
}

TEST_F(SampleSiteDetail, HeaderBarHoldsTheNameThenTheAveragePrice)
{
    const std::string html = fetchOk("/hotsdetail.ctl?hotel=osl-1");
    const size_t bar = html.find("name=\"gray_header_bar\">");
    ASSERT_NE(bar, std::string::npos);
    const std::string cell = html.substr(bar, html.find("</td>", bar) - bar);
    EXPECT_NE(cell.find(">\n  Hôtel Bergström Avg Price NOK 1,185"), std::string::npos) << cell;
}

TEST_F(SampleSiteDetail, PhotoLinkNewWindowLinkAndFrame)
{
    const std::string html = fetchOk("/hotsdetail.ctl?hotel=osl-2");
    EXPECT_NE(html.find("<a name=\"photos\" href=\"http://hotels.example:80/hotsphoto.ctl?hotel=osl-2\">Photos</a>"),
              std::string::npos);
    EXPECT_NE(html.find("target=\"_blank\""), std::string::npos);
    EXPECT_NE(html.find("<iframe name=\"map\" src=\"map.ctl?hotel=osl-2\""), std::string::npos);
    EXPECT_NE(fetchOk("/map.ctl?hotel=osl-2").find("Café Øst"), std::string::npos);
    EXPECT_NE(fetchOk("/hotsphoto.ctl?hotel=osl-2").find("Photos of Café Øst"), std::string::npos);
}

TEST_F(SampleSiteDetail, NonAsciiNamesArriveAsDeclaredUtf8)
{
    httplib::Client client("127.0.0.1", site.port());
    const auto result = client.Get("/hotsdetail.ctl?hotel=osl-3", {{"Host", "hotels.example"}});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(result->body.find("<title>한강 게스트하우스 - hotel details</title>"), std::string::npos);
}

TEST_F(SampleSiteDetail, UnknownHotelsAreNotFound)
{
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=osl-11"), 404);
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=krk-13"), 404);
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=upn-14"), 404);
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel="), 404);
    EXPECT_EQ(site.get("/hotsdetail.ctl?hotel=slow-%3Cx%3E"), 404);
    EXPECT_EQ(site.get("/hotsphoto.ctl?hotel=zzz"), 404);
    EXPECT_EQ(site.get("/no-such-page"), 404);
}

// ---------------------------------------------------------------------------

class SampleSiteHooks : public SampleSiteTest {
protected:
    // Starts a GET of a detail page on a thread of its own.
    std::future<std::pair<int, std::string>> fetchDetailInBackground(const std::string& id)
    {
        const int port = site.port();
        return std::async(std::launch::async, [port, id] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(150);
            const auto result = client.Get(("/hotsdetail.ctl?hotel=" + id).c_str(), {{"Host", "hotels.example"}});
            return result ? std::make_pair(result->status, result->body) : std::make_pair(0, std::string());
        });
    }
};

TEST_F(SampleSiteHooks, SlowDetailIsHeldUntilReleased)
{
    auto pending = fetchDetailInBackground("slow-1");
    ASSERT_TRUE(site.waitForRequestContaining("hotel=slow-1"));
    // The site logs before answering and holds until the release below.
    EXPECT_EQ(pending.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_TRUE(site.release("slow-1"));
    const auto [status, body] = pending.get();
    EXPECT_EQ(status, 200);
    EXPECT_NE(body.find("Slow Lodge (slow-1)"), std::string::npos);
}

TEST_F(SampleSiteHooks, ReleaseThatComesFirstIsKeptForTheRequest)
{
    EXPECT_TRUE(site.release("slow-2"));
    EXPECT_EQ(fetchDetailInBackground("slow-2").get().first, 200);
    EXPECT_FALSE(site.release("osl-1"));  // only held hotels can be released
}

TEST_F(SampleSiteHooks, SlowDestinationListsHeldHotels)
{
    EXPECT_EQ(DetailIds(fetchOk(SearchPath("slo"))), (std::vector<std::string>{"slow-1", "slow-2"}));
}

TEST_F(SampleSiteHooks, RedirectStaysOnTheSite)
{
    httplib::Client client("127.0.0.1", site.port());
    const auto moved = client.Get("/redirect?to=/hotsavail.ctl%3Fairport=osl&page=2");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->status, 302);
    EXPECT_EQ(moved->get_header_value("Location"), "/hotsavail.ctl?airport=osl&page=2");

    EXPECT_EQ(site.get("/redirect?to=//elsewhere.example/"), 400);
    EXPECT_EQ(site.get("/redirect?to=http://elsewhere.example/"), 400);
    EXPECT_EQ(site.get("/redirect?to=/x%0D%0ASet-Cookie:%20a=b"), 400);
    EXPECT_EQ(site.get("/redirect"), 400);
}

// ---------------------------------------------------------------------------

class SampleSiteProcess : public ::testing::Test {
protected:
    static int exitCodeOf(const QStringList& arguments, QProcess::ExitStatus* status = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral(HC_SAMPLE_SITE_EXE), arguments);
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished(5000);
            return -1;
        }
        if (status != nullptr)
            *status = process.exitStatus();
        return process.exitCode();
    }
};

TEST_F(SampleSiteProcess, RefusesAddressesOtherThanLoopback)
{
    EXPECT_EQ(exitCodeOf({"--port", "0", "--host", "0.0.0.0"}), 2);
    EXPECT_EQ(exitCodeOf({"--port", "0", "--host", "192.168.1.1"}), 2);
    EXPECT_EQ(exitCodeOf({"--port", "0", "--host", "127.example"}), 2);
    EXPECT_EQ(exitCodeOf({"--port", "0", "--host", "localhost"}), 2);
    EXPECT_EQ(exitCodeOf({"--host", "127.0.0.1"}), 2);  // no port
    EXPECT_EQ(exitCodeOf({"--port", "70000"}), 2);
}

TEST_F(SampleSiteProcess, RefusesBadFaultsOnTheCommandLine)
{
    EXPECT_EQ(exitCodeOf({"--port", "0", "--fault", "blackout"}), 2);
    EXPECT_EQ(exitCodeOf({"--port", "0", "--fault", "outage?ms=soon"}), 2);
    EXPECT_EQ(exitCodeOf({"--port", "0", "--fault"}), 2);
}

TEST_F(SampleSiteProcess, StopsCleanlyOnTerminate)
{
    QProcess process;
    process.start(QStringLiteral(HC_SAMPLE_SITE_EXE), {"--port", "0"});
    ASSERT_TRUE(process.waitForReadyRead(20000));
    EXPECT_TRUE(process.readLine().startsWith("listening on 127.0.0.1:"));
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

}  // namespace
