#pragma once
// The socket under an open PostgreSQL connection of Qt Sql, for what Qt's
// driver does not say: whether the server ended the session or the path to
// it is known dead, asked without sending anything, so without waiting on
// the server.
//
// Both functions take a connection that QSqlDatabase opened with the QPSQL
// driver; anything else (another driver, a closed connection) has no socket.
// Thread: the thread that uses the connection.

#include <QSqlDatabase>

namespace platform {

// The connection's socket descriptor, or -1 when it has none. It stays the
// connection's until the connection closes.
int PostgresSocket(const QSqlDatabase& db);

// Whether the session is over: the server closed it (a restart, a
// terminated backend; its last message is read and dropped), the socket
// failed (a reset, a keepalive or user time-out, SilenceGuard's cut), or
// the connection has no socket. Reads only what has already arrived: never
// sends and never blocks. A session that is idle and sound is not over, nor
// is one with a statement under way (it is not looked at then).
bool PostgresSessionGone(const QSqlDatabase& db);

}  // namespace platform
