#pragma once
// One page fetch: an address in, exactly one report out.

#include "platform/net/FetchFailure.h"

#include <QByteArray>
#include <QDeadlineTimer>
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
    // Why the page did not load. Kind::None for an answer below 400;
    // Kind::HttpStatus, with the status and the Retry-After it asked for,
    // for an answer of 400 or more (ok stays true and the body is there); a
    // network kind, Timeout or Refused when no usable answer came (!ok).
    // After quick retries, the failure of the last attempt.
    FetchFailure failure;
    // How many times the page was requested: 1 plus the quick retries made.
    // A redirect hop belongs to the attempt that followed it and does not
    // count. 0 when nothing was requested (not an http or https address).
    int attempts = 0;
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
// longer than its page time-out.
//
// An answer below 400 whose body stops short of its Content-Length (the
// server closed the connection early) is a ConnectionClosed failure, never
// a page.
//
// Quick retries: an attempt that fails transiently (a network failure, or
// an answer with status 408, 425, 429 or 5xx) is tried again, the hop that
// failed, up to kQuickRetries times, after QuickRetryDelay() or, when the
// answer carried a Retry-After, after the time it asks for. Every retry
// stays within the page time-out: when the delay would not end before it,
// the failure is reported at once (a Retry-After that does not fit is so
// reported with its retryAfterS, for the caller to space its next try).
// Running out of the whole page time-out is never retried. A failed
// attempt's body is dropped and given back to the shared budget; the
// report after retries is the last attempt's.
//
// The report is delivered exactly once, always from the event loop (never
// from within Start), through the callback given at construction and then
// the finished signal. The callback may destroy this object. Destroying the
// object before the report (also while it waits to retry) aborts the fetch,
// and nothing is reported.
class PageFetch : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const PageResult& result)>;

    // `timeoutS`, the page time-out, is 1 to kMaxPageTimeoutS (Settings.h).
    PageFetch(const QUrl& address, int timeoutS, Callback onFinished, QObject* parent = nullptr);
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

signals:
    void finished(const platform::PageResult& result);
    // An attempt failed with `failure` and the next one starts in `delayMs`
    // milliseconds; from the event loop, never after the report. A receiver
    // may destroy the fetch: nothing is retried or reported then.
    void retrying(const platform::FetchFailure& failure, int delayMs);

private:
    void Request(const QUrl& address);
    void OnReadyRead();
    void OnReplyFinished();
    // An attempt ended with a transient failure: retries, or reports it
    // (an answer with its body, cut or not; anything else as failed).
    void AttemptFailed(const FetchFailure& failure, bool cut);
    // Milliseconds before retrying after `failure`; -1 for no retry.
    int RetryDelayMs(const FetchFailure& failure) const;
    void Fail(FetchFailure::Kind kind, const QString& why);
    void Fail(const FetchFailure& failure);
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
    QDeadlineTimer end_;  // when deadline_ fires, for what time is left
    int timeoutS_;
    QTimer retry_;        // the delay before the next attempt
    QByteArray body_;
    std::shared_ptr<BodyBudget> budget_;
    int redirects_ = 0;
    int attempts_ = 0;
    bool keepRaw_ = false;
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace platform
