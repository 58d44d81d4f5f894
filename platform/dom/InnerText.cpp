#include "platform/dom/InnerText.h"

#include "platform/dom/HtmlTree.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

// Where this departs from a browser: no style sheet is read, so style
// attributes, classes and ::before/::first-line content have no effect and
// every element keeps its default display; text-transform and visibility are
// never applied; form controls (input, select, textarea) and meter/progress
// give no text, as replaced elements; <noscript> content is rendered because
// the parser runs with scripting disabled; canvas never shows its fallback
// content; CSS table fix-ups (anonymous rows around stray cells, moving a
// tfoot or caption to its visual place) are not made, so text follows
// document order; segment breaks always become spaces, with no special rule
// for East Asian scripts or zero-width spaces; and inside SVG only text in a
// <text> element is rendered, without SVG's own layout rules (<defs> etc.).

namespace html {

namespace {

enum class Box {
    None,          // not rendered, nor anything inside
    Inline,        // flows in the surrounding line
    Block,         // block-level: one required line break before and after
    Paragraph,     // p: two required line breaks before and after
    Caption,       // table caption: one required line break
    RowGroup,      // thead, tbody, tfoot
    Row,           // tr: a line break after every row but the table's last
    Cell,          // td, th: a tab after every cell but the row's last
    Column,        // col, colgroup: nothing inside is rendered
    InlineBlock,   // atomic in its line, with its own lines inside (button)
    Replaced,      // atomic in its line, children not rendered (img, iframe)
    Break,         // br
    SvgRoot,       // outermost svg: atomic; text renders only inside <text>
    SvgText,       // svg <text>
    ForeignObject, // svg <foreignObject>: HTML content again
};

bool HasAttribute(const GumboNode* e, const char* name) { return Attribute(e, name) != nullptr; }

bool EqualsIgnoreCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return *a == *b;
}

Box HtmlBox(const GumboNode* e)
{
    if (HasAttribute(e, "hidden"))
        return Box::None;
    switch (e->v.element.tag) {
    case GUMBO_TAG_AREA: case GUMBO_TAG_BASE: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_DATALIST:
    case GUMBO_TAG_HEAD: case GUMBO_TAG_LINK: case GUMBO_TAG_META: case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES: case GUMBO_TAG_PARAM: case GUMBO_TAG_RP: case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE: case GUMBO_TAG_TEMPLATE: case GUMBO_TAG_TITLE: case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK: case GUMBO_TAG_BGSOUND:
        return Box::None;
    case GUMBO_TAG_HTML: case GUMBO_TAG_BODY: case GUMBO_TAG_ADDRESS: case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_CENTER: case GUMBO_TAG_DIV: case GUMBO_TAG_FIGURE: case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FOOTER: case GUMBO_TAG_FORM: case GUMBO_TAG_HEADER: case GUMBO_TAG_HR:
    case GUMBO_TAG_LEGEND: case GUMBO_TAG_LISTING: case GUMBO_TAG_MAIN: case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_PRE: case GUMBO_TAG_XMP: case GUMBO_TAG_DIR: case GUMBO_TAG_DD: case GUMBO_TAG_DL:
    case GUMBO_TAG_DT: case GUMBO_TAG_MENU: case GUMBO_TAG_OL: case GUMBO_TAG_UL: case GUMBO_TAG_LI:
    case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE: case GUMBO_TAG_H1: case GUMBO_TAG_H2:
    case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_NAV: case GUMBO_TAG_SECTION: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_SUMMARY: case GUMBO_TAG_OPTGROUP: case GUMBO_TAG_OPTION: case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_TABLE: case GUMBO_TAG_MULTICOL:
        return Box::Block;
    case GUMBO_TAG_P:
        return Box::Paragraph;
    case GUMBO_TAG_CAPTION:
        return Box::Caption;
    case GUMBO_TAG_THEAD: case GUMBO_TAG_TBODY: case GUMBO_TAG_TFOOT:
        return Box::RowGroup;
    case GUMBO_TAG_TR:
        return Box::Row;
    case GUMBO_TAG_TD: case GUMBO_TAG_TH:
        return Box::Cell;
    case GUMBO_TAG_COL: case GUMBO_TAG_COLGROUP:
        return Box::Column;
    case GUMBO_TAG_BUTTON: case GUMBO_TAG_MARQUEE:
        return Box::InlineBlock;
    case GUMBO_TAG_IMG: case GUMBO_TAG_IMAGE: case GUMBO_TAG_IFRAME: case GUMBO_TAG_VIDEO:
    case GUMBO_TAG_CANVAS: case GUMBO_TAG_OBJECT: case GUMBO_TAG_APPLET: case GUMBO_TAG_FRAME:
    case GUMBO_TAG_SELECT: case GUMBO_TAG_TEXTAREA: case GUMBO_TAG_METER: case GUMBO_TAG_PROGRESS:
    case GUMBO_TAG_KEYGEN: case GUMBO_TAG_EMBED:
        return Box::Replaced;
    case GUMBO_TAG_INPUT: {
        const char* type = Attribute(e, "type");
        return type && EqualsIgnoreCase(type, "hidden") ? Box::None : Box::Replaced;
    }
    case GUMBO_TAG_AUDIO:
        return HasAttribute(e, "controls") ? Box::Replaced : Box::None;
    case GUMBO_TAG_BR:
        return Box::Break;
    case GUMBO_TAG_UNKNOWN: {
        const std::string name = LocalName(e);
        if (name == "dialog")
            return HasAttribute(e, "open") ? Box::Block : Box::None;
        if (name == "search")
            return Box::Block;
        return Box::Inline;  // slot and the other unknown names
    }
    default:
        return Box::Inline;
    }
}

Box BoxOf(const GumboNode* e)
{
    switch (e->v.element.tag_namespace) {
    case GUMBO_NAMESPACE_HTML:
        return HtmlBox(e);
    case GUMBO_NAMESPACE_SVG: {
        if (e->v.element.tag == GUMBO_TAG_SVG && !(e->parent && IsElement(e->parent) &&
                                                   e->parent->v.element.tag_namespace == GUMBO_NAMESPACE_SVG))
            return Box::SvgRoot;
        if (e->v.element.tag == GUMBO_TAG_FOREIGNOBJECT)
            return Box::ForeignObject;
        if (e->v.element.tag == GUMBO_TAG_UNKNOWN && LocalName(e) == "text")
            return Box::SvgText;
        return Box::Inline;
    }
    default:
        return Box::Inline;  // MathML lays its text out inline
    }
}

// Elements whose content keeps its white space (white-space: pre / pre-wrap).
bool PreservesWhiteSpace(const GumboNode* e)
{
    if (!IsHtmlElement(e))
        return false;
    switch (e->v.element.tag) {
    case GUMBO_TAG_PRE: case GUMBO_TAG_LISTING: case GUMBO_TAG_XMP: case GUMBO_TAG_PLAINTEXT:
    case GUMBO_TAG_TEXTAREA:
        return true;
    default:
        return false;
    }
}

bool IsCollapsible(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view TextOf(const GumboNode* n) { return n->v.text.text; }

const GumboNode* ChildAt(const GumboNode* n, unsigned i)
{
    return static_cast<const GumboNode*>(Children(n)->data[i]);
}

// The first summary child of a closed <details> (the only child it renders),
// via `restricted`; an open details renders everything.
const GumboNode* ClosedDetailsSummary(const GumboNode* e, bool& restricted)
{
    restricted = false;
    if (!IsHtml(e, GUMBO_TAG_DETAILS) || HasAttribute(e, "open"))
        return nullptr;
    restricted = true;
    const GumboVector* kids = Children(e);
    for (unsigned i = 0; i < kids->length; ++i) {
        const auto* c = static_cast<const GumboNode*>(kids->data[i]);
        if (IsHtml(c, GUMBO_TAG_SUMMARY))
            return c;
    }
    return nullptr;
}

bool IsRenderedCell(const GumboNode* n)
{
    return (IsHtml(n, GUMBO_TAG_TD) || IsHtml(n, GUMBO_TAG_TH)) && BoxOf(n) != Box::None;
}
bool IsRenderedRow(const GumboNode* n) { return IsHtml(n, GUMBO_TAG_TR) && BoxOf(n) != Box::None; }

bool IsLastCell(const GumboNode* cell)
{
    const GumboVector* kids = Children(cell->parent);
    if (!kids)
        return true;
    for (unsigned i = cell->index_within_parent + 1; i < kids->length; ++i)
        if (IsRenderedCell(static_cast<const GumboNode*>(kids->data[i])))
            return false;
    return true;
}

bool IsLastRow(const GumboNode* row)
{
    const GumboNode* parent = row->parent;
    const GumboVector* kids = Children(parent);
    if (!kids)
        return true;
    for (unsigned i = row->index_within_parent + 1; i < kids->length; ++i)
        if (IsRenderedRow(static_cast<const GumboNode*>(kids->data[i])))
            return false;
    if (!IsElement(parent) || BoxOf(parent) != Box::RowGroup || !parent->parent)
        return true;
    // Rows of the later row groups of the same table.
    const GumboVector* groups = Children(parent->parent);
    for (unsigned i = parent->index_within_parent + 1; i < groups->length; ++i) {
        const auto* g = static_cast<const GumboNode*>(groups->data[i]);
        if (IsRenderedRow(g))
            return false;
        if (IsElement(g) && g->v.element.tag_namespace == GUMBO_NAMESPACE_HTML && BoxOf(g) == Box::RowGroup) {
            const GumboVector* rows = Children(g);
            for (unsigned j = 0; j < rows->length; ++j)
                if (IsRenderedRow(static_cast<const GumboNode*>(rows->data[j])))
                    return false;
        }
    }
    return true;
}

// Builds the result: strings, with required line breaks held back until text
// follows (so runs merge to their largest count and vanish at either end),
// and white space collapsed across element boundaries within a line. The
// held-back counts resolve the way browsers resolve them: empty strings and
// counts at either end go, and each run becomes its largest count.
class Collector {
public:
    explicit Collector(bool suppressLeadingSpace) : suppress_(suppressLeadingSpace) {}

    void Emit(std::string_view s)
    {
        if (s.empty())
            return;
        if (pendingBreaks_ > 0) {
            if (!out_.empty())
                out_.append(static_cast<std::size_t>(pendingBreaks_), '\n');
            pendingBreaks_ = 0;
        }
        out_.append(s.data(), s.size());
    }
    void RequireBreaks(int count) { pendingBreaks_ = std::max(pendingBreaks_, count); }
    // A line ends or starts here: a space waiting for more text on the line
    // is dropped, and white space right after is too.
    void LineEdge()
    {
        pendingSpace_ = false;
        suppress_ = true;
    }
    // An atomic inline box (image, button): a space before it is kept.
    void Atomic()
    {
        FlushSpace();
        suppress_ = false;
    }
    void CollapsedText(std::string_view text)
    {
        std::size_t i = 0;
        const std::size_t n = text.size();
        while (i < n) {
            if (IsCollapsible(text[i])) {
                if (!suppress_) {
                    pendingSpace_ = true;
                    suppress_ = true;
                }
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < n && !IsCollapsible(text[j]))
                ++j;
            FlushSpace();
            Emit(text.substr(i, j - i));
            suppress_ = false;
            i = j;
        }
    }
    void PreservedText(std::string_view text)
    {
        if (text.empty())
            return;
        FlushSpace();
        Emit(text);
        suppress_ = text.back() == '\n';
    }
    bool HasPendingSpace() const { return pendingSpace_; }
    void FlushSpace()
    {
        if (pendingSpace_) {
            pendingSpace_ = false;
            Emit(" ");
        }
    }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
    int pendingBreaks_ = 0;
    bool pendingSpace_ = false;
    bool suppress_;
};

enum class Edge { LineStart, Space, Content, Skip };

Edge TextEdge(std::string_view text, bool preserve, bool backward)
{
    if (text.empty())
        return Edge::Skip;
    if (preserve) {
        const char c = backward ? text.back() : text.front();
        return c == '\n' ? Edge::LineStart : Edge::Content;
    }
    if (backward)
        return IsCollapsible(text.back()) ? Edge::Space : Edge::Content;
    for (const char c : text)
        if (!IsCollapsible(c))
            return Edge::Content;
    return Edge::Skip;  // collapses into the space before it
}

// What lies next to the inline element `target` on its line, looking
// backwards (before it) or forwards (after it), within its block.
Edge Neighbour(const GumboNode* target, bool preserve, bool backward)
{
    const GumboNode* cur = target;
    for (;;) {
        const GumboNode* parent = cur->parent;
        const GumboVector* siblings = Children(parent);
        const unsigned idx = cur->index_within_parent;
        const bool hasSibling = siblings && (backward ? idx > 0 : idx + 1 < siblings->length);
        if (!hasSibling) {
            if (!IsElement(parent) || BoxOf(parent) != Box::Inline)
                return Edge::LineStart;
            cur = parent;
            continue;
        }
        cur = ChildAt(parent, backward ? idx - 1 : idx + 1);
        // Look into `cur`, descending through inline elements to the edge nearest the target.
        for (;;) {
            if (IsText(cur)) {
                const Edge e = TextEdge(TextOf(cur), preserve, backward);
                if (e != Edge::Skip)
                    return e;
                break;
            }
            if (!IsElement(cur))
                break;
            switch (BoxOf(cur)) {
            case Box::None:
            case Box::Column:
                break;
            case Box::Replaced:
            case Box::InlineBlock:
            case Box::SvgRoot:
                return Edge::Content;
            case Box::Inline:
            case Box::SvgText: {
                const GumboVector* kids = Children(cur);
                if (cur->type == GUMBO_NODE_TEMPLATE || kids->length == 0)
                    break;
                cur = ChildAt(cur, backward ? kids->length - 1 : 0);
                continue;
            }
            default:
                return Edge::LineStart;
            }
            break;
        }
    }
}

struct Frame {
    const GumboNode* node;
    unsigned next;
    Box box;
    bool preserve;
    int svg;  // 0: HTML flow; 1: inside svg, text not rendered; 2: inside svg <text>
    bool restricted;
    const GumboNode* onlyChild;
};

bool IsTableStructure(Box b) { return b == Box::RowGroup || b == Box::Row; }

// The edge of a box that starts and ends lines (blocks, paragraphs, captions
// and the table's parts), on the way in and on the way out: the line ends,
// and blocks and captions require one line break, paragraphs two.
void BreakLine(Box b, Collector& c)
{
    c.LineEdge();
    if (b == Box::Paragraph)
        c.RequireBreaks(2);
    else if (b == Box::Block || b == Box::Caption)
        c.RequireBreaks(1);
}

void Leave(const Frame& f, Collector& c)
{
    switch (f.box) {
    case Box::Block:
    case Box::Caption:
    case Box::Paragraph:
    case Box::RowGroup:
        BreakLine(f.box, c);
        break;
    case Box::Row:
        BreakLine(f.box, c);
        if (!IsLastRow(f.node))
            c.Emit("\n");
        break;
    case Box::Cell:
        BreakLine(f.box, c);
        if (!IsLastCell(f.node))
            c.Emit("\t");
        break;
    case Box::InlineBlock:
    case Box::ForeignObject:
    case Box::SvgRoot:
        c.LineEdge();
        c.Atomic();
        break;
    default:
        break;
    }
}

}  // namespace

std::string TextContent(const GumboNode* node)
{
    std::string out;
    if (!node || node->type == GUMBO_NODE_TEMPLATE)
        return out;
    if (IsText(node))
        return std::string(TextOf(node));
    std::vector<std::pair<const GumboNode*, unsigned>> stack;
    if (Children(node))
        stack.emplace_back(node, 0);
    while (!stack.empty()) {
        auto& [n, next] = stack.back();
        const GumboVector* kids = Children(n);
        if (next >= kids->length) {
            stack.pop_back();
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(kids->data[next++]);
        if (IsText(child))
            out += TextOf(child);
        else if (IsElement(child) && child->type != GUMBO_NODE_TEMPLATE)
            stack.emplace_back(child, 0);
    }
    return out;
}

// An element that is not rendered gives its text content; otherwise its
// children's rendered text is collected, and the Collector resolves the
// required line breaks.
std::optional<std::string> InnerText(const GumboNode* element)
{
    if (!IsElement(element))
        return std::nullopt;
    if (element->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return std::nullopt;

    // Not being rendered: the element or an ancestor has no box, or an
    // ancestor does not render its children.
    const Box box = BoxOf(element);
    bool rendered = box != Box::None;
    bool preserve = PreservesWhiteSpace(element);
    for (const GumboNode* child = element, *a = element->parent; rendered && IsElement(a); child = a, a = a->parent) {
        const Box ab = BoxOf(a);
        if (ab == Box::None || ab == Box::Replaced || ab == Box::Column)
            rendered = false;
        else if (a->v.element.tag_namespace == GUMBO_NAMESPACE_SVG && ab != Box::ForeignObject)
            rendered = false;  // HTML directly inside SVG has no box
        else if (a->type == GUMBO_NODE_TEMPLATE)
            rendered = false;
        bool restricted = false;
        const GumboNode* summary = ClosedDetailsSummary(a, restricted);
        if (restricted && child != summary)
            rendered = false;
        preserve = preserve || PreservesWhiteSpace(a);
        if (ab == Box::ForeignObject)
            break;  // the svg above decides nothing for HTML content inside
    }
    if (!rendered)
        return TextContent(element);
    if (box == Box::Replaced || box == Box::Column || box == Box::Break)
        return std::string();

    // An inline element shares its lines with its neighbours: they decide
    // whether white space at its edges collapses away. (Inline elements never
    // change white-space handling, so their neighbours' text is read in the
    // same mode as their own.)
    const bool inlineTarget = box == Box::Inline;
    const bool suppressLeading = !inlineTarget || Neighbour(element, preserve, true) != Edge::Content;
    Collector c(suppressLeading);

    std::vector<Frame> stack;
    {
        bool restricted = false;
        const GumboNode* only = ClosedDetailsSummary(element, restricted);
        stack.push_back(Frame{element, 0, Box::Inline, preserve, 0, restricted, only});
    }
    while (!stack.empty()) {
        Frame& f = stack.back();
        const GumboVector* kids = Children(f.node);
        if (f.next >= kids->length) {
            const Frame done = f;
            stack.pop_back();
            if (!stack.empty())
                Leave(done, c);
            continue;
        }
        const GumboNode* child = static_cast<const GumboNode*>(kids->data[f.next++]);
        if (f.restricted && child != f.onlyChild)
            continue;
        if (IsText(child)) {
            if (f.svg == 1)
                continue;
            const std::string_view text = TextOf(child);
            if (f.preserve) {
                // White space between table parts has no box.
                if (IsTableStructure(f.box) || IsHtml(f.node, GUMBO_TAG_TABLE)) {
                    if (std::all_of(text.begin(), text.end(), IsCollapsible))
                        continue;
                }
                c.PreservedText(text);
            } else {
                c.CollapsedText(text);
            }
            continue;
        }
        if (!IsElement(child))
            continue;
        const Box cb = BoxOf(child);
        int svg = f.svg;
        switch (cb) {
        case Box::None:
        case Box::Column:
            continue;
        case Box::Break:
            c.LineEdge();
            c.Emit("\n");
            continue;
        case Box::Replaced:
            c.Atomic();
            continue;
        case Box::Block:
        case Box::Caption:
        case Box::Paragraph:
        case Box::RowGroup:
        case Box::Row:
        case Box::Cell:
            BreakLine(cb, c);
            break;
        case Box::SvgRoot:
            c.FlushSpace();
            c.LineEdge();
            svg = 1;
            break;
        case Box::InlineBlock:
        case Box::ForeignObject:
            c.FlushSpace();
            c.LineEdge();
            if (cb == Box::ForeignObject)
                svg = 0;
            break;
        case Box::SvgText:
            svg = 2;
            break;
        case Box::Inline:
            break;
        }
        if (child->type == GUMBO_NODE_TEMPLATE)
            continue;
        bool restricted = false;
        const GumboNode* only = ClosedDetailsSummary(child, restricted);
        stack.push_back(Frame{child, 0, cb, f.preserve || PreservesWhiteSpace(child), svg, restricted, only});
    }
    if (inlineTarget && c.HasPendingSpace() && Neighbour(element, preserve, false) == Edge::Content)
        c.FlushSpace();
    return c.Take();
}

}  // namespace html
