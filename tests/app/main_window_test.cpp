// The main window at start-up and close: its controls, the probe of "Going",
// COM, the close handler and closing on termination signals.

#include "app/CloseOnSignals.h"
#include "platform/html/Com.h"
#include "store/Going.h"
#include "support/FormAccess.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <QSqlDatabase>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <csignal>

namespace {

class MainWindow : public ::testing::Test {
protected:
    std::unique_ptr<TestDatabase> db = std::make_unique<TestDatabase>();
    RecordedMessages recorded;
    QStringList& messages = recorded.texts;


    void saveGoing(const TPendingLinks& rows)
    {
        ASSERT_TRUE(store::SaveGoing(ThisDesk(), rows, store::GoingSave::Replace).opened);
    }
    void breakTheDatabase()
    {
        platform::Settings broken = platform::CurrentSettings();
        broken.hotelsDb = "sqlite:/nonexistent-folder/for/sure/Hotels_Db.sqlite";
        platform::SetSettings(broken);
    }
};

TEST_F(MainWindow, ControlsHaveTheirStoredContents)
{
    TForm1 form{ThisDesk()};
    EXPECT_EQ(form.windowTitle(), "Form1");
    EXPECT_EQ(form.Memo2->toPlainText(), "osl\nadl");
    EXPECT_EQ(form.Memo1->toPlainText(), "Memo1");
    EXPECT_EQ(form.Button2->text(), "Navigation");
    EXPECT_EQ(form.Panel2->Caption(), "Panel2");
    EXPECT_EQ(form.Panel1->Caption(), "Panel1");
    EXPECT_EQ(form.Timer1->Interval(), 1000);
    EXPECT_TRUE(form.Timer1->Enabled());
    EXPECT_TRUE(form.Timer2->Enabled());
    EXPECT_EQ(form.Table2->TableName(), "Staymarker");
    EXPECT_FALSE(form.Table2->Active());

    form.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form.size(), QSize(1067, 794));
    EXPECT_EQ(form.pos(), QPoint(138, 120));
    EXPECT_EQ(form.Panel2->width(), 361);
    EXPECT_EQ(form.Memo1->height(), 345);
    EXPECT_EQ(form.Button2->geometry(), QRect(8, 376, 129, 25));
    form.resize(1400, 900);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.Panel2->width(), 361) << "the left pane keeps its width";
    EXPECT_EQ(form.Memo1->height(), 345);
}

TEST_F(MainWindow, EmptyGoingStartsInMemoMode)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    EXPECT_FALSE(f.ResumeMode());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(f.DetailLinks());
    EXPECT_EQ(f.SearchStarted(), 0);
}

TEST_F(MainWindow, SavedRowsStartInResumeMode)
{
    saveGoing({{"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"}});
    TForm1 form{ThisDesk()};
    EXPECT_TRUE(TForm1TestAccess(form).ResumeMode());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindow, UnopenableGoingShowsOneMessageAndTheWindowStillOpens)
{
    breakTheDatabase();
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    EXPECT_EQ(messages, QStringList({"Table Open Exception"}));
    EXPECT_FALSE(f.ResumeMode());
    EXPECT_TRUE(f.DetailLinks());
    form.show();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(MainWindow, ComStaysInitialisedFromCreationToClose)
{
    const int before = CoInitializeCount();
    {
        TForm1 form{ThisDesk()};
        EXPECT_EQ(CoInitializeCount(), before + 1);
        form.show();
        form.close();
        EXPECT_EQ(CoInitializeCount(), before);
    }
}

TEST_F(MainWindow, CloseSavesPendingLinksInOrderAndEmptiesTheLinkLists)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    // Unloadable addresses: the close's detail step fails at once.
    f.PendingLinks() = {{"ftp://a", "osl"}, {"ftp://b", ""}, {"ftp://c", "adl"}};
    f.LinkCounts()["x"] = 1;
    f.NextPageCounts()["y"] = 1;
    form.show();
    form.close();
    // The close's detail step handled the last link, so its row is gone too.
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{"ftp://a", "osl"}, {"ftp://b", ""}}));
    EXPECT_FALSE(f.DetailLinks());
    EXPECT_TRUE(f.LinkCounts().empty());
    EXPECT_TRUE(f.NextPageCounts().empty());
    EXPECT_EQ(f.PendingLinks().size(), 2u) << "the close's detail step took the last record";
    EXPECT_EQ(messages, QStringList({"URL Moniker 생성 실패"}));
}

TEST_F(MainWindow, CloseInResumeModeBeforeLoadingKeepsTheSavedRows)
{
    saveGoing({{"ftp://saved", "osl"}});
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    ASSERT_TRUE(f.ResumeMode());
    form.show();
    form.close();
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{"ftp://saved", "osl"}}));
}

TEST_F(MainWindow, CloseWithAnUnopenableGoingStillCloses)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    f.PendingLinks() = {{"ftp://a", "osl"}};
    form.show();
    breakTheDatabase();
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(messages, QStringList({"Table Open Exception", "URL Moniker 생성 실패"}));
}

TEST_F(MainWindow, TerminationSignalRunsTheCloseHandler)
{
    TForm1 form{ThisDesk()};
    TForm1TestAccess f(form);
    f.PendingLinks() = {{"ftp://pending", "osl"}, {"ftp://last", "osl"}};
    CloseOnSignals closer([&]() -> QWidget* { return &form; });
    form.show();
    std::raise(SIGTERM);
    ASSERT_TRUE(PumpUntil([&] { return !form.isVisible(); }));
    EXPECT_EQ(TestDatabase::ReadGoing(), (TPendingLinks{{"ftp://pending", "osl"}}))
        << "the link the close's detail step handled is not kept";
}

}  // namespace
