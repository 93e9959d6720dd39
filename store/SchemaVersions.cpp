#include "store/Schema.h"

#include "store/Connection.h"
#include "store/Roles.h"
#include "store/StoreError.h"

#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace store {
namespace {

// Each version's statements also take a calendar that has what they make
// already (its version was lowered by hand or by a tool): they make what is
// missing and index every event afresh.

// Find's index on the file: FTS5 over the event's texts and its staff
// member's name, its content read through a view, kept by triggers. A staff
// member's new name is indexed into every event of theirs. The old values
// handed to 'delete' are those indexed, as the staff triggers keep them so.
QStringList fileSearchIndex()
{
    const QString columns = QStringLiteral("title, Description, Notes, pocName");
    auto add = [&columns](const QString &rows) {
        return QStringLiteral("INSERT INTO tblEventSearch(rowid, %1) %2;").arg(columns, rows);
    };
    auto remove = [&columns](const QString &rows) {
        return QStringLiteral("INSERT INTO tblEventSearch(tblEventSearch, rowid, %1) %2;").arg(columns, rows);
    };
    auto eventRow = [](const char *row) {
        return QStringLiteral("%1.idScheduledEvent, %1.title, %1.Description, %1.Notes,"
                              " (SELECT pocName FROM tblPOCs WHERE idPOC = %1.idPOC)")
            .arg(QLatin1String(row));
    };
    auto eventsOf = [](const QString &name, const QString &where) {
        return QStringLiteral("SELECT idScheduledEvent, title, Description, Notes, %1 FROM tblScheduledEvents WHERE %2")
            .arg(name, where);
    };
    auto deletedEventsOf = [](const QString &name, const QString &where) {
        return QStringLiteral("SELECT 'delete', idScheduledEvent, title, Description, Notes, %1 FROM tblScheduledEvents WHERE %2")
            .arg(name, where);
    };
    return {
        QStringLiteral("CREATE VIEW IF NOT EXISTS vwEventSearch AS SELECT e.idScheduledEvent AS idScheduledEvent, e.title AS title,"
                       " e.Description AS Description, e.Notes AS Notes, p.pocName AS pocName"
                       " FROM tblScheduledEvents e LEFT JOIN tblPOCs p ON p.idPOC = e.idPOC"),
        QStringLiteral("CREATE VIRTUAL TABLE IF NOT EXISTS tblEventSearch USING fts5(%1, content='vwEventSearch',"
                       " content_rowid='idScheduledEvent', tokenize='unicode61 remove_diacritics 2')")
            .arg(columns),
        QStringLiteral("INSERT INTO tblEventSearch(tblEventSearch) VALUES('rebuild')"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchInsert AFTER INSERT ON tblScheduledEvents BEGIN ")
            + add(QStringLiteral("VALUES(%1)").arg(eventRow("new"))) + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchDelete AFTER DELETE ON tblScheduledEvents BEGIN ")
            + remove(QStringLiteral("VALUES('delete', %1)").arg(eventRow("old"))) + QStringLiteral(" END"),
        // A move changes only the times: nothing to index again.
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchUpdate AFTER UPDATE OF idScheduledEvent, title, Description, Notes, idPOC"
                       " ON tblScheduledEvents BEGIN ")
            + remove(QStringLiteral("VALUES('delete', %1)").arg(eventRow("old")))
            + add(QStringLiteral("VALUES(%1)").arg(eventRow("new"))) + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchStaffInsert AFTER INSERT ON tblPOCs BEGIN ")
            + remove(deletedEventsOf(QStringLiteral("NULL"), QStringLiteral("idPOC = new.idPOC")))
            + add(eventsOf(QStringLiteral("new.pocName"), QStringLiteral("idPOC = new.idPOC"))) + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchStaffDelete AFTER DELETE ON tblPOCs BEGIN ")
            + remove(deletedEventsOf(QStringLiteral("old.pocName"), QStringLiteral("idPOC = old.idPOC")))
            + add(eventsOf(QStringLiteral("NULL"), QStringLiteral("idPOC = old.idPOC"))) + QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS trgEventSearchStaffUpdate AFTER UPDATE OF idPOC, pocName ON tblPOCs"
                       " WHEN old.pocName IS NOT new.pocName OR old.idPOC IS NOT new.idPOC BEGIN ")
            + remove(deletedEventsOf(QStringLiteral("old.pocName"), QStringLiteral("idPOC = old.idPOC")))
            + remove(deletedEventsOf(QStringLiteral("NULL"), QStringLiteral("idPOC = new.idPOC AND new.idPOC IS NOT old.idPOC")))
            + add(eventsOf(QStringLiteral("NULL"), QStringLiteral("idPOC = old.idPOC AND new.idPOC IS NOT old.idPOC")))
            + add(eventsOf(QStringLiteral("new.pocName"), QStringLiteral("idPOC = new.idPOC"))) + QStringLiteral(" END"),
    };
}

