#include "platform/engine/ChromiumStart.h"

#include "platform/base/Report.h"

#include <QCoreApplication>
#include <QStringList>

#include <unistd.h>

namespace platform::engine {

QByteArray ChromiumFlags(const Settings& settings, const QByteArray& fromEnvironment, bool asRoot)
{
    QByteArrayList flags;
    if (!fromEnvironment.trimmed().isEmpty())
        flags << fromEnvironment.trimmed();
    if (!settings.routes.empty()) {
        // "MAP host:port target:port": the connection goes to the target,
        // while the request keeps its address, Host header and cookies.
        QStringList rules;
        for (const Route& r : settings.routes)
            rules << QStringLiteral("MAP %1:%2 %3:%4").arg(r.fromHost).arg(r.fromPort).arg(r.toHost).arg(r.toPort);
        flags << "--host-resolver-rules=\"" + rules.join(QStringLiteral(", ")).toUtf8() + '"';
    }
    // The detail pages load in a page that is never shown; Chromium would
    // slow its timers to one a second and the settling wait with them.
    flags << "--disable-background-timer-throttling" << "--disable-renderer-backgrounding"
          << "--disable-backgrounding-occluded-windows";
    if (asRoot)
        flags << "--no-sandbox";
    return flags.join(' ');
}

void StartChromium()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    const bool asRoot = ::geteuid() == 0;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            ChromiumFlags(CurrentSettings(), qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), asRoot));
    if (asRoot)
        Report(QStringLiteral("running as root: the browser engine's sandbox is off"));
}

}  // namespace platform::engine
