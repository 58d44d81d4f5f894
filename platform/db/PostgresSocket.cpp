#include "platform/db/PostgresSocket.h"

#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>
#include <poll.h>

#include <cstring>

namespace platform {

namespace {

// Qt's QPSQL driver hands out its libpq connection as a variant of the
// pointer type, named after libpq's struct ("pg_conn*"; "PGconn*" by its
// typedef in some builds).
PGconn* Connection(const QSqlDatabase& db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    const char* type = handle.isValid() ? handle.typeName() : nullptr;
    if (!type || (std::strcmp(type, "pg_conn*") != 0 && std::strcmp(type, "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

}  // namespace

int PostgresSocket(const QSqlDatabase& db)
{
    PGconn* conn = Connection(db);
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return -1;
    return PQsocket(conn);
}

bool PostgresSessionGone(const QSqlDatabase& db)
{
    PGconn* conn = Connection(db);
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return true;
    const int fd = PQsocket(conn);
    if (fd < 0)
        return true;
    // A statement under way (a result still being read) owns what arrives.
    if (PQisBusy(conn) || PQtransactionStatus(conn) == PQTRANS_ACTIVE)
        return false;
    // An idle session is sent nothing but notices and parameter changes,
    // which libpq keeps, and the message that says why the server ends it,
    // followed by the end of file; an end of file, an error or a reset makes
    // libpq close the connection. A few reads take in such a last message and
    // the end behind it.
    for (int read = 0; read < 4; ++read) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0)
            return false;  // nothing (more) arrived, or the look was interrupted
        if (!PQconsumeInput(conn))
            return true;
        if (PQstatus(conn) != CONNECTION_OK)
            return true;
    }
    return false;
}

}  // namespace platform
