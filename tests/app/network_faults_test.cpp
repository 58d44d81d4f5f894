// The window loses nothing to the network: a detail page that fails keeps
// its link (in "Going", with its count) until it loads or is given up and
// recorded; a destination whose search failed or was cut short is searched
// again after the list; the typed list outlives the window.

#include "detail/DetailQueue.h"
#include "platform/engine/Engine.h"
#include "store/Destinations.h"
#include "store/Failures.h"
#include "store/Going.h"
#include "store/Staymarker.h"
#include "support/FormAccess.h"
#include "support/LoopbackSite.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/TestDatabase.h"

#include "platform/db/Alias.h"
#include "tests/support/ThisDesk.h"

#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <set>

namespace {

using Fault = LoopbackSite::Fault;

// A detail page with one section, so that its hotel is kept.
std::string HotelPage(int n)
{
    return "<html><body><table><tr><td><span name=\"hotel_info\"></span>Hotel number " + std::to_string(n)
           + "</td></tr></table></body></html>";
}

class NetworkFaults : public ::testing::Test {
protected:
    LoopbackSite site;
    std::unique_ptr<TestDatabase> db;
    RecordedMessages recorded;

    void SetUp() override
    {
        platform::Settings s;
        s.timerIntervalMs = 60000;  // only the steps a test runs itself
        s.pageTimeoutS = 2;         // quick retries of 66, 133 and 266 ms fit in it
        s.siteBase = QStringLiteral("http://127.0.0.1:%1").arg(site.Port());
        db = std::make_unique<TestDatabase>(s);
    }

    Hotel_Url Link(int n, const char* airport = "osl") const
    {
        return {ToAnsi(site.Url(QStringLiteral("/%1/hotsdetail.ctl?hotel=%1").arg(n))), airport};
    }
    std::string Path(int n) const { return "/" + std::to_string(n) + "/hotsdetail.ctl"; }
    void ServeHotel(int n) { site.Serve(Path(n), HotelPage(n)); }

    static store::GoingRetries GoingRetries()
    {
        std::vector<Hotel_Url> rows;
        store::GoingRetries retries;
        store::LoadGoing(ThisDesk(), rows, &retries);
        return retries;
    }
    static std::set<AnsiString> Kept()
    {
        std::set<AnsiString> urls;
        for (const auto& row : store::ReadAllHotels())
            urls.insert(row.Url);
        return urls;
    }
    // One slot of Timer1: the 61st tick.
    static void Slot(TForm1& form)
    {
        TForm1TestAccess(form).SearchTicks() = 60;
        form.Timer1Timer(form.Timer1);
    }
    static bool Idle(TForm1& form) { return !form.CppWebBrowser1->Busy(); }
};

TEST_F(NetworkFaults, FailedPageKeepsItsLinkAndCountUntilTheSiteAnswersAgain)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ServeHotel(1);
    site.Status(Path(2), 503);
    f.PendingLinks() = {Link(1), Link(2)};
    // Both links are in "Going", as after their result page.
    store::GoingWriter(ThisDesk()).Added({Link(1), Link(2)});

    f.ProcessNextDetail();  // 2 fails, after the engine's quick retries
    EXPECT_EQ(site.Requests(Path(2)), 4);
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{Link(1), Link(2)}));
    const auto retries = GoingRetries();
    ASSERT_EQ(retries.count(Link(2).Url), 1u);
    EXPECT_EQ(retries.at(Link(2).Url).attempts, 1);
    EXPECT_EQ(retries.at(Link(2).Url).lastFailure, "HTTP 503");
    EXPECT_EQ(f.RetryLinks().Links().size(), 1u);

    f.ProcessNextDetail();  // a link that never failed goes on meanwhile
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(1).Url});

    ServeHotel(2);
    f.ProcessNextDetail();  // 2's wait (one step's worth of ticks) is not over
    EXPECT_EQ(site.Requests(Path(2)), 4);
    f.DetailClock() += store::kFirstRetryTicks;
    f.ProcessNextDetail();
    EXPECT_EQ(Kept(), (std::set<AnsiString>{Link(1).Url, Link(2).Url}));
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
    EXPECT_TRUE(store::ReadFailures().empty());
}

TEST_F(NetworkFaults, DroppedConnectionsAndTimeOutsAreTriedAgainToo)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    site.Drop(Path(3));
    site.Hold(Path(4));  // never answers within the page time-out
    f.PendingLinks() = {Link(3), Link(4)};
    f.ProcessNextDetail();
    f.ProcessNextDetail();
    site.Release();
    EXPECT_EQ(f.RetryLinks().Links().size(), 2u);
    EXPECT_TRUE(f.PendingLinks().empty());
    EXPECT_TRUE(store::ReadFailures().empty());
}

