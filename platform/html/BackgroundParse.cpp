#include "platform/html/BackgroundParse.h"

#include "platform/dom/HtmlTree.h"
#include "platform/net/Charset.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRunnable>
#include <QThreadPool>

#include <atomic>
#include <mutex>

namespace platform {

namespace {

std::atomic<int> running{0};

std::mutex gateMutex;
std::function<void()> gate;

void PassGate()
{
    std::function<void()> current;
    {
        std::lock_guard lock(gateMutex);
        current = gate;
    }
    if (current)
        current();
}

}  // namespace

// What the worker and the owner share. `owner` is cleared, under the mutex,
// by the owner's destructor; the worker posts its result only while holding
// the same mutex and seeing the owner still there. So either the post comes
// first, and the owner's destruction removes the posted call with it, or the
// worker sees no owner and drops the tree itself.
struct BackgroundParse::Shared {
    std::mutex mutex;
    BackgroundParse* owner = nullptr;

    bool OwnerGone()
    {
        std::lock_guard lock(mutex);
        return owner == nullptr;
    }
};

std::shared_ptr<html::Tree> DecodeAndParse(const QByteArray& body, const QByteArray& contentType,
                                           const QUrl& address, bool serialize)
{
    std::shared_ptr<html::Tree> tree = html::Tree::Parse(DecodeBody(body, contentType), address);
    if (serialize)
        tree->Serialized();  // fills the cache while nobody else can see the tree
    return tree;
}

BackgroundParse::BackgroundParse(Input input, Done done, QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), done_(std::move(done))
{
    shared_->owner = this;
    ++running;
    QThreadPool::globalInstance()->start([shared = shared_, input = std::move(input)]() mutable {
        PassGate();
        std::shared_ptr<html::Tree> tree;
        // A parse whose owner is already gone is not worth doing.
        if (!shared->OwnerGone()) {
            tree = DecodeAndParse(input.body, input.contentType, input.address, input.serialize);
            input.body.clear();
        }
        {
            std::lock_guard lock(shared->mutex);
            if (shared->owner) {
                BackgroundParse* owner = shared->owner;
                QMetaObject::invokeMethod(
                    owner, [owner, tree = std::move(tree)]() mutable { owner->Deliver(std::move(tree)); },
                    Qt::QueuedConnection);
            }
        }
        // Dropped here, on the worker, when nobody took it.
        tree.reset();
        --running;
    });
}

BackgroundParse::~BackgroundParse()
{
    std::lock_guard lock(shared_->mutex);
    shared_->owner = nullptr;
}

void BackgroundParse::Deliver(std::shared_ptr<html::Tree> tree)
{
    if (finished_)
        return;
    finished_ = true;
    // `done_` may destroy this object: run a copy and touch nothing after.
    const Done done = done_;
    if (done)
        done(std::move(tree));
}

void ReleaseTree(std::shared_ptr<html::Tree>& tree)
{
    // Below this many elements freeing costs well under a millisecond.
    constexpr std::size_t kBigTreeElements = 20000;
    std::shared_ptr<html::Tree> last = std::move(tree);
    if (!last || last.use_count() != 1 || last->all.size() < kBigTreeElements || !QCoreApplication::instance())
        return;
    // The worker holds the only reference: nothing else can reach the tree.
    QThreadPool::globalInstance()->start([last = std::move(last)]() mutable { last.reset(); });
}

int BackgroundParsesRunning() { return running.load(); }

void SetBackgroundParseGateForTests(std::function<void()> newGate)
{
    std::lock_guard lock(gateMutex);
    gate = std::move(newGate);
}

}  // namespace platform
