#pragma once
// The pure pieces of the section walk: the section markers with the
// field each fills and its clean-up, the marker test, the header cut and the
// photo-link prefix. No document access here, so tests call them directly.

#include "platform/base/AnsiString.h"
#include "store/HotelRecord.h"

#include <QString>

#include <array>
#include <string_view>

namespace detail {

// What is done to a table's inner text before it is stored in a field.
enum class PostProcess {
    None,       // stored unchanged
    TrimLeft,   // leading characters with code <= 32 removed
    HeaderCut,  // cut before the first "Avg Price", then TrimLeft
};

struct SectionMarker {
    std::string_view name;                     // the section's name between the quotes
    AnsiString store::HotelSections::*field;   // the record field it fills
    PostProcess post;
};

// The marked sections (every section but the photo link) in the order the
// walk tests them. The order matters only for documentation: each test is
// independent of the others.
extern const std::array<SectionMarker, 9> kSectionMarkers;

// The marker of a section: name="<sectionName>", byte-exact, no spaces.
AnsiString MarkerText(std::string_view sectionName);

// True when the section's marker occurs anywhere in `outerHtml`
// (case-sensitive, byte-exact substring search).
bool HasMarker(const AnsiString& outerHtml, const AnsiString& sectionName);

// Everything before the first "Avg Price" (all of it when absent), left-trimmed.
AnsiString HeaderCut(const AnsiString& header);

// Applies `post` to a table's inner text.
AnsiString PostProcessText(PostProcess post, const AnsiString& innerText);

// The prefix a photo link's href must contain: the site's base address
// followed by ":80/hotsphoto.ctl?". A trailing '/' of the base is dropped so
// that "http://host/" and "http://host" give the same prefix.
AnsiString PhotoPrefix(const QString& siteBase);

}  // namespace detail