TEST_F(NetworkFaults, PermanentFailureIsGivenUpAtOnceAndRecorded)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    site.Status(Path(5), 404);
    f.PendingLinks() = {Link(5, "adl")};
    store::GoingWriter(ThisDesk()).Added({Link(5, "adl")});
    f.ProcessNextDetail();
    EXPECT_EQ(site.Requests(Path(5)), 1) << "a 404 is not retried";
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
    const auto failures = store::ReadFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].kind, store::kFailureLink);
    EXPECT_EQ(failures[0].url, Link(5).Url);
    EXPECT_EQ(failures[0].airPort, "adl");
    EXPECT_EQ(failures[0].reason, "HTTP 404");
    EXPECT_EQ(failures[0].attempts, 1);
}

TEST_F(NetworkFaults, LinkFailingPastBothBoundsIsGivenUpAndRecordedWithItsAttempts)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    site.Status(Path(6), 503);
    store::RetryState tired;
    tired.attempts = store::kGiveUpAttempts - 1;
    tired.failingTicks = store::kGiveUpTicks;
    f.RetryLinks().Add(Link(6), tired, 0);
    store::GoingWriter(ThisDesk()).Added({Link(6)});
    f.ProcessNextDetail();
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
    const auto failures = store::ReadFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].attempts, store::kGiveUpAttempts);
}

TEST_F(NetworkFaults, RestartContinuesTheCountOfAFailedLink)
{
    site.Status(Path(7), 503);
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        f.PendingLinks() = {Link(7)};
        store::GoingWriter(ThisDesk()).Added({Link(7)});
        f.ProcessNextDetail();
        f.DetailClock() += 20;  // a third of the wait passes before the close
        form.show();
        form.close();  // the close's own step finds nothing due
    }
    EXPECT_EQ(site.Requests(Path(7)), 4);
    const auto saved = GoingRetries();
    ASSERT_EQ(saved.count(Link(7).Url), 1u);
    EXPECT_EQ(saved.at(Link(7).Url).attempts, 1);
    EXPECT_EQ(saved.at(Link(7).Url).retryInTicks, store::kFirstRetryTicks - 20);

    ServeHotel(7);
    TForm1 again{ThisDesk()};
    TForm1TestAccess g(again);
    ASSERT_TRUE(g.ResumeMode());
    again.Button2->click();  // the resume press's step: still waiting
    EXPECT_EQ(site.Requests(Path(7)), 4);
    ASSERT_EQ(g.RetryLinks().Links().size(), 1u);
    g.DetailClock() += store::kFirstRetryTicks - 20;
    g.ProcessNextDetail();
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(7).Url});
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
}

TEST_F(NetworkFaults, StepNestedPastTheLimitLeavesItsLinkQueued)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ServeHotel(8);
    f.PendingLinks() = {Link(8)};
    f.InProgressLinks().assign(kMaxDetailNesting, Link(99));  // steps waiting for their pages
    f.ProcessNextDetail();
    EXPECT_EQ(f.PendingLinks(), TPendingLinks{Link(8)});
    EXPECT_EQ(site.Requests(Path(8)), 0);
    f.InProgressLinks().clear();
    f.ProcessNextDetail();
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(8).Url});
}

TEST_F(NetworkFaults, LinkWhoseHotelRowCouldNotBeStoredStaysInGoingThroughTheClose)
{
    ServeHotel(10);
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        f.PendingLinks() = {Link(10)};
        store::GoingWriter(ThisDesk()).Added({Link(10)});
        TestDatabase::Exec("ALTER TABLE \"Staymarker\" RENAME TO \"Elsewhere\"");
        f.ProcessNextDetail();  // the page loads; its row cannot be stored
        form.show();
        form.close();
    }
    EXPECT_EQ(TestDatabase::ReadGoing(), TPendingLinks{Link(10)});

    // With the table back, the next run keeps the hotel.
    TestDatabase::Exec("ALTER TABLE \"Elsewhere\" RENAME TO \"Staymarker\"");
    TForm1 again{ThisDesk()};
    ASSERT_TRUE(TForm1TestAccess(again).ResumeMode());
    again.Button2->click();
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(10).Url});
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
}

