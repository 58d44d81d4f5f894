#include "platform/settings/Settings.h"

#include "platform/base/Report.h"
#include "platform/settings/DatabaseUrl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <limits>
#include <mutex>
#include <optional>

namespace platform {

namespace {

// A problem with one key's value, in the form every message of this file uses.
QString KeyProblem(const QString& section, const QString& key, const QString& what)
{
    return QStringLiteral("[%1] %2: %3").arg(section, key, what);
}

// A decimal whole number in min..max; no sign, no blanks. Digits that do
// not even fit 64 bits are out of range as well.
std::optional<int> ParseInRange(const QString& text, int min, int max)
{
    if (text.isEmpty())
        return std::nullopt;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> ParsePositive(const QString& text)
{
    return ParseInRange(text, 1, std::numeric_limits<int>::max());
}

QString RangeProblem(int min, int max, const QString& value)
{
    return QStringLiteral("expected a whole number from %1 to %2, got \"%3\"").arg(min).arg(max).arg(value);
}

// Empty when `text` can be sent as a User-Agent header, else why not.
QString UserAgentProblem(const QString& text)
{
    if (text.size() > kMaxUserAgentChars)
        return QStringLiteral("longer than %1 characters").arg(kMaxUserAgentChars);
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("holds a control character");
    return {};
}

// A host name or an IPv4 address: letters, digits, '-' and '.', no empty label.
bool IsPlainHost(const QString& host)
{
    if (host.isEmpty() || host.startsWith(QLatin1Char('.')) || host.endsWith(QLatin1Char('.'))
        || host.contains(QStringLiteral("..")))
        return false;
    for (const QChar c : host) {
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-')
            || c == QLatin1Char('.');
        if (!ok)
            return false;
    }
    return true;
}

// "host:port" with a port in 1..65535.
bool ParseHostPort(const QString& text, QString& host, int& port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    host = text.left(colon).trimmed();
    const auto p = ParsePositive(text.mid(colon + 1).trimmed());
    if (!IsPlainHost(host) || !p || *p > 65535)
        return false;
    port = *p;
    return true;
}

// The site's base address: "http://host" or "https://host". One trailing
// slash is tolerated and dropped so that callers can append "/path" as is.
// Anything more (port, path, query, user) is refused: the routes decide where
// a host really connects, and the crawler builds every path itself.
std::optional<QString> ParseSiteBase(QString text, QString& why)
{
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        why = QStringLiteral("expected http://host or https://host, got \"%1\"").arg(text);
        return std::nullopt;
    }
    if (url.port() != -1 || !url.path().isEmpty() || url.hasQuery() || url.hasFragment()
        || !url.userInfo().isEmpty()) {
        why = QStringLiteral("only scheme and host are allowed (no port, path, query or user), got \"%1\"")
                  .arg(text);
        return std::nullopt;
    }
    if (!IsPlainHost(url.host())) {
        why = QStringLiteral("\"%1\" is not a valid host name").arg(url.host());
        return std::nullopt;
    }
    return scheme + QStringLiteral("://") + url.host();
}

std::optional<std::vector<Route>> ParseRoutes(const QString& text, QString& why)
{
    std::vector<Route> routes;
    if (text.trimmed().isEmpty())
        return routes;
    for (const QString& raw : text.split(QLatin1Char(','))) {
        const QString item = raw.trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        Route r;
        if (eq < 0 || !ParseHostPort(item.left(eq), r.fromHost, r.fromPort)
            || !ParseHostPort(item.mid(eq + 1), r.toHost, r.toPort)) {
            why = QStringLiteral("expected host:port=host:port, got \"%1\"").arg(item);
            return std::nullopt;
        }
        routes.push_back(r);
    }
    return routes;
}

struct SettingsState {
    std::mutex mutex;
    bool loaded = false;
    Settings value;
};

SettingsState& State()
{
    static SettingsState state;
    return state;
}

QString XdgHome(const char* variable, const QString& fallbackUnderHome)
{
    const QString given = qEnvironmentVariable(variable);
    // Relative values are invalid by the XDG rules and are ignored.
    if (!given.isEmpty() && QDir::isAbsolutePath(given))
        return given;
    return QDir::homePath() + QLatin1Char('/') + fallbackUnderHome;
}

Settings LoadFromFile()
{
    const QString path = SettingsFilePath();
    if (!QFileInfo::exists(path))
        return Settings{};
    QStringList errors;
    const std::optional<Settings> s = LoadSettingsFile(path, errors);
    if (!s) {
        for (const QString& e : errors)
            Report(e + QStringLiteral("; using defaults"));
        return Settings{};
    }
    for (const QString& e : errors)
        Report(path + QStringLiteral(": ") + e);
    return *s;
}

// Where the line holding `from` ends in `text`.
qsizetype LineEnd(const QString& text, qsizetype from)
{
    qsizetype end = from;
    while (end < text.size() && text[end] != QLatin1Char('\n') && text[end] != QLatin1Char('\r'))
        ++end;
    return end;
}

// Where the next address ("scheme://" after a blank, a quote or '=') starts
// in text[from, end), or `end`.
qsizetype NextAddress(const QString& text, qsizetype from, qsizetype end)
{
    for (qsizetype sep = text.indexOf(QStringLiteral("://"), from); sep >= 0 && sep < end;
         sep = text.indexOf(QStringLiteral("://"), sep + 3)) {
        auto inScheme = [](QChar c) {
            return c.isLetterOrNumber() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.');
        };
        qsizetype scheme = sep;
        while (scheme > from && inScheme(text[scheme - 1]))
            --scheme;
        if (scheme == sep || scheme == from || !text[scheme].isLetter())
            continue;
        const QChar before = text[scheme - 1];
        if (before.isSpace() || before == QLatin1Char('"') || before == QLatin1Char('='))
            return scheme;
    }
    return end;
}

// The last '@' in text[from, end), or -1.
qsizetype LastAt(const QString& text, qsizetype from, qsizetype end)
{
    for (qsizetype i = end - 1; i >= from; --i)
        if (text[i] == QLatin1Char('@'))
            return i;
    return -1;
}

// The database address check quotes the address as the URL parser read it,
// without its password. A password holding '/', '?' or '#' ends the
// authority early for that parser, so the rest of the password would show as
// host or path (or nothing would show): quote the value as written instead;
// the masking of every problem then hides its password.
QString QuotedAsWritten(const QString& value, QString problem)
{
    const QString parsed = QUrl(value, QUrl::StrictMode).toDisplayString(QUrl::RemovePassword);
    const QChar quote = QLatin1Char('"');
    return problem.replace(quote + parsed + quote, quote + value + quote);
}

}  // namespace

Settings ParseSettings(const QString& iniText, QStringList& errors)
{
    // Messages echo values and whole lines; a Hotels_Db address may carry a
    // password, so every message is masked on its way out.
    struct MaskOnReturn {
        QStringList& errors;
        const qsizetype before;
        ~MaskOnReturn()
        {
            for (qsizetype i = before; i < errors.size(); ++i)
                errors[i] = MaskPasswords(errors[i]);
        }
    } mask{errors, errors.size()};

    Settings s;
    QString section;
    bool badHeader = false;  // keys under a malformed header are already reported
    QSet<QString> seen;
    const QStringList lines = iniText.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QString line = lines[i].trimmed();  // also drops a CR of CRLF files
        // Only whole-line comments: ';' and '#' may appear inside values
        // (a database password, for one).
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')) || line.size() < 3) {
                errors << QStringLiteral("line %1: malformed section header \"%2\"").arg(lineNo).arg(line);
                section = QString();  // keys up to the next good header are ignored
                badHeader = true;
                continue;
            }
            badHeader = false;
            section = line.mid(1, line.size() - 2).trimmed();
            if (section != QLatin1String("site") && section != QLatin1String("network")
                && section != QLatin1String("databases") && section != QLatin1String("timers")
                && section != QLatin1String("desk") && section != QLatin1String("browser"))
                errors << QStringLiteral("line %1: unknown section [%2]").arg(lineNo).arg(section);
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            errors << QStringLiteral("line %1: expected \"key = value\", got \"%2\"").arg(lineNo).arg(line);
            continue;
        }
        if (badHeader)
            continue;
        if (section.isEmpty()) {
            errors << QStringLiteral("line %1: \"%2\" is outside any section").arg(lineNo).arg(line);
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        const QString full = QStringLiteral("[%1] %2").arg(section, key);
        if (seen.contains(full))
            errors << QStringLiteral("line %1: %2 given again; the last value wins").arg(lineNo).arg(full);
        seen.insert(full);

        QString why;
        if (section == QLatin1String("site") && key == QLatin1String("base")) {
            if (auto base = ParseSiteBase(value, why))
                s.siteBase = *base;
            else
                errors << KeyProblem(section, key, why);
        } else if (section == QLatin1String("network") && key == QLatin1String("routes")) {
            if (auto routes = ParseRoutes(value, why))
                s.routes = std::move(*routes);
            else
                errors << KeyProblem(section, key, why);
        } else if (section == QLatin1String("network") && key == QLatin1String("page_timeout_s")) {
            if (auto n = ParseInRange(value, 1, kMaxPageTimeoutS))
                s.pageTimeoutS = *n;
            else
                errors << KeyProblem(section, key, RangeProblem(1, kMaxPageTimeoutS, value));
        } else if (section == QLatin1String("timers") && key == QLatin1String("interval_ms")) {
            if (auto n = ParseInRange(value, 1, kMaxTimerIntervalMs))
                s.timerIntervalMs = *n;
            else
                errors << KeyProblem(section, key, RangeProblem(1, kMaxTimerIntervalMs, value));
        } else if (section == QLatin1String("desk") && key == QLatin1String("name")) {
            if (const QString problem = DeskNameProblem(value); problem.isEmpty())
                s.deskName = value;
            else
                errors << KeyProblem(section, key, problem);
        } else if (section == QLatin1String("databases") && key == QLatin1String("Hotels_Db")) {
            QString problem;
            if (value.isEmpty() || ParseDatabaseUrl(value, &problem))
                s.hotelsDb = value;
            else
                errors << KeyProblem(section, key, QuotedAsWritten(value, problem));
        } else if (section == QLatin1String("browser") && key == QLatin1String("engine")) {
            if (value == QLatin1String("chromium"))
                s.browserEngine = BrowserEngine::Chromium;
            else if (value == QLatin1String("html"))
                s.browserEngine = BrowserEngine::Html;
            else
                errors << KeyProblem(section, key, QStringLiteral("expected chromium or html, got \"%1\"").arg(value));
        } else if (section == QLatin1String("browser") && key == QLatin1String("user_agent")) {
            if (const QString problem = UserAgentProblem(value); problem.isEmpty())
                s.userAgent = value;
            else
                errors << KeyProblem(section, key, problem);
        } else if (section == QLatin1String("browser") && key == QLatin1String("settle_ms")) {
            if (auto n = ParseInRange(value, 0, kMaxSettleMs))
                s.settleMs = *n;
            else
                errors << KeyProblem(section, key, RangeProblem(0, kMaxSettleMs, value));
        } else {
            errors << QStringLiteral("line %1: unknown key %2").arg(lineNo).arg(full);
        }
    }
    return s;
}

