#pragma once
// Connections to "Hotels_Db" for one piece of work, and transactions on them.
//
// WithConnection opens a connection of its own for the work and closes it
// afterwards, whatever the work did: every use sees the database the
// settings name as it is now (an SQLite file moved or replaced meanwhile
// is found, or reported, at the next use). WithDeskConnection uses the
// connection of the desk it is given (DeskAccess.h): the kept one when the
// desk's claim keeps one (PostgreSQL, see InstanceLock.h), so that no
// connection is opened per write and every write runs under the desk's lock.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "platform/db/Alias.h"
#include "store/DeskAccess.h"
#include "store/InstanceLock.h"
#include "store/Names.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

#include <atomic>
#include <type_traits>

namespace store {

// Runs `work(db)` on a fresh connection named after `purpose` and returns
// what it returns. A connection that cannot be opened throws EDatabaseError
// before `work` runs.
template <class Work>
auto WithConnection(const char* purpose, Work&& work)
{
    static std::atomic<unsigned> serial{0};
    const QString name = QStringLiteral("%1%2_%3").arg(QLatin1String(kConnectionPrefix), QLatin1String(purpose)).arg(++serial);
    struct Remover {
        QString name;
        ~Remover() { QSqlDatabase::removeDatabase(name); }
    } remover{name};
    QSqlDatabase db = OpenAliasDatabase(kHotelsDb, name);
    struct Closer {
        QSqlDatabase& db;
        ~Closer()
        {
            db.close();
            db = QSqlDatabase();
        }
    } closer{db};
    return work(db);
}

// Runs `work(db)` on the kept connection of `desk` when it has one, else as
// WithConnection. When the work fails because the kept connection was lost
// (a server restart), it runs once more on a new connection, under the
// desk's lock taken again; `work` must therefore leave nothing half-done
// when it throws (a transaction of its own does that).
template <class Work>
auto WithDeskConnection(const DeskAccess& desk, const char* purpose, Work&& work)
{
    InstanceLock* keeper = desk.Keeper();
    if (!keeper)
        return WithConnection(purpose, work);
    try {
        QSqlDatabase db = keeper->DeskConnection();
        return work(db);
    } catch (const EDatabaseError&) {
        if (!keeper->DropIfLost())
            throw;
    }
    QSqlDatabase db = keeper->DeskConnection();
    return work(db);
}

// Runs `work(db)` in one transaction on the open connection `db`: committed
// when it returns, rolled back when it throws (the error travels on).
template <class Work>
auto InTransaction(QSqlDatabase& db, Work&& work)
{
    if (!db.transaction())
        throw EDatabaseError(QStringLiteral("cannot start a transaction"), db.lastError());
    try {
        if constexpr (std::is_void_v<decltype(work(db))>) {
            work(db);
            if (!db.commit())
                throw EDatabaseError(QStringLiteral("cannot commit"), db.lastError());
        } else {
            auto result = work(db);
            if (!db.commit())
                throw EDatabaseError(QStringLiteral("cannot commit"), db.lastError());
            return result;
        }
    } catch (...) {
        db.rollback();
        throw;
    }
}

}  // namespace store
