// The record's life and its load of a detail page over HTTP on loopback
// (the sample site), with the three creation failures and the time limit.

#include "RecordFields.h"
#include "support/RecordedMessages.h"
#include "support/SampleSite.h"

#include "detail/HotelDescParser.h"
#include "platform/settings/Settings.h"
#include "platform/testing/ComFaults.h"
#include "platform/toolkit/Forms.h"

#include <QTcpServer>
#include <QTimer>

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

using detailtest::Fields;
using detailtest::FieldsOf;
using detailtest::FixtureText;

namespace {

using MessageLog = RecordedMessages;

Fields EmptyExceptUrl(const AnsiString& url)
{
    Fields f;
    f.values[0] = url;
    return f;
}

// ------------------------------------------------------------------ the record

class NewRecord : public ::testing::Test {
protected:
    MessageLog log;
};

TEST_F(NewRecord, StartsWithTwelveEmptyFields)
{
    THotelDescParser record{platform::CurrentSettings().siteBase};
    EXPECT_EQ(FieldsOf(record), Fields{});
    EXPECT_FALSE(record.Loaded());
    record.SetUrl("");
    EXPECT_EQ(record.PageUrl, "");
    EXPECT_TRUE(log.texts.isEmpty());
}

TEST_F(NewRecord, ShowsComInitMessageWhenCoInitializeFailsAndStillWorks)
{
    const int before = CoInitializeCount();
    {
        FailNextComCall(ComCall::CoInitialize);
        THotelDescParser record{platform::CurrentSettings().siteBase};
        EXPECT_EQ(log.texts, QStringList{QStringLiteral("COM Init 에러")});
        record.SetUrl("http://hotels.example/x");
        EXPECT_EQ(record.PageUrl, "http://hotels.example/x");
        EXPECT_EQ(CoInitializeCount(), before);
    }
    // The failed initialisation is not given back.
    EXPECT_EQ(CoInitializeCount(), before);
}

TEST_F(NewRecord, OnAnAlreadyInitialisedThreadShowsNothingAndGivesBackItsOwnCount)
{
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const int before = CoInitializeCount();
    {
        THotelDescParser record{platform::CurrentSettings().siteBase};
        EXPECT_EQ(CoInitializeCount(), before + 1);
    }
    EXPECT_EQ(CoInitializeCount(), before);
    EXPECT_TRUE(log.texts.isEmpty());
    CoUninitialize();
}

// ------------------------------------------------------------ loads over HTTP

class DetailLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(site.started());
        settings = site.routedSettings();
        settings.siteBase = QStringLiteral("http://hotels.example");
        settings.pageTimeoutS = 20;
        platform::SetSettings(settings);
    }
    void UseTimeout(int seconds)
    {
        settings.pageTimeoutS = seconds;
        platform::SetSettings(settings);
    }
    static AnsiString DetailUrl(const char* id) { return AnsiString("http://hotels.example/hotsdetail.ctl?hotel=") + id; }

    SampleSite site;
    platform::Settings settings;
    MessageLog log;
};

TEST_F(DetailLoad, PageIsLoadedAndExtracted)
{
    const int before = CoInitializeCount();
    {
        THotelDescParser record{platform::CurrentSettings().siteBase};
        record.SetUrl(DetailUrl("osl-1"));
        record.Parse(platform::CurrentSettings().Page());
        EXPECT_TRUE(record.Loaded());
        EXPECT_EQ(record.PageUrl, DetailUrl("osl-1"));
        EXPECT_EQ(record.Spare, "");
        EXPECT_EQ(record.HeaderBar, "Hôtel Bergström ");
        EXPECT_EQ(record.HotelInfo, "Hôtel Bergström\n1 Harbour Street\nPhone +00 555 01");
        EXPECT_EQ(record.Dining, "Dining: breakfast buffet 06:30-10:00; bistro open until 22:00.");
        EXPECT_EQ(record.Direction, "Directions: 1 km from the airport, follow the signs to the centre.");
        EXPECT_EQ(record.Attractions, "Attractions: old town 1 km, museum quarter, harbour walk.");
        EXPECT_EQ(record.RatingsAwards, "Ratings: 3 stars.");
        EXPECT_EQ(record.PhotoUrl, "http://hotels.example:80/hotsphoto.ctl?hotel=osl-1");
    }
    EXPECT_TRUE(log.texts.isEmpty());
    EXPECT_EQ(CoInitializeCount(), before);
    EXPECT_EQ(site.countRequestsContaining(QStringLiteral("/hotsdetail.ctl?hotel=osl-1")), 1);
}

