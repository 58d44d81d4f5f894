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

// The kind of a failed statement: the engine's error code (SQLSTATE, SQLite
// result code) when it gives one, so that the same fault met by different
// statements is reported once.
GoingWriter::Problem Failure(const QString& what, const QSqlError& error)
{
    const QString code = error.nativeErrorCode();
    return {code.isEmpty() ? error.text() : QStringLiteral("sql:") + code, what + error.text()};
}

std::optional<GoingWriter::Problem> InsertRows(QSqlDatabase& db, const std::vector<Hotel_Url>& links)
{
    const QString head = QStringLiteral("INSERT INTO %1 (%2, %3) VALUES ")
                             .arg(Table(db, "Going"), Column(db, "Url"), Column(db, "AirPort"));
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
                return Failure(QStringLiteral("cannot add to \"Going\": "), q.lastError());
            prepared = sql;
        }
        for (std::size_t i = 0; i < count; ++i) {
            q.addBindValue(ToWide(links[from + i].Url));
            q.addBindValue(ToWide(links[from + i].AirPort));
        }
        if (!q.exec())
            return Failure(QStringLiteral("cannot add to \"Going\": "), q.lastError());
    }
    return std::nullopt;
}

std::optional<GoingWriter::Problem> DeleteRows(QSqlDatabase& db, const AnsiString& url)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(Table(db, "Going"), Column(db, "Url"))))
        return Failure(QStringLiteral("cannot remove from \"Going\": "), q.lastError());
    q.addBindValue(ToWide(url));
    if (!q.exec())
        return Failure(QStringLiteral("cannot remove from \"Going\": "), q.lastError());
    return std::nullopt;
}

}  // namespace

void GoingWriter::Added(const std::vector<Hotel_Url>& links)
{
    if (links.empty())
        return;
    owed_.push_back(Write{links, std::nullopt, std::nullopt});
    Flush();
}

void GoingWriter::Handled(const AnsiString& url, const std::optional<StaymarkerRow>& hotel)
{
    owed_.push_back(Write{{}, url, hotel});
    Flush();
}

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
    try {
        return WithConnection("going_writer", [this](QSqlDatabase& db) -> std::optional<Problem> {
            if (!db.transaction())
                return Failure(QStringLiteral("cannot start a transaction: "), db.lastError());
            std::optional<Problem> problem;
            for (const Write& w : owed_) {
                if (!w.added.empty())
                    problem = InsertRows(db, w.added);
                if (!problem && w.handled)
                    problem = DeleteRows(db, *w.handled);
                QString error;
                if (!problem && w.hotel && !UpsertHotel(db, *w.hotel, &error))
                    problem = Problem{QStringLiteral("hotel"), error};
                if (problem)
                    break;
            }
            if (!problem && !db.commit())
                problem = Failure(QStringLiteral("cannot commit: "), db.lastError());
            if (problem)
                db.rollback();
            return problem;
        });
    } catch (const EDatabaseError& e) {
        return Problem{QStringLiteral("open"), QString::fromUtf8(e.what())};
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
