#include "store/InstanceLock.h"

#include "platform/base/Report.h"
#include "platform/db/Alias.h"
#include "platform/db/PostgresSocket.h"
#include "store/Desk.h"
#include "store/Names.h"
#include "store/Statement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <utility>

namespace store {

namespace {

// The lock a version before desks held on the whole database ("HtlsDb" in
// ASCII). Desks hold it shared: they keep such a copy out, and it keeps
// them out, since it would rewrite every desk's rows at close.
constexpr qint64 kWholeDatabaseKey = 0x48746c734462;

const QString kAskFailed = QStringLiteral("cannot ask for the desk's lock");

}  // namespace

QString DeskLockCall(const char* function)
{
    // The desk's name is hashed into the second key; two names with one hash
    // would only keep each other from running at once, never mix rows.
    return QStringLiteral("%1(%2, hashtext(?))").arg(QLatin1String(function)).arg(kDeskLockClass);
}

InstanceLock::InstanceLock(QString desk)
    : desk_(std::move(desk)), me_(DeskClaimant::ThisProgram()), guard_(CurrentDeskTimings().silenceLimit)
{
    static int serial = 0;
    connection_ = QStringLiteral("%1_%2").arg(QLatin1String(kDeskConnectionName)).arg(++serial);
    QObject::connect(&watch_, &QTimer::timeout, &watch_, [this] { CheckConnection(); });
}

InstanceLock::~InstanceLock()
{
    watch_.stop();
    // Given back, the claim lets the desk start again at once on any
    // machine, even when the server restarts right after.
    if (lockHeld_ && lost_.isEmpty() && QSqlDatabase::contains(connection_)) {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen() && !platform::PostgresSessionGone(db)) {
            try {
                ReleaseDeskClaim(db, desk_, me_);
            } catch (const EDatabaseError&) {
                // Left behind, it is taken over as DeskClaim.h says.
            }
        }
    }
    DropConnection();  // ending the session gives the advisory locks back
    if (file_)
        file_->unlock();
}

void InstanceLock::DropConnection()
{
    guard_.Forget();  // before the socket closes and its number is free
    if (!QSqlDatabase::contains(connection_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

// Takes the desk's lock on `db`; when another session holds it, says who
// and sets *held false.
QString InstanceLock::LockHolder(QSqlDatabase& db, bool* held)
{
    *held = false;
    if (!AskBound(db, QStringLiteral("SELECT pg_try_advisory_lock_shared(?)"), {kWholeDatabaseKey}, kAskFailed))
        return QStringLiteral("a copy of an earlier version, which takes the whole database");
    if (!AskBound(db, QStringLiteral("SELECT ") + DeskLockCall("pg_try_advisory_lock"), {desk_}, kAskFailed)) {
        AskBound(db, QStringLiteral("SELECT pg_advisory_unlock_shared(?)"), {kWholeDatabaseKey}, kAskFailed);
        return QStringLiteral("another copy working as desk \"%1\"").arg(desk_);
    }
    *held = true;
    return QString();
}

InstanceLock::Claim InstanceLock::Acquire()
{
    platform::DatabaseTarget target;
    try {
        target = platform::ResolveAlias(kHotelsDb);
    } catch (const EDatabaseError& e) {
        return {Outcome::Unchecked, QString::fromUtf8(e.what())};
    }

    if (target.kind == platform::DatabaseTarget::Kind::SQLite) {
        file_ = std::make_unique<QLockFile>(target.sqlitePath + QStringLiteral(".lock"));
        // Only a live process keeps the lock: age alone never makes it stale,
        // since a crawl runs for days.
        file_->setStaleLockTime(0);
        if (file_->tryLock(0))
            return {Outcome::Held, QString()};
        const QLockFile::LockError error = file_->error();
        qint64 pid = 0;
        QString host, application;
        file_->getLockInfo(&pid, &host, &application);
        file_.reset();
        if (error == QLockFile::LockFailedError)
            return {Outcome::HeldElsewhere,
                    QStringLiteral("process %1 on %2 holds %3.lock").arg(pid).arg(host, target.sqlitePath)};
        return {Outcome::Unchecked, QStringLiteral("cannot create %1.lock").arg(target.sqlitePath)};
    }

    Claim claim{Outcome::Held, QString()};
    try {
        DeskConnection();
    } catch (const EDatabaseError& e) {
        if (!lost_.isEmpty())
            return {Outcome::HeldElsewhere,
                    QStringLiteral("%1, on database \"%2\" on %3").arg(refusedBy_, target.dbName, target.host)};
        claim = {Outcome::Unchecked, QString::fromUtf8(e.what())};  // the watch takes the lock once the server answers
    }
    keeps_ = true;
    if (QCoreApplication::instance())
        watch_.start(CurrentDeskTimings().watchEvery);
    return claim;
}

// Opens the desk's connection and takes the desk's lock and claim on it.
// A refusal stops this copy for good (lost_, refusedBy_); any other failure
// leaves it free to try again. Throws EDatabaseError either way.
QSqlDatabase InstanceLock::ConnectAndLock()
{
    QSqlDatabase db = OpenAliasDatabase(kHotelsDb, connection_);
    guard_.Watch(db);
    QString holder;
    try {
        bool held = false;
        holder = LockHolder(db, &held);
        // The server may still hold this copy's earlier session, given up by
        // the client when its path died: it has the lock, and nobody else
        // may have the desk. Ended, it lets the lock go a moment later.
        if (!held && lockHeld_ && EndEarlierSession(db, desk_, me_))
            throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\": the server still had this copy's earlier "
                                                       "session, holding the desk's lock; it is being ended")
                                            .arg(desk_)));
        if (held)
            holder = ClaimDesk(db, desk_, me_, lockHeld_);
    } catch (const EDatabaseError&) {
        db = QSqlDatabase();
        DropConnection();
        throw;
    }
    if (!holder.isEmpty()) {
        db = QSqlDatabase();
        DropConnection();
        refusedBy_ = holder;
        lost_ = lockHeld_ ? QStringLiteral("%1 took it while this copy's connection to \"Hotels_Db\" was lost").arg(holder)
                          : QStringLiteral("%1 holds it").arg(holder);
        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" writes nothing more: %2").arg(desk_, lost_)));
    }
    return db;
}

