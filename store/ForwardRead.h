#pragma once
// One query read row by row, forward only: for reads whose result may be
// larger than memory (the export's hotels and failures).
//
// The driver then holds one row at a time (SQLite steps its statement,
// PostgreSQL fetches in single-row mode), so memory does not grow with the
// table. While the rows are read the query stays open: on SQLite its read
// lock keeps writers of the file waiting until the last row (the crawl's
// write-through keeps such writes and tries them again); on PostgreSQL it
// reads one snapshot and blocks no one.
//
// Errors: a statement that cannot be prepared or run, and a failure while
// stepping through the rows, throw EDatabaseError naming `what`.

#include "store/Statement.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <vector>

namespace store {

// Runs `sql` with `values` bound on `db`, a connection of the caller's own
// for this read, and calls `row(q)` with the query on each row until it
// returns false. On PostgreSQL the connection's limit on a statement's run
// time is lifted first: the statement runs for as long as the caller takes
// to handle its rows (a workbook of a million rows takes minutes). Returns
// whether every row was read (false when `row` stopped the read).
template <class Row>
bool ReadForward(QSqlDatabase& db, const QString& sql, const QVariantList& values, const QString& what, Row&& row)
{
    if (db.driverName() == QLatin1String("QPSQL"))
        RunText(db, QStringLiteral("SET statement_timeout = 0"), what);
    QSqlQuery q = RunBound(db, sql, values, what, true);
    return ReadRows(q, what, row);
}

// Every row `forEach` hands out, held in memory; `forEach` is a row-by-row
// reader such as ForEachHotel, which calls its argument per row.
template <class Row, class ForEach>
std::vector<Row> AllRows(ForEach&& forEach)
{
    std::vector<Row> rows;
    forEach([&](const Row& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

}  // namespace store
