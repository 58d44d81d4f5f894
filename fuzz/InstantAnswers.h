#pragma once
// Answers every page request of the program's network manager at once, from
// memory, so that a fuzz input that starts page loads (a detail load, a
// navigation) never waits for the network.
//
// Why: every address a fuzzed page names ends at the closed port of the
// lock-down (FuzzSupport.h). A refused connection is a transient failure,
// which a page fetch retries after 50, 100 and 200 ms (PageFetch.h, with
// the fuzz set-up's one-second time-out), so a load that waits for its page
// cost a third of a second per input.
//
// How: the manager (platform::NetworkManager()) gets a cache that holds a
// fresh "404 Not Found" with a short page (no links, no sections) for every
// address. Qt serves a
// fresh cache entry of a GET without sending anything, so the fetch gets
// the answer from the event loop's next turns and reports it like any 404:
// no retry (404 is not transient), and everything above the socket (the
// address's routing, the request, the reply's handling, the background
// parse, the document's completion) runs as for a page of the site.
// Nothing is ever stored in the cache. A request Qt does not serve from a
// cache (anything but GET and HEAD) still ends at the closed port.
//
// Lifetime: the cache belongs to the manager, which belongs to the
// application object. Window thread only.

namespace fuzz {

// The status every answered request gets, with its page.
constexpr int kAnswerStatus = 404;
extern const char kAnswerPage[];

// Installs the answering cache on platform::NetworkManager(); requires a
// QCoreApplication. Idempotent.
void AnswerEveryPageAtOnce();

// Requests answered so far (one per attempt Qt served from the cache).
int AnsweredRequests();

}  // namespace fuzz
