// What users' machines do to the database file: another program holding a
// write lock, a file made read-only or cut short, the program killed mid-save.

#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTextStream>

#include <sched.h>
#include <sys/mount.h>

namespace {

statements::EventValues sampleEvent(int n = 0)
{
    return {QStringLiteral("save %1").arg(n), QString(200, QLatin1Char('d')), QString(),
            QDate(2026, 12, 6), QTime(n % 24, n % 60), QDate(2026, 12, 6), QTime(n % 24, n % 60), 1};
}

// Holds a write transaction on the file until its standard input closes.
int runLocker(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(path);
    QSqlQuery q(db);
    if (!db.open() || !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))
        || !q.exec(QStringLiteral("INSERT INTO tblPOCs(pocName, pocDescription) VALUES('other program', '')")))
        return 2;
    fputs("locked\n", stdout);
    fflush(stdout);
    char buffer[16];
    while (fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    return q.exec(QStringLiteral("COMMIT")) ? 0 : 3;
}

// Saves events the way the editor does (a connection per save, every third
// edited again) and says which succeeded, one line each, until it is killed.
int runSaver(const QString &folder, int first)
{
    QTextStream out(stdout);
    for (int n = first;; ++n) {
        statements::EventValues v = sampleEvent(n);
        store::Connection conn;
        conn.open(store::connectionStringFor(folder));
        conn.execute(statements::insertEvent(v));
        if (n % 3 == 0) {
            const int id = conn.execute(QStringLiteral("SELECT max(idScheduledEvent) AS id FROM tblScheduledEvents")).integer("id");
            v.notes = QStringLiteral("edited");
            conn.execute(statements::updateEvent(v, id));
        }
        conn.close();
        out << n << Qt::endl;
    }
}

// On a disk of its own that is nearly full (a small tmpfs in a mount namespace
// of this process), writes many events in one transaction, as an import does:
// they fit the page cache, so the disk fills only at the commit. Says what the
// user would be told and how many events are stored after.
int runFullAtCommit(const QString &folder)
{
    const QString small = folder + QStringLiteral("/small");
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=256k") != 0)
        return 77;
    if (!QFile::copy(folder + QStringLiteral("/eventDB.mdb"), small + QStringLiteral("/eventDB.mdb")))
        return 2;
    // Fill the disk, then give back a little: room for the journal, not for the events.
    QFile filler(small + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 2;
    const QByteArray block(4096, 'f');
    while (filler.write(block) == block.size()) {
    }
    if (!filler.resize(std::max<qint64>(0, filler.size() - 48 * 1024)))
        return 2;
    filler.close();
    QTextStream out(stdout);
    store::Connection conn;
    conn.open(store::connectionStringFor(small));
    conn.beginTransaction();
    try {
        for (int n = 0; n < 60; ++n) {
            statements::EventValues v = sampleEvent(n);
            v.description = QString(4000, QLatin1Char('d'));
            conn.execute(statements::insertEvent(v));
        }
        conn.commitTransaction();
        out << "committed\n";
    } catch (const store::StoreError &e) {
        conn.rollbackTransaction();
        out << e.description() << '\n' << e.details() << '\n';
    }
    out << conn.execute(QStringLiteral("SELECT count(*) AS n FROM tblScheduledEvents")).integer("n") << '\n';
    return 0;
}

// What a user is told, a line break and the details behind it; empty when the statement went through.
QString failureOf(const QString &connectionString, const QString &statement)
{
    try {
        store::Connection conn;
        conn.open(connectionString);
        store::RowSet rs = conn.execute(statement);
        for (; !rs.eof(); rs.moveNext())
            (void)rs.text("title");
    } catch (const store::StoreError &e) {
        return e.description() + QLatin1Char('\n') + e.details();
    }
    return {};
}

// The plain reasons, with the file's path for %1.
const QString kLocked = QStringLiteral("Another program holds the calendar file %1 locked. Close that program or wait "
                                       "until it has finished, then try again.");
const QString kReadOnly = QStringLiteral("The calendar file %1 is read-only, so nothing can be saved. Make the file "
                                         "and its folder writable, then try again.");

QProcess *startChild(QObject *parent, const char *role, const QString &value, const QString &first = QString())
{
    auto *child = new QProcess(parent);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(role), value);
    env.insert(QStringLiteral("ORVENNA_TEST_FIRST"), first);
    child->setProcessEnvironment(env);
    child->start(QCoreApplication::applicationFilePath(), {});
    return child;
}

} // namespace

