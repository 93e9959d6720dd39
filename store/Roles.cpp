#include "store/Roles.h"

#include "store/Engine.h"
#include "store/ServerConnection.h"
#include "store/StoreError.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <optional>

namespace store {

bool loginMayWrite(const QString &connectionString)
{
    if (engineOf(connectionString) != Engine::Postgres)
        return true;
    const QString name = openServerConnection(connectionString, true);
    std::optional<bool> mayWrite;
    QString failure;
    {
        QSqlQuery q(QSqlDatabase::database(name, false));
        if (q.exec(QStringLiteral(
                "SELECT bool_and(has_table_privilege(t, 'INSERT') AND has_table_privilege(t, 'UPDATE')"
                " AND has_table_privilege(t, 'DELETE'))"
                " FROM unnest(ARRAY['tblscheduledevents', 'tblpredefinedevents', 'tblpocs']) AS t"))
            && q.next())
            mayWrite = q.value(0).toBool();
        else
            failure = q.lastError().databaseText().simplified();
    }
    releaseServerConnection(name, connectionString, mayWrite.has_value());
    if (!mayWrite)
        throw StoreError(failure);
    return *mayWrite;
}

void createServerRoles(QSqlDatabase &db)
{
    QSqlQuery q(db);
    const QString roles = QStringLiteral("'%1', '%2'").arg(QLatin1String(kEditorRole), QLatin1String(kReaderRole));
    if (!q.exec(QStringLiteral("SELECT current_user, (SELECT count(*) FROM pg_catalog.pg_roles WHERE rolname IN (%1)),"
                               " (SELECT rolsuper OR rolcreaterole FROM pg_catalog.pg_roles WHERE rolname = current_user)")
                    .arg(roles))
        || !q.next())
        throw StoreError(q.lastError().databaseText().simplified());
    if (q.value(1).toInt() == 2)
        return;
    if (!q.value(2).toBool())
        throw StoreError(QStringLiteral("the login %1 may not create the roles %2 and %3. Run orvenna-newdb --database as "
                                        "a login that may (a superuser, or one with CREATEROLE), or have one make them "
                                        "first: CREATE ROLE %2 NOLOGIN; CREATE ROLE %3 NOLOGIN;")
                             .arg(q.value(0).toString(), QLatin1String(kEditorRole), QLatin1String(kReaderRole)));
    for (const char *role : {kEditorRole, kReaderRole}) {
        // Another calendar on the same server may be making them at the same moment.
        if (!q.exec(QStringLiteral("DO $do$ BEGIN"
                                   " IF NOT EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN"
                                   "  BEGIN CREATE ROLE %1 NOLOGIN; EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END;"
                                   " END IF; END $do$")
                        .arg(QLatin1String(role))))
            throw StoreError(q.lastError().databaseText().simplified());
    }
}

QString serverRoleGrants()
{
    // Granted again after every update of the schema rather than by default
    // privileges, which reach only the tables of the login that set them,
    // while any login that may create tables may run the update.
    // Not a warning for each right the login may not give (a table it does not own).
    return QStringLiteral(
               "DO $do$ DECLARE s text := quote_ident(current_schema()); BEGIN"
               " PERFORM set_config('client_min_messages', 'error', true);"
               " IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%1') THEN"
               "  EXECUTE format('GRANT USAGE ON SCHEMA %s TO %1', s);"
               "  EXECUTE format('GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA %s TO %1', s);"
               "  EXECUTE format('GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA %s TO %1', s);"
               // The schema's version is the updates' business alone.
               "  IF to_regclass('tblschemaversion') IS NOT NULL THEN"
               "   REVOKE INSERT, UPDATE, DELETE ON tblSchemaVersion FROM %1;"
               "  END IF;"
               " END IF;"
               " IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '%2') THEN"
               "  EXECUTE format('GRANT USAGE ON SCHEMA %s TO %2', s);"
               "  EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %s TO %2', s);"
               "  EXECUTE format('GRANT SELECT ON ALL SEQUENCES IN SCHEMA %s TO %2', s);"
               " END IF; END $do$")
        .arg(QLatin1String(kEditorRole), QLatin1String(kReaderRole));
}

} // namespace store
