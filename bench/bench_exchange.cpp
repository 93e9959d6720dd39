// Times the calendar exchange and repeats: exporting 100,000 events to an
// .ics file, importing a 10,000-event file, and repeating one event for 52
// weeks. Prints medians; not a test.

#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "exchange/Repeat.h"
#include "model/Calendar.h"
#include "print/ReportFile.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimeZone>

#include <libical/ical.h>

#include "BenchSupport.h"

#include <algorithm>
#include <vector>

namespace {

// Events spread over the days from 2026-01-01, `perDay` a day.
void fill(const QString &path, int events, int perDay)
{
    const QDateTime base(QDate(2026, 1, 1), QTime(8, 0));
    bench::fillEvents(path, "INSERT INTO tblPOCs(pocName, pocDescription) VALUES('Dana Whitfield', 'Head coach')",
                      "INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) "
                      "VALUES(?, 'Three cones 10 m apart; two-touch passing, switch direction every minute.\r\nEquipment: cones', "
                      "'Bring bibs, water', ?, ?, 1)",
                      events, [&](int i) {
                          const QDateTime start = base.addDays(i / perDay).addSecs(1800 * (i % perDay));
                          return bench::EventRow{"Passing triangle " + QByteArray::number(i),
                                                 start.toString("yyyy-MM-dd HH:mm:ss").toUtf8(),
                                                 start.addSecs(3600).toString("yyyy-MM-dd HH:mm:ss").toUtf8()};
                      });
}

QString freshDatabase(QTemporaryDir &dir, const QString &name, int events, int perDay)
{
    const QString folder = dir.filePath(name);
    QDir().mkpath(folder);
    store::createDatabase(QDir(folder).filePath("eventDB.mdb"));
    fill(QDir(folder).filePath("eventDB.mdb"), events, perDay);
    return store::connectionStringFor(folder);
}

QByteArray exportAll(const QString &connectionString, const QString &file)
{
    store::Connection conn;
    conn.open(connectionString);
    const QString identity = exchange::calendarIdentity(conn);
    QList<exchange::CalendarEvent> events;
    for (const exchange::StoredEvent &e : exchange::readEvents(conn, std::nullopt))
        events.append(exchange::toCalendarEvent(e, identity));
    conn.close();
    QByteArray text = exchange::writeCalendar(events, QTimeZone::systemTimeZoneId());
    if (!file.isEmpty())
        writeReportFile(file, text);
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QTextStream out(stdout);

    // Export 100,000 events.
    const QString big = freshDatabase(dir, "big", 100000, 27);
    std::vector<double> exports;
    qsizetype bytes = 0;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        bytes = exportAll(big, dir.filePath("big.ics")).size();
        exports.push_back(t.nsecsElapsed() / 1e6);
    }
    out << "export of 100,000 events (" << bytes / (1 << 20) << " MB): median " << bench::median(exports) << " ms (target <= 2000)\n";

    // Import a 10,000-event file into an empty calendar with the same staff member.
    const QByteArray file = exportAll(freshDatabase(dir, "source", 10000, 27), QString());
    std::vector<double> imports, reads, undos, redos;
    int added = 0;
    for (int run = 0; run < 5; ++run) {
        const QString target = freshDatabase(dir, QStringLiteral("target%1").arg(run), 0, 1);
        QElapsedTimer t;
        t.start();
        const exchange::ReadCalendar read = exchange::readCalendar(file, QDate(2026, 1, 1), QDate(2027, 12, 31));
        reads.push_back(t.nsecsElapsed() / 1e6);
        store::Connection conn;
        conn.open(target);
        const QList<int> ids = exchange::importEvents(conn, read.events, 1).added;
        added = int(ids.size());
        imports.push_back(t.nsecsElapsed() / 1e6);
        // The import as the menu keeps it for undo; then taken back and made again.
        model::Calendar calendar(target);
        QList<model::Calendar::EventWrite> writes;
        for (int id : ids)
            writes.append({id, std::nullopt});
        calendar.eventsWritten(conn, QStringLiteral("Import Calendar"), writes);
        conn.close();
        t.restart();
        calendar.undo();
        undos.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        calendar.redo();
        redos.push_back(t.nsecsElapsed() / 1e6);
    }
    // libical's own parse of the same text, the floor under any import of it.
    std::vector<double> parses;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer t;
        t.start();
        icalcomponent *parsed = icalparser_parse_string(file.constData());
        icalcomponent_free(parsed);
        parses.push_back(t.nsecsElapsed() / 1e6);
    }
    out << "import of a 10,000-event file (" << file.size() / 1024 << " KB, " << added << " added): median "
        << bench::median(imports) << " ms (target <= 3000); libical's parse of it alone: median "
        << bench::median(parses) << " ms (" << bench::median(imports) / bench::median(parses)
        << " times; target within 2); of the import, reading the file: median " << bench::median(reads) << " ms\n";
    out << "undo of that import: median " << bench::median(undos) << " ms (target < 1000); redo: median "
        << bench::median(redos) << " ms\n";

    // Repeat one event of the big calendar for 52 weeks, then take it back.
    std::vector<double> repeats;
    for (int run = 0; run < 21; ++run) {
        QElapsedTimer t;
        t.start();
        store::Connection conn;
        conn.open(big);
        const auto event = exchange::readEvent(conn, 5000);
        const QList<int> ids = exchange::insertEvents(conn, exchange::weeklyCopies(event->values, 52));
        conn.close();
        repeats.push_back(t.nsecsElapsed() / 1e6);
        conn.open(big);
        exchange::deleteEvents(conn, ids);
    }
    out << "repeat one event for 52 weeks (100,000 events stored): median " << bench::median(repeats) << " ms (target <= 100)\n";
    return 0;
}
