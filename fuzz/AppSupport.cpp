// The window-toolkit half of the fuzz set-up, apart from FuzzSupport.cpp so
// that the targets which only parse need not link the store and the window.

#include "fuzz/FuzzSupport.h"

#include "fuzz/InstantAnswers.h"
#include "platform/engine/Engine.h"
#include "platform/html/Com.h"
#include "platform/settings/Settings.h"
#include "platform/testing/DbTestHooks.h"
#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"
#include "store/Schema.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <exception>

namespace fuzz {

namespace {

// Swallows ShowMessage texts (a detail load of an address that is no http
// address shows one; that is the program's ordinary reaction) and turns an
// error box into a failure: it means an exception escaped an event handler.
class FuzzMessages final : public MessageSink {
public:
    void Message(const QString&) override {}
    void Error(const QString& text) override { Fail("exception escaped an event handler", text); }
};

// The run's private folder: settings, data and the temporary Hotels_Db.
// Lives as long as the process.
QTemporaryDir& Home()
{
    static QTemporaryDir home;
    return home;
}

QString HotelsDbPath() { return Home().filePath(QStringLiteral("Hotels_Db.sqlite")); }

void CreateHotelsDb()
{
    try {
        store::EnsureHotelsDbTables("Hotels_Db");
    } catch (const std::exception& e) {
        Fail("creating the temporary Hotels_Db failed", QString::fromUtf8(e.what()));
    }
}

// Each write of the store opens a connection of its own; on a file that
// nothing needs after a crash, a commit need not wait for the disk, nor the
// journal be a file of its own. A commit that waits for the disk cost a few
// milliseconds per fuzz input.
void WriteWithoutWaitingForTheDisk(QSqlDatabase& db)
{
    for (const char* pragma : {"PRAGMA synchronous = OFF", "PRAGMA journal_mode = MEMORY"}) {
        QSqlQuery query(db);
        if (!query.exec(QString::fromLatin1(pragma)))
            Fail("setting up a connection of the temporary Hotels_Db failed",
                 QString::fromLatin1(pragma) + QStringLiteral(": ") + query.lastError().text());
    }
}

}  // namespace

void InitApplication(int* argc, char*** argv)
{
    static bool done = false;
    if (done)
        return;
    done = true;

    // Before anything can start a request.
    LockDownNetwork();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir& home = Home();
    if (!home.isValid())
        Fail("no temporary folder");
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());

    // The application keeps a reference to argc, so it must outlive it.
    static int appArgc = *argc;
    new TApplication(appArgc, *argv);  // lives until exit, like a program's
    AnswerEveryPageAtOnce();

    // Installed for the rest of the process, like the application.
    static FuzzMessages messages;
    static ScopedMessageSink messagesInstalled(messages);

    platform::Settings settings;
    settings.siteBase = QStringLiteral("http://hotels.example");
    // The site's own host goes straight to the closed port, like every other host.
    settings.routes.push_back({QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), ClosedPort()});
    settings.pageTimeoutS = 1;
    settings.timerIntervalMs = 24 * 3600 * 1000;  // no tick during a run
    settings.hotelsDb = QStringLiteral("sqlite:") + HotelsDbPath();
    platform::SetSettings(settings);
    // Pages are answered by our own fetch (AnswerEveryPageAtOnce), so our
    // own engine loads them: the browser engine would go to the network.
    platform::engine::UseEngine(platform::BrowserEngine::Html);
    platform::testing::SetDatabaseOpenedHook(WriteWithoutWaitingForTheDisk);
    CreateHotelsDb();

    if (FAILED(CoInitialize(nullptr)))
        Fail("CoInitialize failed");
}

void RenewHotelsDb()
{
    if (!QFile::remove(HotelsDbPath()))
        Fail("removing the temporary Hotels_Db failed", HotelsDbPath());
    CreateHotelsDb();
}

}  // namespace fuzz
