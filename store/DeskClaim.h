#pragma once
// A running desk's claim that outlives its session (PostgreSQL).
//
// The desk's advisory lock (InstanceLock.h) goes with the desk's session:
// when the server restarts, every lock is free until each desk connects
// again. A second copy of the desk or a hand-over in that moment would find
// the desk free, and the desk, back a second later, would take its lock
// again and go on writing beside them. So each desk also writes who holds
// it into the table "DeskClaims" (one row per desk: "Desk", "Token" of the
// holding program, "Holder" as said to people, "Machine", "Pid", "Session"
// (its backend), "TakenAt"), which survives the restart, and every claimant
// reads that row under the desk's lock:
//
//   - A claim taken before the server's last start whose holder may still
//     live is kept for the holder for DeskTimings::restartGrace after that
//     start: a second copy and a hand-over are refused meanwhile.
//   - A holder on this machine whose process is gone (a crash) gives its
//     claim up at once; so does any claim taken since the server's start
//     whose lock is free (its session ended while the server ran: the
//     program crashed, or its session was ended, in which case it learns
//     of the new holder when it comes back, below).
//   - A desk taking its lock back after a lost connection must find its own
//     claim; another holder, or a hand-over that marked the row, means
//     someone else held the desk meanwhile, and the desk stops writing.
//
// The table is created here when missing; the store's other tables never
// refer to it.
//
// Errors: every function throws EDatabaseError when the database fails.
// Thread: the thread that owns `db`.

#include <QSqlDatabase>
#include <QString>

#include <chrono>

namespace store {

// The times of a desk's watch over its connection (InstanceLock.h) and of
// its claim; tests shorten them.
struct DeskTimings {
    std::chrono::milliseconds watchEvery{1000};      // how often the kept connection is looked at
    std::chrono::milliseconds silenceLimit{30000};   // SilenceGuard.h: a server silent that long is given up
    std::chrono::seconds restartGrace{60};           // see above
};
const DeskTimings& CurrentDeskTimings();

// Who claims: one program (one InstanceLock).
struct DeskClaimant {
    QString token;    // unique to this claimant
    QString holder;   // "process 4711 on host-a"
    QString machine;  // this machine's identity
    qint64 pid = 0;

    static DeskClaimant ThisProgram();
};

// With the desk's advisory lock held on `db`: makes `me` the holder of
// `desk`, in a transaction of its own, and returns an empty string; or
// leaves the row as it is and returns why not, as a phrase naming who has
// the desk. `again` is false for a desk's first claim (a claim left by a
// holder that is gone is taken over) and true when the desk takes its lock
// back after a lost connection (only its own claim will do).
QString ClaimDesk(QSqlDatabase& db, const QString& desk, const DeskClaimant& me, bool again);

// The session that held `desk`'s lock for `me` before its connection was
// lost, when the server still has it (the path died, the server did not
// notice yet): it is ended, so that the lock comes free, and true returned.
bool EndEarlierSession(QSqlDatabase& db, const QString& desk, const DeskClaimant& me);

// Gives `desk`'s claim back when it is still `me`'s (the program closes).
void ReleaseDeskClaim(QSqlDatabase& db, const QString& desk, const DeskClaimant& me);

// In the hand-over's transaction, with both desks' locks held on `db`:
// throws EDatabaseError saying so when the holder of `from` or `to` may
// still come back (see above), else marks `from`'s claim as handed over to
// `to`, so that a copy of `from` coming back stops writing.
void ClaimForHandOver(QSqlDatabase& db, const QString& from, const QString& to);

namespace testing {
// Replaces the times above until called again with DeskTimings{}.
void SetDeskTimings(const DeskTimings& timings);
}  // namespace testing

}  // namespace store
