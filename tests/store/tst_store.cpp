#include "store/ChangeHistory.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/EventSearch.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/StaffMembers.h"
#include "store/Statements.h"
#include "store/Templates.h"
#include "store/Transaction.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <thread>

using store::StoreError;

class tst_Store : public QObject
{
    Q_OBJECT

private slots:
    void connectionString();
    void settingsFile();
    void serverUrls_data();
    void serverUrls();
    void verifiedLinks_data();
    void verifiedLinks();
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
    void largeIds_data();
    void largeIds();
    void schemaVersions_data();
    void schemaVersions();
    void schemaUpdatedOnce();
    void eventReads_data();
    void eventReads();
    void eventsByKey_data();
    void eventsByKey();
    void listWrites_data();
    void listWrites();
    void updateIfUnchanged_data();
    void updateIfUnchanged();
    void find_data();
    void find();
};

void tst_Store::connectionString()
{
    const QString cs = store::connectionStringFor(QStringLiteral("/opt/orvenna/"));
    QCOMPARE(cs, QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=") + QDir::toNativeSeparators("/opt/orvenna")
                     + QDir::separator() + QStringLiteral("eventDB.mdb;"));
    // A folder with a ';' of its own still yields the whole path.
    QCOMPARE(store::databasePathOf(store::connectionStringFor(QStringLiteral("/tmp/a;b"))), QStringLiteral("/tmp/a;b/eventDB.mdb"));
}

// The saved choice lives in orvenna.conf; one an earlier version kept in
// orvenna.ini is taken over once, and the two never disagree afterwards.
void tst_Store::settingsFile()
{
    if (TestDatabase::engine() == store::Engine::Postgres)
        QSKIP("about no database");
    QTemporaryDir config;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QVERIFY(QDir().mkpath(config.filePath("orvenna")));
    QFile earlier(config.filePath("orvenna/orvenna.ini"));
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("[General]\ndatabase=postgresql://coach@db/team\n");
    earlier.close();

    const QString path = store::settingsFilePath();
    QCOMPARE(path, config.filePath("orvenna/orvenna.conf"));
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("database").toString(), "postgresql://coach@db/team");
    QVERIFY(!earlier.exists());
    QSettings(path, QSettings::IniFormat).setValue("database", "postgresql://coach@db/other");
    QCOMPARE(store::settingsFilePath(), path);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("database").toString(), "postgresql://coach@db/other");
}

void tst_Store::serverUrls_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("parsed"); // user|host|port|database|more hosts|options, or the reason it is refused
    QTest::newRow("host and port") << "postgresql://coach@db.club.org:6543/calendar" << "coach|db.club.org|6543|calendar||";
    QTest::newRow("default port") << "postgresql://coach@db/calendar" << "coach|db|5432|calendar||";
    QTest::newRow("socket folder") << "postgresql://coach@%2Fvar%2Frun%2Fpostgresql/cal" << "coach|/var/run/postgresql|5432|cal||";
    QTest::newRow("ipv6") << "postgres://coach@[::1]:5433/cal" << "coach|::1|5433|cal||";
    QTest::newRow("encoded user") << "postgresql://d%40na@db/cal" << "d@na|db|5432|cal||";
    QTest::newRow("password") << "postgresql://coach:secret@db/cal" << "pgpass";
    QTest::newRow("no user") << "postgresql://db/cal" << "no user";
    QTest::newRow("no database") << "postgresql://coach@db/" << "no database";
    QTest::newRow("bad port") << "postgresql://coach@db:99999/cal" << "no valid port";
    QTest::newRow("an option") << "postgresql://coach@db/cal?sslmode=disable" << "coach|db|5432|cal||sslmode=disable";
    QTest::newRow("several hosts") << "postgresql://coach@db1,db2:5433,[::1]/orvenna?target_session_attrs=read-write"
                                   << "coach|db1|5432|orvenna|db2:5433 ::1:5432|target_session_attrs=read-write";
    QTest::newRow("every option")
        << "postgresql://coach@db/cal?sslmode=verify-full&sslrootcert=/etc/club/ca.crt&sslcert=%2Fhome%2Fcoach%2Fme.crt"
           "&sslkey=/home/coach/me.key&sslcrl=/etc/club/crl.pem&connect_timeout=10&application_name=front%20desk"
           "&target_session_attrs=primary&passfile=/home/coach/.pgpass"
        << "coach|db|5432|cal||sslmode=verify-full sslrootcert=/etc/club/ca.crt sslcert=/home/coach/me.crt "
           "sslkey=/home/coach/me.key sslcrl=/etc/club/crl.pem connect_timeout=10 application_name=front desk "
           "target_session_attrs=primary passfile=/home/coach/.pgpass";
    QTest::newRow("password option") << "postgresql://coach@db/cal?sslmode=require&password=secret" << "pgpass";
    QTest::newRow("unknown option") << "postgresql://coach@db/cal?sslmod=disable" << "which is not one of sslmode";
    QTest::newRow("unknown sslmode") << "postgresql://coach@db/cal?sslmode=verify" << "it may be disable, allow";
    QTest::newRow("bad timeout") << "postgresql://coach@db/cal?connect_timeout=soon" << "must be a number of seconds";
    QTest::newRow("option twice") << "postgresql://coach@db/cal?sslmode=disable&sslmode=require" << "twice";
    QTest::newRow("option without value") << "postgresql://coach@db/cal?sslrootcert" << "no value";
    QTest::newRow("empty host in the list") << "postgresql://coach@db1,/cal" << "no valid host";
    QTest::newRow("fragment") << "postgresql://coach@db/cal#x" << "after the database";
    QTest::newRow("file") << "/home/coach/eventDB.mdb" << "not a PostgreSQL address";
    QTest::newRow("another kind of address") << "mysql://coach:secret@db/cal" << "not a PostgreSQL address";
}

static QString parsedText(const store::ServerAddress &a)
{
    QStringList more;
    for (const auto &[host, port] : a.moreHosts)
        more << host + ':' + QString::number(port);
    QStringList options;
    for (const auto &[key, value] : a.options)
        options << key + '=' + value;
    return QStringList({a.user, a.host, QString::number(a.port), a.database, more.join(' '), options.join(' ')}).join('|');
}

void tst_Store::serverUrls()
{
    QFETCH(QString, url);
    QFETCH(QString, parsed);
    try {
        const store::ServerAddress a = store::parseServerUrl(url);
        QCOMPARE(parsedText(a), parsed);
        // Written back, it reads the same.
        QCOMPARE(parsedText(store::parseServerUrl(a.url())), parsed);
    } catch (const StoreError &e) {
        QVERIFY2(e.description().contains(parsed), qPrintable(e.description()));
        QVERIFY2(!QString::fromUtf8(e.what()).contains("secret") && !e.description().contains("secret"),
                 qPrintable(e.description()));
    }
    // A URL chooses the engine and is what the windows name, never with its password.
    const QString cs = store::connectionStringFor(QStringLiteral("/opt/orvenna"), url);
    QCOMPARE(store::engineOf(cs), url.startsWith("postgres") ? store::Engine::Postgres : store::Engine::Sqlite);
    QCOMPARE(store::databasePathOf(cs),
             !url.startsWith("postgres") ? QString() : QString(url).replace(":secret@", ":****@").replace("=secret", "=****"));
}

void tst_Store::verifiedLinks_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("verified");
    QTest::newRow("socket folder") << "postgresql://coach@%2Fvar%2Frun%2Fpostgresql/cal" << true;
    QTest::newRow("default socket") << "postgresql://coach@/cal" << true;
    QTest::newRow("loopback") << "postgresql://coach@127.0.0.1:5433/cal" << true;
    QTest::newRow("localhost, lowered") << "postgresql://coach@localhost/cal?sslmode=disable" << true;
    QTest::newRow("ipv6 loopback") << "postgresql://coach@[::1]/cal" << true;
    QTest::newRow("another computer") << "postgresql://coach@db.club.org/cal" << true;
    QTest::newRow("another computer, its certificate checked")
        << "postgresql://coach@db.club.org/cal?sslmode=verify-full&sslrootcert=/etc/club/ca.crt" << true;
    QTest::newRow("another computer, encrypted only") << "postgresql://coach@db.club.org/cal?sslmode=require" << false;
    QTest::newRow("another computer, its name unchecked") << "postgresql://coach@10.0.0.5/cal?sslmode=verify-ca" << false;
    QTest::newRow("a second host elsewhere, lowered") << "postgresql://coach@localhost,db2/cal?sslmode=prefer" << false;
    QTest::newRow("a second host elsewhere") << "postgresql://coach@localhost,db2/cal" << true;
    QTest::newRow("not an address") << "postgresql://db.club.org/cal" << false;
    QTest::newRow("file") << "DRIVER=Driver do Microsoft Access (*.mdb);DBQ=/opt/orvenna/eventDB.mdb;" << false;
}

