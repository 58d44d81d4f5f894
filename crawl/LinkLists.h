#pragma once
// The containers in which the window collects links. Map keys compare byte
// by byte as unsigned values (std::string's ordering), so walking a map
// visits its keys in ordinal order.

#include "platform/base/AnsiString.h"
#include "store/HotelUrl.h"

#include <map>
#include <vector>

using TLinkCounts = std::map<AnsiString, int>;
using TNextPages = std::vector<AnsiString>;
using TPendingLinks = std::vector<Hotel_Url>;
