#include "Faults.h"

#include "Pages.h"

#include <initializer_list>

namespace site {
namespace {

constexpr long long kDayMs = 24LL * 3600 * 1000;

// Reads params[key] as a whole decimal number in [min, max] into `out`.
// A missing key leaves `out` alone and is a problem only when `required`.
bool ReadNumber(const std::map<std::string, std::string>& params, const std::string& key, long long min,
                long long max, bool required, long long& out, std::string& problem)
{
    const auto it = params.find(key);
    if (it == params.end()) {
        if (required)
            problem = "missing " + key + "=";
        return !required;
    }
    const std::string& text = it->second;
    long long value = 0;
    bool ok = !text.empty() && text.size() <= 19;
    for (const char c : text) {
        if (!ok || c < '0' || c > '9') {
            ok = false;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (!ok || value < min || value > max) {
        problem = key + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                  ", not \"" + text + "\"";
        return false;
    }
    out = value;
    return true;
}

// Names the first parameter that `mode` does not take.
bool OnlyKnownKeys(const std::map<std::string, std::string>& params, std::initializer_list<std::string_view> known,
                   std::string_view mode, std::string& problem)
{
    for (const auto& [key, value] : params) {
        bool found = false;
        for (const auto k : known)
            found = found || key == k;
        if (!found) {
            problem = std::string(mode) + " takes no parameter \"" + key + "\"";
            return false;
        }
    }
    return true;
}

// A draw in [0, 100) from `draws`, plus one more bit of the same draw.
// std::mt19937_64's sequence is fixed by the language for every library,
// unlike the standard distributions, so the share is taken by hand.
std::pair<int, bool> Draw(std::mt19937_64& draws)
{
    const std::uint64_t value = draws();
    return {static_cast<int>(value % 100), ((value / 100) & 1) != 0};
}

}  // namespace

std::string FaultMarker(const FaultAction& action)
{
    switch (action.kind) {
    case FaultAction::Kind::None:
        return {};
    case FaultAction::Kind::Drop:
        return "drop";
    case FaultAction::Kind::Unavailable:
        return "503";
    case FaultAction::Kind::TooManyRequests:
        return "429";
    }
    return {};
}

std::map<std::string, std::string> ParseFaultParams(std::string_view query)
{
    std::map<std::string, std::string> params;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        const size_t eq = pair.find('=');
        if (eq == std::string_view::npos)
            params[PercentDecode(pair)] = std::string();
        else
            params[PercentDecode(pair.substr(0, eq))] = PercentDecode(pair.substr(eq + 1));
    }
    return params;
}

std::optional<std::string> FaultPlan::Apply(std::string_view mode, const std::map<std::string, std::string>& params,
                                            Clock::time_point now, std::string& problem)
{
    // Every value is read and checked before anything changes, so a bad
    // control leaves the plan as it was.
    long long ms = 0, percent = 0, seconds = 0, seed = 1;
    std::lock_guard lock(mutex_);
    if (mode == "outage") {
        if (!OnlyKnownKeys(params, {"ms"}, mode, problem) || !ReadNumber(params, "ms", 0, kDayMs, true, ms, problem))
            return std::nullopt;
        outageUntil_ = now + std::chrono::milliseconds(ms);
        return "outage: every request is dropped for " + std::to_string(ms) + " ms";
    }
    if (mode == "flaky") {
        if (!OnlyKnownKeys(params, {"percent", "seed"}, mode, problem) ||
            !ReadNumber(params, "percent", 0, 100, true, percent, problem) ||
            !ReadNumber(params, "seed", 0, 4294967295LL, false, seed, problem))
            return std::nullopt;
        flakyPercent_ = static_cast<int>(percent);
        flakyDraws_.seed(static_cast<std::uint64_t>(seed));
        return "flaky: " + std::to_string(percent) + "% of requests fail, half 503, half dropped (seed " +
               std::to_string(seed) + ")";
    }
    if (mode == "slow") {
        if (!OnlyKnownKeys(params, {"ms"}, mode, problem) || !ReadNumber(params, "ms", 0, 600000, true, ms, problem))
            return std::nullopt;
        slow_ = std::chrono::milliseconds(ms);
        return "slow: every answer waits " + std::to_string(ms) + " ms";
    }
    if (mode == "retry-after") {
        if (!OnlyKnownKeys(params, {"percent", "seconds", "seed"}, mode, problem) ||
            !ReadNumber(params, "percent", 0, 100, true, percent, problem) ||
            !ReadNumber(params, "seconds", 0, 86400, true, seconds, problem) ||
            !ReadNumber(params, "seed", 0, 4294967295LL, false, seed, problem))
            return std::nullopt;
        retryAfterPercent_ = static_cast<int>(percent);
        retryAfterS_ = static_cast<int>(seconds);
        retryAfterDraws_.seed(static_cast<std::uint64_t>(seed));
        return "retry-after: " + std::to_string(percent) + "% of requests answer 429 with Retry-After: " +
               std::to_string(seconds) + " (seed " + std::to_string(seed) + ")";
    }
    if (mode == "fail-search") {
        const auto code = params.find("code");
        if (!OnlyKnownKeys(params, {"code", "times"}, mode, problem) ||
            !ReadNumber(params, "times", 0, 1000000, true, seconds, problem))
            return std::nullopt;
        if (code == params.end() || code->second.empty()) {
            problem = "missing code=";
            return std::nullopt;
        }
        failSearchCode_ = code->second;
        failSearchLeft_ = seconds;
        return "fail-search: the next " + std::to_string(seconds) + " searches of \"" + failSearchCode_ +
               "\" answer 503";
    }
    if (mode == "ad-frame") {
        long long status = 0;
        if (!OnlyKnownKeys(params, {"status"}, mode, problem) ||
            !ReadNumber(params, "status", 200, 599, true, status, problem))
            return std::nullopt;
        adFrameStatus_ = static_cast<int>(status);
        return "ad-frame: result pages hold a frame /ad.ctl answering " + std::to_string(status);
    }
    if (mode == "off") {
        if (!OnlyKnownKeys(params, {}, mode, problem))
            return std::nullopt;
        outageUntil_ = {};
        flakyPercent_ = 0;
        slow_ = std::chrono::milliseconds(0);
        retryAfterPercent_ = 0;
        failSearchLeft_ = 0;
        adFrameStatus_ = 0;
        return "off: every request is answered normally";
    }
    problem = "no fault mode \"" + std::string(mode) +
              "\" (outage, flaky, slow, retry-after, fail-search, ad-frame, off)";
    return std::nullopt;
}

FaultAction FaultPlan::Decide(Clock::time_point now, std::string_view searchCode, bool onlyAsking)
{
    std::lock_guard lock(mutex_);
    FaultAction action;
    action.delay = slow_;
    if (now < outageUntil_) {
        action.kind = FaultAction::Kind::Drop;
        return action;
    }
    if (failSearchLeft_ > 0 && !searchCode.empty() && searchCode == failSearchCode_) {
        if (!onlyAsking)
            --failSearchLeft_;
        action.kind = FaultAction::Kind::Unavailable;
        return action;
    }
    // A generator draws only while its mode is on, so switching one mode
    // does not shift the other's sequence.
    if (flakyPercent_ > 0) {
        const auto [share, drop] = Draw(flakyDraws_);
        if (share < flakyPercent_) {
            action.kind = drop ? FaultAction::Kind::Drop : FaultAction::Kind::Unavailable;
            return action;
        }
    }
    if (retryAfterPercent_ > 0) {
        if (Draw(retryAfterDraws_).first < retryAfterPercent_) {
            action.kind = FaultAction::Kind::TooManyRequests;
            action.retryAfterS = retryAfterS_;
        }
    }
    return action;
}

int FaultPlan::AdFrameStatus()
{
    std::lock_guard lock(mutex_);
    return adFrameStatus_;
}

void FaultPlan::Delay(std::chrono::milliseconds delay)
{
    if (delay.count() <= 0)
        return;
    std::unique_lock lock(mutex_);
    closing_.wait_for(lock, delay, [&] { return closed_; });
}

void FaultPlan::Close()
{
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    closing_.notify_all();
}

}  // namespace site