// A result page: its hotels and, when given, a "Next" link.
std::string ResultPage(std::initializer_list<int> hotels, const std::string& next = {})
{
    std::string html = "<html><body>";
    for (int n : hotels)
        html += "<a name=\"h" + std::to_string(n) + "\" href=\"/" + std::to_string(n) + "/hotsdetail.ctl?hotel="
                + std::to_string(n) + "\">Hotel</a>";
    if (!next.empty())
        html += "<a name=\"next\" href=\"" + next + "\">Next</a>";
    return html + "</body></html>";
}

// "dst" is searched from a press; its first result page loads, and its
// page 2 fails every time (twice over: queued, then queued again by the
// pass on its failed document, 4 requests each).
class DestinationWithFailingPage : public NetworkFaults {
protected:
    void PressAndLetPageTwoFail(TForm1& form)
    {
        site.Serve("/cannonball.ctl", ResultPage({1}, "/hotsavail.ctl?airport=dst&page=2"));
        site.Status("/hotsavail.ctl", 503);
        ServeHotel(1);
        ServeHotel(2);
        form.Memo2->setPlainText("dst");
        form.Button2->click();
        ASSERT_TRUE(PumpUntil([&] { return site.Requests("/hotsavail.ctl") >= 8 && Idle(form); }));
    }
};

TEST_F(DestinationWithFailingPage, IsOwedAndSearchedAgainToItsLastPage)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    PressAndLetPageTwoFail(form);
    ASSERT_TRUE(f.CurrentSearch());
    ASSERT_TRUE(f.CurrentSearch()->failure);
    EXPECT_EQ(f.CurrentSearch()->failure->httpStatus, 503);

    // The next slot finds it unfinished: owed, and past the list the slot
    // goes to the empty code while its wait lasts.
    Slot(form);
    ASSERT_EQ(f.OwedDestinations().size(), 1u);
    EXPECT_EQ(f.OwedDestinations()[0].code, "dst");
    EXPECT_TRUE(f.SearchUrl().find("&airport=&state=") != std::string::npos);
    const auto saved = store::ReadDestinations(ThisDesk());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(saved[0].owed);
    EXPECT_EQ(saved[0].retry.attempts, 1);

    // Searched again once its wait is over, it follows its paging link
    // afresh, though the failed attempt counted it twice already.
    site.Serve("/hotsavail.ctl", ResultPage({2}));
    ASSERT_TRUE(PumpUntil([&] { return Idle(form); }));
    f.SearchClock() += store::kFirstRetryTicks;
    Slot(form);
    EXPECT_EQ(f.DestCode(), "dst");
    ASSERT_TRUE(PumpUntil([&] { return Kept().count(Link(2).Url) && Idle(form); }));
    for (const auto& row : store::ReadAllHotels())
        EXPECT_EQ(row.AirPort, "dst");
    ASSERT_TRUE(f.CurrentSearch());
    EXPECT_TRUE(f.CurrentSearch()->done);
    EXPECT_TRUE(store::ReadDestinations(ThisDesk()).empty()) << "nothing is left of the list";
}

TEST_F(DestinationWithFailingPage, SearchedAgainByASecondPressFollowsItsPagesThoughTheFirstCountedThem)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    PressAndLetPageTwoFail(form);
    // Page 2's link is counted past following.
    ASSERT_GE(f.NextPageCounts().begin()->second, 3);

    // The operator presses again: the list starts over, and its search of
    // "dst" reaches page 2 all the same.
    site.Serve("/hotsavail.ctl", ResultPage({2}));
    form.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return Kept().count(Link(2).Url) && Idle(form); }));
}

TEST_F(NetworkFaults, SearchCutShortByTheNextSlotIsOwed)
{
    site.Hold("/cannonball.ctl");
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    form.Memo2->setPlainText("slo\nnil");
    form.Button2->click();
    Slot(form);  // "nil" replaces the search of "slo" still loading
    site.Release();
    ASSERT_EQ(f.OwedDestinations().size(), 1u);
    EXPECT_EQ(f.OwedDestinations()[0].code, "slo");
    EXPECT_EQ(f.OwedDestinations()[0].state.lastFailure, "cut short by the next search");
}

TEST_F(NetworkFaults, TypedListNotYetSearchedComesBackAfterAKillAndAFinishedOneDoesNot)
{
    site.Serve("/cannonball.ctl", ResultPage({}));
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        form.Memo2->setPlainText("aaa\nbbb\nccc");
        form.Button2->click();
        ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));
        // No close: as after a kill, only what is on disk survives.
    }
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        EXPECT_EQ(form.Memo2->toPlainText(), "bbb\nccc");
        EXPECT_FALSE(f.ResumeMode());
        form.Button2->click();
        EXPECT_TRUE(f.SearchUrl().find("&airport=bbb&") != std::string::npos);
        ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));
        Slot(form);
        ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));
        form.show();
        form.close();
    }
    EXPECT_TRUE(store::ReadDestinations(ThisDesk()).empty());
    TForm1 fresh{ThisDesk()};
    EXPECT_EQ(fresh.Memo2->toPlainText(), "osl\nadl") << "a finished list starts as the window always did";
}

