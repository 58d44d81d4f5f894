#include "platform/browser/WebBrowser.h"

#include "platform/base/FrameLimits.h"
#include "platform/engine/Engine.h"
#include "platform/engine/EngineLoad.h"
#include "platform/engine/GuardedPage.h"
#include "platform/html/BackgroundParse.h"
#include "platform/html/HtmlDocument.h"
#include "platform/dom/HtmlTree.h"
#include "platform/net/Network.h"
#include "platform/net/PageFetch.h"
#include "platform/settings/Settings.h"

#include <QPointer>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <optional>
#include <vector>

namespace {

// A document for the view that never loads anything: Qt's default would
// read file: resources from disk and decode data: ones for <img>, <link>
// and the like, and the view must load no local or remote resource.
class InertTextDocument final : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

class InertTextBrowser final : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

bool IsNewWindowTarget(const QString& target)
{
    const QString t = target.trimmed().toLower();
    return !t.isEmpty() && t != QLatin1String("_self") && t != QLatin1String("_parent") &&
           t != QLatin1String("_top");
}

}  // namespace

// One navigation: the page and its frame documents, fetched concurrently
// and parsed on workers, all drawing on one body budget. Owned by the
// control; destroying it aborts whatever is still fetching and drops every
// parse still running, whose results then never arrive.
class TCppWebBrowser::Navigation final : public QObject {
public:
    struct Frame {
        QUrl address;
        ComPtr<HtmlDocument> doc;
        int depth = 0;
        std::vector<std::size_t> children;  // indexes into frames, document order
    };

    Navigation(TCppWebBrowser* owner, std::uint64_t generation, qint64 budget, platform::PageLimits limits,
               QUrl address)
        : address(std::move(address)), owner_(owner), generation_(generation),
          budget_(std::make_shared<platform::BodyBudget>(budget)), limits_(limits)
    {
    }

    void Start() { Add(address, 0); }

    // Loads the page in the browser engine's `page` instead: the page's
    // scripts run and settle, and the page and the frames it may read are
    // parsed from their markup as it then stands.
    void StartInEngine(platform::engine::GuardedPage* page)
    {
        frames.push_back(Frame{address, nullptr, 0, {}});
        ++pending_;
        auto* load = new platform::engine::EngineLoad(
            page, address, limits_.timeoutS, limits_.settleMs,
            [this](const platform::engine::EngineResult& result) { Read(result); }, this);
        load->Start();
    }

    // The page's address.
    const QUrl address;

    // Index 0 is the page.
    std::vector<Frame> frames;

private:
    std::size_t Add(const QUrl& address, int depth)
    {
        const std::size_t index = frames.size();
        frames.push_back(Frame{address, nullptr, depth, {}});
        if (depth > 0 && budget_->Remaining() <= 0) {
            // Past the budget: not fetched at all, and completed as an empty
            // document in its place, as a frame that failed to load is. Its
            // load failure stays Kind::None: nothing was asked of the
            // network, so there is nothing to retry or blame on the site.
            frames[index].doc = EmptyDocument(address, {});
            return index;
        }
        ++pending_;
        auto* fetch = new platform::PageFetch(
            address, limits_.timeoutS, [this, index](const platform::PageResult& result) { Fetched(index, result); },
            this);
        fetch->KeepRawBody();
        fetch->SetBudget(budget_);
        fetch->Start();
        return index;
    }

    void Read(const platform::engine::EngineResult& result)
    {
        if (result.page.page.html.isEmpty() && result.failure.Failed()) {
            Settled(0, EmptyDocument(address, result.failure));
            return;
        }
        // The frames the page may read, inner ones first in document order,
        // as the engine listed them; each is a document of the page's. The
        // page's own parse goes on the count its load started.
        pending_ += int(result.page.frames.size());
        for (const platform::engine::SerializedDocument& frame : result.page.frames) {
            const std::size_t index = frames.size();
            frames.push_back(Frame{frame.address, nullptr, 1, {}});
            frames[0].children.push_back(index);
            Parse(index, frame, 0, {});
        }
        Parse(0, result.page.page, result.httpStatus, result.failure);
    }

    void Parse(std::size_t index, const platform::engine::SerializedDocument& markup, int status,
               const platform::FetchFailure& failure)
    {
        ParseThen(index, {markup.html, QByteArrayLiteral("text/html; charset=utf-8"), markup.address, false},
                  status, failure, &Navigation::Completed);
    }

