#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/ServerConnection.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using store::StoreError;

class tst_Store : public QObject
{
    Q_OBJECT

private slots:
    void connectionString();
    void serverUrls_data();
    void serverUrls();
    void dialect_data();
    void dialect();
    void dayQueryBounds_data();
    void dayQueryBounds();
    void textsRoundTrip_data();
    void textsRoundTrip();
    void reads_data();
    void reads();
    void openFailures_data();
    void openFailures();
    void largeIds();
};

void tst_Store::connectionString()
{
    const QString cs = store::connectionStringFor(QStringLiteral("/opt/orvenna/"));
    QCOMPARE(cs, QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=") + QDir::toNativeSeparators("/opt/orvenna")
                     + QDir::separator() + QStringLiteral("eventDB.mdb;"));
    // A folder with a ';' of its own still yields the whole path.
    QCOMPARE(store::databasePathOf(store::connectionStringFor(QStringLiteral("/tmp/a;b"))), QStringLiteral("/tmp/a;b/eventDB.mdb"));
}

void tst_Store::serverUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed"); // user|host|port|database, or the reason it is refused
    QTest::newRow("host and port") << "postgresql://coach@db.club.org:6543/calendar" << "coach|db.club.org|6543|calendar";
    QTest::newRow("default port") << "postgresql://coach@db/calendar" << "coach|db|5432|calendar";
    QTest::newRow("socket folder") << "postgresql://coach@%2Fvar%2Frun%2Fpostgresql/cal" << "coach|/var/run/postgresql|5432|cal";
    QTest::newRow("ipv6") << "postgres://coach@[::1]:5433/cal" << "coach|::1|5433|cal";
    QTest::newRow("encoded user") << "postgresql://d%40na@db/cal" << "d@na|db|5432|cal";
    QTest::newRow("password") << "postgresql://coach:secret@db/cal" << "pgpass";
    QTest::newRow("no user") << "postgresql://db/cal" << "no user";
    QTest::newRow("no database") << "postgresql://coach@db/" << "no database";
    QTest::newRow("bad port") << "postgresql://coach@db:99999/cal" << "no valid port";
    QTest::newRow("options") << "postgresql://coach@db/cal?sslmode=disable" << "after the database";
    QTest::newRow("file") << "/home/coach/eventDB.mdb" << "not a PostgreSQL address";
}

void tst_Store::serverUrls()
{
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    try {
        const store::ServerAddress a = store::parseServerUrl(url);
        QCOMPARE(QStringList({a.user, a.host, QString::number(a.port), a.database}).join('|'), parsed);
        // Written back, it reads the same.
        const store::ServerAddress again = store::parseServerUrl(a.url());
        QCOMPARE(QStringList({again.user, again.host, QString::number(again.port), again.database}).join('|'), parsed);
    } catch (const StoreError &e) {
        QVERIFY2(e.description().contains(parsed), qPrintable(e.description()));
    }
    // A URL chooses the engine and is what the windows name.
    const QString cs = store::connectionStringFor(QStringLiteral("/opt/orvenna"), url);
    QCOMPARE(store::engineOf(cs), url.startsWith("postgres") ? store::Engine::Postgres : store::Engine::Sqlite);
    QCOMPARE(store::databasePathOf(cs), url.startsWith("postgres") ? url : QString());
}

void tst_Store::dialect_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected"); // empty: a malformed literal
    QTest::newRow("minutes") << "x = #3/14/2007 14:30#" << "x = '2007-03-14 14:30:00'";
    QTest::newRow("seconds") << "BETWEEN #12/5/2026 00:00:00# AND #12/5/2026 23:59:59#"
                             << "BETWEEN '2026-12-05 00:00:00' AND '2026-12-05 23:59:59'";
    QTest::newRow("date only") << "#1/2/2027#" << "'2027-01-02 00:00:00'";
    QTest::newRow("leap day") << "#2/29/2028 7:05#" << "'2028-02-29 07:05:00'";
    QTest::newRow("hash inside text") << "VALUES('Drill #3 at #1', #1/1/2026 09:00#)"
                                      << "VALUES('Drill #3 at #1', '2026-01-01 09:00:00')";
    QTest::newRow("doubled quote stays inside") << "'it''s #1' #1/1/2026 09:00#" << "'it''s #1' '2026-01-01 09:00:00'";
    for (const char *bad : {"#13/1/2007 10:00#", "#2/30/2026 10:00#", "#3/14/07 10:00#", "#3/14/2007 25:00#",
                            "#3/14/2007 10:5#", "#3/14/2007 10:05 PM#", "#today#", "x = #3/14/2007", "#14.3.2007 10:00#"})
        QTest::newRow(bad) << QString::fromLatin1(bad) << QString();
}

