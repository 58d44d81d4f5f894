#pragma once
// The HTML engine's document services: the interfaces the crawler and the
// detail extractor use, and the calls that create documents and start loads.
//
// Strings come out as UTF-16 (QString); callers convert them with ToAnsi.
// Every object lives as long as someone holds a ComPtr to it; an element
// keeps its document's tree alive.

#include "platform/dom/ByteRange.h"
#include "platform/html/Com.h"
#include "platform/net/FetchFailure.h"
#include "platform/settings/Settings.h"

#include <QUrl>

#include <string>

class IHTMLElementCollection : public virtual IDispatch {
public:
    // Number of elements in the collection.
    virtual HRESULT get_length(LONG* p) = 0;
    // `name` a VT_I4 position, `index` VT_EMPTY: S_OK and the element at that
    // position; past the end (or any other argument) a failure and a null `pdisp`.
    virtual HRESULT item(const VARIANT& name, const VARIANT& index, ComPtr<IDispatch>& pdisp) = 0;
};

class IHTMLElement : public virtual IDispatch {
public:
    // The element's rendered text (a browser's innerText with each
    // element's default display in place of style sheets).
    virtual HRESULT get_innerText(QString& p) = 0;
    // The HTML fragment serialization of the element with its descendants.
    virtual HRESULT get_outerHTML(QString& p) = 0;
};

// Implemented by A elements only.
class IHTMLAnchorElement : public virtual IDispatch {
public:
    // The href attribute resolved against the document's base address; empty
    // when the element has no href.
    virtual HRESULT get_href(QString& p) = 0;
};

// Implemented by TABLE elements only.
class IHTMLTable : public virtual IDispatch {
};

class IHTMLDocument2 : public virtual IDispatch {
public:
    // "uninitialized", "loading", "interactive" or "complete".
    virtual HRESULT get_readyState(QString& p) = 0;
    // The A elements that carry a name or an id attribute, in document order.
    virtual HRESULT get_anchors(ComPtr<IHTMLElementCollection>& p) = 0;
    // Every element, in document order.
    virtual HRESULT get_all(ComPtr<IHTMLElementCollection>& p) = 0;
};

// An address to load from; only absolute http and https addresses make one.
class IMoniker : public virtual IDispatch {
public:
    virtual QUrl Address() const = 0;
};

// Beyond the COM surface: the limits of the loads bound with this context
// (PageLimits{} until set).
class IBindCtx : public virtual IDispatch {
public:
    virtual HRESULT SetPageLimits(const platform::PageLimits& limits) = 0;
    virtual HRESULT GetPageLimits(platform::PageLimits& limits) = 0;
};

class IPersistMoniker : public virtual IDispatch {
public:
    // Starts fetching the moniker's address into the document and returns at
    // once, within the limits of `pibc` (PageLimits{} when it is null). The
    // document's readyState goes "loading" -> "interactive" -> "complete"
    // while the window's event loop runs; a failed or timed-out fetch also
    // ends "complete", with an empty document (after the quick retries of a
    // transient failure; IHTMLDocumentLoadFailure says why).
    virtual HRESULT Load(bool fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc, DWORD grfMode) = 0;
};

// Beyond the COM surface: the document serialized once as UTF-8, and where
// each element of `all` lies in it. For element i of `all`, its outerHTML
// converted to UTF-8 equals serialized.substr(begin, end - begin).
class IHTMLDocumentSerialization : public virtual IDispatch {
public:
    using Extent = html::ByteRange;
    virtual HRESULT get_serializedUtf8(const std::string*& p) = 0;
    virtual HRESULT get_extentOfAll(LONG index, Extent& p) = 0;
};

// Beyond the COM surface: the HTTP status of the response a loaded document
// came from. A 404 or 500 still yields its body as the document (the error
// page a browser shows), so a loader that must not take an error page for
// the real one asks here.
class IHTMLDocumentHttpStatus : public virtual IDispatch {
public:
    // The final response's status (after redirects); 0 when unknown: not
    // loaded from the network, still loading, or no response arrived.
    virtual HRESULT get_httpStatus(int& p) = 0;
};

// Beyond the COM surface: why a document's load failed, so that a caller
// can tell a page that is down for a moment (try again later) from one that
// will never load, and an error page from an empty answer.
class IHTMLDocumentLoadFailure : public virtual IDispatch {
public:
    // Kind::None when the document loaded with a status below 400 (or was
    // not loaded from the network, or is still loading); Kind::HttpStatus,
    // with its status and Retry-After, for an answer of 400 or more (its
    // body is the document); a network kind, Timeout or Refused when no
    // answer came (the document is empty). Set once the document is complete.
    virtual HRESULT get_loadFailure(platform::FetchFailure& p) = 0;
};

enum class CLSID { CLSID_HTMLDocument };
constexpr CLSID CLSID_HTMLDocument = CLSID::CLSID_HTMLDocument;
constexpr DWORD CLSCTX_INPROC_SERVER = 1;

// A new empty document ("uninitialized"). CO_E_NOTINITIALIZED while COM is
// not initialised on the calling thread.
HRESULT CoCreateInstance(CLSID clsid, std::nullptr_t outer, DWORD clsContext, ComPtr<IHTMLDocument2>& ppv);

// MK_E_SYNTAX unless `szURL` is an absolute http or https address.
HRESULT CreateURLMoniker(IMoniker* pmkContext, const QString& szURL, ComPtr<IMoniker>& ppmk);

HRESULT CreateBindCtx(DWORD reserved, ComPtr<IBindCtx>& ppbc);

// Beyond the COM surface, for tools and tests: a complete document parsed
// from `html` with `address` as its own address (its base for hrefs).
// CO_E_NOTINITIALIZED while COM is not initialised.
HRESULT CreateDocumentFromHtml(const QString& html, const QUrl& address, ComPtr<IHTMLDocument2>& ppv);
