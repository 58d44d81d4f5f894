#include "platform/engine/GuardedPage.h"

#include "platform/base/Report.h"
#include "platform/engine/DeskProfile.h"
#include "platform/engine/PageScripts.h"
#include "platform/net/Network.h"

#include <QAuthenticator>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScriptCollection>
#include <QWebEngineUrlRequestInterceptor>

namespace platform::engine {

// Counts the script requests of one page. Chromium may call it from another
// thread, hence the atomic counter it adds to.
class GuardedPage::Counter final : public QWebEngineUrlRequestInterceptor {
public:
    Counter(std::atomic<int>& count, QObject* parent) : QWebEngineUrlRequestInterceptor(parent), count_(count) {}
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeXhr)
            ++count_;
    }

private:
    std::atomic<int>& count_;
};

GuardedPage::GuardedPage(QObject* parent)
    : QWebEnginePage(DeskProfile(), parent), counter_(new Counter(scriptRequests_, this))
{
    setUrlRequestInterceptor(counter_);
    scripts().insert(QuietWatchScript());

    // Every request a page can make of the person at the machine is turned
    // down at once, so that an unattended crawl never waits for an answer.
    connect(this, &QWebEnginePage::featurePermissionRequested, this, [this](const QUrl& origin, Feature feature) {
        Report(QStringLiteral("permission %1 denied to %2").arg(int(feature)).arg(origin.toString()));
        setFeaturePermission(origin, feature, PermissionDeniedByUser);
    });
    connect(this, &QWebEnginePage::quotaRequested, this, [](QWebEngineQuotaRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    // Left unanswered, a request for credentials is cancelled.
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        const QUrl address = request.requestedUrl();
        // Only a link the operator (or a page's script) aimed at a new
        // window is followed, here, and only when the handler says so.
        if (IsFetchable(address) && onNewWindow && onNewWindow(address))
            load(address);
    });
}

GuardedPage::~GuardedPage() = default;

void GuardedPage::ResetRedirects()
{
    redirects_ = 0;
    redirectRefused_ = false;
    refusedWhy_.clear();
}

void GuardedPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg)
{
    Report(QStringLiteral("page dialog answered (alert) at %1: %2").arg(securityOrigin.toString(), msg));
}

bool GuardedPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg)
{
    // "OK", as a person going on would press; it also lets a leave-page
    // question leave, which Chromium asks through the same dialog.
    Report(QStringLiteral("page dialog answered OK (confirm) at %1: %2").arg(securityOrigin.toString(), msg));
    return true;
}

bool GuardedPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString&, QString*)
{
    Report(QStringLiteral("page dialog cancelled (prompt) at %1: %2").arg(securityOrigin.toString(), msg));
    return false;
}

bool GuardedPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    // Nothing but the network: no file:, data:, javascript: or other scheme
    // is ever loaded in any frame. (about:blank frames are the engine's own.)
    if (!IsFetchable(url)) {
        if (url.scheme() == QLatin1String("about"))
            return true;
        if (isMainFrame && type == NavigationTypeRedirect) {
            redirectRefused_ = true;
            refusedWhy_ = QStringLiteral("redirect to a refused address: ") + url.toString();
        }
        Report(QStringLiteral("refused to load %1").arg(url.toString()));
        return false;
    }
    if (!isMainFrame)
        return true;
    if (type == NavigationTypeRedirect) {
        if (++redirects_ > kMaxRedirects) {
            redirectRefused_ = true;
            refusedWhy_ = QStringLiteral("too many redirects");
            return false;
        }
        return true;
    }
    // A followed link is the control's to load, so that its events follow. (A
    // form's submission goes on in the page: it may be a POST.)
    if (type == NavigationTypeLinkClicked && onOperatorNavigation) {
        onOperatorNavigation(url);
        return false;
    }
    return true;
}

QWebEnginePage* GuardedPage::createWindow(WebWindowType)
{
    // No page of ours ever opens a window; newWindowRequested follows.
    return nullptr;
}

}  // namespace platform::engine
