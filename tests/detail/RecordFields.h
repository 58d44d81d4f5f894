#pragma once
// Helpers shared by the detail tests: a record's fields as one comparable
// value, and documents parsed from text or from the fixture folder.

#include "detail/HotelDescParser.h"
#include "platform/html/Mshtml.h"

#include <QFile>
#include <QString>
#include <QUrl>

#include <array>
#include <ostream>
#include <string>

namespace detailtest {

struct Fields {
    std::array<AnsiString, 12> values;
    bool operator==(const Fields&) const = default;
};

inline constexpr const char* kFieldNames[12] = {
    "PageUrl", "Spare", "Transportation", "Direction", "PropertyInformation", "Services",
    "Dining", "RatingsAwards", "Attractions", "PhotoUrl", "HeaderBar", "HotelInfo"};

inline Fields FieldsOf(const THotelDescParser& r)
{
    return {{r.PageUrl, r.Spare, r.Transportation, r.Direction, r.PropertyInformation, r.Services,
             r.Dining, r.RatingsAwards, r.Attractions, r.PhotoUrl, r.HeaderBar, r.HotelInfo}};
}

inline void PrintTo(const Fields& f, std::ostream* os)
{
    for (int i = 0; i < 12; ++i) {
        if (!f.values[i].empty())
            *os << "\n  " << kFieldNames[i] << "=\"" << f.values[i] << '"';
    }
}

// A complete document parsed from `html`; COM must be initialised.
inline ComPtr<IHTMLDocument2> DocumentFrom(const std::string& html,
                                           const QString& address = QStringLiteral("http://hotels.example/hotsdetail.ctl?hotel=t"))
{
    ComPtr<IHTMLDocument2> doc;
    CreateDocumentFromHtml(QString::fromStdString(html), QUrl(address), doc);
    return doc;
}

inline std::string FixtureText(const QString& name)
{
    QFile file(QStringLiteral(HC_SOURCE_DIR "/tests/detail/fixtures/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

}  // namespace detailtest
