// The program as an operator starts it: a second copy on the same database
// refuses to start and says why, a copy killed outright leaves no lock that
// keeps the next one out, SIGTERM ends a copy normally, also while a
// message box waits for a click, and a database of the earlier version is
// upgraded in place.

#include "app/CloseOnSignals.h"
#include "platform/db/Alias.h"
#include "platform/settings/Settings.h"
#include "store/Schema.h"
#include "support/Pump.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <optional>

namespace {

class Program : public ::testing::Test {
protected:
    QTemporaryDir dir;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.filePath("config/hotelcrawler")));
        QFile ini(dir.filePath("config/hotelcrawler/hotelcrawler.ini"));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[network]\nroutes=hotels.example:80=127.0.0.1:1\n"
                                 "[databases]\nHotels_Db=sqlite:%1\n")
                      .arg(database())
                      .toUtf8());
        ini.close();
        platform::Settings s;
        s.hotelsDb = QStringLiteral("sqlite:") + database();
        platform::SetSettings(s);
        store::EnsureHotelsDbTables("Hotels_Db");
    }

    QString database() const { return dir.filePath("Hotels_Db.sqlite"); }

    // Starts the program offscreen, or on the X display `display`.
    void start(QProcess& p, const QString& display = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", display.isEmpty() ? "offscreen" : "xcb");
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("XDG_DATA_HOME", dir.filePath("data"));
        p.setProcessEnvironment(env);
        p.start(HC_APP_EXE, {});
        ASSERT_TRUE(p.waitForStarted(20000)) << p.errorString().toStdString();
    }

    // True once `p` holds the database's lock.
    bool holdsLock(const QProcess& p) const
    {
        qint64 pid = 0;
        QString host, app;
        QLockFile lock(database() + ".lock");
        return lock.getLockInfo(&pid, &host, &app) && pid == p.processId();
    }
};

TEST_F(Program, SecondCopyOnTheSameDatabaseRefusesToStartAndAKilledCopyDoesNotBlockTheNext)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(PumpUntil([&] { return holdsLock(first); }, 30000));

    QProcess second;
    start(second);
    ASSERT_TRUE(second.waitForFinished(30000));
    EXPECT_EQ(second.exitCode(), 1);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(said.contains("Another hotelcrawler is already working on \"Hotels_Db\"")) << said.toStdString();
    EXPECT_TRUE(said.contains(QString::number(first.processId()))) << "it names who holds the lock";

    first.kill();  // SIGKILL: the lock file stays behind
    ASSERT_TRUE(first.waitForFinished(30000));
    ASSERT_TRUE(QFile::exists(database() + ".lock"));

    QProcess third;
    start(third);
    ASSERT_TRUE(PumpUntil([&] { return holdsLock(third); }, 30000)) << "a dead holder's lock is taken over";
    third.terminate();  // SIGTERM closes the window the normal way
    ASSERT_TRUE(third.waitForFinished(30000));
    EXPECT_EQ(third.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(third.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(database() + ".lock"));
}

TEST_F(Program, StartUpgradesADatabaseOfTheEarlierVersionKeepingItsRows)
{
    // The two tables as the earlier version made them, with a link waiting.
    ASSERT_TRUE(QFile::remove(database()));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "earlier_version");
        db.setDatabaseName(database());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const char* sql : {"CREATE TABLE \"Going\" (\"Id\" INTEGER PRIMARY KEY AUTOINCREMENT, "
                                "\"Url\" TEXT, \"AirPort\" TEXT)",
                                "CREATE TABLE \"Staymarker\" (\"Url\" TEXT NOT NULL PRIMARY KEY, \"AirPort\" TEXT)",
                                "INSERT INTO \"Going\" (\"Url\", \"AirPort\") "
                                "VALUES ('http://hotels.example/hotsdetail.ctl?hotel=1', 'osl')"})
            ASSERT_TRUE(q.exec(sql)) << q.lastError().text().toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase("earlier_version");

    QProcess p;
    start(p);
    QString said;
    ASSERT_TRUE(PumpUntil([&] {
        said += QString::fromUtf8(p.readAllStandardError());
        return said.contains("upgraded \"Hotels_Db\"");
    }, 30000)) << said.toStdString();
    p.terminate();
    ASSERT_TRUE(p.waitForFinished(30000));

    EXPECT_EQ(TestDatabase::ReadGoing(),
              (std::vector<Hotel_Url>{{"http://hotels.example/hotsdetail.ctl?hotel=1", "osl"}}));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "upgraded_version");
        db.setDatabaseName(database());
        ASSERT_TRUE(db.open());
        const QStringList tables = db.tables();
        EXPECT_TRUE(tables.contains("Failures") && tables.contains("Destinations")) << tables.join(' ').toStdString();
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec("SELECT \"Attempts\", \"RetryInTicks\" FROM \"Going\"")) << q.lastError().text().toStdString();
        db.close();
    }
    QSqlDatabase::removeDatabase("upgraded_version");
}

