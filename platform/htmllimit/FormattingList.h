#pragma once
// The list of pending formatting elements of the markup limiting pass
// (HtmlLimits.h): the b, i, font, a, ... elements the parser's tree builder
// re-opens when text or an inline element follows their misnested close,
// with markers where a table cell, caption, object or template starts a
// fresh level. Internal to platform/htmllimit.
//
// Each element entry links to its open element on the stack of open
// elements (OpenElements.h), and that element links back. The list keeps
// its own entries and the cost of the closed ones; keeping both directions
// of the links right is OpenElements' job, the only one that changes it.

#ifndef HC_HTMLLIMIT_INTERNAL
#error "platform/htmllimit/FormattingList.h is internal to platform/htmllimit"
#endif

#include "platform/htmllimit/TagScanner.h"
#include "platform/htmllimit/TagTables.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace html::limiting {

// An entry of the pending formatting list: a marker, or a formatting element
// that is open (at stack index `open`) or closed but due to be re-opened.
struct Pending {
    bool marker;
    std::uint32_t key;
    Tag tag;
    std::uint64_t signature;
    std::uint32_t attrs;
    // Stack index while the element is open; -1 while it is closed (and for
    // a marker); -2 for the moment its element is taken off the stack out of
    // order, just before the entry goes too.
    int open;
};

class FormattingList {
public:
    // What re-opening the element of `p` costs: one unit for the element,
    // one per attribute (the copy carries them all).
    static std::uint32_t Weight(const Pending& p) { return 1 + p.attrs; }

    // The signature decides which pending elements are identical: same tag,
    // same attribute names and values, in any order. Covers the first
    // `t.keptAttrs` attributes of `t`, whose offsets point into `in`.
    static std::uint64_t Signature(std::string_view in, const Token& t);

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    const Pending& operator[](std::size_t i) const { return entries_[i]; }
    const Pending& back() const { return entries_.back(); }

    // Index of the last entry of `key` after the last marker, or -1.
    int Last(std::uint32_t key) const;

    // Element entries whose element is closed, and their re-opening cost.
    std::size_t Closed() const { return closed_; }
    std::uint64_t ClosedWeight() const { return closedWeight_; }
    // Re-opening cost spent so far, over the whole pass.
    long long Charged() const { return charged_; }

    // ---- changes, for OpenElements, which keeps the stack's links
    void PushMarker() { entries_.push_back(Pending{true, 0, Tag::Other, 0, 0, -1}); }
    void PushElement(std::uint32_t key, Tag tag, std::uint64_t signature, std::uint32_t attrs, int open)
    {
        entries_.push_back(Pending{false, key, tag, signature, attrs, open});
    }
    // Moves the link of entry `i` (its element moved on the stack, or is
    // being taken off it: -2).
    void SetOpen(std::size_t i, int open) { entries_[i].open = open; }
    // The element of entry `i` left the stack: it is pending re-opening.
    void Close(std::size_t i);
    // The element of closed entry `i` is open again, at stack index `open`;
    // its cost is charged.
    void Reopen(std::size_t i, int open);
    // Takes the last entry off (a closed element's cost with it).
    Pending PopBack();
    // Takes entry `i` off (a closed element's cost with it); later entries
    // move down by one.
    void Erase(std::size_t i);

private:
    std::vector<Pending> entries_;
    std::size_t closed_ = 0;          // pending entries not open
    std::uint64_t closedWeight_ = 0;  // their re-opening cost
    long long charged_ = 0;
};

}  // namespace html::limiting
