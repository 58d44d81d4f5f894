#pragma once
// Holds background parses on their worker, so that a test can act while a
// parse is known to be running (destroy its document, replace its
// navigation) and then let it finish. No timing is involved: the worker
// blocks until Open().

#include "platform/html/BackgroundParse.h"
#include "support/Pump.h"

#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

class ParseGate {
public:
    // The first `held` parses started from now on wait at the gate; later
    // ones pass. The thread pool gets a thread for the others meanwhile.
    explicit ParseGate(int held = 1) : state_(std::make_shared<State>())
    {
        state_->held = held;
        QThreadPool* pool = QThreadPool::globalInstance();
        savedThreads_ = pool->maxThreadCount();
        pool->setMaxThreadCount(std::max(savedThreads_, held + 2));
        platform::SetBackgroundParseGateForTests([state = state_] {
            std::unique_lock lock(state->mutex);
            if (state->entered >= state->held)
                return;
            ++state->entered;
            state->changed.wait(lock, [&] { return state->open; });
        });
    }
    ~ParseGate()
    {
        Open();
        platform::SetBackgroundParseGateForTests({});
        Drain();
        QThreadPool::globalInstance()->setMaxThreadCount(savedThreads_);
    }

    // Pumps events until `n` parses wait at the gate.
    bool WaitHeld(int n = 1)
    {
        return PumpUntil([&] {
            std::lock_guard lock(state_->mutex);
            return state_->entered >= n;
        });
    }
    void Open()
    {
        std::lock_guard lock(state_->mutex);
        state_->open = true;
        state_->changed.notify_all();
    }
    // Pumps events until no worker is parsing any more.
    bool Drain() { return PumpUntil([] { return platform::BackgroundParsesRunning() == 0; }); }

private:
    // Shared with the gate function, which a worker may still be leaving
    // when this object is gone.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int held = 0;
        int entered = 0;
        bool open = false;
    };
    std::shared_ptr<State> state_;
    int savedThreads_ = 0;
};
