// The program as an operator starts it: a second copy on the same database
// refuses to start and says why, a copy killed outright leaves no lock that
// keeps the next one out, and SIGTERM ends a running copy normally.

#include "platform/settings/Settings.h"
#include "store/Schema.h"
#include "support/Pump.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

    void start(QProcess& p)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
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

}  // namespace
