#include "platform/html/HtmlLimits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace html {

namespace {

// What the model needs to know about a tag name in the HTML namespace.
enum Flag : std::uint16_t {
    kVoid = 1 << 0,        // never has content or an end tag
    kSpecial = 1 << 1,     // stops the "any other end tag" search
    kFormatting = 1 << 2,  // kept on the pending formatting list
    kRawText = 1 << 3,     // content is text up to the matching end tag
    kClosesP = 1 << 4,     // start tag closes a p in button scope
    kScope = 1 << 5,       // boundary of the default scope
    kMarker = 1 << 6,      // opens a fresh level of the formatting list
    kImpliedEnd = 1 << 7,  // closed by the implied end tags of a later tag
    kHeading = 1 << 8,
    kBreakout = 1 << 9,    // start tag leaves svg/math content
};

// Tags with handling of their own; everything else is Other.
enum class Tag : std::uint8_t {
    Other, Html, Head, Body, Frameset, P, Li, Dd, Dt, Address, Div, Option, Optgroup, Select, Button,
    Form, Table, Tbody, Thead, Tfoot, Tr, Td, Th, Caption, Colgroup, Template, A, Nobr, Font, Svg, Math,
    Plaintext, Ruby, Rb, Rtc, Rp, Rt, Br,
};

struct TagInfo {
    std::string_view name;
    Tag tag;
    std::uint16_t flags;
};

constexpr std::uint16_t kBlock = kSpecial | kClosesP;

const TagInfo kTagTable[] = {
    {"a", Tag::A, kFormatting},
    {"address", Tag::Address, kBlock},
    {"applet", Tag::Other, kSpecial | kScope | kMarker},
    {"area", Tag::Other, kSpecial | kVoid},
    {"article", Tag::Other, kBlock},
    {"aside", Tag::Other, kBlock},
    {"b", Tag::Other, kFormatting | kBreakout},
    {"base", Tag::Other, kSpecial | kVoid},
    {"basefont", Tag::Other, kSpecial | kVoid},
    {"bgsound", Tag::Other, kSpecial | kVoid},
    {"big", Tag::Other, kFormatting | kBreakout},
    {"blockquote", Tag::Other, kBlock | kBreakout},
    {"body", Tag::Body, kSpecial | kBreakout},
    {"br", Tag::Br, kSpecial | kVoid | kBreakout},
    {"button", Tag::Button, kSpecial},
    {"caption", Tag::Caption, kSpecial | kScope | kMarker},
    {"center", Tag::Other, kBlock | kBreakout},
    {"code", Tag::Other, kFormatting | kBreakout},
    {"col", Tag::Other, kSpecial | kVoid},
    {"colgroup", Tag::Colgroup, kSpecial},
    {"dd", Tag::Dd, kSpecial | kImpliedEnd | kBreakout},
    {"details", Tag::Other, kBlock},
    {"dialog", Tag::Other, kClosesP},
    {"dir", Tag::Other, kBlock},
    {"div", Tag::Div, kBlock | kBreakout},
    {"dl", Tag::Other, kBlock | kBreakout},
    {"dt", Tag::Dt, kSpecial | kImpliedEnd | kBreakout},
    {"em", Tag::Other, kFormatting | kBreakout},
    {"embed", Tag::Other, kSpecial | kVoid | kBreakout},
    {"fieldset", Tag::Other, kBlock},
    {"figcaption", Tag::Other, kBlock},
    {"figure", Tag::Other, kBlock},
    {"font", Tag::Font, kFormatting},
    {"footer", Tag::Other, kBlock},
    {"form", Tag::Form, kBlock},
    {"frame", Tag::Other, kSpecial | kVoid},
    {"frameset", Tag::Frameset, kSpecial},
    {"h1", Tag::Other, kBlock | kHeading | kBreakout},
    {"h2", Tag::Other, kBlock | kHeading | kBreakout},
    {"h3", Tag::Other, kBlock | kHeading | kBreakout},
    {"h4", Tag::Other, kBlock | kHeading | kBreakout},
    {"h5", Tag::Other, kBlock | kHeading | kBreakout},
    {"h6", Tag::Other, kBlock | kHeading | kBreakout},
    {"head", Tag::Head, kSpecial | kBreakout},
    {"header", Tag::Other, kBlock},
    {"hgroup", Tag::Other, kBlock},
    {"hr", Tag::Other, kBlock | kVoid | kBreakout},
    {"html", Tag::Html, kSpecial | kScope},
    {"i", Tag::Other, kFormatting | kBreakout},
    {"iframe", Tag::Other, kSpecial | kRawText},
    {"image", Tag::Other, kVoid},
    {"img", Tag::Other, kSpecial | kVoid | kBreakout},
    {"input", Tag::Other, kSpecial | kVoid},
    {"keygen", Tag::Other, kSpecial | kVoid},
    {"li", Tag::Li, kSpecial | kImpliedEnd | kBreakout},
    {"link", Tag::Other, kSpecial | kVoid},
    {"listing", Tag::Other, kBlock | kBreakout},
    {"main", Tag::Other, kBlock},
    {"marquee", Tag::Other, kSpecial | kScope | kMarker},
    {"math", Tag::Math, 0},
    {"menu", Tag::Other, kBlock | kBreakout},
    {"meta", Tag::Other, kSpecial | kVoid | kBreakout},
    {"nav", Tag::Other, kBlock},
    {"nobr", Tag::Nobr, kFormatting | kBreakout},
    {"noembed", Tag::Other, kSpecial | kRawText},
    {"noframes", Tag::Other, kSpecial | kRawText},
    {"noscript", Tag::Other, kSpecial},
    {"object", Tag::Other, kSpecial | kScope | kMarker},
    {"ol", Tag::Other, kBlock | kBreakout},
    {"optgroup", Tag::Optgroup, kImpliedEnd},
    {"option", Tag::Option, kImpliedEnd},
    {"p", Tag::P, kBlock | kImpliedEnd | kBreakout},
    {"param", Tag::Other, kSpecial | kVoid},
    {"plaintext", Tag::Plaintext, kBlock},
    {"pre", Tag::Other, kBlock | kBreakout},
    {"rb", Tag::Rb, kImpliedEnd},
    {"rp", Tag::Rp, kImpliedEnd},
    {"rt", Tag::Rt, kImpliedEnd},
    {"rtc", Tag::Rtc, kImpliedEnd},
    {"ruby", Tag::Ruby, kBreakout},
    {"s", Tag::Other, kFormatting | kBreakout},
    {"script", Tag::Other, kSpecial | kRawText},
    {"search", Tag::Other, kBlock},
    {"section", Tag::Other, kBlock},
    {"select", Tag::Select, kSpecial},
    {"small", Tag::Other, kFormatting | kBreakout},
    {"source", Tag::Other, kSpecial | kVoid},
    {"span", Tag::Other, kBreakout},
    {"strike", Tag::Other, kFormatting | kBreakout},
    {"strong", Tag::Other, kFormatting | kBreakout},
    {"style", Tag::Other, kSpecial | kRawText},
    {"sub", Tag::Other, kBreakout},
    {"summary", Tag::Other, kBlock},
    {"sup", Tag::Other, kBreakout},
    {"svg", Tag::Svg, 0},
    {"table", Tag::Table, kSpecial | kScope | kBreakout},
    {"tbody", Tag::Tbody, kSpecial},
    {"td", Tag::Td, kSpecial | kScope | kMarker},
    {"template", Tag::Template, kSpecial | kScope | kMarker},
    {"textarea", Tag::Other, kSpecial | kRawText},
    {"tfoot", Tag::Tfoot, kSpecial},
    {"th", Tag::Th, kSpecial | kScope | kMarker},
    {"thead", Tag::Thead, kSpecial},
    {"title", Tag::Other, kSpecial | kRawText},
    {"tr", Tag::Tr, kSpecial},
    {"track", Tag::Other, kSpecial | kVoid},
    {"tt", Tag::Other, kFormatting | kBreakout},
    {"u", Tag::Other, kFormatting | kBreakout},
    {"ul", Tag::Other, kBlock | kBreakout},
    {"var", Tag::Other, kBreakout},
    {"wbr", Tag::Other, kSpecial | kVoid},
    {"xmp", Tag::Other, kBlock | kRawText},
};

const TagInfo* LookUp(std::string_view lowerName)
{
    // The table is written in sorted order; a sorted copy is made once so a
    // slip in the order above cannot break the search.
    static const std::vector<TagInfo> sorted = [] {
        std::vector<TagInfo> t(std::begin(kTagTable), std::end(kTagTable));
        std::sort(t.begin(), t.end(), [](const TagInfo& a, const TagInfo& b) { return a.name < b.name; });
        return t;
    }();
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), lowerName,
                                     [](const TagInfo& a, std::string_view n) { return a.name < n; });
    return it != sorted.end() && it->name == lowerName ? &*it : nullptr;
}

