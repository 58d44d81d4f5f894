#pragma once
// The store's one way to run a statement: prepared, its values bound in
// order, run, and its failure turned into an EDatabaseError naming what the
// caller was doing. Also the two variants every store statement falls
// into: a statement of constant text (DDL and settings, which PostgreSQL
// cannot prepare) and the reading of a result row by row.
//
// Errors: a statement that cannot be prepared or run, and a result that
// fails while it is read, throw EDatabaseError naming `what`.

#include "platform/db/DatabaseError.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <utility>

namespace store {

// A statement run once or many times on `db`, which must outlive it. The
// batched writes prepare each text once and run it for every batch.
class Statement {
public:
    // `forwardOnly`: the driver holds one row of the result at a time.
    Statement(QSqlDatabase& db, QString what, bool forwardOnly = false) : query_(db), what_(std::move(what))
    {
        query_.setForwardOnly(forwardOnly);
    }

    // Prepares `sql`, unless it is the text prepared last.
    void Prepare(const QString& sql)
    {
        if (sql == prepared_)
            return;
        if (!query_.prepare(sql))
            throw EDatabaseError(what_, query_.lastError());
        prepared_ = sql;
    }

    // Binds `values` in order and runs the prepared text; the query is then
    // ready to be read, until the next Prepare or Run.
    QSqlQuery& Run(const QVariantList& values)
    {
        for (const QVariant& v : values)
            query_.addBindValue(v);
        if (!query_.exec())
            throw EDatabaseError(what_, query_.lastError());
        return query_;
    }

    QSqlQuery& Query() { return query_; }

private:
    QSqlQuery query_;
    QString what_;
    QString prepared_;
};

// Prepares `sql`, binds `values` in order and runs it; the query is ready
// to be read (forward only, one row held at a time, when `forwardOnly`).
inline QSqlQuery RunBound(QSqlDatabase& db, const QString& sql, const QVariantList& values, const QString& what,
                          bool forwardOnly = false)
{
    Statement statement(db, what, forwardOnly);
    statement.Prepare(sql);
    statement.Run(values);
    return std::move(statement.Query());
}

// Runs `sql`, a statement of constant text, without preparing it.
inline QSqlQuery RunText(QSqlDatabase& db, const QString& sql, const QString& what)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw EDatabaseError(what, q.lastError());
    return q;
}

// Calls `row(q)` on each row of the run query `q` until it returns false;
// returns whether every row was read.
template <class Row>
bool ReadRows(QSqlQuery& q, const QString& what, Row&& row)
{
    while (q.next())
        if (!row(q))
            return false;
    // next() is false at the end and on a failure alike.
    if (q.lastError().isValid())
        throw EDatabaseError(what, q.lastError());
    return true;
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