class tst_StoreFaults : public QObject
{
    Q_OBJECT

private slots:
    void lockedByAnotherProgram_data();
    void lockedByAnotherProgram();
    void damagedFile_data();
    void damagedFile();
    void killedDuringSaves();
    void diskFullAtCommit();
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
    QProcess *locker = startChild(this, "ORVENNA_TEST_LOCK", db.path());
    QVERIFY(locker->waitForReadyRead(10000));
    QCOMPARE(locker->readLine().trimmed(), QByteArray("locked"));

    const QString failure = failureOf(db.connectionString(), statement);
    QCOMPARE(failure.section('\n', 0, 0), kLocked.arg(db.path()));
    QVERIFY2(failure.section('\n', 1).contains("database is locked"), qPrintable(failure));

    locker->closeWriteChannel();
    QVERIFY(locker->waitForFinished(10000));
    QCOMPARE(locker->exitCode(), 0);
    // Nothing was lost: ours is as it was, the other program's row landed,
    // and the same operation goes through once the lock is gone.
    QCOMPARE(db.scalar("SELECT title || EventTime FROM tblScheduledEvents").toString(), QStringLiteral("Kept2026-12-06 08:00:00"));
    QCOMPARE(db.count("tblPOCs"), 1);
    QCOMPARE(failureOf(db.connectionString(), statement), QString());
}

void tst_StoreFaults::damagedFile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("told");   // the plain reason, %1 the file's path
    QTest::addColumn<QString>("reason"); // in the driver's words, kept as the details
    // A write version above 2 in the header makes SQLite treat the file as
    // read-only, which a permission bit cannot do for root.
    QTest::newRow("read-only") << "read-only" << kReadOnly << "readonly";
    QTest::newRow("cut short") << "cut short"
                               << "The calendar file %1 is damaged. Put back a copy from a backup, or make a new one "
                                  "with orvenna-newdb." << "malformed";
    QTest::newRow("missing") << "missing"
                             << "The calendar file %1 is missing. Put it back, or make a new one with orvenna-newdb."
                             << "Could not find file";
    const QString notCalendar = "The file %1 is not a calendar database: its tables are missing. Replace it with a "
                                "calendar file, or make a new one with orvenna-newdb.";
    QTest::newRow("not a database") << "text" << notCalendar << "file is not a database";
    QTest::newRow("a database without the tables") << "empty" << notCalendar << "no such table";
    // The store's own limit on the file, as a full disk shows to SQLite.
    QTest::newRow("disk full") << "full"
                               << "The disk that holds the calendar file %1 is full. Free some space on it, then try "
                                  "again." << "database or disk is full";
}

void tst_StoreFaults::damagedFile()
{
    QFETCH(QString, damage);
    QFETCH(QString, told);
    QFETCH(QString, reason);
    TestDatabase db;
    for (int i = 0; i < 400; ++i)
        db.addTemplate(QStringLiteral("Template %1").arg(i), QString(300, QLatin1Char('x')));
    QFile f(db.path());
    QString statement = statements::insertTemplate("New", "one");
    if (damage == "read-only" || damage == "cut short") {
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (damage == "cut short") {
            QVERIFY(f.resize(f.size() / 2));
            statement = statements::allTemplates();
        } else {
            f.seek(18);
            f.write("\x03", 1);
        }
        f.close();
    } else if (damage == "missing") {
        QVERIFY(f.remove());
    } else if (damage == "text" || damage == "empty") {
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        if (damage == "text")
            f.write(QByteArray("Team sheet, not a calendar.\n").repeated(100));
        f.close();
    }
    QString failure;
    if (damage == "full") {
        // SQLite's page limit is set per connection; the store's failure is built from the driver's error as always.
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("full"));
        raw.setDatabaseName(db.path());
        QVERIFY(raw.open());
        QSqlQuery q(raw);
        QVERIFY(q.exec(QStringLiteral("PRAGMA max_page_count = 1")));
        QVERIFY(!q.exec(QStringLiteral("INSERT INTO tblPredefinedEvents(title, Description) VALUES('x', '%1')")
                            .arg(QString(100000, QLatin1Char('x')))));
        const store::StoreError e = store::errorFrom(q.lastError(), db.path());
        failure = e.description() + QLatin1Char('\n') + e.details();
        q = QSqlQuery();
        raw = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("full"));
    } else {
        failure = failureOf(db.connectionString(), statement);
    }
    QCOMPARE(failure.section('\n', 0, 0), told.arg(db.path()));
    QVERIFY2(failure.section('\n', 1).contains(reason), qPrintable(failure));
}

