#pragma once
// The browser control of the main window: navigates to http and https
// pages, shows the page, and reports each completed document.
//
// Two engines stand behind it, chosen once (platform::engine::EngineInUse)
// when the control is made: the browser engine, which runs the page's
// scripts, applies its styles, keeps the desk's cookies and shows the page
// whole in EngineView(); or our own fetch and parser, which do none of that
// and show the page's markup in View(). Either way a handler gets our own
// document of the page, parsed from its markup: the browser engine's once
// the page has settled (see platform/engine/EngineLoad.h).

#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "platform/toolkit/Forms.h"

#include <QString>
#include <QUrl>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class QTextBrowser;
class QWebEngineView;
class HtmlDocument;
namespace platform::engine { class GuardedPage; }

class TCppWebBrowser : public QWidget {
    Q_OBJECT
public:
    explicit TCppWebBrowser(QWidget* parent = nullptr);
    ~TCppWebBrowser() override;

    // Starts loading `URL` and returns at once; the first request is sent
    // from the event loop. Only absolute http and https addresses are
    // loaded; anything else is refused (nothing is fetched, no event
    // follows, a navigation under way goes on). The page and each of its
    // frames that fails transiently is retried a few times quickly before
    // it is completed as failed (OnDocumentComplete says how to learn why).
    // A navigation started while another is loading replaces it: the
    // replaced one raises no event, not even for its frames, and one
    // replaced before the event loop ran sent no request at all. The
    // optional arguments are accepted and not used (there is no post data
    // or extra header support).
    void Navigate(const QString& URL, VARIANT* Flags = nullptr, VARIANT* TargetFrameName = nullptr,
                  VARIANT* PostData = nullptr, VARIANT* Headers = nullptr);

    // Raised from the event loop when a navigation has loaded: first once for
    // every frame and iframe document of the page (http and https sources,
    // nested at most 3 deep; inner frames before the frame holding them, in
    // document order), then once for the page itself. `pDisp` is that
    // document (QueryInterface yields IHTMLDocument2), lent for the call;
    // `URL` is a VT_BSTR of its address after redirects. A document whose
    // fetch failed is reported too, empty; a transient failure (refused,
    // dropped or reset connection, HTTP 408, 425, 429 or 5xx) is first
    // retried a few times quickly within the page time-out (see PageFetch),
    // so the event comes only once the document has loaded or has failed
    // for good. A handler learns why a document failed by QueryInterface
    // for IHTMLDocumentLoadFailure: Kind::None for a page that loaded,
    // HttpStatus for an error page (its body is the document), a network
    // kind or Timeout for an empty document; a frame left out for the body
    // budget is empty with Kind::None. If a handler starts another
    // navigation, the rest of the events of this one are not raised.
    std::function<void(TObject* Sender, LPDISPATCH pDisp, VARIANT* URL)> OnDocumentComplete;

    // Raised when the operator follows a link that would open a new window
    // (target "_blank" or a named target other than _self, _parent, _top;
    // with the browser engine also a page's script that opens one).
    // *ppDisp starts null and is ignored afterwards; *Cancel starts
    // VARIANT_FALSE. A handler that sets *Cancel to VARIANT_TRUE keeps
    // anything from opening; otherwise this control navigates to the link.
    std::function<void(TObject* Sender, LPDISPATCH* ppDisp, VARIANT_BOOL* Cancel)> OnNewWindow2;

    // Follows `href` as a click on a link of the shown page does: resolved
    // against the page's address, refused unless http or https, and checked
    // for a new-window target among the page's anchors.
    void FollowLink(const QUrl& href);

    // The address of the last completed page (empty before the first).
    QString LocationURL() const;
    // The last completed page's document (null before the first).
    ComPtr<IHTMLDocument2> Document() const;
    // Whether `pDisp` is the document of a frame (or iframe) whose
    // OnDocumentComplete is being raised, as opposed to the page itself.
    // Asked from inside that handler; any other document is no frame.
    bool IsFrameDocument(LPDISPATCH pDisp) const;
    // True while a navigation is loading.
    bool Busy() const;
    // The view showing the last completed page; owned by this control. A
    // page of up to kViewFullBytes of markup is shown whole; a longer one by
    // about its first kViewShortenedBytes, under a note saying so, because
    // the view's rich-text layout grows faster than the markup (16 KiB of
    // result-page tables take 25-35 ms, 128 KiB 200-300 ms) and a
    // multi-megabyte page would hold the window for seconds. The document
    // itself (Document()) stays whole.
    // Null with the browser engine, which shows the page in EngineView().
    QTextBrowser* View() const { return view_; }
    // The browser engine's view of the page; null with our own engine.
    QWebEngineView* EngineView() const { return engineView_; }
    static constexpr std::size_t kViewFullBytes = 64 * 1024;
    static constexpr std::size_t kViewShortenedBytes = 8 * 1024;

    // Body bytes each navigation started from now on may fetch, its page and
    // frames together (platform::kNavigationBodyBudget unless changed; tests
    // lower it). Frames that find it spent are cut or, when they have not
    // started, not fetched and completed empty.
    void SetNavigationBodyBudget(qint64 bytes) { bodyBudget_ = bytes; }
    // How long each navigation started from now on may take, its page and
    // every frame (PageLimits{} until set).
    void SetPageLimits(const platform::PageLimits& limits) { limits_ = limits; }

private:
    class Navigation;

    void OnNavigationLoaded(std::uint64_t generation);
    void ShowPage(const ComPtr<HtmlDocument>& page);
    // Raises OnNewWindow2; true when no handler cancelled and this control
    // still exists.
    bool AllowNewWindow();

    QTextBrowser* view_ = nullptr;
    QWebEngineView* engineView_ = nullptr;
    platform::engine::GuardedPage* enginePage_ = nullptr;
    // The navigation being loaded, if any; destroying it aborts its fetches.
    std::unique_ptr<Navigation> navigation_;
    // Counts navigations; an event loop turn that belongs to an older one
    // finds a different number here and does nothing.
    std::uint64_t generation_ = 0;
    ComPtr<HtmlDocument> page_;
    // The frame document whose event is being raised, if any.
    LPDISPATCH frameInEvent_ = nullptr;
    qint64 bodyBudget_;
    platform::PageLimits limits_;
};
