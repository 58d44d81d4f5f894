#pragma once
// The markup limiting pass's model (HtmlLimits.h) of the parser's stack of
// open elements, together with the list of pending formatting elements
// (FormattingList.h) that is linked to it entry by entry. Only the structure
// and its queries live here; which tag opens or closes what is TreeModel's.
// Internal to platform/htmllimit.
//
// Depth counts the open elements and the closed formatting elements due to
// be re-opened: the parser builds those again as soon as text follows, so
// they weigh on its scope checks as if they were open.

#ifndef HC_HTMLLIMIT_INTERNAL
#error "platform/htmllimit/OpenElements.h is internal to platform/htmllimit"
#endif

#include "platform/htmllimit/FormattingList.h"
#include "platform/htmllimit/TagTables.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace html::limiting {

enum Namespace : std::uint8_t { kHtml, kSvg, kMath };

// An open element of the model's tree.
struct Open {
    std::uint32_t key;
    std::uint16_t flags;
    Tag tag;
    Namespace ns;
    bool integration;
    int pending;  // index in the formatting list, or -1
};

class OpenElements {
public:
    // Bottom (outermost) first. The reference stays valid for the object's
    // life; its entries move with every change.
    const std::vector<Open>& Stack() const { return stack_; }
    const FormattingList& Formatting() const { return list_; }

    std::size_t Depth() const { return stack_.size() + list_.Closed(); }
    // Whether the current node is an svg or math element that holds foreign
    // content (not an integration point).
    bool InForeign() const { return !stack_.empty() && stack_.back().ns != kHtml && !stack_.back().integration; }

    enum class Scope { Default, Button, ListItem };
    // Index of the nearest open HTML element `key` in the given scope below
    // stack position `top` (the whole stack by default), or -1.
    int InScope(std::uint32_t key, Scope scope = Scope::Default, std::size_t top = static_cast<std::size_t>(-1)) const;
    // The same in table scope (bounded by table and template only).
    int InTableScope(std::uint32_t key) const;
    // Index of the open select when the parser is in its select mode: only
    // option and optgroup elements stand above it. -1 otherwise.
    int SelectBelow() const;
    // Whether the nearest table or template below stack index `idx` is a table.
    bool TableBelow(std::size_t idx) const;

    // Depth that popping down to `idx` takes away: popped formatting elements
    // stay pending, so they still count.
    std::size_t LeavingDepth(std::size_t idx) const;
    // Whether popping down to `idx` leaves the closed formatting elements
    // within `credit` units of re-opening cost.
    bool CanPopTo(std::size_t idx, long long credit) const;

    // Pops every element above `idx`: formatting elements stay pending, a
    // marker element clears its level of the formatting list.
    void PopTo(std::size_t idx);
    // Takes the element at `idx` off the stack out of order; its formatting
    // entry, if any, leaves the list with it.
    void RemoveOpenAt(std::size_t idx);
    // Takes entry `i` off the formatting list; an open element stays open.
    void RemovePendingAt(std::size_t i);
    // Re-opens the closed formatting elements after the last open one or
    // marker, in order, charging their cost.
    void Reconstruct();
    // Opens an element that is not pending formatting; an HTML marker element
    // also starts a fresh level of the formatting list.
    void Push(std::uint32_t key, std::uint16_t flags, Tag tag, Namespace ns, bool integration);
    // Opens an HTML formatting element and makes it pending.
    void PushFormatting(std::uint32_t key, std::uint16_t flags, Tag tag, std::uint64_t signature,
                        std::uint32_t attrs);

private:
    void PopTop();
    void ClearToMarker();

    std::vector<Open> stack_;
    FormattingList list_;
};

}  // namespace html::limiting
