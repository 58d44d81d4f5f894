#include "platform/db/SilenceGuard.h"

#include "platform/base/Report.h"
#include "platform/db/PostgresSocket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

namespace platform {

namespace {

using std::chrono::milliseconds;

// How long ago the socket last sent and last received data, from the
// kernel's counters; false when it is no TCP socket.
bool LastData(int fd, milliseconds* sentAgo, milliseconds* receivedAgo)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    *sentAgo = milliseconds(info.tcpi_last_data_sent);
    *receivedAgo = milliseconds(info.tcpi_last_data_recv);
    return true;
}

}  // namespace

SilenceGuard::SilenceGuard(milliseconds limit) : limit_(limit) {}

SilenceGuard::~SilenceGuard()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SilenceGuard::Watch(const QSqlDatabase& db)
{
    const int fd = PostgresSocket(db);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = fd;
        cut_ = false;
        if (!thread_.joinable() && fd >= 0)
            thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_all();
}

void SilenceGuard::Forget()
{
    std::lock_guard<std::mutex> lock(mutex_);
    fd_ = -1;
}

bool SilenceGuard::Cut() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return cut_;
}

void SilenceGuard::Run()
{
    const milliseconds period = std::clamp(limit_ / 8, milliseconds(20), milliseconds(1000));
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        if (fd_ < 0) {
            wake_.wait(lock, [this] { return stop_ || fd_ >= 0; });
            continue;
        }
        milliseconds sentAgo{}, receivedAgo{};
        if (!LastData(fd_, &sentAgo, &receivedAgo)) {
            fd_ = -1;  // not TCP: nothing to go by
            continue;
        }
        milliseconds next = period;
        // Owed: something went out after the last thing that came in.
        if (receivedAgo > sentAgo) {
            if (sentAgo >= limit_) {
                // The mutex is held, so the connection cannot close and its
                // number cannot pass to another socket meanwhile (Forget).
                shutdown(fd_, SHUT_RDWR);
                fd_ = -1;
                cut_ = true;
                Report(QStringLiteral("the database server has not answered for %1 s; its connection is given up")
                           .arg(sentAgo.count() / 1000.0, 0, 'f', 1));
                continue;
            }
            next = std::min(next, limit_ - sentAgo + milliseconds(1));
        }
        // Woken early by Watch, Forget or the destructor; otherwise the
        // counters are looked at again after `next`.
        wake_.wait_for(lock, next);
    }
}

}  // namespace platform
