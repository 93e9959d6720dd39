#include "store/Schema.h"

#include "store/Roles.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace store {

void createServerTables(const QString &url)
{
    const QStringList ddl = newSchemaStatements(Engine::Postgres);
    const QString name = openServerConnection(url, false);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT string_agg(tablename, ', ') FROM pg_catalog.pg_tables"
                                   " WHERE schemaname = current_schema()"
                                   " AND tablename IN ('tblscheduledevents', 'tblpredefinedevents', 'tblpocs')"))
            || !q.next()) {
            failure = q.lastError().text();
        } else if (!q.value(0).toString().isEmpty()) {
            failure = QStringLiteral("the database has calendar tables already (%1)").arg(q.value(0).toString());
        } else if (!db.transaction()) {
            failure = db.lastError().text();
        } else {
            // All or nothing: a half-made schema would be refused next time.
            try {
                createServerRoles(db);
            } catch (const StoreError &e) {
                failure = e.description();
            }
            // Named at once: a login that may only read exports it under the same name as the others.
            const QString identity = QStringLiteral("INSERT INTO tblCalendarIdentity(identity) VALUES (gen_random_uuid()::text)");
            for (const QString &statement : ddl + QStringList{identity, serverRoleGrants()}) {
                if (failure.isEmpty() && !q.exec(statement))
                    failure = q.lastError().text();
            }
            if (failure.isEmpty() && !db.commit())
                failure = db.lastError().text();
            if (!failure.isEmpty())
                db.rollback();
        }
    }
    releaseServerConnection(name, url, false);
    if (!failure.isEmpty())
        throw StoreError(QStringLiteral("Could not create the tables on %1: %2").arg(url, failure));
}

} // namespace store