TEST_F(NetworkFaults, ResumePressAlsoSearchesTheRestoredListFromItsFirstLine)
{
    site.Serve("/cannonball.ctl", ResultPage({}));
    store::GoingWriter earlier{ThisDesk()};
    earlier.Added({Link(9)});
    earlier.Destinations({{"bbb", false, {}}, {"ccc", true, {}}});
    ASSERT_TRUE(earlier.Flush());
    ServeHotel(9);
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ASSERT_TRUE(f.ResumeMode());
    EXPECT_EQ(form.Memo2->toPlainText(), "bbb\nccc");
    form.Button2->click();
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(9).Url}) << "the pending link is resumed";
    EXPECT_TRUE(f.SearchUrl().find("&airport=bbb&") != std::string::npos) << "and line 0 is searched";
}

// ---------------------------------------------------------------- frames

// A result page with an ad frame at `ad` before its hotels.
std::string ResultPageWithFrame(const std::string& ad, std::initializer_list<int> hotels, const std::string& next = {})
{
    std::string html = ResultPage(hotels, next);
    return html.insert(html.find("<body>") + 6, "<iframe src=\"" + ad + "\"></iframe>");
}

TEST_F(NetworkFaults, FrameWithoutANextLinkDoesNotFinishTheDestinationItsPageStillPages)
{
    site.Serve("/cannonball.ctl", ResultPageWithFrame("/ad", {1}, "/hotsavail.ctl?airport=frm&page=2"));
    site.Serve("/ad", "<html><body><p>advertisement</p></body></html>");
    site.Hold("/hotsavail.ctl");
    ServeHotel(1);
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    form.Memo2->setPlainText("frm");
    form.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return site.Requests("/hotsavail.ctl") >= 1; }));
    ASSERT_TRUE(f.CurrentSearch());
    EXPECT_FALSE(f.CurrentSearch()->done) << "page 2 is still loading";

    // The next slot replaces page 2 still loading: the destination is owed.
    Slot(form);
    site.Release();
    ASSERT_EQ(f.OwedDestinations().size(), 1u);
    EXPECT_EQ(f.OwedDestinations()[0].code, "frm");
    EXPECT_EQ(f.OwedDestinations()[0].state.lastFailure, "cut short by the next search");
}

TEST_F(NetworkFaults, AdFrameAnswering404IsNoFailureOfTheDestination)
{
    site.Serve("/cannonball.ctl", ResultPageWithFrame("/ad", {1}, "/hotsavail.ctl?airport=frm&page=2"));
    site.Serve("/hotsavail.ctl", ResultPageWithFrame("/ad", {2}));
    site.Status("/ad", 404);
    ServeHotel(1);
    ServeHotel(2);
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    form.Memo2->setPlainText("frm");
    ::testing::internal::CaptureStderr();
    form.Button2->click();
    ASSERT_TRUE(PumpUntil([&] { return Kept().count(Link(2, "frm").Url) && Idle(form); }));
    const std::string reported = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(f.CurrentSearch());
    EXPECT_TRUE(f.CurrentSearch()->done);
    EXPECT_FALSE(f.CurrentSearch()->failure);
    Slot(form);
    EXPECT_TRUE(f.OwedDestinations().empty());
    EXPECT_TRUE(store::ReadFailures().empty());
    // Our own engine knows each frame's answer; the browser engine tells the
    // page's alone, and the frame is just an error page the page may read.
    if (platform::engine::EngineInUse() == platform::BrowserEngine::Html) {
        EXPECT_NE(reported.find("frame not loaded (HTTP 404)"), std::string::npos) << reported;
    }
}

// ---------------------------------------------------------------- the typed list in resume mode