constexpr std::uint32_t Hash(std::string_view s)
{
    std::uint32_t h = 2166136261u;
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 16777619u;
    }
    return h;
}

std::uint64_t Mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

// Integration points: elements of svg and math whose content is HTML again.
constexpr std::uint32_t kForeignObject = Hash("foreignobject");
constexpr std::uint32_t kDesc = Hash("desc");
constexpr std::uint32_t kTitle = Hash("title");
constexpr std::uint32_t kMi = Hash("mi");
constexpr std::uint32_t kMo = Hash("mo");
constexpr std::uint32_t kMn = Hash("mn");
constexpr std::uint32_t kMs = Hash("ms");
constexpr std::uint32_t kMtext = Hash("mtext");
constexpr std::uint32_t kP = Hash("p");
constexpr std::uint32_t kOl = Hash("ol");
constexpr std::uint32_t kUl = Hash("ul");
constexpr std::uint32_t kRuby = Hash("ruby");
constexpr std::uint32_t kTbody = Hash("tbody");
constexpr std::uint32_t kTr = Hash("tr");
constexpr std::uint32_t kTable = Hash("table");

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view lowerWord)
{
    if (s.size() - at < lowerWord.size())
        return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i)
        if (Lower(s[at + i]) != lowerWord[i])
            return false;
    return true;
}

enum Namespace : std::uint8_t { kHtml, kSvg, kMath };

struct Attr {
    std::size_t begin;
    std::size_t end;
    std::size_t nameEnd;
    std::size_t valueBegin;
    std::size_t valueEnd;
};

struct Token {
    std::size_t begin = 0;
    std::size_t end = 0;
    bool endTag = false;
    bool selfClosing = false;
    std::string name;  // lower case
    std::uint32_t key = 0;
    Tag tag = Tag::Other;
    std::uint16_t flags = 0;
    std::vector<Attr> attrs;
    std::size_t keptAttrs = 0;
};

// An open element of the model's tree.
struct Open {
    std::uint32_t key;
    std::uint16_t flags;
    Tag tag;
    Namespace ns;
    bool integration;
    int pending;  // index in the formatting list, or -1
};

// An entry of the pending formatting list: a marker, or a formatting element
// that is open (at stack index `open`) or closed but due to be re-opened.
struct Pending {
    bool marker;
    std::uint32_t key;
    Tag tag;
    std::uint64_t signature;
    std::uint32_t attrs;
    int open;
};

class Pass {
public:
    Pass(std::string_view in, const Limits& limits, LimitReport& report, std::string& out)
        : in_(in), limits_(limits), report_(report), out_(out)
    {
    }

    bool Run();

private:
    // ---- output
    void Drop(std::size_t from, std::size_t to)
    {
        if (!changed_) {
            changed_ = true;
            out_.clear();
            out_.reserve(in_.size());
        }
        out_.append(in_.data() + copied_, from - copied_);
        copied_ = to;
    }

    // ---- tokenizer
    bool ReadTag(std::size_t lt, bool endTag);
    std::size_t SkipTo(std::size_t from, char c) const
    {
        const std::size_t p = in_.find(c, from);
        return p == std::string_view::npos ? in_.size() : p + 1;
    }
    std::size_t CommentEnd(std::size_t lt) const;
    std::size_t RawTextEnd(std::size_t from, std::string_view lowerName) const;
    void NoteText(std::size_t from, std::size_t to);
    void FlushText();

