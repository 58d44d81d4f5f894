#include "Pages.h"

#include <array>
#include <cstdio>
#include <utility>

namespace site {
namespace {

Destination MakeDestination(std::string code, std::string city, std::string currency, int basePrice,
                            std::vector<int> pageSizes, std::vector<std::string> names,
                            Paging paging = Paging::HotelsLeftFirst)
{
    Destination d{std::move(code), std::move(city), std::move(pageSizes), {}, paging};
    int number = 0;
    for (auto& name : names) {
        ++number;
        d.hotels.push_back(Hotel{d.code + "-" + std::to_string(number), std::move(name), currency,
                                 basePrice + 85 * number, number});
    }
    return d;
}

const std::vector<Destination>& Destinations()
{
    static const std::vector<Destination> all = {
        MakeDestination("osl", "Oslo", "NOK", 1100, {4, 4, 2},
                        {"Hôtel Bergström", "Café Øst", "한강 게스트하우스", "Fjord View Inn",
                         "Harbour Light Hotel", "Airport Rest Hotel", "Karl Johan Suites",
                         "Nordlys Pension", "Aker Brygge Rooms", "Holmenkollen Lodge"}),
        MakeDestination("adl", "Adelaide", "AUD", 140, {3},
                        {"Torrens River Motel", "Glenelg Beach House", "Rundle Mall Suites"}),
        // Twelve hotels on two pages: enough pending detail links that a
        // crawl can be interrupted many times while some are still waiting.
        MakeDestination("krk", "Kraków", "PLN", 260, {6, 6},
                        {"Hotel Wawel", "Pod Różą", "Stare Miasto Rooms", "Kazimierz Lodge",
                         "Vistula Riverside", "Sukiennice Suites", "Planty Park Inn",
                         "Floriańska Guest House", "Nowa Huta Hostel", "Balice Airport Hotel",
                         "Podgórze Apartments", "Zakrzówek Retreat"}),
        // Four pages whose addresses carry only the page number, so each
        // "Next" address sorts after the one of the page it is on.
        MakeDestination("upn", "Upton", "GBP", 70, {3, 4, 3, 3},
                        {"Upton Arms", "Riverside Cottage", "Old Forge Inn", "Station Hotel",
                         "Market Square Rooms", "Church View Lodge", "Orchard House", "Canal Side Inn",
                         "Heath Lodge", "Bridge End Hotel", "Willow Court", "High Street Suites",
                         "Meadow Barn"},
                        Paging::PageNumberOnly),
        // Hotels whose detail pages are held until released: for tests of
        // what goes on while a detail page is still loading.
        Destination{"slo", "Slowtown", {2},
                    {Hotel{"slow-1", "Slow Lodge (slow-1)", "EUR", 99, 1},
                     Hotel{"slow-2", "Slow Lodge (slow-2)", "EUR", 99, 2}}},
        Destination{"nil", "Nowhere", {}, {}},
    };
    return all;
}

bool IsIdChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// One section of a detail page: a marker element inside a table of its own.
// `wrapInDiv` puts the marker on a <div> inside the cell instead of the cell,
// and `extraNesting` puts that table inside one more table, so the pages
// exercise both marker placements and several depths.
std::string Section(std::string_view marker, const std::string& text, bool wrapInDiv, bool extraNesting)
{
    std::string inner;
    if (wrapInDiv)
        inner = "<table class=\"section\"><tr><td><div name=\"" + std::string(marker) + "\">" + text +
                "</div></td></tr></table>";
    else
        inner = "<table class=\"section\"><tr><td name=\"" + std::string(marker) + "\">" + text +
                "</td></tr></table>";
    if (extraNesting)
        inner = "<table class=\"frame\"><tr><td>" + inner + "</td></tr></table>";
    return "<tr><td>\n" + inner + "\n</td></tr>\n";
}

}  // namespace

const char* const kPageTail = "</body>\n</html>\n";

std::string PageHead(std::string_view title, std::string_view headExtra)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           HtmlEscape(title) + "</title>\n" + std::string(headExtra) + "</head>\n<body>\n";
}

std::string PriceText(const Hotel& h)
{
    std::string digits = std::to_string(h.avgPrice);
    if (digits.size() > 3)
        digits.insert(digits.size() - 3, ",");
    return h.currency + " " + digits;
}

std::string NoHotelsPage(std::string_view code, std::string_view headExtra)
{
    std::string html = PageHead("No hotels found", headExtra);
    html += "<h1>No hotels found</h1>\n<p>There are no hotels for the destination &quot;" +
            HtmlEscape(code) + "&quot; from Sep 1 to Sep 3.</p>\n";
    return html + kPageTail;
}

const Destination* FindDestination(std::string_view code)
{
    for (const auto& d : Destinations())
        if (d.code == code)
            return &d;
    return nullptr;
}

bool IsSlowHotelId(std::string_view id)
{
    if (id.size() <= 5 || id.substr(0, 5) != "slow-")
        return false;
    for (char c : id)
        if (!IsIdChar(c))
            return false;
    return true;
}

