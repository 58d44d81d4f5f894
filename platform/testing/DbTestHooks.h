#pragma once
// Fault injection for tests of database failures; production code never
// includes this header.

#include <QSqlDatabase>

#include <functional>

namespace platform::testing {

// Runs `hook` on every connection OpenAliasDatabase opens, right after it
// opened (a test sets a page limit on it, say, to make the disk "full").
// An empty function removes the hook.
void SetDatabaseOpenedHook(std::function<void(QSqlDatabase&)> hook);

}  // namespace platform::testing
