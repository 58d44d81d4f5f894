#pragma once
// What every fuzz target shares: the one application object, the network
// lock-down that keeps fuzzed addresses off the network, and the way a broken
// property is reported so that libFuzzer records the input as a crash.
//
// Lifetime: everything set up here lives until the process exits; the fuzz
// targets call the Init functions from LLVMFuzzerInitialize, once.

#include "platform/html/Mshtml.h"

#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// Process set-up for targets that need the window toolkit: QT_QPA_PLATFORM
// is forced to "offscreen", XDG_CONFIG_HOME and XDG_DATA_HOME point into a
// private temporary folder, the TApplication is created, COM is initialised
// for this thread, message boxes are swallowed (an error box, i.e. an
// exception escaping an event handler, is reported through Fail), the
// network is locked down (LockDownNetwork), every page request is answered
// at once (InstantAnswers.h) and the settings in force get a
// temporary SQLite Hotels_Db with every table, a one-second page timeout and
// timers that never tick during a run. The temporary Hotels_Db is written
// without waiting for the disk (synchronous off, the journal in memory): it
// is thrown away with the run, crash or not.
void InitApplication(int* argc, char*** argv);

// Makes the temporary Hotels_Db of InitApplication anew, empty, with every
// table: for targets whose inputs write rows that no later input reads, so
// that a long run's database does not grow without end. No connection to it
// may be open (the store opens one per use on SQLite, so between inputs none
// is). Fails (Fail) when the file cannot be removed or made.
void RenewHotelsDb();

// Process set-up for targets that only parse: COM initialised for this thread.
void InitComOnly();

// Makes network access beyond one closed loopback port impossible:
//  - a TCP socket is bound to 127.0.0.1 and never listens, so connecting to
//    its port is refused by the kernel and no other process can take it;
//  - Qt's application proxy is an HTTP proxy on that port, so a request for
//    any host goes to the proxy and its name is never looked up;
//  - every host of the form host:port a page may name goes through the
//    proxy; loopback addresses that Qt sends directly meet the next layer;
//  - this program's own definitions of connect() and getaddrinfo() (see
//    NetGuard.cpp) refuse every IPv4/IPv6 connect other than to that port,
//    and every name lookup, and count the refusals.
// Idempotent.
void LockDownNetwork();

// The closed port every request ends at.
std::uint16_t ClosedPort();

// Refusals counted by the connect()/getaddrinfo() guard so far.
int RefusedConnects();
int RefusedLookups();
// Connects the guard let through to the closed port so far (each refused by
// the kernel, and retried by a page fetch as a transient failure).
int ClosedPortConnects();

// Runs the application's posted events and deferred deletions until none are
// left (bounded), so that one input's objects are gone before the next one.
void DrainEvents();

// Reports a broken property with enough context to read the failure without
// a debugger, then aborts: libFuzzer keeps the input as a crash reproducer.
[[noreturn]] void Fail(const char* what, const QString& detail = QString());

// The fuzzer's bytes as text, decoded as UTF-8 (malformed sequences become
// U+FFFD, as a page decoded by the program would show them).
QString Utf8Text(const std::uint8_t* data, std::size_t size);

// The fuzzer's bytes (as Utf8Text) parsed into a complete document whose
// address is `address`; a parse that yields no document is a Fail.
ComPtr<IHTMLDocument2> ParsedDocument(const std::uint8_t* data, std::size_t size, const QUrl& address);

}  // namespace fuzz