namespace {
bool IsDeskNameChar(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') || c == QLatin1Char('_')
        || c == QLatin1Char('.');
}
}  // namespace

QString DeskNameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a desk needs a name");
    if (name.size() > kMaxDeskNameChars)
        return QStringLiteral("\"%1\" is longer than %2 characters").arg(name).arg(kMaxDeskNameChars);
    for (QChar c : name)
        if (!IsDeskNameChar(c))
            return QStringLiteral("\"%1\" holds \"%2\"; a desk name holds only letters, digits, '-', '_' and '.'")
                .arg(name, QString(c));
    return QString();
}

QString DefaultDeskName()
{
    QString name = QSysInfo::machineHostName().left(kMaxDeskNameChars);
    for (QChar& c : name)
        if (!IsDeskNameChar(c))
            c = QLatin1Char('-');
    return name.isEmpty() ? QStringLiteral("desk") : name;
}

std::optional<Settings> LoadSettingsFile(const QString& path, QStringList& errors)
{
    const QFileInfo info(path);
    const QString shown = info.absoluteFilePath();
    QFile file(shown);
    QString why;
    if (path.isEmpty())
        why = QStringLiteral("no file named");
    else if (!info.exists())
        why = QStringLiteral("no such file");
    else if (info.isDir())
        why = QStringLiteral("is a folder");
    else if (!file.open(QIODevice::ReadOnly))
        why = file.errorString();
    if (why.isEmpty()) {
        const QByteArray bytes = file.readAll();
        if (file.error() == QFileDevice::NoError)
            return ParseSettings(QString::fromUtf8(bytes), errors);
        why = file.errorString();
    }
    errors << QStringLiteral("cannot read settings file \"%1\": %2").arg(shown, why);
    return std::nullopt;
}

