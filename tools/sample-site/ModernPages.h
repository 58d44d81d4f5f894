#pragma once
// The pages of the sample site's modern mode: the same destinations, hotels
// and links as the classic pages (Pages.h), written the way script-heavy
// sites write them, so that only a browser that runs scripts, keeps cookies
// and answers script dialogs gets at them.
//
// - Result pages carry no hotel or paging anchor in their markup. The hotels
//   are JSON in <script type="application/json" id="data">; an inline script
//   turns them into the classic page's anchors on DOMContentLoaded, and
//   150 ms later fetches /paging.json (PagingJson) and adds the paging
//   anchors. Names, addresses, texts and order are those of the classic page.
// - The first result page of adl raises alert() and then confirm() on load.
// - Detail pages have the classic sections and markers, but the street line
//   of hotel_info is written by document.write from a script.
// - Every modern page links /site.css (SiteCss) and has a <style> of its
//   own: grid, flex, gradients, rounded corners, shadows.
//
// Pure functions of their arguments, like the classic pages.

#include "Pages.h"

#include <optional>
#include <string>
#include <string_view>

namespace site {

// Result page `page` of `code` in modern mode; as ResultPage (Pages.h): the
// "no hotels" page for an unknown code or one without hotels, nothing for a
// page number out of range.
std::optional<std::string> ModernResultPage(std::string_view code, int page);

// {"paging":[{"name":..,"href":..,"text":..},...]}: the paging anchors of
// result page `page` of `code`, in page order; nothing when the page does not
// exist or lists no hotels.
std::optional<std::string> PagingJson(std::string_view code, int page);

std::string ModernDetailPage(const Hotel& hotel);

// What pages that need a session answer without one: a page without links
// that asks for a new search.
std::string SessionExpiredPage();

// The site-wide style sheet of modern pages.
std::string SiteCss();

// `text` as a JSON (and JavaScript) string literal, quotes included. Besides
// what JSON needs, <, > and & are written as \uXXXX, so the literal can stand
// inside a <script> element, and so are U+2028 and U+2029.
std::string JsonString(std::string_view text);

}  // namespace site
