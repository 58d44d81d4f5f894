#pragma once
// The names the store uses in "Hotels_Db", each defined here once: the
// alias, the tables, the key and desk columns, the columns of "Going" and
// of "Destinations", how an identifier is quoted in a statement, and the names
// of the store's Qt Sql connections.
//
// Names here are plain ASCII without quotes, so quoting is the same on
// both engines: Quoted("Going") is "\"Going\"".

#include "platform/db/Alias.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <array>
#include <string_view>

namespace store {

// The alias every use of the database goes through (Alias.h resolves it).
inline constexpr const char* kHotelsDb = platform::kHotelsAlias;

// Tables.
inline constexpr const char* kGoing = "Going";
inline constexpr const char* kStaymarker = "Staymarker";
inline constexpr const char* kFailures = "Failures";
inline constexpr const char* kDestinations = "Destinations";
inline constexpr std::array<const char*, 4> kTables = {kGoing, kStaymarker, kFailures, kDestinations};

// The column naming the desk a row belongs to (Desk.h), in every table.
// NULL in rows written before desks existed, until a desk adopts them.
inline constexpr const char* kDeskColumn = "Desk";

// The integer key "Going", "Failures" and "Destinations" start with,
// assigned on insert and never reused: rows are read back in its order.
inline constexpr const char* kIdColumn = "Id";

// "Going": the key, the link, then its retry state (RetryColumns.h), then
// its desk.
inline constexpr const char* kGoingUrl = "Url";
inline constexpr const char* kGoingAirPort = "AirPort";

// The index that finds a desk's rows of "Going" in their order.
inline constexpr const char* kGoingDeskIndex = "Going_Desk";

// "Destinations": the key, the code as typed and whether it is owed, then
// its retry state (RetryColumns.h), then its desk.
inline constexpr const char* kDestinationsCode = "Code";
inline constexpr const char* kDestinationsOwed = "Owed";

// `name` quoted as an identifier for either engine.
inline QString Quoted(std::string_view name)
{
    return QLatin1Char('"') + QLatin1String(name.data(), static_cast<qsizetype>(name.size())) + QLatin1Char('"');
}

// The names quoted and joined by ", " (column lists).
template <class Names>
QString QuotedList(const Names& names)
{
    QStringList quoted;
    for (const auto& name : names)
        quoted << Quoted(name);
    return quoted.join(QStringLiteral(", "));
}

// Qt Sql connection names: the prefix of the desk's kept connection
// (PostgreSQL, InstanceLock.h) and of the short-lived ones (Connection.h);
// each adds a serial number, the short-lived ones a purpose first.
inline constexpr const char* kDeskConnectionName = "hc_desk";  // kConnectionPrefix + "desk"
inline constexpr const char* kConnectionPrefix = "hc_";

}  // namespace store
