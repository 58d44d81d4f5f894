#pragma once
// The "Staymarker" table of "Hotels_Db": one extracted hotel per row, keyed by
// its detail-page address.

#include "platform/base/AnsiString.h"

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

namespace store {

// One row; the fields are named and ordered like the table's columns.
struct StaymarkerRow {
    AnsiString Url;
    AnsiString AirPort;
    AnsiString HeaderBar;
    AnsiString HotelInfo;
    AnsiString Direction;
    AnsiString Dining;
    AnsiString Transportation;
    AnsiString PropertyInformation;
    AnsiString Services;
    AnsiString RatingsAwards;
    AnsiString Attractions;
    AnsiString PhotoUrl;
    AnsiString ExtractedAt;  // UTC, ISO 8601 ("2024-05-01T12:00:00Z")

    friend bool operator==(const StaymarkerRow&, const StaymarkerRow&) = default;
};

// The thirteen column names in table order.
const QStringList& StaymarkerColumns();
// Field `index` (0..12, in column order) of a row.
const AnsiString& StaymarkerField(const StaymarkerRow& row, int index);
AnsiString& StaymarkerField(StaymarkerRow& row, int index);

// Stores the row; a row with the same "Url" is replaced, so a hotel extracted
// again keeps only its newest sections. Uses its own short-lived connection
// to "Hotels_Db". Returns false and, when `error` is given, the reason.
bool StoreHotel(const StaymarkerRow& row, QString* error = nullptr);

// Stores the row on an open connection `db`, inside whatever transaction
// the caller holds; false and the reason in `error` on failure.
bool UpsertHotel(QSqlDatabase& db, const StaymarkerRow& row, QString* error);

// Every row, ordered by "ExtractedAt" then "Url" (oldest extraction first).
// Throws EDatabaseError.
std::vector<StaymarkerRow> ReadAllHotels();

}  // namespace store
