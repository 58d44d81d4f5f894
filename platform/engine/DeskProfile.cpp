#include "platform/engine/DeskProfile.h"

#include "platform/base/ReleaseOrder.h"
#include "platform/base/Report.h"
#include "platform/engine/ChromiumStart.h"
#include "platform/engine/CookieJournal.h"
#include "platform/settings/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include <optional>

namespace platform::engine {

namespace {

struct Desk {
    std::optional<QString> name;  // set by UseDesk
    QWebEngineProfile* profile = nullptr;
    CookieJournal* cookies = nullptr;
};

Desk& Given()
{
    static Desk desk;
    return desk;
}

// The desk's name; a program that never named its desk stops here rather
// than keep another desk's cookies.
const QString& DeskName()
{
    const Desk& desk = Given();
    if (!desk.name)
        qFatal("the browser profile was asked for before the program named its desk (platform::engine::UseDesk)");
    return *desk.name;
}

Desk& TheDesk()
{
    Desk& desk = Given();
    if (desk.profile)
        return desk;
    const QString name = DeskName();
    StartChromium();
    const Settings& settings = CurrentSettings();
    const QString folder = DeskProfileFolder();
    QDir().mkpath(folder);

    // A named profile keeps its store on disk; the name is the desk's, so
    // that two desks on one machine keep two sessions.
    auto* profile = new QWebEngineProfile(QStringLiteral("desk-") + name, qApp);
    profile->setProperty(kReleaseBeforeApplication, true);
    profile->setPersistentStoragePath(folder + QStringLiteral("/store"));
    profile->setCachePath(folder + QStringLiteral("/cache"));
    profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    if (!settings.userAgent.isEmpty())
        profile->setHttpUserAgent(settings.userAgent);

    // Nothing a page offers is saved to the machine.
    QObject::connect(profile, &QWebEngineProfile::downloadRequested, profile, [](QWebEngineDownloadRequest* download) {
        Report(QStringLiteral("download refused: %1").arg(download->url().toString()));
        download->cancel();
    });

    QWebEngineSettings* s = profile->settings();
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanPaste, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    // The crawl navigates the pane all day: a page must never take the
    // keyboard from the destination list while the operator types.
    s->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    s->setAttribute(QWebEngineSettings::ScreenCaptureEnabled, false);
    s->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);

    desk.profile = profile;
    desk.cookies = new CookieJournal(profile->cookieStore(), folder + QStringLiteral("/cookies.txt"), profile);
    desk.cookies->Restore();
    return desk;
}

}  // namespace

void UseDesk(const QString& deskName)
{
    Desk& desk = Given();
    if (desk.profile && *desk.name != deskName)
        qFatal("the browser profile of desk \"%s\" is made already; it cannot become desk \"%s\"",
               qUtf8Printable(*desk.name), qUtf8Printable(deskName));
    desk.name = deskName;
}

QWebEngineProfile* DeskProfile() { return TheDesk().profile; }

CookieJournal& DeskCookies() { return *TheDesk().cookies; }

QString DeskProfileFolder()
{
    return QFileInfo(DefaultDatabasePath()).absolutePath() + QStringLiteral("/browser/") + DeskName();
}

}  // namespace platform::engine
