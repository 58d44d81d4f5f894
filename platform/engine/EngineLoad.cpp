#include "platform/engine/EngineLoad.h"

#include "platform/engine/CookieJournal.h"
#include "platform/engine/DeskProfile.h"
#include "platform/engine/GuardedPage.h"
#include "platform/net/Network.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QWebEngineLoadingInfo>

#include <algorithm>

namespace platform::engine {

namespace {

// How often a loaded page is asked whether it has settled.
constexpr int kProbeMs = 50;
// How long the reading of a page may take once the page time-out has come.
constexpr int kReadingGraceMs = 5000;

}  // namespace

FetchFailure::Kind FailureKindOfNetError(int code)
{
    using Kind = FetchFailure::Kind;
    switch (code) {
    case -105:  // NAME_NOT_RESOLVED
    case -137:  // NAME_RESOLUTION_FAILED
        return Kind::NameLookup;
    case -100:  // CONNECTION_CLOSED
    case -101:  // CONNECTION_RESET
    case -103:  // CONNECTION_ABORTED
    case -324:  // EMPTY_RESPONSE
    case -354:  // CONTENT_LENGTH_MISMATCH: the answer broke off
    case -355:  // INCOMPLETE_CHUNKED_ENCODING
        return Kind::ConnectionClosed;
    case -102:  // CONNECTION_REFUSED
    case -104:  // CONNECTION_FAILED
    case -106:  // INTERNET_DISCONNECTED
    case -108:  // ADDRESS_INVALID
    case -109:  // ADDRESS_UNREACHABLE
    case -118:  // CONNECTION_TIMED_OUT
    case -21:   // NETWORK_CHANGED
        return Kind::NoConnection;
    case -7:  // TIMED_OUT
        return Kind::Timeout;
    case -20:   // BLOCKED_BY_CLIENT: our own navigation rules
    case -300:  // INVALID_URL
    case -301:  // DISALLOWED_URL_SCHEME
    case -302:  // UNKNOWN_URL_SCHEME
    case -310:  // TOO_MANY_REDIRECTS
    case -311:  // UNSAFE_REDIRECT
    case -312:  // UNSAFE_PORT: ports of other protocols are never asked
        return Kind::Refused;
    default:
        // -107 and -110 to -199 are TLS failures, -200 to -299 certificates.
        if (code == -107 || (code <= -110 && code >= -199) || (code <= -200 && code >= -299))
            return Kind::Tls;
        return Kind::Other;
    }
}

EngineLoad::EngineLoad(GuardedPage* page, QUrl address, int timeoutS, int settleMs, Callback done, QObject* parent)
    : QObject(parent), page_(page), address_(std::move(address)), timeoutS_(timeoutS),
      settleMs_(std::max(settleMs, 0)), done_(std::move(done))
{
    deadline_.setSingleShot(true);
    probe_.setSingleShot(true);
    retry_.setSingleShot(true);
    grace_.setSingleShot(true);
    connect(&probe_, &QTimer::timeout, this, &EngineLoad::Probe);
    connect(&retry_, &QTimer::timeout, this, &EngineLoad::Attempt);
    connect(&deadline_, &QTimer::timeout, this, &EngineLoad::OnDeadline);
    connect(&grace_, &QTimer::timeout, this, [this] {
        Report({{}, {FetchFailure::Kind::Timeout, 0, -1, QStringLiteral("not read within the page time-out")}, 0,
                attempts_});
    });
    connect(page_, &QWebEnginePage::loadingChanged, this, &EngineLoad::OnLoadingChanged);
    connect(page_, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                OnRendererEnded(int(status), exitCode);
            });
}

EngineLoad::~EngineLoad()
{
    if (phase_ == Phase::Loading)
        page_->triggerAction(QWebEnginePage::Stop);
    if (head_)
        head_->abort();
}

void EngineLoad::Start()
{
    if (phase_ != Phase::Idle)
        return;
    end_ = QDeadlineTimer(std::chrono::seconds{timeoutS_});
    deadline_.start(std::chrono::seconds{timeoutS_});
    // The engine answers from the event loop, so the report never comes
    // from within Start.
    Attempt();
}

void EngineLoad::Attempt()
{
    if (phase_ == Phase::Done)
        return;
    ++turn_;
    ++attempts_;
    phase_ = Phase::Loading;
    page_->ResetRedirects();
    page_->ResetRequestCount();
    enginePage_ = false;
    page_->load(address_);
}

