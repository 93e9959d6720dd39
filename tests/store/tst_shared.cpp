// Two copies of the program on one PostgreSQL server: what one saves, the
// other hears about and reads; a dropped connection comes back by itself.

#include "store/ChangeHistory.h"
#include "store/ChangeListener.h"
#include "store/Connection.h"
#include "store/Engine.h"
#include "store/Roles.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <signal.h>

namespace {
const QDate kDay(2026, 12, 6);

QStringList titlesOfDay(const QString &connectionString)
{
    store::Connection conn;
    conn.open(connectionString);
    QStringList titles;
    for (store::RowSet rs = conn.execute(statements::eventsOfDay(kDay)); !rs.eof(); rs.moveNext())
        titles << rs.text("Title");
    return titles;
}
} // namespace

class tst_Shared : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void otherCopyHears_data();
    void otherCopyHears();
    void serverDropsConnections();
    void stalledServerLeavesWindowFree();
    void listenerLateToConnect();
    void serverLostInTransaction_data();
    void serverLostInTransaction();
    void keptConnectionLost_data();
    void keptConnectionLost();
    void closedInTransaction();
    void threadClosesItsConnections();
    void serverSpeaksGerman_data();
    void serverSpeaksGerman();
    void encryptedLink_data();
    void encryptedLink();
    void newdbRoles_data();
    void newdbRoles();
};

void tst_Shared::initTestCase()
{
    TestDatabase::setEngine(store::Engine::Postgres);
    try {
        TestDatabase db;
    } catch (const std::exception &e) {
        QFAIL(qPrintable(QStringLiteral("no PostgreSQL test server: ") + QString::fromUtf8(e.what())));
    }
    // What an address without a host reaches: libpq's default socket folder.
    qputenv("PGHOST", qgetenv("ORVENNA_TEST_PGHOST"));
}

// A server of this test's own that takes only TLS over TCP, on this
// computer's address on its network, with certificates made by openssl in its
// folder (tests/store/pgserver.sh start-tls).
struct TlsServer
{
    QString dir = QStringLiteral("/tmp/orvenna-pgtls-%1").arg(QCoreApplication::applicationPid());
    QString ip;
    int port = 0;
    int downPort = 0; // where nothing listens
    QString failure;

    TlsServer()
    {
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() && !address.isLinkLocal()) {
                ip = address.toString();
                break;
            }
        }
        if (ip.isEmpty()) {
            failure = "this computer has no network address besides loopback";
            return;
        }
        {
            QTcpServer first, second; // both held, so that the ports differ
            first.listen(QHostAddress::Any, 0);
            second.listen(QHostAddress::Any, 0);
            port = first.serverPort();
            downPort = second.serverPort();
        }
        QProcess p;
        p.start("bash", {QFINDTESTDATA("store/pgserver.sh"), "start-tls", dir, QString::number(port), ip});
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            failure = QString::fromLocal8Bit(p.readAllStandardError());
    }
    ~TlsServer() { QProcess::execute("bash", {QFINDTESTDATA("store/pgserver.sh"), "stop", dir}); }
};
std::unique_ptr<TlsServer> g_tlsServer;

// The test database's address with the host left out, as on the server itself.
static QString defaultSocketUrl(const QString &url)
{
    store::ServerAddress a = store::parseServerUrl(url);
    a.host.clear();
    return a.url();
}

// A plain server of this test's own, for what is the whole server's: its roles.
struct RolesServer
{
    QString dir = QStringLiteral("/tmp/orvenna-pgroles-%1").arg(QCoreApplication::applicationPid());
    QString failure;
    RolesServer()
    {
        QProcess p;
        p.start("bash", {QFINDTESTDATA("pgserver.sh"), "start", dir});
        if (!p.waitForFinished(60000) || p.exitCode() != 0)
            failure = QString::fromLocal8Bit(p.readAllStandardError());
    }
    ~RolesServer() { QProcess::execute("bash", {QFINDTESTDATA("pgserver.sh"), "stop", dir}); }
    [[nodiscard]] QString url(const QString &login, const QString &database = QStringLiteral("cal")) const
    {
        store::ServerAddress a;
        a.user = login;
        a.host = dir;
        a.database = database;
        return a.url();
    }
    // The first column of the first row; throws with the server's reason.
    QVariant value(const QString &url, const QString &sql) const
    {
        const QString name = store::openServerConnection(url, false);
        QVariant result;
        QString failure;
        {
            QSqlQuery q(QSqlDatabase::database(name, false));
            if (!q.exec(sql))
                failure = q.lastError().text();
            else if (q.next())
                result = q.value(0);
        }
        store::releaseServerConnection(name, url, false);
        if (!failure.isEmpty()) {
            qWarning("%s: %s", qPrintable(sql), qPrintable(failure));
            throw std::runtime_error(qPrintable(sql + ": " + failure));
        }
        return result;
    }
};
std::unique_ptr<RolesServer> g_rolesServer;

