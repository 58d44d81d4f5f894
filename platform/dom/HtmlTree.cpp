#include "platform/dom/HtmlTree.h"

#include "platform/base/Report.h"
#include "platform/dom/HtmlSerialize.h"
#include "platform/htmllimit/HtmlLimits.h"

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <mutex>

namespace html {

namespace {

// The system's gumbo is built with its internal assertions on, and a few
// short, malformed inputs trip one: the library then calls abort() and would
// take the whole crawler, with its pending work, down with one page. While a
// parse runs, an abort on its own thread jumps back out of the library
// instead; everything the parse allocated lives in the tree's arena, which is
// dropped whole, and the library keeps no state between parses. An abort
// anywhere else goes to the disposition that was in place before.
thread_local sigjmp_buf* tParseEscape = nullptr;
struct sigaction gAbortBefore;

extern "C" void OnAbortDuringParse(int)
{
    if (sigjmp_buf* escape = tParseEscape) {
        tParseEscape = nullptr;
        siglongjmp(*escape, 1);
    }
    ::sigaction(SIGABRT, &gAbortBefore, nullptr);
    ::raise(SIGABRT);
}

void InstallAbortEscape()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = OnAbortDuringParse;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_NODEFER;
        ::sigaction(SIGABRT, &action, &gAbortBefore);
    });
}

// gumbo_parse_with_options, or null when the library gave up on the input.
GumboOutput* GuardedParse(const GumboOptions& options, const char* data, std::size_t size)
{
    InstallAbortEscape();
    sigjmp_buf escape;
    if (sigsetjmp(escape, 1) != 0)
        return nullptr;
    tParseEscape = &escape;
    GumboOutput* output = gumbo_parse_with_options(&options, data, size);
    tParseEscape = nullptr;
    return output;
}

}  // namespace

std::shared_ptr<Tree> Tree::Parse(const QString& html, const QUrl& address)
{
    const QByteArray utf8 = html.toUtf8();
    return Parse(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), address);
}

// The parser's allocator. Gumbo frees its output node by node, recursing
// into children, so a deep enough page overflows the call stack while the
// tree is destroyed. Every allocation of a parse comes from this arena
// instead, and the arena is dropped whole with the Tree: destruction neither
// recurses nor walks the nodes. Gumbo never reallocates in place (it
// allocates, copies and frees), so ignoring its frees costs at most the
// working copies of a parse, which stay proportional to the input; the
// bytes held are counted for the memory figures of tests and benchmarks.
class Tree::Arena {
public:
    static void* Allocate(void* self, std::size_t size) { return static_cast<Arena*>(self)->Take(size); }
    static void Free(void*, void*) {}

    std::size_t held() const { return held_; }

private:
    static constexpr std::size_t kAlign = alignof(std::max_align_t);
    static constexpr std::size_t kFirstBlock = 16 * 1024;
    static constexpr std::size_t kLargestBlock = 1024 * 1024;

    void* Take(std::size_t size)
    {
        size = (std::max<std::size_t>(size, 1) + kAlign - 1) & ~(kAlign - 1);
        if (size > left_) {
            // Blocks double up to 1 MiB; a request too big for that gets a
            // block of its own and the current block stays in use.
            if (size > kLargestBlock / 4)
                return NewBlock(size);
            nextBlock_ = std::min(nextBlock_ * 2, kLargestBlock);
            next_ = static_cast<char*>(NewBlock(nextBlock_));
            left_ = nextBlock_;
        }
        void* p = next_;
        next_ += size;
        left_ -= size;
        return p;
    }
    void* NewBlock(std::size_t size)
    {
        blocks_.emplace_back(new char[size]);
        held_ += size;
        return blocks_.back().get();
    }

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t nextBlock_ = kFirstBlock / 2;
    std::size_t held_ = 0;
};

Tree::Tree() = default;
Tree::~Tree() = default;

std::size_t Tree::parseMemory() const
{
    return arena_ ? arena_->held() : 0;
}

std::shared_ptr<Tree> Tree::Parse(std::string_view utf8, const QUrl& address)
{
    std::string limited;
    if (LimitMarkup(utf8, limited))
        return ParseSource(std::move(limited), address, true);
    return ParseSource(std::string(utf8), address, false);
}

