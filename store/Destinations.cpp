#include "store/Destinations.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Names.h"
#include "store/RetryColumns.h"
#include "store/Statement.h"
#include "store/Tables.h"

#include <QSqlQuery>

namespace store {

void ReplaceDestinations(QSqlDatabase& db, const QString& desk, const std::vector<DestinationEntry>& entries)
{
    const QString failed = QStringLiteral("cannot write \"Destinations\"");
    RunBound(db, QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(Quoted(kDestinations), Quoted(kDeskColumn)), {desk},
             failed);
    // The list is as long as what the operator typed: one prepared statement
    // run per row is cheap enough, and the keys follow the list's order.
    Statement insert(db, failed);
    insert.Prepare(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                       .arg(Quoted(kDestinations), Quoted(kDestinationsCode), Quoted(kDestinationsOwed),
                            QuotedList(kRetryColumnNames), Quoted(kDeskColumn)));
    for (const DestinationEntry& entry : entries)
        insert.Run(QVariantList{ToWide(entry.code), entry.owed ? 1 : 0} + RetryValues(entry.retry) + QVariantList{desk});
}

std::vector<DestinationEntry> ReadDestinations(const DeskAccess& desk)
{
    return WithDeskConnection(desk, "destinations", [&](QSqlDatabase& db) {
        std::vector<DestinationEntry> entries;
        // A database not yet upgraded has no list; a failure to ask throws.
        if (!HasTable(db, QLatin1String(kDestinations)))
            return entries;
        const QString failed = QStringLiteral("Cannot read table 'Destinations'");
        QSqlQuery q = RunBound(db,
                               QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %5 = ? ORDER BY %6")
                                   .arg(Quoted(kDestinationsCode), Quoted(kDestinationsOwed),
                                        QuotedList(kRetryColumnNames), Quoted(kDestinations), Quoted(kDeskColumn),
                                        Quoted(kIdColumn)),
                               {desk.Name()}, failed, true);
        ReadRows(q, failed, [&](const QSqlQuery& row) {
            DestinationEntry entry;
            entry.code = row.value(0).isNull() ? AnsiString() : ToAnsi(row.value(0).toString());
            entry.owed = row.value(1).toInt() != 0;
            entry.retry = ReadRetry(row, 2);
            entries.push_back(std::move(entry));
            return true;
        });
        return entries;
    });
}

}  // namespace store
