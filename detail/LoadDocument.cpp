// Parse: the off-screen page load of one detail page and the hand-over to
// the section walk.

#include "detail/HotelDescParser.h"
#include "detail/Pump.h"
#include "platform/html/Mshtml.h"
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

bool THotelDescParser::LoadDocument(LoadedPage& page, const platform::PageLimits& limits)
{
    const QString address = ToWide(PageUrl);

    if (FAILED(CoCreateInstance(CLSID_HTMLDocument, nullptr, CLSCTX_INPROC_SERVER, page.doc))) {
        failure_ = {platform::FetchFailure::Kind::Other, 0, -1, QStringLiteral("no document could be created")};
        ShowMessage("MSHTML 생성 실패");
        return false;
    }
    if (FAILED(CreateURLMoniker(nullptr, address, page.moniker))) {
        failure_ = {platform::FetchFailure::Kind::Refused, 0, -1, QStringLiteral("not an http or https address")};
        ShowMessage("URL Moniker 생성 실패");
        return false;
    }
    if (FAILED(CreateBindCtx(0, page.ctx))) {
        failure_ = {platform::FetchFailure::Kind::Other, 0, -1, QStringLiteral("no bind context could be created")};
        ShowMessage("IBindCtx 생성 실패");
        return false;
    }
    page.ctx->SetPageLimits(limits);

    // The time limit runs from the start of the load, so a page that never
    // completes (or a document that could not start a load) ends the wait.
    const QDeadlineTimer deadline(std::chrono::seconds{limits.timeoutS});

    // The load's result is not examined: a load that does not start simply
    // never completes and runs into the time limit.
    if (SUCCEEDED(QueryInterface(page.doc, page.persist)) && page.persist)
        page.persist->Load(false, page.moniker.get(), page.ctx.get(), 0);

    // HandleMessage below sleeps until an event arrives; this timer makes
    // sure one arrives at the deadline even when the page sends nothing. It
    // is re-armed whenever it has fired, so a tick that comes a little early
    // cannot leave the wait asleep with no event to come.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);

    QString state;
    for (;;) {
        detail::PumpOnce();
        state.clear();
        page.doc->get_readyState(state);
        if (state == QStringLiteral("complete")) {
            // A failed fetch completes too: empty, or as an error page (404,
            // 503...) whose sections, if it had any, are not the hotel's.
            ComPtr<IHTMLDocumentLoadFailure> load;
            if (QueryInterface(page.doc, load) == S_OK && load)
                load->get_loadFailure(failure_);
            return !failure_.Failed();
        }
        if (deadline.hasExpired()) {
            failure_ = {platform::FetchFailure::Kind::Timeout, 0, -1,
                        QStringLiteral("not complete after %1 s").arg(limits.timeoutS)};
            return false;
        }
        if (!wake.isActive())
            wake.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0) + 1));
        // Waits for the next event instead of spinning the CPU while the page loads.
        if (Application)
            Application->HandleMessage();
    }
}

void THotelDescParser::Parse(const platform::PageLimits& limits)
{
    loaded_ = false;
    failure_ = {};
    LoadedPage page;
    if (!LoadDocument(page, limits))
        return;
    loaded_ = true;
    // The section walk, while `page` still holds the document.
    ExtractSections(page.doc.get());
}
