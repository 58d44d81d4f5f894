#include "store/Desk.h"

#include "store/Connection.h"
#include "store/DeskClaim.h"
#include "store/Names.h"
#include "store/Statement.h"
#include "store/Tables.h"

namespace store {

namespace {

// The tables whose rows belong to one desk.
constexpr const char* kDeskTables[] = {kGoing, kDestinations, kFailures};
// Of those, the ones that hold pending work (an SQLite desk takes them over
// from any name).
bool Pending(const char* table)
{
    return QLatin1String(table) != QLatin1String(kFailures);
}

bool IsPostgres(const QSqlDatabase& db)
{
    return db.driverName() == QLatin1String("QPSQL");
}

}  // namespace

QStringList AdoptRows(const QString& desk)
{
    return WithConnection("adopt", [&](QSqlDatabase& db) {
        return InTransaction(db, [&](QSqlDatabase& db) {
            if (IsPostgres(db))
                // Desks starting at once adopt one after the other: the
                // second finds nothing left.
                AskBound(db, QStringLiteral("SELECT pg_advisory_xact_lock(?, 0) IS NULL"), {kDeskLockClass},
                    QStringLiteral("cannot wait for other desks"));
            QStringList lines;
            for (const char* table : kDeskTables) {
                if (!HasTable(db, QLatin1String(table)))
                    continue;
                QString condition = QStringLiteral("%1 IS NULL").arg(Quoted(kDeskColumn));
                QVariantList values{desk};
                if (!IsPostgres(db) && Pending(table)) {
                    condition += QStringLiteral(" OR %1 <> ?").arg(Quoted(kDeskColumn));
                    values << desk;
                }
                const long long n = RunBound(db, QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3")
                                                   .arg(Quoted(table), Quoted(kDeskColumn), condition),
                                           values, QStringLiteral("cannot adopt the rows of \"%1\"").arg(QLatin1String(table)))
                                      .numRowsAffected();
                if (n > 0)
                    lines << QStringLiteral("desk \"%1\" took over %2 rows of \"%3\" written without it")
                                 .arg(desk).arg(n).arg(QLatin1String(table));
            }
            // The server's statistics still show rows without a desk until its
            // next automatic analysis; meanwhile a link's rows would be looked
            // for through the desk's index instead of the address's.
            if (IsPostgres(db) && !lines.isEmpty())
                RunText(db, QStringLiteral("ANALYZE %1").arg(Quoted(kGoing)), QStringLiteral("cannot analyze \"Going\""));
            return lines;
        });
    });
}

QStringList HandOver(const QString& from, const QString& to)
{
    if (from == to)
        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" cannot hand its work over to itself").arg(from)));
    // On SQLite the file lock says whether any copy runs on the file.
    InstanceLock fileLock(to);
    if (platform::ResolveAlias(kHotelsDb).kind == platform::DatabaseTarget::Kind::SQLite) {
        const InstanceLock::Claim claim = fileLock.Acquire();
        if (claim.outcome != InstanceLock::Outcome::Held)
            throw EDatabaseError(ToAnsi(QStringLiteral("cannot hand over while a copy of hotelcrawler works on "
                                                       "\"Hotels_Db\" (%1); close it first")
                                            .arg(claim.detail)));
    }
    return WithConnection("hand_over", [&](QSqlDatabase& db) {
        return InTransaction(db, [&](QSqlDatabase& db) {
            if (IsPostgres(db))
                // Held to the end of the transaction: neither desk can start
                // while its rows move.
                for (const QString& desk : {from, to})
                    if (!AskBound(db, QStringLiteral("SELECT ") + DeskLockCall("pg_try_advisory_xact_lock"), {desk},
                             QStringLiteral("cannot ask whether desk \"%1\" runs").arg(desk)))
                        throw EDatabaseError(ToAnsi(QStringLiteral("desk \"%1\" is running; close it first, then "
                                                                   "hand its work over")
                                                        .arg(desk)));
            if (IsPostgres(db))
                // A desk whose lock is free only because the server restarted
                // under it is running too; a copy of `from` coming back later
                // finds its rows handed over and stops writing.
                ClaimForHandOver(db, from, to);
            QStringList lines;
            for (const char* table : kDeskTables) {
                if (!HasTable(db, QLatin1String(table)))
                    continue;
                const long long n = RunBound(db, QStringLiteral("UPDATE %1 SET %2 = ? WHERE %2 = ?")
                                                   .arg(Quoted(table), Quoted(kDeskColumn)),
                                           {to, from}, QStringLiteral("cannot hand over \"%1\"").arg(QLatin1String(table)))
                                      .numRowsAffected();
                lines << QStringLiteral("moved %1 rows of \"%2\" from desk \"%3\" to desk \"%4\"")
                             .arg(n).arg(QLatin1String(table), from, to);
            }
            return lines;
        });
    });
}

}  // namespace store
