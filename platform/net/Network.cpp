#include "platform/net/Network.h"

#include "platform/settings/Settings.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QPointer>

#include <algorithm>

namespace platform {

std::chrono::milliseconds QuickRetryDelay(int pageTimeoutS, int retry)
{
    const qint64 timeoutMs = qint64{pageTimeoutS} * 1000;
    const qint64 base = std::clamp<qint64>(timeoutMs / 30, 50, 2000);
    return std::chrono::milliseconds(base << std::clamp(retry, 0, 20));
}

QByteArray UserAgent() { return QByteArrayLiteral("hotelcrawler/" HC_VERSION); }

QNetworkAccessManager& NetworkManager()
{
    // Owned by the application object; the guard notices when a test
    // program's application object (and with it the manager) is gone.
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        // Redirects are followed by the fetch itself, so that each hop is
        // routed and checked for its scheme.
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return *manager;
}

bool IsFetchable(const QUrl& address)
{
    if (!address.isValid() || address.isRelative() || address.host().isEmpty())
        return false;
    const QString scheme = address.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

QNetworkRequest BuildRequest(const QUrl& address)
{
    const bool https = address.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const int defaultPort = https ? 443 : 80;
    const int port = address.port(defaultPort);

    QUrl target = address;
    const Route* route = FindRoute(CurrentSettings(), address.host(), port);
    if (route) {
        target.setHost(route->toHost);
        target.setPort(route->toPort == defaultPort ? -1 : route->toPort);
    }

    QNetworkRequest request(target);
    request.setRawHeader("User-Agent", UserAgent());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // The fetch itself cuts bodies at kMaxBodyBytes, so the decompression
    // safety check only needs to catch what lies beyond that; below it, a
    // highly compressible page (long runs of table markup) must not fail.
    request.setDecompressedSafetyCheckThreshold(2 * kMaxBodyBytes);
    if (route) {
        // The server must see the address as it was asked for.
        QString host = address.host(QUrl::FullyEncoded);
        if (host.contains(QLatin1Char(':')))
            host = QLatin1Char('[') + host + QLatin1Char(']');
        if (address.port() != -1 && address.port() != defaultPort)
            host += QLatin1Char(':') + QString::number(address.port());
        request.setRawHeader("Host", host.toLatin1());
        if (https)
            request.setPeerVerifyName(address.host());
    }
    return request;
}

}  // namespace platform
