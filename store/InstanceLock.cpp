#include "store/InstanceLock.h"

#include "platform/db/Alias.h"

#include <QSqlError>
#include <QSqlQuery>

namespace store {

namespace {
const AnsiString kAlias = "Hotels_Db";
// The advisory lock key: any fixed number works as long as every copy of the
// program uses the same one ("HtlsDb" in ASCII).
constexpr qint64 kAdvisoryKey = 0x48746c734462;
}  // namespace

InstanceLock::~InstanceLock()
{
    if (!connection_.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(connection_, false);
            db.close();  // ending the session gives the advisory lock back
        }
        QSqlDatabase::removeDatabase(connection_);
    }
    if (file_)
        file_->unlock();
}

InstanceLock::Claim InstanceLock::Acquire()
{
    platform::DatabaseTarget target;
    try {
        target = platform::ResolveAlias(kAlias);
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

    connection_ = QStringLiteral("hc_instance_lock");
    QString why;
    try {
        QSqlDatabase db = OpenAliasDatabase(kAlias, connection_);
        QSqlQuery q(db);
        if (!q.prepare(QStringLiteral("SELECT pg_try_advisory_lock(?)"))) {
            why = q.lastError().text();
        } else {
            q.addBindValue(kAdvisoryKey);
            if (q.exec() && q.next()) {
                if (q.value(0).toBool())
                    return {Outcome::Held, QString()};
                q.finish();
                db.close();
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(connection_);
                connection_.clear();
                return {Outcome::HeldElsewhere,
                        QStringLiteral("another session of database \"%1\" on %2 holds the crawler's lock")
                            .arg(target.dbName, target.host)};
            }
            why = q.lastError().text();
        }
        q = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection_);
    } catch (const EDatabaseError& e) {
        why = QString::fromUtf8(e.what());
    }
    connection_.clear();
    return {Outcome::Unchecked, why};
}

}  // namespace store
