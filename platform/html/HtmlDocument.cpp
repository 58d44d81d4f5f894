#include "platform/html/HtmlDocument.h"

#include "platform/dom/HtmlTree.h"
#include "platform/html/BackgroundParse.h"
#include "platform/html/ComFaultCheck.h"
#include "platform/html/HtmlElements.h"

ComPtr<HtmlDocument> HtmlDocument::Create()
{
    // Not make_shared: the constructor is private.
    return ComPtr<HtmlDocument>(new HtmlDocument);
}

HtmlDocument::HtmlDocument() : tree_(html::Tree::Empty()) {}

HtmlDocument::~HtmlDocument()
{
    // The load goes first, so nothing it still had queued can run.
    load_.reset();
    platform::ReleaseTree(tree_);
}

void HtmlDocument::SetContent(const QString& html, const QUrl& address)
{
    // Element objects handed out earlier hold the old tree and keep it alive.
    std::shared_ptr<html::Tree> next = html::Tree::Parse(html, address);
    platform::ReleaseTree(tree_);
    tree_ = std::move(next);
    address_ = address;
}

void HtmlDocument::SetTree(std::shared_ptr<html::Tree> tree)
{
    if (!tree)
        tree = html::Tree::Parse(QString(), address_);
    platform::ReleaseTree(tree_);
    tree_ = std::move(tree);
    address_ = tree_->address;
}

void HtmlDocument::SetReadyState(const QString& state) { readyState_ = state; }

QUrl HtmlDocument::Address() const { return address_; }

QList<QUrl> HtmlDocument::FrameSources() const
{
    QList<QUrl> sources;
    for (const GumboNode* e : tree_->all) {
        if (!html::IsHtml(e, GUMBO_TAG_FRAME) && !html::IsHtml(e, GUMBO_TAG_IFRAME))
            continue;
        const char* src = html::Attribute(e, "src");
        if (!src || !*src)
            continue;
        const QString value = QString::fromUtf8(src);
        if (value.trimmed().isEmpty())
            continue;
        sources.append(QUrl(html::ResolveAddress(tree_->base, value), QUrl::TolerantMode));
    }
    return sources;
}

QString HtmlDocument::DocumentHtml() const
{
    const std::string& s = tree_->Serialized();
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::size_t HtmlDocument::DocumentHtmlSize() const { return tree_->Serialized().size(); }

QString HtmlDocument::DocumentHtmlPrefix(std::size_t maxBytes) const
{
    const std::string& s = tree_->Serialized();
    if (s.size() <= maxBytes)
        return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
    // Cut before the last tag that starts within the limit, so the view's
    // parser sees whole tags only; '<' is ASCII, so the cut also falls on a
    // character boundary. Without one, back up to a character boundary.
    std::size_t cut = s.rfind('<', maxBytes);
    if (cut == std::string::npos || cut == 0) {
        cut = maxBytes;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            --cut;
    }
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(cut));
}

std::optional<HtmlDocument::AnchorTarget> HtmlDocument::FindAnchor(const QUrl& link) const
{
    // Reads the attributes straight from the tree: no element objects, no
    // serialization, so a click on a huge page stays cheap.
    const QUrl resolvedLink = address_.resolved(link);
    for (const GumboNode* e : tree_->all) {
        if (!html::IsHtml(e, GUMBO_TAG_A))
            continue;
        const char* href = html::Attribute(e, "href");
        if (!href)
            continue;
        const QString written = QString::fromUtf8(href);
        const QUrl resolved(html::ResolveAddress(tree_->base, written));
        if (resolved == resolvedLink || QUrl(written.trimmed()) == link) {
            const char* target = html::Attribute(e, "target");
            return AnchorTarget{resolved, target ? QString::fromUtf8(target) : QString()};
        }
    }
    return std::nullopt;
}

HRESULT HtmlDocument::get_readyState(QString& p)
{
    p = readyState_;
    return S_OK;
}

HRESULT HtmlDocument::get_anchors(ComPtr<IHTMLElementCollection>& p)
{
    p = std::make_shared<HtmlElementCollection>(tree_, &tree_->anchors);
    return S_OK;
}

HRESULT HtmlDocument::get_all(ComPtr<IHTMLElementCollection>& p)
{
    p = std::make_shared<HtmlElementCollection>(tree_, &tree_->all);
    return S_OK;
}

HRESULT HtmlDocument::get_serializedUtf8(const std::string*& p)
{
    p = &tree_->Serialized();
    return S_OK;
}

HRESULT HtmlDocument::get_extentOfAll(LONG index, Extent& p)
{
    const auto& extents = tree_->Extents();
    if (index < 0 || static_cast<std::size_t>(index) >= extents.size()) {
        p = Extent{};
        return E_INVALIDARG;
    }
    p = extents[static_cast<std::size_t>(index)];
    return S_OK;
}

HRESULT HtmlDocument::get_httpStatus(int& p)
{
    p = httpStatus_;
    return S_OK;
}

HRESULT HtmlDocument::get_loadFailure(platform::FetchFailure& p)
{
    p = loadFailure_;
    return S_OK;
}

HRESULT CoCreateInstance(CLSID clsid, std::nullptr_t, DWORD clsContext, ComPtr<IHTMLDocument2>& ppv)
{
    ppv.reset();
    HRESULT injected;
    if (TakeInjectedComFailure(ComCall::CoCreateInstance, injected))
        return injected;
    if (CoInitializeCount() == 0)
        return CO_E_NOTINITIALIZED;
    if (clsid != CLSID_HTMLDocument)
        return E_NOINTERFACE;
    ppv = HtmlDocument::Create();
    return S_OK;
}

HRESULT CreateDocumentFromHtml(const QString& html, const QUrl& address, ComPtr<IHTMLDocument2>& ppv)
{
    ppv.reset();
    if (CoInitializeCount() == 0)
        return CO_E_NOTINITIALIZED;
    const ComPtr<HtmlDocument> doc = HtmlDocument::Create();
    doc->SetContent(html, address);
    doc->SetReadyState(QStringLiteral("complete"));
    ppv = doc;
    return S_OK;
}