// What the Shared Calendar dialog says of the link: verified, unless lowered.
void tst_Store::verifiedLinks()
{
    QFETCH(QString, url);
    QFETCH(bool, verified);
    QCOMPARE(store::isVerifiedLink(url), verified);
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
    // Whole days take in every text beginning with their dates (rows other tools wrote).
    QTest::newRow("whole days, negated") << "NOT t.eventTime BETWEEN #12/9/2026 00:00:00# AND #12/31/2026 23:59:59#"
                                         << "NOT (t.eventTime >= '2026-12-09' AND t.eventTime < '2026-12-32')";
    QTest::newRow("NOT BETWEEN stays") << "x NOT BETWEEN #1/2/2027 00:00:00# AND #1/2/2027 23:59:59#"
                                       << "x NOT BETWEEN '2027-01-02 00:00:00' AND '2027-01-02 23:59:59'";
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
        // The server compares timestamps: whole days run to the next midnight.
        if (TestDatabase::engine() == store::Engine::Postgres && QByteArray(QTest::currentDataTag()) == "whole days, negated")
            expected = "NOT (t.eventTime >= TIMESTAMP '2026-12-09 00:00:00' AND t.eventTime < TIMESTAMP '2027-01-01 00:00:00')";
        else if (TestDatabase::engine() == store::Engine::Postgres)
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
    QTest::addColumn<QDate>("day");
    QTest::addColumn<QString>("stored"); // EventTime as the program or another tool wrote it
    QTest::addColumn<QDateTime>("start"); // as read back; invalid: not on that day
    const QDate d(2007, 3, 14);
    auto at = [](const QDate &date, int h, int m, int s = 0, int ms = 0) { return QDateTime(date, QTime(h, m, s, ms), Qt::UTC); };
    QTest::newRow("midnight") << d << "2007-03-14 00:00:00" << at(d, 0, 0);
    QTest::newRow("last minute") << d << "2007-03-14 23:59:00" << at(d, 23, 59);
    QTest::newRow("last second") << d << "2007-03-14 23:59:59" << at(d, 23, 59, 59);
    QTest::newRow("next day midnight") << d << "2007-03-15 00:00:00" << QDateTime();
    QTest::newRow("day before, last minute") << d << "2007-03-13 23:59:00" << QDateTime();
    // Rows other tools write.
    QTest::newRow("T between date and time") << d << "2007-03-14T11:00:00" << at(d, 11, 0);
    QTest::newRow("date alone") << d << "2007-03-14" << at(d, 0, 0);
    QTest::newRow("one-digit hour") << d << "2007-03-14 9:00:00" << at(d, 9, 0);
    QTest::newRow("T, no seconds") << d << "2007-03-14T09:30" << at(d, 9, 30);
    QTest::newRow("fraction of a second") << d << "2007-03-14 23:59:59.25" << at(d, 23, 59, 59, 250);
    QTest::newRow("trailing blank") << d << "2007-03-14 10:00 " << at(d, 10, 0);
    QTest::newRow("next day, date alone") << d << "2007-03-15" << QDateTime();
    QTest::newRow("day before, T") << d << "2007-03-13T23:59:59" << QDateTime();
    QTest::newRow("a 9th, T") << QDate(2007, 3, 9) << "2007-03-09T18:00" << at(QDate(2007, 3, 9), 18, 0);
    QTest::newRow("last day there is") << QDate(9999, 12, 31) << "9999-12-31 9:05" << at(QDate(9999, 12, 31), 9, 5);
}

void tst_Store::dayQueryBounds()
{
    QFETCH(QDate, day);
    QFETCH(QString, stored);
    QFETCH(QDateTime, start);
    TestDatabase db;
    db.exec(QStringLiteral("INSERT INTO tblScheduledEvents VALUES(1, 'e', '', '', '%1', '%1', 1)").arg(stored));
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::eventsOfDay(day));
    QCOMPARE(!rs.eof(), start.isValid());
    if (start.isValid()) {
        QCOMPARE(rs.dateTime("eventTime"), start);
        QCOMPARE(rs.dateTime("EventTimeEnd"), start);
    }
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
    QTest::addColumn<int>("kind"); // 0 text, 1 integer, 2 date-time, 3 optional text (in brackets)
    QTest::addColumn<QString>("expected"); // empty: a read failure naming the column
    QTest::newRow("title in any case") << "TITLE" << 0 << "t";
    QTest::newRow("key in any case") << "IDscheduledEVENT" << 1 << "1";
    QTest::newRow("null text") << "Notes" << 0 << "";
    QTest::newRow("null number") << "idPOC" << 1 << "";
    QTest::newRow("null date-time") << "EventTimeEnd" << 2 << "";
    QTest::newRow("no such column") << "noSuchColumn" << 0 << "";
    QTest::newRow("optional text, null") << "Notes" << 3 << "[]";
    QTest::newRow("optional text, empty") << "Description" << 3 << "[]";
    QTest::newRow("optional text, given") << "TITLE" << 3 << "[t]";
    QTest::newRow("optional text, no such column") << "noSuchColumn" << 3 << "";
}

void tst_Store::reads()
{
    QFETCH(QString, column);
    QFETCH(int, kind);
    QFETCH(QString, expected);
    TestDatabase db;
    db.exec("INSERT INTO tblScheduledEvents(title, EventTime, Description) VALUES('t', '2026-12-06 10:00:00', '')");
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::eventById(1));
    try {
        const QString read = kind == 0 ? rs.text(column)
            : kind == 1                ? QString::number(rs.integer(column))
            : kind == 2                ? rs.dateTime(column).toString()
                                       : '[' + rs.optionalText(column) + ']';
        // An empty read where a failure is due is the NULL read as empty.
        QVERIFY2(!expected.isEmpty(), qPrintable(QStringLiteral("read '%1' instead of failing").arg(read)));
        QCOMPARE(read, expected);
    } catch (const StoreError &e) {
        QVERIFY2(expected.isEmpty() && e.description().contains(column), qPrintable(e.description()));
    }
}

void tst_Store::openFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file at all
    QTest::addColumn<QString>("told");   // in plain words
    QTest::addColumn<QString>("reason"); // in the driver's, kept as the details
    QTest::addColumn<QString>("url"); // the server's cases: {socket} a folder without a server
    QTest::addColumn<QString>("tables"); // made on the server first
    if (TestDatabase::engine() == store::Engine::Postgres) {
        // A database holding only part of the calendar's tables is no calendar either.
        const QString told = "has no calendar tables; create them with orvenna-newdb --database";
        QTest::newRow("one table of three") << QByteArray() << told << QString() << TestDatabase::serverUrl()
                                            << "CREATE TABLE tblPOCs (idPOC integer, pocName text, pocDescription text)";
        QTest::newRow("two tables of three")
            << QByteArray() << told << QString() << TestDatabase::serverUrl()
            << "CREATE TABLE tblPOCs (idPOC integer, pocName text, pocDescription text);"
               "CREATE TABLE tblPredefinedEvents (idPredefinedEvent integer, title text, Description text)";
        QTest::newRow("server down") << QByteArray() << "cannot be reached (is it running?)" << QString()
                                     << "postgresql://orvenna@{socket}/cal" << QString();
        QTest::newRow("login refused") << QByteArray() << "refused the login of user \"intruder\"" << QString()
                                       << TestDatabase::serverUrl(QString(), "intruder") << QString();
        QTest::newRow("no such database") << QByteArray() << "has no database \"nocal\"" << QString()
                                          << TestDatabase::serverUrl("nocal") << QString();
        QTest::newRow("tables missing") << QByteArray() << told << QString() << TestDatabase::serverUrl() << QString();
        return;
    }
    QTest::newRow("missing") << QByteArray() << "is missing" << "Could not find file" << QString() << QString();
    QTest::newRow("not a database") << QByteArray("Standard Jet DB\0 but not really", 32)
                                    << "is not a calendar database" << "not a database" << QString() << QString();
    QTest::newRow("text file") << QByteArray(4096, 'x') << "is not a calendar database" << "not a database" << QString()
                               << QString();
}

