#include "platform/htmllimit/TagTables.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace html::limiting {

namespace {

constexpr std::uint16_t kBlock = kSpecial | kClosesP;

const TagInfo kTagTable[] = {
    {"a", Tag::A, kFormatting},
    {"address", Tag::Address, kBlock},
    {"applet", Tag::Other, kSpecial | kScope | kMarker},
    {"area", Tag::Other, kSpecial | kVoid},
    {"article", Tag::Other, kBlock},
    {"aside", Tag::Other, kBlock},
    {"b", Tag::Other, kFormatting | kBreakout},
    {"base", Tag::Other, kSpecial | kVoid},
    {"basefont", Tag::Other, kSpecial | kVoid},
    {"bgsound", Tag::Other, kSpecial | kVoid},
    {"big", Tag::Other, kFormatting | kBreakout},
    {"blockquote", Tag::Other, kBlock | kBreakout},
    {"body", Tag::Body, kSpecial | kBreakout},
    {"br", Tag::Br, kSpecial | kVoid | kBreakout},
    {"button", Tag::Button, kSpecial},
    {"caption", Tag::Caption, kSpecial | kScope | kMarker},
    {"center", Tag::Other, kBlock | kBreakout},
    {"code", Tag::Other, kFormatting | kBreakout},
    {"col", Tag::Other, kSpecial | kVoid},
    {"colgroup", Tag::Colgroup, kSpecial},
    {"dd", Tag::Dd, kSpecial | kImpliedEnd | kBreakout},
    {"details", Tag::Other, kBlock},
    {"dialog", Tag::Other, kClosesP},
    {"dir", Tag::Other, kBlock},
    {"div", Tag::Div, kBlock | kBreakout},
    {"dl", Tag::Other, kBlock | kBreakout},
    {"dt", Tag::Dt, kSpecial | kImpliedEnd | kBreakout},
    {"em", Tag::Other, kFormatting | kBreakout},
    {"embed", Tag::Other, kSpecial | kVoid | kBreakout},
    {"fieldset", Tag::Other, kBlock},
    {"figcaption", Tag::Other, kBlock},
    {"figure", Tag::Other, kBlock},
    {"font", Tag::Font, kFormatting},
    {"footer", Tag::Other, kBlock},
    {"form", Tag::Form, kBlock},
    {"frame", Tag::Other, kSpecial | kVoid},
    {"frameset", Tag::Frameset, kSpecial},
    {"h1", Tag::Other, kBlock | kHeading | kBreakout},
    {"h2", Tag::Other, kBlock | kHeading | kBreakout},
    {"h3", Tag::Other, kBlock | kHeading | kBreakout},
    {"h4", Tag::Other, kBlock | kHeading | kBreakout},
    {"h5", Tag::Other, kBlock | kHeading | kBreakout},
    {"h6", Tag::Other, kBlock | kHeading | kBreakout},
    {"head", Tag::Head, kSpecial | kBreakout},
    {"header", Tag::Other, kBlock},
    {"hgroup", Tag::Other, kBlock},
    {"hr", Tag::Other, kBlock | kVoid | kBreakout},
    {"html", Tag::Html, kSpecial | kScope},
    {"i", Tag::Other, kFormatting | kBreakout},
    {"iframe", Tag::Other, kSpecial | kRawText},
    {"image", Tag::Other, kVoid},
    {"img", Tag::Other, kSpecial | kVoid | kBreakout},
    {"input", Tag::Other, kSpecial | kVoid},
    {"keygen", Tag::Other, kSpecial | kVoid},
    {"li", Tag::Li, kSpecial | kImpliedEnd | kBreakout},
    {"link", Tag::Other, kSpecial | kVoid},
    {"listing", Tag::Other, kBlock | kBreakout},
    {"main", Tag::Other, kBlock},
    {"marquee", Tag::Other, kSpecial | kScope | kMarker},
    {"math", Tag::Math, 0},
    {"menu", Tag::Other, kBlock | kBreakout},
    {"meta", Tag::Other, kSpecial | kVoid | kBreakout},
    {"nav", Tag::Other, kBlock},
    {"nobr", Tag::Nobr, kFormatting | kBreakout},
    {"noembed", Tag::Other, kSpecial | kRawText},
    {"noframes", Tag::Other, kSpecial | kRawText},
    {"noscript", Tag::Other, kSpecial},
    {"object", Tag::Other, kSpecial | kScope | kMarker},
    {"ol", Tag::Other, kBlock | kBreakout},
    {"optgroup", Tag::Optgroup, kImpliedEnd},
    {"option", Tag::Option, kImpliedEnd},
    {"p", Tag::P, kBlock | kImpliedEnd | kBreakout},
    {"param", Tag::Other, kSpecial | kVoid},
    {"plaintext", Tag::Plaintext, kBlock},
    {"pre", Tag::Other, kBlock | kBreakout},
    {"rb", Tag::Rb, kImpliedEnd},
    {"rp", Tag::Rp, kImpliedEnd},
    {"rt", Tag::Rt, kImpliedEnd},
    {"rtc", Tag::Rtc, kImpliedEnd},
    {"ruby", Tag::Ruby, kBreakout},
    {"s", Tag::Other, kFormatting | kBreakout},
    {"script", Tag::Other, kSpecial | kRawText},
    {"search", Tag::Other, kBlock},
    {"section", Tag::Other, kBlock},
    {"select", Tag::Select, kSpecial},
    {"small", Tag::Other, kFormatting | kBreakout},
    {"source", Tag::Other, kSpecial | kVoid},
    {"span", Tag::Other, kBreakout},
    {"strike", Tag::Other, kFormatting | kBreakout},
    {"strong", Tag::Other, kFormatting | kBreakout},
    {"style", Tag::Other, kSpecial | kRawText},
    {"sub", Tag::Other, kBreakout},
    {"summary", Tag::Other, kBlock},
    {"sup", Tag::Other, kBreakout},
    {"svg", Tag::Svg, 0},
    {"table", Tag::Table, kSpecial | kScope | kBreakout},
    {"tbody", Tag::Tbody, kSpecial},
    {"td", Tag::Td, kSpecial | kScope | kMarker},
    {"template", Tag::Template, kSpecial | kScope | kMarker},
    {"textarea", Tag::Other, kSpecial | kRawText},
    {"tfoot", Tag::Tfoot, kSpecial},
    {"th", Tag::Th, kSpecial | kScope | kMarker},
    {"thead", Tag::Thead, kSpecial},
    {"title", Tag::Other, kSpecial | kRawText},
    {"tr", Tag::Tr, kSpecial},
    {"track", Tag::Other, kSpecial | kVoid},
    {"tt", Tag::Other, kFormatting | kBreakout},
    {"u", Tag::Other, kFormatting | kBreakout},
    {"ul", Tag::Other, kBlock | kBreakout},
    {"var", Tag::Other, kBreakout},
    {"wbr", Tag::Other, kSpecial | kVoid},
    {"xmp", Tag::Other, kBlock | kRawText},
};

}  // namespace

const TagInfo* LookUp(std::string_view lowerName)
{
    // The table is written in sorted order; a sorted copy is made once so a
    // slip in the order above cannot break the search.
    static const std::vector<TagInfo> sorted = [] {
        std::vector<TagInfo> t(std::begin(kTagTable), std::end(kTagTable));
        std::sort(t.begin(), t.end(), [](const TagInfo& a, const TagInfo& b) { return a.name < b.name; });
        return t;
    }();
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), lowerName,
                                     [](const TagInfo& a, std::string_view n) { return a.name < n; });
    return it != sorted.end() && it->name == lowerName ? &*it : nullptr;
}

}  // namespace html::limiting
