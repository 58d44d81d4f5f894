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
#include <stdexcept>
#include <string>

namespace detailtest {

// The twelve fields of a record, in kRecordFields order (PageUrl first).
struct Fields {
    std::array<AnsiString, kRecordFields.size()> values;
    bool operator==(const Fields&) const = default;

    // The value of one field: f[&THotelDescParser::Dining].
    const AnsiString& operator[](AnsiString THotelDescParser::*member) const
    {
        for (std::size_t i = 0; i < kRecordFields.size(); ++i)
            if (kRecordFields[i].member == member)
                return values[i];
        throw std::out_of_range("not a field of the record");
    }
};

inline std::string NameOf(AnsiString THotelDescParser::*member)
{
    for (const auto& field : kRecordFields)
        if (field.member == member)
            return std::string(field.name);
    return "?";
}

inline Fields FieldsOf(const THotelDescParser& r)
{
    Fields f;
    for (std::size_t i = 0; i < kRecordFields.size(); ++i)
        f.values[i] = r.*kRecordFields[i].member;
    return f;
}

inline void PrintTo(const Fields& f, std::ostream* os)
{
    for (std::size_t i = 0; i < kRecordFields.size(); ++i) {
        if (!f.values[i].empty())
            *os << "\n  " << kRecordFields[i].name << "=\"" << f.values[i] << '"';
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