void EngineLoad::OnLoadingChanged(const QWebEngineLoadingInfo& info)
{
    if (phase_ != Phase::Loading)
        return;
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        Loaded({}, 200);
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        // Stopped by someone else (a newer load of the page): no document.
        AttemptFailed({FetchFailure::Kind::Other, 0, -1, QStringLiteral("the load was stopped")});
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        break;
    }
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
        const FetchFailure failure{FetchFailure::Kind::HttpStatus, info.errorCode(), -1,
                                   QStringLiteral("HTTP %1").arg(info.errorCode())};
        // The error page's body is the document, as a browser shows it; a
        // page the engine made up itself (for an empty answer) is none.
        enginePage_ = info.isErrorPage();
        if (failure.IsTransient()) {
            AttemptFailed(failure);
            return;
        }
        RetryOrReport(failure);
        return;
    }
    if (page_->RedirectRefused()) {
        Report({{}, {FetchFailure::Kind::Refused, 0, -1, page_->RefusedWhy()}, 0, attempts_});
        return;
    }
    FetchFailure failure{FailureKindOfNetError(info.errorCode()), 0, -1, info.errorString()};
    AttemptFailed(failure);
}

void EngineLoad::OnRendererEnded(int status, int exitCode)
{
    if (phase_ != Phase::Loading && phase_ != Phase::Settling && phase_ != Phase::Serializing)
        return;
    // The page is usable again with its next load; the one under way failed
    // transiently. The turn changes, so a reading it still owed is dropped.
    ++turn_;
    AttemptFailed({FetchFailure::Kind::Other, 0, -1,
                   QStringLiteral("the page's renderer process ended (status %1, exit code %2)").arg(status).arg(exitCode)});
}

void EngineLoad::Loaded(const FetchFailure& failure, int status)
{
    loadedFailure_ = failure;
    loadedStatus_ = status;
    phase_ = Phase::Settling;
    Probe();
}

void EngineLoad::Probe()
{
    if (phase_ != Phase::Settling)
        return;
    const quint64 turn = turn_;
    QPointer<EngineLoad> self(this);
    page_->runJavaScript(QuietProbeScript(), kOurWorld, [self, turn](const QVariant& result) {
        if (!self || self->turn_ != turn || self->phase_ != Phase::Settling)
            return;
        const Quiet quiet = ReadQuiet(result);
        if (quiet.quietMs >= self->settleMs_ && quiet.answered >= self->page_->ScriptRequestsStarted()) {
            self->Serialize();
            return;
        }
        // Asked again soon, or when the page could have settled at the earliest.
        const int wait = std::clamp(int(self->settleMs_ - quiet.quietMs), kProbeMs / 5, kProbeMs);
        self->probe_.start(wait);
    });
}

void EngineLoad::Serialize()
{
    phase_ = Phase::Serializing;
    const quint64 turn = turn_;
    QPointer<EngineLoad> self(this);
    page_->runJavaScript(SerializeScript(), kOurWorld, [self, turn](const QVariant& result) {
        if (!self || self->turn_ != turn || self->phase_ != Phase::Serializing)
            return;
        self->reading_ = {{}, self->loadedFailure_, self->loadedStatus_, self->attempts_};
        if (!ReadSerialized(result, self->reading_.page, self->unread_)) {
            self->Unreadable();
            return;
        }
        self->ReadSlices();
    });
}

SerializedDocument& EngineLoad::ReadingDocument(std::size_t index)
{
    return index == 0 ? reading_.page.page : reading_.page.frames[index - 1];
}

void EngineLoad::ReadSlices()
{
    // The next document with bytes still to read, one slice of it a turn.
    std::size_t index = 0;
    while (index < unread_.size() && unread_[index] == 0)
        ++index;
    if (index == unread_.size()) {
        Report(std::move(reading_));
        return;
    }
    QByteArray& html = ReadingDocument(index).html;
    if (html.isEmpty())
        html.reserve(unread_[index]);
    const qsizetype length = std::min(unread_[index], kSliceBytes);
    const bool last = std::all_of(unread_.begin() + qsizetype(index) + 1, unread_.end(),
                                  [](qsizetype n) { return n == 0; })
                      && length == unread_[index];
    const quint64 turn = turn_;
    QPointer<EngineLoad> self(this);
    page_->runJavaScript(SliceScript(int(index), html.size(), length, last), kOurWorld,
                         [self, turn, index, length](const QVariant& result) {
                             if (!self || self->turn_ != turn || self->phase_ != Phase::Serializing)
                                 return;
                             if (!ReadSlice(result, self->ReadingDocument(index).html)) {
                                 self->Unreadable();
                                 return;
                             }
                             self->unread_[index] -= length;
                             self->ReadSlices();
                         });
}

