// Where a crawl starts when the operator presses "Navigation": the lines of
// Memo2, and first the saved rows of "Going" when the last run left work
// behind.

#include "app/Unit1.h"
#include "store/Going.h"

void TForm1::Button2Click(TObject* Sender)
{
    // The unfinished list of an earlier run could not be read at start: it
    // is read again now, so that its lines are searched with the typed ones
    // instead of being written over.
    if (!Destinations.Read())
        RecoverDestinationList();

    // Resume mode first loads the saved links and starts their detail
    // crawl. Then, in either mode, the list is searched and followed from
    // its first line: Timer1 goes on from the line after DestIndex, which
    // would leave line 0 out, and an untracked search that failed would be
    // forgotten. A memo of one line is searched too; only an empty memo
    // does nothing.
    if (ResumeMode)
        LoadPendingLinks();
    DestIndex = 0;
    if (Destinations.Count() > 0) {
        Destinations.Follow();
        SearchDestination(0);
    }
}

void TForm1::LoadPendingLinks()
{
    // Read the rows of "Going"; the table keeps them until each is handled.
    // Only a load that opened the table has seen all of them.
    TPendingLinks rows;
    store::GoingRetries retries;
    const store::GoingOpen loaded = store::LoadGoing(Desk, rows, &retries);
    if (loaded.opened)
        GoingKnown = true;
    else
        ReportTableOpenFailure(loaded.why);

    // Rows already queued in this run (an earlier press, or a transfer of the
    // same link) are not queued again; they are in "Going" already either
    // way. A row whose page failed before waits for its next try, counted
    // on from where the earlier run left it.
    for (const Hotel_Url& row : rows) {
        if (!QueuedLinks.insert(row.Url).second)
            continue;
        if (const auto failed = retries.find(row.Url); failed != retries.end())
            RetryLinks.Add(row, failed->second, DetailClock);
        else
            PendingLinks.push_back(row);
    }

    // Start the detail crawl.
    ProcessNextDetail();
}