    // ---- tree model
    std::size_t Depth() const { return stack_.size() + closedPending_; }
    long long Credit() const
    {
        return static_cast<long long>(limits_.reopenAllowance) + static_cast<long long>(pos_) - charged_;
    }
    static std::uint32_t Weight(const Pending& p) { return 1 + p.attrs; }
    bool InForeign() const { return !stack_.empty() && stack_.back().ns != kHtml && !stack_.back().integration; }
    enum class Scope { Default, Button, ListItem };
    // Index of the nearest open HTML element `key` in the given scope below
    // stack position `top` (the whole stack by default), or -1.
    int InScope(std::uint32_t key, Scope scope = Scope::Default, std::size_t top = static_cast<std::size_t>(-1)) const;
    int InTableScope(std::uint32_t key) const;
    int LastPending(std::uint32_t key) const;
    bool CanPopTo(std::size_t idx) const;
    std::size_t LeavingDepth(std::size_t idx) const;
    void PopTo(std::size_t idx);
    void PopTop();
    void ClearToMarker();
    void RemoveOpenAt(std::size_t idx);
    void RemovePendingAt(std::size_t i);
    void Reconstruct();
    void Push(std::uint32_t key, std::uint16_t flags, Tag tag, Namespace ns, bool integration);

    int SelectBelow() const;
    bool TableBelow(std::size_t idx) const;
    bool OnStartTag(Token& t);
    bool OnEndTag(const Token& t);
    bool DropStart(const Token& t);
    bool OnHtmlStart(Token& t);
    bool OnTableStart(Token& t);
    bool OnFormattingStart(Token& t);
    bool PushCounted(const Token& t, std::size_t popIdx, std::initializer_list<Tag> implied);
    std::size_t AllowedAttributes(const Token& t);

    std::string_view in_;
    const Limits& limits_;
    LimitReport& report_;
    std::string& out_;
    std::size_t copied_ = 0;
    bool changed_ = false;

    std::size_t pos_ = 0;
    bool text_ = false;          // text seen since the last tag
    bool textNonSpace_ = false;  // ... and not only white space
    Token token_;

    std::vector<Open> stack_;
    std::vector<Pending> pending_;
    std::size_t closedPending_ = 0;  // pending entries not open
    std::uint64_t closedWeight_ = 0; // their re-opening cost
    long long charged_ = 0;
    int htmlAttrs_ = 0;
    int bodyAttrs_ = 0;
    std::unordered_map<std::uint32_t, std::size_t> droppedOpen_;  // dropped start tags awaiting their end tag
};

// ------------------------------------------------------------------ tokenizer

std::size_t Pass::CommentEnd(std::size_t lt) const
{
    // "<!-->" and "<!--->" are complete (empty) comments.
    std::size_t i = lt + 4;
    if (i < in_.size() && in_[i] == '>')
        return i + 1;
    if (i + 1 < in_.size() && in_[i] == '-' && in_[i + 1] == '>')
        return i + 2;
    for (;;) {
        const std::size_t d = in_.find("--", i);
        if (d == std::string_view::npos)
            return in_.size();
        std::size_t j = d + 2;
        while (j < in_.size() && in_[j] == '-')
            ++j;  // "--->" also ends the comment
        if (j < in_.size() && in_[j] == '>')
            return j + 1;
        if (j + 1 < in_.size() && in_[j] == '!' && in_[j + 1] == '>')
            return j + 2;
        i = d + 1;
    }
}

std::size_t Pass::RawTextEnd(std::size_t from, std::string_view lowerName) const
{
    // The content ends at "</name" followed by white space, '/' or '>'.
    for (std::size_t i = from;;) {
        const std::size_t p = in_.find("</", i);
        if (p == std::string_view::npos)
            return in_.size();
        const std::size_t after = p + 2 + lowerName.size();
        if (StartsWithNoCase(in_, p + 2, lowerName) &&
            (after >= in_.size() || IsSpace(in_[after]) || in_[after] == '/' || in_[after] == '>'))
            return p;
        i = p + 2;
    }
}

bool Pass::ReadTag(std::size_t lt, bool endTag)
{
    Token& t = token_;
    t.begin = lt;
    t.endTag = endTag;
    t.selfClosing = false;
    t.attrs.clear();
    const std::size_t n = in_.size();
    std::size_t i = lt + (endTag ? 2 : 1);
    const std::size_t nameBegin = i;
    while (i < n && !IsSpace(in_[i]) && in_[i] != '/' && in_[i] != '>')
        ++i;
    t.name.assign(in_.data() + nameBegin, i - nameBegin);
    for (char& c : t.name)
        c = Lower(c);
    for (;;) {
        while (i < n && (IsSpace(in_[i]) || in_[i] == '/')) {
            if (in_[i] == '/' && i + 1 < n && in_[i + 1] == '>')
                t.selfClosing = true;
            ++i;
        }
        if (i >= n)
            return false;  // a tag cut off by the end of input is dropped by the tokenizer
        if (in_[i] == '>') {
            t.end = i + 1;
            break;
        }
        if (in_[i] != '/')
            t.selfClosing = false;
        Attr a{i, i, i, i, i};
        ++i;  // the first character belongs to the name, even '='
        while (i < n && !IsSpace(in_[i]) && in_[i] != '/' && in_[i] != '>' && in_[i] != '=')
            ++i;
        a.nameEnd = i;
        a.end = i;
        std::size_t j = i;
        while (j < n && IsSpace(in_[j]))
            ++j;
        if (j < n && in_[j] == '=') {
            ++j;
            while (j < n && IsSpace(in_[j]))
                ++j;
            if (j >= n)
                return false;
            if (in_[j] == '"' || in_[j] == '\'') {
                const std::size_t close = in_.find(in_[j], j + 1);
                if (close == std::string_view::npos)
                    return false;
                a.valueBegin = j + 1;
                a.valueEnd = close;
                i = close + 1;
            } else if (in_[j] == '>') {
                a.valueBegin = a.valueEnd = j;
                i = j;
            } else {
                std::size_t k = j;
                while (k < n && !IsSpace(in_[k]) && in_[k] != '>')
                    ++k;
                a.valueBegin = j;
                a.valueEnd = k;
                i = k;
            }
            a.end = i;
        } else {
            a.valueBegin = a.valueEnd = a.nameEnd;
        }
        t.attrs.push_back(a);
    }
    t.key = Hash(t.name);
    const TagInfo* info = LookUp(t.name);
    t.tag = info ? info->tag : Tag::Other;
    t.flags = info ? info->flags : 0;
    return true;
}

void Pass::NoteText(std::size_t from, std::size_t to)
{
    if (from >= to)
        return;
    text_ = true;
    if (!textNonSpace_)
        for (std::size_t i = from; i < to; ++i)
            if (!IsSpace(in_[i])) {
                textNonSpace_ = true;
                break;
            }
}

