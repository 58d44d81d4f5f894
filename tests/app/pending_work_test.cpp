// The window keeps "Going" exact while it runs: every queued link is on disk
// at once, the link in progress stays there until its page was handled, a
// window that dies without closing leaves every unhandled link behind, and
// the close reconciles the table without writing a row twice or dropping
// rows of an earlier run it never read.

#include "platform/db/Alias.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "store/Going.h"
#include "store/InstanceLock.h"
#include "support/FormAccess.h"
#include "support/LoopbackSite.h"
#include "support/RecordedMessages.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <functional>

namespace {

// A result page whose detail links answer 404 (their host is routed to a
// loopback site that has no such page), so each detail step gives its link
// up at once. With `base` "ftp:" no address can be made of them at all, and
// each step shows "URL Moniker 생성 실패" while it is in progress.
QString ResultPage(std::initializer_list<const char*> ids, const char* base = "http://hotels.example")
{
    QString html = QStringLiteral("<html><body>");
    for (const char* id : ids)
        html += QStringLiteral("<a name=\"h%1\" href=\"%2/hotsdetail.ctl?hotel=%1\">Hotel</a>")
                    .arg(QLatin1String(id), QLatin1String(base));
    return html + QStringLiteral("</body></html>");
}

AnsiString Detail(const char* id, const char* base = "http://hotels.example")
{
    return AnsiString(base) + "/hotsdetail.ctl?hotel=" + id;
}

class PendingWork : public ::testing::Test {
protected:
    LoopbackSite site;  // answers 404 to every detail page
    std::unique_ptr<TestDatabase> db = std::make_unique<TestDatabase>(Slow());
    RecordedMessages recorded;

    platform::Settings Slow() const
    {
        platform::Settings s;
        s.timerIntervalMs = 60000;  // only the steps a test runs itself
        s.routes.push_back({QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), site.Port()});
        return s;
    }

    // One pass of the crawler over `html`, as the browser would deliver it.
    static void Pass(TForm1TestAccess& f, const QString& html)
    {
        ComPtr<IHTMLDocument2> doc;
        ASSERT_EQ(CreateDocumentFromHtml(html, QUrl("http://hotels.example/hotsavail.ctl?airport=osl"), doc), S_OK);
        f.SearchStarted() = 1;
        f.DestCode() = "osl";
        f.CrawlResultPage(doc.get());
    }

    // Runs `during` whenever a message box is shown: a detail step of an
    // unloadable link shows one while it is still in progress.
    void OnMessage(std::function<void(const QString&)> during) { during_ = std::move(during); }

    void SetUp() override
    {
        probeRecorder_.onMessage = [this](const QString& text) {
            recorded.texts << text;
            if (during_)
                during_(text);
        };
        probeRecorder_.onError = [this](const QString& text) { recorded.texts << "error: " + text; };
        probeInstalled_.emplace(probeRecorder_);
    }
    void TearDown() override { probeInstalled_.reset(); }

    void BreakDatabase()
    {
        saved_ = platform::CurrentSettings();
        platform::Settings broken = saved_;
        broken.hotelsDb = "sqlite:/nonexistent-folder/for/sure/Hotels_Db.sqlite";
        platform::SetSettings(broken);
    }
    void MendDatabase() { platform::SetSettings(saved_); }

private:
    MessageCallbacks probeRecorder_;
    std::optional<ScopedMessageSink> probeInstalled_;
    std::function<void(const QString&)> during_;
    platform::Settings saved_;
};

TEST_F(PendingWork, QueuedLinksAreInGoingAtOnceAndTheLinkInProgressStaysUntilHandled)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    std::vector<TPendingLinks> goingDuringStep;
    OnMessage([&](const QString&) { goingDuringStep.push_back(TestDatabase::ReadGoing()); });

    const char* ftp = "ftp://hotels.example";
    Pass(f, ResultPage({"1", "2", "3"}, ftp));

    // The pass's own detail turn took hotel 3; while it was in progress all
    // three were in "Going", and once it was handled only the other two are.
    ASSERT_EQ(goingDuringStep.size(), 1u);
    EXPECT_EQ(goingDuringStep[0],
              (TPendingLinks{{Detail("1", ftp), "osl"}, {Detail("2", ftp), "osl"}, {Detail("3", ftp), "osl"}}));
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("1", ftp), "osl"}, {Detail("2", ftp), "osl"}}));
    EXPECT_EQ(TestDatabase::ReadGoing(), f.PendingLinks());
}

TEST_F(PendingWork, WindowThatDiesWithoutClosingLeavesEveryUnhandledLinkForTheNextRun)
{
    {
        TForm1 form{ThisDesk()};
        TForm1TestAccess f(form);
        Pass(f, ResultPage({"1", "2"}));
        Pass(f, ResultPage({"1", "2", "4"}));  // a later page: only hotel 4 is new
        // No close: as after a crash, only what is on disk survives.
    }
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("1"), "osl"}}))
        << "each pass handled its last new link; nothing is written twice";
    TForm1 next{ThisDesk()};
    TForm1TestAccess g(next);
    EXPECT_TRUE(g.ResumeMode());
}

TEST_F(PendingWork, CloseInResumeModeBeforeThePressKeepsTheEarlierRowsAndAddsOnlyNewLinks)
{
    store::GoingWriter earlier{ThisDesk()};
    earlier.Added({{Detail("8"), "adl"}, {Detail("9"), "adl"}});
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ASSERT_TRUE(f.ResumeMode());
    Pass(f, ResultPage({"1", "2", "9"}));  // 9 is one of the earlier rows, collected again
    form.show();
    form.close();
    // The close handled 2 (the pass handled 9), and "Going" holds every
    // unhandled link exactly once.
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("8"), "adl"}, {Detail("1"), "osl"}}));
}

