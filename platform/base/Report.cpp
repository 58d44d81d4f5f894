#include "platform/base/Report.h"

#include <cstdio>

namespace platform {

void Report(const QString& text)
{
    ReportLine(QStringLiteral("hotelcrawler: ") + text);
}

void ReportLine(const QString& line)
{
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    // One fwrite holds the stream's lock for the whole line, and stderr is
    // unbuffered, so the line leaves at once and in one piece.
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
}

}  // namespace platform