void Pass::FlushText()
{
    if (!text_)
        return;
    // Text re-opens closed formatting elements, except white space directly
    // inside table structure, which the tree builder inserts as it is.
    bool reopen = !InForeign();
    if (reopen && !textNonSpace_ && !stack_.empty()) {
        const Tag top = stack_.back().tag;
        reopen = !(top == Tag::Table || top == Tag::Tbody || top == Tag::Thead || top == Tag::Tfoot || top == Tag::Tr);
    }
    if (reopen)
        Reconstruct();
    text_ = false;
    textNonSpace_ = false;
}

bool Pass::Run()
{
    const std::size_t n = in_.size();
    while (pos_ < n) {
        const void* found = std::memchr(in_.data() + pos_, '<', n - pos_);
        if (!found) {
            NoteText(pos_, n);
            pos_ = n;
            break;
        }
        const std::size_t lt = static_cast<std::size_t>(static_cast<const char*>(found) - in_.data());
        NoteText(pos_, lt);
        pos_ = lt;
        const char c1 = lt + 1 < n ? in_[lt + 1] : '\0';
        if (c1 == '!') {
            if (in_.compare(lt, 4, "<!--") == 0) {
                pos_ = CommentEnd(lt);
            } else if (in_.compare(lt, 9, "<![CDATA[") == 0 && !stack_.empty() && stack_.back().ns != kHtml) {
                // A CDATA section: its content is text.
                const std::size_t e = in_.find("]]>", lt + 9);
                pos_ = e == std::string_view::npos ? n : e + 3;
                if (stack_.back().integration) {
                    // Right inside an svg or math element that holds HTML
                    // (foreignObject, desc, mi, ...) the parser aborts on a
                    // CDATA section when a table is open; real pages never
                    // put one there, so it goes.
                    ++report_.droppedSections;
                    Drop(lt, pos_);
                } else {
                    NoteText(lt + 9, e == std::string_view::npos ? n : e);
                }
            } else {
                pos_ = SkipTo(lt + 2, '>');  // doctype or bogus comment
            }
            continue;
        }
        if (c1 == '?') {
            pos_ = SkipTo(lt + 2, '>');
            continue;
        }
        if (c1 == '/') {
            const char c2 = lt + 2 < n ? in_[lt + 2] : '\0';
            if (IsAlpha(c2)) {
                if (!ReadTag(lt, true)) {
                    pos_ = n;
                    break;
                }
                FlushText();
                pos_ = token_.end;
                if (!OnEndTag(token_)) {
                    ++report_.droppedEndTags;
                    Drop(token_.begin, token_.end);
                }
            } else if (c2 == '>') {
                pos_ = lt + 3;
            } else if (lt + 2 >= n) {
                NoteText(lt, n);
                pos_ = n;
            } else {
                pos_ = SkipTo(lt + 2, '>');
            }
            continue;
        }
        if (!IsAlpha(c1)) {
            NoteText(lt, lt + 1);
            pos_ = lt + 1;
            continue;
        }
        if (!ReadTag(lt, false)) {
            pos_ = n;
            break;
        }
        FlushText();
        pos_ = token_.end;
        const bool foreign = InForeign();
        const std::size_t allowed = AllowedAttributes(token_);
        token_.keptAttrs = std::min(allowed, token_.attrs.size());
        const bool keep = OnStartTag(token_);
        if (!keep) {
            Drop(token_.begin, token_.end);
            continue;
        }
        if (token_.keptAttrs < token_.attrs.size()) {
            report_.droppedAttributes += token_.attrs.size() - token_.keptAttrs;
            // From the end of the last attribute kept, so the white space
            // before the dropped ones goes too.
            const std::size_t from =
                token_.keptAttrs ? token_.attrs[token_.keptAttrs - 1].end : token_.attrs.front().begin;
            Drop(from, token_.attrs.back().end);
        }
        report_.deepest = std::max(report_.deepest, static_cast<int>(Depth()));
        // Raw-text and RCDATA content (HTML elements only) is text up to the end tag.
        if (!foreign && (token_.flags & kRawText)) {
            const std::size_t e = RawTextEnd(pos_, token_.name);
            pos_ = e;  // no formatting is re-opened inside
            if (e < n) {
                if (!ReadTag(e, true)) {
                    pos_ = n;
                    break;
                }
                pos_ = token_.end;
            }
        } else if (!foreign && token_.tag == Tag::Plaintext) {
            pos_ = n;  // everything after <plaintext> is text
        }
    }
    FlushText();
    if (changed_)
        out_.append(in_.data() + copied_, n - copied_);
    report_.deepest = std::max(report_.deepest, static_cast<int>(Depth()));
    return changed_;
}

// ------------------------------------------------------------------ tree model

int Pass::InScope(std::uint32_t key, Scope scope, std::size_t top) const
{
    for (std::size_t i = std::min(top, stack_.size()); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.key == key && e.ns == kHtml)
            return static_cast<int>(i);
        if ((e.flags & kScope) || e.integration)
            return -1;
        if (e.ns == kHtml && ((scope == Scope::Button && e.tag == Tag::Button) ||
                              (scope == Scope::ListItem && (e.key == kOl || e.key == kUl))))
            return -1;
    }
    return -1;
}

int Pass::InTableScope(std::uint32_t key) const
{
    for (std::size_t i = stack_.size(); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.key == key && e.ns == kHtml)
            return static_cast<int>(i);
        if (e.ns == kHtml && (e.tag == Tag::Table || e.tag == Tag::Template))
            return -1;
    }
    return -1;
}

