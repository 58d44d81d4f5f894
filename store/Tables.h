#pragma once
// Whether a table, a column or an index of "Hotels_Db" exists, asked so
// that an error is never taken for an absence.
//
// Qt's own answers (QSqlDatabase::tables(), record()) come back empty when
// their query fails: under a lock held elsewhere, on a busy database or a
// lost connection a table would look missing, and a caller would skip it,
// print nothing or upgrade nothing, and report success. These ask the
// engine's catalogue with a checked statement instead: SQLite's
// sqlite_master and table_info, PostgreSQL's pg_class and pg_attribute
// through to_regclass, so that a name resolves as the store's own
// statements resolve it (the search path on PostgreSQL).
//
// Every function runs on the open connection `db`, inside whatever
// transaction the caller holds, and answers for the engines the store
// supports (QSQLITE, QPSQL).
//
// Errors: a failed statement, and any other driver, throw EDatabaseError
// naming the table.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace store {

// Whether the table `table` exists (a view or an index of that name is no table).
bool HasTable(QSqlDatabase& db, const QString& table);

// The columns of `table` in their order; empty when there is no such table.
QStringList ColumnsOf(QSqlDatabase& db, const QString& table);

// Whether `table` exists and has the column `column`.
bool HasColumn(QSqlDatabase& db, const QString& table, const QString& column);

// Whether the index `index` exists (on any table).
bool HasIndex(QSqlDatabase& db, const QString& index);

}  // namespace store
