#include "Sessions.h"

#include <cstdint>
#include <cstdio>

namespace site {

Sessions::Sessions()
{
    // Seeded from the system so that a token cannot be guessed from an
    // earlier run; tokens are the only bytes of the site that differ per run.
    std::random_device seed;
    draws_.seed((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
}

std::string Sessions::Open()
{
    std::lock_guard lock(mutex_);
    std::string token;
    do {
        char text[33];
        std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(draws_()),
                      static_cast<unsigned long long>(draws_()));
        token = text;
    } while (!tokens_.insert(token).second);
    return token;
}

bool Sessions::Knows(const std::string& token)
{
    if (token.empty())
        return false;
    std::lock_guard lock(mutex_);
    return tokens_.count(token) != 0;
}

std::string CookieValue(std::string_view cookieHeader, std::string_view name)
{
    const auto trim = [](std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
            text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        return text;
    };
    size_t start = 0;
    while (start <= cookieHeader.size()) {
        size_t end = cookieHeader.find(';', start);
        if (end == std::string_view::npos)
            end = cookieHeader.size();
        const std::string_view pair = cookieHeader.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos && trim(pair.substr(0, eq)) == name)
            return std::string(trim(pair.substr(eq + 1)));
        start = end + 1;
    }
    return {};
}

std::string SessionCookieHeader(const std::string& token)
{
    return std::string(kSessionCookie) + "=" + token + "; Path=/; HttpOnly";
}

}  // namespace site
