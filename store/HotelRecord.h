#pragma once
// The ten sections of a hotel detail page, shared by the record that
// extracts them (THotelDescParser) and the "Staymarker" row that keeps them.
//
// kHotelSectionFields is the one list of their names. Everything that names
// the fields one by one (the table's columns and its CREATE TABLE text, the
// CSV header, the JSON keys, the copy from record to row, the tests) walks a
// list made from it, so a section is added or renamed here and nowhere else.

#include "platform/base/AnsiString.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace store {

struct HotelSections {
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

    friend bool operator==(const HotelSections&, const HotelSections&) = default;
};

// One text field of `Record` and its name: `record.*member` is the field.
template <class Record>
struct NamedField {
    std::string_view name;
    AnsiString Record::*member = nullptr;
};

// The sections in "Staymarker" column order; each name is its column's.
inline constexpr std::array<NamedField<HotelSections>, 10> kHotelSectionFields = {{
    {"HeaderBar", &HotelSections::HeaderBar},
    {"HotelInfo", &HotelSections::HotelInfo},
    {"Direction", &HotelSections::Direction},
    {"Dining", &HotelSections::Dining},
    {"Transportation", &HotelSections::Transportation},
    {"PropertyInformation", &HotelSections::PropertyInformation},
    {"Services", &HotelSections::Services},
    {"RatingsAwards", &HotelSections::RatingsAwards},
    {"Attractions", &HotelSections::Attractions},
    {"PhotoUrl", &HotelSections::PhotoUrl},
}};

// The field list of a record made of the sections and fields of its own:
// `before`, the ten sections in their order, then `after`.
template <class Record, std::size_t B, std::size_t A>
constexpr std::array<NamedField<Record>, B + kHotelSectionFields.size() + A>
WithSections(const std::array<NamedField<Record>, B>& before, const std::array<NamedField<Record>, A>& after)
{
    std::array<NamedField<Record>, B + kHotelSectionFields.size() + A> all{};
    std::size_t n = 0;
    for (const NamedField<Record>& f : before)
        all[n++] = f;
    for (const NamedField<HotelSections>& f : kHotelSectionFields)
        all[n++] = {f.name, f.member};
    for (const NamedField<Record>& f : after)
        all[n++] = f;
    return all;
}

// True when no field and no name occurs twice in `fields`.
template <class Record, std::size_t N>
constexpr bool AllDistinct(const std::array<NamedField<Record>, N>& fields)
{
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = i + 1; j < N; ++j)
            if (fields[i].member == fields[j].member || fields[i].name == fields[j].name)
                return false;
    return true;
}

// True when `fields` names every field of `Record`, a struct of nothing but
// strings, exactly once. Checked where each list is made, so a field added
// to a record but not to its list fails the build.
template <class Record, std::size_t N>
constexpr bool CoversRecord(const std::array<NamedField<Record>, N>& fields)
{
    return sizeof(Record) == N * sizeof(AnsiString) && AllDistinct(fields);
}

static_assert(CoversRecord(kHotelSectionFields));

}  // namespace store