std::optional<Hotel> FindHotel(std::string_view id)
{
    for (const auto& d : Destinations())
        for (const auto& h : d.hotels)
            if (h.id == id)
                return h;
    if (IsSlowHotelId(id))
        return Hotel{std::string(id), "Slow Lodge (" + std::string(id) + ")", "EUR", 99, 1};
    return std::nullopt;
}

std::string CheckSearchQuery(std::string_view rawQuery, std::string& airport)
{
    // Keys and values in the order the search address carries them; the
    // destination code is the one free value (nullptr here).
    static const std::array<std::pair<const char*, const char*>, 13> expected = {{
        {"Service", "LODGEVISTAS"},
        {"SearchPath", "hots"},
        {"old_cb", "N"},
        {"SEQ", "4082317765219034458126"},
        {"mode", "1"},
        {"airport", nullptr},
        {"state", ""},
        {"ckin_dt_mon", "Sep"},
        {"ckin_dt_dy", "1"},
        {"ckout_dt_mon", "Sep"},
        {"ckout_dt_dy", "3"},
        {"pax_cnt", "1"},
        {"mode", "2"},
    }};

    std::vector<std::string_view> pairs;
    size_t start = 0;
    while (start <= rawQuery.size()) {
        size_t end = rawQuery.find('&', start);
        if (end == std::string_view::npos)
            end = rawQuery.size();
        pairs.push_back(rawQuery.substr(start, end - start));
        start = end + 1;
    }
    if (pairs.size() != expected.size())
        return "expected " + std::to_string(expected.size()) + " query parameters, got " +
               std::to_string(pairs.size());

    for (size_t i = 0; i < expected.size(); ++i) {
        const auto [key, value] = expected[i];
        const std::string_view pair = pairs[i];
        const size_t eq = pair.find('=');
        const std::string gotKey(pair.substr(0, eq));
        if (eq == std::string_view::npos || gotKey != key)
            return "parameter " + std::to_string(i + 1) + " should be " + key + "=, got " + std::string(pair);
        const std::string gotValue = PercentDecode(pair.substr(eq + 1));
        if (value == nullptr)
            airport = gotValue;
        else if (gotValue != value)
            return "parameter " + std::string(key) + " should be \"" + value + "\", got \"" + gotValue + "\"";
    }
    return {};
}

std::optional<ResultListing> ListResultPage(std::string_view code, int page)
{
    const Destination* d = FindDestination(code);
    if (d == nullptr || d->hotels.empty())
        return std::nullopt;
    const int pageCount = static_cast<int>(d->pageSizes.size());
    if (page < 1 || page > pageCount)
        return std::nullopt;

    ResultListing listing{d, page, pageCount, {}, {}};
    size_t first = 0;
    for (int p = 1; p < page; ++p)
        first += static_cast<size_t>(d->pageSizes[static_cast<size_t>(p - 1)]);
    const size_t last = first + static_cast<size_t>(d->pageSizes[static_cast<size_t>(page - 1)]);
    for (size_t i = first; i < last; ++i) {
        const Hotel& h = d->hotels[i];
        listing.rows.push_back(
            ResultRow{Anchor{"h" + std::to_string(h.number), "hotsdetail.ctl?hotel=" + h.id, h.name}, PriceText(h)});
    }

    // By default the number of hotels from page p on leads the query, so a
    // later page's address sorts before an earlier one's. The crawler
    // navigates to the smallest of the paging addresses it queued last, so
    // this order lets it reach every page; destinations with page-number-only
    // addresses show what happens in the opposite order.
    const auto pageLink = [&](int p) {
        if (d->paging == Paging::PageNumberOnly)
            return "hotsavail.ctl?airport=" + d->code + "&page=" + std::to_string(p);
        size_t left = 0;
        for (int q = p; q <= pageCount; ++q)
            left += static_cast<size_t>(d->pageSizes[static_cast<size_t>(q - 1)]);
        return "hotsavail.ctl?airport=" + d->code + "&left=" + std::to_string(left) + "&page=" + std::to_string(p);
    };
    if (page > 1)
        listing.paging.push_back(Anchor{"prev", pageLink(page - 1), "Previous"});
    if (page < pageCount)
        listing.paging.push_back(Anchor{"next", pageLink(page + 1), "Next"});
    // Look-alike of a paging link: the text is not exactly "Next".
    listing.paging.push_back(Anchor{"all", pageLink(page) + "&view=all", "Next >>"});
    return listing;
}

