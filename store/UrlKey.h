#pragma once
// How a row is found by its address ("Url"), on each engine. The one place
// that knows the difference:
//
// - SQLite indexes text of any length, so "Url" itself is indexed and
//   compared ("Going_Url" on "Going"; the primary key of "Staymarker").
// - PostgreSQL refuses a btree index entry above about 2.7 KB, so a plain
//   index on "Url" would fail the insert of a long address. There the
//   index is on md5("Url") ("Going_Url_md5"; the UNIQUE "Staymarker_Url_md5"
//   takes the place of the primary key) and a row is found by its digest and
//   then its text, so the index is used and a digest shared by two addresses
//   never mixes them up.
//
// Every statement that finds a row by address builds its condition and
// gives its values here.

#include "platform/base/AnsiString.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <vector>

namespace store {

class UrlKey {
public:
    // For the engine of `db` (an open connection) or of a Qt Sql driver name.
    explicit UrlKey(const QSqlDatabase& db);
    explicit UrlKey(const QString& driverName);

    // Whether rows are indexed by the digest of their address (PostgreSQL).
    bool ByDigest() const { return byDigest_; }

    // A condition true for the rows of `table` (an unquoted name) whose
    // "Url" is the bound address; Values are its values, in order.
    QString Match(const char* table) const;
    QVariantList Values(const AnsiString& url) const;
    // The same for any of `count` bound addresses; ValuesAny are their values.
    QString MatchAny(const char* table, int count) const;
    QVariantList ValuesAny(const std::vector<AnsiString>& urls) const;

    // The conflict target of an upsert into "Staymarker", and the condition
    // its update must meet: on PostgreSQL a digest shared by two addresses
    // updates nothing (the caller sees no row changed) instead of overwriting
    // the other hotel.
    QString StaymarkerConflict() const;
    QString StaymarkerUpdateGuard() const;

    // The statements that index "Going" or "Staymarker" (unquoted names) by
    // address, for a new table; empty for a table that needs none.
    QStringList CreateIndexSql(const QString& table) const;

    // Index names, for the upgrade of a database made by an earlier version.
    static constexpr const char* kGoingPlainIndex = "Going_Url";
    static constexpr const char* kGoingDigestIndex = "Going_Url_md5";
    static constexpr const char* kStaymarkerDigestIndex = "Staymarker_Url_md5";

private:
    bool byDigest_ = false;
};

}  // namespace store
