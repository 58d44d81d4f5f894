#pragma once
// The text of a database setting ("[databases] Hotels_Db"): which engine and
// where. Parsed here so that the settings can check it when they are read and
// the database layer can resolve it when a table opens.

#include <QString>

#include <optional>

namespace platform {

// Where an alias's database lives, parsed from its settings text.
struct DatabaseTarget {
    enum class Kind { SQLite, PostgreSQL };
    Kind kind = Kind::SQLite;
    QString sqlitePath;  // SQLite: absolute file path
    QString host;        // PostgreSQL
    int port = 5432;
    QString user;
    QString password;
    QString dbName;
};

// Parses "sqlite:/abs/path" or "postgresql://[user[:password]@]host[:port]/dbname".
// On a malformed text returns nothing and, when `problem` is given, says why.
std::optional<DatabaseTarget> ParseDatabaseUrl(const QString& text, QString* problem = nullptr);

}  // namespace platform
