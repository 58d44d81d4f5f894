#pragma once
// Element and collection objects of parsed documents.
//
// Each object is a light view: a shared reference to the document's tree
// plus one node, so it stays valid (showing the old content) after its
// document loads something else, and costs one allocation to create.
// Objects must be created through MakeElement / std::make_shared, because
// QueryInterface relies on shared_from_this. The interfaces an object
// implements depend on its kind: every element is an IHTMLElement, A elements
// are also IHTMLAnchorElement, TABLE elements also IHTMLTable.

#include "platform/dom/HtmlTree.h"
#include "platform/html/Mshtml.h"

#include <memory>
#include <vector>

class HtmlElement : public IHTMLElement {
public:
    HtmlElement(std::shared_ptr<const html::Tree> tree, const GumboNode* node);

    // S_OK and the rendered text; E_FAIL and empty text for an element outside
    // the HTML namespace (SVG, MathML), which has no innerText.
    HRESULT get_innerText(QString& p) override;
    HRESULT get_outerHTML(QString& p) override;

    const GumboNode* Node() const { return node_; }

protected:
    std::shared_ptr<const html::Tree> tree_;
    const GumboNode* node_;
};

class HtmlAnchorElement final : public HtmlElement, public IHTMLAnchorElement {
public:
    using HtmlElement::HtmlElement;
    HRESULT get_href(QString& p) override;
};

class HtmlTableElement final : public HtmlElement, public IHTMLTable {
public:
    using HtmlElement::HtmlElement;
};

// The element object for `node` (an element of `tree`), of the class its kind calls for.
ComPtr<IDispatch> MakeElement(std::shared_ptr<const html::Tree> tree, const GumboNode* node);

// A fixed, ordered list of elements: one of the tree's precomputed lists
// (Tree::all or Tree::anchors), so item() is O(1).
class HtmlElementCollection final : public IHTMLElementCollection {
public:
    // `list` must be a member of `*tree`.
    HtmlElementCollection(std::shared_ptr<const html::Tree> tree, const std::vector<GumboNode*>* list);

    HRESULT get_length(LONG* p) override;
    // `name` VT_I4 in [0, length) and `index` empty (VT_EMPTY, or the
    // "not given" VT_ERROR): S_OK and a new element object. Anything else:
    // E_INVALIDARG and a null `pdisp`.
    HRESULT item(const VARIANT& name, const VARIANT& index, ComPtr<IDispatch>& pdisp) override;

private:
    std::shared_ptr<const html::Tree> tree_;
    const std::vector<GumboNode*>* list_;
};
