#include "platform/htmllimit/TreeModel.h"

#include <algorithm>

namespace html::limiting {

void TreeModel::OnText(bool nonSpace)
{
    // Text re-opens closed formatting elements, except white space directly
    // inside table structure, which the tree builder inserts as it is.
    bool reopen = !InForeign();
    if (reopen && !nonSpace && !stack_.empty())
        reopen = !IsTableStructure(stack_.back().tag);
    if (reopen)
        elements_.Reconstruct();
}

bool TreeModel::DropStart(const Token& t)
{
    ++report_.droppedStartTags;
    if (!(t.flags & kVoid))
        ++droppedOpen_[t.key];
    return false;
}

std::size_t TreeModel::AllowedAttributes(const Token& t)
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
bool TreeModel::PushCounted(const Token& t, std::size_t popIdx, std::initializer_list<Tag> implied)
{
    const std::size_t after = Depth() - elements_.LeavingDepth(popIdx) + implied.size() + 1;
    if (after > static_cast<std::size_t>(std::max(0, limits_.maxDepth)))
        return DropStart(t);
    if (!CanPopTo(popIdx))
        return DropStart(t);
    elements_.PopTo(popIdx);
    for (const Tag parent : implied) {
        const std::uint32_t key = parent == Tag::Tbody ? kTbody : kTr;
        elements_.Push(key, kSpecial, parent, kHtml, false);
    }
    elements_.Push(t.key, t.flags, t.tag, kHtml, false);
    return true;
}

bool TreeModel::OnStartTag(Token& t)
{
    consumed_ = t.end;
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
            elements_.Push(t.key, static_cast<std::uint16_t>(integration ? kSpecial | kScope : 0), Tag::Other, ns,
                           integration);
            return true;
        }
        // A breakout tag closes the foreign elements, then is an HTML tag.
        std::size_t idx = stack_.size();
        while (idx > 0 && stack_[idx - 1].ns != kHtml && !stack_[idx - 1].integration)
            --idx;
        elements_.PopTo(idx);  // foreign elements are never pending formatting elements
    }
    return OnHtmlStart(t);
}

bool TreeModel::OnHtmlStart(Token& t)
{
    if (const int select = elements_.SelectBelow(); select >= 0) {
        // In a select the parser takes options, option groups, scripts and
        // templates; a new select closes it; form controls and (in a table)
        // table parts close it and are then handled as usual; everything
        // else is ignored, so it opens nothing here either.
        const auto idx = static_cast<std::size_t>(select);
        const bool tablePart = IsTablePart(t.tag);
        const bool control = t.name == "input" || t.name == "keygen" || t.name == "textarea";
        if (t.tag == Tag::Select) {
            elements_.PopTo(idx);
            return true;
        }
        if (control || (tablePart && elements_.TableBelow(idx)))
            elements_.PopTo(idx);
        else if (!(t.tag == Tag::Option || t.tag == Tag::Optgroup || t.tag == Tag::Template || (t.flags & kRawText)))
            return true;
    }
    if (IsTableTag(t.tag))
        return OnTableStart(t);
    switch (t.tag) {
    case Tag::Html:
    case Tag::Head:
    case Tag::Body:
    case Tag::Frameset:
        return true;  // merged into, or ignored next to, the implied ones
    case Tag::Svg:
    case Tag::Math:
        elements_.Reconstruct();
        if (t.selfClosing)
            return true;
        if (Depth() + 1 > static_cast<std::size_t>(std::max(0, limits_.maxDepth)))
            return DropStart(t);
        elements_.Push(t.key, 0, t.tag, t.tag == Tag::Svg ? kSvg : kMath, false);
        return true;
    default:
        break;
    }
    if (t.flags & kFormatting)
        return OnFormattingStart(t);

    std::size_t popIdx = stack_.size();
    const auto closeP = [&] {
        const int p = elements_.InScope(kP, Scope::Button, popIdx);
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
        const int b = elements_.InScope(t.key);
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
            elements_.PopTo(popIdx);
        }
        if (!(t.flags & kSpecial) || t.tag == Tag::Br)
            elements_.Reconstruct();
        return true;
    }
    const bool block = (t.flags & kClosesP) || t.tag == Tag::Li || t.tag == Tag::Dd || t.tag == Tag::Dt ||
                       t.tag == Tag::Template;
    if (!block) {
        // Inline and unknown elements open inside re-opened formatting. The
        // popping above (option, ruby parts, button) happens first.
        if (popIdx < stack_.size()) {
            if (Depth() - elements_.LeavingDepth(popIdx) + 1 > static_cast<std::size_t>(std::max(0, limits_.maxDepth)) ||
                !CanPopTo(popIdx))
                return DropStart(t);
            elements_.PopTo(popIdx);
        }
        elements_.Reconstruct();
        popIdx = stack_.size();
    }
    return PushCounted(t, popIdx, {});
}

