// Parse: the off-screen page load of one detail page and the hand-over to
// the section walk.

#include "detail/HotelDescParser.h"
#include "detail/Pump.h"
#include "platform/base/Report.h"
#include "platform/html/Mshtml.h"
#include "platform/settings/Settings.h"
#include "platform/toolkit/Forms.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

// The interfaces one load holds. Dropping the struct releases them all, on
// every way out of Parse, including the early ones after a failed creation.
struct THotelDescParser::LoadedPage {
    ComPtr<IHTMLDocument2> doc;
    ComPtr<IMoniker> moniker;
    ComPtr<IBindCtx> ctx;
    ComPtr<IPersistMoniker> persist;
};

namespace {

// True for a document with nothing in it: no elements beyond the implied
// html, head and body, and no text. The engine ends a fetch that failed or
// ran out of time as such a document in readyState "complete", so this is
// how a lost page is told from a loaded one.
bool IsEmptyDocument(IHTMLDocument2& doc)
{
    ComPtr<IHTMLElementCollection> all;
    LONG n = 0;
    if (FAILED(doc.get_all(all)) || !all || FAILED(all->get_length(&n)) || n == 0)
        return true;
    if (n > 3)
        return false;
    ComPtr<IDispatch> root;
    ComPtr<IHTMLElement> rootElement;
    if (all->item(VariantI4(0), VARIANT{}, root) != S_OK || QueryInterface(root.get(), rootElement) != S_OK)
        return true;
    QString outer;
    rootElement->get_outerHTML(outer);
    return outer == QStringLiteral("<html><head></head><body></body></html>");
}

// The HTTP status the page answered with; 0 when the document cannot tell.
int HttpStatusOf(IHTMLDocument2& doc)
{
    ComPtr<IHTMLDocumentHttpStatus> status;
    int code = 0;
    if (QueryInterface(&doc, status) == S_OK && status)
        status->get_httpStatus(code);
    return code;
}

}  // namespace

bool THotelDescParser::LoadDocument(LoadedPage& page)
{
    // 1. The address as UTF-16.
    const QString address = ToWide(PageUrl);

    // 2. The document.
    if (FAILED(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, page.doc))) {
        ShowMessage("MSHTML 생성 실패");
        return false;
    }
    // 3. The moniker.
    if (FAILED(CreateURLMoniker(nullptr, address, page.moniker))) {
        ShowMessage("URL Moniker 생성 실패");
        return false;
    }
    // 4. The bind context.
    if (FAILED(CreateBindCtx(0, page.ctx))) {
        ShowMessage("IBindCtx 생성 실패");
        return false;
    }

    // The time limit runs from the start of the load, so a page that never
    // completes (or a document that could not start a load) ends the wait.
    // A non-positive setting would fail every page at once; one second is the floor.
    const int timeoutS = std::max(platform::CurrentSettings().pageTimeoutS, 1);
    const QDeadlineTimer deadline(std::chrono::seconds{timeoutS});

    // 5. Start the load; its result is not examined: a load that does not
    // start simply never completes and runs into the time limit.
    if (SUCCEEDED(QueryInterface(page.doc, page.persist)) && page.persist)
        page.persist->Load(false, page.moniker.get(), page.ctx.get(), 0);

    // HandleMessage below sleeps until an event arrives; this timer makes
    // sure one arrives at the deadline even when the page sends nothing. It
    // is re-armed whenever it has fired, so a tick that comes a little early
    // cannot leave the wait asleep with no event to come.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);

    // 6. The pumped wait.
    QString state;
    for (;;) {
        detail::PumpOnce();
        state.clear();
        page.doc->get_readyState(state);
        if (state == QStringLiteral("complete")) {
            // An error page (404, 500...) arrives with a body like any page;
            // its sections, if it had any, are not the hotel's.
            if (const int status = HttpStatusOf(*page.doc); status >= 400) {
                platform::Report(QStringLiteral("page answered HTTP %1, not extracted: %2").arg(status).arg(ToWide(PageUrl)));
                return false;
            }
            if (!IsEmptyDocument(*page.doc))
                return true;
            platform::Report(QStringLiteral("page empty or not fetched, not extracted: %1").arg(ToWide(PageUrl)));
            return false;
        }
        if (deadline.hasExpired()) {
            platform::Report(QStringLiteral("page not complete after %1 s, not extracted: %2").arg(timeoutS).arg(ToWide(PageUrl)));
            return false;
        }
        if (!wake.isActive())
            wake.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0) + 1));
        // Waits for the next event instead of spinning the CPU while the page loads.
        if (Application)
            Application->HandleMessage();
    }
}

void THotelDescParser::Parse()
{
    loaded_ = false;
    LoadedPage page;
    if (!LoadDocument(page))
        return;  // 8. `page` releases what was created
    loaded_ = true;
    // 7. The section walk, while the document is still held.
    ExtractSections(page.doc.get());
    // 8. `page` releases the document, moniker, bind context and persistence.
}
