#pragma once
// The "Staymarker" table of "Hotels_Db": one extracted hotel per row, keyed by
// its detail-page address.

#include "platform/base/AnsiString.h"
#include "store/HotelRecord.h"

#include <QSqlDatabase>
#include <QString>

#include <array>
#include <vector>

namespace store {

// One row: the page address and destination code, the sections, and when
// they were extracted.
struct StaymarkerRow : HotelSections {
    AnsiString Url;
    AnsiString AirPort;
    AnsiString ExtractedAt;  // UTC, ISO 8601 ("2024-05-01T12:00:00Z")

    friend bool operator==(const StaymarkerRow&, const StaymarkerRow&) = default;
};

// The thirteen columns in table order, each with the row field it holds:
// "Url", "AirPort", the sections, "ExtractedAt". Stored tables and the
// export's CSV header have this order.
inline constexpr auto kStaymarkerColumns = WithSections<StaymarkerRow>(
    std::to_array<NamedField<StaymarkerRow>>({{"Url", &StaymarkerRow::Url}, {"AirPort", &StaymarkerRow::AirPort}}),
    std::to_array<NamedField<StaymarkerRow>>({{"ExtractedAt", &StaymarkerRow::ExtractedAt}}));
static_assert(CoversRecord(kStaymarkerColumns));

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
