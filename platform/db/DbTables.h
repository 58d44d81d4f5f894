#pragma once
// The table component: a dataset bound to a database alias and a table name,
// over Qt Sql (SQLite or PostgreSQL). The alias is resolved and opened when
// the table opens (Alias.h). This layer sets no policy: it never creates a
// database file or a table.

#include "platform/base/AnsiString.h"
#include "platform/db/DatabaseError.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <deque>
#include <memory>
#include <vector>

class TTable;

// One column of an open table. Owned by its TTable; valid until the table closes.
class TField {
public:
    // The value in the current row (or in the row being inserted); NULL reads
    // as empty text. Throws EDatabaseError when there is no current row.
    AnsiString AsString() const;
    // Sets the value of the row being inserted (between Insert and Post).
    // Throws EDatabaseError when no row is being inserted.
    void SetAsString(const AnsiString& value);
    // Whether the value in the current row (or in the row being inserted) is
    // NULL; a field of a row being inserted that was never set is NULL.
    // Throws EDatabaseError when there is no current row.
    bool IsNull() const;
    // The value as a whole number; NULL reads as 0. Throws EDatabaseError when
    // there is no current row or the value is not a whole number.
    long long AsLargeInt() const;
    // Sets a whole number in the row being inserted; as SetAsString.
    void SetAsLargeInt(long long value);

private:
    friend class TTable;
    TField(TTable& table, int column) : table_(table), column_(column) {}
    const QVariant& Value(const char* operation) const;
    void Set(const char* operation, QVariant value);
    TTable& table_;
    int column_;
};

// A table bound to an alias and a table name. Open reads the table's rows in
// their natural order (primary key, else row id, ascending) with the first row
// current; Delete and Post write through at once (inside the connection's
// transaction when one was started). Each TTable has its own named connection,
// created by Open and removed by Close and by the destructor.
class TTable : public QObject {
public:
    explicit TTable(QObject* owner);
    ~TTable() override;

    // Binding; allowed only while the table is closed (throws EDatabaseError otherwise).
    void SetDatabaseName(const AnsiString& name);
    AnsiString DatabaseName() const { return databaseName_; }
    void SetTableName(const AnsiString& name);
    AnsiString TableName() const { return tableName_; }

    bool Active() const { return active_; }
    // Whether a transaction started by StartTransaction is still open.
    bool InTransaction() const { return inTransaction_; }

    // Opens with the first row current. Any failure (unknown alias,
    // unreachable database, missing table, ...) throws EDatabaseError and
    // leaves the table closed. Opening an open table does nothing.
    void Open();
    // Closes; a transaction still open is rolled back and an unposted insert
    // is dropped. Closing a closed table does nothing.
    void Close();

    // Rows of the open table (0 when closed).
    int RecordCount() const;
    // The named column (exact name first, then ignoring case). Throws
    // EDatabaseError for an unknown field or a closed table.
    TField* FieldByName(const AnsiString& name);
    // The same lookup without the error: nullptr when the table has no such
    // column (a table of an earlier shape, say). Throws EDatabaseError only
    // for a closed table.
    TField* FindField(const AnsiString& name);
    void Next();
    // True when the table is closed, empty or moved past its last row.
    bool Eof() const;
    // Deletes the current row; the following row becomes current. Throws
    // EDatabaseError when there is no current row or the statement fails.
    void Delete();
    // Starts a new row with every field NULL; a previous unposted row is dropped.
    void Insert();
    // Stores the row started by Insert; it then becomes the current row.
    // Throws EDatabaseError on failure (the row stays unposted).
    void Post();

    // Transactions of this table's connection; each throws EDatabaseError on
    // failure or when the table is closed.
    void StartTransaction();
    void Commit();
    void Rollback();

private:
    friend class TField;
    void RequireOpen(const char* operation) const;
    void RequireClosed(const char* operation) const;
    void EnsureFresh() const;
    void Reload() const;
    QString Quoted(const QString& identifier) const;
    [[noreturn]] void Fail(const QString& what, const QString& detail) const;

    AnsiString databaseName_;
    AnsiString tableName_;
    bool active_ = false;
    bool inTransaction_ = false;
    QString connectionName_;
    QSqlDatabase db_;

    mutable QStringList columns_;
    QStringList keyColumns_;        // the primary key, or the row id pseudo-column
    bool keyIsRowId_ = false;
    std::vector<std::unique_ptr<TField>> fields_;

    // The rows read at Open, kept in step with Delete; after Post the rows
    // are read again on next use (the new row's key is assigned by the database).
    // A deque: deleting every row from the first on (the save at close) stays
    // linear, where a vector would move the rest of the rows at each delete.
    mutable std::deque<std::vector<QVariant>> rows_;    // columns_ then key values
    mutable std::size_t current_ = 0;
    mutable bool stale_ = false;
    mutable std::vector<QVariant> postedRow_;           // to find the new row after reading again

    bool inserting_ = false;
    std::vector<QVariant> insertRow_;
    // The last INSERT, kept prepared: a save posts many rows with the same fields.
    std::unique_ptr<QSqlQuery> insertQuery_;
    QString insertSql_;
};