TEST_F(DetailLoad, TwoRecordsInARowShareNothing)
{
    THotelDescParser first{platform::CurrentSettings().siteBase};
    first.SetUrl(DetailUrl("osl-2"));
    first.Parse(platform::CurrentSettings().Page());
    ASSERT_TRUE(first.Loaded());
    ASSERT_NE(first.Dining, "");

    // A hotel the site does not know: an error page without sections.
    THotelDescParser second{platform::CurrentSettings().siteBase};
    second.SetUrl(DetailUrl("osl-99"));
    second.Parse(platform::CurrentSettings().Page());
    EXPECT_EQ(FieldsOf(second), EmptyExceptUrl(DetailUrl("osl-99")));
    EXPECT_TRUE(log.texts.isEmpty());
}

TEST_F(DetailLoad, DocumentCreationFailureShowsItsMessage)
{
    THotelDescParser record{platform::CurrentSettings().siteBase};
    record.SetUrl(DetailUrl("osl-1"));
    FailNextComCall(ComCall::CoCreateInstance);
    record.Parse(platform::CurrentSettings().Page());
    EXPECT_EQ(log.texts, QStringList{QStringLiteral("MSHTML 생성 실패")});
    EXPECT_FALSE(record.Loaded());
    EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(DetailUrl("osl-1")));
    EXPECT_EQ(site.countRequestsContaining(QStringLiteral("hotsdetail")), 0);
}

TEST_F(DetailLoad, AddressWithoutMonikerShowsItsMessage)
{
    for (const char* address : {"ftp://hotels.example/hotsdetail.ctl?hotel=osl-1", "hotsdetail.ctl?hotel=osl-1", ""}) {
        log.texts.clear();
        THotelDescParser record{platform::CurrentSettings().siteBase};
        record.SetUrl(address);
        record.Parse(platform::CurrentSettings().Page());
        EXPECT_EQ(log.texts, QStringList{QStringLiteral("URL Moniker 생성 실패")}) << address;
        EXPECT_FALSE(record.Loaded());
        EXPECT_FALSE(record.LoadFailure().IsTransient()) << "such an address never loads";
        EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(address));
    }
}

TEST_F(DetailLoad, BindContextFailureShowsItsMessage)
{
    THotelDescParser record{platform::CurrentSettings().siteBase};
    record.SetUrl(DetailUrl("osl-1"));
    FailNextComCall(ComCall::CreateBindCtx);
    record.Parse(platform::CurrentSettings().Page());
    EXPECT_EQ(log.texts, QStringList{QStringLiteral("IBindCtx 생성 실패")});
    EXPECT_FALSE(record.Loaded());
    EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(DetailUrl("osl-1")));
}

TEST_F(DetailLoad, PageSlowerThanTheLimitIsAFailedLoadWithoutMessage)
{
    UseTimeout(1);
    const int before = CoInitializeCount();
    {
        THotelDescParser record{platform::CurrentSettings().siteBase};
        record.SetUrl(DetailUrl("slow-1"));
        record.Parse(platform::CurrentSettings().Page());
        EXPECT_FALSE(record.Loaded());
        EXPECT_EQ(record.LoadFailure().kind, platform::FetchFailure::Kind::Timeout);
        EXPECT_TRUE(record.LoadFailure().IsTransient());
        EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(DetailUrl("slow-1")));
    }
    EXPECT_TRUE(log.texts.isEmpty());
    EXPECT_EQ(CoInitializeCount(), before);
    EXPECT_EQ(site.countRequestsContaining(QStringLiteral("slow-1")), 1);
    site.release(QStringLiteral("slow-1"));
}