void tst_Shared::cleanupTestCase()
{
    g_tlsServer.reset();
    g_rolesServer.reset();
}

void tst_Shared::otherCopyHears_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("dayAfter"); // titles the listening copy reads for the day
    QTest::addColumn<bool>("defaultSocket"); // the address names no host
    // The row saved and who the calendar says made / changed it ("-": no one), or "none" when it is gone.
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("history");
    const statements::EventValues v{"Sprints", "", "", kDay, QTime(9, 0), kDay, QTime(10, 0), 1};
    const QStringList before{"Warm-up"};
    QTest::newRow("event saved") << statements::insertEvent(v) << "tblscheduledevents" << QStringList{"Warm-up", "Sprints"} << false << 2 << "orvenna / -";
    QTest::newRow("event changed") << statements::updateEvent(v, 1) << "tblscheduledevents" << QStringList{"Sprints"} << false << 1 << "orvenna / orvenna";
    QTest::newRow("event deleted") << statements::deleteEvent(1) << "tblscheduledevents" << QStringList() << false << 1 << "none";
    QTest::newRow("template added") << statements::insertTemplate("Rondo", "") << "tblpredefinedevents" << before << false << 2 << "orvenna / -";
    QTest::newRow("template deleted") << statements::deleteTemplate(1) << "tblpredefinedevents" << before << false << 1 << "none";
    QTest::newRow("staff member changed") << statements::updateStaff("Dana", "", 1) << "tblpocs" << before << false << 1 << "orvenna / orvenna";
    QTest::newRow("staff member deleted") << statements::deleteStaff(1) << "tblpocs" << before << false << 1 << "none";
    QTest::newRow("event saved, default socket") << statements::insertEvent(v) << "tblscheduledevents"
                                                 << QStringList{"Warm-up", "Sprints"} << true << 2 << "orvenna / -";
}

void tst_Shared::otherCopyHears()
{
    QFETCH(QString, statement);
    QFETCH(QString, table);
    QFETCH(QStringList, dayAfter);
    QFETCH(bool, defaultSocket);
    QFETCH(int, key);
    QFETCH(QString, history);
    TestDatabase db;
    db.addTemplate("Passing", "");
    db.addStaff("Marco", "");
    db.addEvent("Warm-up", QDateTime(kDay, QTime(8, 0), Qt::UTC), QDateTime(kDay, QTime(8, 30), Qt::UTC), 1);
    const QString address = defaultSocket ? defaultSocketUrl(db.connectionString()) : db.connectionString();
    QVERIFY2(!defaultSocket || address.contains("@/"), qPrintable(address));

    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(address);
    QVERIFY(listening.isListening());
    QCOMPARE(titlesOfDay(address), QStringList{"Warm-up"});

    store::Connection saving;
    saving.open(address);
    // A copy in a zone far from the server's: the history's times are UTC all the same.
    saving.execute("SET TIME ZONE 'Pacific/Kiritimati'");
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
    saving.execute(statement);
    QTRY_VERIFY(!heard.isEmpty());
    QCOMPARE(heard.takeFirst().at(0).toString(), table);
    QCOMPARE(titlesOfDay(address), dayAfter);
    // The login saved it, at the server's time; the side table is no change to hear of.
    const auto of = table == "tblpocs"               ? store::ChangeHistory::Table::Staff
                    : table == "tblpredefinedevents" ? store::ChangeHistory::Table::Templates
                                                     : store::ChangeHistory::Table::Events;
    const std::optional<store::RowHistory> h = store::ChangeHistory::read(saving, of, key);
    saving.execute("RESET TIME ZONE");
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(2);
    auto one = [&](const QString &who, const QDateTime &at) {
        return who.isEmpty() ? QString("-") : at >= before && at <= after ? who : who + "@" + at.toString(Qt::ISODate);
    };
    QCOMPARE(h ? one(h->createdBy, h->createdAt) + " / " + one(h->changedBy, h->changedAt) : QString("none"), history);
    QTest::qWait(0);
    QVERIFY(heard.isEmpty());
}

