#include "store/InstanceLock.h"

#include "platform/base/Report.h"
#include "platform/db/Alias.h"
#include "store/Desk.h"
#include "store/Names.h"
#include "store/Statement.h"

#include <QSqlError>
#include <QSqlQuery>

#include <utility>

namespace store {

namespace {

// The lock a version before desks held on the whole database ("HtlsDb" in
// ASCII). Desks hold it shared: they keep such a copy out, and it keeps
// them out, since it would rewrite every desk's rows at close.
constexpr qint64 kWholeDatabaseKey = 0x48746c734462;

InstanceLock* keeper = nullptr;

const QString kAskFailed = QStringLiteral("cannot ask for the desk's lock");

}  // namespace

QString DeskLockCall(const char* function)
{
    // The desk's name is hashed into the second key; two names with one hash
    // would only keep each other from running at once, never mix rows.
    return QStringLiteral("%1(%2, hashtext(?))").arg(QLatin1String(function)).arg(kDeskLockClass);
}

InstanceLock::InstanceLock(QString desk) : desk_(std::move(desk))
{
    static int serial = 0;
    connection_ = QStringLiteral("%1_%2").arg(QLatin1String(kDeskConnectionName)).arg(++serial);
}

InstanceLock::~InstanceLock()
{
    if (keeper == this)
        keeper = nullptr;
    DropConnection();  // ending the session gives the advisory locks back
    if (file_)
        file_->unlock();
}

InstanceLock* InstanceLock::Keeper()
{
    return keeper;
}

void InstanceLock::DropConnection()
{
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

    try {
        DeskConnection();
    } catch (const EDatabaseError& e) {
        if (!lost_.isEmpty())
            return {Outcome::HeldElsewhere, QStringLiteral("%1, on database \"%2\" on %3")
                                                .arg(lost_, target.dbName, target.host)};
        keeper = this;  // the lock is taken when the server answers
        return {Outcome::Unchecked, QString::fromUtf8(e.what())};
    }
    keeper = this;
    return {Outcome::Held, QString()};
}

QSqlDatabase InstanceLock::DeskConnection()
{
    if (!lost_.isEmpty())
        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" writes nothing more: %2 took it while this "
                                                   "copy's connection to \"Hotels_Db\" was lost")
                                        .arg(desk_, lost_)));
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            return db;
    }
    DropConnection();
    QSqlDatabase db = OpenAliasDatabase(kHotelsDb, connection_);
    bool held = false;
    QString holder;
    try {
        holder = LockHolder(db, &held);
    } catch (const EDatabaseError&) {
        db = QSqlDatabase();
        DropConnection();
        throw;
    }
    if (!held) {
        db = QSqlDatabase();
        DropConnection();
        lost_ = holder;
        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" is held by %2").arg(desk_, holder)));
    }
    if (lockHeld_)
        platform::Report(QStringLiteral("desk \"%1\": connected to \"Hotels_Db\" again and took the desk's lock again")
                             .arg(desk_));
    lockHeld_ = true;
    return db;
}

bool InstanceLock::DropIfLost()
{
    if (!QSqlDatabase::contains(connection_))
        return false;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen()) {
            // A statement that fails on a live session says nothing about the
            // session; one that cannot even run this says it is gone.
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("SELECT 1")) && q.next())
                return false;
        }
    }
    DropConnection();
    platform::Report(QStringLiteral("desk \"%1\": the connection to \"Hotels_Db\" was lost, and the desk's lock "
                                    "with it; the next write connects and takes it again")
                         .arg(desk_));
    return true;
}

}  // namespace store
