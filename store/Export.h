#pragma once
// Text forms of the "Staymarker" rows for the export tool.

#include "store/Staymarker.h"

#include <QStringList>

#include <iosfwd>
#include <string>
#include <vector>

namespace store {

// RFC 4180 CSV: a header line with the column names, then one line per row;
// a field containing a comma, a double quote, CR or LF is quoted with its
// quotes doubled; every line ends with CRLF.
std::string HotelsToCsv(const std::vector<StaymarkerRow>& rows);

// One JSON object per row and line (LF), the column names as keys in column
// order. Text is written as UTF-8; quotes, backslashes and control characters
// are escaped.
std::string HotelsToJsonLines(const std::vector<StaymarkerRow>& rows);

// Appends `text` (UTF-8) to `out` as a JSON string: quoted, with quotes,
// backslashes and control characters escaped.
void AppendJsonString(std::string& out, const std::string& text);

// The export tool: `[--format csv|jsonl]` (csv when not given), writes every
// row to `out`. Returns the exit code: 0 done, 1 database failure (message on
// `err`), 2 bad arguments (usage on `err`).
int RunExport(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace store