void tst_Shared::serverDropsConnections()
{
    TestDatabase db;
    db.addEvent("Warm-up", QDateTime(kDay, QTime(8, 0), Qt::UTC), QDateTime(kDay, QTime(8, 30), Qt::UTC), 1);
    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(db.connectionString());
    QCOMPARE(titlesOfDay(db.connectionString()), QStringList{"Warm-up"}); // leaves a kept connection

    // What a server restart does to every open session.
    db.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
            " WHERE application_name = 'orvenna' AND datname = current_database() AND pid <> pg_backend_pid()");
    // The next command works at once, and the listener comes back on its own
    // and says that anything may have changed.
    QCOMPARE(titlesOfDay(db.connectionString()), QStringList{"Warm-up"});
    QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 8000);
    QCOMPARE(heard.takeFirst().at(0).toString(), QString());
    store::Connection saving;
    saving.open(db.connectionString());
    saving.execute(statements::deleteEvent(1));
    QTRY_VERIFY(!heard.isEmpty());
    QCOMPARE(heard.takeFirst().at(0).toString(), QStringLiteral("tblscheduledevents"));
}

// A server that is up but does not answer holds up only the listener's own
// thread: the window's event loop keeps turning, and once the server answers
// again the listener hears on.
void tst_Shared::stalledServerLeavesWindowFree()
{
    TestDatabase db;
    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(db.connectionString());
    QVERIFY(listening.isListening());
    const pid_t backend = db.scalar("SELECT pid FROM pg_stat_activity WHERE datname = current_database()"
                                    " AND application_name = 'orvenna' AND query LIKE 'LISTEN%'").toInt();
    QVERIFY(backend > 0);
    QCOMPARE(::kill(backend, SIGSTOP), 0);
    struct Resume
    {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{backend};

    // Should the window's thread stop turning its event loop, the server is
    // resumed so that the run ends, as a failure.
    std::atomic<int> turns{0};
    std::atomic<bool> frozen{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(mutex);
        int last = -1;
        while (!ended.wait_for(lock, std::chrono::seconds(2), [&] { return done; })) {
            if (turns == last) {
                frozen = true;
                ::kill(backend, SIGCONT);
                return;
            }
            last = turns;
        }
    });
    QTimer tick;
    tick.setInterval(50);
    connect(&tick, &QTimer::timeout, this, [&turns] { ++turns; });
    tick.start();
    // Longer than the listener's check of its connection takes to come round.
    QTRY_VERIFY_WITH_TIMEOUT(turns >= 100, 30000);
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    ended.notify_all();
    watchdog.join();
    QVERIFY(!frozen);

    ::kill(backend, SIGCONT);
    store::Connection saving;
    saving.open(db.connectionString());
    saving.execute(statements::insertTemplate("Rondo", ""));
    QTRY_VERIFY(heard.contains(QVariantList{QStringLiteral("tblpredefinedevents")}));
}

