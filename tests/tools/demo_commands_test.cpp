// The demo walk-through's commands (docs/demo.md) run as written: the built
// tools and scripts/demo --results, from a folder laid out like the
// repository root (build/tools is the real build's tools folder, build/demo
// holds a settings file written the way the demo writes it), with XDG
// folders that lead nowhere, so only --settings can find the database.

#include "platform/settings/Settings.h"
#include "store/Desk.h"
#include "store/Going.h"
#include "store/GoingWriter.h"
#include "store/Schema.h"
#include "store/Staymarker.h"
#include "tests/support/ThisDesk.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kDemoIni = QStringLiteral("build/demo/config/hotelcrawler/hotelcrawler.ini");

// The code lines of the demo walk-through that run a built tool or the
// demo's results.
QStringList WalkThroughCommands()
{
    QFile file(QStringLiteral(HC_SOURCE_DIR "/docs/demo.md"));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << "no walk-through";
    const QString text = QString::fromUtf8(file.readAll());
    QStringList commands;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        // Indented by four or more blanks: a code line. A trailing comment is not part of it.
        if (!raw.startsWith(QLatin1String("    ")))
            continue;
        const QString line = raw.section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.startsWith(QLatin1String("build/tools/")) || line.startsWith(QLatin1String("scripts/demo --results")))
            commands << line;
    }
    return commands;
}

struct ShellRun {
    int status = -1;
    QString out;
    QString err;
};

class DemoCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid() && elsewhere.isValid());
        const QDir r(root.path());
        ASSERT_TRUE(r.mkpath(QStringLiteral("build/demo/config/hotelcrawler")));
        ASSERT_TRUE(r.mkpath(QStringLiteral("build/demo/data/hotelcrawler")));
        ASSERT_TRUE(QFile::link(QStringLiteral(HC_TOOLS_BIN_DIR), r.filePath(QStringLiteral("build/tools"))));
        ASSERT_TRUE(QFile::link(QStringLiteral(HC_SOURCE_DIR "/scripts"), r.filePath(QStringLiteral("scripts"))));
        database = r.filePath(QStringLiteral("build/demo/data/hotelcrawler/Hotels_Db.sqlite"));
        QFile ini(r.filePath(kDemoIni));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[site]\nbase=http://hotels.example\n\n[network]\nroutes=hotels.example:80=127.0.0.1:1\n"
                                 "page_timeout_s=60\n\n[databases]\nHotels_Db=sqlite:%1\n\n[timers]\ninterval_ms=100\n")
                      .arg(database)
                      .toUtf8());
    }

    void TearDown() override { platform::SetSettings({}); }

    // One kept hotel of osl and one waiting link of adl in the demo's database.
    void Seed()
    {
        platform::Settings s;
        s.hotelsDb = QStringLiteral("sqlite:") + database;
        platform::SetSettings(s);
        store::EnsureHotelsDbTables("Hotels_Db");
        store::StaymarkerRow row;
        row.Url = "http://hotels.example/hotsdetail.ctl?hotel=osl-1";
        row.AirPort = "osl";
        row.HeaderBar = "Hotel Østerdalen Avg Price 120";
        row.ExtractedAt = "2024-05-01T00:00:00Z";
        store::GoingWriter writer{ThisDesk()};
        writer.Handled({row.Url, row.AirPort}, row);
        ASSERT_TRUE(writer.Flush());
        store::SaveGoing(ThisDesk(), {{"http://hotels.example/hotsdetail.ctl?hotel=adl-1", "adl"}});
        platform::SetSettings({});
    }

    // Runs `command` through the shell, as typed, in `cwd`.
    ShellRun Shell(const QString& command, const QString& cwd)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Both lead to empty folders: a tool that ignored --settings would find no database.
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), elsewhere.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), elsewhere.filePath(QStringLiteral("data")));
        env.remove(QStringLiteral("HC_BUILD_DIR"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(cwd);
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        EXPECT_TRUE(process.waitForFinished(60000)) << command.toStdString();
        ShellRun run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QTemporaryDir root;       // stands for the repository root
    QTemporaryDir elsewhere;  // the XDG folders and a second working directory
    QString database;
};

TEST_F(DemoCommands, EachRunsAsWrittenFromTheRepositoryRoot)
{
    Seed();
    const QStringList commands = WalkThroughCommands();
    EXPECT_TRUE(commands.contains(QStringLiteral("scripts/demo --results"))) << commands.join(" | ").toStdString();
    EXPECT_GE(commands.size(), 2) << commands.join(" | ").toStdString();
    for (const QString& command : commands) {
        const ShellRun run = Shell(command, root.path());
        EXPECT_EQ(run.status, 0) << command.toStdString() << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.isEmpty()) << command.toStdString() << "\n" << run.err.toStdString();
        // The failures list of a crawl that failed nowhere is its header alone.
        if (command.contains(QLatin1String("--failures"))) {
            EXPECT_EQ(run.out, QStringLiteral("Kind,Url,AirPort,Reason,Attempts,FailedAt,Desk\r\n"))
                << command.toStdString() << "\n" << run.out.toStdString();
        } else {
            EXPECT_TRUE(run.out.contains(QStringLiteral("hotel=osl-1")) || run.out.contains(QStringLiteral("osl  ")))
                << command.toStdString() << "\n" << run.out.toStdString();
        }
        // The demo's settings name no desk: the rows are the host's.
        if (command.contains(QLatin1String("--summary")) || command.startsWith(QLatin1String("scripts/demo"))) {
            const QRegularExpression adl(QStringLiteral("\\nadl +0 +1 +- +0 +searched +%1\\n")
                                             .arg(QRegularExpression::escape(platform::DefaultDeskName())));
            EXPECT_TRUE(run.out.contains(adl)) << command.toStdString() << "\n" << run.out.toStdString();
        }
    }
}

