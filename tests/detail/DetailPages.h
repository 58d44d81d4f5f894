#pragma once
// Generated hotel detail pages for the extraction tests and benchmark:
// sized pages with a chosen table nesting depth, and random pages (fixed
// seed) that put section markers where the two walk forms could disagree.
// Header-only so the benchmark programs can use it too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace detailpages {

inline constexpr std::string_view kSectionNames[] = {
    "gray_header_bar", "hotel_info", "Direction", "Dining", "Transportation",
    "Property Information", "Services", "Ratings_Awards", "Attractions"};

// A small deterministic generator (xorshift), identical on every platform.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }

private:
    std::uint64_t state_;
};

// A detail page of about `targetBytes` whose tables nest `depth` deep: the
// content sits in depth-1 layout tables, one inside the other, and is made
// of section blocks, each a table of a few rows with one section marker in a
// cell attribute, plus filler paragraphs and links (one photo link per
// block). Each section is repeated throughout the page, so the last block
// of each section wins.
inline std::string SizedPage(std::size_t targetBytes, int depth, std::string_view siteBase = "http://hotels.example")
{
    std::string html = "<!DOCTYPE html><html><head><title>Hotel</title></head><body>\n";
    std::string closing;
    for (int d = 1; d < depth; ++d) {
        html += "<table class=\"layout\" width=\"100%\"><tr><td>\n";
        closing = "</td></tr></table>\n" + closing;
    }
    std::size_t block = 0;
    while (html.size() + closing.size() < targetBytes) {
        const std::string n = std::to_string(block);
        const std::string_view name = kSectionNames[block % 9];
        html += "<table class=\"section\"><tr><td name=\"";
        html += name;
        html += "\"><b>";
        html += name;
        html += "</b></td></tr>\n<tr><td>\n  Block " + n + " of hotel text, with a price Avg Price 1" + n +
                " NOK and more words to read.</td><td>Second cell " + n + "</td></tr>\n";
        html += "<tr><td colspan=\"2\">Rooms, views, breakfast and a short walk to the harbour.</td></tr></table>\n";
        html += "<p>Filler paragraph " + n + " <i>with</i> <span class=\"x\">inline</span> elements and a "
                "<a href=\"/hotsmap.ctl?block=" + n + "\">map link</a>.</p>\n";
        html += "<p><a href=\"";
        html += siteBase;
        html += ":80/hotsphoto.ctl?block=" + n + "\">Photos</a></p>\n";
        ++block;
    }
    html += closing;
    html += "</body></html>\n";
    return html;
}

namespace internal {

inline std::string_view AnyName(Rng& rng)
{
    static constexpr std::string_view others[] = {"dining", "Din", "hotel", "x", "Photos"};
    if (rng.Chance(80))
        return kSectionNames[rng.Below(9)];
    return others[rng.Below(5)];
}

// One piece of content that may carry a marker in any form.
inline void Piece(Rng& rng, std::string& html, int depthLeft, std::string_view siteBase);

inline void Table(Rng& rng, std::string& html, int depthLeft, std::string_view siteBase)
{
    html += "<table";
    if (rng.Chance(30)) {
        html += " name=\"";
        html += AnyName(rng);
        html += "\"";
    }
    html += ">";
    const int rows = 1 + rng.Below(3);
    for (int r = 0; r < rows; ++r) {
        html += "<tr>";
        const int cells = 1 + rng.Below(3);
        for (int c = 0; c < cells; ++c) {
            html += "<td>";
            const int pieces = rng.Below(4);
            for (int p = 0; p < pieces; ++p)
                Piece(rng, html, depthLeft - 1, siteBase);
            html += "</td>";
        }
        html += "</tr>";
    }
    html += "</table>";
}

inline void Piece(Rng& rng, std::string& html, int depthLeft, std::string_view siteBase)
{
    const std::string name(AnyName(rng));
    switch (rng.Below(16)) {
    case 0: case 1: case 2:
        if (depthLeft > 0) {
            Table(rng, html, depthLeft, siteBase);
            return;
        }
        html += "plain words ";
        return;
    case 3: html += "<span name=\"" + name + "\">\n  " + name + " Avg Price 99 </span>"; return;
    case 4: html += "text name=\"" + name + "\" in text "; return;
    case 5: html += "<!-- name=\"" + name + "\" -->"; return;
    case 6: html += "<script>var s='name=\"" + name + "\"';</script>"; return;
    case 7: html += "<b NAME=\"" + name + "\">caps attribute</b>"; return;
    case 8: html += "<i name = \"" + name + "\">spaced attribute</i>"; return;
    case 9: html += "<u name=" + name.substr(0, name.find(' ')) + ">bare attribute</u>"; return;
    case 10: html += "<em title='name=\"" + name + "\"'>quoted in a value</em>"; return;
    case 11: html += "NAME=\"" + name + "\" name = \"" + name + "\" name=" + name + " "; return;
    case 12:
        // A marker cut in two by a table boundary.
        html += "name=\"" + name.substr(0, name.size() / 2);
        if (depthLeft > 0)
            Table(rng, html, depthLeft, siteBase);
        else
            html += "<table><tr><td>x</td></tr></table>";
        html += name.substr(name.size() / 2) + "\" ";
        return;
    case 13:
        html += "<a href=\"";
        html += siteBase;
        html += rng.Chance(60) ? ":80" : "";
        html += "/hotsphoto.ctl?id=" + std::to_string(rng.Below(1000)) + "\">photo</a> ";
        return;
    case 14: html += "<a href=\"/hotsphoto.ctl?rel=" + std::to_string(rng.Below(1000)) + "\">relative</a> "; return;
    default: html += "<pre>\n\n   spaced " + name + "\tAvg Price</pre>"; return;
    }
}

}  // namespace internal

// A random page whose tables nest up to `maxDepth` deep.
inline std::string RandomPage(std::uint64_t seed, int maxDepth, std::string_view siteBase = "http://hotels.example")
{
    Rng rng(seed);
    std::string html = "<!DOCTYPE html><html><body>";
    const int pieces = 3 + rng.Below(10);
    for (int p = 0; p < pieces; ++p)
        internal::Piece(rng, html, maxDepth, siteBase);
    html += "</body></html>";
    return html;
}

// Tables nested exactly `depth` deep with one marker in the innermost cell
// and text at every level.
inline std::string NestedPage(int depth, std::string_view sectionName)
{
    std::string html = "<!DOCTYPE html><html><body>";
    for (int d = 0; d < depth; ++d)
        html += "<table><tr><td>level " + std::to_string(d) + " ";
    html += "<span name=\"";
    html += sectionName;
    html += "\">innermost</span>";
    for (int d = 0; d < depth; ++d)
        html += "</td></tr></table>";
    html += "</body></html>";
    return html;
}

}  // namespace detailpages
