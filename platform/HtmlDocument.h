#pragma once
// The engine's document object: a parsed HTML tree behind IHTMLDocument2,
// IPersistMoniker and IHTMLDocumentSerialization. Internal to platform/:
// the rest of the program sees only the interfaces of Mshtml.h.

#include "platform/Mshtml.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace html { struct Tree; }

class HtmlDocument final : public IHTMLDocument2,
                           public IPersistMoniker,
                           public IHTMLDocumentSerialization {
public:
    // An empty document in readyState "uninitialized". Does not check COM:
    // CoCreateInstance and CreateDocumentFromHtml do.
    static ComPtr<HtmlDocument> Create();
    ~HtmlDocument() override;

    // Replaces the tree by the parse of `html`; `address` becomes the
    // document's address (hrefs resolve against it and any <base href>).
    // Leaves the readyState alone.
    void SetContent(const QString& html, const QUrl& address);
    void SetReadyState(const QString& state);
    QUrl Address() const;

    // src addresses of the document's frame and iframe elements, resolved,
    // in document order; elements without a src are left out.
    QList<QUrl> FrameSources() const;
    // The whole document serialized, for display.
    QString DocumentHtml() const;

    // IHTMLDocument2
    HRESULT get_readyState(QString& p) override;
    HRESULT get_anchors(ComPtr<IHTMLElementCollection>& p) override;
    HRESULT get_all(ComPtr<IHTMLElementCollection>& p) override;

    // IPersistMoniker: defined with the page fetching (PageLoad.cpp).
    HRESULT Load(bool fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc, DWORD grfMode) override;

    // IHTMLDocumentSerialization
    HRESULT get_serializedUtf8(const std::string*& p) override;
    HRESULT get_extentOfAll(LONG index, Extent& p) override;

private:
    HtmlDocument();

    std::shared_ptr<html::Tree> tree_;
    QUrl address_;
    QString readyState_ = QStringLiteral("uninitialized");
    // The fetch under way, owned by the document so that dropping the
    // document aborts it. Set by Load.
    std::unique_ptr<QObject> load_;
};
