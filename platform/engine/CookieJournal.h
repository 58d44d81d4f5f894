#pragma once
// The desk's cookies, kept in a file of our own beside the engine's store.
// Chromium writes its cookie store in batches, about every 30 s, so a
// `kill -9` loses the cookies of the last half minute, the session cookie of
// a search among them; this journal is written whenever it is flushed (after
// every page) and put back into the engine's store at start.

#include <QByteArray>
#include <QMap>
#include <QNetworkCookie>
#include <QObject>
#include <QString>

#include <vector>

class QWebEngineCookieStore;

namespace platform::engine {

class CookieJournal final : public QObject {
    Q_OBJECT
public:
    // Follows `store` (which must outlive this object) from now on, and
    // writes to `path`. Does not read the file: see Restore.
    CookieJournal(QWebEngineCookieStore* store, QString path, QObject* parent = nullptr);

    // Hands every cookie of the file to the engine's store (which takes them
    // asynchronously) and to the cookie jar of our own fetches. A missing
    // file is no cookies; an unreadable one is reported once on standard
    // error and read as none.
    void Restore();

    // Writes the cookies as they stand now, if they changed since the last
    // write, replacing the file whole (a crash leaves the old one or the
    // new one). A failed write is reported on standard error, once until a
    // write succeeds again; the cookies stay to be written at the next flush.
    void Flush();

    // The cookies followed now, for tests.
    std::vector<QNetworkCookie> Cookies() const;

    // One cookie a line, as its Set-Cookie form, and back.
    static QByteArray Serialize(const std::vector<QNetworkCookie>& cookies);
    static std::vector<QNetworkCookie> Parse(const QByteArray& text);

private:
    static QString Key(const QNetworkCookie& cookie);
    void Added(const QNetworkCookie& cookie);
    void Removed(const QNetworkCookie& cookie);

    QWebEngineCookieStore* store_;
    QString path_;
    QMap<QString, QNetworkCookie> cookies_;
    bool dirty_ = false;
    bool failing_ = false;
};

}  // namespace platform::engine