QSqlDatabase InstanceLock::DeskConnection()
{
    if (!lost_.isEmpty())
        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" writes nothing more: %2").arg(desk_, lost_)));
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            return db;
    }
    DropConnection();
    QSqlDatabase db = ConnectAndLock();
    if (lockHeld_)
        platform::Report(QStringLiteral("desk \"%1\": connected to \"Hotels_Db\" again and took the desk's lock again")
                             .arg(desk_));
    lockHeld_ = true;
    tryFailed_ = false;
    return db;
}

void InstanceLock::NoteLost()
{
    platform::Report(QStringLiteral("desk \"%1\": the connection to \"Hotels_Db\" was lost, and the desk's lock "
                                    "with it; it is taken back as soon as the server answers")
                         .arg(desk_));
}

bool InstanceLock::DropIfLost()
{
    if (!QSqlDatabase::contains(connection_))
        return false;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen() && !platform::PostgresSessionGone(db)) {
            // A statement that fails on a live session says nothing about the
            // session; one that cannot even run this says it is gone.
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT 1")) && q.next())
                return false;
        }
    }
    DropConnection();
    NoteLost();
    nextTry_ = QDeadlineTimer(0);
    return true;
}

void InstanceLock::CheckConnection()
{
    if (!lost_.isEmpty()) {
        watch_.stop();
        return;
    }
    if (QSqlDatabase::contains(connection_)) {
        bool gone = false;
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            gone = !db.isOpen() || platform::PostgresSessionGone(db);
        }
        if (!gone)
            return;
        DropConnection();
        NoteLost();
        nextTry_ = QDeadlineTimer(0);
    }
    if (!nextTry_.hasExpired())
        return;
    QElapsedTimer took;
    took.start();
    try {
        DeskConnection();
    } catch (const EDatabaseError& e) {
        if (!lost_.isEmpty()) {
            watch_.stop();
            platform::Report(QString::fromUtf8(e.what()));
            return;
        }
        nextTry_ = QDeadlineTimer(std::clamp<qint64>(4 * took.elapsed(), 500, 30000));
        if (!tryFailed_)
            platform::Report(QStringLiteral("desk \"%1\": cannot take the desk's lock back yet, trying again until "
                                            "the server answers: %2")
                                 .arg(desk_, QString::fromUtf8(e.what())));
        tryFailed_ = true;
    }
}

}  // namespace store
