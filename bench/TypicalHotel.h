#pragma once
// A hotel row of typical size (about 2 KB of section text), for the store's
// benchmarks.

#include "store/Staymarker.h"

#include <string>

inline store::StaymarkerRow TypicalHotel(const AnsiString& url)
{
    store::StaymarkerRow row;
    row.Url = url;
    row.AirPort = "osl";
    row.HeaderBar = "Hotel Bristol Avg Price 1,290 NOK";
    row.HotelInfo = std::string(400, 'i');
    row.Direction = std::string(300, 'd');
    row.Dining = std::string(200, 'f');
    row.Transportation = std::string(200, 't');
    row.PropertyInformation = std::string(300, 'p');
    row.Services = std::string(300, 's');
    row.RatingsAwards = std::string(100, 'r');
    row.Attractions = std::string(200, 'a');
    row.PhotoUrl = "http://hotels.example:80/hotsphoto.ctl?hotel=b";
    row.ExtractedAt = "2024-05-01T12:00:00Z";
    return row;
}
