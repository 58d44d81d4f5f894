#include "platform/db/DbTables.h"

#include "platform/db/Alias.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>

namespace {
const QString kKeyPrefix = QStringLiteral("hc_key_");
}  // namespace

// ---------------------------------------------------------------- TField

const QVariant& TField::Value(const char* operation) const
{
    if (table_.inserting_)
        return table_.insertRow_[static_cast<std::size_t>(column_)];
    table_.EnsureFresh();
    if (table_.current_ >= table_.rows_.size())
        table_.Fail(QStringLiteral("Cannot %1 field '%2'").arg(QLatin1String(operation), table_.columns_[column_]),
                    QStringLiteral("no current row"));
    return table_.rows_[table_.current_][static_cast<std::size_t>(column_)];
}

void TField::Set(const char* operation, QVariant value)
{
    if (!table_.inserting_)
        table_.Fail(QStringLiteral("Cannot %1 field '%2'").arg(QLatin1String(operation), table_.columns_[column_]),
                    QStringLiteral("the table is not in insert mode"));
    table_.insertRow_[static_cast<std::size_t>(column_)] = std::move(value);
}

AnsiString TField::AsString() const
{
    const QVariant& v = Value("read");
    return v.isNull() || !v.isValid() ? AnsiString() : ToAnsi(v.toString());
}

void TField::SetAsString(const AnsiString& value)
{
    Set("modify", QVariant(ToWide(value)));
}

bool TField::IsNull() const
{
    const QVariant& v = Value("read");
    return v.isNull() || !v.isValid();
}

long long TField::AsLargeInt() const
{
    const QVariant& v = Value("read");
    if (v.isNull() || !v.isValid())
        return 0;
    bool ok = false;
    const long long n = v.toLongLong(&ok);
    if (!ok)
        table_.Fail(QStringLiteral("Cannot read field '%1' as a number").arg(table_.columns_[column_]),
                    QStringLiteral("it holds '%1'").arg(v.toString().left(40)));
    return n;
}

void TField::SetAsLargeInt(long long value)
{
    Set("modify", QVariant(static_cast<qlonglong>(value)));
}

// ---------------------------------------------------------------- TTable

TTable::TTable(QObject* owner) : QObject(owner) {}

TTable::~TTable()
{
    Close();
}

void TTable::Fail(const QString& what, const QString& detail) const
{
    QString text = what;
    if (!tableName_.empty())
        text += QStringLiteral(" (table '%1')").arg(ToWide(tableName_));
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    throw EDatabaseError(ToAnsi(text));
}

void TTable::RequireOpen(const char* operation) const
{
    if (!active_)
        Fail(QStringLiteral("Cannot %1").arg(QLatin1String(operation)), QStringLiteral("the table is not open"));
}

void TTable::RequireClosed(const char* operation) const
{
    if (active_)
        Fail(QStringLiteral("Cannot %1").arg(QLatin1String(operation)), QStringLiteral("the table is open"));
}

void TTable::SetDatabaseName(const AnsiString& name)
{
    RequireClosed("change the database name");
    databaseName_ = name;
}

void TTable::SetTableName(const AnsiString& name)
{
    RequireClosed("change the table name");
    tableName_ = name;
}

QString TTable::Quoted(const QString& identifier) const
{
    return db_.driver()->escapeIdentifier(identifier, QSqlDriver::FieldName);
}

void TTable::Open()
{
    if (active_)
        return;
    if (tableName_.empty())
        Fail(QStringLiteral("Cannot open"), QStringLiteral("no table name is set"));

    static std::atomic<unsigned> serial{0};
    connectionName_ = QStringLiteral("hc_ttable_%1").arg(++serial);
    db_ = OpenAliasDatabase(databaseName_, connectionName_);
    active_ = true;  // from here on Close() undoes everything, also on failure

    try {
        const QString table = db_.driver()->escapeIdentifier(ToWide(tableName_), QSqlDriver::TableName);
        // The natural order is the primary key's; a table without one falls
        // back to the engine's row id, which follows insertion.
        const QSqlIndex pk = db_.primaryIndex(table);
        keyColumns_.clear();
        keyIsRowId_ = pk.isEmpty();
        if (keyIsRowId_) {
            keyColumns_ << (db_.driverName() == QLatin1String("QPSQL") ? QStringLiteral("ctid")
                                                                       : QStringLiteral("rowid"));
        } else {
            for (int i = 0; i < pk.count(); ++i)
                keyColumns_ << pk.fieldName(i);
        }
        Reload();
        fields_.clear();
        for (int i = 0; i < columns_.size(); ++i)
            fields_.emplace_back(new TField(*this, i));
        current_ = 0;
    } catch (...) {
        Close();
        throw;
    }
}

