#pragma once
// Objects that must be gone before the application object is.

namespace platform {

// A child of the application object whose property of this name is true is
// destroyed at the start of the application object's destructor, newest
// first, while the application is still whole (Qt's own children go later,
// with it). The browser engine's profile and pages need this: the engine
// shuts down with the application.
inline constexpr char kReleaseBeforeApplication[] = "hcReleaseBeforeApplication";

}  // namespace platform