TEST_F(DemoCommands, DemoResultsShowTheSummaryThenTheRows)
{
    Seed();
    const ShellRun run = Shell(QStringLiteral("scripts/demo --results"), root.path());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const qsizetype summary =
        run.out.indexOf(QRegularExpression(QStringLiteral("AirPort +Kept +Waiting +Last kept at +Given up +State +Desk\n")));
    const qsizetype csv = run.out.indexOf(QStringLiteral("Url,AirPort,HeaderBar,"));
    EXPECT_GE(summary, 0) << run.out.toStdString();
    EXPECT_GT(csv, summary) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Hotel Østerdalen Avg Price 120"))) << run.out.toStdString();
}

// The relative settings path is taken from the current directory, not from
// the tool's own folder: the same command from another folder finds no file.
TEST_F(DemoCommands, RelativeSettingsPathFollowsTheWorkingDirectory)
{
    const QString initdb = QStringLiteral("build/tools/initdb/hotelcrawler-initdb --settings ") + kDemoIni;
    const ShellRun created = Shell(initdb, root.path());
    EXPECT_EQ(created.status, 0) << created.err.toStdString();
    EXPECT_TRUE(created.out.contains(QStringLiteral("created table \"Staymarker\" in ") + database))
        << created.out.toStdString();

    const QString tools = QStringLiteral(HC_TOOLS_BIN_DIR);
    for (const QString& tool : {tools + "/initdb/hotelcrawler-initdb", tools + "/export/hotelcrawler-export",
                                tools + "/extract/hotelcrawler-extract"}) {
        const QString command = tool + " --settings " + kDemoIni + (tool.endsWith("extract") ? " page.html" : "");
        const ShellRun run = Shell(command, elsewhere.path());
        EXPECT_EQ(run.status, 2) << command.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("cannot read settings file \"") +
                                     QDir(elsewhere.path()).filePath(kDemoIni) + "\": no such file"))
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("usage: "))) << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    }
}

}  // namespace