QString MaskPasswords(const QString& text)
{
    QString out;
    qsizetype copied = 0;  // text before this index is already in `out`
    qsizetype lineEnd = -1;
    for (qsizetype sep = text.indexOf(QStringLiteral("://")); sep >= 0;) {
        const qsizetype start = sep + 3;
        if (start > lineEnd)
            lineEnd = LineEnd(text, start);
        // The user part ends at the last '@' of the address. A password may
        // hold '/', '@', blanks or quotes, so the address is taken to run to
        // the next one on the line, or to the line's end. Without an '@' of
        // its own, an '@' further on the line still counts: hiding too much
        // beats leaking.
        const qsizetype next = NextAddress(text, start, lineEnd);
        qsizetype atSign = LastAt(text, start, next);
        // Any "://" before `next` lies inside this address and is hidden with it.
        qsizetype resume = next;
        if (atSign < 0) {
            atSign = LastAt(text, next, lineEnd);
            if (atSign < 0)
                resume = lineEnd;  // no '@' left on the line: nothing on it to hide
        }
        const qsizetype colon = atSign < 0 ? -1 : text.indexOf(QLatin1Char(':'), start);
        if (colon >= 0 && colon < atSign) {
            out += QStringView(text).mid(copied, colon + 1 - copied);
            out += QStringLiteral("***");
            copied = atSign;
        }
        sep = text.indexOf(QStringLiteral("://"), std::max(resume, atSign));
    }
    out += QStringView(text).mid(copied);
    return out;
}

const Settings& CurrentSettings()
{
    SettingsState& st = State();
    std::lock_guard<std::mutex> lock(st.mutex);
    if (!st.loaded) {
        st.value = LoadFromFile();
        st.loaded = true;
    }
    return st.value;
}

void SetSettings(const Settings& settings)
{
    SettingsState& st = State();
    std::lock_guard<std::mutex> lock(st.mutex);
    st.value = settings;
    st.loaded = true;
}

QString SettingsFilePath()
{
    return XdgHome("XDG_CONFIG_HOME", QStringLiteral(".config"))
        + QStringLiteral("/hotelcrawler/hotelcrawler.ini");
}

QString DefaultDatabasePath()
{
    return XdgHome("XDG_DATA_HOME", QStringLiteral(".local/share"))
        + QStringLiteral("/hotelcrawler/Hotels_Db.sqlite");
}

const Route* FindRoute(const Settings& settings, const QString& host, int port)
{
    for (const Route& r : settings.routes)
        if (r.fromPort == port && r.fromHost.compare(host, Qt::CaseInsensitive) == 0)
            return &r;
    return nullptr;
}

}  // namespace platform
