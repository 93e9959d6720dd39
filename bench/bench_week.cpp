// Week reload and start-up figures on a large and a small database of the
// same density (about 27 events a day), the same week reload on a PostgreSQL
// server with 1,000,000 events, how soon a save shows in another copy, and
// Find on 1,000,000 events on both, and what keeping who changed what costs a
// save on each (`bench_week --saves` runs only that).
// Prints medians; not a test. The server is a throw-away one started with the
// tests' script, or the empty database ORVENNA_BENCH_DATABASE names.

#include "mainwindow/ctlWeekDayView.h"
#include "mainwindow/frmEventsMain.h"
#include "mainwindow/SharedCalendar.h"
#include "store/ChangeListener.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Dialect.h"
#include "store/EventSearch.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/ServerConnection.h"
#include "store/Statements.h"
#include "ui/ModalRunner.h"
#include "ui/Prompt.h"

#include <QApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QTreeWidget>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>
#include <QUrl>

#include "BenchSupport.h"
#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int kPerDay = 27;
const QDate kFirstDay(1950, 1, 1);
// One event in kRareEvery has notes with a word no other event holds: Find's
// "a word that matches a few hundred events".
constexpr int kRareEvery = 2500;
const char *const kRareNotes = "Penalty shootout practice";

void makeDatabase(const QString &path, int events)
{
    if (QFile::exists(path))
        return;
    store::createDatabase(path);
    bench::fillEvents(path, "INSERT INTO tblPOCs(pocName, pocDescription) VALUES('Coach', 'Notes')",
                      "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                      "VALUES(?1, 'Description of the drill', ?4, ?2, ?3, 1)",
                      events, [](int i) {
                          const QDate day = kFirstDay.addDays(i / kPerDay);
                          const QTime start(6 + (i % kPerDay) / 2, (i % 2) * 30);
                          return bench::EventRow{QStringLiteral("Drill %1").arg(i % 97).toUtf8(),
                                                 store::storedText(day, start).toUtf8(),
                                                 store::storedText(day, start.addSecs(1800)).toUtf8(),
                                                 i % kRareEvery == 0 ? QByteArray(kRareNotes) : QByteArray()};
                      });
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

// The same rows on the server, made there in one statement.
void fillServer(const QString &url, int events)
{
    store::createDatabase(url);
    store::Connection conn;
    conn.open(url);
    conn.execute(statements::insertStaff(QStringLiteral("Coach"), QStringLiteral("Notes")));
    conn.execute(QStringLiteral(
                     "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                     "SELECT 'Drill ' || (i % 97), 'Description of the drill', CASE WHEN i % %4 = 0 THEN '%5' ELSE '' END,"
                     " t, t + interval '30 minutes', 1 "
                     "FROM (SELECT i, TIMESTAMP '%1' + (i / %2) * interval '1 day' + (6 + (i % %2) / 2) * interval "
                     "'1 hour' + (i % 2) * interval '30 minutes' AS t FROM generate_series(0, %3) i) s")
                     .arg(kFirstDay.toString(Qt::ISODate))
                     .arg(kPerDay)
                     .arg(events - 1)
                     .arg(kRareEvery)
                     .arg(QLatin1String(kRareNotes)));
    conn.execute(QStringLiteral("ANALYZE tblScheduledEvents"));
    conn.execute(QStringLiteral("ANALYZE tblEventSearch"));
}

// Answers every question Yes, so a move over a clash goes ahead unattended.
class YesPrompt : public Prompt
{
public:
    Answer message(QWidget *, const QString &, Icon, Buttons, const QString &, const QString &) override { return Answer::Yes; }
    std::optional<QString> input(QWidget *, const QString &, const QString &, const QString &, std::optional<QPoint>) override
    {
        return std::nullopt;
    }
};

// Saves through one connection and waits for the other copy: the listener's
// announcement, and the main window showing the new title. Then moves the
// event between two days in one copy's window and waits for the other's.
void measureNotifications(const QString &url, int saves, double &heard, double &shown, double &moved)
{
    WidgetPrompt prompt;
    ExecModalRunner modal;
    AppServices services;
    services.prompt = &prompt;
    services.modal = &modal;
    services.database = url;
    frmEventsMain other(services);
    other.Form_Load();
    other.show();
    store::ChangeListener listener;
    listener.listen(url);
    QApplication::processEvents();
    auto *today = other.dayPanel(3)->findChild<QTreeWidget *>(QStringLiteral("lvEventList"));

    int id = 0;
    statements::EventValues v;
    {
        store::Connection conn;
        conn.open(url);
        store::RowSet rs = conn.execute(statements::eventsOfDay(other.weekDate().date()));
        id = rs.integer(QStringLiteral("idScheduledEvent"));
        const QDateTime start = rs.dateTime(QStringLiteral("EventTime"));
        v = {QString(), QString(), QString(), start.date(), start.time(), start.date(), start.time().addSecs(1800), 1};
    }
    auto shows = [today](const QString &title) {
        for (int i = 0; i < today->topLevelItemCount(); ++i)
            if (today->topLevelItem(i)->text(0).endsWith(title))
                return true;
        return false;
    };
    std::vector<double> heardMs, shownMs;
    for (int n = 0; n < saves; ++n) {
        v.title = QStringLiteral("Saved elsewhere %1").arg(n);
        bool announced = false;
        QElapsedTimer t;
        const auto c = QObject::connect(&listener, &store::ChangeListener::changed, [&]() {
            if (!announced)
                heardMs.push_back(t.nsecsElapsed() / 1e6);
            announced = true;
        });
        t.start();
        {
            store::Connection conn;
            conn.open(url);
            conn.execute(statements::updateEvent(v, id));
        }
        while (!shows(v.title) && t.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        shownMs.push_back(t.nsecsElapsed() / 1e6);
        QObject::disconnect(c);
    }
    heard = bench::median(heardMs);
    shown = bench::median(shownMs);

    YesPrompt yes;
    AppServices moverServices = services;
    moverServices.prompt = &yes;
    frmEventsMain mover(moverServices);
    mover.Form_Load();
    auto *tomorrow = other.dayPanel(4)->findChild<QTreeWidget *>(QStringLiteral("lvEventList"));
    auto listed = [](QTreeWidget *list, const QString &title) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0).endsWith(title))
                return true;
        return false;
    };
    std::vector<double> movedMs;
    for (int n = 0; n < saves; ++n) {
        QTreeWidget *to = n % 2 == 0 ? tomorrow : today;
        const QDate day = other.weekDate().date().addDays(n % 2 == 0 ? 1 : 0);
        QElapsedTimer t;
        t.start();
        mover.placeEvent(id, day, 0, false);
        while (!listed(to, v.title) && t.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        movedMs.push_back(t.nsecsElapsed() / 1e6);
    }
    moved = bench::median(movedMs);
}

