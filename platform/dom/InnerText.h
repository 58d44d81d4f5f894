#pragma once
// Rendered text of an element, as a browser's innerText reports it, with
// each element's default display standing in for style sheets. Blocks start
// and end lines, p elements leave an empty line around them, table cells are
// separated by a tab and rows by a line break, br breaks the line, white
// space collapses as with white-space:normal except inside pre, listing, xmp,
// plaintext and textarea, and nothing is produced for elements that are not
// rendered (head, script, style, template, [hidden], rp, audio without
// controls, ...) nor for the children of replaced elements (img, iframe,
// video, canvas, object, ...).
//
// Work is iterative and proportional to the element's subtree (plus its
// ancestors and, for inline elements, the neighbouring inline content that
// decides whether its outer spaces survive). Output is UTF-8.

#include <gumbo.h>

#include <optional>
#include <string>

namespace html {

// innerText of `element`. An element that is not rendered (display none, or
// inside a replaced element, a closed <details> or an unrendered ancestor)
// gives its text content, as browsers do. No value for elements
// outside the HTML namespace (SVG, MathML), where innerText does not exist.
std::optional<std::string> InnerText(const GumboNode* element);

// Concatenated text of every text descendant of `node` (the DOM's
// textContent), template contents excluded.
std::string TextContent(const GumboNode* node);

}  // namespace html
