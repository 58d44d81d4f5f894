#include "platform/htmllimit/TagScanner.h"

namespace html::limiting {

std::size_t TagScanner::CommentEnd(std::size_t lt) const
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

std::size_t TagScanner::RawTextEnd(std::size_t from, std::string_view lowerName) const
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

bool TagScanner::ReadTag(std::size_t lt, bool endTag, Token& t) const
{
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

}  // namespace html::limiting