void TTable::Reload() const
{
    const QString table = db_.driver()->escapeIdentifier(ToWide(tableName_), QSqlDriver::TableName);
    QStringList keys;
    QStringList order;
    for (int i = 0; i < keyColumns_.size(); ++i) {
        const QString k = keyIsRowId_ ? keyColumns_[i] : Quoted(keyColumns_[i]);
        keys << QStringLiteral("%1 AS %2%3").arg(k, kKeyPrefix).arg(i);
        order << k;
    }
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("SELECT *, %1 FROM %2 ORDER BY %3")
                            .arg(keys.join(QStringLiteral(", ")), table, order.join(QStringLiteral(", ")));
    if (!q.exec(sql))
        Fail(QStringLiteral("Cannot read the table"), q.lastError().text());

    const QSqlRecord rec = q.record();
    const int columnCount = rec.count() - static_cast<int>(keyColumns_.size());
    columns_.clear();
    for (int i = 0; i < columnCount; ++i)
        columns_ << rec.fieldName(i);

    rows_.clear();
    while (q.next()) {
        std::vector<QVariant> row;
        row.reserve(static_cast<std::size_t>(rec.count()));
        for (int i = 0; i < rec.count(); ++i)
            row.push_back(q.value(i));
        rows_.push_back(std::move(row));
    }
    if (q.lastError().isValid())
        Fail(QStringLiteral("Cannot read the table"), q.lastError().text());
    stale_ = false;
}

void TTable::EnsureFresh() const
{
    if (!stale_)
        return;
    Reload();
    current_ = 0;
    // Make the posted row current, as after a post; the last match is the
    // newest row when equal rows exist.
    if (!postedRow_.empty())
        for (std::size_t r = rows_.size(); r-- > 0;) {
        bool same = true;
        for (std::size_t c = 0; c < postedRow_.size() && same; ++c)
            if (postedRow_[c].isValid() && rows_[r][c].toString() != postedRow_[c].toString())
                same = false;
        if (same) {
            current_ = r;
            break;
        }
    }
    postedRow_.clear();
}

void TTable::Close()
{
    if (!active_)
        return;
    if (inTransaction_)
        db_.rollback();
    inTransaction_ = false;
    inserting_ = false;
    insertRow_.clear();
    insertQuery_.reset();
    insertSql_.clear();
    fields_.clear();
    rows_.clear();
    postedRow_.clear();
    columns_.clear();
    current_ = 0;
    stale_ = false;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
    active_ = false;
}

int TTable::RecordCount() const
{
    if (!active_)
        return 0;
    EnsureFresh();
    return static_cast<int>(rows_.size());
}

TField* TTable::FieldByName(const AnsiString& name)
{
    TField* field = FindField(name);
    if (!field)
        Fail(QStringLiteral("Field '%1' not found").arg(ToWide(name)), QString());
    return field;
}

TField* TTable::FindField(const AnsiString& name)
{
    RequireOpen("look up a field");
    const QString wanted = ToWide(name);
    int found = static_cast<int>(columns_.indexOf(wanted));
    if (found < 0)
        for (int i = 0; i < columns_.size() && found < 0; ++i)
            if (columns_[i].compare(wanted, Qt::CaseInsensitive) == 0)
                found = i;
    return found < 0 ? nullptr : fields_[static_cast<std::size_t>(found)].get();
}