// A server that takes a connection but is slow to answer it: listen() does not
// wait for it, and once the listener is in, it says that anything may have
// changed, for what changed before went unheard.
void tst_Shared::listenerLateToConnect()
{
    if (!g_tlsServer)
        g_tlsServer = std::make_unique<TlsServer>();
    if (g_tlsServer->ip.isEmpty())
        QSKIP(qPrintable(g_tlsServer->failure));
    QVERIFY2(g_tlsServer->failure.isEmpty(), qPrintable(g_tlsServer->failure));
    // Through its socket, waiting for it as long as it takes.
    const QString url = "postgresql://orvenna@" + QString::fromLatin1(QUrl::toPercentEncoding(g_tlsServer->dir)) + ':'
        + QString::number(g_tlsServer->port) + "/postgres?connect_timeout=60";
    const QString announcing = store::openServerConnection(url, false);
    QFile pidFile(g_tlsServer->dir + "/data/postmaster.pid");
    QVERIFY(pidFile.open(QIODevice::ReadOnly));
    const pid_t postmaster = pid_t(pidFile.readLine().trimmed().toInt());
    QVERIFY(postmaster > 0);
    // Sessions already open go on; a new one waits until the server goes on.
    QCOMPARE(::kill(postmaster, SIGSTOP), 0);
    struct Resume
    {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{postmaster};

    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(url);
    QVERIFY(!listening.isListening());
    {
        QSqlQuery q(QSqlDatabase::database(announcing, false));
        QVERIFY(q.exec(QStringLiteral("NOTIFY %1, 'tblpocs'").arg(store::kChangeChannel)));
    }
    ::kill(postmaster, SIGCONT);
    QTRY_VERIFY_WITH_TIMEOUT(listening.isListening(), 30000);
    QTRY_VERIFY(heard.contains(QVariantList{QString()}));
    store::releaseServerConnection(announcing, url, false);
}

void tst_Shared::serverLostInTransaction_data()
{
    QTest::addColumn<bool>("atCommit"); // else at the next statement
    QTest::addColumn<bool>("kept");     // on a kept connection, lost before the first statement
    QTest::newRow("at the commit") << true << false;
    QTest::newRow("at a statement") << false << false;
    QTest::newRow("at the first statement, kept connection") << false << true;
}

// A server stopped during a write (an import): the plain reason naming the
// server and what to do, the driver's words as details, and nothing written.
void tst_Shared::serverLostInTransaction()
{
    QFETCH(bool, atCommit);
    QFETCH(bool, kept);
    TestDatabase db;
    store::Connection conn;
    if (kept) {
        conn.open(db.connectionString());
        conn.close();
    }
    conn.open(db.connectionString());
    conn.beginTransaction();
    if (!kept)
        conn.execute(statements::insertTemplate("Rondo", ""));
    // What a fast shutdown does to every session.
    db.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
            " WHERE application_name = 'orvenna' AND datname = current_database() AND pid <> pg_backend_pid()");
    try {
        if (!atCommit)
            conn.execute(statements::insertTemplate("Passing", ""));
        conn.commitTransaction();
        QFAIL("the write went through");
    } catch (const store::StoreError &e) {
        QCOMPARE(e.description(), QStringLiteral("The connection to the server of the shared calendar %1 was lost. "
                                                 "Check that the server is running and that this computer can reach "
                                                 "it, then try again.")
                                      .arg(db.connectionString()));
        QVERIFY2(e.details().contains("terminating connection") || e.details().contains("server closed the connection"),
                 qPrintable(e.details()));
        QVERIFY2(!e.details().contains("()") && !e.details().contains('\n'), qPrintable(e.details()));
    }
    conn.rollbackTransaction();
    conn.close();
    QCOMPARE(db.count("tblPredefinedEvents"), 0);
}

void tst_Shared::serverSpeaksGerman_data()
{
    QTest::addColumn<QStringList>("setup"); // run first, as the server's superuser; {db}: this test's database
    QTest::addColumn<bool>("serverWide"); // the whole server speaks German, also before a login
    QTest::addColumn<QString>("url");     // empty: this test's database as orvenna
    QTest::addColumn<QString>("statement"); // empty: only the open
    QTest::addColumn<QString>("told");
    QTest::addColumn<QString>("german"); // the server's own words, kept as the details
    const QString insert = statements::insertTemplate("Rondo", "");
    QTest::newRow("login may only read")
        << QStringList{"DO $$ BEGIN CREATE ROLE reader LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$",
                       "GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader"}
        << false << TestDatabase::serverUrl(QString(), "reader") << insert << "Your login may only read the shared calendar"
        << "keine Berechtigung";
    QTest::newRow("rows held by another copy")
        << QStringList{"ALTER DATABASE {db} SET lock_timeout = '50ms'"} << false << QString()
        << statements::updateTemplate("Rondo", "", 1) << "Another copy of Orvenna was changing the same rows" << "Sperre";
    QTest::newRow("server takes no changes")
        << QStringList{"ALTER DATABASE {db} SET default_transaction_read_only = on"} << false << QString() << insert
        << "takes no changes at the moment" << "Read-Only-Transaktion";
    QTest::newRow("key already taken")
        << QStringList{"SELECT setval(pg_get_serial_sequence('tblpredefinedevents', 'idpredefinedevent'), 1, false)"} << false
        << QString() << insert << "already holds a row with the key" << "doppelter Schl";
    QTest::newRow("connection lost") << QStringList() << false << QString() << insert << "was lost" << "Verbindung wird abgebrochen";
    QTest::newRow("login refused") << QStringList() << true << TestDatabase::serverUrl(QString(), "intruder") << QString()
                                   << "refused to open the database" << "Rolle";
    QTest::newRow("no such database") << QStringList() << true << TestDatabase::serverUrl("nocal") << QString()
                                      << "refused to open the database \"nocal\"" << "Datenbank";
}