bool TreeModel::OnTableStart(Token& t)
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
        if (const int p = elements_.InScope(kP, Scope::Button); p >= 0)
            popIdx = static_cast<std::size_t>(p);
        for (std::size_t i = stack_.size(); i-- > 0;) {
            const Open& e = stack_[i];
            if (e.ns != kHtml)
                continue;
            if (IsTableStructure(e.tag) || e.tag == Tag::Colgroup) {
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
        if (IsTableSection(at(table + 1)))
            return PushCounted(t, base + 1, {});
        return PushCounted(t, base, {Tag::Tbody});
    default:  // td, th
        if (IsTableSection(at(table + 1))) {
            if (at(table + 2) == Tag::Tr)
                return PushCounted(t, base + 2, {});
            return PushCounted(t, base + 1, {Tag::Tr});
        }
        return PushCounted(t, base, {Tag::Tbody, Tag::Tr});
    }
}

bool TreeModel::OnFormattingStart(Token& t)
{
    const std::size_t cap = static_cast<std::size_t>(std::max(0, limits_.maxDepth));
    // An open <a> (or <nobr>) is closed by the next one.
    std::size_t popIdx = stack_.size();
    int removeOpen = -1;
    int removePending = -1;
    if (t.tag == Tag::A || t.tag == Tag::Nobr) {
        const int p = pending_.Last(t.key);
        if (p >= 0) {
            const int open = pending_[static_cast<std::size_t>(p)].open;
            if (open < 0) {
                removePending = p;
            } else {
                bool furthestBlock = false;
                for (std::size_t i = static_cast<std::size_t>(open) + 1; i < stack_.size() && !furthestBlock; ++i)
                    furthestBlock = (stack_[i].flags & kSpecial) != 0;
                if (elements_.InScope(t.key) != open)
                    removeOpen = open;
                else if (!furthestBlock)
                    popIdx = static_cast<std::size_t>(open);
                // With a block in between, the old element's copy stays pending.
            }
        }
    }
    // The signature decides which pending elements are identical: same tag,
    // same attribute names and values, in any order.
    const std::uint64_t signature = FormattingList::Signature(in_, t);
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
    if (Depth() - elements_.LeavingDepth(popIdx) - freed + 1 > cap || !CanPopTo(popIdx))
        return DropStart(t);

    // Keep it: apply the closing, re-open, then push it as pending.
    if (popIdx < stack_.size()) {
        const int p = stack_[popIdx].pending;
        elements_.PopTo(popIdx);
        if (p >= 0)
            elements_.RemovePendingAt(static_cast<std::size_t>(p));
    } else if (removeOpen >= 0) {
        elements_.RemoveOpenAt(static_cast<std::size_t>(removeOpen));
    } else if (removePending >= 0) {
        elements_.RemovePendingAt(static_cast<std::size_t>(removePending));
    }
    elements_.Reconstruct();
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
            elements_.RemovePendingAt(static_cast<std::size_t>(earliest));
    }
    elements_.PushFormatting(t.key, t.flags, t.tag, signature, static_cast<std::uint32_t>(t.keptAttrs));
    return true;
}

bool TreeModel::OnEndTag(const Token& t)
{
    consumed_ = t.end;
    if (const auto it = droppedOpen_.find(t.key); it != droppedOpen_.end() && it->second > 0) {
        --it->second;
        return false;  // closes a start tag that was dropped
    }
    const auto popTo = [&](int idx) {
        if (idx < 0)
            return true;
        if (!CanPopTo(static_cast<std::size_t>(idx)))
            return false;
        elements_.PopTo(static_cast<std::size_t>(idx));
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
    if (const int select = elements_.SelectBelow(); select >= 0) {
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
        const bool tablePart = IsTablePart(t.tag);
        if (!(tablePart && elements_.TableBelow(idx)) && t.tag != Tag::Template)
            return true;
        if (tablePart) {
            if (elements_.InTableScope(t.key) < 0)
                return true;
            if (!popTo(select))
                return false;
        }
    }
    if (IsTableTag(t.tag))
        return popTo(elements_.InTableScope(t.key));
    switch (t.tag) {
    case Tag::Html:
    case Tag::Head:
    case Tag::Body:
    case Tag::Br:
    case Tag::Frameset:
        return true;
    case Tag::P:
        return popTo(elements_.InScope(t.key, Scope::Button));
    case Tag::Li:
        return popTo(elements_.InScope(t.key, Scope::ListItem));
    case Tag::Form: {
        const int f = elements_.InScope(t.key);
        if (f >= 0)
            elements_.RemoveOpenAt(static_cast<std::size_t>(f));
        return true;
    }
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
        const int p = pending_.Last(t.key);
        if (p >= 0) {
            const int open = pending_[static_cast<std::size_t>(p)].open;
            if (open < 0) {
                elements_.RemovePendingAt(static_cast<std::size_t>(p));
                return true;
            }
            if (elements_.InScope(t.key) != open)
                return true;  // not in scope: ignored
            for (std::size_t i = static_cast<std::size_t>(open) + 1; i < stack_.size(); ++i)
                if (stack_[i].flags & kSpecial)
                    return true;  // misnested: the tree builder moves nodes, the depth stays
            if (!popTo(open))
                return false;
            elements_.RemovePendingAt(static_cast<std::size_t>(p));
            return true;
        }
    } else if ((t.flags & kSpecial) && !(t.flags & (kVoid | kRawText))) {
        return popTo(elements_.InScope(t.key));
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

}  // namespace html::limiting