TEST_F(NetworkFaults, TypedListPressedInResumeModeIsSearchedFromLineZeroKeptAndOwed)
{
    site.Serve("/cannonball.ctl", ResultPage({}));
    // The search of line 0 fails, quick retries included.
    site.FailTimes("/cannonball.ctl", 4, Fault::Answering(503));
    store::GoingWriter earlier{ThisDesk()};
    earlier.Added({Link(9)});
    ASSERT_TRUE(earlier.Flush());
    ServeHotel(9);
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ASSERT_TRUE(f.ResumeMode());
    form.Memo2->setPlainText("aaa\nbbb");
    form.Button2->click();
    EXPECT_EQ(Kept(), std::set<AnsiString>{Link(9).Url}) << "the pending link is resumed";
    EXPECT_NE(f.SearchUrl().find("&airport=aaa&"), std::string::npos) << "line 0 is searched";
    EXPECT_EQ(store::ReadDestinations(ThisDesk()),
              (std::vector<store::DestinationEntry>{{"aaa", false, {}}, {"bbb", false, {}}}));
    ASSERT_TRUE(PumpUntil([&] { return site.Requests("/cannonball.ctl") >= 4 && Idle(form); }));

    Slot(form);
    EXPECT_NE(f.SearchUrl().find("&airport=bbb&"), std::string::npos);
    ASSERT_EQ(f.OwedDestinations().size(), 1u);
    EXPECT_EQ(f.OwedDestinations()[0].code, "aaa");
    ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));

    // Past the list, the owed line is searched again once its wait is over.
    f.SearchClock() += store::kFirstRetryTicks;
    Slot(form);
    EXPECT_EQ(f.DestCode(), "aaa");
    ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));
    EXPECT_TRUE(store::ReadDestinations(ThisDesk()).empty()) << "every line is finished";
}

// ---------------------------------------------------------------- a list that could not be read

class UnreadableDestinations : public NetworkFaults {
protected:
    // The earlier run left a line waiting and one owed twice over.
    void SetUp() override
    {
        NetworkFaults::SetUp();
        site.Serve("/cannonball.ctl", ResultPage({}));
        store::GoingWriter earlier{ThisDesk()};
        earlier.Destinations({{"old1", false, {}}, {"old2", true, Owed()}});
        ASSERT_TRUE(earlier.Flush());
    }
    static store::RetryState Owed()
    {
        store::RetryState state;
        state.attempts = 2;
        state.lastFailure = "HTTP 503";
        return state;
    }
    // Another connection holds the database exclusively until Unlock().
    void Lock()
    {
        holder_ = OpenAliasDatabase("Hotels_Db", kHolder);
        QSqlQuery q(holder_);
        ASSERT_TRUE(q.exec("BEGIN EXCLUSIVE")) << q.lastError().text().toStdString();
    }
    void Unlock()
    {
        QSqlQuery(holder_).exec("ROLLBACK");
        holder_.close();
        holder_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(kHolder);
    }
    static std::vector<AnsiString> SavedCodes()
    {
        std::vector<AnsiString> codes;
        for (const auto& entry : store::ReadDestinations(ThisDesk()))
            codes.push_back(entry.code);
        return codes;
    }

    inline static const QString kHolder = QStringLiteral("unreadable_destinations_holder");
    QSqlDatabase holder_;
};

TEST_F(UnreadableDestinations, PressAfterTheLockIsGoneSearchesTheSavedLinesWithTheTypedOnes)
{
    Lock();
    ::testing::internal::CaptureStderr();
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    Unlock();
    EXPECT_NE(reported.find("could not read the unfinished destinations"), std::string::npos) << reported;
    EXPECT_NE(form.Memo1->toPlainText().indexOf(QStringLiteral("could not read the unfinished destinations")), -1);

    form.Memo2->setPlainText("adl");
    form.Button2->click();
    EXPECT_EQ(form.Memo2->toPlainText(), "adl\nold1\nold2");
    EXPECT_EQ(SavedCodes(), (std::vector<AnsiString>{"adl", "old1", "old2"}));
    EXPECT_EQ(store::ReadDestinations(ThisDesk()).back().retry.attempts, 2) << "the owed line keeps its count";
}

TEST_F(UnreadableDestinations, WritesWhileItCannotBeReadLeaveItsRowsAndTheNextOneBringsThemBack)
{
    Lock();
    ::testing::internal::CaptureStderr();
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    form.Memo2->setPlainText("adl");
    form.Button2->click();  // read again, and still locked: nothing is written
    ::testing::internal::GetCapturedStderr();
    Unlock();
    EXPECT_EQ(SavedCodes(), (std::vector<AnsiString>{"old1", "old2"}));

    // The next write reads them first: they are owed after the list.
    ASSERT_TRUE(PumpUntil([&] { return f.CurrentSearch() && f.CurrentSearch()->done; }));
    EXPECT_EQ(SavedCodes(), (std::vector<AnsiString>{"old1", "old2"}));
    ASSERT_EQ(f.OwedDestinations().size(), 2u);
    EXPECT_EQ(f.OwedDestinations()[1].state.attempts, 2);
    Slot(form);
    EXPECT_EQ(f.DestCode(), "old1");
}

}  // namespace