// Find's index on the server: a side table of each event's words (folded by
// orvenna_fold: without accents through unaccent where the server has it or
// lets it be made, else lower case alone) under a GIN index, kept by row
// triggers. The triggers run as the calendar's owner, so a login that may
// write events keeps the index without rights of its own on it; whoever may
// read events may read it.
QStringList serverSearchIndex()
{
    return {
        QStringLiteral(
            "DO $do$ DECLARE s name; BEGIN"
            " IF NOT EXISTS (SELECT FROM pg_catalog.pg_extension WHERE extname = 'unaccent') THEN"
            "  BEGIN CREATE EXTENSION unaccent; EXCEPTION WHEN OTHERS THEN NULL; END;"
            " END IF;"
            " SELECT n.nspname INTO s FROM pg_catalog.pg_extension x JOIN pg_catalog.pg_namespace n ON n.oid = x.extnamespace"
            "  WHERE x.extname = 'unaccent';"
            " IF s IS NULL THEN"
            "  CREATE OR REPLACE FUNCTION orvenna_fold(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE"
            "   AS 'SELECT lower(coalesce(t, ''''))';"
            " ELSE"
            "  EXECUTE format('CREATE OR REPLACE FUNCTION orvenna_fold(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS %L',"
            "   format('SELECT lower(%I.unaccent(%L::regdictionary, coalesce(t, %L)))', s, quote_ident(s) || '.unaccent', ''));"
            " END IF; END $do$"),
        QStringLiteral("CREATE OR REPLACE FUNCTION orvenna_event_words(title text, description text, notes text, staff text)"
                       " RETURNS tsvector LANGUAGE sql STABLE"
                       " AS $$ SELECT to_tsvector('simple'::regconfig, orvenna_fold(concat_ws(' ', title, description, notes, staff))) $$"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS tblEventSearch (idScheduledEvent integer PRIMARY KEY, words tsvector NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS idxEventSearchWords ON tblEventSearch USING gin (words)"),
        QStringLiteral("DELETE FROM tblEventSearch"),
        QStringLiteral("INSERT INTO tblEventSearch(idScheduledEvent, words)"
                       " SELECT e.idScheduledEvent, orvenna_event_words(e.title, e.Description, e.Notes, p.pocName)"
                       " FROM tblScheduledEvents e LEFT JOIN tblPOCs p ON p.idPOC = e.idPOC"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION orvenna_index_event() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path FROM CURRENT AS $$ BEGIN"
            " IF TG_OP <> 'INSERT' THEN DELETE FROM tblEventSearch WHERE idScheduledEvent = OLD.idScheduledEvent; END IF;"
            " IF TG_OP <> 'DELETE' THEN"
            "  INSERT INTO tblEventSearch(idScheduledEvent, words) SELECT NEW.idScheduledEvent,"
            "   orvenna_event_words(NEW.title, NEW.Description, NEW.Notes, (SELECT pocName FROM tblPOCs WHERE idPOC = NEW.idPOC))"
            "  ON CONFLICT (idScheduledEvent) DO UPDATE SET words = EXCLUDED.words;"
            " END IF; RETURN NULL; END $$"),
        QStringLiteral("CREATE OR REPLACE TRIGGER trgEventSearch AFTER INSERT OR DELETE OR UPDATE OF idScheduledEvent, title, Description,"
                       " Notes, idPOC ON tblScheduledEvents FOR EACH ROW EXECUTE FUNCTION orvenna_index_event()"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION orvenna_index_staff() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path FROM CURRENT AS $$ DECLARE ids integer[]; BEGIN"
            " IF TG_OP = 'INSERT' THEN ids := ARRAY[NEW.idPOC];"
            " ELSIF TG_OP = 'DELETE' THEN ids := ARRAY[OLD.idPOC];"
            " ELSIF OLD.pocName IS DISTINCT FROM NEW.pocName OR OLD.idPOC IS DISTINCT FROM NEW.idPOC THEN"
            "  ids := ARRAY[OLD.idPOC, NEW.idPOC];"
            " ELSE RETURN NULL; END IF;"
            " UPDATE tblEventSearch s SET words = orvenna_event_words(e.title, e.Description, e.Notes, p.pocName)"
            "  FROM tblScheduledEvents e LEFT JOIN tblPOCs p ON p.idPOC = e.idPOC"
            "  WHERE s.idScheduledEvent = e.idScheduledEvent AND e.idPOC = ANY (ids);"
            " RETURN NULL; END $$"),
        QStringLiteral("CREATE OR REPLACE TRIGGER trgEventSearchStaff AFTER INSERT OR DELETE OR UPDATE OF idPOC, pocName ON tblPOCs"
                       " FOR EACH ROW EXECUTE FUNCTION orvenna_index_staff()"),
        QStringLiteral(
            "DO $do$ DECLARE g text; BEGIN"
            " FOR g IN SELECT DISTINCT grantee FROM information_schema.role_table_grants"
            "  WHERE table_schema = current_schema() AND table_name = 'tblscheduledevents' AND privilege_type = 'SELECT'"
            "  AND grantee <> current_user LOOP"
            "  EXECUTE 'GRANT SELECT ON tblEventSearch TO ' || CASE WHEN g = 'PUBLIC' THEN 'PUBLIC' ELSE quote_ident(g) END;"
            " END LOOP; END $do$"),
    };
}

// Who made each event, template and staff member and who changed it last,
// kept by triggers in one side table, times in UTC. Nothing is made up for the
// rows already stored: they get a line when they are next changed, with the
// creator unknown. A deleted row's line goes with it. An update that changes
// nothing is no change.
struct HistoryTable
{
    const char *table;
    const char *key;
    QStringList columns;
};

const HistoryTable kHistoryTables[] = {
    {"tblScheduledEvents", "idScheduledEvent",
     {QStringLiteral("title"), QStringLiteral("Description"), QStringLiteral("Notes"), QStringLiteral("EventTime"),
      QStringLiteral("EventTimeEnd"), QStringLiteral("idPOC")}},
    {"tblPredefinedEvents", "idPredefinedEvent", {QStringLiteral("title"), QStringLiteral("Description")}},
    {"tblPOCs", "idPOC", {QStringLiteral("pocName"), QStringLiteral("pocDescription")}},
};

// On the file only the table is part of the calendar. Its triggers are the
// connection's own (fileHistoryTriggers), because they call orvenna_user(),
// which only this program has: permanent ones would make every write by
// another SQLite tool fail.
QStringList fileHistory()
{
    return {QStringLiteral(
        "CREATE TABLE IF NOT EXISTS tblChangeHistory (tableName TEXT NOT NULL, idRow INTEGER NOT NULL,"
        " createdBy TEXT, createdAt TEXT, changedBy TEXT, changedAt TEXT, PRIMARY KEY (tableName, idRow)) WITHOUT ROWID")};
}

// On the server the author is the login (session_user, also inside the
// function that runs as the calendar's owner) and the time the server's. Like
// Find's index, whoever may read events may read it, and writing an event
// needs no right of its own on it.
QStringList serverHistory()
{
    QStringList statements{
        QStringLiteral("CREATE TABLE IF NOT EXISTS tblChangeHistory (tableName text NOT NULL, idRow integer NOT NULL,"
                       " createdBy text, createdAt timestamp without time zone, changedBy text,"
                       " changedAt timestamp without time zone, PRIMARY KEY (tableName, idRow))"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION orvenna_keep_history() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
            " SET search_path FROM CURRENT AS $$ DECLARE t text := lower(TG_TABLE_NAME); k integer; BEGIN"
            " IF TG_OP = 'DELETE' THEN"
            "  DELETE FROM tblChangeHistory WHERE tableName = t AND idRow = (to_jsonb(OLD) ->> TG_ARGV[0])::integer;"
            "  RETURN NULL;"
            " END IF;"
            " k := (to_jsonb(NEW) ->> TG_ARGV[0])::integer;"
            " IF TG_OP = 'INSERT' THEN"
            "  INSERT INTO tblChangeHistory VALUES (t, k, session_user, now() AT TIME ZONE 'UTC', NULL, NULL)"
            "  ON CONFLICT (tableName, idRow) DO UPDATE SET createdBy = EXCLUDED.createdBy, createdAt = EXCLUDED.createdAt,"
            "  changedBy = NULL, changedAt = NULL;"
            " ELSE"
            "  INSERT INTO tblChangeHistory(tableName, idRow, changedBy, changedAt)"
            "  VALUES (t, k, session_user, now() AT TIME ZONE 'UTC')"
            "  ON CONFLICT (tableName, idRow) DO UPDATE SET changedBy = EXCLUDED.changedBy, changedAt = EXCLUDED.changedAt;"
            " END IF; RETURN NULL; END $$"),
    };
    for (const HistoryTable &t : kHistoryTables) {
        const QString table = QLatin1String(t.table), key = QString::fromLatin1(t.key).toLower();
        const QString suffix = table.mid(3);
        statements << QStringLiteral("CREATE OR REPLACE TRIGGER trgHistory%1 AFTER INSERT OR DELETE ON %2"
                                     " FOR EACH ROW EXECUTE FUNCTION orvenna_keep_history('%3')")
                          .arg(suffix, table, key)
                   << QStringLiteral("CREATE OR REPLACE TRIGGER trgHistory%1Update AFTER UPDATE ON %2"
                                     " FOR EACH ROW WHEN (OLD.* IS DISTINCT FROM NEW.*) EXECUTE FUNCTION orvenna_keep_history('%3')")
                          .arg(suffix, table, key);
    }
    statements << QStringLiteral(
        "DO $do$ DECLARE g text; BEGIN"
        " FOR g IN SELECT DISTINCT grantee FROM information_schema.role_table_grants"
        "  WHERE table_schema = current_schema() AND table_name = 'tblscheduledevents' AND privilege_type = 'SELECT'"
        "  AND grantee <> current_user LOOP"
        "  EXECUTE 'GRANT SELECT ON tblChangeHistory TO ' || CASE WHEN g = 'PUBLIC' THEN 'PUBLIC' ELSE quote_ident(g) END;"
        " END LOOP; END $do$");
    return statements;
}

// The statements of one version, for one engine: they take a calendar of the
// version before to this one. Append a version; never change a written one,
// calendars out there were made by it.
QStringList stepTo(int version, Engine engine)
{
    const bool server = engine == Engine::Postgres;
    switch (version) {
    case 1:
        if (!server)
            return {
                QStringLiteral("CREATE TABLE tblScheduledEvents ("
                               " idScheduledEvent INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " title TEXT, Description TEXT, Notes TEXT,"
                               " EventTime TEXT, EventTimeEnd TEXT, idPOC INTEGER)"),
                QStringLiteral("CREATE INDEX idxScheduledEventsEventTime ON tblScheduledEvents(EventTime)"),
                QStringLiteral("CREATE TABLE tblPredefinedEvents ("
                               " idPredefinedEvent INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " title TEXT, Description TEXT)"),
                QStringLiteral("CREATE TABLE tblPOCs ("
                               " idPOC INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " pocName TEXT, pocDescription TEXT)"),
            };
        // Unquoted names: the server folds them to lower case, so the
        // statements' mixed-case spellings all find them.
        return {
            QStringLiteral("CREATE TABLE tblScheduledEvents ("
                           " idScheduledEvent integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                           " title text, Description text, Notes text,"
                           " EventTime timestamp without time zone, EventTimeEnd timestamp without time zone, idPOC integer)"),
            QStringLiteral("CREATE INDEX idxScheduledEventsEventTime ON tblScheduledEvents(EventTime)"),
            QStringLiteral("CREATE TABLE tblPredefinedEvents ("
                           " idPredefinedEvent integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                           " title text, Description text)"),
            QStringLiteral("CREATE TABLE tblPOCs ("
                           " idPOC integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY,"
                           " pocName text, pocDescription text)"),
            QStringLiteral("CREATE OR REPLACE FUNCTION orvenna_announce_change() RETURNS trigger LANGUAGE plpgsql AS $$"
                           " BEGIN PERFORM pg_notify('%1', lower(TG_TABLE_NAME)); RETURN NULL; END $$")
                .arg(QLatin1String(kChangeChannel)),
            QStringLiteral("CREATE TRIGGER trgScheduledEventsChanged AFTER INSERT OR UPDATE OR DELETE ON tblScheduledEvents"
                           " FOR EACH STATEMENT EXECUTE FUNCTION orvenna_announce_change()"),
            QStringLiteral("CREATE TRIGGER trgPredefinedEventsChanged AFTER INSERT OR UPDATE OR DELETE ON tblPredefinedEvents"
                           " FOR EACH STATEMENT EXECUTE FUNCTION orvenna_announce_change()"),
            QStringLiteral("CREATE TRIGGER trgPOCsChanged AFTER INSERT OR UPDATE OR DELETE ON tblPOCs"
                           " FOR EACH STATEMENT EXECUTE FUNCTION orvenna_announce_change()"),
        };
    case 2: {
        // Calendar exchange: which event came from which imported entry (uid
        // and start, typed as the engine types EventTime), and the calendar's
        // name for itself in exported UIDs. IF NOT EXISTS: calendars made
        // before versions may have them from an export or from the server's
        // first schema. They announce nothing; the events they point at do.
        const QString startType = server ? QStringLiteral("timestamp without time zone") : QStringLiteral("TEXT");
        return {
            QStringLiteral("CREATE TABLE IF NOT EXISTS tblImportedEvents (uid TEXT NOT NULL, eventStart %1 NOT NULL, "
                           "idScheduledEvent INTEGER NOT NULL, PRIMARY KEY (uid, eventStart))")
                .arg(startType),
            QStringLiteral("CREATE TABLE IF NOT EXISTS tblCalendarIdentity (identity TEXT NOT NULL)"),
        };
    }
    case 3:
        return server ? serverSearchIndex() : fileSearchIndex();
    case 4: {
        // Calendar sync (sync/SyncState.h): the one server collection the
        // calendar is bound to, where it was bound (a copy is somewhere else)
        // and how far the last run got; each server resource with its ETag;
        // each synced event with the values it had when last in step. Times
        // as ISO text on both engines: they are compared, never queried.
        QStringList tables{
            QStringLiteral("CREATE TABLE IF NOT EXISTS tblSyncBinding (calendarUrl TEXT NOT NULL, userName TEXT NOT NULL,"
                           " fingerprint TEXT NOT NULL, reminderMinutes INTEGER NOT NULL, fallbackStaff INTEGER NOT NULL,"
                           " weeksBack INTEGER NOT NULL, weeksAhead INTEGER NOT NULL, identity TEXT NOT NULL,"
                           " location TEXT NOT NULL, syncToken TEXT NOT NULL, ctag TEXT NOT NULL)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS tblSyncResources (href TEXT NOT NULL PRIMARY KEY, uid TEXT NOT NULL,"
                           " etag TEXT NOT NULL, repeating INTEGER NOT NULL, digest TEXT NOT NULL, data TEXT)"),
            QStringLiteral("CREATE TABLE IF NOT EXISTS tblSyncEvents (idScheduledEvent INTEGER NOT NULL PRIMARY KEY,"
                           " href TEXT NOT NULL, occurrence TEXT NOT NULL, title TEXT, Description TEXT, Notes TEXT,"
                           " eventStart TEXT NOT NULL, eventEnd TEXT NOT NULL, idPOC INTEGER NOT NULL)"),
            QStringLiteral("CREATE INDEX IF NOT EXISTS idxSyncEventsHref ON tblSyncEvents(href)"),
        };
        if (!server)
            return tables;
        // Whoever may write events may sync them.
        return tables
            << QStringLiteral(
                   "DO $do$ DECLARE g text; BEGIN"
                   " FOR g IN SELECT DISTINCT grantee FROM information_schema.role_table_grants"
                   "  WHERE table_schema = current_schema() AND table_name = 'tblscheduledevents' AND privilege_type = 'INSERT'"
                   "  AND grantee <> current_user LOOP"
                   "  EXECUTE 'GRANT SELECT, INSERT, UPDATE, DELETE ON tblSyncBinding, tblSyncResources, tblSyncEvents TO '"
                   "   || CASE WHEN g = 'PUBLIC' THEN 'PUBLIC' ELSE quote_ident(g) END;"
                   " END LOOP; END $do$");
    }
    case 5:
        return server ? serverHistory() : fileHistory();
    default:
        return {};
    }
}

QStringList stepsAfter(int version, Engine engine)
{
    QStringList statements;
    for (int next = version + 1; next <= kSchemaVersion; ++next)
        statements += stepTo(next, engine);
    return statements;
}

const QString kServerVersionTable = QStringLiteral("CREATE TABLE tblSchemaVersion (version integer NOT NULL)");

// Calendars whose schema could not be brought up to date in this run, with why.
QMutex g_outdatedMutex;
QHash<QString, QString> g_outdated;

void rememberOutdated(const QString &path, const QString &why)
{
    QMutexLocker lock(&g_outdatedMutex);
    g_outdated.insert(path, why);
}

void forgetOutdated(const QString &path)
{
    QMutexLocker lock(&g_outdatedMutex);
    g_outdated.remove(path);
}

QString outdatedReason(const QString &path)
{
    QMutexLocker lock(&g_outdatedMutex);
    return g_outdated.value(path);
}

void refuseNewer(int version, const QString &path)
{
    if (version > kSchemaVersion)
        throw StoreError(StoreError::Reason::Newer, path,
                         QStringLiteral("The calendar's schema is version %1; this Orvenna knows versions up to %2.")
                             .arg(version)
                             .arg(kSchemaVersion));
}

class Runner
{
public:
    Runner(QSqlDatabase &db, Engine engine, const QString &path) : m_query(db), m_engine(engine), m_path(path) {}

    void run(const QString &sql)
    {
        if (!m_query.exec(sql))
            fail();
        m_query.finish();
    }
    // After a failure: the transaction may be gone already.
    void rollBack() { m_query.exec(QStringLiteral("ROLLBACK")); }
    int number(const QString &sql)
    {
        if (!m_query.exec(sql))
            fail();
        const int n = m_query.next() ? m_query.value(0).toInt() : 0;
        m_query.finish();
        return n;
    }
    bool hasVersionTable()
    {
        return number(QStringLiteral("SELECT count(*) FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
                                     " AND tablename = 'tblschemaversion'"))
            == 1;
    }
    // 0: made before versions (or no calendar at all).
    int version()
    {
        if (m_engine == Engine::Sqlite)
            return number(QStringLiteral("PRAGMA user_version"));
        if (!hasVersionTable())
            return 0;
        return number(QStringLiteral("SELECT coalesce(max(version), 0) FROM tblSchemaVersion"));
    }
    bool hasCalendarTables()
    {
        return number(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table'"
                                     " AND lower(name) IN ('tblscheduledevents', 'tblpredefinedevents', 'tblpocs')"))
            == 3;
    }

private:
    [[noreturn]] void fail()
    {
        throw m_engine == Engine::Sqlite ? errorFrom(m_query.lastError(), m_path)
                                         : StoreError(m_query.lastError().databaseText().simplified());
    }

    QSqlQuery m_query;
    Engine m_engine;
    QString m_path;
};

// Whether this copy made the change.
bool migrateFile(Runner &runner)
{
    runner.run(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        // Another copy may have done it while this one waited for the file.
        const int version = runner.version();
        refuseNewer(version, QString());
        if (version < kSchemaVersion) {
            // A file made before versions holds version 1.
            for (const QString &statement : stepsAfter(version == 0 ? 1 : version, Engine::Sqlite))
                runner.run(statement);
            runner.run(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
        }
        runner.run(QStringLiteral("COMMIT"));
        return version < kSchemaVersion;
    } catch (...) {
        runner.rollBack();
        throw;
    }
}

bool migrateServer(QSqlDatabase &db, Runner &runner)
{
    if (!db.transaction())
        throw StoreError(db.lastError().databaseText().simplified());
    try {
        // One copy at a time; a copy stuck holding the lock delays the open, never stops it.
        runner.run(QStringLiteral("SET LOCAL lock_timeout = '10s'"));
        // Not a word about the tables IF NOT EXISTS finds.
        runner.run(QStringLiteral("SET LOCAL client_min_messages = warning"));
        runner.run(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLockKey));
        const int version = runner.version();
        refuseNewer(version, QString());
        if (version < kSchemaVersion) {
            if (!runner.hasVersionTable())
                runner.run(kServerVersionTable);
            for (const QString &statement : stepsAfter(version == 0 ? 1 : version, Engine::Postgres))
                runner.run(statement);
            runner.run(QStringLiteral("DELETE FROM tblSchemaVersion"));
            runner.run(QStringLiteral("INSERT INTO tblSchemaVersion(version) VALUES(%1)").arg(kSchemaVersion));
            // The roles' rights reach the tables this update made, whoever made them.
            runner.run(serverRoleGrants());
        }
        if (!db.commit())
            throw StoreError(db.lastError().databaseText().simplified());
        return version < kSchemaVersion;
    } catch (...) {
        db.rollback();
        throw;
    }
}

} // namespace

