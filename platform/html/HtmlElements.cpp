#include "platform/html/HtmlElements.h"

#include "platform/dom/HtmlSerialize.h"
#include "platform/dom/InnerText.h"

HtmlElement::HtmlElement(std::shared_ptr<const html::Tree> tree, const GumboNode* node)
    : tree_(std::move(tree)), node_(node)
{
}

HRESULT HtmlElement::get_innerText(QString& p)
{
    const std::optional<std::string> text = html::InnerText(node_);
    if (!text) {
        p.clear();
        return E_FAIL;
    }
    p = QString::fromUtf8(text->data(), static_cast<qsizetype>(text->size()));
    return S_OK;
}

HRESULT HtmlElement::get_outerHTML(QString& p)
{
    const std::string markup = html::OuterHtml(node_);
    p = QString::fromUtf8(markup.data(), static_cast<qsizetype>(markup.size()));
    return S_OK;
}

HRESULT HtmlAnchorElement::get_href(QString& p)
{
    const char* href = html::Attribute(node_, "href");
    if (!href) {
        p.clear();
        return S_OK;
    }
    p = html::ResolveAddress(tree_->base, QString::fromUtf8(href));
    return S_OK;
}

ComPtr<IDispatch> MakeElement(std::shared_ptr<const html::Tree> tree, const GumboNode* node)
{
    if (html::IsHtml(node, GUMBO_TAG_A))
        return std::make_shared<HtmlAnchorElement>(std::move(tree), node);
    if (html::IsHtml(node, GUMBO_TAG_TABLE))
        return std::make_shared<HtmlTableElement>(std::move(tree), node);
    return std::make_shared<HtmlElement>(std::move(tree), node);
}

HtmlElementCollection::HtmlElementCollection(std::shared_ptr<const html::Tree> tree,
                                             const std::vector<GumboNode*>* list)
    : tree_(std::move(tree)), list_(list)
{
}

HRESULT HtmlElementCollection::get_length(LONG* p)
{
    if (!p)
        return E_POINTER;
    *p = static_cast<LONG>(list_->size());
    return S_OK;
}

HRESULT HtmlElementCollection::item(const VARIANT& name, const VARIANT& index, ComPtr<IDispatch>& pdisp)
{
    pdisp.reset();
    const bool noIndex = index.vt == VT_EMPTY || (index.vt == VT_ERROR && index.scode == DISP_E_PARAMNOTFOUND);
    if (name.vt != VT_I4 || !noIndex)
        return E_INVALIDARG;
    if (name.lVal < 0 || static_cast<std::size_t>(name.lVal) >= list_->size())
        return E_INVALIDARG;
    pdisp = MakeElement(tree_, (*list_)[static_cast<std::size_t>(name.lVal)]);
    return S_OK;
}
