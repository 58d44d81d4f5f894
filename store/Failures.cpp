#include "store/Failures.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Names.h"

#include <QSqlRecord>

#include <QSqlError>
#include <QSqlQuery>

namespace store {

void InsertFailure(QSqlDatabase& db, const FailureRecord& record)
{
    const QString failed = QStringLiteral("cannot add to \"Failures\"");
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO \"Failures\" (\"Kind\", \"Url\", \"AirPort\", \"Reason\", \"Attempts\", "
                                  "\"FailedAt\", \"Desk\") VALUES (?, ?, ?, ?, ?, ?, ?)")))
        throw EDatabaseError(failed, q.lastError());
    q.addBindValue(ToWide(record.kind));
    q.addBindValue(ToWide(record.url));
    q.addBindValue(ToWide(record.airPort));
    q.addBindValue(ToWide(record.reason));
    q.addBindValue(record.attempts);
    q.addBindValue(ToWide(record.failedAt));
    q.addBindValue(record.desk.empty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(ToWide(record.desk)));
    if (!q.exec())
        throw EDatabaseError(failed, q.lastError());
}

std::vector<FailureRecord> ReadFailures()
{
    return WithConnection("failures", [](QSqlDatabase& db) {
        std::vector<FailureRecord> rows;
        if (!db.tables(QSql::Tables).contains(QStringLiteral("Failures")))
            return rows;
        // A table of an earlier version has no desk: its rows have none.
        const QString desk = db.record(QStringLiteral("Failures")).contains(QLatin1String(kDeskColumn))
                                 ? Quoted(kDeskColumn)
                                 : QStringLiteral("NULL");
        const QString failed = QStringLiteral("Cannot read table 'Failures'");
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.prepare(QStringLiteral("SELECT \"Kind\", \"Url\", \"AirPort\", \"Reason\", \"Attempts\", \"FailedAt\", %1 "
                                      "FROM \"Failures\" ORDER BY \"Id\"")
                           .arg(desk))
            || !q.exec())
            throw EDatabaseError(failed, q.lastError());
        const auto text = [&](int i) { return q.value(i).isNull() ? AnsiString() : ToAnsi(q.value(i).toString()); };
        while (q.next())
            rows.push_back({text(0), text(1), text(2), text(3), q.value(4).toInt(), text(5), text(6)});
        if (q.lastError().isValid())
            throw EDatabaseError(failed, q.lastError());
        return rows;
    });
}

}  // namespace store
