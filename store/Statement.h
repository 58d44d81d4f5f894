#pragma once
// One statement with bound values, run once: for the store's short
// statements that are neither repeated nor batched (claims, take-overs,
// hand-overs).
//
// Errors: a statement that cannot be prepared or run throws EDatabaseError
// naming `what`.

#include "platform/db/DatabaseError.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace store {

// Prepares `sql`, binds `values` in order and runs it; the query is ready
// to be read (forward only, one row held at a time, when `forwardOnly`).
inline QSqlQuery RunBound(QSqlDatabase& db, const QString& sql, const QVariantList& values, const QString& what,
                          bool forwardOnly = false)
{
    QSqlQuery q(db);
    q.setForwardOnly(forwardOnly);
    if (!q.prepare(sql))
        throw EDatabaseError(what, q.lastError());
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw EDatabaseError(what, q.lastError());
    return q;
}

// The first column of the one row a query of a boolean answers.
inline bool AskBound(QSqlDatabase& db, const QString& sql, const QVariantList& values, const QString& what)
{
    QSqlQuery q = RunBound(db, sql, values, what);
    if (!q.next())
        throw EDatabaseError(what, q.lastError());
    return q.value(0).toBool();
}

}  // namespace store