// A club's server set to German: the plain reason comes from what happened,
// not from reading the server's words.
void tst_Shared::serverSpeaksGerman()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, serverWide);
    QFETCH(QString, url);
    QFETCH(QString, statement);
    QFETCH(QString, told);
    QFETCH(QString, german);
    TestDatabase db;
    db.addTemplate("Passing", "");
    const QString name = db.scalar("SELECT current_database()").toString();
    struct Reset
    {
        TestDatabase &db;
        QString name;
        ~Reset()
        {
            // From another database: this one may refuse writes by now.
            const QString url = TestDatabase::serverUrl("postgres");
            const QString other = store::openServerConnection(url, false);
            {
                QSqlQuery q(QSqlDatabase::database(other, false));
                for (const QString &sql : {"ALTER DATABASE " + name + " RESET ALL", QStringLiteral("ALTER SYSTEM RESET lc_messages"),
                                           QStringLiteral("SELECT pg_reload_conf()")}) {
                    if (!q.exec(sql))
                        qCritical("The test server stays set to German: %s", qPrintable(q.lastError().text()));
                }
            }
            store::releaseServerConnection(other, url, false);
            store::dropIdleServerConnections();
        }
    } reset{db, name};
    try {
        db.exec("SET lc_messages = 'de_DE.UTF-8'");
    } catch (const std::exception &e) {
        QSKIP(qPrintable("The test server has no German locale (tests/store/pgserver.sh makes one with localedef): "
                         + QString::fromUtf8(e.what())));
    }
    if (serverWide) {
        db.exec("ALTER SYSTEM SET lc_messages = 'de_DE.UTF-8'");
        db.exec("SELECT pg_reload_conf()");
        QTRY_COMPARE(db.scalar("SHOW lc_messages").toString(), "de_DE.UTF-8"); // each a new session
    }
    db.exec("ALTER DATABASE " + name + " SET lc_messages = 'de_DE.UTF-8'");
    for (const QString &step : setup)
        db.exec(QString(step).replace("{db}", name));
    if (url.isEmpty())
        url = db.connectionString();
    store::dropIdleServerConnections();

    std::optional<store::Connection> holder; // another copy in the middle of changing the template
    if (QTest::currentDataTag() == QLatin1String("rows held by another copy")) {
        holder.emplace();
        holder->open(url);
        holder->beginTransaction();
        holder->execute(statements::updateTemplate("Passing", "mine", 1));
    }
    store::Connection conn;
    try {
        conn.open(url);
        QVERIFY2(!statement.isEmpty(), "opened");
        if (QTest::currentDataTag() == QLatin1String("connection lost"))
            db.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                    " WHERE application_name = 'orvenna' AND datname = current_database() AND pid <> pg_backend_pid()");
        conn.beginTransaction(); // a lost connection is not opened afresh inside one
        conn.execute(statement);
        conn.commitTransaction();
        QFAIL("the write went through");
    } catch (const store::StoreError &e) {
        QVERIFY2(e.description().contains(told), qPrintable(e.description()));
        const QString details = statement.isEmpty() ? e.description() : e.details();
        QVERIFY2(details.contains(german), qPrintable(details));
    }
    conn.rollbackTransaction();
    if (holder)
        holder->rollbackTransaction();
}

void tst_Shared::keptConnectionLost_data()
{
    QTest::addColumn<bool>("afterCommit"); // else the server dropped the kept connection before
    QTest::addColumn<QString>("told");     // empty: saved without a word
    QTest::newRow("dropped while kept") << false << QString();
    QTest::newRow("reply lost after the commit") << true << "was lost";
}

// A kept connection that is gone: a save is sent on a fresh one, but one whose
// reply was lost after it had landed is not sent again.
void tst_Shared::keptConnectionLost()
{
    QFETCH(bool, afterCommit);
    QFETCH(QString, told);
    TestDatabase db;
    const QString url = db.connectionString();
    if (afterCommit) {
        // The row lands through another session, which commits it; then this
        // session ends before it answers.
        db.exec("CREATE EXTENSION IF NOT EXISTS dblink");
        db.exec("DROP SEQUENCE IF EXISTS reply_lost");
        db.exec("CREATE SEQUENCE reply_lost");
        db.exec(QStringLiteral("CREATE OR REPLACE FUNCTION commit_then_hang_up() RETURNS trigger LANGUAGE plpgsql AS $$ "
                               "BEGIN IF nextval('reply_lost') = 1 THEN "
                               "PERFORM dblink_exec(%1, format('INSERT INTO tblPredefinedEvents(title, Description) "
                               "VALUES(%L, %L)', NEW.title, NEW.description)); "
                               "PERFORM pg_terminate_backend(pg_backend_pid()); PERFORM pg_sleep(30); END IF; "
                               "RETURN NEW; END $$")
                    .arg("'host=" + qEnvironmentVariable("ORVENNA_TEST_PGHOST") + " user=orvenna dbname=' || current_database()"));
        db.exec("CREATE TRIGGER commit_then_hang_up BEFORE INSERT ON tblPredefinedEvents FOR EACH ROW "
                "EXECUTE FUNCTION commit_then_hang_up()");
    }
    store::Connection conn;
    conn.open(url);
    conn.close(); // kept
    if (!afterCommit)
        db.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                " WHERE application_name = 'orvenna' AND datname = current_database() AND pid <> pg_backend_pid()");
    conn.open(url);
    try {
        conn.execute(statements::insertTemplate("Rondo", ""));
        QCOMPARE(QString(), told);
    } catch (const store::StoreError &e) {
        QVERIFY2(!told.isEmpty() && e.description().contains(told), qPrintable(e.description()));
    }
    conn.close();
    QCOMPARE(db.count("tblPredefinedEvents"), 1);
}

