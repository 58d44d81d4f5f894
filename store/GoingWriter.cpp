#include "store/GoingWriter.h"

#include "platform/base/Report.h"
#include "platform/db/Alias.h"
#include "store/Connection.h"
#include "store/Going.h"
#include "store/Names.h"
#include "store/RetryColumns.h"
#include "store/StartUpgrade.h"
#include "store/Statement.h"
#include "store/UrlKey.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>

#include <algorithm>
#include <functional>

namespace store {

namespace {

// A report quotes the engine's message, which may quote a row tens of
// kilobytes long; this much of it says what went wrong.
constexpr qsizetype kReportedTextChars = 1000;

void DeleteRows(QSqlDatabase& db, const QString& desk, const AnsiString& url)
{
    const UrlKey key(db);
    RunBound(db,
             QStringLiteral("DELETE FROM %1 WHERE %2 = ? AND %3")
                 .arg(Quoted(kGoing), Quoted(kDeskColumn), key.Match(kGoing)),
             QVariantList{desk} + key.Values(url), QStringLiteral("cannot remove from \"Going\""));
}

void UpdateRetry(QSqlDatabase& db, const QString& desk, const AnsiString& url, const RetryState& state)
{
    const UrlKey key(db);
    QStringList sets;
    for (const char* name : kRetryColumnNames)
        sets << QStringLiteral("%1 = ?").arg(Quoted(name));
    RunBound(db,
             QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ? AND %4")
                 .arg(Quoted(kGoing), sets.join(QStringLiteral(", ")), Quoted(kDeskColumn), key.Match(kGoing)),
             RetryValues(state) + QVariantList{desk} + key.Values(url),
             QStringLiteral("cannot set the retry state in \"Going\""));
}

// Whether a failed statement says nothing about its own write but about the
// database or the transaction as a whole: the connection, a lock held
// elsewhere, a time limit, a full disk, a read-only file. Such a failure
// ends the pass and counts against no write.
bool SpoilsThePass(const EDatabaseError& e, const QString& driver)
{
    const QString code = QString::fromStdString(e.NativeCode());
    if (code.isEmpty())
        // The engine said something without a code (a connection that broke);
        // a failure of the store's own checks carries no engine text at all.
        return !e.EngineMessage().empty();
    if (driver == QLatin1String("QSQLITE")) {
        // Primary result codes: BUSY, LOCKED, NOMEM, READONLY, IOERR,
        // CORRUPT, FULL, CANTOPEN, NOTADB.
        static const int kWhole[] = {5, 6, 7, 8, 10, 11, 13, 14, 26};
        const int primary = code.toInt() & 0xff;
        return std::find(std::begin(kWhole), std::end(kWhole), primary) != std::end(kWhole);
    }
    // SQLSTATE classes: connection, invalid transaction state (a read-only
    // server), rollback (serialization, deadlock), insufficient resources,
    // operator intervention (time limit, shutdown), system and internal
    // errors; and a lock held elsewhere.
    static const char* kWholeClasses[] = {"08", "25", "40", "53", "57", "58", "XX"};
    for (const char* cls : kWholeClasses)
        if (code.startsWith(QLatin1String(cls)))
            return true;
    return code == QLatin1String("55P03");
}

// The failure as "reported once per kind" sees it: a hotel row that cannot
// be stored is one kind whatever the engine said; any other statement is
// known by the engine's error code when it gives one (else its message), so
// that the same fault met by different statements is reported once.
QString KindOf(const EDatabaseError& e, bool hotel)
{
    if (hotel)
        return QStringLiteral("hotel");
    if (!e.NativeCode().empty())
        return QStringLiteral("sql:") + QString::fromStdString(e.NativeCode());
    return QString::fromStdString(e.EngineMessage().empty() ? std::string(e.what()) : e.EngineMessage());
}

QString Capped(const QString& text)
{
    return text.size() > kReportedTextChars ? text.left(kReportedTextChars) + QStringLiteral("...") : text;
}

// A statement of constant text; a failure names the statement.
void Exec(QSqlDatabase& db, const QString& sql)
{
    RunText(db, sql, sql);
}

QJsonObject LinkJson(const Hotel_Url& link)
{
    return {{"Url", ToWide(link.Url)}, {"AirPort", ToWide(link.AirPort)}};
}

QJsonObject RetryJson(const RetryState& s)
{
    return {{"Attempts", s.attempts},
            {"FailingTicks", static_cast<qint64>(s.failingTicks)},
            {"RetryInTicks", static_cast<qint64>(s.retryInTicks)},
            {"LastFailure", ToWide(s.lastFailure)},
            {"LastFailedAt", ToWide(s.lastFailedAt)}};
}

QJsonObject FailureJson(const FailureRecord& f)
{
    QJsonObject o;
    for (const FailureColumn& c : kFailureColumns)
        o.insert(QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())),
                 c.number ? QJsonValue(f.*c.number) : QJsonValue(ToWide(f.*c.text)));
    return o;
}

