#pragma once
// A PostgreSQL server can stop answering while its connections stay sound:
// its process paused or hung, its machine frozen under a debugger or a
// snapshot. Its TCP stack still acknowledges every request and every
// keepalive probe, so neither the keepalives nor the user time-out of
// OpenAliasDatabase end the wait, and a call on the connection blocks its
// thread (the window's) until the server comes back, if ever.
//
// A SilenceGuard watches one connection's socket from a thread of its own.
// Once a request was sent `limit` ago and nothing at all has come back
// since, it shuts the socket down: the blocked call returns at once with an
// error, and the connection is over (PostgresSessionGone). A live server
// answers within the statement limit of the session (Alias.h), so a limit
// well above that cuts only a server that is not there. Its thread looks at
// the socket's counters (TCP_INFO) every 1/8 of the limit, at most every
// second, and sleeps while nothing is watched.
//
// Linux only. A socket that is not TCP (a Unix socket) is not watched.
// Thread: Watch, Forget and Cut from the thread that uses the connection.

#include <QSqlDatabase>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

class SilenceGuard {
public:
    explicit SilenceGuard(std::chrono::milliseconds limit);
    ~SilenceGuard();  // stops and joins its thread
    SilenceGuard(const SilenceGuard&) = delete;
    SilenceGuard& operator=(const SilenceGuard&) = delete;

    // Watches `db` (an open PostgreSQL connection) from now on, instead of
    // the one watched before; the thread starts with the first call.
    void Watch(const QSqlDatabase& db);
    // Stops watching. Call it before the watched connection closes: its
    // socket's number may then be given to another socket.
    void Forget();
    // Whether the guard cut the connection watched last.
    bool Cut() const;

    std::chrono::milliseconds Limit() const { return limit_; }

private:
    void Run();

    const std::chrono::milliseconds limit_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    int fd_ = -1;       // the watched socket; -1 for none
    bool cut_ = false;  // fd_ was shut down by the guard
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace platform