int Pass::LastPending(std::uint32_t key) const
{
    for (std::size_t i = pending_.size(); i-- > 0;) {
        if (pending_[i].marker)
            return -1;
        if (pending_[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

// Depth that popping down to `idx` takes away: popped formatting elements
// stay pending, so they still count.
std::size_t Pass::LeavingDepth(std::size_t idx) const
{
    std::size_t n = 0;
    for (std::size_t i = idx; i < stack_.size(); ++i)
        if (stack_[i].pending < 0)
            ++n;
    return n;
}

bool Pass::CanPopTo(std::size_t idx) const
{
    std::uint64_t weight = 0;
    for (std::size_t i = idx; i < stack_.size(); ++i)
        if (stack_[i].pending >= 0)
            weight += Weight(pending_[static_cast<std::size_t>(stack_[i].pending)]);
    return weight == 0 || static_cast<long long>(closedWeight_ + weight) <= Credit();
}

void Pass::PopTop()
{
    const Open e = stack_.back();
    stack_.pop_back();
    if (e.pending >= 0) {
        Pending& p = pending_[static_cast<std::size_t>(e.pending)];
        p.open = -1;
        ++closedPending_;
        closedWeight_ += Weight(p);
    }
    if ((e.flags & kMarker) && e.ns == kHtml)
        ClearToMarker();
}

void Pass::PopTo(std::size_t idx)
{
    while (stack_.size() > idx)
        PopTop();
}

void Pass::ClearToMarker()
{
    while (!pending_.empty()) {
        const Pending p = pending_.back();
        pending_.pop_back();
        if (p.marker)
            return;
        if (p.open < 0) {
            --closedPending_;
            closedWeight_ -= Weight(p);
        } else {
            stack_[static_cast<std::size_t>(p.open)].pending = -1;
        }
    }
}

void Pass::RemoveOpenAt(std::size_t idx)
{
    const Open e = stack_[idx];
    for (std::size_t k = idx + 1; k < stack_.size(); ++k)
        if (stack_[k].pending >= 0)
            pending_[static_cast<std::size_t>(stack_[k].pending)].open = static_cast<int>(k - 1);
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(idx));
    if (e.pending >= 0) {
        // It leaves the pending list with it.
        pending_[static_cast<std::size_t>(e.pending)].open = -2;
        RemovePendingAt(static_cast<std::size_t>(e.pending));
    }
}

void Pass::RemovePendingAt(std::size_t i)
{
    const Pending p = pending_[i];
    if (!p.marker) {
        if (p.open == -1) {
            --closedPending_;
            closedWeight_ -= Weight(p);
        } else if (p.open >= 0) {
            stack_[static_cast<std::size_t>(p.open)].pending = -1;
        }
    }
    for (std::size_t k = i + 1; k < pending_.size(); ++k)
        if (pending_[k].open >= 0)
            stack_[static_cast<std::size_t>(pending_[k].open)].pending = static_cast<int>(k - 1);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
}

void Pass::Reconstruct()
{
    if (pending_.empty() || pending_.back().marker || pending_.back().open >= 0)
        return;
    std::size_t i = pending_.size() - 1;
    while (i > 0 && !pending_[i - 1].marker && pending_[i - 1].open < 0)
        --i;
    for (; i < pending_.size(); ++i) {
        Pending& p = pending_[i];
        stack_.push_back(Open{p.key, kFormatting, p.tag, kHtml, false, static_cast<int>(i)});
        p.open = static_cast<int>(stack_.size() - 1);
        --closedPending_;
        closedWeight_ -= Weight(p);
        charged_ += Weight(p);
    }
}

void Pass::Push(std::uint32_t key, std::uint16_t flags, Tag tag, Namespace ns, bool integration)
{
    stack_.push_back(Open{key, flags, tag, ns, integration, -1});
    if (ns == kHtml && (flags & kMarker))
        pending_.push_back(Pending{true, 0, Tag::Other, 0, 0, -1});
}

// Index of the open select when the parser is in its select mode: only
// option and optgroup elements stand above it. -1 otherwise.
int Pass::SelectBelow() const
{
    for (std::size_t i = stack_.size(); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.ns == kHtml && (e.tag == Tag::Option || e.tag == Tag::Optgroup))
            continue;
        return e.ns == kHtml && e.tag == Tag::Select ? static_cast<int>(i) : -1;
    }
    return -1;
}

bool Pass::TableBelow(std::size_t idx) const
{
    for (std::size_t i = idx; i-- > 0;)
        if (stack_[i].ns == kHtml && (stack_[i].tag == Tag::Table || stack_[i].tag == Tag::Template))
            return stack_[i].tag == Tag::Table;
    return false;
}

bool Pass::DropStart(const Token& t)
{
    ++report_.droppedStartTags;
    if (!(t.flags & kVoid))
        ++droppedOpen_[t.key];
    return false;
}

std::size_t Pass::AllowedAttributes(const Token& t)
{
    const auto cap = static_cast<std::size_t>(std::max(0, limits_.maxAttributes));
    // Attributes of every <html> and <body> start tag end up on the one html
    // and body element, each checked against the ones already there, so
    // their cap holds for all such tags together.
    if (!InForeign() && (t.tag == Tag::Html || t.tag == Tag::Body)) {
        int& used = t.tag == Tag::Html ? htmlAttrs_ : bodyAttrs_;
        const std::size_t left = cap - std::min(cap, static_cast<std::size_t>(used));
        const std::size_t kept = std::min(left, t.attrs.size());
        used += static_cast<int>(kept);
        return kept;
    }
    return cap;
}

// Pushes `t` (after popping to `popIdx` and adding the implied parents) when
// the depth allows; drops it otherwise. Nothing changes when it is dropped.
bool Pass::PushCounted(const Token& t, std::size_t popIdx, std::initializer_list<Tag> implied)
{
    const std::size_t after = Depth() - LeavingDepth(popIdx) + implied.size() + 1;
    if (after > static_cast<std::size_t>(std::max(0, limits_.maxDepth)))
        return DropStart(t);
    if (!CanPopTo(popIdx))
        return DropStart(t);
    PopTo(popIdx);
    for (const Tag parent : implied) {
        const std::uint32_t key = parent == Tag::Tbody ? kTbody : kTr;
        Push(key, kSpecial, parent, kHtml, false);
    }
    Push(t.key, t.flags, t.tag, kHtml, false);
    return true;
}

bool Pass::OnStartTag(Token& t)
{
    if (InForeign()) {
        bool breakout = (t.flags & kBreakout) != 0;
        if (t.tag == Tag::Font)
            for (std::size_t i = 0; i < t.attrs.size() && !breakout; ++i) {
                const std::string_view name(in_.data() + t.attrs[i].begin, t.attrs[i].nameEnd - t.attrs[i].begin);
                breakout = name.size() == 4 && (StartsWithNoCase(name, 0, "size") || StartsWithNoCase(name, 0, "face"));
                breakout = breakout || (name.size() == 5 && StartsWithNoCase(name, 0, "color"));
            }
        if (!breakout) {
            if (t.selfClosing)
                return true;
            if (Depth() + 1 > static_cast<std::size_t>(std::max(0, limits_.maxDepth)))
                return DropStart(t);
            const Namespace ns = t.tag == Tag::Svg ? kSvg : t.tag == Tag::Math ? kMath : stack_.back().ns;
            const bool integration =
                ns == kSvg ? (t.key == kForeignObject || t.key == kDesc || t.key == kTitle)
                           : (t.key == kMi || t.key == kMo || t.key == kMn || t.key == kMs || t.key == kMtext);
            stack_.push_back(Open{t.key, static_cast<std::uint16_t>(integration ? kSpecial | kScope : 0), Tag::Other, ns,
                                  integration, -1});
            return true;
        }
        // A breakout tag closes the foreign elements, then is an HTML tag.
        std::size_t idx = stack_.size();
        while (idx > 0 && stack_[idx - 1].ns != kHtml && !stack_[idx - 1].integration)
            --idx;
        PopTo(idx);  // foreign elements are never pending formatting elements
    }
    return OnHtmlStart(t);
}

bool Pass::OnHtmlStart(Token& t)
{
    if (const int select = SelectBelow(); select >= 0) {
        // In a select the parser takes options, option groups, scripts and
        // templates; a new select closes it; form controls and (in a table)
        // table parts close it and are then handled as usual; everything
        // else is ignored, so it opens nothing here either.
        const auto idx = static_cast<std::size_t>(select);
        const bool tablePart = t.tag == Tag::Table || t.tag == Tag::Tbody || t.tag == Tag::Thead ||
                               t.tag == Tag::Tfoot || t.tag == Tag::Tr || t.tag == Tag::Td || t.tag == Tag::Th ||
                               t.tag == Tag::Caption;
        const bool control = t.name == "input" || t.name == "keygen" || t.name == "textarea";
        if (t.tag == Tag::Select) {
            PopTo(idx);
            return true;
        }
        if (control || (tablePart && TableBelow(idx)))
            PopTo(idx);
        else if (!(t.tag == Tag::Option || t.tag == Tag::Optgroup || t.tag == Tag::Template || (t.flags & kRawText)))
            return true;
    }
    switch (t.tag) {
    case Tag::Html:
    case Tag::Head:
    case Tag::Body:
    case Tag::Frameset:
        return true;  // merged into, or ignored next to, the implied ones
    case Tag::Svg:
    case Tag::Math:
        Reconstruct();
        if (t.selfClosing)
            return true;
        if (Depth() + 1 > static_cast<std::size_t>(std::max(0, limits_.maxDepth)))
            return DropStart(t);
        stack_.push_back(Open{t.key, 0, t.tag, t.tag == Tag::Svg ? kSvg : kMath, false, -1});
        return true;
    case Tag::Table:
    case Tag::Tbody:
    case Tag::Thead:
    case Tag::Tfoot:
    case Tag::Tr:
    case Tag::Td:
    case Tag::Th:
    case Tag::Caption:
    case Tag::Colgroup:
        return OnTableStart(t);
    default:
        break;
    }
    if (t.flags & kFormatting)
        return OnFormattingStart(t);

    std::size_t popIdx = stack_.size();
    const auto closeP = [&] {
        const int p = InScope(kP, Scope::Button, popIdx);
        if (p >= 0)
            popIdx = static_cast<std::size_t>(p);
    };
    if (t.tag == Tag::Li || t.tag == Tag::Dd || t.tag == Tag::Dt) {
        // Close the nearest open item of the same kind unless a special
        // element other than address, div and p stands in between.
        for (std::size_t i = stack_.size(); i-- > 0;) {
            const Open& e = stack_[i];
            const bool same = e.ns == kHtml && (t.tag == Tag::Li ? e.tag == Tag::Li : (e.tag == Tag::Dd || e.tag == Tag::Dt));
            if (same) {
                popIdx = i;
                break;
            }
            if ((e.flags & kSpecial) && !(e.ns == kHtml && (e.tag == Tag::Address || e.tag == Tag::Div || e.tag == Tag::P)))
                break;
        }
    }
    if (t.flags & kClosesP)
        closeP();
    if ((t.flags & kHeading) && popIdx > 0 && (stack_[popIdx - 1].flags & kHeading) && stack_[popIdx - 1].ns == kHtml)
        --popIdx;
    if (t.tag == Tag::Button) {
        const int b = InScope(t.key);
        if (b >= 0)
            popIdx = static_cast<std::size_t>(b);
    }
    if (t.tag == Tag::Option || t.tag == Tag::Optgroup) {
        if (popIdx > 0 && stack_[popIdx - 1].tag == Tag::Option)
            --popIdx;
        // Inside a select an optgroup also closes the open one; elsewhere
        // (in body, or in a template inside the select) they nest.
        if (t.tag == Tag::Optgroup && popIdx > 0 && stack_[popIdx - 1].tag == Tag::Optgroup) {
            std::size_t below = popIdx - 1;
            while (below > 0 && (stack_[below - 1].tag == Tag::Option || stack_[below - 1].tag == Tag::Optgroup))
                --below;
            if (below > 0 && stack_[below - 1].tag == Tag::Select && stack_[below - 1].ns == kHtml)
                --popIdx;
        }
    }
    if (t.tag == Tag::Rb || t.tag == Tag::Rtc || t.tag == Tag::Rp || t.tag == Tag::Rt) {
        // In a ruby, these close the open rb, rt, rp (and, for rb and rtc,
        // rtc), p, li, option, ... Only when the ruby (or, for rp and rt, an
        // rtc) is right below them: popping because of a ruby the parser has
        // already closed would undercount the depth.
        const bool keepRtc = t.tag == Tag::Rp || t.tag == Tag::Rt;
        std::size_t below = popIdx;
        while (below > 0 && (stack_[below - 1].flags & kImpliedEnd) && stack_[below - 1].ns == kHtml &&
               !(keepRtc && stack_[below - 1].tag == Tag::Rtc))
            --below;
        if (below > 0 && stack_[below - 1].ns == kHtml &&
            (stack_[below - 1].key == kRuby || (keepRtc && stack_[below - 1].tag == Tag::Rtc)))
            popIdx = below;
    }

    if ((t.flags & (kVoid | kRawText)) || t.tag == Tag::Plaintext) {
        // No depth of their own: void elements hold nothing, and raw-text
        // content closes at its own end tag.
        if (popIdx < stack_.size()) {
            if (!CanPopTo(popIdx))
                return DropStart(t);
            PopTo(popIdx);
        }
        if (!(t.flags & kSpecial) || t.tag == Tag::Br)
            Reconstruct();
        return true;
    }
    const bool block = (t.flags & kClosesP) || t.tag == Tag::Li || t.tag == Tag::Dd || t.tag == Tag::Dt ||
                       t.tag == Tag::Template;
    if (!block) {
        // Inline and unknown elements open inside re-opened formatting. The
        // popping above (option, ruby parts, button) happens first.
        if (popIdx < stack_.size()) {
            if (Depth() - LeavingDepth(popIdx) + 1 > static_cast<std::size_t>(std::max(0, limits_.maxDepth)) ||
                !CanPopTo(popIdx))
                return DropStart(t);
            PopTo(popIdx);
        }
        Reconstruct();
        popIdx = stack_.size();
    }
    return PushCounted(t, popIdx, {});
}

bool Pass::OnTableStart(Token& t)
{
    // The nearest table below the current node, unless a template comes first.
    int table = -1;
    bool inTemplate = false;
    for (std::size_t i = stack_.size(); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.ns != kHtml)
            continue;
        if (e.tag == Tag::Table) {
            table = static_cast<int>(i);
            break;
        }
        if (e.tag == Tag::Template) {
            inTemplate = true;
            break;
        }
    }
    const auto at = [&](int i) { return i >= 0 && static_cast<std::size_t>(i) < stack_.size() ? stack_[static_cast<std::size_t>(i)].tag : Tag::Html; };
    const auto isSection = [](Tag g) { return g == Tag::Tbody || g == Tag::Thead || g == Tag::Tfoot; };

    if (t.tag == Tag::Table) {
        // The tree builder's mode follows the nearest table part below the
        // current node. In a table, a section, a row or a column group
        // (even with foster-parented elements above it) a new table closes
        // the open one; in a cell, a caption or outside any table it nests.
        // Elsewhere it also closes an open p (except in quirks mode; closing
        // it there too undercounts by one element per table at most, while
        // keeping it where the parser closes it would let later tags close
        // elements the parser keeps open).
        std::size_t popIdx = stack_.size();
        if (const int p = InScope(kP, Scope::Button); p >= 0)
            popIdx = static_cast<std::size_t>(p);
        for (std::size_t i = stack_.size(); i-- > 0;) {
            const Open& e = stack_[i];
            if (e.ns != kHtml)
                continue;
            if (e.tag == Tag::Table || isSection(e.tag) || e.tag == Tag::Tr || e.tag == Tag::Colgroup) {
                if (table >= 0 && static_cast<std::size_t>(table) <= i)
                    popIdx = static_cast<std::size_t>(table);
                break;
            }
            if (e.tag == Tag::Td || e.tag == Tag::Th || e.tag == Tag::Caption || e.tag == Tag::Template ||
                e.tag == Tag::Select)
                break;
        }
        return PushCounted(t, popIdx, {});
    }
    // Rows, cells and sections that follow a table dropped at the depth cap
    // belong to that table: they go with it.
    if (const auto it = droppedOpen_.find(kTable); it != droppedOpen_.end() && it->second > 0)
        return DropStart(t);
    if (table < 0) {
        // A template takes rows and cells as they come; outside a table and
        // a template these tags are ignored.
        return inTemplate ? PushCounted(t, stack_.size(), {}) : true;
    }
    const auto base = static_cast<std::size_t>(table) + 1;
    switch (t.tag) {
    case Tag::Tbody:
    case Tag::Thead:
    case Tag::Tfoot:
    case Tag::Caption:
    case Tag::Colgroup:
        return PushCounted(t, base, {});
    case Tag::Tr:
        if (isSection(at(table + 1)))
            return PushCounted(t, base + 1, {});
        return PushCounted(t, base, {Tag::Tbody});
    default:  // td, th
        if (isSection(at(table + 1))) {
            if (at(table + 2) == Tag::Tr)
                return PushCounted(t, base + 2, {});
            return PushCounted(t, base + 1, {Tag::Tr});
        }
        return PushCounted(t, base, {Tag::Tbody, Tag::Tr});
    }
}

bool Pass::OnFormattingStart(Token& t)
{
    const std::size_t cap = static_cast<std::size_t>(std::max(0, limits_.maxDepth));
    // An open <a> (or <nobr>) is closed by the next one.
    std::size_t popIdx = stack_.size();
    int removeOpen = -1;
    int removePending = -1;
    if (t.tag == Tag::A || t.tag == Tag::Nobr) {
        const int p = LastPending(t.key);
        if (p >= 0) {
            const int open = pending_[static_cast<std::size_t>(p)].open;
            if (open < 0) {
                removePending = p;
            } else {
                bool furthestBlock = false;
                for (std::size_t i = static_cast<std::size_t>(open) + 1; i < stack_.size() && !furthestBlock; ++i)
                    furthestBlock = (stack_[i].flags & kSpecial) != 0;
                if (InScope(t.key) != open)
                    removeOpen = open;
                else if (!furthestBlock)
                    popIdx = static_cast<std::size_t>(open);
                // With a block in between, the old element's copy stays pending.
            }
        }
    }
    // The signature decides which pending elements are identical: same tag,
    // same attribute names and values, in any order.
    std::uint64_t signature = t.key;
    for (std::size_t i = 0; i < t.keptAttrs; ++i) {
        const Attr& a = t.attrs[i];
        std::string name(in_.data() + a.begin, a.nameEnd - a.begin);
        for (char& c : name)
            c = Lower(c);
        const std::string_view value(in_.data() + a.valueBegin, a.valueEnd - a.valueBegin);
        signature += Mix((static_cast<std::uint64_t>(Hash(name)) << 32) ^ Hash(value));
    }
    // At most three identical entries stay pending: the earliest goes.
    int identical = 0;
    int earliest = -1;
    std::size_t pendingAttrs = 0;
    for (std::size_t i = pending_.size(); i-- > 0;) {
        const Pending& p = pending_[i];
        if (p.marker)
            break;
        if (static_cast<int>(i) == removePending || (removeOpen >= 0 && p.open == removeOpen))
            continue;
        pendingAttrs += p.attrs;
        if (p.key == t.key && p.signature == signature && p.attrs == t.keptAttrs) {
            ++identical;
            earliest = static_cast<int>(i);
        }
    }
    std::size_t freed = 0;
    if (identical >= 3) {
        pendingAttrs -= pending_[static_cast<std::size_t>(earliest)].attrs;
        if (pending_[static_cast<std::size_t>(earliest)].open < 0)
            freed = 1;
    }
    if (pendingAttrs + t.keptAttrs > static_cast<std::size_t>(std::max(0, limits_.maxFormattingAttributes)))
        return DropStart(t);
    if (Depth() - LeavingDepth(popIdx) - freed + 1 > cap || !CanPopTo(popIdx))
        return DropStart(t);

    // Keep it: apply the closing, re-open, then push it as pending.
    if (popIdx < stack_.size()) {
        const int p = stack_[popIdx].pending;
        PopTo(popIdx);
        if (p >= 0)
            RemovePendingAt(static_cast<std::size_t>(p));
    } else if (removeOpen >= 0) {
        RemoveOpenAt(static_cast<std::size_t>(removeOpen));
    } else if (removePending >= 0) {
        RemovePendingAt(static_cast<std::size_t>(removePending));
    }
    Reconstruct();
    if (identical >= 3) {
        // Find it again: indices may have moved.
        earliest = -1;
        for (std::size_t i = pending_.size(); i-- > 0;) {
            const Pending& p = pending_[i];
            if (p.marker)
                break;
            if (p.key == t.key && p.signature == signature && p.attrs == t.keptAttrs)
                earliest = static_cast<int>(i);
        }
        if (earliest >= 0)
            RemovePendingAt(static_cast<std::size_t>(earliest));
    }
    stack_.push_back(Open{t.key, t.flags, t.tag, kHtml, false, static_cast<int>(pending_.size())});
    pending_.push_back(Pending{false, t.key, t.tag, signature, static_cast<std::uint32_t>(t.keptAttrs),
                               static_cast<int>(stack_.size() - 1)});
    return true;
}

bool Pass::OnEndTag(const Token& t)
{
    if (const auto it = droppedOpen_.find(t.key); it != droppedOpen_.end() && it->second > 0) {
        --it->second;
        return false;  // closes a start tag that was dropped
    }
    const auto popTo = [&](int idx) {
        if (idx < 0)
            return true;
        if (!CanPopTo(static_cast<std::size_t>(idx)))
            return false;
        PopTo(static_cast<std::size_t>(idx));
        return true;
    };
    if (InForeign()) {
        for (std::size_t i = stack_.size(); i-- > 0;) {
            if (stack_[i].ns == kHtml)
                break;
            if (stack_[i].key == t.key)
                return popTo(static_cast<int>(i));
        }
    }
    if (const int select = SelectBelow(); select >= 0) {
        // In a select only its own end tags, and in a table the table's,
        // do anything.
        const auto idx = static_cast<std::size_t>(select);
        if (t.tag == Tag::Select)
            return popTo(select);
        if (t.tag == Tag::Option || t.tag == Tag::Optgroup) {
            std::size_t top = stack_.size();
            if (t.tag == Tag::Optgroup && top >= 2 && stack_[top - 1].tag == Tag::Option &&
                stack_[top - 2].tag == Tag::Optgroup)
                --top;
            if (top > idx + 1 && stack_[top - 1].tag == t.tag)
                return popTo(static_cast<int>(top - 1));
            return true;
        }
        const bool tablePart = t.tag == Tag::Table || t.tag == Tag::Tbody || t.tag == Tag::Thead ||
                               t.tag == Tag::Tfoot || t.tag == Tag::Tr || t.tag == Tag::Td || t.tag == Tag::Th ||
                               t.tag == Tag::Caption;
        if (!(tablePart && TableBelow(idx)) && t.tag != Tag::Template)
            return true;
        if (tablePart) {
            if (InTableScope(t.key) < 0)
                return true;
            if (!popTo(select))
                return false;
        }
    }
    switch (t.tag) {
    case Tag::Html:
    case Tag::Head:
    case Tag::Body:
    case Tag::Br:
    case Tag::Frameset:
        return true;
    case Tag::P:
        return popTo(InScope(t.key, Scope::Button));
    case Tag::Li:
        return popTo(InScope(t.key, Scope::ListItem));
    case Tag::Form: {
        const int f = InScope(t.key);
        if (f >= 0)
            RemoveOpenAt(static_cast<std::size_t>(f));
        return true;
    }
    case Tag::Table:
    case Tag::Tbody:
    case Tag::Thead:
    case Tag::Tfoot:
    case Tag::Tr:
    case Tag::Td:
    case Tag::Th:
    case Tag::Caption:
    case Tag::Colgroup:
        return popTo(InTableScope(t.key));
    default:
        break;
    }
    if (t.flags & kHeading) {
        for (std::size_t i = stack_.size(); i-- > 0;) {
            const Open& e = stack_[i];
            if ((e.flags & kHeading) && e.ns == kHtml)
                return popTo(static_cast<int>(i));
            if ((e.flags & kScope) || e.integration)
                return true;
        }
        return true;
    }
    if (t.flags & kFormatting) {
        const int p = LastPending(t.key);
        if (p >= 0) {
            const int open = pending_[static_cast<std::size_t>(p)].open;
            if (open < 0) {
                RemovePendingAt(static_cast<std::size_t>(p));
                return true;
            }
            if (InScope(t.key) != open)
                return true;  // not in scope: ignored
            for (std::size_t i = static_cast<std::size_t>(open) + 1; i < stack_.size(); ++i)
                if (stack_[i].flags & kSpecial)
                    return true;  // misnested: the tree builder moves nodes, the depth stays
            if (!popTo(open))
                return false;
            RemovePendingAt(static_cast<std::size_t>(p));
            return true;
        }
    } else if ((t.flags & kSpecial) && !(t.flags & (kVoid | kRawText))) {
        return popTo(InScope(t.key));
    }
    // Any other end tag closes the nearest element of its name unless a
    // special element comes first.
    for (std::size_t i = stack_.size(); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.key == t.key)
            return popTo(static_cast<int>(i));
        if (e.flags & kSpecial)
            return true;
    }
    return true;
}

}  // namespace

bool LimitMarkup(std::string_view utf8, std::string& out, LimitReport* report, const Limits& limits)
{
    LimitReport local;
    LimitReport& r = report ? *report : local;
    r = LimitReport{};
    std::string result;
    Pass pass(utf8, limits, r, result);
    if (!pass.Run())
        return false;
    out = std::move(result);
    return true;
}

std::string LimitedMarkup(std::string_view utf8, LimitReport* report, const Limits& limits)
{
    std::string out;
    if (!LimitMarkup(utf8, out, report, limits))
        out.assign(utf8.data(), utf8.size());
    return out;
}

}  // namespace html