QJsonObject HotelJson(const StaymarkerRow& row)
{
    QJsonObject o;
    for (const NamedField<StaymarkerRow>& c : kStaymarkerColumns)
        o.insert(QString::fromUtf8(c.name.data(), static_cast<qsizetype>(c.name.size())), ToWide(row.*c.member));
    return o;
}

}  // namespace

// What one pass did with each owed write, by position in owed_.
struct GoingWriter::Pass {
    enum class Result { Waited, Written, Failed };
    struct Outcome {
        Result result = Result::Waited;
        Problem problem;  // Failed
        // An Added of several links that failed, tried link by link: each
        // link with its problem, none when it was written.
        std::vector<std::pair<Hotel_Url, std::optional<Problem>>> split;
    };
    bool committed = false;
    std::vector<Outcome> outcomes;
    std::optional<Problem> spoiled;  // why nothing was committed
};

GoingWriter::GoingWriter(DeskAccess desk) : desk_(std::move(desk)) {}

void GoingWriter::Added(const std::vector<Hotel_Url>& links)
{
    if (links.empty())
        return;
    Write w;
    w.kind = Kind::Added;
    w.links = links;
    Owe(std::move(w));
}

void GoingWriter::Handled(const Hotel_Url& link, const std::optional<StaymarkerRow>& hotel,
                          const std::optional<FailureRecord>& failure)
{
    Write w;
    w.kind = Kind::Handled;
    w.links = {link};
    w.hotel = hotel;
    if (w.hotel)
        w.hotel->Desk = ToAnsi(desk_.Name());
    w.failure = failure;
    if (w.failure)
        w.failure->desk = ToAnsi(desk_.Name());
    Owe(std::move(w));
}

void GoingWriter::Failed(const Hotel_Url& link, const RetryState& state)
{
    Write w;
    w.kind = Kind::Failed;
    w.links = {link};
    w.retry = state;
    Owe(std::move(w));
}

void GoingWriter::Destinations(const std::vector<DestinationEntry>& entries)
{
    // The table holds one list: an older list still owed would only be
    // replaced by this one.
    std::erase_if(owed_, [](const Write& w) { return w.kind == Kind::Destinations; });
    Write w;
    w.kind = Kind::Destinations;
    w.entries = entries;
    Owe(std::move(w));
}

void GoingWriter::Record(const FailureRecord& failure)
{
    Write w;
    w.kind = Kind::Record;
    w.failure = failure;
    w.failure->desk = ToAnsi(desk_.Name());
    Owe(std::move(w));
}

void GoingWriter::Owe(Write write)
{
    owed_.push_back(std::move(write));
    Flush();
}

bool GoingWriter::Flush()
{
    if (owed_.empty())
        return true;
    const Pass pass = WriteOwed();
    if (pass.committed)
        Settle(pass);
    if (pass.spoiled)
        Report(*pass.spoiled);
    for (const Pass::Outcome& o : pass.outcomes) {
        if (o.result == Pass::Result::Failed)
            Report(o.problem);
        for (const auto& [link, problem] : o.split)
            if (problem)
                Report(*problem);
    }
    if (!owed_.empty())
        return false;
    if (!reported_.empty()) {
        platform::Report(setAside_ == 0
                             ? QStringLiteral("\"Going\" is written again; every write kept meanwhile is in")
                             : QStringLiteral("\"Going\" is written again; every write kept meanwhile is in "
                                              "but the %1 set aside above")
                                   .arg(setAside_));
        reported_.clear();
        setAside_ = 0;
    }
    return true;
}

