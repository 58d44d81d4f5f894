#pragma once
// Caps on nesting depth and attributes, applied to markup before the HTML
// parser sees it.
//
// Why before the parse: the parser's tree builder scans its stack of open
// elements for every tag (scope checks), checks every new attribute against
// all earlier ones of the same tag, and compares every new formatting element
// (b, font, a, ...) with the pending ones attribute by attribute. Each scan
// is cheap on real pages, which nest a few dozen elements deep and carry a
// handful of attributes, but a hostile page of nothing but "<div>" or of one
// tag with 40,000 attributes makes the parse quadratic in its size. The
// parser has no option to bound any of this, so a single linear pass over
// the UTF-8 input removes the markup beyond the caps first:
//
// - attributes past the per-tag cap are dropped from their start tag;
// - once the approximate tree under construction is at the depth cap, further
//   start tags are dropped (their text content stays), and so are the end
//   tags that would have closed them;
// - a CDATA section right inside an svg or math element that holds HTML
//   (foreignObject, desc, mi, ...) is dropped: inside a table the parser
//   aborts the whole program on it.
//
// The pass follows the tokenizer closely (comments, doctype, CDATA in
// foreign content, raw-text and RCDATA elements, quoted attribute values
// holding '>') and models the tree builder loosely: void elements, implied
// end tags (p, li, dt, dd, option, the table cells, rows and sections with
// their implied tbody and tr), scope boundaries, foreign content, and the
// list of pending formatting elements that the tree builder re-opens after a
// misnested close. Where the model is unsure it keeps elements open, so its
// depth is an upper bound of the parser's up to a small constant factor
// (implied elements it does not count). A page within the caps comes out
// byte for byte unchanged.
//
// Pure functions of their arguments; safe to call on any thread.

#include <cstddef>
#include <string>
#include <string_view>

namespace html {

// Open elements allowed at once, html, head and body not counted. Real pages
// stay well below a hundred; 512 leaves generous room for generated layouts
// of nested tables (each level counts table, tbody, tr and td) and bounds
// every scope check of the parser to a few hundred steps.
inline constexpr int kMaxNestingDepth = 512;

// Attributes kept on one start tag (the first ones written). No real element
// carries more than a few dozen; at 256 the parser's duplicate check costs at
// most 256 steps per attribute.
inline constexpr int kMaxAttributesPerTag = 256;

// Attributes summed over the pending formatting elements (b, i, font, a, ...)
// since the last table cell, caption, object or template. The parser compares
// each new formatting element attribute by attribute with the pending ones of
// its tag; this budget bounds that comparison per element, whatever mix of
// attributes and nesting the page uses. Real pages keep a handful pending.
inline constexpr int kMaxFormattingAttributes = 1024;

// Formatting elements the parser re-opens after a misnested close are copies
// with all their attributes. Each input byte earns one unit of credit, on top
// of this allowance; re-opening an element costs one unit plus one per
// attribute. A close that would leave more pending than the credit covers is
// dropped, so the copies, and the memory they take, stay linear in the input.
inline constexpr std::size_t kReopenAllowance = 4096;

struct Limits {
    int maxDepth = kMaxNestingDepth;
    int maxAttributes = kMaxAttributesPerTag;
    int maxFormattingAttributes = kMaxFormattingAttributes;
    std::size_t reopenAllowance = kReopenAllowance;
};

// What a limiting pass removed.
struct LimitReport {
    std::size_t droppedStartTags = 0;
    std::size_t droppedEndTags = 0;
    std::size_t droppedAttributes = 0;
    // CDATA sections right inside an svg or math element that holds HTML
    // (the parser aborts on some of them).
    std::size_t droppedSections = 0;
    // Deepest the model got (before anything was dropped at the cap).
    int deepest = 0;

    bool changed() const { return droppedStartTags || droppedEndTags || droppedAttributes || droppedSections; }
};

// Applies `limits` to `utf8`. When something had to be removed, the limited
// markup is stored in `out` and true is returned; otherwise `out` is left
// untouched and false is returned (the input is fine as it is). `report`,
// when given, is filled in either case. Linear in the input size for fixed
// limits (every step of the model is bounded by maxDepth).
bool LimitMarkup(std::string_view utf8, std::string& out, LimitReport* report = nullptr,
                 const Limits& limits = Limits{});

// The limited markup itself (a copy of `utf8` when nothing was removed).
std::string LimitedMarkup(std::string_view utf8, LimitReport* report = nullptr, const Limits& limits = Limits{});

}  // namespace html