// A connection closed half way through a write is not kept with the write
// still open: the next operation would land inside it, never to be committed.
void tst_Shared::closedInTransaction()
{
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    conn.beginTransaction();
    conn.execute(statements::insertTemplate("Rondo", ""));
    conn.close();
    store::Connection next;
    next.open(db.connectionString());
    next.execute(statements::insertTemplate("Passing", ""));
    next.close();
    QCOMPARE(db.scalar("SELECT string_agg(title, ',') FROM tblPredefinedEvents").toString(), QStringLiteral("Passing"));
}

// A thread that ends takes the connections it kept with it.
void tst_Shared::threadClosesItsConnections()
{
    TestDatabase db;
    const QString sessions = "SELECT count(*) FROM pg_stat_activity WHERE application_name = 'orvenna'"
                             " AND datname = current_database()";
    QCOMPARE(db.scalar(sessions).toInt(), 0);
    QString failure;
    std::thread worker([&] {
        try {
            store::Connection conn;
            conn.open(db.connectionString());
            (void)conn.execute(statements::allTemplates());
        } catch (const store::StoreError &e) {
            failure = e.description();
        }
    });
    worker.join();
    QCOMPARE(failure, QString());
    QTRY_COMPARE(db.scalar(sessions).toInt(), 0);
}

void tst_Shared::encryptedLink_data()
{
    QTest::addColumn<QString>("url"); // {ip} {port} {down} {tls}: the TLS server's
    QTest::addColumn<QString>("told"); // empty: opens, encrypted
    QTest::addColumn<bool>("verified"); // as the Shared Calendar dialog says
    const QString prove = "could not prove that it is the server the address names";
    QTest::newRow("checked against the club's CA") << "postgresql://orvenna@{ip}:{port}/postgres?sslrootcert={tls}/ca.crt"
                                                   << QString() << true;
    QTest::newRow("by default against the system's certificates") << "postgresql://orvenna@{ip}:{port}/postgres"
                                                                   << prove << true;
    QTest::newRow("another CA") << "postgresql://orvenna@{ip}:{port}/postgres?sslrootcert={tls}/other-ca.crt" << prove << true;
    QTest::newRow("a name the certificate is not for")
        << "postgresql://orvenna@127.0.0.1:{port}/postgres?sslmode=verify-full&sslrootcert={tls}/ca.crt" << prove << true;
    QTest::newRow("a name the certificate is for")
        << "postgresql://orvenna@localhost:{port}/postgres?sslmode=verify-full&sslrootcert={tls}/ca.crt" << QString() << true;
    QTest::newRow("lowered to encryption only") << "postgresql://orvenna@{ip}:{port}/postgres?sslmode=require" << QString()
                                                << false;
    QTest::newRow("lowered to no encryption") << "postgresql://orvenna@{ip}:{port}/postgres?sslmode=disable"
                                              << "takes only encrypted connections" << false;
    QTest::newRow("the first of two hosts down")
        << "postgresql://orvenna@{ip}:{down},{ip}:{port}/postgres?sslrootcert={tls}/ca.crt&connect_timeout=5" << QString()
        << true;
}

