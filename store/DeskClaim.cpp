#include "store/DeskClaim.h"

#include "platform/db/DatabaseError.h"
#include "store/Connection.h"
#include "store/Desk.h"
#include "store/Names.h"
#include "store/Statement.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>

#include <cerrno>
#include <climits>
#include <csignal>

namespace store {

namespace {

constexpr const char* kDeskClaims = "DeskClaims";

DeskTimings& Timings()
{
    static DeskTimings timings;
    return timings;
}

// The row of one desk, read under FOR UPDATE.
struct ClaimRow {
    bool found = false;
    QString token, holder, machine;
    QVariant pid;                  // null for a hand-over's mark
    bool takenBeforeStart = false; // taken before the server's last start
    double startedAgoS = 0;        // how long ago the server started
};

void EnsureTable(QSqlDatabase& db)
{
    if (AskBound(db, QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {Quoted(kDeskClaims)},
                 QStringLiteral("cannot look for \"DeskClaims\"")))
        return;
    // Desks starting at once on a new database create it one after the
    // other (held to the end of the caller's transaction).
    AskBound(db, QStringLiteral("SELECT pg_advisory_xact_lock(?, 1) IS NULL"), {kDeskLockClass},
             QStringLiteral("cannot wait for other desks"));
    RunText(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS \"DeskClaims\" (\"Desk\" text PRIMARY KEY, "
                           "\"Token\" text NOT NULL, \"Holder\" text NOT NULL, \"Machine\" text, "
                           "\"Pid\" bigint, \"Session\" integer, \"TakenAt\" timestamptz NOT NULL)"),
            QStringLiteral("cannot create \"DeskClaims\""));
}

ClaimRow ReadClaim(QSqlDatabase& db, const QString& desk)
{
    QSqlQuery q = RunBound(db,
        QStringLiteral("SELECT \"Token\", \"Holder\", \"Machine\", \"Pid\", \"TakenAt\" < pg_postmaster_start_time(), "
                       "extract(epoch FROM now() - pg_postmaster_start_time()) "
                       "FROM \"DeskClaims\" WHERE \"Desk\" = ? FOR UPDATE"),
        {desk}, QStringLiteral("cannot read the claim of desk \"%1\"").arg(desk));
    ClaimRow row;
    if (!q.next())
        return row;
    row.found = true;
    row.token = q.value(0).toString();
    row.holder = q.value(1).toString();
    row.machine = q.value(2).toString();
    row.pid = q.value(3);
    row.takenBeforeStart = q.value(4).toBool();
    row.startedAgoS = q.value(5).toDouble();
    return row;
}

bool ProcessLives(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    // EPERM: it lives, as another user's process.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// When the holder of `row` may still come back for its desk, why (as a
// phrase after its name); else empty.
QString MayComeBack(const ClaimRow& row, const DeskClaimant& me)
{
    if (row.pid.isNull())
        return QString();  // a hand-over's mark: nobody comes back for it
    // Taken since the server's start and its lock free (the caller holds
    // it): the holder's session ended while the server ran.
    if (!row.takenBeforeStart)
        return QString();
    const double left = static_cast<double>(Timings().restartGrace.count()) - row.startedAgoS;
    if (left <= 0)
        return QString();
    if (row.machine == me.machine && !ProcessLives(row.pid.toLongLong()))
        return QString();
    return QStringLiteral("which lost its connection when the server restarted %1 s ago and may take the desk back "
                          "within %2 s")
        .arg(static_cast<qint64>(row.startedAgoS))
        .arg(static_cast<qint64>(left) + 1);
}

void WriteClaim(QSqlDatabase& db, const QString& desk, const DeskClaimant& claimant, bool withSession)
{
    const QVariant noPid(QMetaType::fromType<qint64>());
    RunBound(db,
        QStringLiteral("INSERT INTO \"DeskClaims\" (\"Desk\", \"Token\", \"Holder\", \"Machine\", \"Pid\", \"Session\", "
                       "\"TakenAt\") VALUES (?, ?, ?, ?, ?, %1, now()) ON CONFLICT (\"Desk\") DO UPDATE SET "
                       "\"Token\" = EXCLUDED.\"Token\", \"Holder\" = EXCLUDED.\"Holder\", "
                       "\"Machine\" = EXCLUDED.\"Machine\", \"Pid\" = EXCLUDED.\"Pid\", "
                       "\"Session\" = EXCLUDED.\"Session\", \"TakenAt\" = EXCLUDED.\"TakenAt\"")
            .arg(withSession ? QStringLiteral("pg_backend_pid()") : QStringLiteral("NULL")),
        {desk, claimant.token, claimant.holder, claimant.machine, claimant.pid > 0 ? QVariant(claimant.pid) : noPid},
        QStringLiteral("cannot write the claim of desk \"%1\"").arg(desk));
}

}  // namespace

const DeskTimings& CurrentDeskTimings()
{
    return Timings();
}

DeskClaimant DeskClaimant::ThisProgram()
{
    DeskClaimant me;
    me.token = QUuid::createUuid().toString(QUuid::WithoutBraces);
    me.pid = QCoreApplication::applicationPid();
    const QString host = QSysInfo::machineHostName();
    me.holder = QStringLiteral("process %1 on %2").arg(me.pid).arg(host);
    // Host names repeat across machines more often than machine ids do.
    const QByteArray id = QSysInfo::machineUniqueId();
    me.machine = id.isEmpty() ? host : QString::fromLatin1(id);
    return me;
}

QString ClaimDesk(QSqlDatabase& db, const QString& desk, const DeskClaimant& me, bool again)
{
    return InTransaction(db, [&](QSqlDatabase& db) {
        EnsureTable(db);
        const ClaimRow row = ReadClaim(db, desk);
        if (again) {
            if (!row.found)
                return QStringLiteral("another copy, closed since,");
            if (row.token != me.token)
                return row.holder;
        } else if (row.found && row.token != me.token) {
            const QString why = MayComeBack(row, me);
            if (!why.isEmpty())
                return QStringLiteral("%1, %2").arg(row.holder, why);
        }
        WriteClaim(db, desk, me, true);
        return QString();
    });
}

bool EndEarlierSession(QSqlDatabase& db, const QString& desk, const DeskClaimant& me)
{
    if (!AskBound(db, QStringLiteral("SELECT to_regclass(?) IS NOT NULL"), {Quoted(kDeskClaims)},
                  QStringLiteral("cannot look for \"DeskClaims\"")))
        return false;
    // The lock of two keys shows its first in "classid", its second in
    // "objid" (as an oid) and 2 in "objsubid".
    QSqlQuery q = RunBound(db,
        QStringLiteral("SELECT pg_terminate_backend(l.pid) FROM pg_locks l JOIN \"DeskClaims\" c ON c.\"Session\" = l.pid "
                       "WHERE c.\"Desk\" = ? AND c.\"Token\" = ? AND l.locktype = 'advisory' AND l.granted AND "
                       "l.pid <> pg_backend_pid() AND "
                       "l.database = (SELECT oid FROM pg_database WHERE datname = current_database()) AND "
                       "l.classid = ?::oid AND l.objid = hashtext(?)::oid AND l.objsubid = 2"),
        {desk, me.token, kDeskLockClass, desk},
        QStringLiteral("cannot end the earlier session of desk \"%1\"").arg(desk));
    bool ended = false;
    while (q.next())
        ended = ended || q.value(0).toBool();
    return ended;
}

void ReleaseDeskClaim(QSqlDatabase& db, const QString& desk, const DeskClaimant& me)
{
    RunBound(db, QStringLiteral("DELETE FROM \"DeskClaims\" WHERE \"Desk\" = ? AND \"Token\" = ?"), {desk, me.token},
             QStringLiteral("cannot give back the claim of desk \"%1\"").arg(desk));
}

void ClaimForHandOver(QSqlDatabase& db, const QString& from, const QString& to)
{
    EnsureTable(db);
    DeskClaimant me = DeskClaimant::ThisProgram();
    for (const QString& desk : {from, to}) {
        const ClaimRow row = ReadClaim(db, desk);
        if (!row.found)
            continue;
        const QString why = MayComeBack(row, me);
        if (!why.isEmpty())
            throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" is running (%2, %3); close it first, then hand "
                                                       "its work over")
                                            .arg(desk, row.holder, why)));
    }
    me.holder = QStringLiteral("a hand-over to desk \"%1\"").arg(to);
    me.pid = 0;
    WriteClaim(db, from, me, false);
}

namespace testing {
void SetDeskTimings(const DeskTimings& timings)
{
    Timings() = timings;
}
}  // namespace testing

}  // namespace store
