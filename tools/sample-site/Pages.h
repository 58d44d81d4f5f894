#pragma once
// The sample site's content: its destinations, their hotels and the HTML of
// every page. Pure functions of their arguments, so the site answers the
// same bytes to the same request every time.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace site {

struct Hotel {
    std::string id;        // "osl-1"; the value of hotel= in detail links
    std::string name;      // UTF-8, may hold non-ASCII letters
    std::string currency;  // "NOK"
    int avgPrice = 0;      // per night
    int number = 0;        // 1-based position in its destination's list
};

// How a destination's result pages write each other's addresses.
enum class Paging {
    // hotsavail.ctl?airport=CODE&left=K&page=N, K being the number of hotels
    // from page N on: a later page's address sorts before an earlier one's.
    HotelsLeftFirst,
    // hotsavail.ctl?airport=CODE&page=N: addresses sort in page order (for
    // pages 1 to 9), so a later page's address sorts after an earlier one's.
    PageNumberOnly,
};

struct Destination {
    std::string code;             // as typed by the operator: "osl"
    std::string city;             // "Oslo"
    std::vector<int> pageSizes;   // hotels per result page, in page order
    std::vector<Hotel> hotels;    // all hotels, in listing order
    Paging paging = Paging::HotelsLeftFirst;
};

// The destination with exactly this code (case-sensitive), or nullptr.
const Destination* FindDestination(std::string_view code);

// The hotel with this id, or nothing. Ids beginning with "slow-" name a
// hotel made up on the spot (letters, digits, '-' and '_' only).
std::optional<Hotel> FindHotel(std::string_view id);
bool IsSlowHotelId(std::string_view id);

// Checks the query of a search request (the raw text after '?') against the
// fixed keys and values, in order. Returns an empty string and stores the
// percent-decoded destination code in `airport` when it matches; otherwise
// returns a one-line description of the first difference.
std::string CheckSearchQuery(std::string_view rawQuery, std::string& airport);

// One named anchor of a result page as a reader of the page takes it: href
// and text unescaped ("&", not "&amp;").
struct Anchor {
    std::string name;
    std::string href;
    std::string text;
};

// One hotel of a result page: its anchor (name "hN", href
// "hotsdetail.ctl?hotel=ID", text the hotel's name) and its price ("NOK 1,185").
struct ResultRow {
    Anchor anchor;
    std::string price;
};

// What one result page of a destination with hotels lists, whichever way the
// page writes it down.
struct ResultListing {
    const Destination* destination = nullptr;  // never null; points into static data
    int page = 0;                              // 1-based
    int pageCount = 0;
    std::vector<ResultRow> rows;               // in listing order
    // The page's paging anchors in page order: "prev" (text "Previous", not on
    // page 1), "next" (text "Next", not on the last page) and "all" (text
    // "Next >>", a look-alike the crawler must not follow).
    std::vector<Anchor> paging;
};

// The listing of page `page` of `code`; nothing for an unknown code, one
// without hotels, or a page number out of range.
std::optional<ResultListing> ListResultPage(std::string_view code, int page);

// Result page `page` (1-based) of the destination `code`. An unknown code,
// or one without hotels, gets the "no hotels" page; a page number out of
// range gets nothing.
std::optional<std::string> ResultPage(std::string_view code, int page);
// The "no hotels" page of `code`, with `headExtra` at the end of its head.
std::string NoHotelsPage(std::string_view code, std::string_view headExtra = {});

// The detail page of `hotel`. `headExtra` goes at the end of the head;
// `streetMarkup`, when not empty, stands for the street line of the
// hotel_info section (StreetLine as plain text otherwise).
std::string DetailPage(const Hotel& hotel, std::string_view headExtra = {}, std::string_view streetMarkup = {});
// The street line of a detail page's hotel_info section: "N Harbour Street".
std::string StreetLine(const Hotel& hotel);
std::string PhotoPage(const Hotel& hotel);
std::string MapPage(const Hotel& hotel);
std::string IndexPage();
// `html` with an ad frame (/ad.ctl) at the start of its body.
std::string WithAdFrame(std::string html);
// What the ad frame shows when it answers.
std::string AdPage();
// A small page for an HTTP error status.
std::string ErrorPage(int status, std::string_view text);

// The start of every page: doctype, head with charset, `title` and then
// `headExtra` (markup, written as it is), and the opening <body> line.
std::string PageHead(std::string_view title, std::string_view headExtra = {});
// The end of every page.
extern const char* const kPageTail;
// "NOK 1,185": the hotel's currency and average price.
std::string PriceText(const Hotel& hotel);

// Escapes &, <, >, " and ' for HTML text and attribute values.
std::string HtmlEscape(std::string_view text);
// Decodes %XX sequences; a malformed sequence is kept as it is.
std::string PercentDecode(std::string_view text);

}  // namespace site
