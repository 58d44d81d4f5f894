#pragma once
// One program per desk and "Hotels_Db": two copies of one desk would each
// rewrite the desk's rows of "Going" from their own list at close and delete
// the other's. Copies with other desk names (Desk.h) run side by side on one
// PostgreSQL database; an SQLite file holds one desk.
//
// An SQLite database is claimed by a lock file next to it ("<file>.lock");
// a lock whose process is gone (a crash, a kill) is taken over. A PostgreSQL
// database is claimed by a session-level advisory lock on the desk's name,
// held on the desk's own connection, which the store keeps for the desk's
// writes while this object lives (WithDeskConnection, Connection.h). A copy
// of a version before desks, which locked the whole database, keeps every
// desk out while it runs, and a desk keeps it out.
//
// When that connection is lost (the server restarted, the session was
// ended), the lock went with it: the next use opens a new connection and
// takes the lock again before it writes. If another copy of the desk took
// it meanwhile, this copy stops writing for good, and every use from then on
// fails saying why.
//
// Errors: Acquire never throws; a database that cannot be asked is the
// outcome Unchecked, with the reason, since the program goes on without it
// (on PostgreSQL the lock is then taken at the first use that reaches the
// server). DeskConnection throws EDatabaseError.
//
// Window thread only (Qt Sql connections belong to the thread that made them).

#include "store/Desk.h"

#include <QLockFile>
#include <QSqlDatabase>
#include <QString>

#include <memory>

namespace store {

class InstanceLock {
public:
    enum class Outcome {
        Held,          // this program owns the desk until the object dies
        HeldElsewhere, // another program owns it: do not start
        Unchecked,     // the database could not be reached to ask; go on without
    };

    struct Claim {
        Outcome outcome = Outcome::Unchecked;
        // Who holds the desk (HeldElsewhere) or why it could not be asked
        // (Unchecked); empty when Held.
        QString detail;
    };

    // For `desk`, a good desk name: this copy's by default (Desk.h).
    explicit InstanceLock(QString desk = CurrentDesk());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Claims the desk on "Hotels_Db" under the settings in force. The last
    // object to make a PostgreSQL claim that is not refused becomes the Keeper.
    Claim Acquire();

    // The object whose desk connection the store uses (a PostgreSQL claim
    // that is Held or Unchecked), or nullptr.
    static InstanceLock* Keeper();

    // The desk's connection, open and holding the desk's lock: reopened and
    // locked again first when it was lost. Throws EDatabaseError when the
    // server cannot be reached or another copy holds the desk (from then on
    // every call throws that). Valid until the next call or this object dies.
    QSqlDatabase DeskConnection();
    // After a use of DeskConnection failed: when the connection itself is
    // gone, drops it so the next call opens a new one, and returns true.
    bool DropIfLost();

    const QString& Desk() const { return desk_; }

private:
    QString LockHolder(QSqlDatabase& db, bool* held);
    void DropConnection();

    QString desk_;
    QString connection_;  // the Qt Sql name of the desk's connection
    std::unique_ptr<QLockFile> file_;
    bool lockHeld_ = false;  // the desk's lock was held on it at least once
    QString lost_;           // why this copy no longer writes; empty while it may
};

}  // namespace store
