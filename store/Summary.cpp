#include "store/Summary.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <map>

namespace store {

namespace {


// Runs one grouped count, calling `take(code, count, last)` per group. The
// statement is constant text: it carries no value from outside.
template <class Take>
void ReadGroups(QSqlDatabase& db, const char* table, const QString& sql, Take&& take)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql) || !q.exec())
        throw EDatabaseError(QStringLiteral("Cannot read table '%1'").arg(QLatin1String(table)), q.lastError());
    while (q.next())
        take(q.value(0).isNull() ? AnsiString() : ToAnsi(q.value(0).toString()), q.value(1).toLongLong(),
             q.value(2).isNull() ? AnsiString() : ToAnsi(q.value(2).toString()));
    if (q.lastError().isValid())
        throw EDatabaseError(QStringLiteral("Cannot read table '%1'").arg(QLatin1String(table)), q.lastError());
}

// Width in characters of UTF-8 text.
std::size_t Width(const std::string& text)
{
    return static_cast<std::size_t>(QString::fromStdString(text).toUcs4().size());
}

void Pad(std::string& line, const std::string& cell, std::size_t width, bool right)
{
    const std::string blanks(width - std::min(width, Width(cell)), ' ');
    line += right ? blanks + cell : cell + blanks;
}

}  // namespace

std::vector<DestinationSummary> ReadDestinationSummary()
{
    std::map<AnsiString, DestinationSummary> byCode;  // byte order of the code
    WithConnection("summary", [&](QSqlDatabase& db) {

        // NULL and empty codes come back as separate groups; both count as
        // "no code", so they are added up here rather than in SQL.
        ReadGroups(db, "Staymarker",
                   QStringLiteral("SELECT \"AirPort\", COUNT(*), MAX(\"ExtractedAt\") FROM \"Staymarker\" "
                                  "GROUP BY \"AirPort\""),
                   [&](const AnsiString& code, long long count, const AnsiString& last) {
                       DestinationSummary& e = byCode[code];
                       e.airPort = code;
                       e.kept += count;
                       e.lastExtractedAt = std::max(e.lastExtractedAt, last);
                   });
        ReadGroups(db, "Going",
                   QStringLiteral("SELECT \"AirPort\", COUNT(*), NULL FROM \"Going\" GROUP BY \"AirPort\""),
                   [&](const AnsiString& code, long long count, const AnsiString&) {
                       DestinationSummary& e = byCode[code];
                       e.airPort = code;
                       e.waiting += count;
                   });
    });
    std::vector<DestinationSummary> entries;
    entries.reserve(byCode.size());
    for (auto& [code, entry] : byCode)
        entries.push_back(std::move(entry));
    return entries;
}

std::string SummaryTable(const std::vector<DestinationSummary>& entries)
{
    const std::vector<std::string> header{"AirPort", "Kept", "Waiting", "Last kept at"};
    std::vector<std::vector<std::string>> cells;
    for (const DestinationSummary& e : entries)
        cells.push_back({e.airPort.empty() ? std::string("(none)") : e.airPort, std::to_string(e.kept),
                         std::to_string(e.waiting), e.lastExtractedAt.empty() ? std::string("-") : e.lastExtractedAt});

    std::vector<std::size_t> widths;
    for (const std::string& h : header)
        widths.push_back(Width(h));
    for (const auto& row : cells)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], Width(row[i]));

    const bool rightAligned[] = {false, true, true, false};
    std::string out;
    const auto addLine = [&](const std::vector<std::string>& row) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i)
                line += "  ";
            Pad(line, row[i], widths[i], rightAligned[i]);
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + '\n';
    };
    addLine(header);
    for (const auto& row : cells)
        addLine(row);
    return out;
}

}  // namespace store
