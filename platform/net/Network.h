#pragma once
// HTTP access of the window thread: the one network access manager, how
// requests are built (User-Agent, routes from the settings) and the limits
// every page fetch obeys.

#include <QNetworkRequest>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;

namespace platform {

// Redirects a fetch follows before it fails.
constexpr int kMaxRedirects = 10;
// Bodies longer than this are cut to this many bytes.
constexpr qint64 kMaxBodyBytes = 16 * 1024 * 1024;
// Body bytes one browser navigation (the page and all its frames together)
// may fetch. Without it, 64 frames of 16 MiB each could hold 1 GiB of
// bodies at once, and several times that once decoded and parsed (a parse
// tree takes about ten times its text). 32 MiB still takes the largest page
// whole plus frames as large again; the site's result pages are far below
// it. Frames past the budget are cut or not fetched at all.
constexpr qint64 kNavigationBodyBudget = 32 * 1024 * 1024;

// Retries one page fetch makes at once after a transient failure (refused,
// dropped or reset connection, 503, 429...) before it reports the failure.
// A site that is restarting or briefly overloaded usually answers again
// within seconds; three retries with doubling delays wait about 14 s of the
// default 60 s page time-out (2 + 4 + 8 s), so a page that is really down
// still fails within the time-out, and a struggling site gets at most four
// requests for one page instead of a stream of them. Waiting longer is the
// caller's business (it knows how many pages wait behind this one).
constexpr int kQuickRetries = 3;

// The delay before quick retry `retry` (0 for the first) under a page
// time-out of `pageTimeoutS` seconds: base * 2^retry, where the base is a
// thirtieth of the time-out held between 50 ms and 2 s (60 s: 2, 4, 8 s;
// 1 s: 50, 100, 200 ms).
std::chrono::milliseconds QuickRetryDelay(int pageTimeoutS, int retry);

// The User-Agent every request sends: "hotelcrawler/<version>".
QByteArray UserAgent();

// The manager all fetches of the window thread share. Created on first use
// as a child of the application object, so it lives until the application
// object is destroyed; requires that a QCoreApplication exists. Window
// thread only.
QNetworkAccessManager& NetworkManager();

// True for the only addresses this program ever fetches: absolute http and
// https addresses with a host.
bool IsFetchable(const QUrl& address);

// The request that fetches `address` (which must be fetchable): our
// User-Agent, redirects left to the caller, and, when the settings in force
// route address's host:port elsewhere, the connection made to the route's
// target while the Host header (and, for https, the name the certificate is
// checked against) stay those of `address`.
QNetworkRequest BuildRequest(const QUrl& address);

}  // namespace platform
