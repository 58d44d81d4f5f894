#include "store/Going.h"

#include "store/Connection.h"
#include "store/Names.h"
#include "store/RetryColumns.h"
#include "store/Statement.h"
#include "store/Tables.h"
#include "store/UrlKey.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <iterator>

namespace store {

namespace {

// Rows per INSERT or DELETE statement: one round trip per batch instead of
// per row (a server on the network answers each statement separately;
// 100,000 rows one by one took 17 s on PostgreSQL), well below either
// engine's limit on bound values (8 per row here).
constexpr std::size_t kRowsPerStatement = 500;
// Rows per statement when PostgreSQL takes them as arrays (InsertRows).
constexpr std::size_t kRowsPerArrayStatement = 2000;

// Which of the newer columns the stored table has.
struct GoingShape {
    bool retries = false;  // the five retry columns
    bool desk = false;
};

// A failure to ask throws: a table whose columns cannot be read is not
// taken for one without desks (whose every row the desk would read and
// replace).
GoingShape ShapeOf(QSqlDatabase& db)
{
    const QStringList columns = ColumnsOf(db, QLatin1String(kGoing));
    if (columns.isEmpty())
        throw EDatabaseError(ToAnsi(QStringLiteral("cannot open \"Going\": there is no such table")));
    GoingShape shape;
    shape.retries = std::all_of(std::begin(kRetryColumnNames), std::end(kRetryColumnNames),
                                [&](const char* name) { return columns.contains(QLatin1String(name)); });
    shape.desk = columns.contains(QLatin1String(kDeskColumn));
    return shape;
}

// The condition that picks the desk's rows (every row of a table without
// desks); DeskValues are its values.
QString DeskCondition(const GoingShape& shape)
{
    return shape.desk ? QStringLiteral("%1 = ?").arg(Quoted(kDeskColumn)) : QStringLiteral("1 = 1");
}

QVariantList DeskValues(const GoingShape& shape, const QString& desk)
{
    return shape.desk ? QVariantList{desk} : QVariantList{};
}

// An element of a PostgreSQL array literal: quoted, with '"' and '\'
// escaped; a null value is NULL.
void AppendElement(QString& array, const QVariant& value)
{
    if (array.size() > 1)
        array += QLatin1Char(',');
    if (value.isNull()) {
        array += QStringLiteral("NULL");
        return;
    }
    array += QLatin1Char('"');
    for (const QChar c : value.toString()) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            array += QLatin1Char('\\');
        array += c;
    }
    array += QLatin1Char('"');
}

// The values of one row of "Going", in the column order of InsertRows.
QVariantList RowValues(const GoingShape& shape, const QString& desk, const Hotel_Url& link, const GoingRetries& retries)
{
    QVariantList values{ToWide(link.Url), ToWide(link.AirPort)};
    if (shape.retries) {
        const auto found = retries.find(link.Url);
        values << (found != retries.end() && found->second.Failed() ? RetryValues(found->second) : NoRetryValues());
    }
    if (shape.desk)
        values << desk;
    return values;
}

void InsertRows(QSqlDatabase& db, const GoingShape& shape, const QString& desk, const std::vector<Hotel_Url>& links,
                const GoingRetries& retries)
{
    QStringList columns{Quoted(kGoingUrl), Quoted(kGoingAirPort)};
    QStringList arrayTypes{QStringLiteral("text[]"), QStringLiteral("text[]")};
    if (shape.retries) {
        columns << QuotedList(kRetryColumnNames);
        arrayTypes << QStringLiteral("integer[]") << QStringLiteral("bigint[]") << QStringLiteral("bigint[]")
                   << QStringLiteral("text[]") << QStringLiteral("text[]");
    }
    if (shape.desk) {
        columns << Quoted(kDeskColumn);
        arrayTypes << QStringLiteral("text[]");
    }
    const auto perRow = static_cast<int>(arrayTypes.size());  // one type per column
    const QString head = QStringLiteral("INSERT INTO %1 (%2) ").arg(Quoted(kGoing), columns.join(QStringLiteral(", ")));

    // PostgreSQL: one array per column and one statement for many rows.
    // The server reads arrays far faster than as many bound values in a
    // VALUES list (100,000 rows into an empty table: 1.0 s against 1.5 s).
    const bool asArrays = db.driverName() == QLatin1String("QPSQL") && links.size() > 1;
    const std::size_t perStatement = asArrays ? kRowsPerArrayStatement : kRowsPerStatement;
    QString arraySql;
    if (asArrays) {
        QStringList unnest;
        for (const QString& type : arrayTypes)
            unnest << QStringLiteral("?::") + type;
        arraySql = head + QStringLiteral("SELECT * FROM unnest(%1)").arg(unnest.join(QStringLiteral(", ")));
    }
    const QString rowMarks = QStringLiteral("(") + QStringList(perRow, QStringLiteral("?")).join(QStringLiteral(", "))
                             + QStringLiteral(")");

    Statement insert(db, QStringLiteral("cannot add to \"Going\""));
    for (std::size_t from = 0; from < links.size(); from += perStatement) {
        const std::size_t count = std::min(perStatement, links.size() - from);
        insert.Prepare(asArrays ? arraySql
                                : QStringLiteral("%1VALUES %2").arg(
                                      head, QStringList(static_cast<qsizetype>(count), rowMarks).join(QStringLiteral(", "))));
        QVariantList values;
        if (asArrays) {
            std::vector<QString> arrays(static_cast<std::size_t>(perRow), QStringLiteral("{"));
            for (std::size_t i = from; i < from + count; ++i) {
                const QVariantList row = RowValues(shape, desk, links[i], retries);
                for (int c = 0; c < perRow; ++c)
                    AppendElement(arrays[static_cast<std::size_t>(c)], row[c]);
            }
            for (QString& array : arrays)
                values << array + QLatin1Char('}');
        } else {
            for (std::size_t i = from; i < from + count; ++i)
                values << RowValues(shape, desk, links[i], retries);
        }
        insert.Run(values);
    }
}

// Deletes the desk's rows whose "Url" is one of `links`, a batch at a time.
void DeleteListed(QSqlDatabase& db, const GoingShape& shape, const QString& desk, const std::vector<Hotel_Url>& links)
{
    const UrlKey key(db);
    Statement remove(db, QStringLiteral("cannot remove from \"Going\""));
    for (std::size_t from = 0; from < links.size(); from += kRowsPerStatement) {
        const std::size_t count = std::min(kRowsPerStatement, links.size() - from);
        remove.Prepare(QStringLiteral("DELETE FROM %1 WHERE %2 AND %3")
                           .arg(Quoted(kGoing), DeskCondition(shape), key.MatchAny(kGoing, static_cast<int>(count))));
        std::vector<AnsiString> urls;
        for (std::size_t i = from; i < from + count; ++i)
            urls.push_back(links[i].Url);
        remove.Run(DeskValues(shape, desk) + key.ValuesAny(urls));
    }
}

// Makes the desk's rows a prefix-in-order of `list` at the least cost and
// returns the links still to insert after them. The write-through has kept
// the rows in step with the list, so at a close nearly all of it is there
// already, in the list's order: the rows are read in key order and matched
// against the list in turn; a row that is not the next link is deleted, a
// kept row whose retry state differs gets the list's, and the links after
// the last match are what is left to insert. Inserted after the kept rows,
// they make the rows exactly the list, in its order. (Rewriting 100,000
// rows took the server over a second; this costs what differs.)
std::vector<Hotel_Url> MatchInPlace(QSqlDatabase& db, const GoingShape& shape, const QString& desk,
                                    const std::vector<Hotel_Url>& list, const GoingRetries& retries)
{
    const QString failed = QStringLiteral("cannot rewrite \"Going\"");
    std::vector<qlonglong> stale;  // keys of rows to delete
    std::vector<std::pair<qlonglong, RetryState>> restate;
    std::size_t next = 0;  // the next link of the list to match
    {
        QSqlQuery q = RunBound(db,
                               QStringLiteral("SELECT %1, %2%3 FROM %4 WHERE %5 ORDER BY %1")
                                   .arg(Quoted(kIdColumn), Quoted(kGoingUrl),
                                        shape.retries ? QStringLiteral(", ") + QuotedList(kRetryColumnNames) : QString(),
                                        Quoted(kGoing), DeskCondition(shape)),
                               DeskValues(shape, desk), failed, true);
        ReadRows(q, failed, [&](const QSqlQuery& row) {
            const qlonglong id = row.value(0).toLongLong();
            if (next == list.size() || ToAnsi(row.value(1).toString()) != list[next].Url) {
                stale.push_back(id);
                return true;
            }
            if (shape.retries) {
                const auto found = retries.find(list[next].Url);
                const RetryState wanted = found != retries.end() && found->second.Failed() ? found->second : RetryState{};
                if (ReadRetry(row, 2) != wanted)
                    restate.emplace_back(id, wanted);
            }
            ++next;
            return true;
        });
    }

    Statement change(db, failed);
    for (std::size_t from = 0; from < stale.size(); from += kRowsPerStatement) {
        const std::size_t count = std::min(kRowsPerStatement, stale.size() - from);
        change.Prepare(QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)")
                           .arg(Quoted(kGoing), Quoted(kIdColumn),
                                QStringList(static_cast<qsizetype>(count), QStringLiteral("?")).join(QStringLiteral(", "))));
        QVariantList keys;
        for (std::size_t i = from; i < from + count; ++i)
            keys << stale[i];
        change.Run(keys);
    }
    if (!restate.empty()) {
        QStringList sets;
        for (const char* name : kRetryColumnNames)
            sets << QStringLiteral("%1 = ?").arg(Quoted(name));
        change.Prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                           .arg(Quoted(kGoing), sets.join(QStringLiteral(", ")), Quoted(kIdColumn)));
        for (const auto& [id, state] : restate)
            change.Run((state.Failed() ? RetryValues(state) : NoRetryValues()) + QVariantList{id});
    }
    return {list.begin() + static_cast<std::ptrdiff_t>(next), list.end()};
}