void tst_Shared::encryptedLink()
{
    QFETCH(QString, url);
    QFETCH(QString, told);
    QFETCH(bool, verified);
    if (!g_tlsServer)
        g_tlsServer = std::make_unique<TlsServer>();
    const TlsServer &server = *g_tlsServer;
    if (server.ip.isEmpty())
        QSKIP(qPrintable(server.failure));
    QVERIFY2(server.failure.isEmpty(), qPrintable(server.failure));
    url.replace("{ip}", server.ip).replace("{port}", QString::number(server.port))
        .replace("{down}", QString::number(server.downPort)).replace("{tls}", server.dir + "/tls");
    QCOMPARE(store::isVerifiedLink(url), verified);
    try {
        const QString name = store::openServerConnection(url, false);
        bool encrypted = false;
        {
            QSqlQuery q(QSqlDatabase::database(name, false));
            QVERIFY(q.exec("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()") && q.next());
            encrypted = q.value(0).toBool();
        }
        store::releaseServerConnection(name, url, false);
        QVERIFY2(told.isEmpty(), "opened");
        QVERIFY(encrypted);
    } catch (const store::StoreError &e) {
        QVERIFY2(!told.isEmpty() && e.description().contains(told), qPrintable(e.description()));
    }
}

void tst_Shared::newdbRoles_data()
{
    QTest::addColumn<QStringList>("setup"); // as the server's superuser, before the tool runs
    QTest::addColumn<QString>("login");     // the tool's
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");
    const QString owner = "ALTER DATABASE cal OWNER TO keeper";
    QTest::newRow("a superuser makes both roles") << QStringList() << "orvenna" << 0 << "";
    QTest::newRow("a login that may create roles") << QStringList{"CREATE ROLE keeper LOGIN CREATEROLE", owner} << "keeper"
                                                   << 0 << "";
    QTest::newRow("one of them there already") << QStringList{"CREATE ROLE orvenna_reader NOLOGIN"} << "orvenna" << 0 << "";
    QTest::newRow("both there, a login that may not create roles")
        << QStringList{"CREATE ROLE orvenna_editor NOLOGIN", "CREATE ROLE orvenna_reader NOLOGIN", "CREATE ROLE keeper LOGIN", owner}
        << "keeper" << 0 << "";
    QTest::newRow("missing, a login that may not create roles")
        << QStringList{"CREATE ROLE orvenna_reader NOLOGIN", "CREATE ROLE keeper LOGIN", owner} << "keeper" << 1
        << "orvenna-newdb: Could not create the tables on {url}: the login keeper may not create the roles orvenna_editor "
           "and orvenna_reader. Run orvenna-newdb --database as a login that may (a superuser, or one with CREATEROLE), or "
           "have one make them first: CREATE ROLE orvenna_editor NOLOGIN; CREATE ROLE orvenna_reader NOLOGIN;\n";
}

