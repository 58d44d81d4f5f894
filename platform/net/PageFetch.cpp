#include "platform/net/PageFetch.h"

#include "platform/net/Charset.h"
#include "platform/net/Network.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>

namespace platform {

namespace {

// The failure an answer's status stands for: none below 400.
FetchFailure StatusFailure(QNetworkReply& reply, int status)
{
    FetchFailure failure;
    if (status < 400)
        return failure;
    failure.kind = FetchFailure::Kind::HttpStatus;
    failure.httpStatus = status;
    failure.retryAfterS = ParseRetryAfter(reply.rawHeader("Retry-After"), QDateTime::currentSecsSinceEpoch());
    failure.detail = reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return failure;
}

// True when the answer announced a length its body did not reach. Qt's
// HTTP/1 reader finishes a reply without an error when it finds the
// connection closed while reading the body, whatever the announced length,
// if it only notices the close after it has read what arrived (as on a
// loaded machine), so a page cut off by the server could pass for whole.
// A body Qt decompresses has its Content-Length removed, so the length
// checked is always the one of the bytes as they reach us.
bool FellShort(const QNetworkReply& reply, qint64 received, int status)
{
    if (status < 200 || status == 204 || status == 304)
        return false;
    const QVariant announced = reply.header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() && received < announced.toLongLong();
}

}  // namespace

PageFetch::PageFetch(const QUrl& address, int timeoutS, Callback onFinished, QObject* parent)
    : QObject(parent), address_(address), current_(address), onFinished_(std::move(onFinished)), timeoutS_(timeoutS)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { Fail(FetchFailure::Kind::Timeout, QStringLiteral("timed out")); });
    retry_.setSingleShot(true);
    // Precise: a retry must not start before the time a Retry-After asked for.
    retry_.setTimerType(Qt::PreciseTimer);
    connect(&retry_, &QTimer::timeout, this, [this] {
        ++attempts_;
        Request(current_);
    });
}

PageFetch::~PageFetch() { DropReply(); }

void PageFetch::Start()
{
    if (started_)
        return;
    started_ = true;
    if (!IsFetchable(address_)) {
        // Reported from the event loop like every other outcome, so that the
        // caller never sees its callback run inside Start.
        QMetaObject::invokeMethod(
            this, [this] { Fail(FetchFailure::Kind::Refused, QStringLiteral("not an http or https address")); },
            Qt::QueuedConnection);
        return;
    }
    end_ = QDeadlineTimer(std::chrono::seconds(timeoutS_));
    deadline_.start(timeoutS_ * 1000);
    attempts_ = 1;
    Request(address_);
}

void PageFetch::Request(const QUrl& address)
{
    current_ = address;
    // A redirect's body is thrown away, so it no longer counts.
    if (budget_)
        budget_->GiveBack(body_.size());
    body_.clear();
    reply_ = NetworkManager().get(BuildRequest(address));
    connect(reply_, &QNetworkReply::readyRead, this, &PageFetch::OnReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &PageFetch::OnReplyFinished);
}

void PageFetch::OnReadyRead()
{
    if (!reply_)
        return;
    if (!ReadBody())
        return;
    // Enough: the page is what arrived so far. A redirect's body is never
    // this large in practice, and if it were, it is discarded anyway.
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400 && reply_->hasRawHeader("Location"))
        return;
    // A transient error page is not worth waiting for whole: it is retried
    // now, or reported as cut.
    if (IsTransientStatus(status)) {
        AttemptFailed(StatusFailure(*reply_, status), true);
        return;
    }
    ReportBody(status, true);
}

bool PageFetch::ReadBody()
{
    qint64 room = kMaxBodyBytes - body_.size();
    if (budget_)
        room = std::min(room, std::max<qint64>(budget_->Remaining(), 0));
    if (room > 0) {
        const QByteArray chunk = reply_->read(room);
        body_ += chunk;
        if (budget_)
            budget_->Take(chunk.size());
        room -= chunk.size();
    }
    return room <= 0;
}

void PageFetch::ReportBody(int status, bool cut)
{
    PageResult result;
    result.finalAddress = current_;
    result.ok = true;
    result.httpStatus = status;
    result.failure = StatusFailure(*reply_, status);
    result.cut = cut;
    const QByteArray contentType = reply_->rawHeader("Content-Type");
    if (keepRaw_) {
        // Shared, not copied: Report clears body_ before anyone reads it.
        result.body = body_;
        result.contentType = contentType;
    } else {
        result.text = DecodeBody(body_, contentType);
    }
    Report(std::move(result));
}