// Runs `work(db, shape)` on the connection of `desk` once "Going" is open;
// a failure to reach the database or find the table is answered in the
// result, any later one is thrown.
template <class Work>
GoingOpen Opened(const DeskAccess& desk, Work&& work)
{
    GoingOpen result;
    try {
        WithDeskConnection(desk, "going", [&](QSqlDatabase& db) {
            // The table is open once it can be read: a missing table, a lost
            // connection, a lock held elsewhere that keeps readers out all
            // make a table that cannot be opened.
            RunText(db, QStringLiteral("SELECT 1 FROM %1 WHERE 1 = 0").arg(Quoted(kGoing)),
                    QStringLiteral("cannot open \"Going\""));
            const GoingShape shape = ShapeOf(db);
            result.opened = true;
            work(db, shape);
        });
    } catch (const EDatabaseError& e) {
        if (result.opened)
            throw;
        result.why = QString::fromUtf8(e.what());
    }
    return result;
}

}  // namespace

GoingProbe ProbeGoing(const DeskAccess& access)
{
    const QString& desk = access.Name();
    GoingProbe probe;
    static_cast<GoingOpen&>(probe) = Opened(access, [&](QSqlDatabase& db, const GoingShape& shape) {
        // One row is enough to know the desk has saved work.
        probe.hasRows = RunBound(db, QStringLiteral("SELECT 1 FROM %1 WHERE %2 LIMIT 1").arg(Quoted(kGoing), DeskCondition(shape)),
                                 DeskValues(shape, desk), QStringLiteral("cannot read \"Going\""), true)
                            .next();
    });
    return probe;
}