void tst_StoreFaults::killedDuringSaves()
{
    TestDatabase db;
    db.addStaff("Coach", "");
    const int runs = 60;
    QSet<int> saved;
    int next = 1;
    for (int run = 0; run < runs; ++run) {
        QProcess *child = startChild(this, "ORVENNA_TEST_SAVE", db.folder(), QString::number(next));
        QVERIFY(child->waitForStarted());
        // Killed in the middle of the saves after some number of them, whatever the machine's speed.
        const int before = 1 + QRandomGenerator::global()->bounded(4);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += child->readAllStandardOutput()).count('\n') >= before, 60000);
        child->kill();
        QVERIFY(child->waitForFinished());
        out += child->readAllStandardOutput();
        for (const QByteArray &line : out.split('\n')) {
            bool ok = false;
            const int n = line.trimmed().toInt(&ok);
            if (ok) {
                saved.insert(n);
                next = std::max(next, n + 1);
            }
        }
        next += 1000; // a save cut short may still have landed; keep numbers apart
        delete child;
        QCOMPARE(db.scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
    QVERIFY2(saved.size() > runs, "the saver saved too little to prove anything");
    int lost = 0;
    for (int n : std::as_const(saved))
        lost += db.scalar(QStringLiteral("SELECT count(*) FROM tblScheduledEvents WHERE title = 'save %1'").arg(n)).toInt() == 1 ? 0 : 1;
    qInfo("kill test: %d runs, %lld saves reported, %d lost", runs, qint64(saved.size()), lost);
    QCOMPARE(lost, 0);
}

void tst_StoreFaults::diskFullAtCommit()
{
    TestDatabase db;
    db.addStaff("Coach", "");
    QVERIFY(QDir(db.folder()).mkdir("small"));
    QProcess *child = startChild(this, "ORVENNA_TEST_FULL", db.folder());
    QVERIFY(child->waitForFinished(60000));
    if (child->exitCode() == 77)
        QSKIP("no room for a small disk of its own (needs mount namespaces)");
    QCOMPARE(child->exitCode(), 0);
    const QStringList told = QString::fromUtf8(child->readAllStandardOutput()).split('\n');
    QCOMPARE(told.value(0), QStringLiteral("The disk that holds the calendar file %1 is full. Free some space on it, "
                                           "then try again.")
                                .arg(QDir::toNativeSeparators(db.folder() + "/small/eventDB.mdb")));
    QVERIFY2(told.value(1).contains("database or disk is full"), qPrintable(told.join('|')));
    QCOMPARE(told.value(2), QStringLiteral("0"));
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("ORVENNA_TEST_LOCK"))
        return runLocker(qEnvironmentVariable("ORVENNA_TEST_LOCK"));
    if (qEnvironmentVariableIsSet("ORVENNA_TEST_FULL"))
        return runFullAtCommit(qEnvironmentVariable("ORVENNA_TEST_FULL"));
    if (qEnvironmentVariableIsSet("ORVENNA_TEST_SAVE"))
        return runSaver(qEnvironmentVariable("ORVENNA_TEST_SAVE"), qEnvironmentVariableIntValue("ORVENNA_TEST_FIRST"));
    tst_StoreFaults test;
    return runTestFunctions(test, argc, argv);
}

#include "tst_storefaults.moc"
