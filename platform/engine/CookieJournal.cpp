#include "platform/engine/CookieJournal.h"

#include "platform/base/Report.h"
#include "platform/net/Network.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QSaveFile>
#include <QUrl>
#include <QWebEngineCookieStore>

namespace platform::engine {

namespace {

// The address a cookie belongs to, for stores that want one.
QUrl OriginOf(const QNetworkCookie& cookie)
{
    QString host = cookie.domain();
    if (host.startsWith(QLatin1Char('.')))
        host.remove(0, 1);
    QUrl origin;
    origin.setScheme(cookie.isSecure() ? QStringLiteral("https") : QStringLiteral("http"));
    origin.setHost(host);
    origin.setPath(cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path());
    return origin;
}

}  // namespace

CookieJournal::CookieJournal(QWebEngineCookieStore* store, QString path, QObject* parent)
    : QObject(parent), store_(store), path_(std::move(path))
{
    connect(store_, &QWebEngineCookieStore::cookieAdded, this, &CookieJournal::Added);
    connect(store_, &QWebEngineCookieStore::cookieRemoved, this, &CookieJournal::Removed);
}

QString CookieJournal::Key(const QNetworkCookie& cookie)
{
    return cookie.domain() + QLatin1Char('\t') + cookie.path() + QLatin1Char('\t') + QString::fromUtf8(cookie.name());
}

void CookieJournal::Added(const QNetworkCookie& cookie)
{
    cookies_.insert(Key(cookie), cookie);
    dirty_ = true;
    // Our own fetches (a Retry-After question, the tools) go out in the
    // same session as the engine's requests.
    if (QNetworkCookieJar* jar = NetworkManager().cookieJar())
        jar->insertCookie(cookie);
}

void CookieJournal::Removed(const QNetworkCookie& cookie)
{
    if (cookies_.remove(Key(cookie)) > 0)
        dirty_ = true;
    if (QNetworkCookieJar* jar = NetworkManager().cookieJar())
        jar->deleteCookie(cookie);
}

std::vector<QNetworkCookie> CookieJournal::Cookies() const
{
    return std::vector<QNetworkCookie>(cookies_.cbegin(), cookies_.cend());
}

QByteArray CookieJournal::Serialize(const std::vector<QNetworkCookie>& cookies)
{
    QByteArray text;
    for (const QNetworkCookie& c : cookies) {
        // Session cookies are kept too: the engine's own store keeps them
        // for a persistent profile, and a restarted crawl needs its session.
        text += c.toRawForm(QNetworkCookie::Full);
        text += '\n';
    }
    return text;
}

std::vector<QNetworkCookie> CookieJournal::Parse(const QByteArray& text)
{
    std::vector<QNetworkCookie> cookies;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const QByteArray& line : text.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        for (const QNetworkCookie& c : QNetworkCookie::parseCookies(line)) {
            // A line that does not name its domain cannot be put back where
            // it came from; an expired cookie is gone.
            if (c.domain().isEmpty() || (c.expirationDate().isValid() && c.expirationDate() <= now))
                continue;
            cookies.push_back(c);
        }
    }
    return cookies;
}

void CookieJournal::Restore()
{
    QFile file(path_);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly)) {
        Report(QStringLiteral("could not read the saved cookies %1: %2").arg(path_, file.errorString()));
        return;
    }
    for (const QNetworkCookie& c : Parse(file.readAll())) {
        store_->setCookie(c, OriginOf(c));
        cookies_.insert(Key(c), c);
        if (QNetworkCookieJar* jar = NetworkManager().cookieJar())
            jar->insertCookie(c);
    }
}

void CookieJournal::Flush()
{
    if (!dirty_)
        return;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    const QByteArray text = Serialize(Cookies());
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (!failing_)
            Report(QStringLiteral("could not save the cookies to %1: %2").arg(path_, file.errorString()));
        failing_ = true;
        return;
    }
    failing_ = false;
    dirty_ = false;
}

}  // namespace platform::engine
