#include "fuzz/FuzzSupport.h"

#include "platform/html/Com.h"

#include <QCoreApplication>
#include <QEvent>
#include <QNetworkProxy>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Defined in NetGuard.cpp: tells the guard which port it lets through.
void SetGuardedPort(std::uint16_t port);

namespace {

std::uint16_t closedPort = 0;
int closedSocket = -1;

}  // namespace

void LockDownNetwork()
{
    if (closedSocket >= 0)
        return;
    closedSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (closedSocket < 0)
        Fail("socket() for the closed port failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    // Bound but never listening: connecting to it is refused at once, and the
    // port stays ours for the whole run.
    if (::bind(closedSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(closedSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail("binding the closed port failed");
    closedPort = ntohs(address.sin_port);
    SetGuardedPort(closedPort);
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), closedPort));
}

std::uint16_t ClosedPort() { return closedPort; }

void InitComOnly()
{
    LockDownNetwork();
    if (FAILED(CoInitialize(nullptr)))
        Fail("CoInitialize failed");
}

void DrainEvents()
{
    // Deferred deletions posted while deleting others need another round;
    // a handful of rounds is plenty, and the bound keeps a run from spinning.
    for (int round = 0; round < 8; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "%s\n", detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

QString Utf8Text(const std::uint8_t* data, std::size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

ComPtr<IHTMLDocument2> ParsedDocument(const std::uint8_t* data, std::size_t size, const QUrl& address)
{
    ComPtr<IHTMLDocument2> document;
    if (CreateDocumentFromHtml(Utf8Text(data, size), address, document) != S_OK || !document)
        Fail("CreateDocumentFromHtml failed");
    return document;
}

}  // namespace fuzz
