// The detail queue driver in the window: last-in first-out steps over real
// HTTP against the sample site, what a step keeps in Staymarker, the time
// limit, failures, and a nested step started by Timer2 during a slow page.

#include "store/Staymarker.h"
#include "support/FormAccess.h"
#include "support/Pump.h"
#include "support/RecordedMessages.h"
#include "support/SampleSite.h"
#include "support/TestDatabase.h"
#include "tests/support/ThisDesk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class DetailQueue : public ::testing::Test {
protected:
    SampleSite site;
    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TForm1TestAccess> f;
    RecordedMessages recorded;
    QStringList& messages = recorded.texts;

    void SetUp() override
    {
        ASSERT_TRUE(site.started());
        open(60000, 30);
    }

    // A window whose timers tick every `intervalMs`, with `pageTimeoutS` per page.
    void open(int intervalMs, int pageTimeoutS)
    {
        f.reset();
        form.reset();
        platform::Settings s = site.routedSettings();
        s.timerIntervalMs = intervalMs;
        s.pageTimeoutS = pageTimeoutS;
        db = std::make_unique<TestDatabase>(s);
        form = std::make_unique<TForm1>(ThisDesk());
        f = std::make_unique<TForm1TestAccess>(*form);
    }
    static AnsiString detail(const char* id) { return AnsiString("http://hotels.example/hotsdetail.ctl?hotel=") + id; }
    void queue(std::initializer_list<const char*> ids, const char* airport = "osl")
    {
        for (const char* id : ids)
            f->PendingLinks().push_back({detail(id), airport});
    }
    std::map<AnsiString, store::StaymarkerRow> kept()
    {
        std::map<AnsiString, store::StaymarkerRow> rows;
        for (const auto& row : store::ReadAllHotels())
            rows[row.Url] = row;
        return rows;
    }
};

TEST_F(DetailQueue, StepsTakeTheLastLinkFirstAndKeepEachHotelOnce)
{
    queue({"osl-1", "osl-2", "osl-3"});
    form->Timer2->SetEnabled(false);
    for (int i = 0; i < 3; ++i)
        f->ProcessNextDetail();
    EXPECT_TRUE(f->PendingLinks().empty());
    EXPECT_TRUE(form->Timer2->Enabled());
    EXPECT_EQ(site.requestedHotelIds(), QStringList({"osl-3", "osl-2", "osl-1"}));

    const auto rows = kept();
    ASSERT_EQ(rows.size(), 3u);
    const auto& bergstrom = rows.at(detail("osl-1"));
    EXPECT_EQ(bergstrom.AirPort, "osl");
    EXPECT_EQ(bergstrom.HeaderBar, "Hôtel Bergström ");
    EXPECT_EQ(bergstrom.HotelInfo.rfind("Hôtel Bergström\n1 Harbour Street", 0), 0u) << bergstrom.HotelInfo;
    EXPECT_EQ(bergstrom.Dining, "Dining: breakfast buffet 06:30-10:00; bistro open until 22:00.");
    EXPECT_EQ(bergstrom.PhotoUrl, "http://hotels.example:80/hotsphoto.ctl?hotel=osl-1");
    EXPECT_EQ(bergstrom.ExtractedAt.size(), 20u) << "UTC, ISO 8601: " << bergstrom.ExtractedAt;
    // The sample page has every section, and each reaches its column.
    for (const auto& field : store::kHotelSectionFields)
        EXPECT_FALSE((bergstrom.*field.member).empty()) << field.name;
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    // Extracting a hotel again replaces its row.
    queue({"osl-1"}, "adl");
    f->ProcessNextDetail();
    EXPECT_EQ(kept().size(), 3u);
    EXPECT_EQ(kept().at(detail("osl-1")).AirPort, "adl");
}

TEST_F(DetailQueue, StepOnAnEmptyListOnlySwitchesTheTimersOn)
{
    form->Timer1->SetEnabled(false);
    form->Timer2->SetEnabled(false);
    const int com = CoInitializeCount();
    f->ProcessNextDetail();
    EXPECT_TRUE(form->Timer1->Enabled());
    EXPECT_TRUE(form->Timer2->Enabled());
    EXPECT_EQ(CoInitializeCount(), com);
    EXPECT_TRUE(site.requestedHotelIds().isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(DetailQueue, UnloadableAddressIsReportedAndGone)
{
    queue({"osl-1"});
    f->PendingLinks().push_back({"file:///etc/passwd", "osl"});
    f->ProcessNextDetail();
    EXPECT_EQ(messages, QStringList({"URL Moniker 생성 실패"}));
    ASSERT_EQ(f->PendingLinks().size(), 1u);
    f->ProcessNextDetail();
    EXPECT_EQ(site.requestedHotelIds(), QStringList({"osl-1"}));
    EXPECT_EQ(kept().size(), 1u);
}

TEST_F(DetailQueue, PageSlowerThanTheLimitIsAFailedLoadWithoutAMessage)
{
    open(60000, 1);
    queue({"slow-late"});
    f->ProcessNextDetail();
    EXPECT_TRUE(f->PendingLinks().empty());
    EXPECT_TRUE(kept().empty());
    EXPECT_TRUE(messages.isEmpty());
    site.release("slow-late");
}

TEST_F(DetailQueue, NestedStepStartedByTimer2DuringASlowPageFinishesFirst)
{
    // 61 ticks of 5 ms pass while the slow page is held back.
    open(5, 30);
    form->Timer1->SetEnabled(false);  // no search passes: only Timer2 may start the nested step
    form->Memo2->setPlainText("");
    queue({"osl-1", "slow-1"});
    // The slow page is let through only once the nested step has kept its hotel.
    QTimer releaser;
    bool released = false;
    QObject::connect(&releaser, &QTimer::timeout, [&] {
        if (!released && kept().count(detail("osl-1"))) {
            released = site.release("slow-1");
        }
    });
    releaser.start(20);
    f->ProcessNextDetail();
    EXPECT_TRUE(released) << "the outer step ended before the nested one kept its hotel";
    EXPECT_EQ(site.requestedHotelIds().mid(0, 2), QStringList({"slow-1", "osl-1"}));
    EXPECT_TRUE(kept().count(detail("slow-1")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

TEST_F(DetailQueue, ExportToolPrintsTheKeptHotels)
{
    queue({"adl-2", "adl-1"}, "adl");
    f->ProcessNextDetail();
    f->ProcessNextDetail();

    // The tool reads the installation's settings file.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/hotelcrawler";
    ASSERT_TRUE(QDir().mkpath(config));
    QFile ini(config + "/hotelcrawler.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write("[databases]\nHotels_Db=sqlite:" + db->path().toUtf8() + "\n");
    ini.close();

    QProcess tool;
    tool.start(HC_TOOLS_BIN_DIR "/export/hotelcrawler-export", {"--format", "csv"});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(tool.readAllStandardOutput()).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith("Url,AirPort,HeaderBar"));
    EXPECT_TRUE(lines[1].contains(QString::fromStdString(detail("adl-1")) + ",adl,Torrens River Motel ,"));
    QFile::remove(config + "/hotelcrawler.ini");
}

}  // namespace
