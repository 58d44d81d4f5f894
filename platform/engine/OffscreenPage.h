#pragma once
// The one off-screen page the detail pages load in: long-lived and reused,
// so that a thousand detail pages cost one renderer, not a thousand.

namespace platform::engine {

class GuardedPage;

// The page, made on first use in an unshown view of a desktop window's size
// (a page of its own would lay out at 0 by 0), as a child of the
// application object. Window thread only; needs a QApplication. One load
// at a time: a load started while another is under way replaces it.
GuardedPage* OffscreenPage();

}  // namespace platform::engine
