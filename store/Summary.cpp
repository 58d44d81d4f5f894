#include "store/Summary.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Failures.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <map>

namespace store {

namespace {

// Runs one grouped count with `values` bound, calling `take(code, count,
// third column)` per group.
template <class Take>
void ReadGroups(QSqlDatabase& db, const char* table, const QString& sql, const QVariantList& values, Take&& take)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!ok || !q.exec())
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
                   {}, [&](const AnsiString& code, long long count, const AnsiString& last) {
                       DestinationSummary& e = byCode[code];
                       e.airPort = code;
                       e.kept += count;
                       e.lastExtractedAt = std::max(e.lastExtractedAt, last);
                   });
        ReadGroups(db, "Going",
                   QStringLiteral("SELECT \"AirPort\", COUNT(*), NULL FROM \"Going\" GROUP BY \"AirPort\""), {},
                   [&](const AnsiString& code, long long count, const AnsiString&) {
                       DestinationSummary& e = byCode[code];
                       e.airPort = code;
                       e.waiting += count;
                   });
        // The two tables of the retry work are missing from a database not
        // upgraded yet; its destinations are then all "searched".
        const QStringList tables = db.tables(QSql::Tables);
        if (tables.contains(QStringLiteral("Destinations")))
            // A code both typed again and owed shows as owed: it has failed.
            ReadGroups(db, "Destinations",
                       QStringLiteral("SELECT \"Code\", COUNT(*), MAX(\"Owed\") FROM \"Destinations\" GROUP BY \"Code\""),
                       {}, [&](const AnsiString& code, long long, const AnsiString& owed) {
                           DestinationSummary& e = byCode[code];
                           e.airPort = code;
                           e.state = owed == "0" ? "waiting" : "owed";
                       });
        if (tables.contains(QStringLiteral("Failures")))
            ReadGroups(db, "Failures",
                       QStringLiteral("SELECT \"AirPort\", COUNT(*), NULL FROM \"Failures\" "
                                      "WHERE \"Kind\" IN (?, ?) GROUP BY \"AirPort\""),
                       {QString::fromLatin1(kFailureLink), QString::fromLatin1(kFailureDestination)},
                       [&](const AnsiString& code, long long count, const AnsiString&) {
                           DestinationSummary& e = byCode[code];
                           e.airPort = code;
                           e.givenUp += count;
                       });
    });
    std::vector<DestinationSummary> entries;
    entries.reserve(byCode.size());
    for (auto& [code, entry] : byCode)
        entries.push_back(std::move(entry));
    return entries;
}

}  // namespace store
