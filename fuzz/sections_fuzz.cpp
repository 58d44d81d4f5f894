// Fuzzes the section extractor: the fast walk (ExtractSections, which tests
// tables by their extents in one serialization of the page) and the direct
// walk (ExtractSectionsPlain, which serializes every table) must fill the
// fields of a record (kRecordFields) identically for any page.

#include "detail/HotelDescParser.h"
#include "fuzz/FuzzSupport.h"
#include "platform/html/Mshtml.h"

#include <QUrl>

namespace {

const QUrl kAddress(QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=fuzz"));

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // The walks pump the application's events.
    fuzz::InitApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ComPtr<IHTMLDocument2> document = fuzz::ParsedDocument(data, size, kAddress);

    THotelDescParser fast{platform::CurrentSettings().siteBase};
    THotelDescParser plain{platform::CurrentSettings().siteBase};
    fast.ExtractSections(document.get());
    plain.ExtractSectionsPlain(document.get());

    for (const auto& field : kRecordFields) {
        const AnsiString& a = fast.*field.member;
        const AnsiString& b = plain.*field.member;
        if (a != b)
            fuzz::Fail("ExtractSections and ExtractSectionsPlain disagree",
                       QStringLiteral("field %1\nfast:  \"%2\"\nplain: \"%3\"")
                           .arg(QString::fromUtf8(field.name.data(), static_cast<qsizetype>(field.name.size())))
                           .arg(QString::fromStdString(a).left(400))
                           .arg(QString::fromStdString(b).left(400)));
    }
    return 0;
}
