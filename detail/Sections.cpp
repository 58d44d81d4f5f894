#include "detail/Sections.h"

namespace detail {

const std::array<SectionMarker, 9> kSectionMarkers = {{
    {"gray_header_bar", &store::HotelSections::HeaderBar, PostProcess::HeaderCut},
    {"hotel_info", &store::HotelSections::HotelInfo, PostProcess::TrimLeft},
    {"Direction", &store::HotelSections::Direction, PostProcess::None},
    {"Dining", &store::HotelSections::Dining, PostProcess::None},
    {"Transportation", &store::HotelSections::Transportation, PostProcess::None},
    {"Property Information", &store::HotelSections::PropertyInformation, PostProcess::None},
    {"Services", &store::HotelSections::Services, PostProcess::None},
    {"Ratings_Awards", &store::HotelSections::RatingsAwards, PostProcess::None},
    {"Attractions", &store::HotelSections::Attractions, PostProcess::None},
}};

AnsiString MarkerText(std::string_view sectionName)
{
    AnsiString marker = "name=\"";
    marker.append(sectionName);
    marker.push_back('"');
    return marker;
}

bool HasMarker(const AnsiString& outerHtml, const AnsiString& sectionName)
{
    return Pos(MarkerText(sectionName), outerHtml) > 0;
}

AnsiString HeaderCut(const AnsiString& header)
{
    const int p = Pos("Avg Price", header);
    return TrimLeft(p > 0 ? header.substr(0, static_cast<std::size_t>(p - 1)) : header);
}

AnsiString PostProcessText(PostProcess post, const AnsiString& innerText)
{
    switch (post) {
    case PostProcess::None:
        return innerText;
    case PostProcess::TrimLeft:
        return TrimLeft(innerText);
    case PostProcess::HeaderCut:
        return HeaderCut(innerText);
    }
    return innerText;
}

AnsiString PhotoPrefix(const QString& siteBase)
{
    QString base = siteBase;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return ToAnsi(base) + ":80/hotsphoto.ctl?";
}

}  // namespace detail
