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

}  // namespace store