void tst_Store::dialect()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    if (!expected.isEmpty()) {
        if (TestDatabase::engine() == store::Engine::Postgres)
            expected.replace(QRegularExpression("('\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d')"), "TIMESTAMP \\1");
        QCOMPARE(store::toEngine(statement, TestDatabase::engine()), expected);
        return;
    }
    // Never a wrong date: a failure with a description, and nothing written.
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    try {
        conn.execute(QStringLiteral("INSERT INTO tblScheduledEvents(EventTime) VALUES(") + statement + ")");
        QFAIL("accepted");
    } catch (const StoreError &e) {
        QVERIFY(e.description().contains(QStringLiteral("date")));
    }
    QCOMPARE(db.count("tblScheduledEvents"), 0);
}

void tst_Store::dayQueryBounds_data()
{
    QTest::addColumn<QTime>("time");
    QTest::addColumn<int>("dayOffset");
    QTest::addColumn<bool>("listed");
    QTest::newRow("midnight") << QTime(0, 0) << 0 << true;
    QTest::newRow("last minute") << QTime(23, 59) << 0 << true;
    QTest::newRow("last second") << QTime(23, 59, 59) << 0 << true;
    QTest::newRow("next day midnight") << QTime(0, 0) << 1 << false;
    QTest::newRow("day before, last minute") << QTime(23, 59) << -1 << false;
}

void tst_Store::dayQueryBounds()
{
    QFETCH(QTime, time);
    QFETCH(int, dayOffset);
    QFETCH(bool, listed);
    TestDatabase db;
    const QDate day(2007, 3, 14);
    const QDateTime start(day.addDays(dayOffset), time, Qt::UTC);
    db.addEvent("e", start, start, 1);
    store::Connection conn;
    conn.open(db.connectionString());
    QCOMPARE(!conn.execute(statements::eventsOfDay(day)).eof(), listed);
}

void tst_Store::textsRoundTrip_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("apostrophe") << "Coach's drill" << "Coach s drill";
    QTest::newRow("sql fragment") << "x'); DROP TABLE tblPOCs; --" << "x ); DROP TABLE tblPOCs; --";
    QTest::newRow("hash and date") << "Drill #3 at #1/2/2026 10:00#" << "Drill #3 at #1/2/2026 10:00#";
    QTest::newRow("line breaks") << "one\r\ntwo\nthree\rfour" << "one\r\ntwo\nthree\rfour";
    QTest::newRow("markup") << "<b>&amp;</b> \"quoted\"" << "<b>&amp;</b> \"quoted\"";
    QTest::newRow("outside latin-1") << QString::fromUtf8("Üben — 練習 🏃") << QString::fromUtf8("Üben — 練習 🏃");
    QTest::newRow("empty") << "" << "";
}

void tst_Store::textsRoundTrip()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    statements::EventValues v{typed, typed, typed, QDate(2026, 12, 6), QTime(9, 5), QDate(2026, 12, 6), QTime(14, 30), 1};
    conn.execute(statements::insertEvent(v));
    QCOMPARE(db.count("tblPOCs"), 0);
    store::RowSet rs = conn.execute(statements::eventById(1));
    QCOMPARE(rs.text("title"), stored);
    QCOMPARE(rs.text("Description"), stored);
    QCOMPARE(rs.text("notes"), stored);
    QCOMPARE(rs.dateTime("EventTime"), QDateTime(QDate(2026, 12, 6), QTime(9, 5), Qt::UTC));
    QCOMPARE(rs.dateTime("eventTimeEnd"), QDateTime(QDate(2026, 12, 6), QTime(14, 30), Qt::UTC));
}

void tst_Store::reads_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("kind"); // 0 text, 1 integer, 2 date-time
    QTest::addColumn<QString>("expected"); // empty: a read failure naming the column
    QTest::newRow("title in any case") << "TITLE" << 0 << "t";
    QTest::newRow("key in any case") << "IDscheduledEVENT" << 1 << "1";
    QTest::newRow("null text") << "Notes" << 0 << "";
    QTest::newRow("null number") << "idPOC" << 1 << "";
    QTest::newRow("null date-time") << "EventTimeEnd" << 2 << "";
    QTest::newRow("no such column") << "noSuchColumn" << 0 << "";
}

