// hotelcrawler-sample-site: a small hotel-search site on the loopback
// interface, with fixed content, for the tests and the demo.
//
// Standard output carries exactly one line, "listening on HOST:PORT", once
// the port is bound. Standard error carries one line per request, written
// before the request is handled: "METHOD TARGET Host: HOST", with "FAULT
// drop ", "FAULT 503 " or "FAULT 429 " in front when a fault mode fails it.

#include "Faults.h"
#include "ModernPages.h"
#include "Pages.h"
#include "Sessions.h"
#include "tools/common/CommandLine.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace {

// What --help shows under the usage line.
const char* const kDescription =
    "Serves a small hotel-search site with fixed content on a loopback address.\n"
    "--port 0 picks a free port. The first line on standard output is\n"
    "\"listening on HOST:PORT\"; every request is logged as one line on standard\n"
    "error (method, path with query, Host header). SIGTERM or SIGINT stops it.\n"
    "\n"
    "Pages:\n"
    "  /cannonball.ctl?Service=LODGEVISTAS&...&airport=CODE&...   first result page\n"
    "                  (any other fixed parameter, or order, answers 400)\n"
    "  /hotsavail.ctl?airport=CODE&left=K&page=N   result page N (left is ignored)\n"
    "  /hotsavail.ctl?airport=upn&page=N   result page N of upn (no left)\n"
    "  /hotsdetail.ctl?hotel=ID             detail page (404 for an unknown id)\n"
    "  /hotsphoto.ctl?hotel=ID, /map.ctl?hotel=ID   small pages\n"
    "Destinations: osl (3 result pages: 4+4+2 hotels), adl (1 page, 3 hotels),\n"
    "krk (2 pages: 6+6 hotels), upn (4 pages: 3+4+3+3 hotels, addresses\n"
    "numbered upwards), slo (1 page: slow-1, slow-2), nil and anything else\n"
    "(no hotels).\n"
    "\n"
    "Test hooks:\n"
    "  /hotsdetail.ctl?hotel=slow-NAME   held until /release?hotel=slow-NAME is\n"
    "                                    requested (each release lets one held or\n"
    "                                    future request through), or 120 s pass\n"
    "  /release?hotel=slow-NAME          releases one such request\n"
    "  /redirect?to=/PATH                answers 302 to /PATH (site paths only;\n"
    "                                    the rest of the query is the target, with\n"
    "                                    its own '?' written as %3F)\n"
    "\n"
    "Fault modes (switched at run time; each answers one text/plain line, 400 for\n"
    "a bad parameter; --fault MODE?PARAMS sets one at start, e.g.\n"
    "--fault 'flaky?percent=25&seed=7'):\n"
    "  /fault/outage?ms=N                for the next N ms every request is dropped\n"
    "  /fault/flaky?percent=P&seed=S     from now on P% of requests fail, half with\n"
    "                                    503, half dropped, as drawn by a generator\n"
    "                                    seeded with S (default 1): the same seed and\n"
    "                                    order of requests fail the same requests\n"
    "  /fault/slow?ms=N                  every answer waits N ms first\n"
    "  /fault/retry-after?percent=P&seconds=S[&seed=X]\n"
    "                                    P% of requests answer 429 with\n"
    "                                    \"Retry-After: S\"\n"
    "  /fault/fail-search?code=C&times=N the next N searches of C answer 503\n"
    "  /fault/ad-frame?status=N          result pages hold an ad frame, /ad.ctl,\n"
    "                                    answering N (200: a small ad page)\n"
    "  /fault/off                        every mode ends\n"
    "A dropped request gets the headers of a page and its first bytes, then the\n"
    "connection closes. An outage drops everything; otherwise flaky draws first,\n"
    "then retry-after. Setting a mode again replaces its settings. Requests a\n"
    "fault fails are logged with \"FAULT drop \", \"FAULT 503 \" or \"FAULT 429 \"\n"
    "in front. The control requests /fault/..., /mode/... and /release are never\n"
    "faulted.\n"
    "\n"
    "Modern mode (--modern at start; /mode/modern and /mode/classic switch at run\n"
    "time, answering one text/plain line): pages as script-heavy sites write them.\n"
    "  - A search answers Set-Cookie: hcsession=TOKEN; Path=/; HttpOnly (a new\n"
    "    random token each time, remembered until the site stops).\n"
    "  - Result pages (/hotsavail.ctl), detail pages (/hotsdetail.ctl,\n"
    "    /hotsphoto.ctl, /map.ctl) and /paging.json need a cookie the site handed\n"
    "    out; without one pages answer 200 with a \"Session expired\" page without\n"
    "    links, /paging.json answers 403.\n"
    "  - Result pages hold their hotels as JSON in <script id=\"data\">; a script\n"
    "    writes the classic anchors on DOMContentLoaded, and the paging anchors\n"
    "    150 ms later from /paging.json?airport=CODE&page=N.\n"
    "  - Detail pages: a script writes the street line of hotel_info.\n"
    "  - The first result page of adl raises alert() and confirm() on load.\n"
    "  - Every modern page uses /site.css (grid, flex, gradients).\n"
    "  - /mode/turned-away answers how many requests got the \"Session expired\"\n"
    "    page so far.\n"
    "Classic mode (the default) ignores cookies and sets none.\n"
    "\n"
    "Exit status: 0 stopped by a signal, 1 the port could not be bound, 2 wrong usage.";

