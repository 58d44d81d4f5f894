#pragma once
// The hotel search request and the pace at which destinations follow each other.

#include "platform/base/AnsiString.h"

// Ticks of Timer1 since the last search step, 0 .. 60.
extern int SearchTicks;

// The search address for one destination code: `siteBase` (scheme and host,
// no port) followed by the fixed query with `destCode` inserted unchanged.
AnsiString BuildSearchUrl(const AnsiString& siteBase, const AnsiString& destCode);
