#pragma once
// Building blocks of the hostile pages that the tests and the benchmark
// parse: a piece of markup repeated, and a body wrapped into a whole page.

#include <string>
#include <string_view>

namespace hostile {

inline std::string Repeat(std::string_view piece, std::size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

inline std::string Page(const std::string& body)
{
    return "<!DOCTYPE html><html><head><title>t</title></head><body>" + body + "</body></html>";
}

}  // namespace hostile
