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
// writes while this object lives (DeskAccess.h, Connection.h). A copy
// of a version before desks, which locked the whole database, keeps every
// desk out while it runs, and a desk keeps it out.
//
// When that connection is lost (the server restarted, the session was
// ended, the path to the server died), the lock went with it. While this
// object keeps the connection and an event loop runs, it looks at the kept
// connection every DeskTimings::watchEvery (DeskClaim.h) without sending
// anything (PostgresSocket.h), and once the session is over it connects
// again and takes the lock back as soon as the server answers, not at the
// next write: the lost connection is said on standard error, and so is
// the lock taken back. A claim in the table "DeskClaims" (DeskClaim.h)
// keeps the desk from a second copy and from a hand-over while its lock is
// free after a server restart. If, taking the lock back, this copy finds
// that another copy held the desk meanwhile or its rows were handed over,
// it stops writing for good, says why on standard error, and every use
// from then on fails saying why.
//
// A server that stops answering without the connection failing (a paused
// process) is given up on after DeskTimings::silenceLimit (SilenceGuard.h),
// so no call on the kept connection blocks the window for longer. A
// session of this copy's that the server still holds after the client gave
// it up (the path died) is ended when the lock is taken back.
//
// Errors: Acquire never throws; a database that cannot be asked is the
// outcome Unchecked, with the reason, since the program goes on without it
// (on PostgreSQL the lock is then taken as soon as the server answers).
// DeskConnection throws EDatabaseError.
//
// Window thread only (Qt Sql connections belong to the thread that made them).

#include "platform/db/SilenceGuard.h"
#include "store/DeskClaim.h"

#include <QDeadlineTimer>
#include <QLockFile>
#include <QSqlDatabase>
#include <QString>
#include <QTimer>

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

    // For `desk`, a good desk name.
    explicit InstanceLock(QString desk);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Claims the desk on "Hotels_Db" under the settings in force. A
    // PostgreSQL claim that is not refused keeps the desk's connection from
    // then on, and its watch starts (when there is a Qt application object).
    Claim Acquire();

    // Whether the desk's work goes through DeskConnection (a PostgreSQL
    // claim that is Held or Unchecked) rather than a connection per use.
    bool KeepsConnection() const { return keeps_; }

    // The desk's connection, open and holding the desk's lock: reopened and
    // locked again first when it was lost. Throws EDatabaseError when the
    // server cannot be reached or another copy holds the desk (from then on
    // every call throws that). Valid until the next call or this object dies.
    QSqlDatabase DeskConnection();
    // After a use of DeskConnection failed: when the connection itself is
    // gone, drops it so the next call opens a new one, and returns true.
    bool DropIfLost();

    // One look of the watch: when the kept connection's session is over,
    // drops it; when there is none, connects and takes the lock back (after
    // a failed try, not before a pause four times as long as that try took,
    // at least half a second: an unreachable server makes each try wait for
    // the connect time-out). Never throws; says on standard error what
    // changed. The watch calls it; tests may too.
    void CheckConnection();

    // Why this copy writes nothing more; empty while it may write.
    const QString& StoppedWhy() const { return lost_; }
    const QString& Desk() const { return desk_; }

private:
    QString LockHolder(QSqlDatabase& db, bool* held);
    QSqlDatabase ConnectAndLock();
    void DropConnection();
    void NoteLost();

    QString desk_;
    QString connection_;  // the Qt Sql name of the desk's connection
    std::unique_ptr<QLockFile> file_;
    bool keeps_ = false;     // Acquire made a PostgreSQL claim that was not refused
    bool lockHeld_ = false;  // the desk's lock was held on it at least once
    QString lost_;           // why this copy no longer writes; empty while it may
    QString refusedBy_;      // who has the desk, when it was refused
    DeskClaimant me_;        // this object's claim (DeskClaim.h)
    platform::SilenceGuard guard_;
    QTimer watch_;
    QDeadlineTimer nextTry_{0};  // the watch's next try to connect, after a failed one
    bool tryFailed_ = false;  // the last try to connect failed (said once)
};

}  // namespace store