// Detail requests for "slow-..." ids wait here until released. Each release
// is one token: it lets through one waiting request, or the next one to
// arrive, so a release that overtakes its request is not lost.
class SlowGate {
public:
    // Blocks until a token for `id` is available, the gate is closed, or
    // `limit` passes.
    void Hold(const std::string& id, std::chrono::seconds limit)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [&] { return closed_ || tokens_[id] > 0; });
        if (tokens_[id] > 0)
            --tokens_[id];
    }

    void Release(const std::string& id)
    {
        {
            std::lock_guard lock(mutex_);
            ++tokens_[id];
        }
        changed_.notify_all();
    }

    // Lets every present and future request through; used at shutdown so
    // that no worker stays blocked.
    void Close()
    {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, int> tokens_;
    bool closed_ = false;
};

// Tells the main thread that the server has started running.
class ServingState {
public:
    void MarkRunning()
    {
        {
            std::lock_guard lock(mutex_);
            running_ = true;
        }
        changed_.notify_all();
    }

    void WaitUntilRunning()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return running_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
};

// Numeric loopback addresses only (127.0.0.0/8, ::1): names could resolve
// to anything.
bool IsLoopbackHost(const std::string& host)
{
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

// `marker` is empty, or the fault that fails the request ("503", "drop").
void LogRequest(const httplib::Request& req, const std::string& marker)
{
    const std::string line = (marker.empty() ? std::string() : "FAULT " + marker + " ") + req.method + " " +
                             req.target + " Host: " + req.get_header_value("Host") + "\n";
    // One write per line keeps lines from concurrent workers whole.
    static std::mutex logMutex;
    std::lock_guard lock(logMutex);
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

void SendHtml(httplib::Response& res, int status, const std::string& html)
{
    res.status = status;
    res.set_content(html, "text/html; charset=utf-8");
}

void SendError(httplib::Response& res, int status, const std::string& text)
{
    SendHtml(res, status, site::ErrorPage(status, text));
}

std::string QueryOf(const httplib::Request& req)
{
    const size_t q = req.target.find('?');
    return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

void SendText(httplib::Response& res, int status, const std::string& line)
{
    res.status = status;
    res.set_content(line + "\n", "text/plain; charset=utf-8");
}

// Control requests steer the site and must get through whatever it is told
// to do with the rest.
bool IsControlRequest(const httplib::Request& req)
{
    return req.path.rfind("/fault/", 0) == 0 || req.path.rfind("/mode/", 0) == 0 || req.path == "/release";
}

// Answers the way a fault fails a request. A drop announces a whole page,
// sends its first bytes and gives up: a content provider that returns false
// makes the server close the connection, so the client gets a status line
// and a short body, never the whole answer.
void SendFault(httplib::Response& res, const site::FaultAction& action)
{
    switch (action.kind) {
    case site::FaultAction::Kind::None:
        return;
    case site::FaultAction::Kind::Drop:
        res.status = 200;
        res.set_content_provider(4096, "text/html; charset=utf-8", [](size_t, size_t, httplib::DataSink& sink) {
            static const std::string start = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n";
            sink.write(start.data(), start.size());
            return false;
        });
        return;
    case site::FaultAction::Kind::Unavailable:
        return SendError(res, 503, "The service is unavailable; try again later.");
    case site::FaultAction::Kind::TooManyRequests:
        res.set_header("Retry-After", std::to_string(action.retryAfterS));
        return SendError(res, 429, "Too many requests; try again later.");
    }
}

// Every request passes here first: it is logged, and failed when a fault
// mode says so.
httplib::Server::HandlerResponse PreRoute(site::FaultPlan& faults, const httplib::Request& req,
                                          httplib::Response& res)
{
    if (IsControlRequest(req)) {
        LogRequest(req, std::string());
        return httplib::Server::HandlerResponse::Unhandled;
    }
    // A search names its destination, which fail-search tells apart.
    std::string searchCode;
    if (req.path == "/cannonball.ctl" && !site::CheckSearchQuery(QueryOf(req), searchCode).empty())
        searchCode.clear();
    // A HEAD (a client asking for the Retry-After of a failed page) gets
    // what a GET would, without using up a search's failures.
    const site::FaultAction action =
        faults.Decide(site::FaultPlan::Clock::now(), searchCode, req.method == "HEAD");
    LogRequest(req, site::FaultMarker(action));
    faults.Delay(action.delay);
    if (!action.Failed())
        return httplib::Server::HandlerResponse::Unhandled;
    SendFault(res, action);
    return httplib::Server::HandlerResponse::Handled;
}

// Modern mode: whether it is on, and the sessions its searches opened.
struct ModernMode {
    std::atomic<bool> on{false};
    site::Sessions sessions;
    // Result and detail requests answered "session expired" so far.
    std::atomic<int> turnedAway{0};

    // Whether `req` brings back a session token the site handed out. Every
    // Cookie header counts, should a client split its cookies.
    bool HasSession(const httplib::Request& req)
    {
        const size_t count = req.get_header_value_count("Cookie");
        for (size_t i = 0; i < count; ++i)
            if (sessions.Knows(site::CookieValue(req.get_header_value("Cookie", i), site::kSessionCookie)))
                return true;
        return false;
    }
};

// In modern mode (as `modern` read it for this request), answers a request
// without a session with the "session expired" page and returns true.
bool TurnedAway(ModernMode& mode, bool modern, const httplib::Request& req, httplib::Response& res)
{
    if (!modern || mode.HasSession(req))
        return false;
    ++mode.turnedAway;
    SendHtml(res, 200, site::SessionExpiredPage());
    return true;
}

// The page= parameter of a result page request; 0 when it is not a number.
int PageParam(const httplib::Request& req)
{
    const std::string pageText = req.get_param_value("page");
    if (!pageText.empty() && pageText.size() < 6 && pageText.find_first_not_of("0123456789") == std::string::npos)
        return std::stoi(pageText);
    return 0;
}

void AddRoutes(httplib::Server& server, SlowGate& gate, site::FaultPlan& faults, ModernMode& mode)
{
    server.Get(R"(/mode/([^/]*))", [&mode](const httplib::Request& req, httplib::Response& res) {
        const std::string wanted = req.matches[1].str();
        if (wanted == "turned-away")
            return SendText(res, 200, std::to_string(mode.turnedAway.load()));
        if (wanted != "modern" && wanted != "classic")
            return SendText(res, 400, "unknown mode \"" + wanted + "\": modern or classic");
        mode.on = wanted == "modern";
        SendText(res, 200, "mode " + wanted);
    });

    server.Get("/site.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(site::SiteCss(), "text/css; charset=utf-8");
    });

    server.Get(R"(/fault/([^/]*))", [&faults](const httplib::Request& req, httplib::Response& res) {
        std::string problem;
        const auto done = faults.Apply(req.matches[1].str(), site::ParseFaultParams(QueryOf(req)),
                                       site::FaultPlan::Clock::now(), problem);
        if (!done)
            return SendText(res, 400, problem);
        SendText(res, 200, *done);
    });

    server.Get("/", [](const httplib::Request&, httplib::Response& res) { SendHtml(res, 200, site::IndexPage()); });

    // A result page, with the ad frame when that fault mode is on.
    const auto sendResultPage = [&faults](httplib::Response& res, std::string html) {
        if (faults.AdFrameStatus() != 0)
            html = site::WithAdFrame(std::move(html));
        SendHtml(res, 200, html);
    };

    // A search opens a new session in modern mode, whatever cookie it
    // brings: its answer is where a session starts.
    server.Get("/cannonball.ctl", [sendResultPage, &mode](const httplib::Request& req, httplib::Response& res) {
        const bool modern = mode.on;
        std::string airport;
        const std::string problem = site::CheckSearchQuery(QueryOf(req), airport);
        if (!problem.empty())
            return SendError(res, 400, "Bad search request: " + problem);
        if (!modern)
            return sendResultPage(res, *site::ResultPage(airport, 1));
        res.set_header("Set-Cookie", site::SessionCookieHeader(mode.sessions.Open()));
        sendResultPage(res, *site::ModernResultPage(airport, 1));
    });

    server.Get("/hotsavail.ctl", [sendResultPage, &mode](const httplib::Request& req, httplib::Response& res) {
        const bool modern = mode.on;
        if (TurnedAway(mode, modern, req, res))
            return;
        const std::string airport = req.get_param_value("airport");
        const int page = PageParam(req);
        const auto html = modern ? site::ModernResultPage(airport, page) : site::ResultPage(airport, page);
        if (!html)
            return SendError(res, 404, "No such result page.");
        sendResultPage(res, *html);
    });

    server.Get("/paging.json", [&mode](const httplib::Request& req, httplib::Response& res) {
        if (mode.on && !mode.HasSession(req)) {
            res.status = 403;
            return res.set_content("{\"error\":\"session expired\"}\n", "application/json");
        }
        const auto json = site::PagingJson(req.get_param_value("airport"), PageParam(req));
        res.status = json ? 200 : 404;
        res.set_content(json ? *json : "{\"error\":\"no such result page\"}\n", "application/json");
    });

    server.Get("/ad.ctl", [&faults](const httplib::Request&, httplib::Response& res) {
        const int status = faults.AdFrameStatus();
        if (status == 200)
            return SendHtml(res, 200, site::AdPage());
        SendError(res, status == 0 ? 404 : status, "No advertisement here.");
    });

    server.Get("/hotsdetail.ctl", [&gate, &mode](const httplib::Request& req, httplib::Response& res) {
        const bool modern = mode.on;
        if (TurnedAway(mode, modern, req, res))
            return;
        const std::string id = req.get_param_value("hotel");
        const auto hotel = site::FindHotel(id);
        if (!hotel)
            return SendError(res, 404, "No such hotel.");
        if (site::IsSlowHotelId(id))
            gate.Hold(id, std::chrono::seconds(120));
        SendHtml(res, 200, modern ? site::ModernDetailPage(*hotel) : site::DetailPage(*hotel));
    });

    server.Get("/release", [&gate](const httplib::Request& req, httplib::Response& res) {
        const std::string id = req.get_param_value("hotel");
        if (!site::IsSlowHotelId(id))
            return SendError(res, 400, "Only slow-... hotels can be released.");
        gate.Release(id);
        res.set_content("released " + id + "\n", "text/plain; charset=utf-8");
    });

    const auto smallPage = [&mode](std::string (*page)(const site::Hotel&)) {
        return [page, &mode](const httplib::Request& req, httplib::Response& res) {
            if (TurnedAway(mode, mode.on, req, res))
                return;
            const auto hotel = site::FindHotel(req.get_param_value("hotel"));
            if (!hotel)
                return SendError(res, 404, "No such hotel.");
            SendHtml(res, 200, page(*hotel));
        };
    };
    server.Get("/hotsphoto.ctl", smallPage(&site::PhotoPage));
    server.Get("/map.ctl", smallPage(&site::MapPage));

    server.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
        // The target is the whole rest of the query, so that a path with a
        // query of its own needs only its '?' escaped:
        // "to=/hotsavail.ctl%3Fairport=osl&page=2". Only paths of this site
        // are accepted: "//host/..." would leave it.
        const std::string query = QueryOf(req);
        const std::string to = query.rfind("to=", 0) == 0 ? site::PercentDecode(query.substr(3)) : std::string();
        if (to.empty() || to[0] != '/' || (to.size() > 1 && to[1] == '/') ||
            to.find_first_of("\r\n") != std::string::npos)
            return SendError(res, 400, "The redirect target must be a path of this site.");
        res.set_redirect(to, 302);
    });

    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            SendError(res, res.status, res.status == 404 ? "Not found." : "Error.");
    });
}

}  // namespace

