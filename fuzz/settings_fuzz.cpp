// Fuzzes the settings parser. Checked besides crashes: every value that was
// taken is one the parser accepts (positive numbers, an http or https base,
// routes FindRoute can find), and the settings written back as an INI file
// parse without a problem into the same settings.

#include "fuzz/FuzzSupport.h"
#include "platform/settings/Settings.h"

#include <QStringList>

namespace {

QString Describe(const platform::Settings& s)
{
    QStringList routes;
    for (const platform::Route& r : s.routes)
        routes << QStringLiteral("%1:%2=%3:%4").arg(r.fromHost).arg(r.fromPort).arg(r.toHost).arg(r.toPort);
    return QStringLiteral("base=%1 routes=%2 page_timeout_s=%3 Hotels_Db=%4 interval_ms=%5")
        .arg(s.siteBase, routes.join(QLatin1Char(',')))
        .arg(s.pageTimeoutS)
        .arg(s.hotelsDb)
        .arg(s.timerIntervalMs);
}

QString AsIni(const platform::Settings& s)
{
    QStringList routes;
    for (const platform::Route& r : s.routes)
        routes << QStringLiteral("%1:%2=%3:%4").arg(r.fromHost).arg(r.fromPort).arg(r.toHost).arg(r.toPort);
    QString ini = QStringLiteral("[site]\nbase=%1\n[network]\npage_timeout_s=%2\n")
                      .arg(s.siteBase)
                      .arg(s.pageTimeoutS);
    if (!routes.isEmpty())
        ini += QStringLiteral("routes=%1\n").arg(routes.join(QLatin1Char(',')));
    ini += QStringLiteral("[timers]\ninterval_ms=%1\n").arg(s.timerIntervalMs);
    if (!s.hotelsDb.isEmpty())
        ini += QStringLiteral("[databases]\nHotels_Db=%1\n").arg(s.hotelsDb);
    return ini;
}

bool Same(const platform::Settings& a, const platform::Settings& b)
{
    if (a.siteBase != b.siteBase || a.pageTimeoutS != b.pageTimeoutS || a.hotelsDb != b.hotelsDb
        || a.timerIntervalMs != b.timerIntervalMs || a.routes.size() != b.routes.size())
        return false;
    for (std::size_t i = 0; i < a.routes.size(); ++i) {
        const platform::Route& x = a.routes[i];
        const platform::Route& y = b.routes[i];
        if (x.fromHost != y.fromHost || x.fromPort != y.fromPort || x.toHost != y.toHost || x.toPort != y.toPort)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList errors;
    const platform::Settings s = platform::ParseSettings(fuzz::Utf8Text(data, size), errors);

    if (s.pageTimeoutS <= 0 || s.timerIntervalMs <= 0)
        fuzz::Fail("a number that is not positive was taken", Describe(s));
    if (!s.siteBase.startsWith(QLatin1String("http://")) && !s.siteBase.startsWith(QLatin1String("https://")))
        fuzz::Fail("a base that is no http(s) address was taken", s.siteBase);
    for (const platform::Route& r : s.routes) {
        if (r.fromPort < 1 || r.fromPort > 65535 || r.toPort < 1 || r.toPort > 65535)
            fuzz::Fail("a route with a port out of range was taken", Describe(s));
        if (!platform::FindRoute(s, r.fromHost, r.fromPort))
            fuzz::Fail("FindRoute cannot find a parsed route", Describe(s));
    }

    QStringList again;
    const platform::Settings reparsed = platform::ParseSettings(AsIni(s), again);
    if (!again.isEmpty())
        fuzz::Fail("the parsed settings written back do not parse cleanly",
                   AsIni(s) + QStringLiteral("\nproblems: ") + again.join(QStringLiteral("; ")));
    if (!Same(s, reparsed))
        fuzz::Fail("the parsed settings written back parse differently",
                   Describe(s) + QLatin1Char('\n') + Describe(reparsed));
    return 0;
}