struct FindFigure
{
    double ms = 0;
    int found = 0;
};

// Find as its window runs it: a connection of its own, the search, the rows
// read; the most the window shows, plus one to know there are more.
FindFigure measureFind(const QString &connectionString, const QString &typed, int reps)
{
    std::vector<double> ms;
    FindFigure f;
    for (int r = 0; r < reps; ++r) {
        QElapsedTimer t;
        t.start();
        store::Connection conn;
        conn.open(connectionString);
        f.found = int(store::EventSearch::find(conn, typed, 201).size());
        conn.close();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    f.ms = bench::median(ms);
    return f;
}

void reportFind(QTextStream &out, const QString &connectionString)
{
    for (const char *typed : {"shootout", "shoo", "penalty practice", "drill"}) {
        const FindFigure f = measureFind(connectionString, QLatin1String(typed), 21);
        out << "  Find \"" << typed << "\": median " << f.ms << " ms, " << f.found
            << (f.found > 200 ? " (the window's 200 and one more)" : "") << " found"
            << (QLatin1String(typed) == QLatin1String("shootout") ? " (target <= 100)" : "") << "\n";
        out.flush();
    }
}

Figures measure(const QString &folder, int events, int reps, const QString &database = QString())
{
    Figures f;
    const int days = events / kPerDay;
    WidgetPrompt prompt;
    ExecModalRunner modal;
    AppServices services;
    services.programFolder = folder;
    services.database = database;
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
        conn.open(store::connectionStringFor(folder, database));
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

        if (!database.isEmpty())
            continue;
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
    f.reload = bench::median(reload);
    f.store = bench::median(storeShare);
    f.capi = bench::median(capi);
    return f;
}

} // namespace

// The editor's save of a stored event (open, conditional update, close) and
// of a new one (open, clash query, insert, close), median ms of `reps` each,
// on a calendar that keeps its history and on a twin whose history triggers
// were dropped, the two taking turns so that a busy disk weighs on both alike.
struct SaveFigures
{
    double update = 0, insert = 0, updateBare = 0, insertBare = 0;
};

struct SaveTimer
{
    QString connectionString;
    int id = 0;
    std::vector<double> updates, inserts;

