// Week reload and start-up figures on a large and a small database of the
// same density (about 27 events a day). Prints medians; not a test.

#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kPerDay = 27;
const QDate kFirstDay(1950, 1, 1);

// Fills a new database through SQLite directly: a million rows through the
// program's own statements would take minutes and measure nothing we ship.
void makeDatabase(const QString &path, int events)
{
    if (QFile::exists(path))
        return;
    store::createDatabase(path);
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "INSERT INTO tblPOCs(pocName, pocDescription) VALUES('Coach', 'Notes')", nullptr, nullptr, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                       "VALUES(?, 'Description of the drill', '', ?, ?, 1)",
                       -1, &st, nullptr);
    for (int i = 0; i < events; ++i) {
        const QDate day = kFirstDay.addDays(i / kPerDay);
        const QTime start(6 + (i % kPerDay) / 2, (i % 2) * 30);
        const QByteArray title = QStringLiteral("Drill %1").arg(i % 97).toUtf8();
        const QByteArray s = store::storedText(day, start).toUtf8();
        const QByteArray e = store::storedText(day, start.addSecs(1800)).toUtf8();
        sqlite3_bind_text(st, 1, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, s.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, e.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QDate randomDay(int days)
{
    return kFirstDay.addDays(3 + QRandomGenerator::global()->bounded(std::max(1, days - 6)));
}

struct Figures
{
    double reload = 0;
    double store = 0;
    double capi = 0;
    double startUp = 0;
};

Figures measure(const QString &folder, int events, int reps)
{
    Figures f;
    const int days = events / kPerDay;
    WidgetPrompt prompt;
    ExecModalRunner modal;
    AppServices services;
    services.programFolder = folder;
    services.prompt = &prompt;
    services.modal = &modal;

    {
        QElapsedTimer t;
        t.start();
        frmEventsMain w(services);
        w.Form_Load();
        w.show();
        QApplication::processEvents();
        f.startUp = t.nsecsElapsed() / 1e6;
    }

    frmEventsMain w(services);
    w.Form_Load();
    w.show();
    QApplication::processEvents();
    std::vector<double> reload, storeShare, capi;
    for (int r = 0; r < reps; ++r) {
        const QDate day = randomDay(days);
        QElapsedTimer t;
        t.start();
        w.mView_DateClick(QDateTime(day, QTime(0, 0)));
        reload.push_back(t.nsecsElapsed() / 1e6);
    }
    for (int r = 0; r < reps; ++r) {
        const QDate day = randomDay(days);
        QElapsedTimer t;
        t.start();
        int rows = 0;
        store::Connection conn;
        conn.open(store::connectionStringFor(folder));
        for (int i = -3; i <= 3; ++i) {
            store::RowSet rs = conn.execute(statements::eventsOfDay(day.addDays(i)));
            for (; !rs.eof(); rs.moveNext()) {
                rows += rs.integer(QStringLiteral("idScheduledEvent"));
                (void)rs.dateTime(QStringLiteral("eventTime"));
                (void)rs.text(QStringLiteral("Title"));
            }
        }
        conn.close();
        storeShare.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        sqlite3 *db = nullptr;
        sqlite3_open_v2(QDir(folder).filePath("eventDB.mdb").toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        for (int i = -3; i <= 3; ++i) {
            const QString sql = store::toSqlite(statements::eventsOfDay(day.addDays(i)));
            sqlite3_stmt *st = nullptr;
            sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr);
            while (sqlite3_step(st) == SQLITE_ROW) {
                rows += sqlite3_column_int(st, 0);
                const QString time = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 4)));
                (void)store::fromStored(time);
                (void)QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 1)));
            }
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        capi.push_back(t.nsecsElapsed() / 1e6);
        if (rows == -1)
            qFatal("unreachable");
    }
    f.reload = median(reload);
    f.store = median(storeShare);
    f.capi = median(capi);
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString base = QDir::temp().filePath(QStringLiteral("orvenna-bench"));
    const QString large = base + QStringLiteral("/large"), small = base + QStringLiteral("/small");
    QDir().mkpath(large);
    QDir().mkpath(small);
    QTextStream out(stdout);
    out << "Preparing databases in " << base << " (kept for later runs)...\n";
    out.flush();
    makeDatabase(large + QStringLiteral("/eventDB.mdb"), 1000000);
    makeDatabase(small + QStringLiteral("/eventDB.mdb"), 1000);

    const int reps = 200;
    const Figures big = measure(large, 1000000, reps);
    const Figures little = measure(small, 1000, reps);
    out << qSetRealNumberPrecision(3) << Qt::fixed;
    out << "week reload, 1,000,000 events: median " << big.reload << " ms (target <= 3)\n";
    out << "week reload, 1,000 events:     median " << little.reload << " ms (ratio " << big.reload / little.reload
        << ", target <= 1.3)\n";
    out << "store share (open, 7 queries, rows by name), 1,000,000 events: median " << big.store << " ms\n";
    out << "same 7 queries through the SQLite C API:                       median " << big.capi << " ms (ratio "
        << big.store / big.capi << ", target <= 2)\n";
    out << "start-up to first shown main window, 1,000,000 events: " << big.startUp << " ms (target <= 400)\n";
    return 0;
}