void EngineLoad::Unreadable()
{
    reading_.failure = {FetchFailure::Kind::Other, 0, -1, QStringLiteral("the page could not be read")};
    reading_.page = {};
    Report(std::move(reading_));
}

void EngineLoad::OnDeadline()
{
    switch (phase_) {
    case Phase::Settling:
        // Read as it stands; the reading itself gets a little longer, and
        // fails as a time-out when even that does not come back.
        probe_.stop();
        grace_.start(kReadingGraceMs);
        Serialize();
        return;
    case Phase::Serializing:
        grace_.start(kReadingGraceMs);
        return;
    case Phase::Done:
        return;
    default:
        // The load is stopped, and what the stop raises is no longer ours.
        if (phase_ == Phase::Loading) {
            phase_ = Phase::Waiting;
            page_->triggerAction(QWebEnginePage::Stop);
        }
        Report({{},
                {FetchFailure::Kind::Timeout, 0, -1, QStringLiteral("not loaded within %1 s").arg(timeoutS_)},
                0,
                attempts_});
        return;
    }
}

void EngineLoad::AttemptFailed(const FetchFailure& failure)
{
    if (failure.kind == FetchFailure::Kind::HttpStatus
        && (failure.httpStatus == 429 || failure.httpStatus == 503)) {
        // Asked once a load: a site that is struggling gets one request more
        // per page, not one more per attempt; it names the same delay again.
        if (!retryAfterAsked_) {
            AskRetryAfter(failure);
            return;
        }
        FetchFailure withDelay = failure;
        withDelay.retryAfterS = retryAfterS_;
        RetryOrReport(withDelay);
        return;
    }
    RetryOrReport(failure);
}

void EngineLoad::AskRetryAfter(const FetchFailure& failure)
{
    phase_ = Phase::Waiting;
    retryAfterAsked_ = true;
    const quint64 turn = ++turn_;
    QNetworkRequest request = BuildRequest(address_);
    request.setTransferTimeout(int(std::clamp<qint64>(end_.remainingTime(), 1, 10000)));
    head_ = NetworkManager().head(request);
    connect(head_, &QNetworkReply::finished, this, [this, turn, failure, reply = head_] {
        reply->deleteLater();
        if (turn_ != turn)
            return;
        retryAfterS_ = ParseRetryAfter(reply->rawHeader("Retry-After"), QDateTime::currentSecsSinceEpoch());
        FetchFailure withDelay = failure;
        withDelay.retryAfterS = retryAfterS_;
        RetryOrReport(withDelay);
    });
}

void EngineLoad::RetryOrReport(const FetchFailure& failure)
{
    qint64 delayMs = -1;
    if (failure.IsTransient() && failure.kind != FetchFailure::Kind::Timeout && attempts_ <= kQuickRetries) {
        delayMs = failure.retryAfterS >= 0 ? qint64(failure.retryAfterS) * 1000
                                           : QuickRetryDelay(timeoutS_, attempts_ - 1).count();
        if (delayMs >= end_.remainingTime())
            delayMs = -1;
    }
    if (delayMs < 0) {
        // An error status's page is the document, as for any error status,
        // unless the engine had to make one up for an empty answer.
        if (failure.kind == FetchFailure::Kind::HttpStatus && !enginePage_) {
            Loaded(failure, failure.httpStatus);
            return;
        }
        Report({{}, failure, failure.kind == FetchFailure::Kind::HttpStatus ? failure.httpStatus : 0, attempts_});
        return;
    }
    phase_ = Phase::Waiting;
    ++turn_;
    page_->triggerAction(QWebEnginePage::Stop);
    retry_.start(int(delayMs));
}

void EngineLoad::Report(EngineResult result)
{
    if (phase_ == Phase::Done)
        return;
    phase_ = Phase::Done;
    deadline_.stop();
    probe_.stop();
    retry_.stop();
    grace_.stop();
    // Chromium saves its cookies in batches; ours go to disk after every page.
    DeskCookies().Flush();
    if (result.page.page.address.isEmpty())
        result.page.page.address = address_;
    // A copy: the callback may destroy this object.
    const Callback done = done_;
    done(result);
}

}  // namespace platform::engine
