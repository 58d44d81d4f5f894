#pragma once
// A [begin, end) range of bytes inside a serialized document: where one
// element's outerHTML lies in the serialization of the whole document.

#include <cstddef>

namespace html {

struct ByteRange {
    std::size_t begin = 0;
    std::size_t end = 0;

    friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

}  // namespace html
