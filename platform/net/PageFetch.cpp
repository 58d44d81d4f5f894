#include "platform/net/PageFetch.h"

#include "platform/net/Charset.h"
#include "platform/net/Network.h"
#include "platform/settings/Settings.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>

namespace platform {

PageFetch::PageFetch(const QUrl& address, Callback onFinished, QObject* parent)
    : QObject(parent), address_(address), current_(address), onFinished_(std::move(onFinished))
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { Fail(QStringLiteral("timed out")); });
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
            this, [this] { Fail(QStringLiteral("not an http or https address")); }, Qt::QueuedConnection);
        return;
    }
    deadline_.start(std::max(1, CurrentSettings().pageTimeoutS) * 1000);
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
    if (!statusAttr.isValid()) {
        // No HTTP response at all: refused, unreachable, reset, TLS failure...
        Fail(reply_->errorString());
        return;
    }
    const int status = statusAttr.toInt();
    if (reply_->error() != QNetworkReply::NoError && status < 400) {
        // A response that broke off (reset connection, corrupt compressed
        // data) is not passed on as if it were the whole page. From 400 on,
        // the error only restates the status, and the body is the error page.
        Fail(reply_->errorString());
        return;
    }
    const QByteArray location = reply_->rawHeader("Location");
    if ((status == 301 || status == 302 || status == 303 || status == 307 || status == 308) && !location.isEmpty()) {
        // Resolved against the address as asked for, not the routed one, so
        // that a relative Location keeps the original host.
        const QUrl next = current_.resolved(QUrl::fromEncoded(location));
        if (!IsFetchable(next)) {
            Fail(QStringLiteral("redirect to a refused address: ") + next.toString());
            return;
        }
        if (++redirects_ > kMaxRedirects) {
            Fail(QStringLiteral("too many redirects"));
            return;
        }
        DropReply();
        Request(next);
        return;
    }
    // Whatever is still unread after the limits is what was cut off.
    const bool limited = ReadBody();
    ReportBody(status, limited && reply_->bytesAvailable() > 0);
}

void PageFetch::Fail(const QString& why)
{
    PageResult result;
    result.finalAddress = current_;
    result.error = why;
    Report(std::move(result));
}

void PageFetch::Report(PageResult result)
{
    if (finished_)
        return;
    finished_ = true;
    deadline_.stop();
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
