// Times the CalDAV sync against a throw-away Radicale (the tests' davservers.sh):
// the first upload of 1,000 events, a sync with nothing changed, and one
// change here read back by an independent client (python3-caldav). Beside it,
// vdirsyncer uploads the same 1,000 events to the same server in the same run.
// Prints figures; not a test.

#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/StoreError.h"
#include "sync/CalDavClient.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimeZone>

#include "BenchSupport.h"

#include <vector>

namespace {

const QString kScripts = QStringLiteral(ORVENNA_SOURCE_DIR "/tests/sync");

QMap<QString, QString> readEnv(const QString &path)
{
    QMap<QString, QString> out;
    QFile env(path);
    if (env.open(QIODevice::ReadOnly))
        for (const QByteArray &line : env.readAll().split('\n'))
            if (const int eq = line.indexOf('='); eq > 0)
                out.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    return out;
}

bool runTool(const QString &program, const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        QTextStream(stderr) << program << " " << args.join(' ') << " failed: " << p.readAllStandardError() << "\n";
        return false;
    }
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    // As root the servers run as "nobody", who must pass through to their folder.
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    const QString davDir = dir.filePath(QStringLiteral("dav"));
    if (!runTool(QStringLiteral("bash"), {kScripts + QStringLiteral("/davservers.sh"), QStringLiteral("start"), davDir}))
        return 1;
    struct Stop
    {
        QString dir;
        ~Stop() { QProcess::execute(QStringLiteral("bash"), {kScripts + QStringLiteral("/davservers.sh"), QStringLiteral("stop"), dir}); }
    } stop{davDir};
    const QMap<QString, QString> env = readEnv(davDir + QStringLiteral("/servers.env"));

    caldav::Account account;
    account.url = QUrl(env.value(QStringLiteral("RADICALE_URL")));
    account.user = env.value(QStringLiteral("DAV_USER"));
    account.password = env.value(QStringLiteral("DAV_PASSWORD"));
    account.trustedFingerprint = env.value(QStringLiteral("RADICALE_FINGERPRINT"));

    // A calendar of 1,000 events, four a day.
    const QString folder = dir.filePath(QStringLiteral("plan"));
    QDir().mkpath(folder);
    const QString file = QDir(folder).filePath(QStringLiteral("eventDB.mdb"));
    store::createDatabase(file);
    const QDateTime base(QDate(2027, 1, 4), QTime(8, 0));
    bench::fillEvents(file, "INSERT INTO tblPOCs(pocName, pocDescription) VALUES('Dana Whitfield', 'Head coach')",
                      "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                      "VALUES(?, 'Three cones 10 m apart; two-touch passing.', 'Bring bibs', ?, ?, 1)",
                      1000, [&](int i) {
                          const QDateTime start = base.addDays(i / 4).addSecs(7200 * (i % 4));
                          return bench::EventRow{"Passing triangle " + QByteArray::number(i),
                                                 start.toString("yyyy-MM-dd HH:mm:ss").toUtf8(),
                                                 start.addSecs(3600).toString("yyyy-MM-dd HH:mm:ss").toUtf8()};
                      });
    const QString calendar = store::connectionStringFor(folder);

