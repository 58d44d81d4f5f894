#pragma once
// The export tool's spreadsheet: one .xlsx workbook with the hotels, the
// per-destination summary and the failures, written with libxlsxwriter.

#include "store/Failures.h"
#include "store/Staymarker.h"
#include "store/Summary.h"

#include <QString>

#include <functional>
#include <string>

class QIODevice;

namespace tools {

// The most a cell holds, in characters as spreadsheet programs count them
// (UTF-16 code units).
inline constexpr int kCellTextLimit = 32767;

// Data rows a sheet holds under its header row.
inline constexpr long long kSheetRowLimit = 1048575;

// The cell text for stored text `utf8`: the same text, cut to its first
// kCellTextLimit characters when longer (never inside a character; `cut`
// tells), with byte sequences that are not UTF-8 replaced by U+FFFD (the
// file must stay valid XML). A literal "_xHHHH_" gets its "_" written as
// "_x005F_", so that readers, which take "_xHHHH_" for an escaped
// character, show it as stored.
std::string CellText(const std::string& utf8, bool& cut);

struct WorkbookResult {
    bool ok = false;
    QString problem;       // when !ok: what failed
    long long cutTexts = 0;  // texts cut to kCellTextLimit characters
};

// Where a sheet's rows come from: a source calls `take(row)` once per row,
// in order, until `take` returns false, and may throw (EDatabaseError from
// the store); store::ForEachHotel and store::ForEachFailure are such
// sources.
template <class Row>
using RowSource = std::function<void(const std::function<bool(const Row&)>& take)>;

struct WorkbookRows {
    RowSource<store::StaymarkerRow> hotels;
    RowSource<store::DestinationSummary> summary;
    RowSource<store::FailureRecord> failures;
};

// Writes the workbook to `into` (open for writing), whose contents are then
// the whole .xlsx file:
// - sheet "Hotels": a header row with the Staymarker column names, then one
//   row per hotel, the columns in the record's order (as the CSV has them);
// - sheet "Summary": the columns of the --summary table, one row per
//   destination code, the counts as numbers;
// - sheet "Failures": the columns of --failures, one row per failure, the
//   attempts as numbers.
// Every cell of text is a text cell, whatever it starts with ("=1+1" stays
// that text, no formula guard is added); each sheet has its header row
// frozen, an autofilter over its rows and column widths fitted to the
// texts (within bounds).
// The sources are read in that order, each row written as it comes and then
// dropped: the library runs in constant memory (each finished row goes to
// its temporary file), so the memory taken does not grow with the rows.
// More hotels or failures than kSheetRowLimit (the read stops at the first
// row too many), a library error or a write error on `into` fail the whole
// workbook; the caller then drops what was written. An exception of a
// source travels on, the workbook dropped. Uses a scratch file in the
// system's temporary folder while it builds the workbook (removed before
// return).
WorkbookResult WriteWorkbook(QIODevice& into, const WorkbookRows& rows);

}  // namespace tools
