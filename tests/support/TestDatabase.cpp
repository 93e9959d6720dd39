#include "support/TestDatabase.h"
#include "support/TestMain.h"

#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "support/FakeModal.h"
#include "support/FakePrompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <stdexcept>

namespace {
const QString kRaw = QStringLiteral("testdatabase-raw");
store::Engine g_engine = store::Engine::Sqlite;

QString processDatabase()
{
    return QStringLiteral("orvenna_t%1").arg(QCoreApplication::applicationPid());
}

template <typename F>
auto withRaw(const QString &path, F f)
{
    struct Remover
    {
        ~Remover() { QSqlDatabase::removeDatabase(kRaw); }
    } remover;
    const bool server = store::isServerUrl(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(server ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), kRaw);
    if (server) {
        const store::ServerAddress a = store::parseServerUrl(path);
        db.setHostName(a.host);
        db.setUserName(a.user);
        db.setDatabaseName(a.database);
        db.setConnectOptions(QStringLiteral("options=-cclient_min_messages=warning"));
    } else {
        db.setDatabaseName(path);
    }
    if (!db.open())
        throw std::runtime_error(db.lastError().text().toStdString());
    QSqlQuery q(db);
    // The tests' writes stand for another copy of the program, which keeps history.
    if (!server && q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'tblChangeHistory'")) && q.next()) {
        q.finish();
        for (const QString &trigger : store::fileHistoryTriggers())
            q.exec(trigger);
    }
    q.finish();
    return f(q);
}

void rawExec(const QString &target, const QString &sql)
{
    withRaw(target, [&](QSqlQuery &q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return 0;
    });
}

// This process's database on the test server, made once, emptied per use.
void resetServerDatabase(bool withTables)
{
    static bool made = false;
    if (!made) {
        rawExec(TestDatabase::serverUrl(QStringLiteral("postgres")),
                QStringLiteral("DROP DATABASE IF EXISTS %1").arg(processDatabase()));
        rawExec(TestDatabase::serverUrl(QStringLiteral("postgres")), QStringLiteral("CREATE DATABASE %1").arg(processDatabase()));
        made = true;
    }
    const QString url = TestDatabase::serverUrl();
    // Kept connections of the store would still see the dropped tables' plans.
    store::dropIdleServerConnections();
    rawExec(url, QStringLiteral("DROP TABLE IF EXISTS tblScheduledEvents, tblPredefinedEvents, tblPOCs, tblImportedEvents, tblCalendarIdentity, tblSchemaVersion, tblEventSearch, tblChangeHistory;"
                                "DROP FUNCTION IF EXISTS orvenna_announce_change()"));
    if (withTables)
        store::createDatabase(url);
}
} // namespace

void TestDatabase::setEngine(store::Engine engine) { g_engine = engine; }
store::Engine TestDatabase::engine() { return g_engine; }

QString TestDatabase::serverUrl(const QString &database, const QString &user)
{
    const QString host = qEnvironmentVariable("ORVENNA_TEST_PGHOST");
    if (host.isEmpty())
        throw std::runtime_error("ORVENNA_TEST_PGHOST is not set: run the test through ctest, which starts the test "
                                 "server (tests/store/pgserver.sh start DIR), or set it to that DIR");
    store::ServerAddress a;
    a.user = user;
    a.host = host;
    a.database = database.isEmpty() ? processDatabase() : database;
    return a.url();
}

int TestDatabase::runOnEachEngine(QObject *test, int argc, char **argv)
{
    int failures = 0;
    for (const store::Engine engine : {store::Engine::Sqlite, store::Engine::Postgres}) {
        setEngine(engine);
        if (engine == store::Engine::Postgres) {
            qInfo("=== The same tests on PostgreSQL");
            try {
                rawExec(serverUrl(QStringLiteral("postgres")), QStringLiteral("SELECT 1"));
            } catch (const std::exception &e) {
                qCritical("FAIL: no PostgreSQL test server: %s", e.what());
                ++failures;
                continue;
            }
        }
        failures += runTestFunctions(*test, argc, argv);
    }
    setEngine(store::Engine::Sqlite);
    return failures;
}

TestDatabase::TestDatabase(bool createFile)
    : m_prompt(std::make_unique<FakePrompt>()), m_modal(std::make_unique<FakeModal>())
{
    if (g_engine == store::Engine::Postgres)
        resetServerDatabase(createFile);
    else if (createFile)
        store::createDatabase(path());
    services.programFolder = m_dir.path();
    if (g_engine == store::Engine::Postgres)
        services.database = serverUrl();
    services.prompt = m_prompt.get();
    services.modal = m_modal.get();
}

TestDatabase::~TestDatabase() = default;

QString TestDatabase::folder() const { return m_dir.path(); }
QString TestDatabase::path() const
{
    return g_engine == store::Engine::Postgres ? serverUrl() : m_dir.filePath(QStringLiteral("eventDB.mdb"));
}

QString TestDatabase::connectionString() const
{
    return g_engine == store::Engine::Postgres ? serverUrl() : store::connectionStringFor(folder());
}

void TestDatabase::exec(const QString &sql)
{
    withRaw(path(), [&](QSqlQuery &q) {
        if (!q.exec(sql))
            throw std::runtime_error((sql + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return 0;
    });
}

QVariant TestDatabase::scalar(const QString &sql)
{
    return withRaw(path(), [&](QSqlQuery &q) {
        if (!q.exec(sql) || !q.next())
            throw std::runtime_error((sql + QStringLiteral(": ") + q.lastError().text()).toStdString());
        return q.value(0);
    });
}

int TestDatabase::count(const QString &table)
{
    return scalar(QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

namespace {
QString quoted(const QString &s)
{
    QString t = s;
    t.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}
} // namespace

int TestDatabase::addTemplate(const QString &title, const QString &description)
{
    exec(QStringLiteral("INSERT INTO tblPredefinedEvents(title, Description) VALUES(%1, %2)")
             .arg(quoted(title), quoted(description)));
    return scalar(QStringLiteral("SELECT max(idPredefinedEvent) FROM tblPredefinedEvents")).toInt();
}

int TestDatabase::addStaff(const QString &name, const QString &notes)
{
    exec(QStringLiteral("INSERT INTO tblPOCs(pocName, pocDescription) VALUES(%1, %2)").arg(quoted(name), quoted(notes)));
    return scalar(QStringLiteral("SELECT max(idPOC) FROM tblPOCs")).toInt();
}

int TestDatabase::addEvent(const QString &title, const QDateTime &start, const QDateTime &end, int staffId,
                           const QString &description, const QString &notes)
{
    exec(QStringLiteral("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                        "VALUES(%1, %2, %3, %4, %5, %6)")
             .arg(quoted(title), quoted(description), quoted(notes), quoted(store::toStored(start)),
                  quoted(store::toStored(end)), QString::number(staffId)));
    return scalar(QStringLiteral("SELECT max(idScheduledEvent) FROM tblScheduledEvents")).toInt();
}
