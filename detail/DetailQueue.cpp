// The detail queue driver: one step takes the last pending link, extracts its
// hotel page and keeps what it found; Timer2 runs a step every 61st tick.

#include "detail/DetailQueue.h"

#include "app/Unit1.h"
#include "detail/HotelDescParser.h"
#include "store/Staymarker.h"

#include <QDateTime>

#include <cstdio>

int DetailTicks = 0;

namespace {

bool AnySectionFound(const THotelDescParser& parser)
{
    for (const AnsiString* field :
         {&parser.Transportation, &parser.Direction, &parser.PropertyInformation, &parser.Services,
          &parser.Dining, &parser.RatingsAwards, &parser.Attractions, &parser.PhotoUrl,
          &parser.HeaderBar, &parser.HotelInfo})
        if (!field->empty())
            return true;
    return false;
}

// Keeps the extracted sections in Staymarker; a database failure is reported
// on standard error and the crawl goes on.
void KeepHotel(const THotelDescParser& parser, const AnsiString& airPort)
{
    if (!parser.Loaded() || !AnySectionFound(parser))
        return;
    store::StaymarkerRow row;
    row.Url = parser.PageUrl;
    row.AirPort = airPort;
    row.HeaderBar = parser.HeaderBar;
    row.HotelInfo = parser.HotelInfo;
    row.Direction = parser.Direction;
    row.Dining = parser.Dining;
    row.Transportation = parser.Transportation;
    row.PropertyInformation = parser.PropertyInformation;
    row.Services = parser.Services;
    row.RatingsAwards = parser.RatingsAwards;
    row.Attractions = parser.Attractions;
    row.PhotoUrl = parser.PhotoUrl;
    row.ExtractedAt = ToAnsi(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    QString error;
    if (!store::StoreHotel(row, &error))
        std::fprintf(stderr, "hotelcrawler: could not keep %s: %s\n", row.Url.c_str(), qPrintable(error));
}

}  // namespace

void TForm1::ProcessNextDetail()
{
    // 1.
    if (PendingLinks.empty()) {
        Timer1->SetEnabled(true);
    } else {
        // 2.1-2.2, with no message pumped in between.
        const Hotel_Url link = PendingLinks.back();
        PendingLinks.pop_back();
        // 2.3-2.6.
        auto parser = std::make_unique<THotelDescParser>();
        parser->SetUrl(link.Url);
        parser->Parse();
        KeepHotel(*parser, link.AirPort);
        parser.reset();
    }
    // 3.
    Timer2->SetEnabled(true);
}

void TForm1::Timer2Timer(TObject* Sender)
{
    if (DetailTicks == 60) {
        DetailTicks = 0;
        ProcessNextDetail();
    } else {
        ++DetailTicks;
    }
}
