#include "store/RetryColumns.h"

#include "platform/db/DatabaseError.h"

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

QVariantList NoRetryValues()
{
    // Typed NULLs: an untyped one is bound as text.
    return {QVariant(QMetaType::fromType<int>()), QVariant(QMetaType::fromType<qlonglong>()),
            QVariant(QMetaType::fromType<qlonglong>()), QVariant(QMetaType::fromType<QString>()),
            QVariant(QMetaType::fromType<QString>())};
}

QVariantList RetryValues(const RetryState& state)
{
    return {state.attempts, static_cast<qlonglong>(state.failingTicks), static_cast<qlonglong>(state.retryInTicks),
            ToWide(state.lastFailure), ToWide(state.lastFailedAt)};
}

RetryState ReadRetry(const QSqlQuery& q, int first)
{
    const auto text = [&](int i) { return q.value(first + i).isNull() ? AnsiString() : ToAnsi(q.value(first + i).toString()); };
    RetryState state;
    state.attempts = q.value(first).toInt();
    state.failingTicks = q.value(first + 1).toLongLong();
    // A wait beyond the longest one kept (stored before the cap) would park
    // the row for good: it waits the longest wait instead.
    state.retryInTicks = WithinMaxWait(q.value(first + 2).toLongLong());
    state.lastFailure = text(3);
    state.lastFailedAt = text(4);
    return state;
}

}  // namespace store
