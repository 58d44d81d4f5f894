#pragma once
// The off-screen pages detail pages load in: long-lived and reused, so that
// a thousand detail pages cost one renderer, not a thousand. A load borrows
// a page for as long as it runs; only a load started while another is still
// under way (a detail step nested in another's wait) needs a second page,
// which then stays for the next time.

#include <QObject>

namespace platform::engine {

class GuardedPage;

// One borrowed page, given back when the lease is destroyed (the load it
// served is then stopped). Window thread only; needs a QApplication.
class OffscreenLease final : public QObject {
public:
    // Borrows an idle page, making one (in an unshown view of a desktop
    // window's size: a page of its own would lay out at 0 by 0) when all are
    // lent.
    explicit OffscreenLease(QObject* parent = nullptr);
    ~OffscreenLease() override;

    GuardedPage* Page() const { return page_; }

private:
    GuardedPage* page_;
};

// How many off-screen pages exist, lent or idle.
int OffscreenPageCount();

}  // namespace platform::engine
