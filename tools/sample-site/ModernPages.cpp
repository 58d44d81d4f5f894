#include "ModernPages.h"

#include <cstdio>

namespace site {
namespace {

// The destination and page whose result page raises script dialogs on load.
constexpr std::string_view kDialogCode = "adl";
constexpr int kDialogPage = 1;

// Styles kept in the page itself, beside /site.css: custom properties and a
// flex row of pill-shaped paging links.
const char* const kPageStyle = R"css(<style>
:root { --accent: #ffb400; --ink: #10203a; }
.paging { display: flex; gap: 12px; justify-content: center; padding: 12px; }
.paging a { background: var(--accent); color: var(--ink); border-radius: 999px; padding: 6px 14px; text-decoration: none; box-shadow: 0 2px 6px rgba(0, 0, 0, 0.3); }
</style>
)css";

// Builds the hotel anchors once the document is parsed, then the paging
// anchors from /paging.json a moment later, so a reader that takes the page
// at DOMContentLoaded (or at load) sees hotels without paging for a while.
// Every anchor is the classic page's: name, href and text as the data give
// them.
const char* const kResultScript = R"js(<script>
(function () {
  "use strict";
  var data = JSON.parse(document.getElementById("data").textContent);
  function anchor(a) {
    var e = document.createElement("a");
    e.setAttribute("name", a.name);
    e.setAttribute("href", a.href);
    e.textContent = a.text;
    return e;
  }
  document.addEventListener("DOMContentLoaded", function () {
    var list = document.getElementById("results");
    data.hotels.forEach(function (h) {
      var card = document.createElement("div");
      card.className = "hotel";
      card.appendChild(anchor(h));
      var price = document.createElement("span");
      price.className = "price";
      price.textContent = "Avg Price " + h.price;
      card.appendChild(price);
      list.appendChild(card);
    });
    setTimeout(function () {
      fetch(data.paging, { credentials: "same-origin" })
        .then(function (r) { return r.json(); })
        .then(function (p) {
          var box = document.getElementById("paging");
          (p.paging || []).forEach(function (a) {
            box.appendChild(anchor(a));
            box.appendChild(document.createTextNode("\n"));
          });
        });
    }, 150);
  });
  if (data.alert) {
    window.addEventListener("load", function () {
      alert(data.alert);
      if (data.confirm)
        confirm(data.confirm);
    });
  }
})();
</script>
)js";

std::string ModernHead()
{
    return "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<link rel=\"stylesheet\" href=\"/site.css\">\n" +
           std::string(kPageStyle);
}

std::string AnchorJson(const Anchor& a)
{
    return "{\"name\":" + JsonString(a.name) + ",\"href\":" + JsonString(a.href) + ",\"text\":" + JsonString(a.text) +
           "}";
}

std::string PagingAddress(const ResultListing& listing)
{
    return "/paging.json?airport=" + listing.destination->code + "&page=" + std::to_string(listing.page);
}

// The data an inline script turns into the page's anchors.
std::string ResultData(const ResultListing& listing)
{
    std::string json = "{\"airport\":" + JsonString(listing.destination->code) +
                       ",\"page\":" + std::to_string(listing.page) + ",\"pages\":" + std::to_string(listing.pageCount) +
                       ",\"hotels\":[";
    for (size_t i = 0; i < listing.rows.size(); ++i) {
        const ResultRow& row = listing.rows[i];
        std::string entry = AnchorJson(row.anchor);
        entry.insert(entry.size() - 1, ",\"price\":" + JsonString(row.price));
        json += (i == 0 ? "\n" : ",\n") + entry;
    }
    json += "],\n\"paging\":" + JsonString(PagingAddress(listing));
    if (listing.destination->code == kDialogCode && listing.page == kDialogPage)
        json += ",\n\"alert\":" + JsonString("Prices in " + listing.destination->city + " include all taxes.") +
                ",\n\"confirm\":" + JsonString("Show prices for two guests as well?");
    return json + "}";
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // U+2028 and U+2029 (E2 80 A8/A9) end a line in older script engines.
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 || static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::optional<std::string> ModernResultPage(std::string_view code, int page)
{
    const std::optional<ResultListing> listing = ListResultPage(code, page);
    if (!listing) {
        // Where the classic site has its "no hotels" page, so does this one.
        const Destination* d = FindDestination(code);
        if (page == 1 && (d == nullptr || d->hotels.empty()))
            return NoHotelsPage(code, ModernHead());
        return std::nullopt;
    }
    const Destination& d = *listing->destination;

    std::string html = PageHead("Hotels in " + d.city + " - page " + std::to_string(page), ModernHead());
    html += "<header class=\"banner\"><h1>Hotels near " + HtmlEscape(d.city) + " (" + HtmlEscape(d.code) +
            ")</h1>\n<p>Sep 1 to Sep 3, 1 guest. Page " + std::to_string(page) + " of " +
            std::to_string(listing->pageCount) + ".</p></header>\n";
    // The same decoys as the classic page, in the markup: a named anchor
    // without an address, a link to a new window, an unnamed detail link.
    html += "<a name=\"top\"></a>\n";
    html += "<div class=\"results\" id=\"results\"></div>\n";
    html += "<nav class=\"paging\" id=\"paging\"></nav>\n";
    html += "<p><a href=\"map.ctl?view=all\" target=\"_blank\">Map of all hotels</a></p>\n";
    html += "<p><a href=\"hotsdetail.ctl?hotel=unlisted-1\">Sponsored hotel</a></p>\n";
    html += "<noscript><p class=\"warning\">This page needs scripts to show its hotels.</p></noscript>\n";
    html += "<script type=\"application/json\" id=\"data\">" + ResultData(*listing) + "</script>\n";
    html += kResultScript;
    return html + kPageTail;
}

std::optional<std::string> PagingJson(std::string_view code, int page)
{
    const std::optional<ResultListing> listing = ListResultPage(code, page);
    if (!listing)
        return std::nullopt;
    std::string json = "{\"paging\":[";
    for (size_t i = 0; i < listing->paging.size(); ++i)
        json += (i == 0 ? "" : ",") + AnchorJson(listing->paging[i]);
    return json + "]}\n";
}

std::string ModernDetailPage(const Hotel& hotel)
{
    // document.write puts the line where the script stands, inside the
    // hotel_info cell; a reader without scripts gets the cell without it.
    const std::string street = "<script>document.write(" + JsonString(StreetLine(hotel)) + ");</script>";
    return DetailPage(hotel, ModernHead(), street);
}

std::string SessionExpiredPage()
{
    std::string html = PageHead("Session expired", ModernHead());
    html += "<h1>Session expired</h1>\n<p>Your session has expired. Please start a new search.</p>\n";
    return html + kPageTail;
}

std::string SiteCss()
{
    return R"css(body {
  margin: 0;
  min-height: 100vh;
  font-family: "Helvetica Neue", Arial, sans-serif;
  color: #10203a;
  background: linear-gradient(135deg, #0b3d91 0%, #3a7bd5 55%, #e8f0ff 100%);
}
.banner {
  display: flex;
  align-items: baseline;
  justify-content: space-between;
  padding: 16px 24px;
  color: #ffffff;
  background: rgba(0, 0, 0, 0.25);
  text-shadow: 0 2px 4px rgba(0, 0, 0, 0.4);
}
.banner h1 { margin: 0; }
.results {
  display: grid;
  grid-template-columns: repeat(auto-fill, minmax(220px, 1fr));
  gap: 16px;
  padding: 24px;
}
.hotel {
  display: flex;
  flex-direction: column;
  justify-content: space-between;
  min-height: 80px;
  padding: 16px;
  border-radius: 12px;
  background: rgba(255, 255, 255, 0.92);
  box-shadow: 0 4px 12px rgba(0, 0, 0, 0.25);
}
.hotel .price { align-self: flex-end; font-weight: bold; }
table.layout {
  max-width: 900px;
  margin: 24px auto;
  border-radius: 12px;
  background: rgba(255, 255, 255, 0.92);
  box-shadow: 0 4px 12px rgba(0, 0, 0, 0.25);
}
.warning { margin: 24px; padding: 12px; border-radius: 8px; background: #ffe0e0; }
)css";
}

}  // namespace site
