// The program killed in the middle of a burst of saves, many times over: the
// file must stay a sound database holding every save that reported success.

#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Statements.h"
#include "support/TestDatabase.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QTextStream>

namespace {

const char *const kChildVariable = "ORVENNA_KILL_CHILD_FOLDER";

// The child saves events the way the editor does (a connection per save) and
// says which ones succeeded, one line each, as soon as each returns.
int runChild(const QString &folder, int first)
{
    QTextStream out(stdout);
    const QString cs = store::connectionStringFor(folder);
    for (int n = first;; ++n) {
        statements::EventValues v;
        v.title = QStringLiteral("save %1").arg(n);
        v.description = QString(200, QLatin1Char('d'));
        v.notes = QStringLiteral("notes of %1").arg(n);
        v.startDate = v.endDate = QDate(2026, 12, 6).addDays(n % 30);
        v.startTime = QTime(n % 24, n % 60);
        v.endTime = v.startTime;
        v.staffId = 1;
        store::Connection conn;
        conn.open(cs);
        conn.execute(statements::insertEvent(v));
        if (n % 3 == 0) {
            // Every third save is edited again at once, as after a second Save.
            int id = 0;
            {
                store::RowSet rs = conn.execute(QStringLiteral("SELECT max(idScheduledEvent) AS id FROM tblScheduledEvents"));
                id = rs.integer(QStringLiteral("id"));
            }
            v.notes += QStringLiteral(" (edited)");
            conn.execute(statements::updateEvent(v, id));
        }
        conn.close();
        out << n << '\n';
        out.flush();
    }
}

} // namespace

class tst_KillSafety : public QObject
{
    Q_OBJECT

private slots:
    void killedDuringSaves();
};

void tst_KillSafety::killedDuringSaves()
{
    TestDatabase db;
    db.addStaff("Coach", "");
    const int runs = 60;
    int reported = 0;
    QSet<int> saved;
    int next = 1;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildVariable, db.folder());
        env.insert(QStringLiteral("ORVENNA_KILL_CHILD_FIRST"), QString::number(next));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        // Let it run a random while, then kill it without warning.
        QTest::qWait(40 + QRandomGenerator::global()->bounded(260));
        child.kill();
        QVERIFY(child.waitForFinished());
        const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            bool ok = false;
            const int n = line.trimmed().toInt(&ok);
            if (ok) {
                saved.insert(n);
                next = std::max(next, n + 1);
                ++reported;
            }
        }
        next += 1000; // a save cut short may still have landed; keep numbers apart

        QCOMPARE(db.scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    }
    QVERIFY2(reported > runs, "the child saved too little to prove anything");
    int lost = 0;
    for (int n : std::as_const(saved))
        lost += db.scalar(QStringLiteral("SELECT count(*) FROM tblScheduledEvents WHERE title = 'save %1'").arg(n)).toInt() == 1 ? 0 : 1;
    qInfo("kill test: %d runs, %d saves reported, %d lost", runs, reported, lost);
    QCOMPARE(lost, 0);
}

int main(int argc, char *argv[])
{
    const QByteArray folder = qgetenv(kChildVariable);
    if (!folder.isEmpty()) {
        QCoreApplication app(argc, argv);
        return runChild(QString::fromLocal8Bit(folder), qEnvironmentVariableIntValue("ORVENNA_KILL_CHILD_FIRST"));
    }
    QCoreApplication app(argc, argv);
    tst_KillSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killsafety.moc"
