#pragma once
// The sessions of the sample site's modern mode: a search opens one and the
// answer hands its token to the browser in a cookie; result and detail pages
// answer only requests that bring back a token the site handed out.
//
// Tokens are random (32 hex digits) and kept for the life of the process;
// switching modes forgets none. Thread-safe: every worker of the server may
// call any member at any time.

#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>

namespace site {

// The cookie that carries a session's token.
inline constexpr std::string_view kSessionCookie = "hcsession";

class Sessions {
public:
    Sessions();

    // A new token, remembered from now on.
    std::string Open();
    // Whether `token` was handed out by Open(). An empty token never is.
    bool Knows(const std::string& token);

private:
    std::mutex mutex_;
    std::mt19937_64 draws_;
    std::set<std::string> tokens_;
};

// The value of cookie `name` in the value of a Cookie header
// ("a=1; hcsession=XYZ"), or nothing when the header does not carry it. A
// cookie named twice gives its first value, as a browser sends the most
// specific one first.
std::string CookieValue(std::string_view cookieHeader, std::string_view name);

// The Set-Cookie value that hands `token` to the browser: path /, not
// readable by scripts, for the browser's session.
std::string SessionCookieHeader(const std::string& token);

}  // namespace site