void tst_Store::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, told);
    QFETCH(QString, reason);
    QFETCH(QString, url);
    QFETCH(QString, tables);
    TestDatabase db(false);
    if (!tables.isEmpty())
        db.exec(tables);
    if (!url.isEmpty()) {
        QTemporaryDir empty;
        url.replace("{socket}", QUrl::toPercentEncoding(empty.path()));
        store::Connection conn;
        QVERIFY_THROWS_EXCEPTION(StoreError, conn.open(url));
        try {
            conn.open(url);
        } catch (const StoreError &e) {
            QVERIFY2(e.description().contains(told) && e.description().contains(url), qPrintable(e.description()));
        }
        QVERIFY(!conn.isOpen());
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
        QVERIFY2(e.description().contains(told), qPrintable(e.description()));
        QVERIFY2(e.details().contains(reason), qPrintable(e.details()));
        QVERIFY2(e.description().contains(QDir::toNativeSeparators(db.path())), qPrintable(e.description()));
    }
    QVERIFY(!conn.isOpen());
    // Opening never creates or changes the file.
    QFile f(db.path());
    QCOMPARE(f.open(QIODevice::ReadOnly), !content.isNull());
    QCOMPARE(f.readAll(), content.isNull() ? QByteArray() : content);
}

void tst_Store::largeIds_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("insert");
    QTest::addColumn<int>("kind"); // picks the statements by key below
    QTest::newRow("events") << "tblScheduledEvents" << "idScheduledEvent"
                            << statements::insertEvent({"t", "", "", QDate(2026, 12, 6), QTime(10, 0), QDate(2026, 12, 6), QTime(11, 0), 1}) << 0;
    QTest::newRow("templates") << "tblPredefinedEvents" << "idPredefinedEvent" << statements::insertTemplate("t", "") << 1;
    QTest::newRow("staff") << "tblPOCs" << "idPOC" << statements::insertStaff("t", "") << 2;
}

