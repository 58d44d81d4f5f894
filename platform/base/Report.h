#pragma once
// Diagnostics on standard error: the one way the program, its layers and its
// tools write a line there. Any thread may report; each line is written with
// a single call, so lines from different threads never interleave.

#include <QString>

namespace platform {

// Writes "hotelcrawler: <text>" and a line feed.
void Report(const QString& text);

// Writes `line` as it stands and a line feed (for a line that names another
// program, such as a tool's own name).
void ReportLine(const QString& line);

}  // namespace platform
