#pragma once
// THotelDescParser: the record of what one hotel detail page yields, and the
// load-and-extract operation that fills it.
//
// Lifetime: created by the detail driver for one link, used for one Parse,
// destroyed right after. The record owns its strings (kRecordFields: PageUrl,
// Spare and the sections of store::HotelSections) and nothing else; every
// COM object of a load lives inside Parse and is released before it returns.
// Parse needs a TApplication (it pumps the application's events while the
// page loads and between elements of the walk) and runs on the thread that
// created the record.

#include "platform/base/AnsiString.h"
#include "platform/html/Com.h"
#include "platform/net/FetchFailure.h"
#include "platform/settings/Settings.h"
#include "store/HotelRecord.h"

#include <array>

class IHTMLDocument2;

class THotelDescParser : public store::HotelSections {
public:
    // All fields empty; initialises COM for the calling thread. A failure
    // code shows "COM Init 에러" and construction finishes all the same.
    // A record of a page of the site at `siteBase` (scheme and host, as the
    // settings give it): photo links are recognised by it.
    explicit THotelDescParser(const QString& siteBase);
    // Gives back the constructor's COM initialisation when it succeeded.
    ~THotelDescParser();

    THotelDescParser(const THotelDescParser&) = delete;
    THotelDescParser& operator=(const THotelDescParser&) = delete;

    // Stores `address` in PageUrl, unvalidated.
    void SetUrl(const AnsiString& address);

    // Loads PageUrl into a fresh off-screen document within `limits`, waits
    // (pumping events) until it reports "complete", then extracts the
    // sections into the fields. A creation failure shows its message box and
    // ends Parse. A page that does not complete within the page time-out, or
    // whose load failed (no answer, a broken answer, an HTTP status of 400
    // or more, as the engine reports it after its own quick retries), is a
    // failed load: no extraction, no message box; LoadFailure() says why.
    // Events are processed during the call, so handlers (and nested Parses
    // of other records) may run inside it.
    void Parse(const platform::PageLimits& limits);

    // True when the last Parse saw its document reach "complete" within the
    // time limit with no load failure, and ran the extraction; callers keep
    // the fields only then.
    bool Loaded() const { return loaded_; }
    // Why the last Parse did not load its page: Kind::None after a load (or
    // before any Parse). A creation failure is Kind::Refused for an address
    // no moniker can be made of (it will never load) and Kind::Other for
    // the document or bind context (the engine, not the page, failed).
    const platform::FetchFailure& LoadFailure() const { return failure_; }

    // Extracts the sections of an already complete document (a page parsed
    // from a file, say) into the fields; `document` is borrowed.
    void ParseDocument(IHTMLDocument2* document);

    // The section walk. Fills PhotoUrl and the fields of
    // detail::kSectionMarkers from `document` (borrowed); a field whose
    // marker occurs nowhere keeps its value. Uses the document's
    // serialization when it offers one, so each table is tested without
    // serializing it again; the results equal those of ExtractSectionsPlain.
    // Pumps the application's events after the first element and then at
    // most once per millisecond of walking.
    void ExtractSections(IHTMLDocument2* document);

    // The same walk done the direct way: every table's outer HTML is
    // serialized and searched, and inner text is read for every match. The
    // reference for tests and benchmarks, and the path taken when a document
    // offers no serialization. Pumps events once after every element.
    void ExtractSectionsPlain(IHTMLDocument2* document);

    // The sections (HeaderBar ... PhotoUrl) come from store::HotelSections.
    AnsiString PageUrl;
    AnsiString Spare;

private:
    struct LoadedPage;
    // Parse up to the section walk: create, bind, start the load and wait.
    // Returns false after a failure (message shown or timeout reported);
    // `page` then holds whatever was created, released by the caller.
    bool LoadDocument(LoadedPage& page, const platform::PageLimits& limits);

    // What a photo link's href must contain (detail::PhotoPrefix).
    const AnsiString photoPrefix_;
    HRESULT comInit_ = E_FAIL;
    bool loaded_ = false;
    platform::FetchFailure failure_;
};

// The record's fields with their names, in the order the extract
// tool prints them: PageUrl, Spare, then the sections in column order.
inline constexpr auto kRecordFields = store::WithSections<THotelDescParser>(
    std::to_array<store::NamedField<THotelDescParser>>({{"PageUrl", &THotelDescParser::PageUrl},
                                                        {"Spare", &THotelDescParser::Spare}}),
    std::array<store::NamedField<THotelDescParser>, 0>{});
static_assert(store::AllDistinct(kRecordFields));
