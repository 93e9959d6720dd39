#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFile>
#include <QTest>

using store::StoreError;

class tst_Store : public QObject
{
    Q_OBJECT

private slots:
    void connectionString();
    void dialect_data();
    void dialect();
    void malformedLiteral_data();
    void malformedLiteral();
    void dayQueryBounds_data();
    void dayQueryBounds();
    void textsRoundTrip_data();
    void textsRoundTrip();
    void readsIgnoreCase();
    void nullReads_data();
    void nullReads();
    void openFailures_data();
    void openFailures();
    void largeIds();
    void updateAndDeleteOfMissingRow();
};

void tst_Store::connectionString()
{
    const QString cs = store::connectionStringFor(QStringLiteral("/opt/orvenna/"));
    const QString sep = QDir::separator();
    QCOMPARE(cs, QStringLiteral("DRIVER=Driver do Microsoft Access (*.mdb);DBQ=") + QDir::toNativeSeparators("/opt/orvenna")
                     + sep + QStringLiteral("eventDB.mdb;"));
    QCOMPARE(store::databasePathOf(cs), QStringLiteral("/opt/orvenna/eventDB.mdb"));
    // A folder with a ';' of its own still yields the whole path.
    QCOMPARE(store::databasePathOf(store::connectionStringFor(QStringLiteral("/tmp/a;b"))),
             QStringLiteral("/tmp/a;b/eventDB.mdb"));
}

void tst_Store::dialect_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected");
    QTest::newRow("minutes") << "x = #3/14/2007 14:30#" << "x = '2007-03-14 14:30:00'";
    QTest::newRow("seconds") << "BETWEEN #12/5/2026 00:00:00# AND #12/5/2026 23:59:59#"
                             << "BETWEEN '2026-12-05 00:00:00' AND '2026-12-05 23:59:59'";
    QTest::newRow("date only") << "#1/2/2027#" << "'2027-01-02 00:00:00'";
    QTest::newRow("leap day") << "#2/29/2028 7:05#" << "'2028-02-29 07:05:00'";
    QTest::newRow("hash inside text") << "VALUES('Drill #3 at #1', #1/1/2026 09:00#)"
                                      << "VALUES('Drill #3 at #1', '2026-01-01 09:00:00')";
    QTest::newRow("doubled quote stays inside") << "'it''s #1' #1/1/2026 09:00#" << "'it''s #1' '2026-01-01 09:00:00'";
    QTest::newRow("no literal") << "SELECT * from tblPOCs" << "SELECT * from tblPOCs";
}

void tst_Store::dialect()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    QCOMPARE(store::toSqlite(statement), expected);
}

void tst_Store::malformedLiteral_data()
{
    QTest::addColumn<QString>("statement");
    QTest::newRow("month 13") << "#13/1/2007 10:00#";
    QTest::newRow("no such day") << "#2/30/2026 10:00#";
    QTest::newRow("two-digit year") << "#3/14/07 10:00#";
    QTest::newRow("hour 25") << "#3/14/2007 25:00#";
    QTest::newRow("one-digit minute") << "#3/14/2007 10:5#";
    QTest::newRow("trailing text") << "#3/14/2007 10:05 PM#";
    QTest::newRow("words") << "#today#";
    QTest::newRow("unterminated") << "x = #3/14/2007";
    QTest::newRow("day first") << "#14.3.2007 10:00#";
}

void tst_Store::malformedLiteral()
{
    QFETCH(QString, statement);
    try {
        const QString translated = store::toSqlite(statement);
        QFAIL(qPrintable(QStringLiteral("accepted as ") + translated));
    } catch (const StoreError &e) {
        QVERIFY(!e.description().isEmpty());
    }
    // Executed, the failure reaches the caller with its description and writes nothing.
    TestDatabase db;
    store::Connection conn;
    conn.open(db.connectionString());
    QVERIFY_THROWS_EXCEPTION(StoreError, conn.execute(QStringLiteral("INSERT INTO tblScheduledEvents(EventTime) VALUES(") + statement + ")"));
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
    const int id = db.addEvent("e", start, start, 1);

    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::eventsOfDay(day));
    QList<int> ids;
    for (; !rs.eof(); rs.moveNext())
        ids << rs.integer("idScheduledEvent");
    QCOMPARE(ids.contains(id), listed);
}