void PageFetch::OnReplyFinished()
{
    if (!reply_)
        return;
    const QVariant statusAttr = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const FetchFailure networkFailure{FailureKindOf(reply_->error()), 0, -1, reply_->errorString()};
    if (!statusAttr.isValid()) {
        // No HTTP response at all: refused, unreachable, reset, TLS failure...
        AttemptFailed(networkFailure.Failed() ? networkFailure
                                              : FetchFailure{FetchFailure::Kind::Other, 0, -1, reply_->errorString()},
                      false);
        return;
    }
    const int status = statusAttr.toInt();
    if (networkFailure.Failed() && status < 400) {
        // A response that broke off (reset connection, corrupt compressed
        // data) is not passed on as if it were the whole page. From 400 on,
        // the error only restates the status, and the body is the error page.
        AttemptFailed(networkFailure, false);
        return;
    }
    const QByteArray location = reply_->rawHeader("Location");
    if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && !location.isEmpty()) {
        // Resolved against the address as asked for, not the routed one, so
        // that a relative Location keeps the original host.
        const QUrl next = current_.resolved(QUrl::fromEncoded(location));
        if (!IsFetchable(next)) {
            Fail(FetchFailure::Kind::Refused, QStringLiteral("redirect to a refused address: ") + next.toString());
            return;
        }
        if (++redirects_ > kMaxRedirects) {
            Fail(FetchFailure::Kind::Refused, QStringLiteral("too many redirects"));
            return;
        }
        // A hop, not a retry: the same attempt goes on.
        DropReply();
        Request(next);
        return;
    }
    // Whatever is still unread after the limits is what was cut off.
    const bool limited = ReadBody();
    const bool cut = limited && reply_->bytesAvailable() > 0;
    if (status < 400 && FellShort(*reply_, body_.size() + reply_->bytesAvailable(), status)) {
        AttemptFailed({FetchFailure::Kind::ConnectionClosed, 0, -1,
                       QStringLiteral("the connection closed before the whole answer arrived")},
                      false);
        return;
    }
    if (IsTransientStatus(status)) {
        AttemptFailed(StatusFailure(*reply_, status), cut);
        return;
    }
    ReportBody(status, cut);
}

void PageFetch::AttemptFailed(const FetchFailure& failure, bool cut)
{
    const int delayMs = RetryDelayMs(failure);
    if (delayMs < 0) {
        if (failure.kind == FetchFailure::Kind::HttpStatus)
            ReportBody(failure.httpStatus, cut);
        else
            Fail(failure);
        return;
    }
    // The failed attempt's body is dropped, so it no longer counts against
    // the budget that other fetches draw on meanwhile.
    DropReply();
    if (budget_)
        budget_->GiveBack(body_.size());
    body_.clear();
    QPointer<PageFetch> self(this);
    emit retrying(failure, delayMs);
    if (self)
        retry_.start(delayMs);
}

int PageFetch::RetryDelayMs(const FetchFailure& failure) const
{
    if (!failure.IsTransient() || attempts_ > kQuickRetries)
        return -1;
    const qint64 remainingMs = end_.remainingTime();
    // A server that says when to come back is believed: earlier would only
    // be answered the same way. Later than the time-out is not waited for.
    qint64 delayMs = 0;
    if (failure.retryAfterS >= 0)
        delayMs = qint64(failure.retryAfterS) * 1000;
    else
        delayMs = QuickRetryDelay(timeoutS_, attempts_ - 1).count();
    return delayMs < remainingMs ? int(delayMs) : -1;
}

void PageFetch::Fail(FetchFailure::Kind kind, const QString& why) { Fail(FetchFailure{kind, 0, -1, why}); }

void PageFetch::Fail(const FetchFailure& failure)
{
    PageResult result;
    result.finalAddress = current_;
    result.error = failure.detail.isEmpty() ? failure.Describe() : failure.detail;
    result.failure = failure;
    // Nothing of a failed fetch is passed on, so its bytes are not spent.
    if (budget_)
        budget_->GiveBack(body_.size());
    body_.clear();
    Report(std::move(result));
}

void PageFetch::Report(PageResult result)
{
    if (finished_)
        return;
    finished_ = true;
    deadline_.stop();
    retry_.stop();
    result.attempts = attempts_;
    DropReply();
    body_.clear();
    // The callback may destroy this object: take what is needed first and
    // touch nothing of it afterwards unless it survived.
    QPointer<PageFetch> self(this);
    Callback callback = onFinished_;
    if (callback)
        callback(result);
    if (self)
        emit finished(result);
}

void PageFetch::DropReply()
{
    if (!reply_)
        return;
    QNetworkReply* reply = reply_;
    reply_ = nullptr;
    // Disconnect first: abort() emits finished synchronously. A reply that
    // has finished already is not aborted: Qt would report its error twice.
    disconnect(reply, nullptr, this, nullptr);
    if (reply->isRunning())
        reply->abort();
    reply->deleteLater();
}

}  // namespace platform
