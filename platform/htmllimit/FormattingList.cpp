#include "platform/htmllimit/FormattingList.h"

#include <string>

namespace html::limiting {

namespace {

std::uint64_t Mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

}  // namespace

std::uint64_t FormattingList::Signature(std::string_view in, const Token& t)
{
    // A sum of one mixed hash per attribute, so the order does not matter.
    std::uint64_t signature = t.key;
    for (std::size_t i = 0; i < t.keptAttrs; ++i) {
        const Attr& a = t.attrs[i];
        std::string name(in.data() + a.begin, a.nameEnd - a.begin);
        for (char& c : name)
            c = Lower(c);
        const std::string_view value(in.data() + a.valueBegin, a.valueEnd - a.valueBegin);
        signature += Mix((static_cast<std::uint64_t>(Hash(name)) << 32) ^ Hash(value));
    }
    return signature;
}

int FormattingList::Last(std::uint32_t key) const
{
    for (std::size_t i = entries_.size(); i-- > 0;) {
        if (entries_[i].marker)
            return -1;
        if (entries_[i].key == key)
            return static_cast<int>(i);
    }
    return -1;
}

void FormattingList::Close(std::size_t i)
{
    Pending& p = entries_[i];
    p.open = -1;
    ++closed_;
    closedWeight_ += Weight(p);
}

void FormattingList::Reopen(std::size_t i, int open)
{
    Pending& p = entries_[i];
    p.open = open;
    --closed_;
    closedWeight_ -= Weight(p);
    charged_ += Weight(p);
}

Pending FormattingList::PopBack()
{
    const Pending p = entries_.back();
    entries_.pop_back();
    if (!p.marker && p.open < 0) {
        --closed_;
        closedWeight_ -= Weight(p);
    }
    return p;
}

void FormattingList::Erase(std::size_t i)
{
    const Pending& p = entries_[i];
    if (!p.marker && p.open == -1) {
        --closed_;
        closedWeight_ -= Weight(p);
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
}

}  // namespace html::limiting
