#pragma once
// The export tool's --summary as text.

#include "store/Summary.h"

#include <string>
#include <vector>

namespace tools {

// The summary as an aligned text table: a header line ("AirPort", "Kept",
// "Waiting", "Last kept at", "Given up", "State"), then one line per entry;
// counts right-aligned, codes and times left-aligned, columns
// separated by two blanks, widths counted in characters (UTF-8 codes line
// up). An empty code shows as "(none)", a missing time as "-". Lines end
// with LF and carry no trailing blanks.
std::string SummaryTable(const std::vector<store::DestinationSummary>& entries);

}  // namespace tools