void tst_Store::largeIds()
{
    QFETCH(QString, table);
    QFETCH(QString, key);
    QFETCH(QString, insert);
    QFETCH(int, kind);
    QString (*const byKey[])(int) = {statements::eventById, statements::templateById, statements::staffById};
    QString (*const deleteByKey[])(int) = {statements::deleteEvent, statements::deleteTemplate, statements::deleteStaff};
    constexpr int kLast = std::numeric_limits<int>::max();
    TestDatabase db;
    const bool server = TestDatabase::engine() == store::Engine::Postgres;
    // Another tool used every key just below the last one 32 bits hold.
    if (server) {
        db.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('%1', '%2'), %3)").arg(table.toLower(), key.toLower()).arg(kLast - 1));
    } else {
        db.exec(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(table, key).arg(kLast - 1));
        db.exec(QStringLiteral("DELETE FROM ") + table);
    }
    store::Connection conn;
    conn.open(db.connectionString());
    // The last key is saved, read, reported and deleted like any other...
    conn.execute(insert);
    QCOMPARE(conn.execute(byKey[kind](kLast)).integer(key), kLast);
    if (kind == 0) {
        db.exec(QStringLiteral("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(1, 'Coach', '')"));
        QCOMPARE(conn.execute(statements::eventReport(kLast)).text("pocName"), QStringLiteral("Coach"));
        QCOMPARE(conn.execute(statements::eventsOfDay(QDate(2026, 12, 6))).integer(key), kLast);
    }
    conn.execute(deleteByKey[kind](kLast));
    QCOMPARE(db.count(table), 0);
    // ...and the insert after it, which would get a key no window can carry,
    // fails with a description and leaves nothing behind.
    try {
        conn.execute(insert);
        QFAIL("saved");
    } catch (const StoreError &e) {
        QVERIFY2(server || e.description().contains(QString::number(qint64(kLast) + 1)), qPrintable(e.description()));
    }
    QCOMPARE(db.count(table), 0);
    // The server's integer keys cannot hold a key past 32 bits at all.
    if (server) {
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.exec(QStringLiteral("INSERT INTO %1(%2) VALUES(3000000000)").arg(table, key)));
        return;
    }
    QCOMPARE(db.scalar(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = '%1'").arg(table)).toLongLong(), qint64(kLast));
    // A key past 32 bits met on reading is a read failure, never a wrong key.
    db.exec(QStringLiteral("INSERT INTO %1(%2) VALUES(3000000000)").arg(table, key));
    store::RowSet rs = conn.execute(QStringLiteral("SELECT * FROM ") + table);
    QVERIFY_THROWS_EXCEPTION(StoreError, (void)rs.integer(key));
}

namespace {

// Who the store names as the author of a change: the test server's login, or
// the account the test runs as.
QString author(const QString &login = QStringLiteral("orvenna"))
{
    if (TestDatabase::engine() == store::Engine::Postgres)
        return login;
    const passwd *pw = getpwuid(geteuid());
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
}

// "who made it / who changed it last" ("-": not known), each with the time,
// which must lie within the test's run so far; "none" without a history.
QDateTime g_testStart = QDateTime::currentDateTimeUtc().addSecs(-2);
QString historyOf(store::Connection &conn, store::ChangeHistory::Table table, int id)
{
    const std::optional<store::RowHistory> h = store::ChangeHistory::read(conn, table, id);
    if (!h)
        return "none";
    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(2);
    auto one = [&now](const QString &who, const QDateTime &at) {
        if (who.isEmpty())
            return at.isValid() ? QString("-@") : QString("-");
        return who + (at.isValid() && at >= g_testStart && at <= now && at.timeSpec() == Qt::UTC ? "" : "@?");
    };
    return one(h->createdBy, h->createdAt) + " / " + one(h->changedBy, h->changedAt);
}

// Every row of the three tables, as text, in order of key.
QString calendarRows(TestDatabase &db)
{
    const bool server = TestDatabase::engine() == store::Engine::Postgres;
    const QString all = server ? QStringLiteral("string_agg(r, '|')") : QStringLiteral("group_concat(r, '|')");
    QString rows;
    for (const char *columns : {"idScheduledEvent, title, Description, Notes, EventTime, EventTimeEnd, idPOC FROM tblScheduledEvents",
                                "idPredefinedEvent, title, Description FROM tblPredefinedEvents",
                                "idPOC, pocName, pocDescription FROM tblPOCs"}) {
        QString row = QString::fromLatin1(columns).section(QStringLiteral(" FROM "), 0, 0);
        row.replace(QStringLiteral(", "), QStringLiteral(" || '/' || "));
        rows += db.scalar(QStringLiteral("SELECT %1 FROM (SELECT %2 AS r FROM %3 ORDER BY 1) AS t")
                              .arg(all, row, QString::fromLatin1(columns).section(QStringLiteral(" FROM "), 1)))
                    .toString()
            + QLatin1Char('\n');
    }
    return rows;
}

// The tables, their columns and indexes, as the engine keeps them.
QString schemaText(TestDatabase &db)
{
    if (TestDatabase::engine() == store::Engine::Sqlite)
        return db.scalar("SELECT group_concat(type || name || coalesce(sql, ''), '|') FROM "
                         "(SELECT * FROM sqlite_master ORDER BY name)").toString();
    return db.scalar("SELECT string_agg(table_name || '.' || column_name || ':' || data_type || is_nullable, '|' "
                     "ORDER BY table_name, column_name) FROM information_schema.columns WHERE table_schema = current_schema()")
               .toString()
        + db.scalar("SELECT string_agg(indexdef, '|' ORDER BY indexdef) FROM pg_indexes WHERE schemaname = current_schema()")
              .toString()
        + db.scalar("SELECT string_agg(tgname, '|' ORDER BY tgname) FROM pg_trigger WHERE NOT tgisinternal").toString();
}

int schemaVersion(TestDatabase &db)
{
    if (TestDatabase::engine() == store::Engine::Sqlite)
        return db.scalar(QStringLiteral("PRAGMA user_version")).toInt();
    if (db.scalar(QStringLiteral("SELECT to_regclass('tblschemaversion') IS NULL")).toBool())
        return 0;
    if (db.count(QStringLiteral("tblSchemaVersion")) != 1)
        return -1;
    return db.scalar(QStringLiteral("SELECT version FROM tblSchemaVersion")).toInt();
}

// A calendar as orvenna-newdb --demo made it before the schema had a version,
// in place of the database's calendar.
void makeCalendarBeforeVersions(TestDatabase &db)
{
    if (TestDatabase::engine() == store::Engine::Postgres) {
        db.exec("DROP TABLE IF EXISTS tblScheduledEvents, tblPredefinedEvents, tblPOCs, tblImportedEvents, "
                "tblCalendarIdentity, tblSchemaVersion, tblEventSearch, tblChangeHistory;"
                "DROP FUNCTION IF EXISTS orvenna_announce_change()");
        QFile dump(QFINDTESTDATA("fixtures/server-before-versions.sql"));
        QVERIFY(dump.open(QIODevice::ReadOnly));
        db.exec(QString::fromUtf8(dump.readAll()));
        QCOMPARE(db.count("tblScheduledEvents"), 8);
        // A new run of the program: no connection kept from before.
        store::dropIdleServerConnections();
        return;
    }
    QVERIFY(QFile::copy(QFINDTESTDATA("fixtures/calendar-before-versions.mdb"), db.path()));
    QVERIFY(QFile::setPermissions(db.path(), QFile::ReadOwner | QFile::WriteOwner));
}

} // namespace

void tst_Store::schemaVersions_data()
{
    QTest::addColumn<QString>("change"); // to the calendar made before versions
    QTest::addColumn<bool>("writable");
    QTest::addColumn<int>("version"); // raw, after the change; 0: leave it
    QTest::addColumn<QString>("told"); // when the open is refused
    const QString exchangeTables = TestDatabase::engine() == store::Engine::Postgres
        ? "CREATE TABLE IF NOT EXISTS tblImportedEvents (uid TEXT NOT NULL, eventStart timestamp without time zone NOT NULL, "
          "idScheduledEvent INTEGER NOT NULL, PRIMARY KEY (uid, eventStart));"
        : "CREATE TABLE IF NOT EXISTS tblImportedEvents (uid TEXT NOT NULL, eventStart TEXT NOT NULL, "
          "idScheduledEvent INTEGER NOT NULL, PRIMARY KEY (uid, eventStart));";
    const QString exported = exchangeTables + "CREATE TABLE IF NOT EXISTS tblCalendarIdentity (identity TEXT NOT NULL);"
                                              "INSERT INTO tblCalendarIdentity VALUES ('2f1e');"
                                              "INSERT INTO tblImportedEvents VALUES ('x@phone', '2026-12-07 09:00:00', 3)";
    QTest::newRow("made before versions") << QString() << true << 0 << QString();
    QTest::newRow("made before versions, exported and imported since") << exported << true << 0 << QString();
    // It still has what imports need.
    QTest::newRow("made before versions, exported since, cannot be written") << exported << false << 0 << QString();
    QTest::newRow("made before versions and exports, cannot be written")
        << "DROP TABLE IF EXISTS tblImportedEvents;DROP TABLE IF EXISTS tblCalendarIdentity" << false << 0 << QString();
    QTest::newRow("version 2, before Find") << exported << true << 2 << QString();
    // Brought up to date, then its history taken away again: as the version before made it.
    QTest::newRow("version 3, before history") << "history dropped" << true << 3 << QString();
    QTest::newRow("made by a newer version")
        << "DROP TABLE IF EXISTS tblImportedEvents;DROP TABLE IF EXISTS tblCalendarIdentity" << true << store::kSchemaVersion + 1
        << "was made by a newer version of Orvenna, which this one cannot use, so it was left as it is. Open it "
           "with that newer Orvenna.";
}

void tst_Store::schemaVersions()
{
    QFETCH(QString, change);
    QFETCH(bool, writable);
    QFETCH(int, version);
    QFETCH(QString, told);
    const bool server = TestDatabase::engine() == store::Engine::Postgres;
    TestDatabase db;
    // A new calendar is made at the latest version.
    QCOMPARE(schemaVersion(db), store::kSchemaVersion);
    const QString newSchema = schemaText(db);
    QVERIFY(server || QFile::remove(db.path()));
    makeCalendarBeforeVersions(db);
    if (QTest::currentTestFailed())
        return;
    if (change == "history dropped") {
        {
            store::Connection first;
            first.open(db.connectionString());
        }
        store::dropIdleServerConnections();
        // The file's triggers are each connection's own.
        change = server ? "DROP TABLE tblChangeHistory;DROP FUNCTION orvenna_keep_history() CASCADE;DROP TABLE tblSchemaVersion"
                        : "DROP TABLE tblChangeHistory";
    }
    for (const QString &statement : change.split(';', Qt::SkipEmptyParts))
        db.exec(statement);
    if (version > 0) {
        db.exec(server ? QStringLiteral("CREATE TABLE tblSchemaVersion (version integer NOT NULL);"
                                        "INSERT INTO tblSchemaVersion VALUES (%1)").arg(version)
                       : QStringLiteral("PRAGMA user_version = %1").arg(version));
    }
    QString connectionString = db.connectionString();
    if (server) {
        // A staff member's login: may read and write rows, may not create tables.
        db.exec("DO $$ BEGIN CREATE ROLE clerk LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$");
        db.exec("GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA public TO clerk");
    }
    if (!writable && server) {
        connectionString = TestDatabase::serverUrl(QString(), QStringLiteral("clerk"));
    } else if (!writable) { // a write version above 2 in the header, which holds for root too
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(18) && file.write("\x03", 1) == 1);
    }
    const QString rows = calendarRows(db);
    QVERIFY(rows.count('|') > 10);
    const QString identity = change.contains("2f1e") ? db.scalar("SELECT identity FROM tblCalendarIdentity").toString() : QString();
    const int before = schemaVersion(db);
    QFile file(db.path());
    const QByteArray bytes = !server && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();

    store::Connection conn;
    if (!told.isEmpty()) {
        try {
            conn.open(connectionString);
            QFAIL("opened");
        } catch (const StoreError &e) {
            QVERIFY2(e.description().contains(told), qPrintable(e.description()));
            QVERIFY2(e.description().contains(QDir::toNativeSeparators(db.path())), qPrintable(e.description()));
        }
        QVERIFY(!conn.isOpen());
        // Never written to: no version lowered, no table made.
        QCOMPARE(schemaVersion(db), version);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, (void)db.count("tblCalendarIdentity"));
        if (!server) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), bytes);
        }
        return;
    }
    conn.open(connectionString);
    // Every row is read as before.
    QCOMPARE(conn.execute(statements::allStaff()).text("pocName"), QStringLiteral("Dana Whitfield"));
    QCOMPARE(calendarRows(db), rows);
    if (!writable) {
        // The calendar stays as it was, and what needs the new tables says why.
        QCOMPARE(schemaVersion(db), before);
        try {
            (void)store::EventSearch::find(conn, "dana", 10);
            QFAIL("searched");
        } catch (const StoreError &e) {
            QVERIFY2(e.description().contains("could not be brought up to date when it was opened, so it has no index to "
                                              "search yet."),
                     qPrintable(e.description()));
        }
        try {
            store::requireExchangeTables(conn);
            QVERIFY2(!identity.isEmpty(), "passed");
        } catch (const StoreError &e) {
            QVERIFY2(identity.isEmpty(), qPrintable(e.description()));
            QVERIFY2(e.description().contains("comes from an older Orvenna and could not be brought up to date when it "
                                              "was opened, so it cannot take imports yet."),
                     qPrintable(e.description()));
            QVERIFY2(e.description().contains(server ? "login that may create tables" : "Make the file and its folder writable"),
                     qPrintable(e.description()));
            QVERIFY2(!e.details().isEmpty(), "no details");
        }
        if (!server) {
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), bytes);
        }
        return;
    }
    QCOMPARE(before, version);
    QCOMPARE(schemaVersion(db), store::kSchemaVersion);
    QCOMPARE(schemaText(db), newSchema);
    // Nothing is made up about the rows stored before.
    QCOMPARE(db.count("tblChangeHistory"), 0);
    store::requireExchangeTables(conn);
    QCOMPARE(db.count("tblCalendarIdentity"), identity.isEmpty() ? 0 : 1);
    QCOMPARE(db.count("tblImportedEvents"), identity.isEmpty() ? 0 : 1);
    if (!identity.isEmpty())
        QCOMPARE(db.scalar("SELECT identity FROM tblCalendarIdentity").toString(), identity);
    // Find finds what was stored before.
    const int danas = db.scalar("SELECT count(*) FROM tblScheduledEvents WHERE idPOC = 1").toInt();
    QVERIFY(danas > 1);
    QCOMPARE(store::EventSearch::find(conn, "DANA", 100).size(), danas);
    // The new tables take rows.
    conn.execute(statements::insertCalendarIdentity("made-after"));
    conn.execute(statements::recordImportedEvent("y@phone", QDate(2026, 12, 8), QTime(9, 0), 1));
    QCOMPARE(calendarRows(db), rows);
    // A row stored before is told changed when it is; who made it stays unknown.
    conn.execute(statements::updateTemplate("Warm-up", "Changed", 1));
    QCOMPARE(historyOf(conn, store::ChangeHistory::Table::Templates, 1), "- / " + author());
    QCOMPARE(historyOf(conn, store::ChangeHistory::Table::Templates, 2), "none");
    if (!server)
        return;
    // A login given its rights before the update keeps writing and finding
    // events: the index is kept by the owner's triggers, and may be read by
    // whoever may read the events.
    store::Connection clerk;
    clerk.open(TestDatabase::serverUrl(QString(), QStringLiteral("clerk")));
    statements::EventValues v;
    v.title = "Written by the clerk";
    v.startDate = v.endDate = QDate(2026, 12, 9);
    v.startTime = QTime(9, 0);
    v.endTime = QTime(10, 0);
    v.staffId = 1;
    clerk.execute(statements::insertEvent(v));
    const int clerksEvent = db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt();
    clerk.execute(statements::updateStaff("Dana Smith", "", 1));
    // The history names the login, also where the owner's trigger writes it.
    QCOMPARE(historyOf(clerk, store::ChangeHistory::Table::Events, clerksEvent), "clerk / -");
    QCOMPARE(historyOf(clerk, store::ChangeHistory::Table::Staff, 1), "- / clerk");
    const QList<store::Event> found = store::EventSearch::find(clerk, "smith", 100);
    QCOMPARE(found.size(), danas + 1);
    QCOMPARE(found.first().values.title, v.title);
    // And may sync the calendar with a server calendar.
    clerk.execute(QStringLiteral("DELETE FROM tblSyncEvents"));
    QCOMPARE(clerk.execute(QStringLiteral("SELECT count(*) AS bound FROM tblSyncBinding")).integer(QStringLiteral("bound")), 0);
}