// Under a display a box is modal and waits for a click, so a signal must
// dismiss it. A private Xvfb server gives the program one; without Xvfb these
// cases are skipped.
class ProgramUnderADisplay : public Program {
protected:
    QProcess xvfb;
    QString display;

    void SetUp() override
    {
        Program::SetUp();
        const QString exe = QStandardPaths::findExecutable("Xvfb");
        if (exe.isEmpty())
            GTEST_SKIP() << "Xvfb is not installed";
        // -displayfd picks a free display and writes its number on stdout.
        xvfb.start(exe, {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForStarted(20000));
        ASSERT_TRUE(PumpUntil([&] { return xvfb.canReadLine(); }, 30000)) << "Xvfb named no display";
        display = ":" + QString::fromUtf8(xvfb.readLine().trimmed());
    }

    void TearDown() override
    {
        xvfb.terminate();
        xvfb.waitForFinished(30000);
    }

    // Sends SIGTERM once `p` has installed its handler (a signal before that
    // would end it outright), then waits for it to end.
    void terminateOnceCaught(QProcess& p)
    {
        ASSERT_TRUE(PumpUntil([&] { return catchesSigterm(p.processId()); }, 30000));
        p.terminate();
        ASSERT_TRUE(p.waitForFinished(30000)) << "still running after SIGTERM";
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    }

    static bool catchesSigterm(qint64 pid)
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("SigCgt:"))
                return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
        return false;
    }
};

TEST_F(ProgramUnderADisplay, SignalEndsTheRefusalOfASecondCopy)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(PumpUntil([&] { return holdsLock(first); }, 30000));

    QProcess second;
    start(second, display);
    terminateOnceCaught(second);
    EXPECT_EQ(second.exitCode(), 1);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    EXPECT_TRUE(said.contains("Another hotelcrawler is already working")) << "the dismissed box's text is kept";
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(30000));
}

TEST_F(ProgramUnderADisplay, SignalEndsAStartWhoseTableCannotBeOpened)
{
    // Not a database: the start-up probe of "Going" shows "Table Open
    // Exception" while the window is being built, and so does the save at close.
    QFile file(database());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(4096, 'x'));
    file.close();

    QProcess p;
    start(p, display);
    terminateOnceCaught(p);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(p.readAllStandardError()).contains("Table Open Exception"));
    EXPECT_FALSE(QFile::exists(database() + ".lock")) << "the program ended the normal way";
}

// The same inside the test process, where a box can be made modal on the
// offscreen platform by running QMessageBox itself (ShowMessage would write
// its text to standard error there instead).
class SignalWhileABoxIsUp : public ::testing::Test {
protected:
    TForm window;
    int closes = 0;
    bool windowExists = true;
    std::optional<CloseOnSignals> closeOnSignals;

    void SetUp() override
    {
        window.OnClose = [this](TObject*, int&) { ++closes; };
        closeOnSignals.emplace([this]() -> QWidget* { return windowExists ? &window : nullptr; });
    }

    // Runs a box in its own loop, as a box under a display runs, after
    // `inside` ran in that loop; true when something other than the test's
    // own bound ended the loop.
    static bool RunBox(const QString& text, const std::function<void()>& inside)
    {
        constexpr int kLeftOpen = 42;
        QMessageBox box(QMessageBox::NoIcon, "hotelcrawler", text, QMessageBox::Ok);
        QTimer::singleShot(0, &box, [&] {
            inside();
            if (!PumpUntil([&] { return !box.isVisible(); }, 10000))
                box.done(kLeftOpen);
        });
        return box.exec() != kLeftOpen;
    }
};

TEST_F(SignalWhileABoxIsUp, TheBoxGoesAndTheShownWindowClosesThroughItsHandler)
{
    window.show();
    EXPECT_TRUE(RunBox("Table Open Exception", [] { ::raise(SIGTERM); }));
    EXPECT_TRUE(closeOnSignals->Requested());
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(SignalWhileABoxIsUp, AWindowStillBeingBuiltIsLeftForItsBuilderAndLaterBoxesGoToo)
{
    testing::internal::CaptureStderr();
    EXPECT_TRUE(RunBox("Table Open Exception", [] { ::raise(SIGTERM); }));
    EXPECT_TRUE(closeOnSignals->Requested());
    EXPECT_EQ(closes, 0) << "its close handler must not run before its construction ends";
    EXPECT_TRUE(RunBox("COM Init", [] {})) << "a box shown after the signal does not wait for a click";
    windowExists = false;
    EXPECT_TRUE(RunBox("Another hotelcrawler", [] { ::raise(SIGINT); }));
    const std::string said = testing::internal::GetCapturedStderr();
    for (const char* text : {"Table Open Exception", "COM Init", "Another hotelcrawler"})
        EXPECT_NE(said.find(text), std::string::npos) << text << " is kept on standard error";
}

}  // namespace
