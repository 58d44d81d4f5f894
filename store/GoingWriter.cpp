#include "store/GoingWriter.h"

#include "platform/base/Report.h"
#include "platform/db/Alias.h"
#include "store/Connection.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace store {

namespace {


// Rows per INSERT statement: one round trip per batch instead of per row
// (a server on the network answers each statement separately), well below
// either engine's limit on bound values.
constexpr std::size_t kRowsPerInsert = 200;

QString Table(const QSqlDatabase& db, const char* name)
{
    return db.driver()->escapeIdentifier(QLatin1String(name), QSqlDriver::TableName);
}

QString Column(const QSqlDatabase& db, const char* name)
{
    return db.driver()->escapeIdentifier(QLatin1String(name), QSqlDriver::FieldName);
}

void InsertRows(QSqlDatabase& db, const std::vector<Hotel_Url>& links)
{
    const QString head = QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ")
                             .arg(Table(db, "Going"), Column(db, "Url"), Column(db, "AirPort"));
    const QString failed = QStringLiteral("cannot add to \"Going\"");
    QSqlQuery q(db);
    QString prepared;
    for (std::size_t from = 0; from < links.size(); from += kRowsPerInsert) {
        const std::size_t count = std::min(kRowsPerInsert, links.size() - from);
        QStringList marks;
        for (std::size_t i = 0; i < count; ++i)
            marks << QStringLiteral("(?, ?)");
        const QString sql = head + marks.join(QStringLiteral(", "));
        if (sql != prepared) {
            if (!q.prepare(sql))
                throw EDatabaseError(failed, q.lastError());
            prepared = sql;
        }
        for (std::size_t i = 0; i < count; ++i) {
            q.addBindValue(ToWide(links[from + i].Url));
            q.addBindValue(ToWide(links[from + i].AirPort));
        }
        if (!q.exec())
            throw EDatabaseError(failed, q.lastError());
    }
}

void DeleteRows(QSqlDatabase& db, const AnsiString& url)
{
    const QString failed = QStringLiteral("cannot remove from \"Going\"");
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(Table(db, "Going"), Column(db, "Url"))))
        throw EDatabaseError(failed, q.lastError());
    q.addBindValue(ToWide(url));
    if (!q.exec())
        throw EDatabaseError(failed, q.lastError());
}

}  // namespace

void GoingWriter::Added(const std::vector<Hotel_Url>& links)
{
    if (links.empty())
        return;
    owed_.push_back(Write{links, std::nullopt, std::nullopt, std::nullopt});
    Flush();
}

void GoingWriter::Handled(const Hotel_Url& link, const std::optional<StaymarkerRow>& hotel,
                          const std::optional<FailureRecord>& failure)
{
    owed_.push_back(Write{{}, link, hotel, failure});
    Flush();
}

// Stand-ins until the new writes land.
void GoingWriter::Failed(const Hotel_Url&, const RetryState&) {}
void GoingWriter::Destinations(const std::vector<DestinationEntry>&) {}
void GoingWriter::Record(const FailureRecord&) {}
std::vector<Hotel_Url> GoingWriter::UnsettledLinks() const { return unsettled_; }
std::vector<Hotel_Url> GoingWriter::RefusedLinks() const { return refused_; }
bool GoingWriter::Owes() const { return !owed_.empty(); }

bool GoingWriter::Flush()
{
    if (owed_.empty())
        return true;
    if (const std::optional<Problem> problem = WriteOwed()) {
        Report(*problem);
        return false;
    }
    if (!reported_.empty()) {
        platform::Report(QStringLiteral("\"Going\" is written again; every write kept meanwhile is in"));
        reported_.clear();
    }
    owed_.clear();
    return true;
}

std::optional<GoingWriter::Problem> GoingWriter::WriteOwed()
{
    // What the failure is counted as for "once per kind": a connection that
    // cannot be opened is one kind and a hotel row that cannot be stored
    // another, whatever the engine said; a statement on "Going" is known by
    // the engine's error code when it gives one (else its message), so that
    // the same fault met by different statements is reported once.
    enum class Step { Open, Going, Hotel } step = Step::Open;
    try {
        WithConnection("going_writer", [&](QSqlDatabase& db) {
            step = Step::Going;
            if (!db.transaction())
                throw EDatabaseError(QStringLiteral("cannot start a transaction"), db.lastError());
            try {
                for (const Write& w : owed_) {
                    if (!w.added.empty())
                        InsertRows(db, w.added);
                    if (w.handled)
                        DeleteRows(db, w.handled->Url);
                    if (w.hotel) {
                        step = Step::Hotel;
                        UpsertHotel(db, *w.hotel);
                        step = Step::Going;
                    }
                }
                if (!db.commit())
                    throw EDatabaseError(QStringLiteral("cannot commit"), db.lastError());
            } catch (const EDatabaseError&) {
                db.rollback();
                throw;
            }
        });
        return std::nullopt;
    } catch (const EDatabaseError& e) {
        const QString text = QString::fromUtf8(e.what());
        switch (step) {
        case Step::Open:
            return Problem{QStringLiteral("open"), text};
        case Step::Hotel:
            return Problem{QStringLiteral("hotel"), text};
        case Step::Going:
            break;
        }
        return Problem{e.NativeCode().empty() ? QString::fromStdString(e.EngineMessage())
                                              : QStringLiteral("sql:") + QString::fromStdString(e.NativeCode()),
                       text};
    }
}

void GoingWriter::Report(const Problem& problem)
{
    if (!reported_.insert(problem.kind).second)
        return;
    platform::Report(QStringLiteral("could not write to \"Hotels_Db\" (%1 links and %2 hotels kept, "
                                    "tried again at the next write): %3")
                         .arg(OwedLinks())
                         .arg(OwedHotels())
                         .arg(problem.text));
}

void GoingWriter::SupersededBySave(bool goingExact)
{
    std::vector<Write> kept;
    for (Write& w : owed_) {
        w.added.clear();
        if (goingExact)
            w.handled.reset();
        if (w.handled || w.hotel)
            kept.push_back(std::move(w));
    }
    owed_ = std::move(kept);
}

std::size_t GoingWriter::OwedLinks() const
{
    std::size_t n = 0;
    for (const Write& w : owed_)
        n += w.added.size();
    return n;
}

std::size_t GoingWriter::OwedHotels() const
{
    return static_cast<std::size_t>(
        std::count_if(owed_.begin(), owed_.end(), [](const Write& w) { return w.hotel.has_value(); }));
}

}  // namespace store
