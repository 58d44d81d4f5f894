#include "fuzz/InstantAnswers.h"

#include "platform/net/Network.h"

#include <QAbstractNetworkCache>
#include <QBuffer>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkCacheMetaData>
#include <QNetworkRequest>

namespace fuzz {

const char kAnswerPage[] = "<!DOCTYPE html><title>Not Found</title><p>Not Found</p>";

namespace {

int answered = 0;

// Not empty: Qt finishes a reply served from a cache only once it has read
// something from the cache's device.
const QByteArray kBody(kAnswerPage);

class AnsweringCache final : public QAbstractNetworkCache {
public:
    using QAbstractNetworkCache::QAbstractNetworkCache;

    QNetworkCacheMetaData metaData(const QUrl& url) override
    {
        QNetworkCacheMetaData meta;
        meta.setUrl(url);
        // Fresh for as long as any run lasts, so Qt never asks the network
        // whether the entry is still good.
        meta.setExpirationDate(QDateTime::currentDateTimeUtc().addYears(1));
        meta.setSaveToDisk(true);  // Qt serves only entries marked so
        meta.setRawHeaders({{"Content-Type", "text/html; charset=utf-8"}, {"Content-Length", QByteArray::number(kBody.size())}});
        meta.setAttributes({{QNetworkRequest::HttpStatusCodeAttribute, kAnswerStatus},
                            {QNetworkRequest::HttpReasonPhraseAttribute, QByteArrayLiteral("Not Found")}});
        return meta;
    }

    // Qt takes the device and deletes it with the reply.
    QIODevice* data(const QUrl&) override
    {
        ++answered;
        auto* body = new QBuffer;
        body->setData(kBody);
        body->open(QIODevice::ReadOnly);
        return body;
    }

    // Answers from the network are never kept: there are none.
    void updateMetaData(const QNetworkCacheMetaData&) override {}
    QIODevice* prepare(const QNetworkCacheMetaData&) override { return nullptr; }
    bool remove(const QUrl&) override { return false; }
    qint64 cacheSize() const override { return 0; }
    void insert(QIODevice*) override {}
    void clear() override {}
};

}  // namespace

void AnswerEveryPageAtOnce()
{
    QNetworkAccessManager& manager = platform::NetworkManager();
    if (dynamic_cast<AnsweringCache*>(manager.cache()))
        return;
    // The manager takes ownership.
    manager.setCache(new AnsweringCache);
}

int AnsweredRequests() { return answered; }

}  // namespace fuzz
