#pragma once
// The table component the form places: a dataset bound to a database alias
// (Alias.h) and a table name. The form binds its "Staymarker" table and
// never opens it: the crawl reads and writes the database through store/,
// so the component holds its binding and nothing else.

#include "platform/base/AnsiString.h"

#include <QObject>

// A table bound to an alias and a table name; owned by its `owner` (the form).
class TTable : public QObject {
public:
    explicit TTable(QObject* owner) : QObject(owner) {}

    void SetDatabaseName(const AnsiString& name) { databaseName_ = name; }
    AnsiString DatabaseName() const { return databaseName_; }
    void SetTableName(const AnsiString& name) { tableName_ = name; }
    AnsiString TableName() const { return tableName_; }

    // Whether the table is open: never, as nothing opens it.
    bool Active() const { return false; }

private:
    AnsiString databaseName_;
    AnsiString tableName_;
};