QStringList newSchemaStatements(Engine engine)
{
    QStringList statements = stepsAfter(0, engine);
    if (engine == Engine::Sqlite) {
        statements << QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion);
    } else {
        statements << kServerVersionTable
                   << QStringLiteral("INSERT INTO tblSchemaVersion(version) VALUES(%1)").arg(kSchemaVersion);
    }
    return statements;
}

QStringList fileHistoryTriggers()
{
    const QString now = QStringLiteral("strftime('%Y-%m-%d %H:%M:%S', 'now')");
    QStringList statements;
    for (const HistoryTable &t : kHistoryTables) {
        const QString table = QLatin1String(t.table), key = QLatin1String(t.key), name = table.toLower();
        const QString suffix = table.mid(3);
        QStringList differs{QStringLiteral("old.%1 IS NOT new.%1").arg(key)};
        for (const QString &c : t.columns)
            differs << QStringLiteral("old.%1 IS NOT new.%1").arg(c);
        statements << QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS trgHistory%1Insert AFTER INSERT ON main.%2 BEGIN"
                                     " INSERT OR REPLACE INTO tblChangeHistory(tableName, idRow, createdBy, createdAt,"
                                     " changedBy, changedAt) VALUES('%3', new.%4, orvenna_user(), %5, NULL, NULL); END")
                          .arg(suffix, table, name, key, now)
                   << QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS trgHistory%1Update AFTER UPDATE ON main.%2 WHEN %6 BEGIN"
                                     " INSERT INTO tblChangeHistory(tableName, idRow, changedBy, changedAt)"
                                     " VALUES('%3', new.%4, orvenna_user(), %5) ON CONFLICT(tableName, idRow)"
                                     " DO UPDATE SET changedBy = excluded.changedBy, changedAt = excluded.changedAt; END")
                          .arg(suffix, table, name, key, now, differs.join(QStringLiteral(" OR ")))
                   << QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS trgHistory%1Delete AFTER DELETE ON main.%2 BEGIN"
                                     " DELETE FROM tblChangeHistory WHERE tableName = '%3' AND idRow = old.%4; END")
                          .arg(suffix, table, name, key);
    }
    return statements;
}