// Two copies open a calendar made before versions at the same moment: one
// brings it up to date, the other waits for it and finds it done.
void tst_Store::schemaUpdatedOnce()
{
    if (TestDatabase::engine() == store::Engine::Sqlite)
        QSKIP("A file is updated under SQLite's own write lock.");
    TestDatabase db;
    makeCalendarBeforeVersions(db);
    QVERIFY(!QTest::currentTestFailed());
    const QString url = db.path();
    // A third party holds the update's lock until both copies wait for it.
    const QString holder = store::openServerConnection(url, false);
    QSqlQuery lock(QSqlDatabase::database(holder, false));
    QVERIFY(lock.exec(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(store::kSchemaLockKey)));
    store::SchemaUpdate results[2] = {};
    auto open = [&url](store::SchemaUpdate *result) {
        const QString name = store::openServerConnection(url, false);
        {
            QSqlDatabase copy = QSqlDatabase::database(name, false);
            *result = store::bringUpToDate(copy, store::Engine::Postgres, url);
        }
        store::releaseServerConnection(name, url, false);
    };
    std::thread first(open, &results[0]);
    std::thread second(open, &results[1]);
    QTRY_COMPARE(db.scalar("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted").toInt(), 2);
    QVERIFY(lock.exec(QStringLiteral("SELECT pg_advisory_unlock(%1)").arg(store::kSchemaLockKey)));
    first.join();
    second.join();
    lock.finish();
    store::releaseServerConnection(holder, url, false);
    QCOMPARE(int(results[0]) + int(results[1]), int(store::SchemaUpdate::Updated) + int(store::SchemaUpdate::Current));
    QVERIFY(results[0] != results[1]);
    QCOMPARE(schemaVersion(db), store::kSchemaVersion);
}

void tst_Store::eventReads_data()
{
    QTest::addColumn<QString>("damage"); // SET clause applied to the day's second event, saved through the store
    // The day's keys ("!": a row left out, its failure returned) / that event as the day lists it / as read
    // whole, by key and in a range alike, with the range's staff name / the report's staff member.
    QTest::addColumn<QString>("expected");
    const QString whole = "Run|d|n|10:00|11:30|1", day = "1 2 3 / " + whole;
    QTest::newRow("as saved, then updated") << "" << day + " / " + whole + " Coach / Coach|Whistle";
    QTest::newRow("NULL description and notes")
        << "Description = NULL, Notes = NULL" << "1 2 3 / Run|||10:00|11:30|1 / Run|||10:00|11:30|1 Coach / Coach|Whistle";
    QTest::newRow("NULL end") << "EventTimeEnd = NULL" << "1 2 3 / Run|d|n|10:00|-|1 / fails / fails";
    QTest::newRow("unreadable end") << "EventTimeEnd = 'later'" << "1 2 3 / Run|d|n|10:00|-|1 / fails / fails";
    QTest::newRow("NULL staff member") << "idPOC = NULL" << "1 2 3 / Run|d|n|10:00|11:30|-1 / fails / none";
    QTest::newRow("staff member gone")
        << "idPOC = 9" << "1 2 3 / Run|d|n|10:00|11:30|9 / Run|d|n|10:00|11:30|9  / none";
    QTest::newRow("unreadable start") << "EventTime = '2026-06-15 10:xx'" << "1 3 ! / - / fails / fails";
    QTest::newRow("NULL title") << "title = NULL" << "1 3 ! / - / fails / fails";
}

