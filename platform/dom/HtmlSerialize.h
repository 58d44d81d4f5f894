#pragma once
// The HTML fragment serialization algorithm over gumbo trees: what outerHTML
// and innerHTML report. Text and attribute values are escaped, void elements
// get no end tag, text inside raw-text elements (script, style, ...) is
// written as is, template contents are written inside their template, and
// foreign attributes keep their prefixes ("xlink:href").
//
// The parser runs with scripting disabled, so <noscript> content is markup
// and its text is escaped like any other. Work is iterative: nesting depth is
// bounded by memory, not by the call stack. Output is UTF-8.

#include "platform/dom/ByteRange.h"

#include <gumbo.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace html {

// Appends the serialization of `node` itself: for an element its outerHTML,
// for text its escaped (or raw) text, for a comment "<!--data-->", for the
// document node the serialization of its children.
void SerializeNode(const GumboNode* node, std::string& out);
// Appends the serialization of the children of `node` (innerHTML).
void SerializeChildren(const GumboNode* node, std::string& out);

std::string OuterHtml(const GumboNode* node);
std::string InnerHtml(const GumboNode* node);

// Appends the whole document: "<!DOCTYPE name>" when the document has one,
// then its children. When `elementRanges` is given, one byte range per
// element is appended to it, in document order, for every element
// outside template contents (the same elements, in the same order, as
// Tree::all); each range holds exactly that element's outerHTML.
void SerializeDocument(const GumboNode* document, std::string& out,
                       std::vector<ByteRange>* elementRanges);

// Appends `text` escaped for a text node (attribute == false) or for a
// double-quoted attribute value (attribute == true).
void AppendEscaped(std::string_view text, bool attribute, std::string& out);

}  // namespace html
