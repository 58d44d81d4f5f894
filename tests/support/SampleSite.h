#pragma once
// Runs the sample hotel-search site (hotelcrawler-sample-site) for one test.
//
// The constructor starts the program as a child process on a free loopback
// port, with `extraArguments` after "--port 0" (e.g. "--fault", "flaky?..."),
// and waits (at most 20 s, pumping the Qt event loop) for its
// "listening on 127.0.0.1:PORT" line; started() tells whether that worked.
// The destructor stops the process (SIGTERM, then SIGKILL if it does not end
// within 5 s). Every request the site receives becomes one line
// "METHOD TARGET Host: HOST" in requestLines(), in arrival order; a request
// that a fault mode failed has "FAULT drop ", "FAULT 503 " or "FAULT 429 " in
// front.
//
// Use from the thread that owns the TApplication. Not copyable.

#include "platform/settings/Settings.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <map>
#include <string>

class SampleSite {
public:
    explicit SampleSite(const QStringList& extraArguments = {});
    ~SampleSite();
    SampleSite(const SampleSite&) = delete;
    SampleSite& operator=(const SampleSite&) = delete;

    bool started() const { return port_ > 0; }
    // The loopback port the site listens on; 0 when it did not start.
    int port() const { return port_; }

    // Every request line logged so far, including those still in the pipe
    // at the time of the call.
    QStringList requestLines();
    // The number of logged request lines containing `text`.
    int countRequestsContaining(const QString& text);
    // The number of logged request lines that a fault failed and that
    // contain `text`.
    int countFaultsContaining(const QString& text = {});
    // The hotel ids of the detail pages requested so far, in arrival order,
    // failed ones included.
    QStringList requestedHotelIds();
    // Pumps the event loop until a logged request line contains `text`, or
    // `timeoutMs` passes; returns whether it was seen.
    bool waitForRequestContaining(const QString& text, int timeoutMs = 20000);

    // Lets one held "slow-..." detail request through (sends /release).
    // Blocks for the one round trip; returns whether the site answered 200.
    bool release(const QString& hotelId);

    // A plain GET of `pathAndQuery` with the Host header "hotels.example",
    // bypassing Qt. Returns the status (0 when the connection failed or
    // closed before the answer was whole) and stores the body in `body` when
    // given.
    int get(const std::string& pathAndQuery, std::string* body = nullptr);

    // The whole answer to such a GET: status (0 as for get()), body and
    // headers, their names in lower case.
    struct Answer {
        int status = 0;
        std::string body;
        std::multimap<std::string, std::string> headers;
    };
    // A GET as get() does it, with `cookie` as the Cookie header when it is
    // not empty ("hcsession=TOKEN").
    Answer fetch(const std::string& pathAndQuery, const std::string& cookie = {});

    // Switches a fault mode: sends /fault/`modeAndQuery` ("flaky?percent=25",
    // "off"). Blocks for the one round trip; returns whether the site
    // answered 200.
    bool fault(const std::string& modeAndQuery);

    // Default settings with [network] routes sending hotels.example:80 here.
    platform::Settings routedSettings() const;

private:
    void readErrors();
    void drain();

    QProcess process_;
    int port_ = 0;
    QByteArray partialLine_;
    QStringList lines_;
};
