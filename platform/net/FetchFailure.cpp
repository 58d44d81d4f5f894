#include "platform/net/FetchFailure.h"

#include <QDateTime>
#include <QStringList>

#include <limits>

namespace platform {

bool FetchFailure::IsTransient() const
{
    switch (kind) {
    case Kind::None:
    case Kind::Refused:
        return false;
    case Kind::HttpStatus:
        return IsTransientStatus(httpStatus);
    case Kind::NoConnection:
    case Kind::ConnectionClosed:
    case Kind::NameLookup:
    case Kind::Tls:
    case Kind::Timeout:
    case Kind::Other:
        return true;
    }
    return false;
}

QString FetchFailure::Describe() const
{
    switch (kind) {
    case Kind::None:
        return QStringLiteral("loaded");
    case Kind::NoConnection:
        return QStringLiteral("no connection");
    case Kind::ConnectionClosed:
        return QStringLiteral("connection closed early");
    case Kind::NameLookup:
        return QStringLiteral("host name not found");
    case Kind::Tls:
        return QStringLiteral("TLS failure");
    case Kind::Timeout:
        return QStringLiteral("time-out");
    case Kind::HttpStatus:
        if (retryAfterS >= 0)
            return QStringLiteral("HTTP %1 (Retry-After %2 s)").arg(httpStatus).arg(retryAfterS);
        return QStringLiteral("HTTP %1").arg(httpStatus);
    case Kind::Refused:
        return QStringLiteral("refused address");
    case Kind::Other:
        return QStringLiteral("network error");
    }
    return QStringLiteral("network error");
}

FetchFailure::Kind FailureKindOf(QNetworkReply::NetworkError error)
{
    using E = QNetworkReply::NetworkError;
    using K = FetchFailure::Kind;
    switch (error) {
    case E::NoError:
        return K::None;
    case E::ConnectionRefusedError:
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::ProxyConnectionRefusedError:
        return K::NoConnection;
    case E::RemoteHostClosedError:
    case E::ProxyConnectionClosedError:
        return K::ConnectionClosed;
    case E::HostNotFoundError:
    case E::ProxyNotFoundError:
        return K::NameLookup;
    case E::SslHandshakeFailedError:
        return K::Tls;
    case E::TimeoutError:
    case E::ProxyTimeoutError:
        return K::Timeout;
    // Qt's own redirect handling is off (the fetch follows redirects
    // itself), but should these arrive they mean what Refused means.
    case E::TooManyRedirectsError:
    case E::InsecureRedirectError:
    case E::ProtocolUnknownError:
        return K::Refused;
    default:
        // Everything else, including the errors Qt derives from a status
        // (ContentNotFoundError, ServiceUnavailableError...): when a status
        // arrived the caller uses it instead; without one nothing better is
        // known.
        return K::Other;
    }
}

bool IsTransientStatus(int status)
{
    // Request Timeout, Too Early, Too Many Requests, and every server error.
    return status == 408 || status == 425 || status == 429 || (status >= 500 && status <= 599);
}

namespace {

// 1 to 12 for an English month abbreviation, 0 for anything else.
int MonthOf(const QString& name)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (name.compare(QLatin1String(kMonths[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    return 0;
}

int NumberOf(const QString& digits)
{
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok && !digits.startsWith(QLatin1Char('-')) && !digits.startsWith(QLatin1Char('+')) ? n : -1;
}

// An HTTP date in any of the three forms a server may send (the preferred
// "Sun, 06 Nov 1994 08:49:37 GMT", the obsolete "Sunday, 06-Nov-94 08:49:37
// GMT" and "Sun Nov  6 08:49:37 1994"), as UTC; invalid when it is none of
// them. The weekday is skipped rather than checked: a wrong one does not
// make the date less clear. Read field by field, never through local time,
// so that the machine's time zone cannot shift or void it.
QDateTime ParseHttpDate(const QString& value)
{
    QStringList words = value.simplified().split(QLatin1Char(' '));
    if (words.size() < 2)
        return {};
    const bool withComma = words.front().endsWith(QLatin1Char(','));
    words.removeFirst();  // the weekday
    int day = -1;
    int month = 0;
    int year = -1;
    QString clock;
    if (withComma && words.size() == 5 && words[4] == QLatin1String("GMT")) {
        day = NumberOf(words[0]);
        month = MonthOf(words[1]);
        year = NumberOf(words[2]);
        clock = words[3];
    } else if (withComma && words.size() == 3 && words[2] == QLatin1String("GMT")) {
        const QStringList parts = words[0].split(QLatin1Char('-'));
        if (parts.size() != 3 || parts[2].size() != 2)
            return {};
        day = NumberOf(parts[0]);
        month = MonthOf(parts[1]);
        year = NumberOf(parts[2]);
        // A two-digit year: a Retry-After date is never before 1970.
        if (year >= 0)
            year += year < 70 ? 2000 : 1900;
        clock = words[1];
    } else if (!withComma && words.size() == 4) {
        month = MonthOf(words[0]);
        day = NumberOf(words[1]);
        clock = words[2];
        year = NumberOf(words[3]);
    } else {
        return {};
    }
    const QDate date(year, month, day);
    const QTime time = QTime::fromString(clock, QStringLiteral("HH:mm:ss"));
    if (year < 0 || month == 0 || !date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

}  // namespace

int ParseRetryAfter(const QByteArray& value, qint64 nowUtcSecs)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool digits = true;
    for (char ch : text)
        digits = digits && ch >= '0' && ch <= '9';
    if (digits) {
        // Delta-seconds. More digits than an int holds is a very long wait,
        // not an unreadable one.
        bool fits = false;
        const qint64 seconds = text.size() <= 18 ? text.toLongLong(&fits) : 0;
        if (!fits || seconds > std::numeric_limits<int>::max())
            return std::numeric_limits<int>::max();
        return static_cast<int>(seconds);
    }
    const QDateTime when = ParseHttpDate(QString::fromLatin1(text));
    if (!when.isValid())
        return -1;
    const qint64 delta = when.toSecsSinceEpoch() - nowUtcSecs;
    if (delta <= 0)
        return 0;
    return delta > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(delta);
}

}  // namespace platform
