// Fuzzes the section extractor: the fast walk (ExtractSections, which tests
// tables by their extents in one serialization of the page) and the direct
// walk (ExtractSectionsPlain, which serializes every table) must fill the
// twelve fields of a record identically for any page.

#include "detail/HotelDescParser.h"
#include "fuzz/FuzzSupport.h"
#include "platform/html/Mshtml.h"

#include <QUrl>

#include <array>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=fuzz"));

constexpr const char* kFieldNames[12] = {
    "PageUrl", "Spare", "Transportation", "Direction", "PropertyInformation", "Services",
    "Dining", "RatingsAwards", "Attractions", "PhotoUrl", "HeaderBar", "HotelInfo"};

std::array<const AnsiString*, 12> Fields(const THotelDescParser& r)
{
    return {&r.PageUrl, &r.Spare, &r.Transportation, &r.Direction, &r.PropertyInformation, &r.Services,
            &r.Dining, &r.RatingsAwards, &r.Attractions, &r.PhotoUrl, &r.HeaderBar, &r.HotelInfo};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The walks pump the application's events.
    fuzz::InitApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ComPtr<IHTMLDocument2> document;
    if (CreateDocumentFromHtml(fuzz::Utf8Text(data, size), kAddress, document) != S_OK || !document)
        fuzz::Fail("CreateDocumentFromHtml failed");

    THotelDescParser fast;
    THotelDescParser plain;
    fast.ExtractSections(document.get());
    plain.ExtractSectionsPlain(document.get());

    const auto a = Fields(fast);
    const auto b = Fields(plain);
    for (int i = 0; i < 12; ++i) {
        if (*a[i] != *b[i])
            fuzz::Fail("ExtractSections and ExtractSectionsPlain disagree",
                       QStringLiteral("field %1\nfast:  \"%2\"\nplain: \"%3\"")
                           .arg(QLatin1String(kFieldNames[i]))
                           .arg(QString::fromStdString(*a[i]).left(400))
                           .arg(QString::fromStdString(*b[i]).left(400)));
    }
    return 0;
}
