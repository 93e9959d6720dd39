#pragma once

#include <QString>

class QSqlError;

namespace store {

// Connections to a PostgreSQL server through Qt's QPSQL driver. Opening a
// server connection costs a round of authentication and a new server process,
// so a closed connection is kept for the next operation of the same thread
// instead of being dropped; one that failed is dropped. The thread owns what
// it keeps: a connection idle for a minute is closed, and all of them when the
// thread ends.

// Returns the name of an open QSqlDatabase connection. Throws StoreError with a
// plain reason: the server cannot be reached, refuses the login, has no such
// database, or (when requireTables) the database has no calendar tables.
[[nodiscard]] QString openServerConnection(const QString &url, bool requireTables, bool *reused = nullptr);
void releaseServerConnection(const QString &name, const QString &url, bool healthy);
// Forgets the kept connections (of this thread), e.g. after the server restarted.
void dropIdleServerConnections();

// True when the failure on the open connection `name` means the connection
// itself is gone, not the statement.
[[nodiscard]] bool isConnectionLost(const QSqlError &error, const QString &name);

inline constexpr int kConnectTimeoutSeconds = 3;

} // namespace store