GoingWriter::Pass GoingWriter::WriteOwed() const
{
    Pass pass;
    pass.outcomes.resize(owed_.size());
    // The start could not upgrade the database: writing against its old
    // tables would fail write by write and set each aside. Until the upgrade
    // goes through, the pass is spoiled as by an unreachable database.
    try {
        CatchUpUpgrade();
    } catch (const EDatabaseError& e) {
        pass.spoiled = Problem{QStringLiteral("upgrade"),
                               QStringLiteral("the upgrade the start could not make failed again: ")
                                   + QString::fromUtf8(e.what())};
        return pass;
    }
    bool opened = false;
    try {
        WithDeskConnection(desk_, "going_writer", [&](QSqlDatabase& db) {
            opened = true;
            // A pass run again on a new connection (the old one was lost)
            // starts afresh: nothing of the first try was committed.
            pass.outcomes.assign(owed_.size(), {});
            if (!db.transaction())
                throw EDatabaseError(QStringLiteral("cannot start a transaction"), db.lastError());
            try {
                // Runs one write in a savepoint of its own: its failure undoes
                // it alone. A failure that spoils the pass is thrown on. A
                // write alone in its pass (the usual case: one page) needs no
                // savepoint, two round trips fewer: its failure undoes the
                // whole transaction, which holds nothing else.
                const bool alone =
                    owed_.size() == 1 && !(owed_.front().kind == Kind::Added && owed_.front().links.size() > 1);
                bool undone = false;
                const auto attempt = [&](const std::function<void(bool& hotel)>& write) -> std::optional<Problem> {
                    if (!alone)
                        Exec(db, QStringLiteral("SAVEPOINT hc_write"));
                    bool hotel = false;
                    try {
                        write(hotel);
                    } catch (const EDatabaseError& e) {
                        if (SpoilsThePass(e, db.driverName()))
                            throw;
                        if (alone) {
                            if (!db.rollback())
                                throw e;
                            undone = true;
                            return Problem{KindOf(e, hotel), QString::fromUtf8(e.what())};
                        }
                        // A savepoint that cannot be rolled back to means the
                        // engine ended the transaction itself.
                        try {
                            Exec(db, QStringLiteral("ROLLBACK TO SAVEPOINT hc_write"));
                            Exec(db, QStringLiteral("RELEASE SAVEPOINT hc_write"));
                        } catch (const EDatabaseError&) {
                            throw e;
                        }
                        return Problem{KindOf(e, hotel), QString::fromUtf8(e.what())};
                    }
                    if (!alone)
                        Exec(db, QStringLiteral("RELEASE SAVEPOINT hc_write"));
                    return std::nullopt;
                };

                std::set<AnsiString> waiting;  // addresses whose earlier write failed or waits
                for (std::size_t i = 0; i < owed_.size(); ++i) {
                    const Write& w = owed_[i];
                    Pass::Outcome& outcome = pass.outcomes[i];
                    const bool blocked = std::any_of(w.links.begin(), w.links.end(),
                                                     [&](const Hotel_Url& l) { return waiting.count(l.Url) != 0; });
                    if (blocked) {
                        for (const Hotel_Url& l : w.links)
                            waiting.insert(l.Url);
                        continue;
                    }
                    std::optional<Problem> problem = attempt([&](bool& hotel) {
                        switch (w.kind) {
                        case Kind::Added:
                            InsertGoingRows(db, desk_.Name(), w.links);
                            break;
                        case Kind::Handled:
                            DeleteRows(db, desk_.Name(), w.links.front().Url);
                            if (w.hotel) {
                                hotel = true;
                                UpsertHotel(db, *w.hotel);
                                hotel = false;
                            }
                            if (w.failure)
                                InsertFailure(db, *w.failure);
                            break;
                        case Kind::Failed:
                            UpdateRetry(db, desk_.Name(), w.links.front().Url, w.retry);
                            break;
                        case Kind::Destinations:
                            ReplaceDestinations(db, desk_.Name(), w.entries);
                            break;
                        case Kind::Record:
                            InsertFailure(db, *w.failure);
                            break;
                        }
                    });
                    if (!problem) {
                        outcome.result = Pass::Result::Written;
                        continue;
                    }
                    if (w.kind == Kind::Added && w.links.size() > 1) {
                        // Find the refused links; the others go in now.
                        for (const Hotel_Url& link : w.links) {
                            std::optional<Problem> alone =
                                attempt([&](bool&) { InsertGoingRows(db, desk_.Name(), {link}); });
                            if (alone)
                                waiting.insert(link.Url);
                            outcome.split.emplace_back(link, std::move(alone));
                        }
                        continue;
                    }
                    outcome.result = Pass::Result::Failed;
                    outcome.problem = std::move(*problem);
                    for (const Hotel_Url& l : w.links)
                        waiting.insert(l.Url);
                }
                if (!undone && !db.commit())
                    throw EDatabaseError(QStringLiteral("cannot commit"), db.lastError());
            } catch (const EDatabaseError&) {
                db.rollback();
                throw;
            }
        });
        pass.committed = true;
    } catch (const EDatabaseError& e) {
        // Nothing was committed: every write stays owed, none is counted.
        pass.committed = false;
        pass.outcomes.assign(owed_.size(), {});
        const QString text = QString::fromUtf8(e.what());
        pass.spoiled = opened ? Problem{KindOf(e, false), text} : Problem{QStringLiteral("open"), text};
    }
    return pass;
}

