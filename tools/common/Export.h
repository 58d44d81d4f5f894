#pragma once
// Text forms of the "Staymarker" and "Failures" rows for the export tool.

#include "store/Failures.h"
#include "store/Staymarker.h"

#include <QStringList>

#include <iosfwd>
#include <string>
#include <vector>

namespace tools {

// RFC 4180 CSV: a header line with the column names, then one line per row;
// a field containing a comma, a double quote, CR or LF is quoted with its
// quotes doubled; every line ends with CRLF.
// A field that starts with '=', '+', '-', '@', tab or CR would be taken for a
// formula by spreadsheet programs; it is written with a single quote "'" in
// front (inside the quotes when it is quoted), so "=1+1" becomes "'=1+1" and
// "-5" becomes "'-5". Readers that want the stored text drop that one quote.
std::string HotelsToCsv(const std::vector<store::StaymarkerRow>& rows);

// The rows of "Failures" as CSV under the same rules (formula guard
// included): the header of the column names (store::kFailureColumns), then
// one line per row in the order recorded.
std::string FailuresToCsv(const std::vector<store::FailureRecord>& rows);

// One JSON object per row and line (LF), the column names as keys in column
// order. Text is written as UTF-8; quotes, backslashes and control characters
// are escaped. Values are exactly the stored text (no formula guard).
std::string HotelsToJsonLines(const std::vector<store::StaymarkerRow>& rows);

// Appends `text` (UTF-8) to `out` as a JSON string: quoted, with quotes,
// backslashes and control characters escaped.
void AppendJsonString(std::string& out, const std::string& text);

// The export tool: `[--settings FILE] [--format csv|jsonl|xlsx | --summary |
// --failures] [--output FILE]`. Writes every row (csv when no format is
// given), or with --summary the per-destination table of SummaryTable, or
// with --failures FailuresToCsv of every row of "Failures" (only the header
// when a database not yet upgraded has no such table). The text goes to
// `out`, or with --output to FILE through ExportOutput (FILE is replaced
// only when everything was written). xlsx is a workbook (WriteWorkbook) and
// needs --output; texts it had to cut are counted on `err`. Hotels and
// failures are read and written one row at a time (store::ForEachHotel,
// store::ForEachFailure), so the memory taken does not grow with the
// tables; on standard output an export that fails part-way has written the
// rows before the failure (its exit code says it failed), a file given with
// --output is left as it was. --settings
// makes FILE the settings in force first (see ApplySettingsOption);
// problems in its text are written on `err` and do not stop the export.
// --help and --version answer on `out`. Returns the exit code (ExitCode):
// 0 done, 1 database or I/O failure (message on `err`, passwords masked),
// 2 wrong usage or an unreadable settings file (usage on `err`).
int RunExport(const QStringList& arguments, std::ostream& out, std::ostream& err);

}  // namespace tools
