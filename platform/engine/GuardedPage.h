#pragma once
// A page of the desk's profile that nothing it loads can use to hold the
// crawl or reach the desktop: script dialogs (alert, confirm, prompt, the
// leave-page question) are answered at once and logged, never shown;
// permission requests (location, camera, microphone, notifications,
// clipboard...) are denied; only http and https addresses load; new windows
// never open. It also counts the requests its documents' scripts make, for
// the settling rule (see EngineLoad).

#include <QWebEnginePage>
#include <QUrl>

#include <atomic>
#include <functional>

class QWebEngineUrlRequestInterceptor;

namespace platform::engine {

class GuardedPage : public QWebEnginePage {
    Q_OBJECT
public:
    // A page of DeskProfile(), with the settling scripts installed.
    explicit GuardedPage(QObject* parent = nullptr);
    ~GuardedPage() override;

    // Asked when a page wants a new window (a link with a target, window.open
    // with a gesture); the window never opens either way. A handler returns
    // true to have this page load `address` instead.
    std::function<bool(const QUrl& address)> onNewWindow;

    // Asked for every link followed in the page's top document; the page
    // itself does not go there. Unset, the link loads in the page.
    std::function<void(const QUrl& address)> onOperatorNavigation;

    // Requests for fetch() and XMLHttpRequest the page's documents started
    // since the last ResetRequestCount.
    int ScriptRequestsStarted() const { return scriptRequests_.load(); }
    void ResetRequestCount() { scriptRequests_ = 0; }

    // Redirects the main document took since the last ResetRedirects; a
    // refused redirect (to anything but http or https, or one too many)
    // sets RedirectRefused.
    void ResetRedirects();
    bool RedirectRefused() const { return redirectRefused_; }
    QString RefusedWhy() const { return refusedWhy_; }

protected:
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage* createWindow(WebWindowType type) override;

private:
    class Counter;
    Counter* counter_;
    std::atomic<int> scriptRequests_{0};
    int redirects_ = 0;
    bool redirectRefused_ = false;
    QString refusedWhy_;
};

}  // namespace platform::engine
