#pragma once
// One page fetch: an address in, exactly one report out.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>

class QNetworkReply;

namespace platform {

struct PageResult {
    // The address the text came from: the requested one, or where its
    // redirects led.
    QUrl finalAddress;
    // True when a response arrived (also an HTTP error status such as 404,
    // whose body is the page a browser would show).
    bool ok = false;
    // The body decoded by its declared charset; empty on failure.
    QString text;
    // Why the fetch failed; empty when ok.
    QString error;
};

// Fetches one http or https address through NetworkManager(), following up
// to kMaxRedirects redirects (to http and https only, each hop routed),
// cutting the body at kMaxBodyBytes, and failing when the whole fetch takes
// longer than the settings' pageTimeoutS.
//
// The report is delivered exactly once, always from the event loop (never
// from within Start), through the callback given at construction and then
// the finished signal. The callback may destroy this object. Destroying the
// object before the report aborts the fetch, and nothing is reported.
class PageFetch : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const PageResult& result)>;

    PageFetch(const QUrl& address, Callback onFinished, QObject* parent = nullptr);
    ~PageFetch() override;

    // Starts the fetch; a second call does nothing. An address that is not
    // http or https is reported as failed without any network access.
    void Start();

    QUrl Address() const { return address_; }
    bool IsFinished() const { return finished_; }

signals:
    void finished(const platform::PageResult& result);

private:
    void Request(const QUrl& address);
    void OnReadyRead();
    void OnReplyFinished();
    void Fail(const QString& why);
    void Report(PageResult result);
    void DropReply();

    QUrl address_;
    QUrl current_;  // the hop under way
    Callback onFinished_;
    QPointer<QNetworkReply> reply_;
    QTimer deadline_;
    QByteArray body_;
    int redirects_ = 0;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace platform