    try {
        caldav::CalDavClient client(account);
        const QUrl home = client.discover().home;
        const QUrl ours = client.makeCalendar(home, QStringLiteral("Orvenna bench")).url;
        const QUrl theirs = client.makeCalendar(home, QStringLiteral("vdirsyncer bench")).url;
        {
            caldav::Binding b;
            b.calendar = ours;
            b.user = account.user;
            b.trustedFingerprint = account.trustedFingerprint;
            b.fallbackStaffId = 1;
            store::Connection conn;
            conn.open(calendar);
            caldav::SyncEngine::bind(conn, b);
        }

        caldav::SyncEngine engine(calendar, account);
        QElapsedTimer t;
        t.start();
        const caldav::SyncOutcome first = engine.run();
        const double firstMs = t.nsecsElapsed() / 1e6;

        std::vector<double> idle;
        int idleRequests = 0;
        for (int run = 0; run < 11; ++run) {
            t.restart();
            idleRequests = engine.run().requests;
            idle.push_back(t.nsecsElapsed() / 1e6);
        }

        // The one request of an idle sync alone, on a client of its own: the server's share.
        QString token;
        {
            store::Connection conn;
            conn.open(calendar);
            store::RowSet rs = conn.execute(QStringLiteral("SELECT syncToken FROM tblSyncBinding"));
            if (!rs.eof())
                token = rs.text(QStringLiteral("syncToken"));
        }
        std::vector<double> reports;
        for (int run = 0; run < 11 && !token.isEmpty(); ++run) {
            caldav::CalDavClient bare(account);
            (void)bare.calendar(ours); // the connection and TLS set up first
            t.restart();
            (void)bare.syncCollection(ours, token);
            reports.push_back(t.nsecsElapsed() / 1e6);
        }

        // One change here, synced, then read by the phone's client.
        store::Connection conn;
        conn.open(calendar);
        std::optional<store::Event> event = store::Events::readOne(conn, 500);
        event->values.title = QStringLiteral("Moved to the far pitch");
        t.restart();
        store::Events::update(conn, 500, event->values);
        conn.close();
        engine.run();
        const double syncedMs = t.nsecsElapsed() / 1e6;
        QString listed;
        runTool(QStringLiteral("/usr/bin/python3"),
                {kScripts + QStringLiteral("/phone.py"), ours.toString(), account.user, account.password,
                 env.value(QStringLiteral("RADICALE_CERT")), QStringLiteral("list")},
                &listed);
        const double readMs = t.nsecsElapsed() / 1e6;

        // The same 1,000 events as one file each, uploaded by vdirsyncer.
        const QString vdir = dir.filePath(QStringLiteral("vdir"));
        QDir().mkpath(vdir);
        conn.open(calendar);
        const QString identity = exchange::calendarIdentity(conn);
        for (const exchange::StoredEvent &e : exchange::readEvents(conn, std::nullopt)) {
            const exchange::CalendarEvent c = exchange::toCalendarEvent(e, identity);
            QFile f(QDir(vdir).filePath(c.uid + QStringLiteral(".ics")));
            if (f.open(QIODevice::WriteOnly))
                f.write(exchange::writeCalendar({c}, QTimeZone::systemTimeZoneId()));
        }
        conn.close();
        const QString config = dir.filePath(QStringLiteral("vdirsyncer.conf"));
        {
            QFile f(config);
            if (f.open(QIODevice::WriteOnly))
                QTextStream(&f) << "[general]\nstatus_path = \"" << dir.filePath(QStringLiteral("status")) << "/\"\n\n"
                                << "[pair bench]\na = \"local\"\nb = \"server\"\ncollections = null\n\n"
                                << "[storage local]\ntype = \"filesystem\"\npath = \"" << vdir << "/\"\nfileext = \".ics\"\n\n"
                                << "[storage server]\ntype = \"caldav\"\nurl = \"" << theirs.toString() << "\"\n"
                                << "username = \"" << account.user << "\"\npassword = \"" << account.password << "\"\n"
                                << "verify = \"" << env.value(QStringLiteral("RADICALE_CERT")) << "\"\n";
        }
        double vdirFirstMs = -1, vdirIdleMs = -1;
        if (!QStandardPaths::findExecutable(QStringLiteral("vdirsyncer")).isEmpty()
            && runTool(QStringLiteral("vdirsyncer"), {QStringLiteral("-c"), config, QStringLiteral("discover")})) {
            t.restart();
            if (runTool(QStringLiteral("vdirsyncer"), {QStringLiteral("-c"), config, QStringLiteral("sync")}))
                vdirFirstMs = t.nsecsElapsed() / 1e6;
            t.restart();
            if (runTool(QStringLiteral("vdirsyncer"), {QStringLiteral("-c"), config, QStringLiteral("sync")}))
                vdirIdleMs = t.nsecsElapsed() / 1e6;
        }

        out << "first upload of 1,000 events to Radicale: " << firstMs << " ms (" << first.sent << " sent, "
            << first.requests << " requests); vdirsyncer, the same events to the same server: "
            << (vdirFirstMs < 0 ? QStringLiteral("not installed") : QString::number(vdirFirstMs) + QStringLiteral(" ms"))
            << " (target: no slower)\n";
        out << "sync with nothing changed: median " << bench::median(idle) << " ms, " << idleRequests
            << " request(s) (target 1 request, <= 100 ms); the sync REPORT alone: median " << bench::median(reports)
            << " ms; vdirsyncer's: "
            << (vdirIdleMs < 0 ? QStringLiteral("-") : QString::number(vdirIdleMs) + QStringLiteral(" ms")) << "\n";
        out << "one change here: synced " << syncedMs << " ms after the save; "
            << (listed.contains(QStringLiteral("Moved to the far pitch")) ? QStringLiteral("read by the phone's client ")
                                                                          : QStringLiteral("NOT seen by the phone's client "))
            << readMs << " ms after it (target 10 s, with the window's wait after a change)\n";
    } catch (const caldav::DavError &e) {
        QTextStream(stderr) << "sync failed: " << e.reason() << "\n";
        return 1;
    } catch (const store::StoreError &e) {
        QTextStream(stderr) << "calendar failed: " << e.description() << "\n";
        return 1;
    }
    return 0;
}
