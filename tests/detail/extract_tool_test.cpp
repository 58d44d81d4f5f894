// hotelcrawler-extract run as a program: files and web pages in, one JSON
// object per page out, failures named on standard error with the exit status.

#include "support/SampleSite.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString kTool = QStringLiteral(HC_TOOLS_BIN_DIR "/extract/hotelcrawler-extract");
const QString kFixtures = QStringLiteral(HC_SOURCE_DIR "/tests/detail/fixtures/");

struct ToolRun {
    int status = -1;
    QList<QJsonObject> objects;
    QString errors;
};

class ExtractTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(QFile::exists(kTool)) << kTool.toStdString(); }

    // Runs the tool with its own settings file holding `ini`.
    ToolRun RunTool(const QStringList& args, const QString& ini = {})
    {
        QDir(config.path()).mkpath(QStringLiteral("hotelcrawler"));
        QFile file(config.path() + QStringLiteral("/hotelcrawler/hotelcrawler.ini"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(ini.toUtf8());
        file.close();

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(env);
        process.start(kTool, args);
        EXPECT_TRUE(process.waitForFinished(120000));
        ToolRun run;
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.errors = QString::fromUtf8(process.readAllStandardError());
        for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonDocument doc = QJsonDocument::fromJson(line);
            EXPECT_TRUE(doc.isObject()) << line.toStdString();
            run.objects << doc.object();
        }
        return run;
    }

    QTemporaryDir config;
};

TEST_F(ExtractTool, FilesGiveOneObjectEachWithTheTwelveFields)
{
    const ToolRun run = RunTool({kFixtures + "nested_dining.html", kFixtures + "photo_links.html"});
    EXPECT_EQ(run.status, 0) << run.errors.toStdString();
    ASSERT_EQ(run.objects.size(), 2);
    const QJsonObject& dining = run.objects[0];
    EXPECT_EQ(dining.size(), 12);
    EXPECT_EQ(dining.value("Dining").toString(), "Breakfast buffet");
    EXPECT_EQ(dining.value("PageUrl").toString(),
              QUrl::fromLocalFile(kFixtures + "nested_dining.html").toString(QUrl::FullyEncoded));
    EXPECT_EQ(run.objects[1].value("PhotoUrl").toString(),
              "http://hotels.example:80/hotsphoto.ctl?hotel=second&size=large");
}

TEST_F(ExtractTool, UnreadableInputIsNamedAndTheOthersStillRun)
{
    const QString missing = kFixtures + "no_such_page.html";
    const ToolRun run = RunTool({missing, kFixtures + "header_cut.html", kFixtures});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.errors.contains(missing)) << run.errors.toStdString();
    ASSERT_EQ(run.objects.size(), 1);
    EXPECT_EQ(run.objects[0].value("HeaderBar").toString(), "Harbour Inn ");
}

TEST_F(ExtractTool, UsageErrorsExitWithTwo)
{
    EXPECT_EQ(RunTool({}).status, 2);
    EXPECT_EQ(RunTool({"--frobnicate", kFixtures + "header_cut.html"}).status, 2);
}

TEST_F(ExtractTool, WebPagesAreLoadedThroughTheRoutes)
{
    SampleSite site;
    ASSERT_TRUE(site.started());
    const QString ini = QStringLiteral("[network]\nroutes = hotels.example:80=127.0.0.1:%1\n").arg(site.port());
    const ToolRun run = RunTool({"http://hotels.example/hotsdetail.ctl?hotel=osl-3", "ftp://hotels.example/x", "http://"}, ini);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.objects.size(), 1);
    EXPECT_EQ(run.objects[0].value("PhotoUrl").toString(), "http://hotels.example:80/hotsphoto.ctl?hotel=osl-3");
    EXPECT_EQ(run.objects[0].value("HeaderBar").toString(), QString::fromUtf8("한강 게스트하우스 "));
    // The sample page has every section: each one the walk fills is printed under its name.
    const QStringList keys{"PageUrl", "Spare", "HeaderBar", "HotelInfo", "Direction", "Dining", "Transportation",
                           "PropertyInformation", "Services", "RatingsAwards", "Attractions", "PhotoUrl"};
    EXPECT_EQ(run.objects[0].keys().size(), keys.size());
    for (const QString& key : keys)
        EXPECT_EQ(run.objects[0].value(key).toString().isEmpty(), key == "Spare") << key.toStdString();
    EXPECT_TRUE(run.errors.contains("ftp://hotels.example/x")) << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains(QString::fromUtf8("http://: could not load the page: URL Moniker 생성 실패")))
        << run.errors.toStdString();
}

}  // namespace
