#pragma once
// One page loaded in the engine: an address in, exactly one report out, once
// the page has loaded and its scripts have settled, with the markup of the
// page and of the frames it may read, or with why it did not load.
//
// The settling rule: after the engine says the page's document has loaded
// (or answered with an error status, whose body is the page), the page is
// complete once its documents (the page and the frames it may read) have
// gone [browser] settle_ms without any change, and every fetch() and
// XMLHttpRequest its documents started has been answered. Content a script
// adds on DOMContentLoaded, on load or a little later (a timer, a fetch) is
// so in the report. When the page time-out comes first, a page whose
// document had loaded is read as it stands then (a page that never stops
// changing still yields what it shows); one that had not fails as Timeout.
//
// The network guarantees are those of PageFetch: an attempt that fails
// transiently (no connection, a reset, HTTP 408, 425, 429 or 5xx, a renderer
// process that died) is tried again up to kQuickRetries times after
// QuickRetryDelay or the Retry-After the answer asked for, all within the
// page time-out; the report carries the last attempt's failure. The engine
// gives no response headers: at the first answer of 429 or 503 our own
// fetch asks the address once more, with HEAD and the same cookies, for its
// Retry-After, which then stands for the load's later answers too. A redirect to anything but http or https, or one too many,
// fails as Refused. The page time-out stops the load.

#include "platform/engine/PageScripts.h"
#include "platform/net/FetchFailure.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <vector>

class QNetworkReply;
class QWebEngineLoadingInfo;

namespace platform::engine {

class GuardedPage;

struct EngineResult {
    // The page as it stands once settled (its address after redirects), and
    // the frames it may read. Empty markup when no document loaded.
    SerializedPage page;
    // Kind::None for a page that loaded; HttpStatus (with the markup of the
    // error page) for an answer of 400 or more; a network kind, Timeout or
    // Refused when no document loaded.
    FetchFailure failure;
    // The answer's status; 0 when none came (the engine reports only errors:
    // a page that loaded says 200).
    int httpStatus = 0;
    // Times the page was requested (1 plus the quick retries).
    int attempts = 0;
};

class EngineLoad final : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(const EngineResult& result)>;

    // Loads `address` in `page`, which must outlive this object, waiting at
    // most `timeoutS` seconds and settling for `settleMs`. Nothing happens
    // before Start. The report comes exactly once, from the event loop,
    // through `done`, which may destroy this object. Destroying it before
    // then stops the page's load, and nothing is reported.
    EngineLoad(GuardedPage* page, QUrl address, int timeoutS, int settleMs, Callback done, QObject* parent = nullptr);
    ~EngineLoad() override;

    void Start();

private:
    enum class Phase { Idle, Loading, Settling, Serializing, Waiting, Done };

    void Attempt();
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnRendererEnded(int status, int exitCode);
    void OnDeadline();
    // The document is there (loaded, or an error page): wait for it to settle.
    void Loaded(const FetchFailure& failure, int status);
    void Probe();
    void Serialize();
    // Reads what the serialization left in the page, a slice a turn, then
    // reports it.
    void ReadSlices();
    SerializedDocument& ReadingDocument(std::size_t index);
    // The page moved on (or answered nonsense) while it was being read.
    void Unreadable();
    // An attempt failed: retry if the failure and the time left allow it,
    // else report (an HTTP status with its page, read once settled).
    void AttemptFailed(const FetchFailure& failure);
    void AskRetryAfter(const FetchFailure& failure);
    void RetryOrReport(const FetchFailure& failure);
    void Report(EngineResult result);

    GuardedPage* page_;
    const QUrl address_;
    const int timeoutS_;
    const int settleMs_;
    Callback done_;
    Phase phase_ = Phase::Idle;
    // Counts attempts and probes; a callback of an earlier one finds a
    // different number and does nothing.
    quint64 turn_ = 0;
    int attempts_ = 0;
    FetchFailure loadedFailure_;
    int loadedStatus_ = 0;
    QDeadlineTimer end_;
    QTimer deadline_;
    QTimer probe_;  // the next question whether the page has settled
    QTimer retry_;  // the delay before the next attempt
    QTimer grace_;  // how long a reading at the deadline may take
    // The last answer's page was made by the engine, not sent by the site.
    bool enginePage_ = false;
    QPointer<QNetworkReply> head_;
    // The Retry-After our own HEAD found (-1: none), once it was asked.
    bool retryAfterAsked_ = false;
    int retryAfterS_ = -1;
    // The report being read out of the page, and the bytes of each of its
    // documents (the page, then the frames) still to read.
    EngineResult reading_;
    std::vector<qsizetype> unread_;
};

// The failure kind for a Chromium network error code (net::Error, negative).
FetchFailure::Kind FailureKindOfNetError(int code);

}  // namespace platform::engine
