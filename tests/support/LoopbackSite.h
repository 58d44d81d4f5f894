#pragma once
// A small HTTP server for tests, on a free loopback port and its own thread.

#include <httplib.h>

#include <QString>

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP server on a free loopback port, run on its own thread. Pages are
// added at any time; every request is logged with its Host and User-Agent.
// A held page answers only once Release() is called (or the server ends).
class LoopbackSite {
public:
    struct Seen {
        std::string path;
        std::string host;
        std::string userAgent;
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
        pages_[path] = Page{200, std::move(body), std::move(contentType), {}, false};
    }
    void Redirect(const std::string& path, std::string location, int status = 302)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{status, {}, "text/html", std::move(location), false};
    }
    void Hold(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        pages_[path] = Page{200, "<p>late</p>", "text/html", {}, true};
    }
    void Release()
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        released_cv_.notify_all();
    }

    int Requests(const std::string& path) const
    {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (const Seen& s : seen_)
            n += s.path == path ? 1 : 0;
        return n;
    }
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
    };

    void Answer(const httplib::Request& req, httplib::Response& res)
    {
        std::unique_lock lock(mutex_);
        if (req.path != "/__ready")
            seen_.push_back({req.path, req.get_header_value("Host"), req.get_header_value("User-Agent")});
        const auto it = pages_.find(req.path);
        if (it == pages_.end()) {
            res.status = 404;
            res.set_content("<p>missing</p>", "text/html");
            return;
        }
        const Page page = it->second;
        if (page.held)
            released_cv_.wait(lock, [this] { return released_; });
        res.status = page.status;
        if (!page.location.empty())
            res.set_header("Location", page.location);
        res.set_content(page.body, page.contentType.c_str());
    }

    httplib::Server server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
    std::map<std::string, Page> pages_;
    std::vector<Seen> seen_;
};
