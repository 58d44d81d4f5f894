#include "platform/dom/HtmlSerialize.h"

#include "platform/dom/HtmlTree.h"

#include <cstring>

namespace html {

namespace {

// Elements serialized without an end tag and without children.
bool SerializesAsVoid(const GumboNode* n)
{
    if (!IsHtmlElement(n))
        return false;
    switch (n->v.element.tag) {
    case GUMBO_TAG_AREA: case GUMBO_TAG_BASE: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BR: case GUMBO_TAG_COL: case GUMBO_TAG_EMBED: case GUMBO_TAG_FRAME:
    case GUMBO_TAG_HR: case GUMBO_TAG_IMG: case GUMBO_TAG_INPUT: case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_LINK: case GUMBO_TAG_META: case GUMBO_TAG_PARAM: case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK: case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Text whose parent is one of these is written without escaping. noscript
// is not among them: this parser treats its content as markup.
bool IsRawTextParent(const GumboNode* parent)
{
    if (!IsHtmlElement(parent))
        return false;
    switch (parent->v.element.tag) {
    case GUMBO_TAG_STYLE: case GUMBO_TAG_SCRIPT: case GUMBO_TAG_XMP: case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED: case GUMBO_TAG_NOFRAMES: case GUMBO_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

void AppendAttributeName(const GumboAttribute* a, std::string& out)
{
    switch (a->attr_namespace) {
    case GUMBO_ATTR_NAMESPACE_XLINK:
        out += "xlink:";
        break;
    case GUMBO_ATTR_NAMESPACE_XML:
        out += "xml:";
        break;
    case GUMBO_ATTR_NAMESPACE_XMLNS:
        if (std::strcmp(a->name, "xmlns") == 0) {
            out += "xmlns";
            return;
        }
        out += "xmlns:";
        break;
    case GUMBO_ATTR_NAMESPACE_NONE:
        break;
    }
    out += a->name;
}

void AppendStartTag(const GumboNode* n, const std::string& name, std::string& out)
{
    out += '<';
    out += name;
    const GumboVector& attrs = n->v.element.attributes;
    for (unsigned i = 0; i < attrs.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
        out += ' ';
        AppendAttributeName(a, out);
        out += "=\"";
        AppendEscaped(a->value, true, out);
        out += '"';
    }
    out += '>';
}

void AppendLeaf(const GumboNode* n, std::string& out)
{
    switch (n->type) {
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
        if (IsRawTextParent(n->parent))
            out += n->v.text.text;
        else
            AppendEscaped(n->v.text.text, false, out);
        break;
    case GUMBO_NODE_CDATA:
        // CDATA sections only occur in foreign content and read as text.
        AppendEscaped(n->v.text.text, false, out);
        break;
    case GUMBO_NODE_COMMENT:
        out += "<!--";
        out += n->v.text.text;
        out += "-->";
        break;
    default:
        break;
    }
}

using Ranges = std::vector<ByteRange>;
constexpr std::size_t kNoRange = static_cast<std::size_t>(-1);

struct Frame {
    const GumboNode* node;
    unsigned next;          // index of the next child to write
    bool closeTag;          // write this node's end tag when done
    bool record;            // this node's children are outside template contents
    std::size_t rangeIndex; // this element's entry in `ranges`, or kNoRange
    std::string name;
};

// Writes `root` (or only its children) without recursion.
void Serialize(const GumboNode* root, bool childrenOnly, std::string& out, Ranges* ranges)
{
    std::vector<Frame> stack;
    // Opens `n`: writes what precedes its children and pushes a frame when it has any.
    const auto open = [&](const GumboNode* n, bool record) {
        if (n->type == GUMBO_NODE_DOCUMENT) {
            stack.push_back(Frame{n, 0, false, record, kNoRange, {}});
            return;
        }
        if (!IsElement(n)) {
            AppendLeaf(n, out);
            return;
        }
        const bool recorded = record && ranges;
        const std::size_t rangeIndex = recorded ? ranges->size() : kNoRange;
        if (recorded)
            ranges->push_back(ByteRange{out.size(), out.size()});
        std::string name = LocalName(n);
        AppendStartTag(n, name, out);
        if (SerializesAsVoid(n)) {
            if (recorded)
                (*ranges)[rangeIndex].end = out.size();
            return;
        }
        // Template contents are written but are not elements of the tree.
        const bool childRecord = record && n->type != GUMBO_NODE_TEMPLATE;
        stack.push_back(Frame{n, 0, true, childRecord, rangeIndex, std::move(name)});
    };

    if (childrenOnly)
        stack.push_back(Frame{root, 0, false, false, kNoRange, {}});
    else
        open(root, ranges != nullptr);

    while (!stack.empty()) {
        Frame& f = stack.back();
        const GumboVector* kids = Children(f.node);
        if (kids && f.next < kids->length) {
            const auto* child = static_cast<const GumboNode*>(kids->data[f.next++]);
            open(child, f.record);  // may grow the stack: `f` is not used after this
            continue;
        }
        if (f.closeTag) {
            out += "</";
            out += f.name;
            out += '>';
            if (f.rangeIndex != kNoRange)
                (*ranges)[f.rangeIndex].end = out.size();
        }
        stack.pop_back();
    }
}

}  // namespace

// "Escaping a string" (HTML, "Serializing HTML fragments", #escapingString):
// & and no-break space always; " in attribute mode, < and > otherwise.
void AppendEscaped(std::string_view text, bool attribute, std::string& out)
{
    std::size_t runStart = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        const char* replacement = nullptr;
        std::size_t width = 1;
        switch (c) {
        case '&': replacement = "&amp;"; break;
        case '<': replacement = "&lt;"; break;
        case '>': replacement = "&gt;"; break;
        case '"':
            if (attribute)
                replacement = "&quot;";
            break;
        case '\xC2':
            // U+00A0 NO-BREAK SPACE is C2 A0 in UTF-8.
            if (i + 1 < n && text[i + 1] == '\xA0') {
                replacement = "&nbsp;";
                width = 2;
            }
            break;
        default:
            break;
        }
        if (replacement) {
            out.append(text.data() + runStart, i - runStart);
            out += replacement;
            i += width - 1;
            runStart = i + 1;
        }
    }
    out.append(text.data() + runStart, n - runStart);
}

void SerializeNode(const GumboNode* node, std::string& out)
{
    if (node)
        Serialize(node, false, out, nullptr);
}

void SerializeChildren(const GumboNode* node, std::string& out)
{
    if (node)
        Serialize(node, true, out, nullptr);
}

std::string OuterHtml(const GumboNode* node)
{
    std::string out;
    SerializeNode(node, out);
    return out;
}

std::string InnerHtml(const GumboNode* node)
{
    std::string out;
    SerializeChildren(node, out);
    return out;
}

void SerializeDocument(const GumboNode* document, std::string& out, Ranges* elementRanges)
{
    if (!document || document->type != GUMBO_NODE_DOCUMENT)
        return;
    if (document->v.document.has_doctype) {
        out += "<!DOCTYPE ";
        out += document->v.document.name;
        out += '>';
    }
    const GumboVector& kids = document->v.document.children;
    for (unsigned i = 0; i < kids.length; ++i)
        Serialize(static_cast<const GumboNode*>(kids.data[i]), false, out, elementRanges);
}

}  // namespace html
