#include "platform/HtmlDocument.h"

#include "platform/HtmlElements.h"
#include "platform/HtmlTree.h"

ComPtr<HtmlDocument> HtmlDocument::Create()
{
    // Not make_shared: the constructor is private.
    return ComPtr<HtmlDocument>(new HtmlDocument);
}

HtmlDocument::HtmlDocument() : tree_(html::Tree::Empty()) {}

HtmlDocument::~HtmlDocument() = default;

void HtmlDocument::SetContent(const QString& html, const QUrl& address)
{
    // Element objects handed out earlier hold the old tree and keep it alive.
    tree_ = html::Tree::Parse(html, address);
    address_ = address;
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
    p.begin = extents[static_cast<std::size_t>(index)].begin;
    p.end = extents[static_cast<std::size_t>(index)].end;
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