void GoingWriter::Settle(const Pass& pass)
{
    const auto forget = [](std::vector<Hotel_Url>& list, const AnsiString& url) {
        std::erase_if(list, [&](const Hotel_Url& l) { return l.Url == url; });
    };
    std::vector<Write> still;
    for (std::size_t i = 0; i < owed_.size(); ++i) {
        Write& w = owed_[i];
        const Pass::Outcome& outcome = pass.outcomes[i];
        if (!outcome.split.empty()) {
            for (const auto& [link, problem] : outcome.split) {
                if (!problem) {
                    forget(refused_, link.Url);
                    continue;
                }
                Write single;
                single.kind = Kind::Added;
                single.links = {link};
                single.failures = w.failures + 1;
                if (single.failures >= kSetAsideAfter)
                    SetAside(single, *problem);
                else
                    still.push_back(std::move(single));
            }
            continue;
        }
        switch (outcome.result) {
        case Pass::Result::Waited:
            still.push_back(std::move(w));
            break;
        case Pass::Result::Written:
            if (w.kind == Kind::Handled)
                forget(unsettled_, w.links.front().Url);
            if (w.kind == Kind::Added)
                for (const Hotel_Url& l : w.links)
                    forget(refused_, l.Url);
            break;
        case Pass::Result::Failed:
            if (++w.failures >= kSetAsideAfter)
                SetAside(w, outcome.problem);
            else
                still.push_back(std::move(w));
            break;
        }
    }
    owed_ = std::move(still);
}

void GoingWriter::SetAside(const Write& w, const Problem& problem)
{
    QJsonObject row;
    switch (w.kind) {
    case Kind::Added: {
        QJsonArray links;
        for (const Hotel_Url& l : w.links)
            links.append(LinkJson(l));
        row = {{"write", "added"}, {"links", links}};
        refused_.insert(refused_.end(), w.links.begin(), w.links.end());
        break;
    }
    case Kind::Handled:
        row = LinkJson(w.links.front());
        row.insert("write", "handled");
        if (w.hotel)
            row.insert("hotel", HotelJson(*w.hotel));
        if (w.failure)
            row.insert("failure", FailureJson(*w.failure));
        // Its rows stay in "Going": the link is still to do.
        if (std::none_of(unsettled_.begin(), unsettled_.end(),
                         [&](const Hotel_Url& l) { return l.Url == w.links.front().Url; }))
            unsettled_.push_back(w.links.front());
        break;
    case Kind::Failed:
        row = LinkJson(w.links.front());
        row.insert("write", "failed");
        row.insert("retry", RetryJson(w.retry));
        break;
    case Kind::Destinations: {
        QJsonArray entries;
        for (const DestinationEntry& e : w.entries) {
            QJsonObject entry = RetryJson(e.retry);
            entry.insert("Code", ToWide(e.code));
            entry.insert("Owed", e.owed);
            entries.append(entry);
        }
        row = {{"write", "destinations"}, {"entries", entries}};
        break;
    }
    case Kind::Record:
        row = {{"write", "record"}, {"failure", FailureJson(*w.failure)}};
        break;
    }
    ++setAside_;
    platform::Report(QStringLiteral("set aside a write to \"Hotels_Db\" that failed %1 times, not tried again (%2): %3")
                         .arg(w.failures)
                         .arg(Capped(problem.text),
                              QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact))));
}

void GoingWriter::Report(const Problem& problem)
{
    if (!reported_.insert(problem.kind).second)
        return;
    platform::Report(QStringLiteral("could not write to \"Hotels_Db\" (%1 links and %2 hotels kept, "
                                    "tried again at the next write): %3")
                         .arg(OwedLinks())
                         .arg(OwedHotels())
                         .arg(Capped(problem.text)));
}

void GoingWriter::SupersededBySave(bool goingExact)
{
    // The save wrote every pending link with its retry state; what "Going"
    // holds beyond that list is for the writes kept here to settle.
    std::erase_if(owed_, [&](const Write& w) {
        switch (w.kind) {
        case Kind::Added:
        case Kind::Failed:
            return true;
        case Kind::Handled:
            return goingExact && !w.hotel && !w.failure;
        case Kind::Destinations:
        case Kind::Record:
            return false;
        }
        return false;
    });
}

std::vector<Hotel_Url> GoingWriter::UnsettledLinks() const
{
    std::vector<Hotel_Url> links = unsettled_;
    for (const Write& w : owed_)
        if (w.kind == Kind::Handled
            && std::none_of(links.begin(), links.end(), [&](const Hotel_Url& l) { return l.Url == w.links.front().Url; }))
            links.push_back(w.links.front());
    return links;
}

std::vector<Hotel_Url> GoingWriter::RefusedLinks() const
{
    return refused_;
}

std::size_t GoingWriter::OwedLinks() const
{
    std::size_t n = 0;
    for (const Write& w : owed_)
        if (w.kind == Kind::Added)
            n += w.links.size();
    return n;
}

std::size_t GoingWriter::OwedHotels() const
{
    return static_cast<std::size_t>(
        std::count_if(owed_.begin(), owed_.end(), [](const Write& w) { return w.hotel.has_value(); }));
}

}  // namespace store
