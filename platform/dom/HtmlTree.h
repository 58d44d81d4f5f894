#pragma once
// A parsed HTML document: gumbo's output plus the element lists the document
// interfaces hand out by position.
//
// A Tree is immutable once built and is shared (std::shared_ptr) by its
// document and by every element or collection object taken from it, so
// element objects stay valid after the document loads other content.
// GumboNode pointers obtained from a Tree live exactly as long as the Tree.
// Destroying a Tree takes time proportional to its memory, not its depth:
// nothing is freed node by node.
// Not thread-safe: the lazily built serialization cache is filled on first use.

#include "platform/dom/ByteRange.h"

#include <gumbo.h>

#include <QString>
#include <QUrl>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace html {

struct Tree {
    // Parses `utf8` as a whole document. `address` is the document's own
    // address; `base` becomes the first <base href> resolved against it, or
    // `address` itself.
    // Markup beyond the nesting and attribute caps of HtmlLimits.h is
    // removed first, so parse time and memory stay linear in the input
    // whatever its markup. Safe to call on any thread: it touches no shared
    // state.
    static std::shared_ptr<Tree> Parse(std::string_view utf8, const QUrl& address);
    static std::shared_ptr<Tree> Parse(const QString& html, const QUrl& address);
    // The same parse without the caps, for tests and benchmarks that compare
    // against it. Hostile markup makes it quadratic.
    static std::shared_ptr<Tree> ParseWithoutLimits(std::string_view utf8, const QUrl& address);
    // A tree with no nodes at all (a document nothing was loaded into).
    static std::shared_ptr<Tree> Empty();

    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // The document node; null for an empty tree.
    GumboNode* document() const { return output_ ? output_->document : nullptr; }

    // Bytes of memory the parser's output and its working data took (the
    // arena's blocks), whether or not the parser still uses them.
    std::size_t parseMemory() const;
    // True when the caps removed something from the markup before parsing.
    bool limited() const { return limited_; }

    QUrl address;
    QUrl base;
    // Every element in document order. Template contents are left out: they
    // are not part of the document's element tree.
    std::vector<GumboNode*> all;
    // HTML A elements carrying a name or an id attribute, in document order.
    std::vector<GumboNode*> anchors;

    // The whole document serialized as UTF-8, built on first use and kept.
    const std::string& Serialized() const;
    // Where all[i]'s serialization lies inside Serialized().
    const std::vector<ByteRange>& Extents() const;

    class Arena;

private:
    Tree();
    static std::shared_ptr<Tree> ParseSource(std::string source, const QUrl& address, bool limited);
    void Index();
    void BuildSerialization() const;

    // The parsed text: gumbo's tag-name pieces point into it.
    std::string source_;
    // Every allocation of the parse; the output lives in it.
    std::unique_ptr<Arena> arena_;
    GumboOutput* output_ = nullptr;
    bool limited_ = false;
    mutable bool serializedBuilt_ = false;
    mutable std::string serialized_;
    mutable std::vector<ByteRange> extents_;
};

// --- Node helpers shared by the serializer, innerText and the elements. ---

inline bool IsElement(const GumboNode* n)
{
    return n && (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE);
}
inline bool IsText(const GumboNode* n)
{
    return n && (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE || n->type == GUMBO_NODE_CDATA);
}
// True for an HTML-namespace element with tag `tag`.
inline bool IsHtml(const GumboNode* n, GumboTag tag)
{
    return IsElement(n) && n->v.element.tag == tag && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}
inline bool IsHtmlElement(const GumboNode* n)
{
    return IsElement(n) && n->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}
// Children of a document or element node (template contents for a template);
// null for other nodes.
const GumboVector* Children(const GumboNode* n);
// The value of attribute `name` (no namespace), or null when it is absent.
const char* Attribute(const GumboNode* element, const char* name);
// The element's local name as the DOM reports it: lower case for HTML and
// unknown tags, with SVG's mixed-case names restored ("foreignObject").
std::string LocalName(const GumboNode* element);

// `value` (an href or src attribute) resolved against `base`, the way a
// browser reports it: absolute and percent-encoded, with a query string kept
// as written apart from percent-encoding the characters a URL may not hold.
// When `value` is not a valid address it comes back unchanged.
QString ResolveAddress(const QUrl& base, const QString& value);

}  // namespace html
