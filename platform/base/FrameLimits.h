#pragma once
// How far a page's frames are followed, the same for both engines: our own
// engine's frame walk fetches at most this much, and the browser engine's
// serialization reads at most this much, so a page reads alike on either.
// They bound what a hostile or broken page can make one navigation do: a
// frame nesting itself, or a page of a thousand iframes, would otherwise
// start fetches (or readings) without end.

#include <cstddef>

namespace platform {

// Frames inside frames are followed this many levels below the page.
inline constexpr int kMaxFrameDepth = 3;
// Frame documents one navigation loads (or reads) at most.
inline constexpr std::size_t kMaxFrames = 64;

}  // namespace platform
