#include "store/RetryColumns.h"

#include "platform/db/DbTables.h"

#include <QVariant>

namespace store {

QStringList RetryColumnsSql(const QString& driverName)
{
    // SQLite's INTEGER is 64-bit already; PostgreSQL's is 32-bit, and a tick
    // count at a 1 ms tick passes that within a month.
    const QString ticks = driverName == QLatin1String("QPSQL") ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    return {QStringLiteral("\"Attempts\" INTEGER"), QStringLiteral("\"FailingTicks\" %1").arg(ticks),
            QStringLiteral("\"RetryInTicks\" %1").arg(ticks), QStringLiteral("\"LastFailure\" TEXT"),
            QStringLiteral("\"LastFailedAt\" TEXT")};
}

QString RetryColumnList()
{
    QStringList quoted;
    for (const char* name : kRetryColumnNames)
        quoted << QStringLiteral("\"%1\"").arg(QLatin1String(name));
    return quoted.join(QStringLiteral(", "));
}

void BindRetry(QSqlQuery& q, const RetryState& state)
{
    q.addBindValue(state.attempts);
    q.addBindValue(static_cast<qlonglong>(state.failingTicks));
    q.addBindValue(static_cast<qlonglong>(state.retryInTicks));
    q.addBindValue(ToWide(state.lastFailure));
    q.addBindValue(ToWide(state.lastFailedAt));
}

RetryState ReadRetry(const QSqlQuery& q, int first)
{
    const auto text = [&](int i) { return q.value(first + i).isNull() ? AnsiString() : ToAnsi(q.value(first + i).toString()); };
    RetryState state;
    state.attempts = q.value(first).toInt();
    state.failingTicks = q.value(first + 1).toLongLong();
    state.retryInTicks = q.value(first + 2).toLongLong();
    state.lastFailure = text(3);
    state.lastFailedAt = text(4);
    return state;
}

bool HasRetryColumns(TTable& table)
{
    for (const char* name : kRetryColumnNames)
        if (!table.FindField(name))
            return false;
    return true;
}

RetryState ReadRetry(TTable& table)
{
    RetryState state;
    state.attempts = static_cast<int>(table.FieldByName("Attempts")->AsLargeInt());
    state.failingTicks = table.FieldByName("FailingTicks")->AsLargeInt();
    state.retryInTicks = table.FieldByName("RetryInTicks")->AsLargeInt();
    state.lastFailure = table.FieldByName("LastFailure")->AsString();
    state.lastFailedAt = table.FieldByName("LastFailedAt")->AsString();
    return state;
}

void SetRetry(TTable& table, const RetryState& state)
{
    table.FieldByName("Attempts")->SetAsLargeInt(state.attempts);
    table.FieldByName("FailingTicks")->SetAsLargeInt(state.failingTicks);
    table.FieldByName("RetryInTicks")->SetAsLargeInt(state.retryInTicks);
    table.FieldByName("LastFailure")->SetAsString(state.lastFailure);
    table.FieldByName("LastFailedAt")->SetAsString(state.lastFailedAt);
}

}  // namespace store