TEST_F(DetailLoad, UnreachablePageIsAFailedLoadWithoutMessage)
{
    UseTimeout(2);  // the engine's quick retries then take 350 ms
    QTcpServer probe;  // a port with nothing listening once it is closed
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const std::string url = "http://127.0.0.1:" + std::to_string(probe.serverPort()) + "/hotsdetail.ctl?hotel=osl-1";
    probe.close();
    THotelDescParser record{platform::CurrentSettings().siteBase};
    record.SetUrl(url);
    record.Parse(platform::CurrentSettings().Page());
    EXPECT_FALSE(record.Loaded());
    EXPECT_EQ(record.LoadFailure().kind, platform::FetchFailure::Kind::NoConnection);
    EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(url));
    EXPECT_TRUE(log.texts.isEmpty());
}

// A record's wait keeps events flowing: a second record parses a page to the
// end inside it, and the first still completes once its page arrives.
TEST_F(DetailLoad, NestedParseRunsInsideTheWait)
{
    THotelDescParser outer{platform::CurrentSettings().siteBase};
    THotelDescParser inner{platform::CurrentSettings().siteBase};
    bool innerDone = false;
    // From a timer, as the window's detail timer starts a nested step.
    QTimer::singleShot(1, Application, [&] {
        ASSERT_TRUE(site.waitForRequestContaining(QStringLiteral("slow-2")));
        inner.SetUrl(DetailUrl("osl-3"));
        inner.Parse(platform::CurrentSettings().Page());
        innerDone = true;
        site.release(QStringLiteral("slow-2"));
    });
    outer.SetUrl(DetailUrl("slow-2"));
    outer.Parse(platform::CurrentSettings().Page());
    EXPECT_TRUE(innerDone);
    EXPECT_TRUE(inner.Loaded());
    EXPECT_EQ(inner.PhotoUrl, "http://hotels.example:80/hotsphoto.ctl?hotel=osl-3");
    EXPECT_TRUE(outer.Loaded());
    EXPECT_EQ(outer.PhotoUrl, "http://hotels.example:80/hotsphoto.ctl?hotel=slow-2");
    EXPECT_TRUE(log.texts.isEmpty());
}

// ------------------------------------------------- HTTP error pages

// A loopback server whose /status/N answers status N with a page that holds
// every section marker: only the status tells it from a hotel's page.
class DetailLoadOfErrorStatus : public ::testing::Test {
protected:
    DetailLoadOfErrorStatus() : page_(FixtureText(QStringLiteral("all_markers.html")))
    {
        server_.Get(R"(/status/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content(page_, "text/html; charset=utf-8");
        });
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // One round trip: once it is answered the accept loop runs, so
        // stop() in the destructor cannot come before it.
        httplib::Client("127.0.0.1", port_).Get("/status/204");
    }
    ~DetailLoadOfErrorStatus() override
    {
        server_.stop();
        thread_.join();
    }

    AnsiString Url(int status) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + "/status/" + std::to_string(status);
    }

    const std::string page_;
    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    MessageLog log;
};

TEST_F(DetailLoadOfErrorStatus, PageWithMarkersIsExtractedWhenItAnswers200)
{
    ASSERT_NE(page_.find("Dining"), std::string::npos);
    THotelDescParser record{platform::CurrentSettings().siteBase};
    record.SetUrl(Url(200));
    record.Parse(platform::CurrentSettings().Page());
    EXPECT_TRUE(record.Loaded());
    EXPECT_NE(record.Dining, "");
}

TEST_F(DetailLoadOfErrorStatus, SamePageAnswering404Or500IsAFailedLoad)
{
    platform::Settings quick = platform::CurrentSettings();
    // Short, as the 500 is tried again (700 ms of quick retries), but long
    // enough for the browser engine to start a renderer on a busy machine.
    quick.pageTimeoutS = 3;
    platform::SetSettings(quick);
    for (int status : {404, 500}) {
        THotelDescParser record{platform::CurrentSettings().siteBase};
        record.SetUrl(Url(status));
        record.Parse(platform::CurrentSettings().Page());
        EXPECT_FALSE(record.Loaded()) << status;
        EXPECT_EQ(record.LoadFailure().kind, platform::FetchFailure::Kind::HttpStatus) << status;
        EXPECT_EQ(record.LoadFailure().httpStatus, status);
        EXPECT_EQ(FieldsOf(record), EmptyExceptUrl(Url(status))) << status;
    }
    EXPECT_TRUE(log.texts.isEmpty());
}

}  // namespace