std::shared_ptr<Tree> Tree::ParseWithoutLimits(std::string_view utf8, const QUrl& address)
{
    return ParseSource(std::string(utf8), address, false);
}

std::shared_ptr<Tree> Tree::ParseSource(std::string source, const QUrl& address, bool limited)
{
    std::shared_ptr<Tree> tree(new Tree);
    tree->source_ = std::move(source);
    tree->limited_ = limited;
    tree->arena_ = std::make_unique<Arena>();
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &Arena::Allocate;
    options.deallocator = &Arena::Free;
    options.userdata = tree->arena_.get();
    // Gumbo keeps a copy of the open-element stack for every parse error;
    // on badly nested pages that costs memory quadratic in the depth. The
    // errors are never read, and the tree does not depend on them.
    options.max_errors = 0;
    tree->output_ = GuardedParse(options, tree->source_.data(), tree->source_.size());
    if (!tree->output_)
        platform::Report(QStringLiteral("the HTML parser gave up on a page; it is read as empty: %1").arg(address.toString()));
    tree->address = address;
    tree->base = address;
    tree->Index();
    return tree;
}

std::shared_ptr<Tree> Tree::Empty()
{
    return std::shared_ptr<Tree>(new Tree);
}

void Tree::Index()
{
    GumboNode* root = document();
    if (!root)
        return;
    // Iterative pre-order walk: pages can nest deeper than the call stack allows.
    std::vector<GumboNode*> stack;
    const GumboVector& top = root->v.document.children;
    for (unsigned i = top.length; i-- > 0;)
        stack.push_back(static_cast<GumboNode*>(top.data[i]));
    bool baseFound = false;
    while (!stack.empty()) {
        GumboNode* n = stack.back();
        stack.pop_back();
        if (!IsElement(n))
            continue;
        all.push_back(n);
        if (IsHtml(n, GUMBO_TAG_A) && (Attribute(n, "name") || Attribute(n, "id")))
            anchors.push_back(n);
        if (!baseFound && IsHtml(n, GUMBO_TAG_BASE)) {
            if (const char* href = Attribute(n, "href")) {
                baseFound = true;
                const QUrl resolved(ResolveAddress(address, QString::fromUtf8(href)));
                if (resolved.isValid() && !resolved.isRelative())
                    base = resolved;
            }
        }
        // Template contents form a separate fragment, not part of the tree.
        if (n->type == GUMBO_NODE_TEMPLATE)
            continue;
        const GumboVector& kids = n->v.element.children;
        for (unsigned i = kids.length; i-- > 0;)
            stack.push_back(static_cast<GumboNode*>(kids.data[i]));
    }
}

const std::string& Tree::Serialized() const
{
    BuildSerialization();
    return serialized_;
}

const std::vector<ByteRange>& Tree::Extents() const
{
    BuildSerialization();
    return extents_;
}

void Tree::BuildSerialization() const
{
    if (serializedBuilt_)
        return;
    serializedBuilt_ = true;
    if (const GumboNode* root = document()) {
        extents_.reserve(all.size());
        SerializeDocument(root, serialized_, &extents_);
    }
}

const GumboVector* Children(const GumboNode* n)
{
    if (!n)
        return nullptr;
    if (n->type == GUMBO_NODE_DOCUMENT)
        return &n->v.document.children;
    if (IsElement(n))
        return &n->v.element.children;
    return nullptr;
}

const char* Attribute(const GumboNode* element, const char* name)
{
    if (!IsElement(element))
        return nullptr;
    const GumboVector& attrs = element->v.element.attributes;
    for (unsigned i = 0; i < attrs.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(attrs.data[i]);
        if (a->attr_namespace == GUMBO_ATTR_NAMESPACE_NONE && std::strcmp(a->name, name) == 0)
            return a->value;
    }
    return nullptr;
}

