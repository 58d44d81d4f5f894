#include "platform/engine/OffscreenPage.h"

#include "platform/base/ReleaseOrder.h"
#include "platform/engine/DeskProfile.h"
#include "platform/engine/GuardedPage.h"

#include <QApplication>
#include <QPointer>
#include <QWebEngineView>

#include <memory>
#include <vector>

namespace platform::engine {

namespace {

// The pool, held by the application object (a widget cannot have it as its
// parent) and gone before it, with the views and their pages.
class Pool final : public QObject {
public:
    explicit Pool(QObject* parent) : QObject(parent) { setProperty(kReleaseBeforeApplication, true); }

    struct Entry {
        std::unique_ptr<QWebEngineView> view;
        GuardedPage* page = nullptr;
        bool lent = false;
    };
    std::vector<Entry> entries;
};

Pool& ThePool()
{
    static QPointer<Pool> pool;
    if (!pool) {
        // The profile first, so that it goes after the pages (see
        // kReleaseBeforeApplication: newest first).
        DeskProfile();
        pool = new Pool(qApp);
    }
    return *pool;
}

}  // namespace

OffscreenLease::OffscreenLease(QObject* parent) : QObject(parent), page_(nullptr)
{
    Pool& pool = ThePool();
    for (Pool::Entry& e : pool.entries) {
        if (!e.lent) {
            e.lent = true;
            page_ = e.page;
            return;
        }
    }
    Pool::Entry e;
    e.view = std::make_unique<QWebEngineView>();
    e.view->setAttribute(Qt::WA_DontShowOnScreen);
    e.page = new GuardedPage(e.view.get());
    e.view->setPage(e.page);
    e.view->resize(1280, 1024);
    e.lent = true;
    page_ = e.page;
    pool.entries.push_back(std::move(e));
}

OffscreenLease::~OffscreenLease()
{
    for (Pool::Entry& e : ThePool().entries)
        if (e.page == page_)
            e.lent = false;
}

int OffscreenPageCount() { return int(ThePool().entries.size()); }

}  // namespace platform::engine
