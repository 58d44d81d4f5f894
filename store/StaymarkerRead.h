#pragma once
// "Staymarker" read row by row, for exports of any length.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "store/Staymarker.h"

#include <functional>

namespace store {

// Calls `take(row)` for every row of "Staymarker" until it returns false,
// ordered by "ExtractedAt" then "Url" (oldest extraction first; byte order
// on both engines, whatever the server's locale). A table of an earlier
// version lacks the newer columns: they read as empty text. The rows are
// read one at a time with a forward-only query (ForwardRead.h), so a table
// of any length is read in the memory of one row. Uses its own short-lived
// connection, open until the last call of `take` returned; on PostgreSQL
// that connection has no time limit on statements, so a slow `take` does
// not cut the read short. A failure, also after some rows were taken
// (their calls stand), throws.
void ForEachHotel(const std::function<bool(const StaymarkerRow&)>& take);

}  // namespace store