void tst_Store::eventReads()
{
    QFETCH(QString, damage);
    QFETCH(QString, expected);
    if (TestDatabase::engine() == store::Engine::Postgres && damage.contains("= '"))
        QSKIP("The server's timestamp columns hold no text.");
    TestDatabase db;
    const QDate d(2026, 6, 15);
    const int coach = db.addStaff("Coach", "Whistle");
    db.addEvent("Warm-up", QDateTime(d, QTime(9, 0), Qt::UTC), QDateTime(d, QTime(9, 30), Qt::UTC), coach);
    store::Connection conn;
    conn.open(db.connectionString());
    statements::EventValues v{"Rn", "", "", d, QTime(10, 0), d.addDays(1), QTime(11, 30), 9};
    const int key = store::Events::insert(conn, v);
    QCOMPARE(key, 2);
    v = {"Run", "d", "n", d, QTime(10, 0), d, QTime(11, 30), coach};
    store::Events::update(conn, key, v);
    db.addEvent("Cool-down", QDateTime(d, QTime(11, 0), Qt::UTC), QDateTime(d, QTime(11, 30), Qt::UTC), coach);
    if (!damage.isEmpty())
        db.exec(QStringLiteral("UPDATE tblScheduledEvents SET %1 WHERE idScheduledEvent = %2").arg(damage).arg(key));

    auto fields = [](const store::Event &e) {
        const QString end = e.end().isValid() ? e.end().toString("HH:mm") : "-";
        return QStringList{e.values.title, e.values.description, e.values.notes, e.start().toString("HH:mm"), end,
                           QString::number(e.values.staffId)}.join('|');
    };
    QStringList got;
    QList<store::Event> rows;
    const std::optional<StoreError> unreadable = store::Events::readDay(conn, d, rows);
    QStringList keys, listed("-");
    for (const store::Event &e : rows) {
        keys << QString::number(e.id);
        if (e.id == key)
            listed = {fields(e)};
    }
    got << keys.join(' ') + (unreadable ? " !" : "") << listed;
    if (damage.isEmpty()) {
        // The same staff member's events at that time, by one query: Cool-down only, not
        // Warm-up before it; a copy at the day's end clashes with none, an hour later with Run too.
        auto clashes = [&conn, key](const QTime &start, int minutes) {
            store::Event e = store::Events::readOne(conn, key).value();
            e.values.startTime = start;
            e.values.endTime = start.addSecs(60 * minutes);
            QStringList named;
            for (const store::Event &c : store::Events::clashes(conn, e))
                named << c.values.title + '/' + c.staffName;
            e.id = -1;
            for (const store::Event &c : store::Events::clashes(conn, e))
                named << c.values.title;
            return named.join(' ');
        };
        QCOMPARE(clashes(QTime(10, 0), 90), "Cool-down/Coach Run Cool-down");
        QCOMPARE(clashes(QTime(10, 15), 30), "Run");
        QCOMPARE(clashes(QTime(11, 30), 30), QString());
        QCOMPARE(clashes(QTime(9, 15), 0), "Warm-up/Coach Warm-up");
        // Ending as Warm-up starts is no clash, a moment at Cool-down's start is one; so is Run, begun over an hour before.
        QCOMPARE(clashes(QTime(8, 30), 30), QString());
        QCOMPARE(clashes(QTime(11, 0), 0), "Cool-down/Coach Run Cool-down");
        QCOMPARE(clashes(QTime(11, 15), 10), "Cool-down/Coach Run Cool-down");
        // Another staff member's event at that time is none.
        store::Event theirs = store::Events::readOne(conn, key).value();
        theirs.id = -1;
        theirs.values.staffId = coach + 1;
        QCOMPARE(store::Events::clashes(conn, theirs).size(), 0);
    }
    try {
        const store::Event one = store::Events::readOne(conn, key).value();
        const QList<store::Event> range = store::Events::readRange(conn, d, d);
        QCOMPARE(range.size(), 3);
        QCOMPARE(fields(range[1]), fields(one));
        QCOMPARE(range, store::Events::readAll(conn));
        got << fields(one) + " " + range[1].staffName;
    } catch (const StoreError &) {
        QVERIFY_THROWS_EXCEPTION(StoreError, (void)store::Events::readRange(conn, d, d));
        got << "fails";
    }
    try {
        const std::optional<store::Event> report = store::Events::readForReport(conn, key);
        got << (report ? report->staffName + "|" + report->staffNotes : "none");
    } catch (const StoreError &) {
        got << "fails";
    }
    QCOMPARE(got.join(" / "), expected);
    store::Events::remove(conn, key);
    QVERIFY(!store::Events::readOne(conn, key));
    rows.clear();
    QVERIFY(!store::Events::readDay(conn, d, rows));
    QCOMPARE(rows.size(), 2);
}

void tst_Store::eventsByKey_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("one") << 1;
    QTest::newRow("one statement's keys") << 500;
    QTest::newRow("one more") << 501;
    QTest::newRow("three statements") << 1001;
}

// What undo reads, writes back and deletes by key, however many keys.
void tst_Store::eventsByKey()
{
    QFETCH(int, count);
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    const QDate d(2026, 6, 15);
    QList<int> keys;
    {
        store::Transaction transaction(conn);
        for (int i = 0; i < count; ++i)
            keys << store::Events::insert(conn, {QString::number(i), "", "", d, QTime(10, 0), d, QTime(11, 0), 1});
        transaction.commit();
    }
    const QHash<int, store::Event> read = store::Events::readMany(conn, keys + QList<int>{keys.last() + 1});
    QCOMPARE(read.size(), count);
    for (int i = 0; i < count; ++i)
        QCOMPARE(read.value(keys[i]).values.title, QString::number(i));

    store::Events::removeMany(conn, keys.mid(1));
    QCOMPARE(db.count("tblScheduledEvents"), 1);
    const statements::EventValues mine{"Sam's", "it's", "Coach's", d, QTime(9, 0), d.addDays(1), QTime(9, 30), 1};
    auto stored = [&conn](int key) {
        const std::optional<store::Event> e = store::Events::readOne(conn, key);
        return e ? QStringList{e->values.title, e->values.description, e->values.notes, e->start().toString(Qt::ISODate),
                               e->end().toString(Qt::ISODate), QString::number(e->values.staffId)}.join('|')
                 : QString("none");
    };
    const QString expected = "Sam's|it's|Coach's|2026-06-15T09:00:00Z|2026-06-16T09:30:00Z|1";
    // A free key is taken again; a taken one gives a new key.
    if (count > 1) {
        QCOMPARE(store::Events::restore(conn, keys[1], mine), keys[1]);
        QCOMPARE(stored(keys[1]), expected);
    }
    const int moved = store::Events::restore(conn, keys[0], mine);
    QVERIFY(!keys.contains(moved));
    QCOMPARE(stored(moved), expected);
    store::Events::rewrite(conn, keys[0], mine);
    QCOMPARE(stored(keys[0]), expected);
}

void tst_Store::listWrites_data()
{
    QTest::addColumn<bool>("staff");
    QTest::newRow("templates") << false;
    QTest::newRow("staff members") << true;
}