// orvenna-newdb --database makes the roles a login is given (GRANT
// orvenna_reader TO coach2), with their rights on every table and sequence,
// also on the tables a later version of the schema makes.
void tst_Shared::newdbRoles()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, login);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    if (!g_rolesServer)
        g_rolesServer = std::make_unique<RolesServer>();
    const RolesServer &server = *g_rolesServer;
    QVERIFY2(server.failure.isEmpty(), qPrintable(server.failure));
    const QString admin = server.url("orvenna", "postgres");
    store::dropIdleServerConnections();
    for (const char *sql : {"DROP DATABASE IF EXISTS cal",
                            "DROP ROLE IF EXISTS coach1, coach2, coach3, coach4, keeper, updater, orvenna_editor, orvenna_reader",
                            "CREATE DATABASE cal"})
        server.value(admin, sql);
    for (const QString &sql : setup)
        server.value(admin, sql);

    QProcess tool;
    tool.start(QCoreApplication::applicationDirPath() + "/orvenna-newdb", {"--database", server.url(login)});
    QVERIFY(tool.waitForFinished(30000));
    const QString errors = QString::fromLocal8Bit(tool.readAllStandardError());
    QCOMPARE(errors, QString(told).replace("{url}", server.url(login)));
    QCOMPARE(tool.exitCode(), exitCode);
    const QString cal = server.url("orvenna");
    if (exitCode != 0) {
        // All or nothing: no tables without the roles.
        QCOMPARE(server.value(cal, "SELECT count(*) FROM pg_tables WHERE schemaname = 'public'").toInt(), 0);
        return;
    }
    QCOMPARE(server.value(admin, "SELECT string_agg(rolname || ' ' || rolcanlogin, ', ' ORDER BY rolname) FROM pg_roles"
                                 " WHERE rolname LIKE 'orvenna\\_%'").toString(),
             "orvenna_editor false, orvenna_reader false");

    // Every table and sequence: the reader reads, the editor also writes (the schema's version aside).
    auto count = [&](const QString &where) {
        return server.value(cal, "SELECT count(*) FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace"
                                 " WHERE n.nspname = 'public' AND " + where).toInt();
    };
    const auto tableRight = [](const char *role, const char *right) {
        return QStringLiteral("has_table_privilege('%1', c.oid, '%2')").arg(role, right);
    };
    auto checkRights = [&]() {
        QVERIFY(count("c.relkind = 'r'") >= 7);
        QCOMPARE(count("c.relkind = 'r' AND NOT " + tableRight("orvenna_reader", "SELECT")), 0);
        QCOMPARE(count("c.relkind = 'r' AND (" + tableRight("orvenna_reader", "INSERT") + " OR "
                       + tableRight("orvenna_reader", "UPDATE") + " OR " + tableRight("orvenna_reader", "DELETE") + ")"), 0);
        QCOMPARE(count("c.relkind = 'r' AND c.relname <> 'tblschemaversion' AND NOT (" + tableRight("orvenna_editor", "SELECT")
                       + " AND " + tableRight("orvenna_editor", "INSERT") + " AND " + tableRight("orvenna_editor", "UPDATE")
                       + " AND " + tableRight("orvenna_editor", "DELETE") + ")"), 0);
        QCOMPARE(count("c.relname = 'tblschemaversion' AND " + tableRight("orvenna_editor", "SELECT") + " AND NOT "
                       + tableRight("orvenna_editor", "INSERT")), 1);
        QVERIFY(count("c.relkind = 'S'") >= 3);
        QCOMPARE(count("CASE WHEN c.relkind = 'S' THEN NOT has_sequence_privilege('orvenna_editor', c.oid, 'USAGE') END"), 0);
    };
    checkRights();
    if (QTest::currentTestFailed())
        return;

    // Logins given the roles.
    server.value(admin, "CREATE ROLE coach1 LOGIN IN ROLE orvenna_editor");
    server.value(admin, "CREATE ROLE coach2 LOGIN");
    server.value(admin, "GRANT orvenna_reader TO coach2");
    QVERIFY(store::loginMayWrite(server.url("coach1")));
    QVERIFY(!store::loginMayWrite(server.url("coach2")));
    QVERIFY(store::loginMayWrite(server.url("orvenna")));
    // Less than every right on the three tables is reading only.
    server.value(admin, "CREATE ROLE coach3 LOGIN");
    server.value(cal, "GRANT SELECT, INSERT, UPDATE ON ALL TABLES IN SCHEMA public TO coach3");
    QVERIFY(!store::loginMayWrite(server.url("coach3")));
    server.value(admin, "CREATE ROLE coach4 LOGIN IN ROLE orvenna_reader");
    server.value(cal, "GRANT INSERT, UPDATE, DELETE ON tblScheduledEvents, tblPOCs TO coach4");
    QVERIFY(!store::loginMayWrite(server.url("coach4")));
    QVERIFY(store::loginMayWrite(QStringLiteral("DBQ=/nonexistent/eventDB.mdb")));
    {
        store::Connection editor;
        editor.open(server.url("coach1"));
        editor.execute(statements::insertStaff("Dana", ""));
        editor.execute(statements::insertTemplate("Rondo", ""));
        editor.execute(statements::insertEvent({"Planned", "", "", kDay, QTime(9, 0), kDay, QTime(10, 0), 1}));
        QCOMPARE(editor.lastInsertId(), 1);
    }
    QCOMPARE(titlesOfDay(server.url("coach2")), QStringList{"Planned"});
    try {
        store::Connection reader;
        reader.open(server.url("coach2"));
        reader.execute(statements::insertTemplate("Sprints", ""));
        QFAIL("the reader wrote");
    } catch (const store::StoreError &e) {
        QVERIFY2(e.description().startsWith("Your login may only read the shared calendar"), qPrintable(e.description()));
    }

    // A later version's tables, made by another login than the tool's: the roles' rights reach them too.
    server.value(admin, "CREATE ROLE updater LOGIN SUPERUSER");
    server.value(cal, "DROP TABLE tblImportedEvents, tblCalendarIdentity");
    server.value(cal, "UPDATE tblSchemaVersion SET version = 1");
    store::dropIdleServerConnections();
    {
        store::Connection update;
        update.open(server.url("updater"));
    }
    QCOMPARE(server.value(cal, "SELECT version FROM tblSchemaVersion").toInt(), store::kSchemaVersion);
    QCOMPARE(server.value(cal, "SELECT tableowner FROM pg_tables WHERE tablename = 'tblimportedevents'").toString(), "updater");
    checkRights();
}

#include "support/TestMain.h"
ORVENNA_TEST_GUILESS_MAIN(tst_Shared)
#include "tst_shared.moc"
