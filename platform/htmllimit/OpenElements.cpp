#include "platform/htmllimit/OpenElements.h"

#include <algorithm>

namespace html::limiting {

int OpenElements::InScope(std::uint32_t key, Scope scope, std::size_t top) const
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

int OpenElements::InTableScope(std::uint32_t key) const
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

int OpenElements::SelectBelow() const
{
    for (std::size_t i = stack_.size(); i-- > 0;) {
        const Open& e = stack_[i];
        if (e.ns == kHtml && (e.tag == Tag::Option || e.tag == Tag::Optgroup))
            continue;
        return e.ns == kHtml && e.tag == Tag::Select ? static_cast<int>(i) : -1;
    }
    return -1;
}

bool OpenElements::TableBelow(std::size_t idx) const
{
    for (std::size_t i = idx; i-- > 0;)
        if (stack_[i].ns == kHtml && (stack_[i].tag == Tag::Table || stack_[i].tag == Tag::Template))
            return stack_[i].tag == Tag::Table;
    return false;
}

std::size_t OpenElements::LeavingDepth(std::size_t idx) const
{
    std::size_t n = 0;
    for (std::size_t i = idx; i < stack_.size(); ++i)
        if (stack_[i].pending < 0)
            ++n;
    return n;
}

bool OpenElements::CanPopTo(std::size_t idx, long long credit) const
{
    std::uint64_t weight = 0;
    for (std::size_t i = idx; i < stack_.size(); ++i)
        if (stack_[i].pending >= 0)
            weight += FormattingList::Weight(list_[static_cast<std::size_t>(stack_[i].pending)]);
    return weight == 0 || static_cast<long long>(list_.ClosedWeight() + weight) <= credit;
}

void OpenElements::PopTop()
{
    const Open e = stack_.back();
    stack_.pop_back();
    if (e.pending >= 0)
        list_.Close(static_cast<std::size_t>(e.pending));
    if ((e.flags & kMarker) && e.ns == kHtml)
        ClearToMarker();
}

void OpenElements::PopTo(std::size_t idx)
{
    while (stack_.size() > idx)
        PopTop();
}

void OpenElements::ClearToMarker()
{
    while (!list_.empty()) {
        const Pending p = list_.PopBack();
        if (p.marker)
            return;
        if (p.open >= 0)
            stack_[static_cast<std::size_t>(p.open)].pending = -1;
    }
}

void OpenElements::RemoveOpenAt(std::size_t idx)
{
    const Open e = stack_[idx];
    for (std::size_t k = idx + 1; k < stack_.size(); ++k)
        if (stack_[k].pending >= 0)
            list_.SetOpen(static_cast<std::size_t>(stack_[k].pending), static_cast<int>(k - 1));
    stack_.erase(stack_.begin() + static_cast<std::ptrdiff_t>(idx));
    if (e.pending >= 0) {
        // It leaves the pending list with it.
        list_.SetOpen(static_cast<std::size_t>(e.pending), -2);
        RemovePendingAt(static_cast<std::size_t>(e.pending));
    }
}

void OpenElements::RemovePendingAt(std::size_t i)
{
    const Pending& p = list_[i];
    if (!p.marker && p.open >= 0)
        stack_[static_cast<std::size_t>(p.open)].pending = -1;
    for (std::size_t k = i + 1; k < list_.size(); ++k)
        if (list_[k].open >= 0)
            stack_[static_cast<std::size_t>(list_[k].open)].pending = static_cast<int>(k - 1);
    list_.Erase(i);  // a closed element's cost goes with it
}

void OpenElements::Reconstruct()
{
    if (list_.empty() || list_.back().marker || list_.back().open >= 0)
        return;
    std::size_t i = list_.size() - 1;
    while (i > 0 && !list_[i - 1].marker && list_[i - 1].open < 0)
        --i;
    for (; i < list_.size(); ++i) {
        const Pending& p = list_[i];
        stack_.push_back(Open{p.key, kFormatting, p.tag, kHtml, false, static_cast<int>(i)});
        list_.Reopen(i, static_cast<int>(stack_.size() - 1));
    }
}

void OpenElements::Push(std::uint32_t key, std::uint16_t flags, Tag tag, Namespace ns, bool integration)
{
    stack_.push_back(Open{key, flags, tag, ns, integration, -1});
    if (ns == kHtml && (flags & kMarker))
        list_.PushMarker();
}

void OpenElements::PushFormatting(std::uint32_t key, std::uint16_t flags, Tag tag, std::uint64_t signature,
                                  std::uint32_t attrs)
{
    stack_.push_back(Open{key, flags, tag, kHtml, false, static_cast<int>(list_.size())});
    list_.PushElement(key, tag, signature, attrs, static_cast<int>(stack_.size() - 1));
}

}  // namespace html::limiting