// Insert, read, update and delete of templates and staff members; a row that
// cannot be read ends a list, and is left out of the staff names.
void tst_Store::listWrites()
{
    QFETCH(bool, staff);
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    const auto insert = staff ? &store::StaffMembers::insert : &store::Templates::insert;
    const auto update = staff ? &store::StaffMembers::update : &store::Templates::update;
    const auto remove = staff ? &store::StaffMembers::remove : &store::Templates::remove;
    auto readOne = [&](int id) -> QString {
        if (staff) {
            const auto s = store::StaffMembers::readOne(conn, id);
            return s ? QString::number(s->id) + ':' + s->name + '|' + s->notes : "none";
        }
        const auto t = store::Templates::readOne(conn, id);
        return t ? QString::number(t->id) + ':' + t->title + '|' + t->description : "none";
    };
    auto readAll = [&] {
        QStringList all;
        const auto add = [&all](int id, const QString &title) { all << QString::number(id) + ':' + title; };
        try {
            if (staff)
                store::StaffMembers::readAll(conn, [&](const store::StaffMember &s) { add(s.id, s.name); });
            else
                store::Templates::readAll(conn, [&](const store::Template &t) { add(t.id, t.title); });
        } catch (const StoreError &) {
            all << "!";
        }
        // The server keeps no order of its own.
        std::sort(all.begin(), all.end());
        return all.join(' ');
    };
    QCOMPARE(insert(conn, "First", "a"), 1);
    QCOMPARE(insert(conn, "Second", "b"), 2);
    QCOMPARE(insert(conn, "Third", "c"), 3);
    QCOMPARE(readOne(2), "2:Second|b");
    const auto table = staff ? store::ChangeHistory::Table::Staff : store::ChangeHistory::Table::Templates;
    const auto other = staff ? store::ChangeHistory::Table::Templates : store::ChangeHistory::Table::Staff;
    const QString me = author();
    QCOMPARE(historyOf(conn, table, 2), me + " / -");
    QCOMPARE(historyOf(conn, other, 2), "none");
    update(conn, 2, "Coach's", "it's");
    QCOMPARE(readOne(2), "2:Coach s|it s");
    QCOMPARE(historyOf(conn, table, 2), me + " / " + me);
    QCOMPARE(historyOf(conn, table, 3), me + " / -");
    // Saved again unchanged: no change to tell of.
    update(conn, 3, "Third", "c");
    QCOMPARE(historyOf(conn, table, 3), me + " / -");
    QCOMPARE(readOne(1), "1:First|a");
    remove(conn, 1);
    QCOMPARE(readOne(1), "none");
    QCOMPARE(historyOf(conn, table, 1), "none");
    QCOMPARE(readAll(), "2:Coach s 3:Third");
    // Undo puts a row back at its key while that is free, else under a new
    // one; either way with its apostrophes.
    const auto restore = staff ? &store::StaffMembers::restore : &store::Templates::restore;
    const auto rewrite = staff ? &store::StaffMembers::rewrite : &store::Templates::rewrite;
    QCOMPARE(restore(conn, 1, "First's", "a'1"), 1);
    QCOMPARE(readOne(1), "1:First's|a'1");
    QCOMPARE(historyOf(conn, table, 1), me + " / -");
    QCOMPARE(restore(conn, 3, "Third's", "c'3"), 4);
    QCOMPARE(readOne(4), "4:Third's|c'3");
    QCOMPARE(readOne(3), "3:Third|c");
    rewrite(conn, 4, "Fourth's", "d'4");
    QCOMPARE(readOne(4), "4:Fourth's|d'4");
    remove(conn, 1);
    remove(conn, 4);
    const QString tableName = staff ? "tblPOCs" : "tblPredefinedEvents";
    const QString key = staff ? "idPOC" : "idPredefinedEvent";
    const QString text = staff ? "pocDescription" : "Description";
    // Another program's write on its own connection is kept too.
    db.exec(QStringLiteral("UPDATE %1 SET %2 = NULL WHERE %3 = 3").arg(tableName, text, key));
    QCOMPARE(readOne(3), "3:Third|");
    QCOMPARE(historyOf(conn, table, 3), me + " / " + me);
    if (TestDatabase::engine() == store::Engine::Sqlite) {
        // A tool that is not this program still writes the file; it leaves no history.
        QProcess tool;
        tool.start("sqlite3", {db.path(), QStringLiteral("UPDATE %1 SET %2 = 'By hand' WHERE %3 = 3").arg(tableName, text, key)});
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.readAllStandardError(), QByteArray());
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(readOne(3), "3:Third|By hand");
        QCOMPARE(historyOf(conn, table, 3), me + " / " + me);
    }
    db.exec(QStringLiteral("UPDATE %1 SET %2 = NULL WHERE %3 = 2").arg(tableName, staff ? "pocName" : "title", key));
    QVERIFY(readAll().startsWith("!"));
    QVERIFY_THROWS_EXCEPTION(StoreError, (void)readOne(2));
    if (staff) {
        QCOMPARE(store::StaffMembers::names(conn), (QHash<int, QString>{{3, "Third"}}));
        db.addEvent("Run", QDateTime(QDate(2026, 6, 15), QTime(10, 0), Qt::UTC),
                    QDateTime(QDate(2026, 6, 15), QTime(11, 0), Qt::UTC), 3);
        QCOMPARE(store::StaffMembers::eventsNaming(conn, 3), 1);
        QCOMPARE(store::StaffMembers::eventsNaming(conn, 2), 0);
    }
}

void tst_Store::updateIfUnchanged_data()
{
    // SET clause another copy saves after the base was read, or "delete"; "held ": saved in a transaction that
    // commits only once the update waits for it.
    QTest::addColumn<QString>("meanwhile");
    // What the update found / the event stored afterwards (title|notes|end|staff); after "then", once more
    // with what it found as the base.
    QTest::addColumn<QString>("expected");
    const QString mine = "Mine|n|11:30:00|1", theirs = "Run|theirs|11:30:00|1";
    QTest::newRow("unchanged") << "" << "Updated / " + mine;
    QTest::newRow("the same values saved again") << "title = 'Run'" << "Updated / " + mine;
    QTest::newRow("notes changed") << "Notes = 'theirs'"
                                   << "Changed " + theirs + " / " + theirs + " then Updated / " + mine;
    QTest::newRow("seconds of the end changed")
        << "EventTimeEnd = '2026-06-15 11:30:20'"
        << "Changed Run|n|11:30:20|1 / Run|n|11:30:20|1 then Updated / " + mine;
    QTest::newRow("staff member changed") << "idPOC = 9" << "Changed Run|n|11:30:00|9 / Run|n|11:30:00|9 then Updated / " + mine;
    QTest::newRow("deleted") << "delete" << "Gone / none";
    QTest::newRow("saved while the update reads") << "held Notes = 'theirs'"
                                                  << "Changed " + theirs + " / " + theirs + " then Updated / " + mine;
}

// A save by another copy since the base was read is never written over.
void tst_Store::updateIfUnchanged()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, expected);
    const bool held = meanwhile.startsWith("held ");
    TestDatabase db;
    const QDate d(2026, 6, 15);
    const int coach = db.addStaff("Coach", "Whistle");
    const int key = db.addEvent("Run", QDateTime(d, QTime(10, 0), Qt::UTC), QDateTime(d, QTime(11, 30), Qt::UTC),
                                coach, "d", "n");
    store::Connection conn;
    conn.open(db.connectionString());
    store::Event base = store::Events::readOne(conn, key).value();
    const statements::EventValues mine{"Mine", "d", "n", d, QTime(10, 0), d, QTime(11, 30), coach};
    const QString where = QStringLiteral(" WHERE idScheduledEvent = %1").arg(key);
    auto stored = [](const std::optional<store::Event> &e) {
        return e ? QStringList{e->values.title, e->values.notes, e->end().toString("HH:mm:ss"),
                               QString::number(e->values.staffId)}.join('|')
                 : "none";
    };
    store::Events::UpdateResult result;
    if (held && TestDatabase::engine() == store::Engine::Sqlite) {
        // A writer waiting for the file cannot be seen; what the update relies on is that its transaction
        // holds the write lock from the start, so another copy's save cannot land until it ends.
        store::Connection other;
        other.open(db.connectionString());
        store::Transaction locked(conn, store::Connection::Begin::WriteLocked);
        QVERIFY_THROWS_EXCEPTION(StoreError, other.execute("UPDATE tblScheduledEvents SET " + meanwhile.mid(5) + where));
        return;
    }
    if (held) {
        store::Connection other;
        other.open(db.connectionString());
        other.beginTransaction();
        other.execute("UPDATE tblScheduledEvents SET " + meanwhile.mid(5) + where);
        QString failure;
        std::thread copy([&] {
            try {
                store::Connection c;
                c.open(db.connectionString());
                result = store::Events::updateIfUnchanged(c, key, base, mine);
            } catch (const StoreError &e) {
                failure = e.description();
            }
            store::dropIdleServerConnections(); // none kept for a thread that ends
        });
        QTRY_VERIFY(db.scalar("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() "
                              "AND wait_event_type = 'Lock'").toInt() > 0);
        other.commitTransaction();
        copy.join();
        QCOMPARE(failure, QString());
    } else {
        if (meanwhile == "delete")
            db.exec("DELETE FROM tblScheduledEvents" + where);
        else if (!meanwhile.isEmpty())
            db.exec("UPDATE tblScheduledEvents SET " + meanwhile + where);
        result = store::Events::updateIfUnchanged(conn, key, base, mine);
    }
    using Outcome = store::Events::UpdateResult::Outcome;
    QStringList got;
    for (;;) {
        const char *outcome = result.outcome == Outcome::Updated ? "Updated" : result.outcome == Outcome::Gone ? "Gone" : "Changed";
        got << QString(outcome) + (result.current ? " " + stored(result.current) : "") + " / "
                   + stored(store::Events::readOne(conn, key));
        if (result.outcome != Outcome::Changed || got.size() > 1)
            break;
        base = *result.current;
        result = store::Events::updateIfUnchanged(conn, key, base, mine);
    }
    QCOMPARE(got.join(" then "), expected);
}

