#pragma once
// A small HTTP server for tests, on a free loopback port and its own thread.

#include <httplib.h>

#include <QString>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server on a free loopback port, run on its own thread. Pages are
// added at any time (from any thread); every request is logged with its
// Host and User-Agent. A held page answers only once Release() is called
// (or the server ends). Faults: a dropped answer sends its headers and half
// its body, then closes the connection (the client sees the connection
// closed before the answer was whole); a status page answers its status
// with a short body "<p>status N</p>" unless the fault gives its own.
//
// Qt's HTTP client sends a GET once more by itself when it notices the
// connection closed before it has read the answer's status line, as a
// loaded machine can make a dropped answer look: one fetch may then use up
// two of FailTimes' drops. Tests that count the requests of drops allow
// for it.
class LoopbackSite {
public:
    // How FailTimes fails a request: dropped, or answered with a status
    // (and a Retry-After header when `retryAfter` is not empty, and `body`
    // instead of the short status page when it is not empty).
    struct Fault {
        int status = 0;  // 0: dropped
        std::string retryAfter;
        std::string body;

        static Fault Dropped() { return {}; }
        static Fault Answering(int status, std::string retryAfter = {}) { return {status, std::move(retryAfter), {}}; }
        static Fault AnsweringWith(int status, std::string body) { return {status, {}, std::move(body)}; }
    };

    struct Seen {
        std::string path;
        std::string host;
        std::string userAgent;
        std::string method;
    };

    LoopbackSite()
    {
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { Answer(req, res); });
        // One request per connection: a kept-alive connection would hold a
        // server worker, and with it stop(), for the whole keep-alive timeout.
        server_.set_keep_alive_max_count(1);
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // One round trip: once it is answered the accept loop runs, so
        // stop() in the destructor cannot come before it.
        httplib::Client("127.0.0.1", port_).Get("/__ready");
    }
    ~LoopbackSite()
    {
        Release();
        server_.stop();
        thread_.join();
    }

    int Port() const { return port_; }
    QString Url(const QString& path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path); }

    void Serve(const std::string& path, std::string body, std::string contentType = "text/html")
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{200, std::move(body), std::move(contentType), {}, false, false, {}, {}};
    }
    // `path` answers `gzipBody` as it is, with Content-Encoding: gzip (and
    // the Content-Length of the compressed bytes). Its type is not a text
    // one: the server compresses text answers itself, in whichever encoding
    // the client accepts, and would compress this one a second time.
    void ServeGzipped(const std::string& path, std::string gzipBody)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{200, std::move(gzipBody), "application/octet-stream", {}, false, false, {}, "gzip"};
    }
    void Redirect(const std::string& path, std::string location, int status = 302)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{status, {}, "text/html", std::move(location), false, false, {}, {}};
    }
    void Hold(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{200, "<p>late</p>", "text/html", {}, true, false, {}, {}};
    }
    // Every request for `path` is dropped (replaces what was set for it).
    void Drop(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{200, {}, "text/html", {}, false, true, {}, {}};
    }
    // Every request for `path` is answered `status`, with the header
    // Retry-After: `retryAfter` unless it is empty (replaces what was set).
    void Status(const std::string& path, int status, std::string retryAfter = {})
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{status, StatusBody(status), "text/html", {}, false, false, std::move(retryAfter), {}};
    }
    // The next `n` requests for `path` fail as `how`; the ones after get
    // what Serve (or Redirect, Hold...) set for it, before or after this.
    // The body a dropped one starts to send is that page's.
    void FailTimes(const std::string& path, int n, Fault how)
    {
        std::lock_guard lock(mutex_);
        failing_[path] = Failing{n, std::move(how)};
    }

    void Release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        released_cv_.notify_all();
    }

    // GET requests for `path`: the page asked for.
    int Requests(const std::string& path) const { return Count(path, "GET"); }
    // HEAD requests for `path`: questions about its headers (a HEAD sees a
    // fault of FailTimes without using one up).
    int Heads(const std::string& path) const { return Count(path, "HEAD"); }
    std::vector<Seen> Log() const
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }

private:
    struct Page {
        int status = 200;
        std::string body;
        std::string contentType;
        std::string location;
        bool held = false;
        bool dropped = false;
        std::string retryAfter;
        std::string contentEncoding;
    };
    struct Failing {
        int remaining = 0;
        Fault how;
    };

    int Count(const std::string& path, const std::string& method) const
    {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const Seen& s : seen_)
            n += s.path == path && s.method == method ? 1 : 0;
        return n;
    }

    static std::string StatusBody(int status) { return "<p>status " + std::to_string(status) + "</p>"; }

    void Answer(const httplib::Request& req, httplib::Response& res)
    {
        std::unique_lock lock(mutex_);
        if (req.path != "/__ready")
            seen_.push_back({req.path, req.get_header_value("Host"), req.get_header_value("User-Agent"), req.method});
        const auto it = pages_.find(req.path);
        Page page = it != pages_.end() ? it->second : Page{404, "<p>missing</p>", "text/html", {}, false, false, {}, {}};
        if (auto f = failing_.find(req.path); f != failing_.end() && f->second.remaining > 0) {
            if (req.method != "HEAD")
                --f->second.remaining;
            const Fault& how = f->second.how;
            if (how.status == 0)
                page.dropped = true;
            else
                page = Page{how.status, how.body.empty() ? StatusBody(how.status) : how.body, "text/html", {}, false, false,
                            how.retryAfter, {}};
        }
        if (page.held)
            released_cv_.wait(lock, [this] { return released_; });
        lock.unlock();
        if (page.dropped) {
            Cut(res, page);
            return;
        }
        res.status = page.status;
        if (!page.location.empty())
            res.set_header("Location", page.location);
        if (!page.retryAfter.empty())
            res.set_header("Retry-After", page.retryAfter);
        if (!page.contentEncoding.empty())
            res.set_header("Content-Encoding", page.contentEncoding);
        res.set_content(page.body, page.contentType.c_str());
    }

    // Announces the whole body, sends the headers and half of it, then has
    // the server close the connection: a content provider that returns
    // false ends the connection there.
    static void Cut(httplib::Response& res, const Page& page)
    {
        auto body = std::make_shared<std::string>(
            page.body.empty() ? std::string("<html><body><p>this answer is cut short</p></body></html>") : page.body);
        res.status = 200;
        res.set_content_provider(body->size(), page.contentType.c_str(),
                                 [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     if (offset == 0)
                                         sink.write(body->data(), body->size() / 2);
                                     return false;
                                 });
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
    std::map<std::string, Page> pages_;
    std::map<std::string, Failing> failing_;
    std::vector<Seen> seen_;
};