int main(int argc, char** argv)
{
    tools::CommandLine line("hotelcrawler-sample-site",
                            QStringLiteral("--port N [--host 127.0.0.1] [--modern] [--fault MODE[?PARAMS]]..."),
                            QString::fromUtf8(kDescription),
                            {{{QStringLiteral("port")}, QStringLiteral("N"),
                              QStringLiteral("The port to listen on (0 picks a free one). Required.")},
                             {{QStringLiteral("host")}, QStringLiteral("ADDRESS"),
                              QStringLiteral("A numeric loopback address to listen on (default 127.0.0.1).")},
                             {{QStringLiteral("fault")}, QStringLiteral("MODE[?PARAMS]"),
                              QStringLiteral("A fault mode in force from the start; may be given more than once.")},
                             {{QStringLiteral("modern")}, QString(),
                              QStringLiteral("Start in modern mode (cookies, script-built pages); see above.")}});
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> done = line.Parse(arguments, std::cout, std::cerr))
        return *done;

    site::FaultPlan faults;
    for (const QString& given : line.Values(QStringLiteral("fault"))) {
        const std::string value = given.toStdString();
        const size_t q = value.find('?');
        std::string problem;
        if (!faults.Apply(value.substr(0, q), site::ParseFaultParams(q == std::string::npos ? "" : value.substr(q + 1)),
                          site::FaultPlan::Clock::now(), problem))
            return line.UsageError(std::cerr, QStringLiteral("bad --fault \"%1\": %2")
                                                  .arg(given, QString::fromStdString(problem)));
    }
    if (!line.IsSet(QStringLiteral("port")))
        return line.UsageError(std::cerr, QStringLiteral("--port is required"));
    bool numeric = false;
    const QString portText = line.Value(QStringLiteral("port"));
    const int port = portText.toInt(&numeric, 10);
    if (!numeric || port < 0 || port > 65535 || !portText.at(0).isDigit())
        return line.UsageError(std::cerr, QStringLiteral("bad port \"%1\"").arg(portText));
    const std::string host =
        line.IsSet(QStringLiteral("host")) ? line.Value(QStringLiteral("host")).toStdString() : std::string("127.0.0.1");
    if (!IsLoopbackHost(host))
        return line.UsageError(std::cerr, QStringLiteral("refusing to listen on \"%1\": loopback addresses only")
                                              .arg(QString::fromStdString(host)));

    // The signals are taken synchronously by sigwait below, so they are
    // blocked before any thread starts (threads inherit the mask).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a client that hangs up must not end the site

    httplib::Server server;
    ServingState serving;
    // More workers than the default, so a few held "slow-" requests leave
    // room for the rest of the traffic. The server builds its queue once it
    // counts as running, which is when stop() starts to take effect: that
    // moment is announced to the main thread.
    server.new_task_queue = [&serving] {
        serving.MarkRunning();
        return new httplib::ThreadPool(16);
    };
    server.set_keep_alive_timeout(1);  // bounds how long shutdown waits for idle connections
    SlowGate gate;
    ModernMode mode;
    mode.on = line.IsSet(QStringLiteral("modern"));
    server.set_pre_routing_handler([&faults](const httplib::Request& req, httplib::Response& res) {
        return PreRoute(faults, req, res);
    });
    AddRoutes(server, gate, faults, mode);

    int bound = port;
    if (port == 0)
        bound = server.bind_to_any_port(host);
    else if (!server.bind_to_port(host, port))
        bound = -1;
    if (bound <= 0) {
        return line.Failure(std::cerr, QStringLiteral("cannot listen on %1:%2").arg(QString::fromStdString(host)).arg(port));
    }
    std::thread servingThread([&] {
        server.listen_after_bind();
        serving.MarkRunning();  // in case it never got that far
        // If serving ends on its own, wake the main thread so that it exits.
        kill(getpid(), SIGTERM);
    });
    // Announce the port only once a stop request can take effect; a stop
    // that came earlier would be lost and the site would never end.
    serving.WaitUntilRunning();
    const std::string shownHost = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::printf("listening on %s:%d\n", shownHost.c_str(), bound);
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    gate.Close();
    faults.Close();
    server.stop();
    servingThread.join();
    return 0;
}