std::optional<std::string> ResultPage(std::string_view code, int page)
{
    const std::optional<ResultListing> listing = ListResultPage(code, page);
    if (!listing) {
        const Destination* d = FindDestination(code);
        if (page == 1 && (d == nullptr || d->hotels.empty()))
            return NoHotelsPage(code);
        return std::nullopt;
    }
    const Destination& d = *listing->destination;

    std::string html = PageHead("Hotels in " + d.city + " - page " + std::to_string(page));
    html += "<h1>Hotels near " + HtmlEscape(d.city) + " (" + HtmlEscape(d.code) + ")</h1>\n";
    html += "<p>Sep 1 to Sep 3, 1 guest. Page " + std::to_string(page) + " of " +
            std::to_string(listing->pageCount) + ".</p>\n";
    // A named anchor without an address: the crawler must ignore it.
    html += "<a name=\"top\"></a>\n";
    html += "<table class=\"results\">\n";
    for (const ResultRow& row : listing->rows)
        html += "<tr><td><a name=\"" + row.anchor.name + "\" href=\"" + HtmlEscape(row.anchor.href) + "\">" +
                HtmlEscape(row.anchor.text) + "</a></td><td>Avg Price " + row.price + "</td></tr>\n";
    html += "</table>\n";
    html += "<p class=\"paging\">\n";
    for (const Anchor& a : listing->paging)
        html += "<a name=\"" + a.name + "\" href=\"" + HtmlEscape(a.href) + "\">" + HtmlEscape(a.text) + "</a>\n";
    html += "</p>\n";
    // A link that asks for a new window; the crawler's browser refuses it.
    html += "<p><a href=\"map.ctl?view=all\" target=\"_blank\">Map of all hotels</a></p>\n";
    // A link without a name: the crawler sees named anchors only, so this
    // detail page must never be requested.
    html += "<p><a href=\"hotsdetail.ctl?hotel=unlisted-1\">Sponsored hotel</a></p>\n";
    return html + kPageTail;
}

std::string StreetLine(const Hotel& h)
{
    return std::to_string(h.number) + " Harbour Street";
}

std::string DetailPage(const Hotel& h, std::string_view headExtra, std::string_view streetMarkup)
{
    const std::string name = HtmlEscape(h.name);
    const std::string n = std::to_string(h.number);
    const std::string street = streetMarkup.empty() ? StreetLine(h) : std::string(streetMarkup);
    std::string html = PageHead(h.name + " - hotel details", headExtra);

    // An outer layout table encloses every section table, so its own outer
    // HTML carries all markers; the innermost table of each marker holds the
    // section's own text.
    html += "<table class=\"layout\" width=\"100%\">\n";
    html += Section("gray_header_bar", "\n  " + name + " Avg Price " + PriceText(h), false, false);
    html += Section("hotel_info", "\n    " + name + "<br>\n    " + street + "<br>\n    Phone +00 555 0" + n, false, false);
    html += Section("Direction", "Directions: " + n + " km from the airport, follow the signs to the centre.", true, true);
    html += Section("Dining", "Dining: breakfast buffet 06:30-10:00; bistro open until 22:00.", false, true);
    html += Section("Transportation", "Transportation: airport bus every 20 minutes; taxi rank outside.", true, false);
    html += Section("Property Information", "Property Information: " + std::to_string(20 + h.number * 7) + " rooms, check-in 15:00, check-out 11:00.", false, false);
    html += Section("Services", "Services: free wireless network, laundry, luggage room.", true, false);
    html += Section("Ratings_Awards", "Ratings: " + std::to_string(2 + h.number % 4) + " stars.", false, false);
    html += Section("Attractions", "Attractions: old town " + n + " km, museum quarter, harbour walk.", true, true);
    html += "</table>\n";

    html += "<p><a name=\"photos\" href=\"http://hotels.example:80/hotsphoto.ctl?hotel=" + h.id + "\">Photos</a>\n";
    html += "<a name=\"large\" href=\"http://hotels.example/hotsphoto.ctl?hotel=" + h.id +
            "&amp;size=large\" target=\"_blank\">Large photos in a new window</a></p>\n";
    html += "<iframe name=\"map\" src=\"map.ctl?hotel=" + h.id + "\" width=\"300\" height=\"200\" title=\"Map\"></iframe>\n";
    return html + kPageTail;
}

std::string PhotoPage(const Hotel& h)
{
    std::string html = PageHead(h.name + " - photos");
    html += "<h1>Photos of " + HtmlEscape(h.name) + "</h1>\n<p>Lobby, rooms and view.</p>\n";
    return html + kPageTail;
}

std::string MapPage(const Hotel& h)
{
    std::string html = PageHead(h.name + " - map");
    html += "<p>Map of the area around " + HtmlEscape(h.name) + ".</p>\n";
    return html + kPageTail;
}

std::string IndexPage()
{
    std::string html = PageHead("Hotel search");
    html += "<h1>Hotel search</h1>\n<ul>\n";
    for (const auto& d : Destinations())
        html += "<li>" + HtmlEscape(d.code) + ": " + HtmlEscape(d.city) + ", " +
                std::to_string(d.hotels.size()) + " hotels</li>\n";
    html += "</ul>\n";
    return html + kPageTail;
}

std::string WithAdFrame(std::string html)
{
    const std::size_t body = html.find("<body>");
    if (body != std::string::npos)
        html.insert(body + 6, "\n<iframe src=\"/ad.ctl\" width=\"468\" height=\"60\"></iframe>");
    return html;
}

std::string AdPage()
{
    return PageHead("Advertisement") + "<p>Fly for less.</p>\n" + kPageTail;
}

std::string ErrorPage(int status, std::string_view text)
{
    std::string html = PageHead(std::to_string(status));
    html += "<h1>" + std::to_string(status) + "</h1>\n<p>" + HtmlEscape(text) + "</p>\n";
    return html + kPageTail;
}

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace site
