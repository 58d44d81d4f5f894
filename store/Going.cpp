#include "store/Going.h"

#include "platform/toolkit/Forms.h"
#include "store/RetryColumns.h"

#include <memory>
#include <set>

namespace store {

namespace {
const AnsiString kAlias = "Hotels_Db";
const AnsiString kGoing = "Going";
const AnsiString kOpenFailed = "Table Open Exception";

// Opens the table; a failure of any kind is reported and answered with false.
bool OpenOrReport(TTable& table)
{
    try {
        table.Open();
        return true;
    } catch (...) {
        ShowMessage(kOpenFailed);
        return false;
    }
}
}  // namespace

GoingProbe ProbeGoing(QObject* owner)
{
    // 1. A temporary table owned by the window, bound to "Hotels_Db" / "Going".
    std::unique_ptr<TTable> table(new TTable(owner));
    table->SetDatabaseName(kAlias);
    table->SetTableName(kGoing);
    // 2. Open; a table that failed to open holds no rows.
    GoingProbe probe;
    probe.opened = OpenOrReport(*table);
    if (probe.opened)
        // 3. Read the row count.
        probe.hasRows = table->RecordCount() != 0;
    // 4. Close and destroy the temporary table.
    table->Close();
    table.reset();
    return probe;
}

bool LoadGoing(TTable& Table1, std::vector<Hotel_Url>& PendingLinks, GoingRetries* retries)
{
    // 1. Close the table if it is open.
    if (Table1.Active())
        Table1.Close();
    // 2. Bind it.
    Table1.SetDatabaseName(kAlias);
    Table1.SetTableName(kGoing);
    // 3. Open; on failure nothing is appended.
    const bool opened = OpenOrReport(Table1);
    if (opened) {
        try {
            // A table of an earlier version has no retry columns: its links
            // never failed as far as it knows.
            const bool withRetries = retries && HasRetryColumns(Table1);
            // 4. Append every row; the row count is read again before each pass.
            if (Table1.RecordCount() != 0) {
                for (int i = 0; i < Table1.RecordCount(); ++i) {
                    Hotel_Url link;
                    link.Url = Table1.FieldByName("Url")->AsString();
                    link.AirPort = Table1.FieldByName("AirPort")->AsString();
                    if (withRetries) {
                        const RetryState state = ReadRetry(Table1);
                        if (state.Failed())
                            (*retries)[link.Url] = state;
                    }
                    PendingLinks.push_back(link);
                    Table1.Next();
                }
            }
        } catch (...) {
            // Closing before the error travels on keeps no connection open behind it.
            Table1.Close();
            throw;
        }
    }
    // 5. Close.
    Table1.Close();
    return opened;
}

bool SaveGoing(TTable& Table1, const std::vector<Hotel_Url>& PendingLinks, GoingSave mode, const GoingRetries& retries)
{
    // 1. Bind the table.
    Table1.SetDatabaseName(kAlias);
    Table1.SetTableName(kGoing);
    // 2. Open; on failure nothing is deleted or written.
    const bool opened = OpenOrReport(Table1);
    if (opened) {
        try {
            // One transaction around steps 3 and 4, so that a failure part-way
            // leaves the previous rows instead of a half-written table.
            Table1.StartTransaction();
            // 3. Delete every row; when merging, only the rows of listed links.
            std::set<AnsiString> listed;
            if (mode == GoingSave::Merge)
                for (const Hotel_Url& link : PendingLinks)
                    listed.insert(link.Url);
            if (mode != GoingSave::Append)
                while (!Table1.Eof()) {
                    if (mode == GoingSave::Replace || listed.count(Table1.FieldByName("Url")->AsString()))
                        Table1.Delete();
                    else
                        Table1.Next();
                }
            // 4. Insert every record, from index 0 to the last. A table of an
            // earlier version still takes the links, without their retry state.
            const bool withRetries = !retries.empty() && HasRetryColumns(Table1);
            for (const Hotel_Url& link : PendingLinks) {
                Table1.Insert();
                Table1.FieldByName("Url")->SetAsString(link.Url);
                Table1.FieldByName("AirPort")->SetAsString(link.AirPort);
                if (withRetries)
                    if (const auto found = retries.find(link.Url); found != retries.end() && found->second.Failed())
                        SetRetry(Table1, found->second);
                Table1.Post();
            }
            Table1.Commit();
        } catch (...) {
            try {
                if (Table1.InTransaction())
                    Table1.Rollback();
            } catch (...) {
                // The original error is the one worth reporting; closing the
                // connection below discards the transaction anyway.
            }
            Table1.Close();
            throw;
        }
    }
    // 5. Close.
    Table1.Close();
    return opened;
}

}  // namespace store
