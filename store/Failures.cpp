#include "store/Failures.h"

#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/ForwardRead.h"
#include "store/Names.h"
#include "store/Tables.h"

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

void ForEachFailure(const std::function<bool(const FailureRecord&)>& take)
{
    WithConnection("failures", [&](QSqlDatabase& db) {
        const QStringList columns = ColumnsOf(db, QLatin1String(kFailures));
        if (columns.isEmpty())
            return;  // no such table
        // A table of an earlier version has no desk: its rows have none.
        const QString desk = columns.contains(QLatin1String(kDeskColumn)) ? Quoted(kDeskColumn) : QStringLiteral("NULL");
        ReadForward(db,
                    QStringLiteral("SELECT \"Kind\", \"Url\", \"AirPort\", \"Reason\", \"Attempts\", \"FailedAt\", %1 "
                                   "FROM \"Failures\" ORDER BY \"Id\"")
                        .arg(desk),
                    {}, QStringLiteral("Cannot read table 'Failures'"), [&](const QSqlQuery& q) {
                        const auto text = [&](int i) {
                            return q.value(i).isNull() ? AnsiString() : ToAnsi(q.value(i).toString());
                        };
                        return take({text(0), text(1), text(2), text(3), q.value(4).toInt(), text(5), text(6)});
                    });
    });
}

std::vector<FailureRecord> ReadFailures()
{
    std::vector<FailureRecord> rows;
    ForEachFailure([&](const FailureRecord& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

}  // namespace store
