#pragma once
// What the markup limiting pass (HtmlLimits.h) knows about tag names: the
// flags and special handling of each HTML tag it models, and the hashed
// names it compares open elements by. Internal to platform/htmllimit.

#ifndef HC_HTMLLIMIT_INTERNAL
#error "platform/htmllimit/TagTables.h is internal to platform/htmllimit"
#endif

#include <cstdint>
#include <string_view>

namespace html::limiting {

// What the model needs to know about a tag name in the HTML namespace.
enum Flag : std::uint16_t {
    kVoid = 1 << 0,        // never has content or an end tag
    kSpecial = 1 << 1,     // stops the "any other end tag" search
    kFormatting = 1 << 2,  // kept on the pending formatting list
    kRawText = 1 << 3,     // content is text up to the matching end tag
    kClosesP = 1 << 4,     // start tag closes a p in button scope
    kScope = 1 << 5,       // boundary of the default scope
    kMarker = 1 << 6,      // opens a fresh level of the formatting list
    kImpliedEnd = 1 << 7,  // closed by the implied end tags of a later tag
    kHeading = 1 << 8,
    kBreakout = 1 << 9,    // start tag leaves svg/math content
};

// Tags with handling of their own; everything else is Other.
enum class Tag : std::uint8_t {
    Other, Html, Head, Body, Frameset, P, Li, Dd, Dt, Address, Div, Option, Optgroup, Select, Button,
    Form, Table, Tbody, Thead, Tfoot, Tr, Td, Th, Caption, Colgroup, Template, A, Nobr, Font, Svg, Math,
    Plaintext, Ruby, Rb, Rtc, Rp, Rt, Br,
};

// The table's tags, in the sets the tree builder treats alike.
// tbody, thead and tfoot.
constexpr bool IsTableSection(Tag t) { return t == Tag::Tbody || t == Tag::Thead || t == Tag::Tfoot; }
// A table, its sections and its rows: white space right inside them goes
// into the tree as it is, without re-opening formatting elements.
constexpr bool IsTableStructure(Tag t) { return t == Tag::Table || IsTableSection(t) || t == Tag::Tr; }
// The parts of a table whose tags close a select open inside that table.
constexpr bool IsTablePart(Tag t) { return IsTableStructure(t) || t == Tag::Td || t == Tag::Th || t == Tag::Caption; }
// Every tag handled by the table's own start and end tag rules.
constexpr bool IsTableTag(Tag t) { return IsTablePart(t) || t == Tag::Colgroup; }

struct TagInfo {
    std::string_view name;
    Tag tag;
    std::uint16_t flags;
};

// The entry of a lower-case tag name, or null for a name the model has no
// handling for (it is then Tag::Other without flags). The table lives for
// the whole program.
const TagInfo* LookUp(std::string_view lowerName);

// The key open elements are compared by: a hash of the lower-case name.
constexpr std::uint32_t Hash(std::string_view s)
{
    std::uint32_t h = 2166136261u;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

// Integration points: elements of svg and math whose content is HTML again.
constexpr std::uint32_t kForeignObject = Hash("foreignobject");
constexpr std::uint32_t kDesc = Hash("desc");
constexpr std::uint32_t kTitle = Hash("title");
constexpr std::uint32_t kMi = Hash("mi");
constexpr std::uint32_t kMo = Hash("mo");
constexpr std::uint32_t kMn = Hash("mn");
constexpr std::uint32_t kMs = Hash("ms");
constexpr std::uint32_t kMtext = Hash("mtext");
constexpr std::uint32_t kP = Hash("p");
constexpr std::uint32_t kOl = Hash("ol");
constexpr std::uint32_t kUl = Hash("ul");
constexpr std::uint32_t kRuby = Hash("ruby");
constexpr std::uint32_t kTbody = Hash("tbody");
constexpr std::uint32_t kTr = Hash("tr");
constexpr std::uint32_t kTable = Hash("table");

}  // namespace html::limiting
