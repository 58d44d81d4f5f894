#pragma once
// One page fetch: an address in, exactly one report out.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkReply;

namespace platform {

struct PageResult {
    // The address the text came from: the requested one, or where its
    // redirects led.
    QUrl finalAddress;
    // True when a response arrived (also an HTTP error status such as 404,
    // whose body is the page a browser would show).
    bool ok = false;
    // The body decoded by its declared charset; empty on failure, and
    // always empty for a fetch that keeps its body raw (KeepRawBody).
    QString text;
    // Why the fetch failed; empty when ok.
    QString error;
    // The final response's HTTP status; 0 when no response arrived.
    int httpStatus = 0;
    // The body as fetched and the response's Content-Type, for a fetch that
    // keeps its body raw; empty otherwise.
    QByteArray body;
    QByteArray contentType;
    // True when the body was cut: at kMaxBodyBytes or when the budget ran out.
    bool cut = false;
};

// Body bytes that several fetches share (one navigation's page and frames).
// Fetches take from it as bytes arrive; a fetch that finds it spent ends at
// once with what it has. Window thread only.
class BodyBudget {
public:
    explicit BodyBudget(qint64 total) : remaining_(total) {}
    qint64 Remaining() const { return remaining_; }
    void Take(qint64 bytes) { remaining_ -= bytes; }
    void GiveBack(qint64 bytes) { remaining_ += bytes; }

private:
    qint64 remaining_;
};

// Fetches one http or https address through NetworkManager(), following up
// to kMaxRedirects redirects (to http and https only, each hop routed),
// cutting the body at kMaxBodyBytes (or where a shared budget ends), and failing when the whole fetch takes
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

    // Before Start: the report carries the body undecoded (PageResult::body
    // and contentType) and leaves `text` empty, so that the caller can
    // decode it off the window thread.
    void KeepRawBody() { keepRaw_ = true; }
    // Before Start: the body also draws on `budget`, shared with other
    // fetches; the fetch is cut when the budget is spent. A redirect's
    // discarded body is given back.
    void SetBudget(std::shared_ptr<BodyBudget> budget) { budget_ = std::move(budget); }

    QUrl Address() const { return address_; }
    bool IsFinished() const { return finished_; }

signals:
    void finished(const platform::PageResult& result);

private:
    void Request(const QUrl& address);
    void OnReadyRead();
    void OnReplyFinished();
    void Fail(const QString& why);
    // Reads what the limits allow; true when a limit was reached.
    bool ReadBody();
    void ReportBody(int status, bool cut);
    void Report(PageResult result);
    void DropReply();

    QUrl address_;
    QUrl current_;  // the hop under way
    Callback onFinished_;
    QPointer<QNetworkReply> reply_;
    QTimer deadline_;
    QByteArray body_;
    std::shared_ptr<BodyBudget> budget_;
    int redirects_ = 0;
    bool keepRaw_ = false;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace platform
