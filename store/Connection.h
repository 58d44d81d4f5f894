#pragma once
// A short-lived connection to "Hotels_Db" for one piece of work: opened with
// a name of its own, closed and removed afterwards, whatever the work did.
//
// Errors: a failure is reported by throwing EDatabaseError.

#include "platform/db/Alias.h"

#include <QSqlDatabase>
#include <QString>

#include <atomic>

namespace store {

// Runs `work(db)` on a fresh connection named after `purpose` and returns
// what it returns. A connection that cannot be opened throws EDatabaseError
// before `work` runs.
template <class Work>
auto WithConnection(const char* purpose, Work&& work)
{
    static std::atomic<unsigned> serial{0};
    const QString name = QStringLiteral("hc_%1_%2").arg(QLatin1String(purpose)).arg(++serial);
    struct Remover {
        QString name;
        ~Remover() { QSqlDatabase::removeDatabase(name); }
    } remover{name};
    QSqlDatabase db = OpenAliasDatabase("Hotels_Db", name);
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

}  // namespace store