    void prepare()
    {
        store::Connection conn;
        conn.open(connectionString);
        const QDate day(2026, 12, 7);
        id = store::Events::insert(conn, {QStringLiteral("Saved"), QString(), QString(), day, QTime(9, 0), day, QTime(10, 0), 1});
    }
    void save(int n)
    {
        QElapsedTimer t;
        t.start();
        {
            store::Connection conn;
            conn.open(connectionString);
            const store::Event base = *store::Events::readOne(conn, id);
            statements::EventValues v = base.values;
            v.notes = QStringLiteral("Save %1").arg(n);
            (void)store::Events::updateIfUnchanged(conn, id, base, v);
        }
        updates.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        {
            store::Connection conn;
            conn.open(connectionString);
            const QDate day = QDate(2026, 12, 7).addDays(n % 7);
            store::Event added;
            added.values = {QStringLiteral("New %1").arg(n), QString(), QString(), day, QTime(11, 0), day, QTime(12, 0), 1};
            (void)store::Events::clashes(conn, added);
            (void)store::Events::insert(conn, added.values);
        }
        inserts.push_back(t.nsecsElapsed() / 1e6);
    }
};

void dropHistoryTriggers(const QString &connectionString, bool server)
{
    store::Connection conn;
    conn.open(connectionString);
    for (const char *table : {"ScheduledEvents", "PredefinedEvents", "POCs"}) {
        const QString on = QStringLiteral(" ON tbl%1").arg(QLatin1String(table));
        const QStringList triggers = server ? QStringList{QString(), QStringLiteral("Update")}
                                            : QStringList{QStringLiteral("Insert"), QStringLiteral("Update"), QStringLiteral("Delete")};
        for (const QString &kind : triggers)
            conn.execute(QStringLiteral("DROP TRIGGER trgHistory%1%2").arg(QLatin1String(table), kind) + (server ? on : QString()));
    }
}

SaveFigures measureSaves(const QString &kept, const QString &bare, bool server, int reps)
{
    dropHistoryTriggers(bare, server);
    SaveTimer with, without;
    with.connectionString = kept;
    without.connectionString = bare;
    with.prepare();
    without.prepare();
    for (int n = 0; n < reps; ++n) {
        with.save(n);
        without.save(n);
    }
    return {bench::median(with.updates), bench::median(with.inserts), bench::median(without.updates),
            bench::median(without.inserts)};
}

void reportSaves(QTextStream &out, const char *where, const SaveFigures &f)
{
    out << "  " << where << ": save of a stored event median " << f.update << " ms (" << f.updateBare
        << " ms without the history's triggers), of a new one " << f.insert << " ms (" << f.insertBare << " ms)\n";
}

// A calendar of its own on the server, in place of any left from before.
QString freshServerDatabase(const QString &serverDir, const char *name)
{
    const QString psql = QStringLiteral("/usr/lib/postgresql/15/bin/psql");
    for (const char *sql : {"DROP DATABASE IF EXISTS %1", "CREATE DATABASE %1"})
        QProcess::execute(psql, {QStringLiteral("-qh"), serverDir, QStringLiteral("-U"), QStringLiteral("orvenna"),
                                 QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"),
                                 QString::fromLatin1(sql).arg(QLatin1String(name))});
    return QStringLiteral("postgresql://orvenna@") + QString::fromUtf8(QUrl::toPercentEncoding(serverDir)) + QLatin1Char('/')
        + QLatin1String(name);
}

