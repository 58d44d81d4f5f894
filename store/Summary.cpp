#include "store/Summary.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Failures.h"
#include "store/ForwardRead.h"
#include "store/Names.h"
#include "store/Tables.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <map>

namespace store {

namespace {

// Runs one grouped count with `values` bound, calling `take(entry, count,
// third column)` per group with the entry of the group's desk and code (the
// first two columns). The groups are read one at a time (ReadForward): what
// is held is one entry per desk and code, however many rows were counted,
// and on PostgreSQL a count over a long table is not cut short by the
// connection's time limit.
using Entries = std::map<std::pair<AnsiString, AnsiString>, DestinationSummary>;

template <class Take>
void ReadGroups(QSqlDatabase& db, Entries& entries, const char* table, const QString& sql, const QVariantList& values,
                Take&& take)
{
    ReadForward(db, sql, values, QStringLiteral("Cannot read table '%1'").arg(QLatin1String(table)),
                [&](const QSqlQuery& q) {
                    const auto text = [&](int i) {
                        return q.value(i).isNull() ? AnsiString() : ToAnsi(q.value(i).toString());
                    };
                    DestinationSummary& e = entries[{text(0), text(1)}];
                    e.desk = text(0);
                    e.airPort = text(1);
                    take(e, q.value(2).toLongLong(), text(3));
                    return true;
                });
}

// The desk column of `table`, or NULL for a table of an earlier version.
QString DeskOf(QSqlDatabase& db, const char* table)
{
    return HasColumn(db, QLatin1String(table), QLatin1String(kDeskColumn)) ? Quoted(kDeskColumn)
                                                                            : QStringLiteral("NULL");
}

}  // namespace

std::vector<DestinationSummary> ReadDestinationSummary()
{
    Entries byDesk;  // byte order of desk, then code
    WithConnection("summary", [&](QSqlDatabase& db) {
        // NULL and empty codes come back as separate groups; both count as
        // "no code", so they are added up here rather than in SQL.
        const QString staymarker = DeskOf(db, kStaymarker);
        ReadGroups(db, byDesk, kStaymarker,
                   QStringLiteral("SELECT %1, \"AirPort\", COUNT(*), MAX(\"ExtractedAt\") FROM %2 "
                                  "GROUP BY %1, \"AirPort\"")
                       .arg(staymarker, Quoted(kStaymarker)),
                   {}, [&](DestinationSummary& e, long long count, const AnsiString& last) {
                       e.kept += count;
                       e.lastExtractedAt = std::max(e.lastExtractedAt, last);
                   });
        ReadGroups(db, byDesk, kGoing,
                   QStringLiteral("SELECT %1, %2, COUNT(*), NULL FROM %3 GROUP BY %1, %2")
                       .arg(DeskOf(db, kGoing), Quoted(kGoingAirPort), Quoted(kGoing)),
                   {}, [&](DestinationSummary& e, long long count, const AnsiString&) { e.waiting += count; });
        // The two tables of the retry work are missing from a database not
        // upgraded yet; its destinations are then all "searched".
        if (HasTable(db, QLatin1String(kDestinations)))
            // A code both typed again and owed shows as owed: it has failed.
            ReadGroups(db, byDesk, kDestinations,
                       QStringLiteral("SELECT %1, %2, COUNT(*), MAX(%3) FROM %4 GROUP BY %1, %2")
                           .arg(DeskOf(db, kDestinations), Quoted(kDestinationsCode), Quoted(kDestinationsOwed),
                                Quoted(kDestinations)),
                       {}, [&](DestinationSummary& e, long long, const AnsiString& owed) {
                           e.state = owed == "0" ? "waiting" : "owed";
                       });
        if (HasTable(db, QLatin1String(kFailures)))
            ReadGroups(db, byDesk, kFailures,
                       QStringLiteral("SELECT %1, \"AirPort\", COUNT(*), NULL FROM %2 "
                                      "WHERE \"Kind\" IN (?, ?) GROUP BY %1, \"AirPort\"")
                           .arg(DeskOf(db, kFailures), Quoted(kFailures)),
                       {QString::fromLatin1(kFailureLink), QString::fromLatin1(kFailureDestination)},
                       [&](DestinationSummary& e, long long count, const AnsiString&) { e.givenUp += count; });
    });
    std::vector<DestinationSummary> entries;
    entries.reserve(byDesk.size());
    for (auto& [key, entry] : byDesk)
        entries.push_back(std::move(entry));
    return entries;
}

}  // namespace store
