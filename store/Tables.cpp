#include "store/Tables.h"

#include "platform/db/DatabaseError.h"
#include "store/Statement.h"

#include <QSqlError>
#include <QSqlQuery>

namespace store {

namespace {

bool IsSqlite(const QSqlDatabase& db)
{
    return db.driverName() == QLatin1String("QSQLITE");
}

bool IsPostgres(const QSqlDatabase& db)
{
    return db.driverName() == QLatin1String("QPSQL");
}

// The name as to_regclass reads it: quoted, so that its case is kept and
// nothing in it is taken for a schema.
QString RegclassName(QString name)
{
    return QLatin1Char('"') + name.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

// Runs the catalogue query `sql` with `name` bound as its one value; a
// failure names what was asked.
QSqlQuery Ask(QSqlDatabase& db, const QString& sql, const QString& name, const QString& what)
{
    if (!IsSqlite(db) && !IsPostgres(db))
        throw EDatabaseError(ToAnsi(QStringLiteral("cannot ask for %1 \"%2\" on the driver %3")
                                        .arg(what, name, db.driverName())));
    return RunBound(db, sql, {IsPostgres(db) ? RegclassName(name) : name},
                    QStringLiteral("cannot ask for %1 \"%2\"").arg(what, name), true);
}

// Whether the catalogue holds `name` as a relation of the kind `what`
// ("table" or "index" in SQLite's words; `relkinds` in PostgreSQL's).
bool HasRelation(QSqlDatabase& db, const QString& name, const char* what, const char* relkinds)
{
    const QString asked = QStringLiteral("the %1").arg(QLatin1String(what));
    QSqlQuery q = Ask(db,
                      IsPostgres(db) ? QStringLiteral("SELECT COUNT(*) FROM pg_class WHERE oid = to_regclass(?) "
                                                      "AND relkind IN (%1)")
                                           .arg(QLatin1String(relkinds))
                                     : QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE type = '%1' "
                                                      "AND name = ?")
                                           .arg(QLatin1String(what)),
                      name, asked);
    // A count always has its row: none means the engine failed while stepping.
    if (!q.next())
        throw EDatabaseError(QStringLiteral("cannot ask for %1 \"%2\"").arg(asked, name), q.lastError());
    return q.value(0).toLongLong() > 0;
}

}  // namespace

bool HasTable(QSqlDatabase& db, const QString& table)
{
    return HasRelation(db, table, "table", "'r', 'p'");
}

bool HasIndex(QSqlDatabase& db, const QString& index)
{
    return HasRelation(db, index, "index", "'i', 'I'");
}

QStringList ColumnsOf(QSqlDatabase& db, const QString& table)
{
    QSqlQuery q = Ask(db,
                      IsPostgres(db) ? QStringLiteral("SELECT attname FROM pg_attribute WHERE attrelid = to_regclass(?) "
                                                      "AND attnum > 0 AND NOT attisdropped ORDER BY attnum")
                                     : QStringLiteral("SELECT name FROM pragma_table_info(?) ORDER BY cid"),
                      table, QStringLiteral("the columns of"));
    QStringList columns;
    ReadRows(q, QStringLiteral("cannot ask for the columns of \"%1\"").arg(table), [&](const QSqlQuery& row) {
        columns << row.value(0).toString();
        return true;
    });
    return columns;
}

bool HasColumn(QSqlDatabase& db, const QString& table, const QString& column)
{
    return ColumnsOf(db, table).contains(column);
}

}  // namespace store
