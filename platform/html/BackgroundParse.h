#pragma once
// Decoding and parsing a fetched page off the window thread.
//
// A multi-megabyte page takes about half a second to decode and parse; done
// on the window thread, the window stops answering for that long. A
// BackgroundParse hands the work to a worker of the application's global
// thread pool and gives the finished tree back to the thread that created
// it, through a queued call.
//
// Threading contract: the worker sees only plain values (the body bytes, the
// Content-Type, the address) and the tree it builds itself; it never touches
// a document, a navigation or this object. The tree is handed over only
// once the worker is done with it, so the receiving thread owns it alone.

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>

namespace html { struct Tree; }

namespace platform {

class BackgroundParse final : public QObject {
public:
    struct Input {
        QByteArray body;         // undecoded, as fetched
        QByteArray contentType;  // the response's Content-Type, for its charset
        QUrl address;            // the document's own address
        // Also build the tree's whole-document serialization on the worker,
        // for documents whose first users read it (the section walk, the
        // view), so that the window thread never pays for it.
        bool serialize = false;
    };
    using Done = std::function<void(std::shared_ptr<html::Tree> tree)>;

    // Starts the work at once. `done` runs exactly once, from the event loop
    // of the creating thread (never from within the constructor), unless this
    // object is destroyed first: then it never runs, and the worker's result
    // is thrown away on the worker. `done` may destroy this object.
    BackgroundParse(Input input, Done done, QObject* parent = nullptr);
    ~BackgroundParse() override;

private:
    struct Shared;
    void Deliver(std::shared_ptr<html::Tree> tree);

    std::shared_ptr<Shared> shared_;
    Done done_;
    bool finished_ = false;
};

// The body decoded by its declared charset and parsed, on the calling
// thread: what the worker does. For synchronous callers and benchmarks.
std::shared_ptr<html::Tree> DecodeAndParse(const QByteArray& body, const QByteArray& contentType,
                                           const QUrl& address, bool serialize);

// Lets go of `tree` (leaving it null). When this was the last reference to
// a big tree, the tree is destroyed on a worker: freeing a 5 MB page's
// nodes takes about a tenth of a second. Small trees, and any tree while no
// application object exists, are destroyed at once on the calling thread.
void ReleaseTree(std::shared_ptr<html::Tree>& tree);

// Parses handed to a worker whose worker side has not ended yet (a queued
// result may still wait in the event loop). For tests and benchmarks.
int BackgroundParsesRunning();

// For tests: `gate` is called on the worker before each parse and may block
// until the test lets it go (it must, or the application cannot exit). An
// empty function removes the gate.
void SetBackgroundParseGateForTests(std::function<void()> gate);

}  // namespace platform