void tst_Store::find_data()
{
    QTest::addColumn<QString>("change"); // raw statements after the events are stored
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("found"); // "title / staff member", newest first
    const QString training = "Club training / Dana Whitfield", cafe = "Café meeting / Zoë Ångström",
                  keeper = "Goalkeeper session / Marco Reyes", drill = "Coach s drill / Dana Whitfield",
                  elan = "ÉLAN warm-up / ";
    QTest::newRow("title") << "" << "training" << 50 << QStringList{training};
    QTest::newRow("description") << "" << "shooting" << 50 << QStringList{training};
    QTest::newRow("notes") << "" << "bibs" << 50 << QStringList{training};
    QTest::newRow("staff member, newest first") << "" << "whitfield" << 50 << QStringList{drill, training};
    QTest::newRow("limit") << "" << "whitfield" << 1 << QStringList{drill};
    QTest::newRow("upper case typed") << "" << "CLUB" << 50 << QStringList{training};
    QTest::newRow("accent stored, none typed") << "" << "cafe" << 50 << QStringList{cafe};
    QTest::newRow("accent typed, none stored") << "" << "trâining" << 50 << QStringList{training};
    QTest::newRow("accented capitals stored") << "" << "élan" << 50 << QStringList{elan};
    QTest::newRow("accented staff member") << "" << "zoe angstrom" << 50 << QStringList{cafe};
    QTest::newRow("several words, each somewhere") << "" << "dana drill" << 50 << QStringList{drill};
    QTest::newRow("several words, one missing") << "" << "club keepers" << 50 << QStringList{};
    QTest::newRow("beginning of a word") << "" << "goalk" << 50 << QStringList{keeper};
    QTest::newRow("beginning of every word") << "" << "sess goal" << 50 << QStringList{keeper};
    QTest::newRow("middle of a word") << "" << "alkeeper" << 50 << QStringList{};
    QTest::newRow("no match") << "" << "volleyball" << 50 << QStringList{};
    QTest::newRow("nothing but signs") << "" << "* \" ' -" << 50 << QStringList{};
    QTest::newRow("apostrophe") << "" << "coach's" << 50 << QStringList{drill};
    QTest::newRow("double quotes") << "" << "\"quoted" << 50 << QStringList{drill};
    QTest::newRow("operator words") << "" << "AND" << 50 << QStringList{drill, training};
    QTest::newRow("operator syntax") << "" << "NEAR(rotate keepers) OR" << 50 << QStringList{};
    QTest::newRow("column filter") << "" << "title:club" << 50 << QStringList{};
    QTest::newRow("negation") << "" << "-training" << 50 << QStringList{training};
    QTest::newRow("prefix sign") << "" << "^club*" << 50 << QStringList{training};
    QTest::newRow("signs between words") << "" << "club + bibs -" << 50 << QStringList{training};
    QTest::newRow("statement") << "" << "x'); DROP TABLE tblPOCs; --" << 50 << QStringList{};
    QTest::newRow("date literal") << "" << "#1/2/2026#" << 50 << QStringList{};
    QTest::newRow("event renamed") << "UPDATE tblScheduledEvents SET title = 'Match day' WHERE idScheduledEvent = 1"
                                   << "club" << 50 << QStringList{};
    QTest::newRow("event renamed, new title") << "UPDATE tblScheduledEvents SET title = 'Match day' WHERE idScheduledEvent = 1"
                                              << "match" << 50 << QStringList{"Match day / Dana Whitfield"};
    QTest::newRow("event moved") << "UPDATE tblScheduledEvents SET EventTime = '2026-12-10 18:00:00' WHERE idScheduledEvent = 1"
                                 << "whitfield" << 50 << QStringList{training, drill};
    QTest::newRow("event deleted") << "DELETE FROM tblScheduledEvents WHERE idScheduledEvent = 1" << "whitfield" << 50
                                   << QStringList{drill};
    QTest::newRow("event of another staff member") << "UPDATE tblScheduledEvents SET idPOC = 3 WHERE idScheduledEvent = 1"
                                                   << "marco" << 50 << QStringList{"Club training / Marco Reyes", keeper};
    QTest::newRow("staff member renamed") << "UPDATE tblPOCs SET pocName = 'Dana Smith' WHERE idPOC = 1" << "smith" << 50
                                          << QStringList{"Coach s drill / Dana Smith", "Club training / Dana Smith"};
    QTest::newRow("staff member renamed, old name") << "UPDATE tblPOCs SET pocName = 'Dana Smith' WHERE idPOC = 1"
                                                    << "whitfield" << 50 << QStringList{};
    QTest::newRow("staff member's notes changed") << "UPDATE tblPOCs SET pocDescription = 'x' WHERE idPOC = 1"
                                                  << "whitfield" << 50 << QStringList{drill, training};
    QTest::newRow("staff member deleted") << "DELETE FROM tblPOCs WHERE idPOC = 3" << "marco" << 50 << QStringList{};
    QTest::newRow("staff member deleted, events stay") << "DELETE FROM tblPOCs WHERE idPOC = 3" << "goalkeeper" << 50
                                                       << QStringList{"Goalkeeper session / "};
    // More than the server sorts: it walks the events from the newest back.
    QTest::newRow("a word in thousands of events") << "6000 warm-ups" << "warm" << 3
                                                   << QStringList{elan, "Warm-up / Zoë Ångström", "Warm-up / Zoë Ångström"};
    QTest::newRow("staff member added under a key events name")
        << "INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(9, 'Olu Bello', '')" << "bello" << 50
        << QStringList{"ÉLAN warm-up / Olu Bello"};
}

void tst_Store::find()
{
    QFETCH(QString, change);
    QFETCH(QString, typed);
    QFETCH(int, limit);
    QFETCH(QStringList, found);
    TestDatabase db;
    const int dana = db.addStaff("Dana Whitfield", "");
    const int zoe = db.addStaff("Zoë Ångström", "");
    const int marco = db.addStaff("Marco Reyes", "");
    QCOMPARE(marco, 3);
    auto at = [](int day, int hour) { return QDateTime(QDate(2026, 12, day), QTime(hour, 0), Qt::UTC); };
    QCOMPARE(db.addEvent("Club training", at(7, 18), at(7, 19), dana, "Passing and shooting", "Bring bibs"), 1);
    db.addEvent("Café meeting", at(8, 9), at(8, 10), zoe, "Season plan");
    db.addEvent("Goalkeeper session", at(5, 10), at(5, 11), marco, "Cross handling", "Keepers rotate every 5 shots.");
    db.addEvent("ÉLAN warm-up", at(1, 8), at(1, 9), 9);
    store::Connection conn;
    conn.open(db.connectionString());
    // Saved as the editor saves it.
    statements::EventValues v;
    v.title = "Coach's drill";
    v.description = "50% \"quoted\" words";
    v.notes = "x AND y OR NEAR(z)";
    v.startDate = v.endDate = QDate(2026, 12, 9);
    v.startTime = QTime(16, 0);
    v.endTime = QTime(17, 0);
    v.staffId = dana;
    conn.execute(statements::insertEvent(v));
    if (change == "6000 warm-ups") {
        const bool server = TestDatabase::engine() == store::Engine::Postgres;
        db.exec(QString("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                        "SELECT 'Warm-up', '', '', %1'2025-06-01 10:00:00', %1'2025-06-01 11:00:00', 2 FROM %2")
                    .arg(server ? "TIMESTAMP " : "", server ? "generate_series(1, 6000)"
                                                           : "(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                                             "FROM n WHERE i < 6000) SELECT i FROM n)"));
        change.clear();
    }
    for (const QString &statement : change.split(';', Qt::SkipEmptyParts))
        db.exec(statement);

    QStringList got;
    for (const store::Event &e : store::EventSearch::find(conn, typed, limit)) {
        got << e.values.title + " / " + e.staffName;
        QCOMPARE(store::Events::readOne(conn, e.id)->values.title, e.values.title);
    }
    QCOMPARE(got, found);
    // What was typed was never taken as part of a statement.
    QVERIFY(db.count("tblPOCs") >= 2);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tst_Store test;
    return TestDatabase::runOnEachEngine(&test, argc, argv);
}
#include "tst_store.moc"