std::string LocalName(const GumboNode* element)
{
    const GumboElement& e = element->v.element;
    if (e.tag != GUMBO_TAG_UNKNOWN) {
        if (e.tag_namespace == GUMBO_NAMESPACE_SVG && e.original_tag.length > 0) {
            // Gumbo's tag table is lower case; SVG keeps a few camel-case names.
            GumboStringPiece piece = e.original_tag;
            gumbo_tag_from_original_text(&piece);
            if (const char* svg = gumbo_normalize_svg_tagname(&piece))
                return svg;
        }
        return gumbo_normalized_tagname(e.tag);
    }
    GumboStringPiece piece = e.original_tag;
    if (piece.length == 0 || !piece.data)
        return {};
    gumbo_tag_from_original_text(&piece);
    if (e.tag_namespace == GUMBO_NAMESPACE_SVG) {
        if (const char* svg = gumbo_normalize_svg_tagname(&piece))
            return svg;
    }
    std::string name(piece.data, piece.length);
    // The tokenizer lower-cases ASCII letters of tag names.
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

namespace {

bool IsC0OrSpace(QChar c) { return c.unicode() <= 0x20; }

// Percent-encodes what may not stand in a query or fragment as written;
// everything else (including existing %XX sequences) stays untouched.
QString EncodeRaw(const QString& raw, bool query)
{
    const QByteArray utf8 = raw.toUtf8();
    QString out;
    out.reserve(utf8.size());
    static const char hex[] = "0123456789ABCDEF";
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        const bool encode = b <= 0x20 || b >= 0x7F || b == '"' || b == '<' || b == '>' ||
                            (query ? b == '\'' || b == '#' : b == '`');
        if (encode) {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[b >> 4]);
            out += QLatin1Char(hex[b & 15]);
        } else {
            out += QLatin1Char(ch);
        }
    }
    return out;
}

}  // namespace

QString ResolveAddress(const QUrl& base, const QString& value)
{
    // Leading and trailing C0 controls and spaces are dropped, tabs and
    // newlines anywhere are removed, as a browser's address parser does.
    qsizetype from = 0;
    qsizetype to = value.size();
    while (from < to && IsC0OrSpace(value[from]))
        ++from;
    while (to > from && IsC0OrSpace(value[to - 1]))
        --to;
    QString input;
    input.reserve(to - from);
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            input += c;
    }

    // Split off the query and fragment as written: QUrl would decode
    // percent-escapes of unreserved characters there ("%7E" -> "~"), which
    // changes the address text the crawler matches on.
    const qsizetype hash = input.indexOf(QLatin1Char('#'));
    const qsizetype question = input.indexOf(QLatin1Char('?'));
    const bool hasQuery = question >= 0 && (hash < 0 || question < hash);
    const bool hasFragment = hash >= 0;
    qsizetype headEnd = input.size();
    if (hasQuery)
        headEnd = question;
    else if (hasFragment)
        headEnd = hash;
    QString head = input.left(headEnd);
    const QString rawQuery = hasQuery ? input.mid(question + 1, (hasFragment ? hash : input.size()) - question - 1) : QString();
    const QString rawFragment = hasFragment ? input.mid(hash + 1) : QString();

    // Browsers read "\" as "/" in http(s) addresses and relative references.
    const qsizetype colon = head.indexOf(QLatin1Char(':'));
    const QString scheme = colon > 0 ? head.left(colon).toLower() : QString();
    const bool special = scheme.isEmpty() ? (base.scheme() == QLatin1String("http") || base.scheme() == QLatin1String("https"))
                                          : (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
    if (special)
        head.replace(QLatin1Char('\\'), QLatin1Char('/'));

    // Resolve with a placeholder query when the reference carries one, so a
    // reference of only "?x" still replaces the base's query.
    QString forQUrl = head;
    if (hasQuery)
        forQUrl += QLatin1String("?q");
    // An empty reference (only a fragment, or nothing) stands for the base itself.
    const bool sameDocument = head.isEmpty() && !hasQuery && !base.isEmpty();
    const QUrl relative(forQUrl, QUrl::TolerantMode);
    if (!sameDocument && !relative.isValid())
        return value;
    QUrl resolved = sameDocument ? base : base.isEmpty() ? relative : base.resolved(relative);
    if (!resolved.isValid())
        return value;

    QString out;
    if (hasQuery) {
        out = resolved.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
        out += QLatin1Char('?') + EncodeRaw(rawQuery, true);
    } else {
        out = resolved.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
    }
    if (hasFragment)
        out += QLatin1Char('#') + EncodeRaw(rawFragment, false);
    return out;
}

}  // namespace html