void tst_Store::textsRoundTrip_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("apostrophe") << "Coach's drill" << "Coach s drill";
    QTest::newRow("several apostrophes") << "'a' 'b'" << " a   b ";
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
    statements::EventValues v;
    v.title = typed;
    v.description = typed;
    v.notes = typed;
    v.startDate = v.endDate = QDate(2026, 12, 6);
    v.startTime = QTime(9, 5);
    v.endTime = QTime(14, 30);
    v.staffId = 1;
    conn.execute(statements::insertEvent(v));
    QCOMPARE(db.count("tblPOCs"), 0);
    QCOMPARE(db.count("tblScheduledEvents"), 1);

    store::RowSet rs = conn.execute(statements::eventById(db.scalar("SELECT max(idScheduledEvent) FROM tblScheduledEvents").toInt()));
    QVERIFY(!rs.eof());
    QCOMPARE(rs.text("title"), stored);
    QCOMPARE(rs.text("Description"), stored);
    QCOMPARE(rs.text("notes"), stored);
    QCOMPARE(rs.dateTime("EventTime"), QDateTime(QDate(2026, 12, 6), QTime(9, 5), Qt::UTC));
    QCOMPARE(rs.dateTime("eventTimeEnd"), QDateTime(QDate(2026, 12, 6), QTime(14, 30), Qt::UTC));
}

void tst_Store::readsIgnoreCase()
{
    TestDatabase db;
    db.addStaff("Head Coach", "notes");
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::allStaff());
    QCOMPARE(rs.text("pocName"), QStringLiteral("Head Coach"));
    QCOMPARE(rs.text("POCNAME"), QStringLiteral("Head Coach"));
    QCOMPARE(rs.text("pocname"), QStringLiteral("Head Coach"));
    QCOMPARE(rs.integer("IDPOC"), 1);
    QVERIFY_THROWS_EXCEPTION(StoreError, (void)rs.text("noSuchColumn"));
}

void tst_Store::nullReads_data()
{
    QTest::addColumn<QString>("column");
    QTest::addColumn<int>("kind"); // 0 text, 1 integer, 2 date-time
    QTest::newRow("text") << "Notes" << 0;
    QTest::newRow("number") << "idPOC" << 1;
    QTest::newRow("date-time") << "EventTimeEnd" << 2;
}

void tst_Store::nullReads()
{
    QFETCH(QString, column);
    QFETCH(int, kind);
    TestDatabase db;
    db.exec("INSERT INTO tblScheduledEvents(title, EventTime) VALUES('t', '2026-12-06 10:00:00')");
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::eventById(1));
    try {
        if (kind == 0)
            (void)rs.text(column);
        else if (kind == 1)
            (void)rs.integer(column);
        else
            (void)rs.dateTime(column);
        QFAIL("a NULL was read as a value");
    } catch (const StoreError &e) {
        QVERIFY2(e.description().contains(column), qPrintable(e.description()));
    }
}

void tst_Store::openFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file at all
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << "Could not find file";
    QTest::newRow("not a database") << QByteArray("Standard Jet DB\0 but not really", 32) << "not a database";
    QTest::newRow("text file") << QByteArray(4096, 'x') << "not a database";
}

void tst_Store::openFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    TestDatabase db(false);
    if (!content.isEmpty()) {
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
    QCOMPARE(QFile::exists(db.path()), !content.isEmpty());
    if (!content.isEmpty()) {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content); // untouched
    }
}

void tst_Store::largeIds()
{
    TestDatabase db;
    db.exec("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(40001, 'Far', '')");
    db.exec("INSERT INTO tblScheduledEvents(idScheduledEvent, title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
            "VALUES(40000, 'Late id', '', '', '2026-12-06 10:00:00', '2026-12-06 11:00:00', 40001)");
    store::Connection conn;
    conn.open(db.connectionString());
    {
        store::RowSet rs = conn.execute(statements::eventReport(40000));
        QVERIFY(!rs.eof());
        QCOMPARE(rs.text("title"), QStringLiteral("Late id"));
        QCOMPARE(rs.text("pocName"), QStringLiteral("Far"));
    }
    {
        store::RowSet rs = conn.execute(statements::eventsOfDay(QDate(2026, 12, 6)));
        QCOMPARE(rs.integer("idScheduledEvent"), 40000);
        QCOMPARE(rs.integer("idPOC"), 40001);
    }
    conn.execute(statements::deleteEvent(40000));
    QCOMPARE(db.count("tblScheduledEvents"), 0);

    db.exec("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(3000000000, 'Too far', '')");
    store::RowSet rs = conn.execute(statements::staffById(0) + " OR idPOC = 3000000000");
    QVERIFY_THROWS_EXCEPTION(StoreError, (void)rs.integer("idPOC"));
}

void tst_Store::updateAndDeleteOfMissingRow()
{
    TestDatabase db;
    const int id = db.addTemplate("Keep", "me");
    store::Connection conn;
    conn.open(db.connectionString());
    conn.execute(statements::updateTemplate("Other", "text", id + 1));
    conn.execute(statements::deleteTemplate(-1));
    store::RowSet rs = conn.execute(statements::templateById(id));
    QCOMPARE(rs.text("Title"), QStringLiteral("Keep"));
    QCOMPARE(rs.text("description"), QStringLiteral("me"));
}

QTEST_GUILESS_MAIN(tst_Store)
#include "tst_store.moc"
