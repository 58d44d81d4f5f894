// The detail queue driver: one step takes the last pending link, extracts its
// hotel page and keeps what it found; Timer2 runs a step every 61st tick.

#include "detail/DetailQueue.h"

#include "app/Unit1.h"
#include "detail/HotelDescParser.h"
#include "store/Staymarker.h"

#include <QDateTime>

#include <algorithm>
#include <optional>

int DetailTicks = 0;

namespace {

bool AnySectionFound(const THotelDescParser& parser)
{
    return std::any_of(store::kHotelSectionFields.begin(), store::kHotelSectionFields.end(),
                       [&](const auto& field) { return !(parser.*field.member).empty(); });
}

// The Staymarker row of what the page yielded; none for a page that did not
// load (its error page, say) or yielded no section, so that a good row kept
// earlier is never replaced by an empty one.
std::optional<store::StaymarkerRow> HotelRow(const THotelDescParser& parser, const AnsiString& airPort)
{
    if (!parser.Loaded() || !AnySectionFound(parser))
        return std::nullopt;
    store::StaymarkerRow row;
    static_cast<store::HotelSections&>(row) = parser;
    row.Url = parser.PageUrl;
    row.AirPort = airPort;
    row.ExtractedAt = ToAnsi(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    return row;
}

}  // namespace

void TForm1::ProcessNextDetail()
{
    // 1.
    if (PendingLinks.empty()) {
        Timer1->SetEnabled(true);
    } else {
        // 2.1-2.2, with no message pumped in between. The link stays in
        // "Going" while its page is handled, so a crash meanwhile loses nothing.
        const Hotel_Url link = PendingLinks.back();
        PendingLinks.pop_back();
        InProgressLinks.push_back(link);
        // 2.3-2.6.
        auto parser = std::make_unique<THotelDescParser>();
        parser->SetUrl(link.Url);
        parser->Parse();
        // The link leaves "Going" in the transaction that keeps its hotel.
        GoingWrites.Handled(link, HotelRow(*parser, link.AirPort));
        parser.reset();
        // Nested steps finish first, so this step's link is the last one.
        const auto mine = std::find(InProgressLinks.rbegin(), InProgressLinks.rend(), link);
        if (mine != InProgressLinks.rend())
            InProgressLinks.erase(std::next(mine).base());
    }
    // 3.
    Timer2->SetEnabled(true);
}

void TForm1::Timer2Timer(TObject* Sender)
{
    if (Closed)
        return;
    if (DetailTicks == 60) {
        DetailTicks = 0;
        ProcessNextDetail();
    } else {
        ++DetailTicks;
    }
}