void tst_Store::reads()
{
    QFETCH(QString, column);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    TestDatabase db;
    db.exec("INSERT INTO tblScheduledEvents(title, EventTime) VALUES('t', '2026-12-06 10:00:00')");
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::eventById(1));
    try {
        const QString read = kind == 0 ? rs.text(column)
            : kind == 1                ? QString::number(rs.integer(column))
                                       : rs.dateTime(column).toString();
        QCOMPARE(read, expected);
    } catch (const StoreError &e) {
        QVERIFY2(expected.isEmpty() && e.description().contains(column), qPrintable(e.description()));
    }
}

void tst_Store::openFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("url"); // the server's cases: {socket} a folder without a server
    if (TestDatabase::engine() == store::Engine::Postgres) {
        QTest::newRow("server down") << QByteArray() << "cannot be reached (is it running?)"
                                     << "postgresql://orvenna@{socket}/cal";
        QTest::newRow("login refused") << QByteArray() << "refused the login of user \"intruder\""
                                       << TestDatabase::serverUrl(QString(), "intruder");
        QTest::newRow("no such database") << QByteArray() << "has no database \"nocal\""
                                          << TestDatabase::serverUrl("nocal");
        QTest::newRow("tables missing") << QByteArray() << "has no calendar tables; create them with orvenna-newdb --database"
                                        << TestDatabase::serverUrl();
        return;
    }
    QTest::newRow("missing") << QByteArray() << "Could not find file" << QString();
    QTest::newRow("not a database") << QByteArray("Standard Jet DB\0 but not really", 32) << "not a database" << QString();
    QTest::newRow("text file") << QByteArray(4096, 'x') << "not a database" << QString();
}

void tst_Store::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    QFETCH(QString, url);
    TestDatabase db(false);
    if (!url.isEmpty()) {
        QTemporaryDir empty;
        url.replace("{socket}", QUrl::toPercentEncoding(empty.path()));
        store::Connection conn;
        QElapsedTimer clock;
        clock.start();
        QVERIFY_THROWS_EXCEPTION(StoreError, conn.open(url));
        try {
            conn.open(url);
        } catch (const StoreError &e) {
            QVERIFY2(e.description().contains(reason) && e.description().contains(url), qPrintable(e.description()));
        }
        QVERIFY(!conn.isOpen());
        QCOMPARE_LT(clock.elapsed(), 2 * 1000 * store::kConnectTimeoutSeconds);
        return;
    }
    if (!content.isNull()) {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    store::Connection conn;
    try {
        conn.open(db.connectionString());
        QFAIL("opened");
    } catch (const StoreError &e) {
        QVERIFY2(e.description().contains(reason), qPrintable(e.description()));
        QVERIFY2(e.description().contains(QDir::toNativeSeparators(db.path())), qPrintable(e.description()));
    }
    QVERIFY(!conn.isOpen());
    // Opening never creates or changes the file.
    QFile f(db.path());
    QCOMPARE(f.open(QIODevice::ReadOnly), !content.isNull());
    QCOMPARE(f.readAll(), content.isNull() ? QByteArray() : content);
}

void tst_Store::largeIds()
{
    TestDatabase db;
    db.exec("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(40001, 'Far', '')");
    db.exec("INSERT INTO tblScheduledEvents VALUES(40000, 'Late id', '', '', '2026-12-06 10:00:00', '2026-12-06 11:00:00', 40001)");
    store::Connection conn;
    conn.open(db.connectionString());
    {
        store::RowSet rs = conn.execute(statements::eventReport(40000));
        QCOMPARE(rs.text("pocName"), QStringLiteral("Far"));
        rs = conn.execute(statements::eventsOfDay(QDate(2026, 12, 6)));
        QCOMPARE(rs.integer("idScheduledEvent"), 40000);
    }
    conn.execute(statements::deleteEvent(40000));
    QCOMPARE(db.count("tblScheduledEvents"), 0);
    // Past what 32 bits hold is a read failure, never a wrong key; the
    // server's integer keys cannot hold it at all.
    if (TestDatabase::engine() == store::Engine::Postgres) {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.exec("UPDATE tblPOCs SET idPOC = 3000000000"));
        return;
    }
    db.exec("UPDATE tblPOCs SET idPOC = 3000000000");
    store::RowSet rs = conn.execute(statements::allStaff());
    QVERIFY_THROWS_EXCEPTION(StoreError, (void)rs.integer("idPOC"));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tst_Store test;
    return TestDatabase::runOnEachEngine(&test, argc, argv);
}
#include "tst_store.moc"
