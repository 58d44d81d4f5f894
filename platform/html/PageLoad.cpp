// Loading documents from the network: URL monikers, bind contexts and the
// document's IPersistMoniker::Load.

#include "platform/dom/HtmlTree.h"
#include "platform/engine/Engine.h"
#include "platform/engine/EngineLoad.h"
#include "platform/engine/OffscreenPage.h"
#include "platform/html/BackgroundParse.h"
#include "platform/html/ComFaultCheck.h"
#include "platform/html/HtmlDocument.h"
#include "platform/net/Network.h"
#include "platform/net/PageFetch.h"
#include "platform/settings/Settings.h"

#include <QTimer>

namespace {

class UrlMoniker final : public IMoniker {
public:
    explicit UrlMoniker(QUrl address) : address_(std::move(address)) {}
    QUrl Address() const override { return address_; }

private:
    QUrl address_;
};

class BindCtx final : public IBindCtx {
public:
    HRESULT SetPageLimits(const platform::PageLimits& limits) override
    {
        limits_ = limits;
        return S_OK;
    }
    HRESULT GetPageLimits(platform::PageLimits& limits) override
    {
        limits = limits_;
        return S_OK;
    }

private:
    platform::PageLimits limits_;
};

}  // namespace

HRESULT CreateURLMoniker(IMoniker* pmkContext, const QString& szURL, ComPtr<IMoniker>& ppmk)
{
    ppmk.reset();
    HRESULT injected;
    if (TakeInjectedComFailure(ComCall::CreateURLMoniker, injected))
        return injected;
    // Tolerant, as a browser's address parsing is: an address as the
    // documents print it (spaces or other characters left unencoded) still
    // loads, encoded.
    QUrl address(szURL.trimmed(), QUrl::TolerantMode);
    if (pmkContext && address.isValid() && address.isRelative())
        address = pmkContext->Address().resolved(address);
    // Only http and https ever make a moniker: a stored file:, javascript:
    // or data: address must never read a local file or run anything.
    if (!platform::IsFetchable(address))
        return MK_E_SYNTAX;
    ppmk = std::make_shared<UrlMoniker>(address);
    return S_OK;
}

HRESULT CreateBindCtx(DWORD reserved, ComPtr<IBindCtx>& ppbc)
{
    ppbc.reset();
    HRESULT injected;
    if (TakeInjectedComFailure(ComCall::CreateBindCtx, injected))
        return injected;
    ppbc = std::make_shared<BindCtx>();
    return S_OK;
}

namespace {

// Hands what a load brought to `weak`'s document: nothing (an empty
// document that says why) or a body that a worker decodes and parses first.
void Deliver(const std::weak_ptr<IDispatch>& weak, QObject* context, bool answered, const QByteArray& body,
             const QByteArray& contentType, const QUrl& address, int status, const platform::FetchFailure& failure)
{
    const auto doc = std::dynamic_pointer_cast<HtmlDocument>(weak.lock());
    if (!doc)
        return;
    if (!answered) {
        // No answer (after the load's quick retries): an empty document
        // that says why.
        doc->SetContent(QString(), address);
        doc->SetLoadFailure(failure);
        doc->SetReadyState(QStringLiteral("complete"));
        return;
    }
    // Still "loading" while the worker decodes and parses: the tree the
    // callers see changes only when the new one is complete.
    new platform::BackgroundParse(
        {body, contentType, address, true},
        [weak, status, failure, context](std::shared_ptr<html::Tree> tree) {
            const auto doc = std::dynamic_pointer_cast<HtmlDocument>(weak.lock());
            if (!doc)
                return;
            doc->SetTree(std::move(tree));
            doc->SetHttpStatus(status);
            // An error status's body is the document; the failure tells it
            // from the page asked for.
            doc->SetLoadFailure(failure);
            doc->SetReadyState(QStringLiteral("interactive"));
            // "complete" follows on the next turn of the event loop, as in a
            // browser where the parsed document settles before it is
            // complete. The timer belongs to the load, so a newer Load or the
            // document's destruction cancels it.
            QTimer::singleShot(0, context, [weak] {
                if (const auto later = std::dynamic_pointer_cast<HtmlDocument>(weak.lock()))
                    later->SetReadyState(QStringLiteral("complete"));
            });
        },
        context);
}

}  // namespace

HRESULT HtmlDocument::Load(bool fFullyAvailable, IMoniker* pimkName, IBindCtx* pibc, DWORD grfMode)
{
    if (!pimkName)
        return E_INVALIDARG;
    const QUrl address = pimkName->Address();

    // A load still under way is abandoned: dropping its fetch or its parse
    // guarantees that its result never arrives here.
    load_.reset();
    httpStatus_ = 0;
    loadFailure_ = {};
    SetReadyState(QStringLiteral("loading"));

    // The load's fetch, parse and settling timer are children of `job`,
    // which this document owns, so none of their callbacks can outlive it;
    // the weak reference additionally keeps a callback from reviving or
    // touching a document whose last owner let go while a report was being
    // delivered.
    auto job = std::make_unique<QObject>();
    QObject* context = job.get();
    const std::weak_ptr<IDispatch> weak = weak_from_this();
    platform::PageLimits limits;
    if (pibc)
        pibc->GetPageLimits(limits);
    if (platform::engine::EngineInUse() == platform::BrowserEngine::Chromium) {
        // In the browser engine's off-screen page: scripts run and settle,
        // and the page's markup as it then stands is the document.
        auto* lease = new platform::engine::OffscreenLease(context);
        auto* load = new platform::engine::EngineLoad(
            lease->Page(), address, limits.timeoutS, limits.settleMs,
            [weak, context](const platform::engine::EngineResult& result) {
                const bool answered = !result.page.page.html.isEmpty() || !result.failure.Failed();
                Deliver(weak, context, answered, result.page.page.html,
                        QByteArrayLiteral("text/html; charset=utf-8"), result.page.page.address, result.httpStatus,
                        result.failure);
            },
            context);
        load_ = std::move(job);
        load->Start();
        return S_OK;
    }
    auto* fetch = new platform::PageFetch(
        address, limits.timeoutS,
        [weak, address, context](const platform::PageResult& result) {
            Deliver(weak, context, result.ok, result.body, result.contentType,
                    result.ok ? result.finalAddress : address, result.httpStatus, result.failure);
        },
        context);
    fetch->KeepRawBody();
    load_ = std::move(job);
    fetch->Start();
    return S_OK;
}