TEST_F(PendingWork, ProbeThatCouldNotOpenGoingNeverLetsTheCloseDeleteItsRows)
{
    store::GoingWriter earlier{ThisDesk()};
    earlier.Added({{Detail("8"), "adl"}});
    BreakDatabase();
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    EXPECT_FALSE(f.ResumeMode());
    MendDatabase();  // the table is back by the time the window closes
    f.PendingLinks() = {{Detail("1"), "osl"}, {Detail("2"), "osl"}};
    form.show();
    form.close();
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("8"), "adl"}, {Detail("1"), "osl"}}));
}

TEST_F(PendingWork, ResumeLoadThatCouldNotOpenGoingNeverLetsTheCloseDeleteItsRows)
{
    store::GoingWriter earlier{ThisDesk()};
    earlier.Added({{Detail("8"), "adl"}});
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ASSERT_TRUE(f.ResumeMode());
    BreakDatabase();
    form.Button2->click();
    MendDatabase();
    form.show();
    form.close();
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("8"), "adl"}}));
    EXPECT_EQ(recorded.texts.count("Table Open Exception"), 1);
}

TEST_F(PendingWork, SaveAtCloseThatFailsAfterOpeningIsReportedAndTheWindowClosesWithTheLinksOnDisk)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    Pass(f, ResultPage({"1", "2", "3"}));
    // A row of this desk the window never read must go at the close, and
    // deleting it fails: the close's rewrite cannot complete.
    TestDatabase::Exec(QStringLiteral("INSERT INTO \"Going\" (\"Url\", \"AirPort\", \"Desk\") VALUES ('stray', 'x', '%1')")
                           .arg(ThisDesk().Name()));
    TestDatabase::Exec("CREATE TRIGGER refuse BEFORE DELETE ON \"Going\" WHEN OLD.\"Url\" = 'stray' "
                       "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    form.show();
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(recorded.texts.filter("error: ").filter("disk full").size() == 1) << recorded.texts.join('\n').toStdString();
    // The close handled hotel 2; hotel 1 is still on disk from the write-through.
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{Detail("1"), "osl"}, {"stray", "x"}}));
}

TEST_F(PendingWork, NoResultPagePassRunsOnceTheCloseHasBegun)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    f.PendingLinks() = {{Detail("1", "ftp://hotels.example"), "osl"}};
    f.SearchStarted() = 1;
    ComPtr<IHTMLDocument2> page;
    ASSERT_EQ(CreateDocumentFromHtml(ResultPage({"5"}), QUrl("http://hotels.example/"), page), S_OK);
    // The close's detail step shows a message while it runs; a page that
    // completes then must not reach the crawler, whose lists are going away.
    OnMessage([&](const QString&) { form.CppWebBrowser1DocumentComplete(&form, page.get(), nullptr); });
    const int logLines = form.Memo1->Lines->Count();
    form.show();
    form.close();
    EXPECT_EQ(form.Memo1->Lines->Count(), logLines) << "no pass logged anything";
    EXPECT_TRUE(TestDatabase::ReadGoing().empty());
    // And after the close, neither a page nor a tick does anything.
    form.CppWebBrowser1DocumentComplete(&form, page.get(), nullptr);
    EXPECT_EQ(form.Memo1->Lines->Count(), logLines);
}

TEST_F(PendingWork, PageCompletingDuringTheStartUpMessageBoxIsNotCrawled)
{
    // The timers tick from construction on, so while the start-up probe's
    // "Table Open Exception" box waits, Timer1 can search and the page can
    // complete before FormCreate has made the link lists.
    BreakDatabase();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));  // the window's own comes after the probe
    ComPtr<IHTMLDocument2> page;
    ASSERT_EQ(CreateDocumentFromHtml(ResultPage({"5"}), QUrl("http://hotels.example/"), page), S_OK);
    OnMessage([&](const QString&) {
        ASSERT_NE(Form1, nullptr);
        for (int tick = 0; tick <= 60; ++tick)
            Form1->Timer1Timer(Form1->Timer1);
        Form1->CppWebBrowser1DocumentComplete(Form1, page.get(), nullptr);
    });
    TForm1 form{ThisDesk()};
    MendDatabase();
    TForm1TestAccess f(form);
    EXPECT_TRUE(f.PendingLinks().empty());
    // The memo says the unreadable list, and no pass logged a page.
    EXPECT_FALSE(form.Memo1->toPlainText().contains(QStringLiteral("First Page"))) << "no pass logged anything";
    page.reset();
    CoUninitialize();
}

TEST_F(PendingWork, SecondProgramOnTheSameDatabaseIsRefused)
{
    store::InstanceLock first(ThisDesk().Name());
    const auto held = first.Acquire();
    ASSERT_EQ(held.outcome, store::InstanceLock::Outcome::Held) << held.detail.toStdString();
    store::InstanceLock second(ThisDesk().Name());
    const auto refused = second.Acquire();
    EXPECT_EQ(refused.outcome, store::InstanceLock::Outcome::HeldElsewhere);
    EXPECT_TRUE(refused.detail.contains(".lock")) << refused.detail.toStdString();
}

}  // namespace
