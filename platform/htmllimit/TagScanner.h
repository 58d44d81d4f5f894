#pragma once
// The tokenizer side of the markup limiting pass (HtmlLimits.h): finds where
// tags, comments, raw-text content and attributes begin and end, the way the
// HTML parser's tokenizer splits the same bytes. It only reads; what is kept
// or dropped is decided by the tree model (TreeModel.h). Internal to
// platform/htmllimit.

#ifndef HC_HTMLLIMIT_INTERNAL
#error "platform/htmllimit/TagScanner.h is internal to platform/htmllimit"
#endif

#include "platform/htmllimit/TagTables.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace html::limiting {

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
inline bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `s` holds `lowerWord` at `at`, ignoring ASCII case. `at` must not
// be past the end of `s`.
inline bool StartsWithNoCase(std::string_view s, std::size_t at, std::string_view lowerWord)
{
    if (s.size() - at < lowerWord.size())
        return false;
    for (std::size_t i = 0; i < lowerWord.size(); ++i)
        if (Lower(s[at + i]) != lowerWord[i])
            return false;
    return true;
}

// One attribute of a tag, as offsets into the input: [begin, end) is all of
// it, [begin, nameEnd) its name, [valueBegin, valueEnd) its value without
// quotes (empty when it has none).
struct Attr {
    std::size_t begin;
    std::size_t end;
    std::size_t nameEnd;
    std::size_t valueBegin;
    std::size_t valueEnd;
};

// A start or end tag: [begin, end) in the input, from '<' through '>'.
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
    std::size_t keptAttrs = 0;  // set by the pass: the first ones stay
};

// Reads tags and skips comments and raw text in `in`, which must outlive it.
// Positions are byte offsets into `in`; every function is bounded by its
// size.
class TagScanner {
public:
    explicit TagScanner(std::string_view in) : in_(in) {}

    // Reads the tag whose '<' is at `lt` into `t` (the earlier content of `t`
    // is replaced; its buffers are reused). False when the input ends inside
    // the tag: the tokenizer drops such a tag, with everything after it.
    bool ReadTag(std::size_t lt, bool endTag, Token& t) const;

    // Just past the next `c` from `from` on, or the end of the input.
    std::size_t SkipTo(std::size_t from, char c) const
    {
        const std::size_t p = in_.find(c, from);
        return p == std::string_view::npos ? in_.size() : p + 1;
    }

    // Just past the comment that opens ("<!--") at `lt`, or the end of the
    // input when it is not closed.
    std::size_t CommentEnd(std::size_t lt) const;

    // Where the raw-text or RCDATA content from `from` on ends: the '<' of
    // its end tag "</lowerName", or the end of the input.
    std::size_t RawTextEnd(std::size_t from, std::string_view lowerName) const;

private:
    std::string_view in_;
};

}  // namespace html::limiting
