#pragma once
// One program per "Hotels_Db": two crawlers on one database would each
// rewrite "Going" from their own list at close and delete the other's rows.
//
// An SQLite database is claimed by a lock file next to it ("<file>.lock");
// a lock whose process is gone (a crash, a kill) is taken over. A PostgreSQL
// database is claimed by a session-level advisory lock held on a connection
// of its own for as long as the lock object lives.
//
// Errors: Acquire never throws; a database that cannot be asked is the
// outcome Unchecked, with the reason, since the program goes on without it.

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

    struct Claim {
        Outcome outcome = Outcome::Unchecked;
        // Who holds the database (HeldElsewhere) or why it could not be asked
        // (Unchecked); empty when Held.
        QString detail;
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Claims "Hotels_Db" under the settings in force.
    Claim Acquire();

private:
    std::unique_ptr<QLockFile> file_;
    QString connection_;
};

}  // namespace store