SchemaUpdate bringUpToDate(QSqlDatabase &db, Engine engine, const QString &path)
{
    Runner runner(db, engine, path);
    try {
        const int version = runner.version();
        refuseNewer(version, path);
        if (version == kSchemaVersion) {
            forgetOutdated(path);
            return SchemaUpdate::Current;
        }
        // A file without the calendar's tables is no calendar: its first
        // statement says so. (The server's open has checked them already.)
        if (engine == Engine::Sqlite && version == 0 && !runner.hasCalendarTables())
            return SchemaUpdate::Current;
        const bool updated = engine == Engine::Sqlite ? migrateFile(runner) : migrateServer(db, runner);
        forgetOutdated(path);
        return updated ? SchemaUpdate::Updated : SchemaUpdate::Current;
    } catch (const StoreError &e) {
        if (e.reason() == StoreError::Reason::Newer)
            throw StoreError(e.reason(), path, e.driverText());
        // The calendar stays readable as it is; what needs the new tables says why.
        rememberOutdated(path, e.description());
        return SchemaUpdate::Behind;
    }
}

void requireExchangeTables(Connection &conn)
{
    const QString why = outdatedReason(conn.path());
    if (why.isEmpty())
        return;
    const QString present = conn.engine() == Engine::Postgres
        ? QStringLiteral("SELECT count(*) AS tables FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
                         " AND tablename IN ('tblimportedevents', 'tblcalendaridentity')")
        : QStringLiteral("SELECT count(*) AS tables FROM sqlite_master WHERE type = 'table'"
                         " AND lower(name) IN ('tblimportedevents', 'tblcalendaridentity')");
    if (conn.execute(present).integer(QStringLiteral("tables")) == 2)
        return;
    throw StoreError(StoreError::Reason::Outdated, conn.path(), why);
}

} // namespace store