GoingOpen LoadGoing(const DeskAccess& access, std::vector<Hotel_Url>& PendingLinks, GoingRetries* retries)
{
    const QString& desk = access.Name();
    std::vector<Hotel_Url> rows;
    GoingRetries states;
    const GoingOpen open = Opened(access, [&](QSqlDatabase& db, const GoingShape& shape) {
        // A table of an earlier version has no retry columns: its links
        // never failed as far as it knows.
        const bool withRetries = retries && shape.retries;
        const QString failed = QStringLiteral("cannot read \"Going\"");
        QSqlQuery q = RunBound(db,
                               QStringLiteral("SELECT %1, %2%3 FROM %4 WHERE %5 ORDER BY %6")
                                   .arg(Quoted(kGoingUrl), Quoted(kGoingAirPort),
                                        withRetries ? QStringLiteral(", ") + QuotedList(kRetryColumnNames) : QString(),
                                        Quoted(kGoing), DeskCondition(shape), Quoted(kIdColumn)),
                               DeskValues(shape, desk), failed, true);
        ReadRows(q, failed, [&](const QSqlQuery& row) {
            Hotel_Url link{ToAnsi(row.value(0).toString()), ToAnsi(row.value(1).toString())};
            if (withRetries)
                if (const RetryState state = ReadRetry(row, 2); state.Failed())
                    states[link.Url] = state;
            rows.push_back(std::move(link));
            return true;
        });
    });
    // Only a whole read is handed over.
    PendingLinks.insert(PendingLinks.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    if (retries)
        retries->merge(states);
    return open;
}

GoingOpen SaveGoing(const DeskAccess& access, const std::vector<Hotel_Url>& PendingLinks, GoingSave mode,
                    const GoingRetries& retries)
{
    const QString& desk = access.Name();
    return Opened(access, [&](QSqlDatabase& db, const GoingShape& shape) {
        // One transaction, so that a failure part-way leaves the previous
        // rows instead of a half-written table.
        InTransaction(db, [&](QSqlDatabase& db) {
            // Delete the desk's rows (only those of listed links when
            // merging) and insert every record, from index 0 to the last.
            // Replacing keeps what is in place already (see MatchInPlace).
            std::vector<Hotel_Url> toInsert;
            const std::vector<Hotel_Url>* inserted = &PendingLinks;
            if (mode == GoingSave::Replace) {
                toInsert = MatchInPlace(db, shape, desk, PendingLinks, retries);
                inserted = &toInsert;
            } else {
                DeleteListed(db, shape, desk, PendingLinks);
            }
            // A table of an earlier version still takes the links, without
            // their retry state.
            InsertRows(db, shape, desk, *inserted, retries);
        });
    });
}

void InsertGoingRows(QSqlDatabase& db, const QString& desk, const std::vector<Hotel_Url>& links,
                     const GoingRetries& retries)
{
    InsertRows(db, GoingShape{true, true}, desk, links, retries);
}

}  // namespace store
