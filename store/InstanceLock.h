#pragma once
// One program per "Hotels_Db": two crawlers on one database would each
// rewrite "Going" from their own list at close and delete the other's rows.
//
// An SQLite database is claimed by a lock file next to it ("<file>.lock");
// a lock whose process is gone (a crash, a kill) is taken over. A PostgreSQL
// database is claimed by a session-level advisory lock held on a connection
// of its own for as long as the lock object lives.

#include <QLockFile>
#include <QSqlDatabase>
#include <QString>

#include <memory>

namespace store {

class InstanceLock {
public:
    enum class Outcome {
        Held,          // this program owns the database until the object dies
        HeldElsewhere, // another program owns it: do not start
        Unchecked,     // the database could not be reached to ask; go on without
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Claims "Hotels_Db" under the settings in force. `detail` says who holds
    // it (HeldElsewhere) or why it could not be asked (Unchecked).
    Outcome Acquire(QString* detail);

private:
    std::unique_ptr<QLockFile> file_;
    QString connection_;
};

}  // namespace store
