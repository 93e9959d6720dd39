// What users' machines do to the database file: another program holding a
// write lock, a file made read-only, a file cut short.

#include "store/Connection.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

namespace {

const char *const kLockerVariable = "ORVENNA_LOCKER_DATABASE";

// Holds a write transaction on the file until its standard input closes.
int runLocker(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    if (!db.open())
        return 1;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN EXCLUSIVE"))
        || !q.exec(QStringLiteral("INSERT INTO tblPOCs(pocName, pocDescription) VALUES('from the other program', '')")))
        return 2;
    fputs("locked\n", stdout);
    fflush(stdout);
    char buffer[16];
    while (fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return q.exec(QStringLiteral("COMMIT")) ? 0 : 3;
}

statements::EventValues sampleEvent()
{
    statements::EventValues v;
    v.title = QStringLiteral("Shooting drill");
    v.startDate = v.endDate = QDate(2026, 12, 6);
    v.startTime = QTime(9, 0);
    v.endTime = QTime(10, 0);
    v.staffId = 1;
    return v;
}

QString failureOf(const QString &connectionString, const QString &statement)
{
    try {
        store::Connection conn;
        conn.open(connectionString);
        conn.execute(statement);
    } catch (const store::StoreError &e) {
        return e.description();
    }
    return {};
}

} // namespace

class tst_StoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void lockedByAnotherProgram_data();
    void lockedByAnotherProgram();
    void readOnlyFile();
    void truncatedFile();
};

void tst_StoreFaults::lockedByAnotherProgram_data()
{
    QTest::addColumn<QString>("statement");
    QTest::newRow("insert") << statements::insertEvent(sampleEvent());
    QTest::newRow("update") << statements::updateEvent(sampleEvent(), 1);
    QTest::newRow("delete") << statements::deleteEvent(1);
    QTest::newRow("read") << statements::eventsOfDay(QDate(2026, 12, 6));
}

void tst_StoreFaults::lockedByAnotherProgram()
{
    QFETCH(QString, statement);
    TestDatabase db;
    db.addEvent("Kept", QDateTime(QDate(2026, 12, 6), QTime(8, 0), Qt::UTC), QDateTime(QDate(2026, 12, 6), QTime(9, 0), Qt::UTC), 1);
    const QString before = db.scalar("SELECT title || EventTime FROM tblScheduledEvents").toString();

    QProcess locker;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kLockerVariable, db.path());
    locker.setProcessEnvironment(env);
    locker.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(locker.waitForReadyRead(10000));
    QCOMPARE(locker.readLine().trimmed(), QByteArray("locked"));

    const QString failure = failureOf(db.connectionString(), statement);
    QVERIFY2(failure.contains("locked"), qPrintable(failure));

    locker.closeWriteChannel();
    QVERIFY(locker.waitForFinished(10000));
    QCOMPARE(locker.exitCode(), 0);
    // Nothing was lost: ours is as it was, the other program's row landed.
    QCOMPARE(db.scalar("SELECT title || EventTime FROM tblScheduledEvents WHERE idScheduledEvent = 1").toString(), before);
    QCOMPARE(db.count("tblPOCs"), 1);
    // The same operation goes through once the lock is gone.
    QCOMPARE(failureOf(db.connectionString(), statement), QString());
}

void tst_StoreFaults::readOnlyFile()
{
    TestDatabase db;
    db.addTemplate("Warm-up", "Jog");
    // A write version above 2 in the header makes SQLite treat the file as
    // read-only, which a permission bit cannot do for root.
    {
        QFile f(db.path());
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(18);
        f.write("\x03", 1);
    }
    store::Connection conn;
    conn.open(db.connectionString());
    store::RowSet rs = conn.execute(statements::allTemplates());
    QCOMPARE(rs.text("Title"), QStringLiteral("Warm-up"));
    rs.close();
    try {
        conn.execute(statements::insertTemplate("New", "one"));
        QFAIL("wrote to a read-only file");
    } catch (const store::StoreError &e) {
        QVERIFY2(e.description().contains("readonly") || e.description().contains("read-only"), qPrintable(e.description()));
    }
}

void tst_StoreFaults::truncatedFile()
{
    TestDatabase db;
    for (int i = 0; i < 400; ++i)
        db.addTemplate(QStringLiteral("Template %1").arg(i), QString(300, QLatin1Char('x')));
    QFile f(db.path());
    QVERIFY(f.resize(f.size() / 2));

    QString failure;
    try {
        store::Connection conn;
        conn.open(db.connectionString());
        store::RowSet rs = conn.execute(statements::allTemplates());
        for (; !rs.eof(); rs.moveNext())
            (void)rs.text("Title");
    } catch (const store::StoreError &e) {
        failure = e.description();
    }
    QVERIFY2(failure.contains("malformed"), qPrintable(failure));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray lockPath = qgetenv(kLockerVariable);
    if (!lockPath.isEmpty())
        return runLocker(QString::fromLocal8Bit(lockPath));
    tst_StoreFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_storefaults.moc"
