// Fuzzes the result-page pass: a fresh window per input, the input parsed as
// the result page of a search, and TForm1::CrawlResultPage run over it as
// the browser's document-complete event does, with everything it starts:
// navigations to fuzzed "Next" addresses and the detail load of the last
// collected link. Every fetch ends at the closed loopback port of the
// network lock-down (see FuzzSupport.h), so it fails at once.
//
// Checked besides crashes: the pass queues each detail link at most once,
// only detail links are queued, and the paging list is used up.

#include "app/Unit1.h"
#include "crawl/ResultCrawler.h"
#include "fuzz/FuzzSupport.h"
#include "platform/html/Com.h"
#include "platform/html/Mshtml.h"
#include "tests/support/FormAccess.h"

#include <QUrl>

#include <memory>
#include <set>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/cannonball.ctl?Service=LODGEVISTAS&airport=osl"));

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::InitApplication(argc, argv);
    // One window before the first input: the toolkit's first-use caches
    // (fonts, styles, the database connection) fill here, so the fuzzer's
    // per-input leak check and coverage see only what the pass itself does.
    static const char warmUp[] = "<!DOCTYPE html><body><p>No hotels</p><a name=h href='hotsdetail.ctl?hotel=1'>x</a>";
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(warmUp), sizeof warmUp - 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    {
        TForm1 form;
        TForm1TestAccess f(form);
        f.SearchStarted() = 1;
        f.DestCode() = "osl";

        ComPtr<IHTMLDocument2> document = fuzz::ParsedDocument(data, size, kAddress);
        f.CrawlResultPage(document.get());
        document.reset();

        std::set<AnsiString> queued;
        for (const Hotel_Url& link : f.PendingLinks()) {
            if (!IsDetailLink(link.Url))
                fuzz::Fail("a link that is no detail link was queued", QString::fromStdString(link.Url));
            if (!queued.insert(link.Url).second)
                fuzz::Fail("a detail link was queued twice", QString::fromStdString(link.Url));
        }
        if (!f.NextPages().empty())
            fuzz::Fail("paging links were left after the pass");
        // The window's close is not run: it would save the queue into Going
        // and start another detail step; the input's work ends here.
    }
    // FormCreate initialised COM once more; give it back as the close would.
    CoUninitialize();
    fuzz::DrainEvents();
    return 0;
}
