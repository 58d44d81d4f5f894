// The fuzz targets' network lock-down: the guard's connect() and
// getaddrinfo(), the closed port and the application proxy, checked at the
// socket level and through Qt's network access as the targets use it.
// Nothing here leaves the machine: every address other than loopback is
// refused by the guard before the C library sees it.

#include "fuzz/FuzzSupport.h"
#include "fuzz/InstantAnswers.h"
#include "platform/net/PageFetch.h"
#include "platform/settings/Settings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTimer>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

// One socket of the given family, closed when the test ends.
class Socket {
public:
    explicit Socket(int family) : fd_(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

sockaddr_in V4(const char* address, std::uint16_t port)
{
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &in.sin_addr);
    return in;
}

sockaddr_in6 V6(const char* address, std::uint16_t port)
{
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    ::inet_pton(AF_INET6, address, &in6.sin6_addr);
    return in6;
}

// connect() on a fresh socket; the errno it left, or 0 on success.
template <class Address>
int ConnectErrno(int family, const Address& address)
{
    Socket s(family);
    EXPECT_GE(s.fd(), 0);
    errno = 0;
    const int rc = ::connect(s.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return rc == 0 ? 0 : errno;
}

class NetGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        fuzz::LockDownNetwork();
        ASSERT_NE(fuzz::ClosedPort(), 0);
        refusedBefore = fuzz::RefusedConnects();
        lookupsBefore = fuzz::RefusedLookups();
    }
    int refusedNow() const { return fuzz::RefusedConnects() - refusedBefore; }
    int lookupsNow() const { return fuzz::RefusedLookups() - lookupsBefore; }

    int refusedBefore = 0;
    int lookupsBefore = 0;
};

TEST_F(NetGuard, AddressBeyondLoopbackIsRefusedWithoutTouchingTheNetwork)
{
    // TEST-NET-1 and a documentation IPv6 address: refused by the guard, so
    // the kernel is never asked to route them.
    EXPECT_EQ(ConnectErrno(AF_INET, V4("192.0.2.1", 80)), ECONNREFUSED);
    EXPECT_EQ(ConnectErrno(AF_INET6, V6("2001:db8::1", 443)), ECONNREFUSED);
    EXPECT_EQ(refusedNow(), 2);
}

TEST_F(NetGuard, LoopbackOtherThanTheClosedPortIsRefusedEvenWithAListener)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const auto port = static_cast<std::uint16_t>(server.serverPort());
    EXPECT_EQ(ConnectErrno(AF_INET, V4("127.0.0.1", port)), ECONNREFUSED);
    EXPECT_EQ(ConnectErrno(AF_INET, V4("127.0.0.2", fuzz::ClosedPort())), ECONNREFUSED)
        << "only 127.0.0.1 itself is let through";
    EXPECT_EQ(ConnectErrno(AF_INET6, V6("::1", port)), ECONNREFUSED);
    EXPECT_EQ(refusedNow(), 3);
    EXPECT_FALSE(server.hasPendingConnections());
}

TEST_F(NetGuard, TheClosedPortReachesTheKernelAndIsRefusedThere)
{
    // Let through by the guard (counted as such, not as refused), refused
    // because nothing listens on the bound port.
    const int throughBefore = fuzz::ClosedPortConnects();
    EXPECT_EQ(ConnectErrno(AF_INET, V4("127.0.0.1", fuzz::ClosedPort())), ECONNREFUSED);
    EXPECT_EQ(fuzz::ClosedPortConnects() - throughBefore, 1);
    Socket v6(AF_INET6);
    if (v6.fd() >= 0) {
        const sockaddr_in6 mapped = V6("::ffff:127.0.0.1", fuzz::ClosedPort());
        errno = 0;
        const int rc = ::connect(v6.fd(), reinterpret_cast<const sockaddr*>(&mapped), sizeof mapped);
        EXPECT_EQ(rc, -1);
        // ECONNREFUSED from the kernel; a host without IPv6 answers otherwise,
        // but never lets the connection through.
        EXPECT_NE(errno, 0);
    }
    EXPECT_EQ(refusedNow(), 0);
}

TEST_F(NetGuard, LocalSocketsAreLeftToTheCLibrary)
{
    sockaddr_un un{};
    un.sun_family = AF_UNIX;
    std::strcpy(un.sun_path, "/nonexistent/hc-fuzz-guard-test.sock");
    EXPECT_EQ(ConnectErrno(AF_UNIX, un), ENOENT) << "the real connect() answered";
    EXPECT_EQ(refusedNow(), 0);
}

TEST_F(NetGuard, EveryNameLookupIsRefused)
{
    for (const char* name : {"hotels.example", "localhost", "127.0.0.1"}) {
        addrinfo* result = reinterpret_cast<addrinfo*>(1);
        EXPECT_EQ(::getaddrinfo(name, "80", nullptr, &result), EAI_NONAME) << name;
        EXPECT_EQ(result, nullptr) << name;
    }
    EXPECT_EQ(lookupsNow(), 3);
}