    // Parses `input` on a worker into a complete document of the answer's
    // `status` and `failure` (an error status's page is shown and reported
    // like any other; its failure tells it apart), then hands it to `next`.
    void ParseThen(std::size_t index, platform::BackgroundParse::Input input, int status,
                   const platform::FetchFailure& failure, void (Navigation::*next)(std::size_t, ComPtr<HtmlDocument>))
    {
        new platform::BackgroundParse(
            std::move(input),
            [this, index, status, failure, next](std::shared_ptr<html::Tree> tree) {
                ComPtr<HtmlDocument> doc = HtmlDocument::Create();
                doc->SetTree(std::move(tree));
                doc->SetHttpStatus(status);
                doc->SetLoadFailure(failure);
                doc->SetReadyState(QStringLiteral("complete"));
                (this->*next)(index, std::move(doc));
            },
            this);
    }

    static ComPtr<HtmlDocument> EmptyDocument(const QUrl& address, const platform::FetchFailure& failure)
    {
        ComPtr<HtmlDocument> doc = HtmlDocument::Create();
        doc->SetContent(QString(), address);
        doc->SetLoadFailure(failure);
        doc->SetReadyState(QStringLiteral("complete"));
        return doc;
    }

    void Fetched(std::size_t index, const platform::PageResult& result)
    {
        // A failed fetch (after its quick retries) still completes, as an
        // empty document at the address asked for that says why, the way a
        // browser shows an error page in its place.
        if (!result.ok) {
            Settled(index, EmptyDocument(frames[index].address, result.failure));
            return;
        }
        // Only the page is shown, so only its serialization is built ahead.
        ParseThen(index, {result.body, result.contentType, result.finalAddress, index == 0}, result.httpStatus,
                  result.failure, &Navigation::Settled);
    }

    void Settled(std::size_t index, ComPtr<HtmlDocument> doc)
    {
        if (frames[index].depth < platform::kMaxFrameDepth) {
            const int childDepth = frames[index].depth + 1;
            for (const QUrl& source : doc->FrameSources()) {
                // Frames load from the network only: a file:, data: or
                // javascript: source is skipped, never read or run.
                if (!platform::IsFetchable(source) || frames.size() >= platform::kMaxFrames)
                    continue;
                const std::size_t child = Add(source, childDepth);
                frames[index].children.push_back(child);
            }
        }
        Completed(index, std::move(doc));
    }

    void Completed(std::size_t index, ComPtr<HtmlDocument> doc)
    {
        frames[index].doc = std::move(doc);
        if (--pending_ == 0) {
            // The control raises its events from a later turn of the event
            // loop, never from inside a network callback.
            QPointer<TCppWebBrowser> owner = owner_;
            const std::uint64_t generation = generation_;
            QMetaObject::invokeMethod(
                owner_, [owner, generation] {
                    if (owner)
                        owner->OnNavigationLoaded(generation);
                },
                Qt::QueuedConnection);
        }
    }

    TCppWebBrowser* owner_;
    std::uint64_t generation_;
    std::shared_ptr<platform::BodyBudget> budget_;
    const platform::PageLimits limits_;
    int pending_ = 0;
};

TCppWebBrowser::TCppWebBrowser(QWidget* parent) : QWidget(parent), bodyBudget_(platform::kNavigationBodyBudget)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (platform::engine::EngineInUse() == platform::BrowserEngine::Chromium) {
        engineView_ = new QWebEngineView(this);
        enginePage_ = new platform::engine::GuardedPage(engineView_);
        engineView_->setPage(enginePage_);
        layout->addWidget(engineView_);
        // The page starts now, with its drawing surface: one made after the
        // window is first shown makes the window change its surface, which
        // replaces the window on the display; what was typed or clicked into
        // the first one in the meantime was lost.
        enginePage_->setUrl(QUrl(QStringLiteral("about:blank")));
        // A link followed in the page is ours to load, so that its events
        // follow; one aimed at a new window asks OnNewWindow2 first.
        enginePage_->onOperatorNavigation = [this](const QUrl& address) { FollowLink(address); };
        enginePage_->onNewWindow = [this](const QUrl& address) {
            if (AllowNewWindow())
                Navigate(address.toString(QUrl::FullyEncoded));
            return false;
        };
        return;
    }
    view_ = new InertTextBrowser(this);
    view_->setDocument(new InertTextDocument(view_));
    view_->setOpenLinks(false);
    view_->setOpenExternalLinks(false);
    layout->addWidget(view_);
    connect(view_, &QTextBrowser::anchorClicked, this, &TCppWebBrowser::FollowLink);
}

TCppWebBrowser::~TCppWebBrowser() = default;

