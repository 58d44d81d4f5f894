#include "platform/PageFetch.h"

#include "platform/Charset.h"
#include "platform/Network.h"
#include "platform/Settings.h"

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
    body_.clear();
    reply_ = NetworkManager().get(BuildRequest(address));
    connect(reply_, &QNetworkReply::readyRead, this, &PageFetch::OnReadyRead);
    connect(reply_, &QNetworkReply::finished, this, &PageFetch::OnReplyFinished);
}

void PageFetch::OnReadyRead()
{
    if (!reply_)
        return;
    body_ += reply_->read(kMaxBodyBytes - body_.size());
    if (body_.size() < kMaxBodyBytes)
        return;
    // Enough: the page is what arrived so far. A redirect's body is never
    // this large in practice, and if it were, it is discarded anyway.
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 300 && status < 400 && reply_->hasRawHeader("Location"))
        return;
    const QByteArray contentType = reply_->rawHeader("Content-Type");
    Report({current_, true, DecodeBody(body_, contentType), {}});
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
    body_ += reply_->read(kMaxBodyBytes - body_.size());
    const QByteArray contentType = reply_->rawHeader("Content-Type");
    Report({current_, true, DecodeBody(body_, contentType), {}});
}

void PageFetch::Fail(const QString& why) { Report({current_, false, {}, why}); }

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
    // Disconnect first: abort() emits finished synchronously.
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

}  // namespace platform
