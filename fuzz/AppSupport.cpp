// The window-toolkit half of the fuzz set-up, apart from FuzzSupport.cpp so
// that the targets which only parse need not link the store and the window.

#include "fuzz/FuzzSupport.h"

#include "platform/html/Com.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"
#include "platform/toolkit/MessageSink.h"
#include "store/Schema.h"

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
    // Lives as long as the process: the database and settings folder of the run.
    static QTemporaryDir home;
    if (!home.isValid())
        Fail("no temporary folder");
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());

    // The application keeps a reference to argc, so it must outlive it.
    static int appArgc = *argc;
    new TApplication(appArgc, *argv);  // lives until exit, like a program's

    // Installed for the rest of the process, like the application.
    static FuzzMessages messages;
    static ScopedMessageSink messagesInstalled(messages);

    platform::Settings settings;
    settings.siteBase = QStringLiteral("http://hotels.example");
    // The site's own host goes straight to the closed port, like every other host.
    settings.routes.push_back({QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), ClosedPort()});
    settings.pageTimeoutS = 1;
    settings.timerIntervalMs = 24 * 3600 * 1000;  // no tick during a run
    settings.hotelsDb = QStringLiteral("sqlite:") + home.filePath(QStringLiteral("Hotels_Db.sqlite"));
    platform::SetSettings(settings);
    try {
        store::EnsureHotelsDbTables("Hotels_Db");
    } catch (const std::exception& e) {
        Fail("creating the temporary Hotels_Db failed", QString::fromUtf8(e.what()));
    }

    if (FAILED(CoInitialize(nullptr)))
        Fail("CoInitialize failed");
}

}  // namespace fuzz
