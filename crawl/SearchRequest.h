#pragma once
// The hotel search request.

#include "platform/base/AnsiString.h"

// The search address for one destination code: `siteBase` (scheme and host,
// no port) followed by the fixed query with `destCode` inserted unchanged.
AnsiString BuildSearchUrl(const AnsiString& siteBase, const AnsiString& destCode);
