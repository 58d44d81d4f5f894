#include "platform/db/Alias.h"

#include "platform/settings/Settings.h"
#include "platform/testing/DbTestHooks.h"

#include <QFileInfo>
#include <QSqlError>

namespace platform {

DatabaseTarget ResolveAlias(const AnsiString& alias)
{
    const QString name = ToWide(alias);
    if (name.compare(QLatin1String(kHotelsAlias), Qt::CaseInsensitive) != 0)
        throw EDatabaseError("Unknown database alias '" + alias + "'");
    const QString setting = CurrentSettings().hotelsDb;
    if (setting.isEmpty()) {
        DatabaseTarget t;
        t.sqlitePath = DefaultDatabasePath();
        return t;
    }
    QString problem;
    if (auto t = ParseDatabaseUrl(setting, &problem))
        return *t;
    throw EDatabaseError("Database alias '" + alias + "' is misconfigured: " + ToAnsi(problem));
}

}  // namespace platform

namespace {
std::function<void(QSqlDatabase&)>& OpenedHook()
{
    static std::function<void(QSqlDatabase&)> hook;
    return hook;
}
}  // namespace

void platform::testing::SetDatabaseOpenedHook(std::function<void(QSqlDatabase&)> hook)
{
    OpenedHook() = std::move(hook);
}

QSqlDatabase OpenAliasDatabase(const AnsiString& alias, const QString& connectionName)
{
    using platform::DatabaseTarget;
    const DatabaseTarget t = platform::ResolveAlias(alias);
    // QSQLITE would silently create a missing file; a missing database is an
    // error here, creating it is the caller's decision.
    if (t.kind == DatabaseTarget::Kind::SQLite && !QFileInfo(t.sqlitePath).isFile())
        throw EDatabaseError("Database '" + alias + "' not found: " + ToAnsi(t.sqlitePath)
                             + " does not exist");

    const QString driver = t.kind == DatabaseTarget::Kind::SQLite ? QStringLiteral("QSQLITE")
                                                                    : QStringLiteral("QPSQL");
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(driver, connectionName);
        if (!db.isValid()) {
            failure = QStringLiteral("the %1 database driver is not available").arg(driver);
        } else {
            if (t.kind == DatabaseTarget::Kind::SQLite) {
                db.setDatabaseName(t.sqlitePath);
                db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(platform::kLockWaitMs));
            } else {
                db.setHostName(t.host);
                db.setPort(t.port);
                db.setDatabaseName(t.dbName);
                db.setUserName(t.user);
                db.setPassword(t.password);
                // An unreachable server must fail the open, and a lock held
                // elsewhere the statement, instead of hanging the window.
                // Without keepalives and a user time-out a dead path is found
                // only when TCP gives up retransmitting (about 15 minutes),
                // and the call waiting on it holds the window that long. The
                // probes start after 10 s of quiet, every 5 s, 4 of them:
                // together with the time-out, about kDeadPathMs either way.
                db.setConnectOptions(QStringLiteral("connect_timeout=5;keepalives=1;keepalives_idle=10;"
                                                    "keepalives_interval=5;keepalives_count=4;tcp_user_timeout=%3;"
                                                    "options='-c lock_timeout=%1 -c statement_timeout=%2'")
                                         .arg(platform::kLockWaitMs)
                                         .arg(platform::kStatementLimitMs)
                                         .arg(platform::kDeadPathMs));
            }
            if (db.open()) {
                if (OpenedHook())
                    OpenedHook()(db);
                return db;
            }
            failure = db.lastError().text();
        }
    }
    // Every handle of the connection is gone here, so it can be removed cleanly.
    QSqlDatabase::removeDatabase(connectionName);
    throw EDatabaseError("Cannot open database '" + alias + "': " + ToAnsi(failure));
}
