#pragma once
// The engine's document object: a parsed HTML tree behind IHTMLDocument2,
// IPersistMoniker, IHTMLDocumentSerialization, IHTMLDocumentHttpStatus and
// IHTMLDocumentLoadFailure.
// Internal to platform/: the rest of the program sees only the interfaces
// of Mshtml.h.
//
// Window thread only: a document and everything taken from it are used on
// the thread that created it. A load decodes and parses its page on a
// worker (BackgroundParse.h) and puts the finished tree in place from the
// event loop; readyState is "complete" only once that tree is there.

#include "platform/html/Mshtml.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace html { struct Tree; }

class HtmlDocument final : public IHTMLDocument2,
                           public IPersistMoniker,
                           public IHTMLDocumentSerialization,
                           public IHTMLDocumentHttpStatus,
                           public IHTMLDocumentLoadFailure {
public:
    // An empty document in readyState "uninitialized". Does not check COM:
    // CoCreateInstance and CreateDocumentFromHtml do.
    static ComPtr<HtmlDocument> Create();
    ~HtmlDocument() override;

    // Replaces the tree by the parse of `html`; `address` becomes the
    // document's address (hrefs resolve against it and any <base href>).
    // Leaves the readyState alone.
    void SetContent(const QString& html, const QUrl& address);
    // Puts an already parsed tree in place (a null one means an empty
    // document); the tree's address becomes the document's. The tree must
    // not be shared with another thread any more.
    void SetTree(std::shared_ptr<html::Tree> tree);
    void SetReadyState(const QString& state);
    // The status get_httpStatus reports; 0 means unknown.
    void SetHttpStatus(int status) { httpStatus_ = status; }
    // What get_loadFailure reports; Kind::None unless set.
    void SetLoadFailure(const platform::FetchFailure& failure) { loadFailure_ = failure; }
    QUrl Address() const;

    // src addresses of the document's frame and iframe elements, resolved,
    // in document order; elements without a src are left out.
    QList<QUrl> FrameSources() const;
    // The whole document serialized, for display.
    QString DocumentHtml() const;
    // Bytes of that serialization (UTF-8); builds it when not yet built.
    std::size_t DocumentHtmlSize() const;
    // At most about `maxBytes` of the serialization's start, cut before a
    // tag so that no tag is broken; the whole of it when it is shorter.
    QString DocumentHtmlPrefix(std::size_t maxBytes) const;

    // The first A element whose href is `link`, either as written (trimmed)
    // or once resolved against the document's address: its href resolved
    // with the document's base, and its target attribute as written.
    struct AnchorTarget {
        QUrl address;
        QString target;
    };
    std::optional<AnchorTarget> FindAnchor(const QUrl& link) const;

    // IHTMLDocument2
    HRESULT get_readyState(QString& p) override;
    HRESULT get_anchors(ComPtr<IHTMLElementCollection>& p) override;
    HRESULT get_all(ComPtr<IHTMLElementCollection>& p) override;

    // IPersistMoniker: defined with the page fetching (PageLoad.cpp).
    HRESULT Load(bool fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc, DWORD grfMode) override;

    // IHTMLDocumentSerialization
    HRESULT get_serializedUtf8(const std::string*& p) override;
    HRESULT get_extentOfAll(LONG index, Extent& p) override;

    // IHTMLDocumentHttpStatus
    HRESULT get_httpStatus(int& p) override;

    // IHTMLDocumentLoadFailure
    HRESULT get_loadFailure(platform::FetchFailure& p) override;

private:
    HtmlDocument();

    std::shared_ptr<html::Tree> tree_;
    QUrl address_;
    QString readyState_ = QStringLiteral("uninitialized");
    int httpStatus_ = 0;
    platform::FetchFailure loadFailure_;
    // The load under way (its fetch, then its parse), owned by the document
    // so that dropping the document or starting another load aborts it and
    // guarantees that no late result arrives here. Set by Load.
    std::unique_ptr<QObject> load_;
};
