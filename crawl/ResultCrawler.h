#pragma once
// The tests the result-page crawler applies to one anchor, and its log lines.

#include "platform/base/AnsiString.h"

// A link to a further result page: its address contains "hotsavail.ctl?" and
// its text is exactly "Next".
bool IsNextPageLink(const AnsiString& link, const AnsiString& text);
// A link to a hotel's detail page.
bool IsDetailLink(const AnsiString& link);
// The log line for the navigation to page `pageNumber` of a pass ("2th Page").
AnsiString PageLogLine(int pageNumber);
