#include "SampleSite.h"

#include "Pump.h"

#include <httplib.h>

#include <QRegularExpression>
#include <QCoreApplication>

SampleSite::SampleSite(const QStringList& extraArguments)
{
    QObject::connect(&process_, &QProcess::readyReadStandardError, &process_, [this] { readErrors(); });
    process_.setProgram(QStringLiteral(HC_SAMPLE_SITE_EXE));
    process_.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArguments);
    process_.start();

    QByteArray out;
    PumpUntil(
        [&] {
            out += process_.readAllStandardOutput();
            return out.contains('\n') || process_.state() == QProcess::NotRunning;
        },
        20000);

    const QByteArray prefix = "listening on 127.0.0.1:";
    const QByteArray firstLine = out.left(out.indexOf('\n')).trimmed();
    if (firstLine.startsWith(prefix)) {
        bool ok = false;
        const int port = firstLine.mid(prefix.size()).toInt(&ok);
        if (ok && port > 0)
            port_ = port;
    }
    // From here on only standard error carries anything, and drain() reads
    // the current channel.
    process_.setReadChannel(QProcess::StandardError);
}

SampleSite::~SampleSite()
{
    // No callbacks into members that are about to be destroyed.
    QObject::disconnect(&process_, nullptr, nullptr, nullptr);
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

void SampleSite::readErrors()
{
    partialLine_ += process_.readAllStandardError();
    qsizetype newline;
    while ((newline = partialLine_.indexOf('\n')) >= 0) {
        lines_ << QString::fromUtf8(partialLine_.left(newline));
        partialLine_.remove(0, newline + 1);
    }
}

void SampleSite::drain()
{
    // The site logs a request before answering it, so once a response has
    // arrived its line is already in the pipe; a zero-timeout read collects
    // it without waiting.
    QCoreApplication::processEvents();
    while (process_.state() == QProcess::Running && process_.waitForReadyRead(0)) {
    }
    readErrors();
}

QStringList SampleSite::requestLines()
{
    drain();
    return lines_;
}

int SampleSite::countRequestsContaining(const QString& text)
{
    drain();
    int count = 0;
    for (const auto& line : lines_)
        if (line.contains(text))
            ++count;
    return count;
}

bool SampleSite::waitForRequestContaining(const QString& text, int timeoutMs)
{
    const auto seen = [&] {
        readErrors();
        for (const auto& line : lines_)
            if (line.contains(text))
                return true;
        return false;
    };
    drain();
    return PumpUntil(seen, timeoutMs);
}

int SampleSite::get(const std::string& pathAndQuery, std::string* body)
{
    Answer answer = fetch(pathAndQuery);
    if (answer.status != 0 && body != nullptr)
        *body = std::move(answer.body);
    return answer.status;
}

SampleSite::Answer SampleSite::fetch(const std::string& pathAndQuery, const std::string& cookie)
{
    Answer answer;
    if (port_ <= 0)
        return answer;
    // Keep the log pipe empty: a site blocked on a full pipe would never
    // answer this blocking call.
    drain();
    httplib::Client client("127.0.0.1", port_);
    client.set_connection_timeout(5);
    client.set_read_timeout(150);  // longer than the site's own hold limit
    httplib::Headers headers{{"Host", "hotels.example"}};
    if (!cookie.empty())
        headers.emplace("Cookie", cookie);
    const auto result = client.Get(pathAndQuery.c_str(), headers);
    if (!result)
        return answer;
    answer.status = result->status;
    answer.body = result->body;
    for (const auto& [name, value] : result->headers)
        answer.headers.emplace(QString::fromStdString(name).toLower().toStdString(), value);
    return answer;
}

bool SampleSite::release(const QString& hotelId)
{
    return get("/release?hotel=" + hotelId.toStdString()) == 200;
}

bool SampleSite::fault(const std::string& modeAndQuery)
{
    return get("/fault/" + modeAndQuery) == 200;
}

int SampleSite::countFaultsContaining(const QString& text)
{
    drain();
    int count = 0;
    for (const auto& line : lines_)
        if (line.startsWith(QLatin1String("FAULT ")) && line.contains(text))
            ++count;
    return count;
}

platform::Settings SampleSite::routedSettings() const
{
    platform::Settings settings;
    settings.routes.push_back(platform::Route{QStringLiteral("hotels.example"), 80, QStringLiteral("127.0.0.1"), port_});
    return settings;
}

QStringList SampleSite::requestedHotelIds()
{
    static const QRegularExpression detail(
        QStringLiteral("^(?:FAULT [^ ]+ )?GET /hotsdetail\\.ctl\\?hotel=([^ &]+)[^ ]* "));
    QStringList ids;
    for (const QString& line : requestLines())
        if (const auto match = detail.match(line); match.hasMatch())
            ids << match.captured(1);
    return ids;
}