void TTable::Next()
{
    RequireOpen("move to the next row");
    EnsureFresh();
    if (current_ < rows_.size())
        ++current_;
}

bool TTable::Eof() const
{
    if (!active_)
        return true;
    EnsureFresh();
    return current_ >= rows_.size();
}

void TTable::Delete()
{
    RequireOpen("delete");
    inserting_ = false;
    EnsureFresh();
    if (current_ >= rows_.size())
        Fail(QStringLiteral("Cannot delete"), QStringLiteral("no current row"));

    const QString table = db_.driver()->escapeIdentifier(ToWide(tableName_), QSqlDriver::TableName);
    QStringList where;
    for (int i = 0; i < keyColumns_.size(); ++i)
        where << QStringLiteral("%1 = ?").arg(keyIsRowId_ ? keyColumns_[i] : Quoted(keyColumns_[i]));
    QSqlQuery q(db_);
    if (!q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2").arg(table, where.join(QStringLiteral(" AND ")))))
        Fail(QStringLiteral("Cannot delete"), q.lastError().text());
    const auto& row = rows_[current_];
    for (int i = 0; i < keyColumns_.size(); ++i)
        q.addBindValue(row[static_cast<std::size_t>(columns_.size() + i)]);
    if (!q.exec())
        Fail(QStringLiteral("Cannot delete"), q.lastError().text());
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(current_));
}

void TTable::Insert()
{
    RequireOpen("insert");
    inserting_ = true;
    insertRow_.assign(static_cast<std::size_t>(columns_.size()), QVariant());
}

void TTable::Post()
{
    RequireOpen("post");
    if (!inserting_)
        Fail(QStringLiteral("Cannot post"), QStringLiteral("no row is being inserted"));

    const QString table = db_.driver()->escapeIdentifier(ToWide(tableName_), QSqlDriver::TableName);
    QStringList names;
    QStringList marks;
    for (int i = 0; i < columns_.size(); ++i) {
        // Fields never set are left to the column's default (an identity key, say).
        if (insertRow_[static_cast<std::size_t>(i)].isValid()) {
            names << Quoted(columns_[i]);
            marks << QStringLiteral("?");
        }
    }
    const QString sql = names.isEmpty()
        ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
        : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
              .arg(table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
    if (!insertQuery_ || sql != insertSql_) {
        insertQuery_.reset();
        insertSql_.clear();
        auto q = std::make_unique<QSqlQuery>(db_);
        if (!q->prepare(sql))
            Fail(QStringLiteral("Cannot post"), q->lastError().text());
        insertQuery_ = std::move(q);
        insertSql_ = sql;
    }
    int position = 0;
    for (const QVariant& v : insertRow_)
        if (v.isValid())
            insertQuery_->bindValue(position++, v);
    if (!insertQuery_->exec())
        Fail(QStringLiteral("Cannot post"), insertQuery_->lastError().text());

    inserting_ = false;
    postedRow_ = std::move(insertRow_);
    insertRow_.clear();
    stale_ = true;
}

void TTable::StartTransaction()
{
    RequireOpen("start a transaction");
    if (inTransaction_)
        Fail(QStringLiteral("Cannot start a transaction"), QStringLiteral("a transaction is already active"));
    if (!db_.transaction())
        Fail(QStringLiteral("Cannot start a transaction"), db_.lastError().text());
    inTransaction_ = true;
}

void TTable::Commit()
{
    RequireOpen("commit");
    if (!inTransaction_)
        Fail(QStringLiteral("Cannot commit"), QStringLiteral("no transaction is active"));
    if (!db_.commit())
        Fail(QStringLiteral("Cannot commit"), db_.lastError().text());
    inTransaction_ = false;
}

void TTable::Rollback()
{
    RequireOpen("roll back");
    if (!inTransaction_)
        Fail(QStringLiteral("Cannot roll back"), QStringLiteral("no transaction is active"));
    inTransaction_ = false;
    if (!db_.rollback())
        Fail(QStringLiteral("Cannot roll back"), db_.lastError().text());
    // Rows deleted or posted inside the transaction are back as they were.
    stale_ = true;
}
