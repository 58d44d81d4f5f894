#include "platform/WebBrowser.h"

#include "platform/HtmlDocument.h"
#include "platform/Network.h"
#include "platform/PageFetch.h"

#include <QPointer>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

#include <gumbo.h>

#include <optional>
#include <vector>

namespace {

// Frames inside frames are followed this many levels below the page.
constexpr int kMaxFrameDepth = 3;
// Frame documents one navigation loads at most, so that a page of a
// thousand iframes cannot start a thousand fetches.
constexpr std::size_t kMaxFrames = 64;

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

const GumboNode* FirstAnchor(const GumboNode* node)
{
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT)
        return nullptr;
    if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_A)
        return node;
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        if (const GumboNode* found = FirstAnchor(static_cast<const GumboNode*>(children.data[i])))
            return found;
    return nullptr;
}

struct AnchorAttributes {
    QString href;  // as written, unresolved
    QString target;
};

// The href and target attributes of the A element an outerHTML starts with.
AnchorAttributes AttributesOfAnchorMarkup(const QString& outerHtml)
{
    AnchorAttributes result;
    const QByteArray utf8 = outerHtml.toUtf8();
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, utf8.constData(), utf8.size());
    if (const GumboNode* anchor = FirstAnchor(output->document)) {
        if (const GumboAttribute* href = gumbo_get_attribute(&anchor->v.element.attributes, "href"))
            result.href = QString::fromUtf8(href->value);
        if (const GumboAttribute* target = gumbo_get_attribute(&anchor->v.element.attributes, "target"))
            result.target = QString::fromUtf8(target->value);
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    return result;
}

bool IsNewWindowTarget(const QString& target)
{
    const QString t = target.trimmed().toLower();
    return !t.isEmpty() && t != QLatin1String("_self") && t != QLatin1String("_parent") &&
           t != QLatin1String("_top");
}

}  // namespace

// One navigation: the page and its frame documents, fetched concurrently.
// Owned by the control; destroying it aborts whatever is still loading.
class TCppWebBrowser::Navigation final : public QObject {
public:
    struct Frame {
        QUrl address;
        ComPtr<HtmlDocument> doc;
        int depth = 0;
        std::vector<std::size_t> children;  // indexes into frames, document order
    };

    Navigation(TCppWebBrowser* owner, std::uint64_t generation) : owner_(owner), generation_(generation) {}

    void Start(const QUrl& address) { Add(address, 0); }

    // Index 0 is the page.
    std::vector<Frame> frames;

private:
    std::size_t Add(const QUrl& address, int depth)
    {
        const std::size_t index = frames.size();
        frames.push_back(Frame{address, nullptr, depth, {}});
        ++pending_;
        auto* fetch = new platform::PageFetch(
            address, [this, index](const platform::PageResult& result) { Loaded(index, result); }, this);
        fetch->Start();
        return index;
    }

    void Loaded(std::size_t index, const platform::PageResult& result)
    {
        // A failed fetch still completes, as an empty document at the address
        // asked for, the way a browser shows an error page in its place.
        ComPtr<HtmlDocument> doc = HtmlDocument::Create();
        doc->SetContent(result.ok ? result.text : QString(), result.ok ? result.finalAddress : frames[index].address);
        doc->SetReadyState(QStringLiteral("complete"));
        frames[index].doc = doc;

        if (frames[index].depth < kMaxFrameDepth) {
            const int childDepth = frames[index].depth + 1;
            for (const QUrl& source : doc->FrameSources()) {
                // Frames load from the network only: a file:, data: or
                // javascript: source is skipped, never read or run.
                if (!platform::IsFetchable(source) || frames.size() >= kMaxFrames)
                    continue;
                const std::size_t child = Add(source, childDepth);
                frames[index].children.push_back(child);
            }
        }

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
    int pending_ = 0;
};

TCppWebBrowser::TCppWebBrowser(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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
    navigation_ = std::make_unique<Navigation>(this, generation_);
    navigation_->Start(address);
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
            handler(this, static_cast<IHTMLDocument2*>(doc.get()), &url);
        }
        // A handler that navigated (or closed the window) ends this one.
        if (!self || generation_ != generation)
            return;
    }
}

void TCppWebBrowser::ShowPage(const ComPtr<HtmlDocument>& page)
{
    page_ = page;
    view_->setHtml(page->DocumentHtml());
}

namespace {

struct FoundAnchor {
    QUrl address;  // resolved, with the document's base
    QString target;
};

// The first anchor of `doc` whose href is `link`, either as written or once
// resolved against the document's address.
std::optional<FoundAnchor> FindAnchor(HtmlDocument& doc, const QUrl& link)
{
    ComPtr<IHTMLElementCollection> all;
    LONG length = 0;
    if (doc.get_all(all) != S_OK || !all || all->get_length(&length) != S_OK)
        return std::nullopt;
    const QUrl resolvedLink = doc.Address().resolved(link);
    for (LONG i = 0; i < length; ++i) {
        ComPtr<IDispatch> item;
        if (all->item(VariantI4(i), VARIANT{}, item) != S_OK || !item)
            continue;
        ComPtr<IHTMLAnchorElement> anchor;
        ComPtr<IHTMLElement> element;
        if (QueryInterface(item, anchor) != S_OK || QueryInterface(item, element) != S_OK)
            continue;
        QString href, outer;
        anchor->get_href(href);
        element->get_outerHTML(outer);
        const AnchorAttributes attributes = AttributesOfAnchorMarkup(outer);
        if (QUrl(href) == resolvedLink || (!attributes.href.isNull() && QUrl(attributes.href.trimmed()) == link))
            return FoundAnchor{QUrl(href), attributes.target};
    }
    return std::nullopt;
}

}  // namespace

void TCppWebBrowser::FollowLink(const QUrl& href)
{
    QUrl address = page_ ? page_->Address().resolved(href) : href;
    std::optional<FoundAnchor> anchor;
    if (page_)
        anchor = FindAnchor(*page_, href);
    if (anchor && platform::IsFetchable(anchor->address))
        address = anchor->address;  // resolved with the page's <base>, if it has one
    // Links to anything but http and https are dead: no local file is read
    // and no script runs.
    if (!platform::IsFetchable(address))
        return;
    if (anchor && IsNewWindowTarget(anchor->target)) {
        LPDISPATCH newWindow = nullptr;
        VARIANT_BOOL cancel = VARIANT_FALSE;
        const auto handler = OnNewWindow2;
        QPointer<TCppWebBrowser> self(this);
        if (handler)
            handler(this, &newWindow, &cancel);
        if (!self || cancel != VARIANT_FALSE)
            return;
        // There is no second window to open: the link opens here.
    }
    Navigate(address.toString(QUrl::FullyEncoded));
}

QString TCppWebBrowser::LocationURL() const { return page_ ? page_->Address().toString() : QString(); }

ComPtr<IHTMLDocument2> TCppWebBrowser::Document() const { return page_; }

bool TCppWebBrowser::Busy() const { return navigation_ != nullptr; }

QString TCppWebBrowser::PendingURL() const
{
    return navigation_ && !navigation_->frames.empty() ? navigation_->frames.front().address.toString() : QString();
}
