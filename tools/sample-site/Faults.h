#pragma once
// The sample site's fault modes: which requests it fails on purpose, and how.
// Tests and scripts switch them at run time through control requests
// (/fault/MODE?PARAMS) or at start (--fault MODE?PARAMS); the site asks the
// plan once per request what to do with it.
//
// Modes (each set independently; setting one again replaces its settings):
//   outage?ms=N                  for N ms from now every request is dropped
//   flaky?percent=P[&seed=S]     P% of requests fail, each either with 503 or
//                                dropped, as a generator seeded with S draws
//   slow?ms=N                    every answer waits N ms first
//   retry-after?percent=P&seconds=S[&seed=X]
//                                P% of requests answer 429 with Retry-After: S
//   fail-search?code=C&times=N   the next N searches of destination C answer
//                                503 (other requests are not counted)
//   ad-frame?status=N            result pages hold an ad frame, /ad.ctl,
//                                which answers N (200: a small ad page)
//   off                          every mode ends
// A request in an outage is dropped. Otherwise a failing search answers 503,
// then flaky draws, then retry-after; slow delays whatever the answer is.
//
// Determinism: each drawing mode has its own generator, restarted from its
// seed whenever the mode is set, and draws once per request it sees, in the
// order the plan is asked. The same seed and the same order of requests give
// the same failures.
//
// Thread-safe: every worker of the server may call any member at any time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>

namespace site {

// What the site does with one request.
struct FaultAction {
    enum class Kind {
        None,             // answered normally
        Drop,             // headers and part of a body, then the connection closes
        Unavailable,      // 503
        TooManyRequests,  // 429 with Retry-After: retryAfterS
    };
    Kind kind = Kind::None;
    int retryAfterS = 0;
    std::chrono::milliseconds delay{0};  // waited before the answer, whatever it is

    bool Failed() const { return kind != Kind::None; }
};

// The word the request log puts after "FAULT " for a failed request:
// "drop", "503" or "429"; empty for Kind::None.
std::string FaultMarker(const FaultAction& action);

// Splits "a=1&b=2" into keys and percent-decoded values. A key given twice
// keeps its last value.
std::map<std::string, std::string> ParseFaultParams(std::string_view query);

class FaultPlan {
public:
    using Clock = std::chrono::steady_clock;

    // Switches `mode` with `params` at time `now`. Returns the one-line
    // confirmation (without newline), or nothing with the reason in
    // `problem` for an unknown mode, an unknown or missing parameter, or a
    // value out of range; the plan is then unchanged.
    std::optional<std::string> Apply(std::string_view mode, const std::map<std::string, std::string>& params,
                                     Clock::time_point now, std::string& problem);

    // Decides what happens to the next request, arriving at `now`;
    // `searchCode` is the destination of a search request, empty for any
    // other request. A request `onlyAsking` (a HEAD) is answered as the next
    // one would be, but uses up none of fail-search's failures.
    FaultAction Decide(Clock::time_point now, std::string_view searchCode = {}, bool onlyAsking = false);

    // The status the ad frame of result pages answers; 0 while result pages
    // have no ad frame.
    int AdFrameStatus();

    // Waits `delay`, or less once Close() was called.
    void Delay(std::chrono::milliseconds delay);
    // Ends every present and future Delay at once; used at shutdown so that
    // no worker stays asleep.
    void Close();

private:
    std::mutex mutex_;
    std::condition_variable closing_;
    bool closed_ = false;

    Clock::time_point outageUntil_{};
    int flakyPercent_ = 0;
    std::mt19937_64 flakyDraws_;
    std::chrono::milliseconds slow_{0};
    int retryAfterPercent_ = 0;
    int retryAfterS_ = 0;
    std::mt19937_64 retryAfterDraws_;
    std::string failSearchCode_;
    long long failSearchLeft_ = 0;
    int adFrameStatus_ = 0;
};

}  // namespace site