TEST_F(NetGuard, LockingDownTwiceKeepsTheSamePortAndProxy)
{
    const std::uint16_t port = fuzz::ClosedPort();
    fuzz::LockDownNetwork();
    EXPECT_EQ(fuzz::ClosedPort(), port);
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    EXPECT_EQ(proxy.type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(proxy.hostName(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(proxy.port(), port);
}

// Fetches as the program's page loads do, through Qt's network access with
// the application proxy in force.
class LockedDownFetch : public NetGuard {
protected:
    QNetworkReply::NetworkError fetch(const QString& address)
    {
        QNetworkRequest request{QUrl(address)};
        // A fetch that got through would wait for an answer; the limit keeps
        // the test from hanging then, and the error tells it apart.
        request.setTransferTimeout(5000);
        QNetworkReply* reply = manager.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        if (!reply->isFinished())
            loop.exec();
        const auto error = reply->error();
        reply->deleteLater();
        return error;
    }
    QNetworkAccessManager manager;
};

TEST_F(LockedDownFetch, AnyHostEndsAtTheClosedProxyWithoutALookup)
{
    // Qt names the refusal differently for a plain request through the proxy
    // (connection refused) and a tunnel (unknown network error); what counts
    // is that every fetch failed at the proxy port: no lookup, and nothing
    // the guard had to stop.
    for (const char* address : {"http://hotels.example/hotsdetail.ctl?hotel=1", "https://elsewhere.example:8443/",
                                "http://192.0.2.7/"}) {
        const auto error = fetch(QString::fromLatin1(address));
        EXPECT_TRUE(error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::ProxyConnectionRefusedError
                    || error == QNetworkReply::UnknownNetworkError)
            << address << ": error " << error;
    }
    EXPECT_EQ(lookupsNow(), 0) << "a host name reached the resolver";
    EXPECT_EQ(refusedNow(), 0) << "a connection went elsewhere than the proxy port";
}

TEST_F(LockedDownFetch, LoopbackThatSkipsTheProxyIsStoppedByTheGuard)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    const auto error = fetch(address);
    EXPECT_TRUE(error == QNetworkReply::ConnectionRefusedError
                || error == QNetworkReply::ProxyConnectionRefusedError)
        << "error " << error;
    EXPECT_FALSE(server.hasPendingConnections());
    EXPECT_EQ(lookupsNow(), 0);
}

// Page fetches as the result-page target's loads make them, with every page
// answered at once: one attempt, a 404, and nothing sent anywhere. Without
// the answers each fetch is refused at the closed port and retried three
// times, a third of a second per fuzz input.
class InstantFetch : public NetGuard {
protected:
    void SetUp() override
    {
        NetGuard::SetUp();
        platform::Settings settings;
        settings.pageTimeoutS = 1;  // as the fuzz set-up has it
        platform::SetSettings(settings);
        fuzz::AnswerEveryPageAtOnce();
    }

    platform::PageResult fetch(const QString& address)
    {
        platform::PageResult result;
        bool done = false;
        int retries = 0;
        QEventLoop loop;
        const int timeoutS = platform::CurrentSettings().pageTimeoutS;
        platform::PageFetch page(QUrl(address), timeoutS, [&](const platform::PageResult& r) {
            result = r;
            done = true;
            loop.quit();
        });
        QObject::connect(&page, &platform::PageFetch::retrying, [&] { ++retries; });
        page.Start();
        // The page time-out ends a fetch that is never answered; this only
        // keeps a broken fetch from hanging the test.
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        if (!done)
            loop.exec();
        EXPECT_TRUE(done) << address.toStdString() << ": no report";
        EXPECT_EQ(retries, 0) << address.toStdString();
        return result;
    }
};

TEST_F(InstantFetch, EveryPageIsANotFoundAnsweredWithoutTheNetwork)
{
    const int answeredBefore = fuzz::AnsweredRequests();
    const int throughBefore = fuzz::ClosedPortConnects();
    const char* const addresses[] = {"http://hotels.example/hotsdetail.ctl?hotel=1",
                                     "https://elsewhere.example:8443/hotsavail.ctl?page=2",
                                     "http://192.0.2.7/a%20b?x=%FF"};
    for (const char* address : addresses) {
        const platform::PageResult result = fetch(QString::fromLatin1(address));
        EXPECT_TRUE(result.ok) << address << ": " << result.error.toStdString();
        EXPECT_EQ(result.httpStatus, fuzz::kAnswerStatus) << address;
        EXPECT_EQ(result.failure.kind, platform::FetchFailure::Kind::HttpStatus) << address;
        EXPECT_FALSE(result.failure.IsTransient()) << address;
        EXPECT_EQ(result.attempts, 1) << address;
        EXPECT_EQ(result.text, QString::fromLatin1(fuzz::kAnswerPage)) << address;
    }
    EXPECT_EQ(fuzz::AnsweredRequests() - answeredBefore, 3);
    EXPECT_EQ(lookupsNow(), 0);
    EXPECT_EQ(refusedNow(), 0);
    EXPECT_EQ(fuzz::ClosedPortConnects() - throughBefore, 0) << "a request went to the closed port";
}

TEST(FuzzFailure, ReportsWhatBrokeAndAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(fuzz::Fail("two walks disagree", QStringLiteral("field Dining")),
                 "fuzz property broken: two walks disagree\nfield Dining");
}

TEST(FuzzInput, BytesAreDecodedAsUtf8WithReplacement)
{
    const std::uint8_t bytes[] = {'H', 0xC3, 0xB4, 't', 0xFF, 'l'};
    EXPECT_EQ(fuzz::Utf8Text(bytes, sizeof bytes), QString::fromUtf8("H\xC3\xB4t\xEF\xBF\xBDl"));
    EXPECT_TRUE(fuzz::Utf8Text(nullptr, 0).isEmpty());
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
