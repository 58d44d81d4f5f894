#pragma once
// The tree-builder side of the markup limiting pass (HtmlLimits.h): how the
// parser's tree builder reacts to each tag, approximated closely enough to
// know how deep its tree gets, and the decision what to drop at the caps.
// Implied end tags, scopes, tables, select, foreign content and the
// formatting elements it re-opens are modelled; where the model is unsure
// it keeps elements open, so its depth is an upper bound of the parser's up
// to a small constant factor. Internal to platform/htmllimit.

#ifndef HC_HTMLLIMIT_INTERNAL
#error "platform/htmllimit/TreeModel.h is internal to platform/htmllimit"
#endif

#include "platform/htmllimit/HtmlLimits.h"
#include "platform/htmllimit/OpenElements.h"
#include "platform/htmllimit/TagScanner.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace html::limiting {

// Follows the tags of `in` in order. `in`, `limits` and `report` must
// outlive it; it counts the start tags it drops in `report`.
class TreeModel {
public:
    TreeModel(std::string_view in, const Limits& limits, LimitReport& report)
        : in_(in), limits_(limits), report_(report)
    {
    }
    TreeModel(const TreeModel&) = delete;
    TreeModel& operator=(const TreeModel&) = delete;

    std::size_t Depth() const { return elements_.Depth(); }
    bool InForeign() const { return elements_.InForeign(); }
    // The current node, or null before the first element.
    const Open* Current() const { return stack_.empty() ? nullptr : &stack_.back(); }

    // How many attributes of start tag `t` may stay (to be called once per
    // start tag, before OnStartTag: html and body share theirs across tags).
    std::size_t AllowedAttributes(const Token& t);
    // Text before the next tag: unless it is white space in table structure
    // or foreign content, it re-opens the closed formatting elements.
    void OnText(bool nonSpace);
    // A start tag with `t.keptAttrs` attributes, read up to `t.end`; false
    // when it is dropped (nothing in the model changed then).
    bool OnStartTag(Token& t);
    // An end tag read up to `t.end`; false when it is dropped: it closes a
    // dropped start tag, or closing would leave more formatting elements
    // pending than the re-opening credit covers.
    bool OnEndTag(const Token& t);

private:
    using Scope = OpenElements::Scope;

    // Re-opening credit: one unit per input byte read, on top of the
    // allowance, less what re-opening has cost so far.
    long long Credit() const
    {
        return static_cast<long long>(limits_.reopenAllowance) + static_cast<long long>(consumed_) -
               pending_.Charged();
    }
    bool CanPopTo(std::size_t idx) const { return elements_.CanPopTo(idx, Credit()); }
    bool DropStart(const Token& t);
    bool OnHtmlStart(Token& t);
    bool OnTableStart(Token& t);
    bool OnFormattingStart(Token& t);
    bool PushCounted(const Token& t, std::size_t popIdx, std::initializer_list<Tag> implied);

    std::string_view in_;
    const Limits& limits_;
    LimitReport& report_;
    OpenElements elements_;
    const std::vector<Open>& stack_ = elements_.Stack();
    const FormattingList& pending_ = elements_.Formatting();
    std::size_t consumed_ = 0;  // input read, through the current tag
    int htmlAttrs_ = 0;
    int bodyAttrs_ = 0;
    std::unordered_map<std::uint32_t, std::size_t> droppedOpen_;  // dropped start tags awaiting their end tag
};

}  // namespace html::limiting
