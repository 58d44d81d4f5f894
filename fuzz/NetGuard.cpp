// The last layer of the fuzz targets' network lock-down: this program's own
// connect() and getaddrinfo(). The executable's definitions take precedence
// over the C library's for every caller, Qt included (the link exports them
// for that), so no fuzzed address can reach a name server or another host
// even if a request slipped past the application proxy.

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace fuzz {
namespace {

std::atomic<std::uint16_t> guardedPort{0};
std::atomic<int> refusedConnects{0};
std::atomic<int> closedPortConnects{0};
std::atomic<int> refusedLookups{0};

// Reports the first few refusals: enough to see what was attempted without
// flooding a long run's log.
constexpr int kReported = 5;

bool IsGuardedEndpoint(const sockaddr* address, socklen_t length)
{
    const std::uint16_t port = guardedPort.load();
    if (port == 0)
        return false;
    if (address->sa_family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        return in->sin_addr.s_addr == htonl(INADDR_LOOPBACK) && ntohs(in->sin_port) == port;
    }
    if (address->sa_family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
        static const unsigned char mapped[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1};
        return std::memcmp(&in6->sin6_addr, mapped, 16) == 0 && ntohs(in6->sin6_port) == port;
    }
    return false;
}

}  // namespace

void SetGuardedPort(std::uint16_t port) { guardedPort.store(port); }
int RefusedConnects() { return refusedConnects.load(); }
int RefusedLookups() { return refusedLookups.load(); }
int ClosedPortConnects() { return closedPortConnects.load(); }

}  // namespace fuzz

extern "C" int connect(int fd, const sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const Connect real = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    const bool inet = address && (address->sa_family == AF_INET || address->sa_family == AF_INET6);
    if (inet && !fuzz::IsGuardedEndpoint(address, length)) {
        const int n = ++fuzz::refusedConnects;
        if (n <= fuzz::kReported)
            std::fprintf(stderr, "fuzz net guard: refused connect #%d (family %d)\n", n, address->sa_family);
        errno = ECONNREFUSED;
        return -1;
    }
    if (inet)
        ++fuzz::closedPortConnects;
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    const int n = ++fuzz::refusedLookups;
    if (n <= fuzz::kReported)
        std::fprintf(stderr, "fuzz net guard: refused lookup #%d of \"%s\"\n", n, node ? node : "");
    if (result)
        *result = nullptr;
    return EAI_NONAME;
}
