#include "syncwindows/SyncBackend.h"

#include "store/Connection.h"

std::optional<caldav::Binding> EngineSyncBackend::binding(const QString &connectionString)
{
    store::Connection conn;
    conn.open(connectionString);
    return caldav::SyncEngine::binding(conn);
}

void EngineSyncBackend::bind(const QString &connectionString, const caldav::Binding &binding)
{
    store::Connection conn;
    conn.open(connectionString);
    caldav::SyncEngine::bind(conn, binding);
}

void EngineSyncBackend::unbind(const QString &connectionString)
{
    store::Connection conn;
    conn.open(connectionString);
    caldav::SyncEngine::unbind(conn);
}

caldav::SyncOutcome EngineSyncBackend::run(const QString &connectionString, const caldav::Account &account,
                                           caldav::ConflictChooser *chooser,
                                           const std::function<bool(int, int)> &progress)
{
    caldav::SyncEngine engine(connectionString, account);
    return engine.run(chooser, progress);
}
