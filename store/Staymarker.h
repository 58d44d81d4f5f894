#pragma once
// The "Staymarker" table of "Hotels_Db": one extracted hotel per row, keyed by
// its detail-page address.
//
// Errors: every function here reports a failure by throwing EDatabaseError.

#include "platform/base/AnsiString.h"
#include "store/HotelRecord.h"

#include <QSqlDatabase>

#include <array>
#include <vector>

namespace store {

// One row: the page address and destination code, the sections, and when
// they were extracted.
struct StaymarkerRow : HotelSections {
    AnsiString Url;
    AnsiString AirPort;
    AnsiString ExtractedAt;  // UTC, ISO 8601 ("2024-05-01T12:00:00Z")
    AnsiString Desk;         // the desk that kept it (Desk.h); empty before desks

    friend bool operator==(const StaymarkerRow&, const StaymarkerRow&) = default;
};

// The fourteen columns in table order, each with the row field it holds:
// "Url", "AirPort", the sections, "ExtractedAt", "Desk". Stored tables and
// the export's CSV header have this order.
inline constexpr auto kStaymarkerColumns = WithSections<StaymarkerRow>(
    std::to_array<NamedField<StaymarkerRow>>({{"Url", &StaymarkerRow::Url}, {"AirPort", &StaymarkerRow::AirPort}}),
    std::to_array<NamedField<StaymarkerRow>>({{"ExtractedAt", &StaymarkerRow::ExtractedAt}, {"Desk", &StaymarkerRow::Desk}}));
static_assert(CoversRecord(kStaymarkerColumns));

// Stores the row as it is; a row with the same "Url" is replaced, so a hotel
// extracted again keeps only its newest sections (and the desk that kept it
// last). Uses its own short-lived connection to "Hotels_Db".
void StoreHotel(const StaymarkerRow& row);

// Stores the row on an open connection `db`, inside whatever transaction
// the caller holds.
void UpsertHotel(QSqlDatabase& db, const StaymarkerRow& row);

// Every row, ordered by "ExtractedAt" then "Url" (oldest extraction first),
// all in memory; ForEachHotel (StaymarkerRead.h) reads them one at a time.
std::vector<StaymarkerRow> ReadAllHotels();

}  // namespace store