void TCppWebBrowser::Navigate(const QString& URL, VARIANT*, VARIANT*, VARIANT*, VARIANT*)
{
    const QUrl address(URL.trimmed());
    if (!platform::IsFetchable(address))
        return;
    // Replacing the navigation destroys the old one, which aborts its
    // fetches; the new generation number silences anything it had queued.
    navigation_.reset();
    ++generation_;
    navigation_ = std::make_unique<Navigation>(this, generation_, bodyBudget_, limits_, address);
    platform::engine::GuardedPage* engine = enginePage_;
    // The fetch starts from the event loop, so that a navigation replaced
    // before then (a result-page pass issues one per paging link it
    // follows, and only the last one counts) sends no request at all.
    QPointer<TCppWebBrowser> self(this);
    const std::uint64_t generation = generation_;
    QMetaObject::invokeMethod(
        this, [self, generation, engine] {
            if (!self || self->generation_ != generation || !self->navigation_)
                return;
            if (engine)
                self->navigation_->StartInEngine(engine);
            else
                self->navigation_->Start();
        },
        Qt::QueuedConnection);
}

void TCppWebBrowser::OnNavigationLoaded(std::uint64_t generation)
{
    if (generation != generation_ || !navigation_)
        return;
    // The navigation is over before any handler runs, so that a handler's
    // own Navigate starts afresh.
    const std::vector<Navigation::Frame> frames = std::move(navigation_->frames);
    navigation_.reset();

    // Inner documents first, in document order, the page last.
    std::vector<std::size_t> order;
    std::function<void(std::size_t)> visit = [&](std::size_t index) {
        for (std::size_t child : frames[index].children)
            visit(child);
        order.push_back(index);
    };
    visit(0);

    QPointer<TCppWebBrowser> self(this);
    for (std::size_t index : order) {
        const ComPtr<HtmlDocument>& doc = frames[index].doc;
        if (index == 0)
            ShowPage(doc);
        // A copy: the handler may replace OnDocumentComplete while it runs.
        const auto handler = OnDocumentComplete;
        if (handler) {
            VARIANT url = VariantBstr(doc->Address().toString());
            LPDISPATCH dispatch = static_cast<IHTMLDocument2*>(doc.get());
            // Marked for the handler's own call only; a nested event of a
            // later navigation marks its own frames.
            const LPDISPATCH outer = frameInEvent_;
            frameInEvent_ = index == 0 ? nullptr : dispatch;
            handler(this, dispatch, &url);
            if (self)
                frameInEvent_ = outer;
        }
        // A handler that navigated (or closed the window) ends this one.
        if (!self || generation_ != generation)
            return;
    }
}

void TCppWebBrowser::ShowPage(const ComPtr<HtmlDocument>& page)
{
    page_ = page;
    if (!view_)
        return;  // the browser engine shows the page itself
    const std::size_t size = page->DocumentHtmlSize();
    if (size <= kViewFullBytes) {
        view_->setHtml(page->DocumentHtml());
        return;
    }
    // Rich-text layout costs grow with the markup: a 5 MB page would hold
    // the window for seconds. Its start, with its links, is still useful.
    const QString note = QStringLiteral("<p><i>Page shortened for display: the first %1 KB of %2 KB are shown.</i></p>")
                             .arg(kViewShortenedBytes / 1024)
                             .arg(size / 1024);
    view_->setHtml(note + page->DocumentHtmlPrefix(kViewShortenedBytes));
}

void TCppWebBrowser::FollowLink(const QUrl& href)
{
    QUrl address = page_ ? page_->Address().resolved(href) : href;
    std::optional<HtmlDocument::AnchorTarget> anchor;
    if (page_)
        anchor = page_->FindAnchor(href);
    if (anchor && platform::IsFetchable(anchor->address))
        address = anchor->address;  // resolved with the page's <base>, if it has one
    // Links to anything but http and https are dead: no local file is read
    // and no script runs.
    if (!platform::IsFetchable(address))
        return;
    // There is no second window to open: an allowed link opens here.
    if (anchor && IsNewWindowTarget(anchor->target) && !AllowNewWindow())
        return;
    Navigate(address.toString(QUrl::FullyEncoded));
}

bool TCppWebBrowser::AllowNewWindow()
{
    LPDISPATCH newWindow = nullptr;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    const auto handler = OnNewWindow2;
    QPointer<TCppWebBrowser> self(this);
    if (handler)
        handler(this, &newWindow, &cancel);
    return self && cancel == VARIANT_FALSE;
}

QString TCppWebBrowser::LocationURL() const { return page_ ? page_->Address().toString() : QString(); }

ComPtr<IHTMLDocument2> TCppWebBrowser::Document() const { return page_; }

bool TCppWebBrowser::IsFrameDocument(LPDISPATCH pDisp) const { return pDisp && pDisp == frameInEvent_; }

bool TCppWebBrowser::Busy() const { return navigation_ != nullptr; }