// On the file (two copies of the small calendar) and, given one, on the server.
void reportAllSaves(QTextStream &out, const QString &smallFolder, const QString &serverDir)
{
    const int reps = 200;
    out << "Keeping who changed what, " << reps << " saves each:\n";
    QStringList copies;
    for (const char *name : {"orvenna-bench-saves", "orvenna-bench-saves-bare"}) {
        const QString copy = QDir::temp().filePath(QLatin1String(name));
        QDir(copy).removeRecursively();
        QDir().mkpath(copy);
        QFile::copy(smallFolder + QStringLiteral("/eventDB.mdb"), copy + QStringLiteral("/eventDB.mdb"));
        copies << copy;
    }
    reportSaves(out, "SQLite, 1,000 events",
                measureSaves(store::connectionStringFor(copies[0], QString()), store::connectionStringFor(copies[1], QString()),
                             false, reps));
    for (const QString &copy : copies)
        QDir(copy).removeRecursively();
    if (!serverDir.isEmpty()) {
        QStringList urls;
        for (const char *name : {"benchsaves", "benchsavesbare"}) {
            const QString url = freshServerDatabase(serverDir, name);
            store::createDatabase(url);
            store::Connection conn;
            conn.open(url);
            conn.execute(statements::insertStaff(QStringLiteral("Coach"), QString()));
            urls << url;
        }
        reportSaves(out, "PostgreSQL, local socket", measureSaves(urls[0], urls[1], true, reps));
        store::dropIdleServerConnections();
    }
    out.flush();
}

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString base = QDir::temp().filePath(QStringLiteral("orvenna-bench"));
    // Per schema version: a database kept from an older one would be brought
    // up to date inside the first start-up measured.
    const QString large = base + QStringLiteral("/large-v%1").arg(store::kSchemaVersion),
                  small = base + QStringLiteral("/small-v%1").arg(store::kSchemaVersion);
    QDir().mkpath(large);
    QDir().mkpath(small);
    QTextStream out(stdout);
    out << "Preparing databases in " << base << " (kept for later runs)...\n";
    out.flush();
    const QString script = QStringLiteral(ORVENNA_SOURCE_DIR "/tests/store/pgserver.sh");
    const QString serverDir = base + QStringLiteral("/server");
    if (app.arguments().contains(QStringLiteral("--saves"))) {
        // Folders of its own: the whole run may be under way beside it.
        const QString folder = base + QStringLiteral("/saves-v%1").arg(store::kSchemaVersion);
        const QString ownServer = base + QStringLiteral("/saves-server");
        QDir().mkpath(folder);
        makeDatabase(folder + QStringLiteral("/eventDB.mdb"), 1000);
        out << qSetRealNumberPrecision(3) << Qt::fixed;
        const bool started = QProcess::execute(QStringLiteral("bash"), {script, QStringLiteral("start"), ownServer}) == 0;
        reportAllSaves(out, folder, started ? ownServer : QString());
        if (started)
            QProcess::execute(QStringLiteral("bash"), {script, QStringLiteral("stop"), ownServer});
        return 0;
    }
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
    out << "SQLite, 1,000,000 events, " << 1000000 / kRareEvery << " of them holding \"shootout\":\n";
    reportFind(out, store::connectionStringFor(large, QString()));
    out.flush();

    // The shared calendar.
    QString url = qEnvironmentVariable("ORVENNA_BENCH_DATABASE");
    if (url.isEmpty()) {
        QProcess start;
        start.setProcessChannelMode(QProcess::ForwardedChannels);
        start.start(QStringLiteral("bash"), {script, QStringLiteral("start"), serverDir});
        if (!start.waitForFinished(120000) || start.exitCode() != 0) {
            out << "server figures: no PostgreSQL could be started\n";
            return 1;
        }
        QProcess::execute(QStringLiteral("/usr/lib/postgresql/15/bin/psql"),
                          {QStringLiteral("-qh"), serverDir, QStringLiteral("-U"), QStringLiteral("orvenna"),
                           QStringLiteral("-d"), QStringLiteral("postgres"), QStringLiteral("-c"),
                           QStringLiteral("CREATE DATABASE bench")});
        url = QStringLiteral("postgresql://orvenna@") + QString::fromUtf8(QUrl::toPercentEncoding(serverDir)) + QStringLiteral("/bench");
    }
    out << "Filling " << url << " with 1,000,000 events...\n";
    out.flush();
    fillServer(url, 1000000);
    const Figures server = measure(large, 1000000, reps, url);
    double heard = 0, shown = 0, moved = 0;
    measureNotifications(url, 100, heard, shown, moved);
    out << "PostgreSQL over a local socket, 1,000,000 events:\n";
    out << "  week reload: median " << server.reload << " ms (SQLite " << big.reload << " ms; target <= 5)\n";
    out << "  store share (open, 7 queries, rows by name): median " << server.store << " ms (SQLite " << big.store << " ms)\n";
    out << "  start-up to first shown main window: " << server.startUp << " ms\n";
    out << "  a save in one copy, announced in the other: median " << heard << " ms of 100 saves\n";
    out << "  ... and shown in the other copy's week: median " << shown << " ms (target <= 200)\n";
    out << "  a move in one copy's window (clash check, conditional update) shown in the other's: median " << moved
        << " ms of 100 moves\n";
    reportFind(out, url);
    reportAllSaves(out, small, qEnvironmentVariableIsEmpty("ORVENNA_BENCH_DATABASE") ? serverDir : QString());
    if (qEnvironmentVariableIsEmpty("ORVENNA_BENCH_DATABASE")) {
        store::dropIdleServerConnections();
        QProcess::execute(QStringLiteral("bash"), {script, QStringLiteral("stop"), serverDir});
    }
    return 0;
}
