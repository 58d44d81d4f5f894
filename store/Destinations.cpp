#include "store/Destinations.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Names.h"
#include "store/RetryColumns.h"
#include "store/Tables.h"

#include <QSqlError>
#include <QSqlQuery>

namespace store {

void ReplaceDestinations(QSqlDatabase& db, const QString& desk, const std::vector<DestinationEntry>& entries)
{
    const QString failed = QStringLiteral("cannot write \"Destinations\"");
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("DELETE FROM \"Destinations\" WHERE \"Desk\" = ?")))
        throw EDatabaseError(failed, q.lastError());
    q.addBindValue(desk);
    if (!q.exec())
        throw EDatabaseError(failed, q.lastError());
    // The list is as long as what the operator typed: one prepared statement
    // executed per row is cheap enough, and the keys follow the list's order.
    if (!q.prepare(QStringLiteral("INSERT INTO \"Destinations\" (\"Code\", \"Owed\", %1, \"Desk\") VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                       .arg(QuotedList(kRetryColumnNames))))
        throw EDatabaseError(failed, q.lastError());
    for (const DestinationEntry& entry : entries) {
        q.addBindValue(ToWide(entry.code));
        q.addBindValue(entry.owed ? 1 : 0);
        BindRetry(q, entry.retry);
        q.addBindValue(desk);
        if (!q.exec())
            throw EDatabaseError(failed, q.lastError());
    }
}

std::vector<DestinationEntry> ReadDestinations(const DeskAccess& desk)
{
    return WithDeskConnection(desk, "destinations", [&](QSqlDatabase& db) {
        std::vector<DestinationEntry> entries;
        // A database not yet upgraded has no list; a failure to ask throws.
        if (!HasTable(db, QLatin1String(kDestinations)))
            return entries;
        const QString failed = QStringLiteral("Cannot read table 'Destinations'");
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT \"Code\", \"Owed\", %1 FROM \"Destinations\" WHERE \"Desk\" = ? "
                                      "ORDER BY \"Id\"")
                           .arg(QuotedList(kRetryColumnNames))))
            throw EDatabaseError(failed, q.lastError());
        q.addBindValue(desk.Name());
        if (!q.exec())
            throw EDatabaseError(failed, q.lastError());
        while (q.next()) {
            DestinationEntry entry;
            entry.code = q.value(0).isNull() ? AnsiString() : ToAnsi(q.value(0).toString());
            entry.owed = q.value(1).toInt() != 0;
            entry.retry = ReadRetry(q, 2);
            entries.push_back(std::move(entry));
        }
        if (q.lastError().isValid())
            throw EDatabaseError(failed, q.lastError());
        return entries;
    });
}

}  // namespace store
