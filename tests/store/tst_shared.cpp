// Two copies of the program on one PostgreSQL server: what one saves, the
// other hears about and reads; a dropped connection comes back by itself.

#include "store/ChangeListener.h"
#include "store/Connection.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

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
    void otherCopyHears_data();
    void otherCopyHears();
    void serverDropsConnections();
};

void tst_Shared::initTestCase()
{
    TestDatabase::setEngine(store::Engine::Postgres);
    try {
        TestDatabase db;
    } catch (const std::exception &e) {
        QFAIL(qPrintable(QStringLiteral("no PostgreSQL test server: ") + QString::fromUtf8(e.what())));
    }
}

void tst_Shared::otherCopyHears_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("dayAfter"); // titles the listening copy reads for the day
    const statements::EventValues v{"Sprints", "", "", kDay, QTime(9, 0), kDay, QTime(10, 0), 1};
    const QStringList before{"Warm-up"};
    QTest::newRow("event saved") << statements::insertEvent(v) << "tblscheduledevents" << QStringList{"Warm-up", "Sprints"};
    QTest::newRow("event changed") << statements::updateEvent(v, 1) << "tblscheduledevents" << QStringList{"Sprints"};
    QTest::newRow("event deleted") << statements::deleteEvent(1) << "tblscheduledevents" << QStringList();
    QTest::newRow("template added") << statements::insertTemplate("Rondo", "") << "tblpredefinedevents" << before;
    QTest::newRow("template deleted") << statements::deleteTemplate(1) << "tblpredefinedevents" << before;
    QTest::newRow("staff member changed") << statements::updateStaff("Dana", "", 1) << "tblpocs" << before;
    QTest::newRow("staff member deleted") << statements::deleteStaff(1) << "tblpocs" << before;
}

void tst_Shared::otherCopyHears()
{
    QFETCH(QString, statement);
    QFETCH(QString, table);
    QFETCH(QStringList, dayAfter);
    TestDatabase db;
    db.addTemplate("Passing", "");
    db.addStaff("Marco", "");
    db.addEvent("Warm-up", QDateTime(kDay, QTime(8, 0), Qt::UTC), QDateTime(kDay, QTime(8, 30), Qt::UTC), 1);

    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(db.connectionString());
    QVERIFY(listening.isListening());
    QCOMPARE(titlesOfDay(db.connectionString()), QStringList{"Warm-up"});

    store::Connection saving;
    saving.open(db.connectionString());
    QElapsedTimer clock;
    clock.start();
    saving.execute(statement);
    QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 1000);
    QCOMPARE(heard.takeFirst().at(0).toString(), table);
    QCOMPARE(titlesOfDay(db.connectionString()), dayAfter);
    QCOMPARE_LT(clock.elapsed(), 1000);
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
            " WHERE application_name = 'orvenna' AND pid <> pg_backend_pid()");
    // The next command works at once, and the listener comes back on its own
    // and says that anything may have changed.
    QCOMPARE(titlesOfDay(db.connectionString()), QStringList{"Warm-up"});
    QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 8000);
    QCOMPARE(heard.takeFirst().at(0).toString(), QString());
    store::Connection saving;
    saving.open(db.connectionString());
    saving.execute(statements::deleteEvent(1));
    QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 1000);
    QCOMPARE(heard.takeFirst().at(0).toString(), QStringLiteral("tblscheduledevents"));
}

#include "support/TestMain.h"
ORVENNA_TEST_GUILESS_MAIN(tst_Shared)
#include "tst_shared.moc"
