#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"
#include "exchange/Repeat.h"
#include "store/ChangeHistory.h"
#include "store/ChangeListener.h"
#include "store/Connection.h"
#include "store/EventSearch.h"
#include "store/Events.h"
#include "support/TestDatabase.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <libical/ical.h>

#include <algorithm>
#include <limits>

using exchange::CalendarEvent;

namespace {

QDateTime at(const char *text)
{
    QDateTime t = QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm"));
    t.setTimeSpec(Qt::UTC);
    return t;
}

QByteArray calendar(const QByteArray &events)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//test//EN\r\n" + events + "END:VCALENDAR\r\n";
}

// `count` entries with an alarm, half an hour apart from 1 December 08:00, `between` after the
// first `at` of them: enough lines for the reader to share the file between
// two parsers. `expected` gets their summary.
QByteArray manyEntries(int count, QStringList *expected = nullptr, int at = -1, const QByteArray &between = {})
{
    QByteArray out;
    const QDateTime first(QDate(2026, 12, 1), QTime(8, 0), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        if (i == at)
            out += between;
        const QDateTime start = first.addSecs(1800 * i), end = start.addSecs(1200);
        out += "BEGIN:VEVENT\r\nUID:m" + QByteArray::number(i) + "\r\nDTSTART:" + start.toString("yyyyMMddTHHmmss").toLatin1()
            + "\r\nDTEND:" + end.toString("yyyyMMddTHHmmss").toLatin1() + "\r\nSUMMARY:M" + QByteArray::number(i)
            + "\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n";
        if (expected)
            *expected << start.toString("MM-dd HH:mm ") + end.toString("MM-dd HH:mm ") + QStringLiteral("M%1|").arg(i);
    }
    return out;
}

QString propertyText(icalcomponent *ev, icalproperty_kind kind)
{
    icalproperty *p = icalcomponent_get_first_property(ev, kind);
    return p ? QString::fromUtf8(icalproperty_get_value_as_string(p)) : QStringLiteral("<none>");
}

QString textValue(icalcomponent *ev, icalproperty_kind kind)
{
    icalproperty *p = icalcomponent_get_first_property(ev, kind);
    if (!p)
        return QStringLiteral("<none>");
    return QString::fromUtf8(icalvalue_get_text(icalproperty_get_value(p)));
}

QString tzidOf(icalcomponent *ev, icalproperty_kind kind)
{
    icalproperty *p = icalcomponent_get_first_property(ev, kind);
    icalparameter *tz = p ? icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER) : nullptr;
    return tz ? QString::fromUtf8(icalparameter_get_tzid(tz)) : QString();
}

// One line per occurrence: start, end, title, staff.
QStringList summary(const QList<CalendarEvent> &events)
{
    QStringList out;
    for (const CalendarEvent &e : events)
        out << e.start.toString(QStringLiteral("MM-dd HH:mm")) + QStringLiteral(" ") + e.end.toString(QStringLiteral("MM-dd HH:mm"))
                   + QStringLiteral(" ") + e.title + QStringLiteral("|") + e.staffName;
    return out;
}

} // namespace

class tst_Exchange : public QObject
{
    Q_OBJECT

private slots:
    void exportRoundTrip_data();
    void exportRoundTrip();
    void exportedUidsStayAndComeHome();
    void read_data();
    void read();
    void malformed_data();
    void malformed();
    void importWritesAllOrNothing();
    void repeats_data();
    void repeats();
    void commandLine_data();
    void commandLine();
};

void tst_Exchange::exportRoundTrip_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("staff");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("dtstart"); // as written, with its TZID; the event starts then and lasts 90 minutes
    QTest::addColumn<QString>("expectedDescription");

    QTest::newRow("plain") << "Passing triangle" << "Three cones." << "" << "Dana Whitfield" << QByteArray("Europe/Berlin")
                           << "20261207T093000 Europe/Berlin" << "Three cones.";
    QTest::newRow("separators") << "A, B; C\\D" << "x,y;z\\w" << "n;1" << "Reyes, Marco" << QByteArray("Europe/Berlin")
                                << "20261207T093000 Europe/Berlin" << "x,y;z\\w\n\nn;1";
    QTest::newRow("multi-line notes") << "Drill" << "Line 1\r\nLine 2" << "Note 1\r\nNote 2\r\n\r\nNote 4" << "Priya"
                                      << QByteArray("America/New_York") << "20261207T093000 America/New_York"
                                      << "Line 1\nLine 2\n\nNote 1\nNote 2\n\nNote 4";
    QTest::newRow("non-Latin, folded") << QString::fromUtf8("Тренировка 練習 🏃 ") + QString(40, QChar(0x00e9))
                                       << QString::fromUtf8("ゴールキーパー練習、") .repeated(12) << ""
                                       << QString::fromUtf8("Ζωή Παπαδοπούλου") << QByteArray("Asia/Tokyo")
                                       << "20261207T093000 Asia/Tokyo" << QString::fromUtf8("ゴールキーパー練習、").repeated(12);
    QTest::newRow("system zone UTC") << "Run" << "" << "" << "" << QByteArray("UTC") << "20261207T093000 Etc/UTC" << "<none>";
    QTest::newRow("zone libical lacks: UTC times") << "Run" << "" << "" << "" << QByteArray("Nowhere/Special")
                                                   << "local as UTC" << "<none>";
    QTest::newRow("apostrophes") << "Coach's drill" << "Don't stop" << "Kim's bibs" << "" << QByteArray("UTC")
                                 << "20261207T093000 Etc/UTC" << "Don't stop\n\nKim's bibs";
    // "<null>": description and notes left NULL by another tool, read as empty.
    QTest::newRow("texts left NULL") << "Run" << "<null>" << "<null>" << "" << QByteArray("UTC")
                                     << "20261207T093000 Etc/UTC" << "<none>";
    // Written in this machine's zone, a time in its spring-forward gap comes back as it stands.
    const QByteArray here = QTimeZone::systemTimeZoneId();
    QTest::newRow("spring-forward gap, this machine's zone")
        << "Late" << "" << "" << "" << here << "20260329T023000 " + QString::fromUtf8(here == "UTC" ? "Etc/UTC" : here) << "<none>";
}

void tst_Exchange::exportRoundTrip()
{
    QFETCH(QString, title);
    QFETCH(QString, description);
    QFETCH(QString, notes);
    QFETCH(QString, staff);
    QFETCH(QByteArray, zone);
    QFETCH(QString, dtstart);
    QFETCH(QString, expectedDescription);

    TestDatabase db;
    const bool nulls = description == "<null>";
    if (nulls)
        description = notes = QString();
    const int staffId = staff.isEmpty() ? 0 : db.addStaff(staff, QString());
    const bool utcTimes = dtstart == QLatin1String("local as UTC");
    const QDateTime startUtc = utcTimes ? at("2026-12-07 09:30")
                                        : QDateTime(QDate::fromString(dtstart.left(8), QStringLiteral("yyyyMMdd")),
                                                    QTime::fromString(dtstart.mid(9, 6), QStringLiteral("HHmmss")), Qt::UTC);
    const QDateTime endUtc = startUtc.addSecs(90 * 60);
    // The server's driver hands timestamps over as this machine's times, so one in the gap cannot be read back.
    if (TestDatabase::engine() == store::Engine::Postgres && !QDateTime(startUtc.date(), startUtc.time(), Qt::LocalTime).isValid())
        QSKIP("A server calendar cannot hold a time this machine's clock skips.");
    const int id = db.addEvent(title, startUtc, endUtc, staffId, description, notes);
    if (nulls)
        db.exec("UPDATE tblScheduledEvents SET Description = NULL, Notes = NULL");
    store::Connection conn;
    conn.open(db.connectionString());
    const QString identity = exchange::calendarIdentity(conn);
    QList<CalendarEvent> events;
    for (const exchange::StoredEvent &e : exchange::readEvents(conn, std::nullopt))
        events << exchange::toCalendarEvent(e, identity);
    const QByteArray text = exchange::writeCalendar(events, zone);

    // Folded to at most 75 octets, never inside a character.
    for (const QByteArray &line : text.split('\n')) {
        QVERIFY2(line.size() <= 76, line.constData());
        QCOMPARE(QString::fromUtf8(line).toUtf8(), line);
    }

    icalcomponent *cal = icalparser_parse_string(text.constData());
    QVERIFY(cal);
    QCOMPARE(icalcomponent_count_errors(cal), 0);
    icalcomponent *ev = icalcomponent_get_first_component(cal, ICAL_VEVENT_COMPONENT);
    QVERIFY(ev);
    QCOMPARE(textValue(ev, ICAL_SUMMARY_PROPERTY), title);
    QCOMPARE(textValue(ev, ICAL_DESCRIPTION_PROPERTY), expectedDescription);
    QCOMPARE(textValue(ev, ICAL_CONTACT_PROPERTY), staff.isEmpty() ? QStringLiteral("<none>") : staff);
    QCOMPARE(propertyText(ev, ICAL_UID_PROPERTY), exchange::uidFor(id, identity));
    auto written = [&](const QDateTime &t) {
        return utcTimes ? QDateTime(t.date(), t.time(), Qt::LocalTime).toUTC().toString(QStringLiteral("yyyyMMddTHHmmss'Z'"))
                        : t.toString(QStringLiteral("yyyyMMddTHHmmss"));
    };
    if (utcTimes)
        dtstart = written(startUtc) + QLatin1Char(' ');
    QCOMPARE(propertyText(ev, ICAL_DTSTART_PROPERTY) + QLatin1Char(' ') + tzidOf(ev, ICAL_DTSTART_PROPERTY), dtstart);
    QCOMPARE(propertyText(ev, ICAL_DTEND_PROPERTY), written(endUtc));
    icalcomponent *tz = icalcomponent_get_first_component(cal, ICAL_VTIMEZONE_COMPONENT);
    const QString tzid = tzidOf(ev, ICAL_DTSTART_PROPERTY);
    QCOMPARE(tz ? propertyText(tz, ICAL_TZID_PROPERTY) : QString(), tzid);
    QCOMPARE(icalcomponent_count_components(cal, ICAL_VEVENT_COMPONENT), 1);
    icalcomponent_free(cal);

    // And the program's own reader gets the same back.
    const exchange::ReadCalendar back = exchange::readCalendar(text, QDate(2026, 1, 1), QDate(2026, 12, 31));
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(back.events[0].title, title);
    QCOMPARE(back.events[0].staffName, staff);
    // Wall-clock times of another zone come back as this machine's local times.
    const QTimeZone writtenZone(zone == "UTC" ? QByteArray("Etc/UTC") : zone);
    auto local = [&](const QDateTime &t) {
        if (zone == QTimeZone::systemTimeZoneId())
            return t;
        const QDateTime l = writtenZone.isValid() ? QDateTime(t.date(), t.time(), writtenZone).toLocalTime() : t;
        return QDateTime(l.date(), l.time(), Qt::UTC);
    };
    QCOMPARE(back.events[0].start, local(startUtc));
    QCOMPARE(back.events[0].end, local(endUtc));
    // The notes come back apart, into another Orvenna calendar too.
    QCOMPARE(back.events[0].description, description);
    QCOMPARE(back.events[0].notes, notes);
    // Names of properties in any case, as another tool may write them.
    QByteArray otherCase = text;
    otherCase.replace("X-ORVENNA-NOTES", "X-Orvenna-Notes");
    const exchange::ReadCalendar backOtherCase = exchange::readCalendar(otherCase, QDate(2026, 1, 1), QDate(2026, 12, 31));
    QCOMPARE(backOtherCase.events.value(0).description, description);
    QCOMPARE(backOtherCase.events.value(0).notes, notes);

    // Imported into another calendar (on the server the same database made
    // afresh): stored as every insert stores texts, apostrophes blanked and
    // empty ones as '', found by Find, with its line of history.
    conn.close();
    TestDatabase other;
    const int kim = other.addStaff(QStringLiteral("Kim"), QString());
    store::Connection into;
    into.open(other.connectionString());
    const QList<int> added = exchange::importEvents(into, back.events, kim).added;
    QCOMPARE(added.size(), 1);
    store::RowSet stored = into.execute(QStringLiteral("SELECT title, Description, Notes FROM tblScheduledEvents "
                                                       "WHERE Description IS NOT NULL AND Notes IS NOT NULL"));
    QVERIFY2(!stored.eof(), "a text stored as NULL");
    QCOMPARE(stored.text(QStringLiteral("title")), statements::cleanText(title));
    QCOMPARE(stored.text(QStringLiteral("Description")), statements::cleanText(description));
    QCOMPARE(stored.text(QStringLiteral("Notes")), statements::cleanText(notes));
    stored.close();
    const QList<exchange::StoredEvent> found = store::EventSearch::find(into, store::EventSearch::words(title).first(), 10);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].id, added[0]);
    QVERIFY(!store::ChangeHistory::read(into, store::ChangeHistory::Table::Events, added[0]).value_or(store::RowHistory()).createdBy.isEmpty());
}

void tst_Exchange::exportedUidsStayAndComeHome()
{
    TestDatabase db;
    const int staffId = db.addStaff(QStringLiteral("Dana"), QString());
    db.addEvent(QStringLiteral("A"), at("2026-12-07 09:00"), at("2026-12-07 10:00"), staffId);
    db.addEvent(QStringLiteral("B"), at("2026-12-08 09:00"), at("2026-12-08 10:00"), staffId);
    auto exportAll = [&] {
        store::Connection conn;
        conn.open(db.connectionString());
        const QString identity = exchange::calendarIdentity(conn);
        QList<CalendarEvent> events;
        for (const exchange::StoredEvent &e : exchange::readEvents(conn, std::nullopt))
            events << exchange::toCalendarEvent(e, identity);
        return events;
    };
    const QList<CalendarEvent> first = exportAll();
    const QList<CalendarEvent> second = exportAll();
    QCOMPARE(first.size(), 2);
    QCOMPARE(second[0].uid, first[0].uid);
    QCOMPARE(second[1].uid, first[1].uid);
    QVERIFY(first[0].uid != first[1].uid);
    store::Connection conn;
    // Imported into the database it came from, it adds nothing.
    conn.open(db.connectionString());
    QCOMPARE(exchange::importEvents(conn, first, staffId).ownEvents, 2);
    conn.close();

    // Another database gives other UIDs to the same event ids. (On the server
    // it is the same database made afresh.)
    TestDatabase other;
    other.addEvent(QStringLiteral("A"), at("2026-12-07 09:00"), at("2026-12-07 10:00"), 0);
    conn.open(other.connectionString());
    QVERIFY(exchange::toCalendarEvent(exchange::readEvents(conn, std::nullopt).value(0), exchange::calendarIdentity(conn)).uid
            != first[0].uid);
    conn.close();

    // Into another, it adds both once.
    conn.open(other.connectionString());
    QCOMPARE(exchange::importEvents(conn, first, 0).added.size(), 2);
    const exchange::ImportResult again = exchange::importEvents(conn, first, 0);
    QCOMPARE(again.added.size(), 0);
    QCOMPARE(again.alreadyImported, 2);
    // One of them deleted meanwhile: that one comes back, only that one.
    conn.execute(statements::deleteEvent(exchange::readEvents(conn, std::nullopt).last().id));
    QCOMPARE(exchange::importEvents(conn, first, 0).added.size(), 1);
    QCOMPARE(other.count("tblScheduledEvents"), 3);

    // A file of more entries than a statement writes, of every kind: this
    // calendar's own event, the two imported before (one deleted since, so it
    // comes back), new ones with apostrophes, and one new entry twice.
    const int kim = other.addStaff(QStringLiteral("Kim"), QString());
    const QString otherIdentity = exchange::calendarIdentity(conn);
    conn.execute(statements::deleteEvent(exchange::readEvents(conn, std::nullopt).last().id));
    QList<CalendarEvent> many{exchange::toCalendarEvent(exchange::readEvents(conn, std::nullopt).first(), otherIdentity)};
    many << first;
    QStringList newTitles;
    for (int i = 0; i < 1203; ++i) {
        CalendarEvent e;
        e.uid = QStringLiteral("coach's-%1@phone").arg(i % 1000);
        e.title = QStringLiteral("Many's %1").arg(i);
        e.notes = i % 2 ? QStringLiteral("n'%1").arg(i) : QString();
        e.staffName = i % 3 ? QStringLiteral("Kim") : QString();
        e.start = at("2026-11-01 08:00").addSecs(60 * (i / 1000) + 3600 * (i % 1000));
        e.end = e.start.addSecs(1800);
        many << e;
        newTitles << statements::cleanText(e.title);
    }
    many << many.at(700);
    // More of this calendar's own events than one look-up names.
    QList<statements::EventValues> ownRows;
    for (int i = 0; i < 600; ++i) {
        statements::EventValues v;
        v.title = QStringLiteral("Own %1").arg(i);
        v.startDate = v.endDate = QDate(2027, 2, 1).addDays(i);
        v.startTime = QTime(9, 0);
        v.endTime = QTime(10, 0);
        ownRows << v;
    }
    for (const exchange::StoredEvent &e : store::Events::readMany(conn, exchange::insertEvents(conn, ownRows)))
        many << exchange::toCalendarEvent(e, otherIdentity);
    // An entry the sync wrote already, its UID with an apostrophe, its start
    // with seconds: both ways of writing record it alike.
    CalendarEvent synced;
    synced.uid = QStringLiteral("sync's@phone");
    synced.title = QStringLiteral("Synced");
    synced.start = at("2026-10-01 07:00").addSecs(30);
    synced.end = synced.start.addSecs(1800);
    exchange::insertEntry(conn, synced, 0);
    many << synced;
    const exchange::ImportResult big = exchange::importEvents(conn, many, 0);
    QCOMPARE(big.ownEvents, 1 + ownRows.size());
    QCOMPARE(big.alreadyImported, 3); // the one still there, the entry twice, the synced one
    QCOMPARE(big.added.size(), 1 + newTitles.size());
    // The keys in the order of the entries, each with its entry's texts and staff member.
    const QHash<int, exchange::StoredEvent> rows = store::Events::readMany(conn, big.added);
    QCOMPARE(rows.value(big.added[0]).values.title, first.last().title);
    for (int i = 0; i < newTitles.size(); ++i) {
        const exchange::StoredEvent &e = rows.value(big.added[i + 1]);
        QCOMPARE(e.values.title, newTitles[i]);
        QCOMPARE(e.values.notes, i % 2 ? QStringLiteral("n %1").arg(i) : QString());
        QCOMPARE(e.values.staffId, i % 3 ? kim : 0);
        QCOMPARE(e.start(), many[i + 3].start);
        QCOMPARE(e.end(), many[i + 3].end);
    }
    QCOMPARE(other.count("tblImportedEvents"), 3 + newTitles.size());
    QCOMPARE(other.scalar(QStringLiteral("SELECT count(*) FROM tblChangeHistory WHERE tableName = 'tblscheduledevents' AND idRow >= %1")
                              .arg(big.added.first()))
                 .toInt(),
             big.added.size());
    QList<int> foundIds;
    for (const exchange::StoredEvent &e : store::EventSearch::find(conn, QStringLiteral("many"), 5000))
        foundIds << e.id;
    std::sort(foundIds.begin(), foundIds.end());
    QCOMPARE(foundIds, big.added.mid(1));
    // Again: nothing new.
    const exchange::ImportResult again2 = exchange::importEvents(conn, many, 0);
    QCOMPARE(again2.added.size(), 0);
    QCOMPARE(again2.alreadyImported, 3 + newTitles.size() + 1);
    QCOMPARE(again2.ownEvents, 1 + ownRows.size());
}

void tst_Exchange::read_data()
{
    QTest::addColumn<QByteArray>("events");
    QTest::addColumn<QDate>("first");
    QTest::addColumn<QDate>("last");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("cancelled");
    QTest::addColumn<int>("outside");
    QTest::addColumn<QStringList>("inBerlin"); // where the times differ under TZ=Europe/Berlin
    const QDate dec1(2026, 12, 1), dec31(2026, 12, 31);

    QTest::newRow("UTC, organizer's name") << QByteArray("BEGIN:VEVENT\r\nUID:a\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\n"
                                                        "SUMMARY:Run\r\nORGANIZER;CN=Dana:mailto:d@x.org\r\nEND:VEVENT\r\n")
                                           << dec1 << dec31 << QStringList{"12-07 09:00 12-07 10:00 Run|Dana"} << 0 << 0
                                           << QStringList{"12-07 10:00 12-07 11:00 Run|Dana"};
    QTest::newRow("zone converted to local (UTC here)")
        << QByteArray("BEGIN:VEVENT\r\nUID:b\r\nDTSTART;TZID=Europe/Berlin:20261207T100000\r\nDURATION:PT90M\r\n"
                      "SUMMARY:Gym\r\nCONTACT:Priya\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 09:00 12-07 10:30 Gym|Priya"} << 0 << 0
        << QStringList{"12-07 10:00 12-07 11:30 Gym|Priya"};
    QTest::newRow("all-day, three days") << QByteArray("BEGIN:VEVENT\r\nUID:c\r\nDTSTART;VALUE=DATE:20261207\r\n"
                                                      "DTEND;VALUE=DATE:20261210\r\nSUMMARY:Camp\r\nEND:VEVENT\r\n")
                                         << dec1 << dec31 << QStringList{"12-07 00:00 12-09 23:59 Camp|"} << 0 << 0 << QStringList();
    QTest::newRow("all-day without end") << QByteArray("BEGIN:VEVENT\r\nUID:c\r\nDTSTART;VALUE=DATE:20261207\r\nSUMMARY:Rest\r\nEND:VEVENT\r\n")
                                         << dec1 << dec31 << QStringList{"12-07 00:00 12-07 23:59 Rest|"} << 0 << 0 << QStringList();
    QTest::newRow("weekly, count, exdate, range")
        << QByteArray("BEGIN:VEVENT\r\nUID:d\r\nDTSTART:20261201T180000\r\nDTEND:20261201T193000\r\nSUMMARY:Team\r\n"
                      "RRULE:FREQ=WEEKLY;COUNT=6\r\nEXDATE:20261208T180000\r\nEND:VEVENT\r\n")
        << QDate(2026, 12, 2) << QDate(2026, 12, 29)
        << QStringList{"12-15 18:00 12-15 19:30 Team|", "12-22 18:00 12-22 19:30 Team|", "12-29 18:00 12-29 19:30 Team|"} << 0 << 0 << QStringList();
    QTest::newRow("endless daily in a short range, one moved")
        << QByteArray("BEGIN:VEVENT\r\nUID:e\r\nDTSTART:20200101T070000\r\nDTEND:20200101T073000\r\nSUMMARY:Jog\r\n"
                      "RRULE:FREQ=DAILY\r\nEND:VEVENT\r\n"
                      "BEGIN:VEVENT\r\nUID:e\r\nRECURRENCE-ID:20261208T070000\r\nDTSTART:20261208T120000\r\n"
                      "DTEND:20261208T123000\r\nSUMMARY:Jog late\r\nEND:VEVENT\r\n")
        << QDate(2026, 12, 7) << QDate(2026, 12, 9)
        << QStringList{"12-07 07:00 12-07 07:30 Jog|", "12-09 07:00 12-09 07:30 Jog|", "12-08 12:00 12-08 12:30 Jog late|"} << 0 << 0 << QStringList();
    QTest::newRow("all-day weekly, exdate by date")
        << QByteArray("BEGIN:VEVENT\r\nUID:f\r\nDTSTART;VALUE=DATE:20261205\r\nSUMMARY:Match\r\nRRULE:FREQ=WEEKLY;UNTIL=20261226\r\n"
                      "EXDATE;VALUE=DATE:20261212\r\nEND:VEVENT\r\n")
        << dec1 << dec31
        << QStringList{"12-05 00:00 12-05 23:59 Match|", "12-19 00:00 12-19 23:59 Match|", "12-26 00:00 12-26 23:59 Match|"} << 0 << 0 << QStringList();
    // Outlook excludes a day of an all-day series with a time in its own zone.
    QTest::newRow("all-day weekly, Outlook's exdate with a time")
        << QByteArray("BEGIN:VEVENT\r\nUID:f2\r\nDTSTART;VALUE=DATE:20260704\r\nSUMMARY:Match\r\nRRULE:FREQ=WEEKLY;UNTIL=20260725\r\n"
                      "EXDATE;TZID=GMT Standard Time:20260711T000000\r\nEND:VEVENT\r\n")
        << QDate(2026, 7, 1) << QDate(2026, 7, 31)
        << QStringList{"07-04 00:00 07-04 23:59 Match|", "07-18 00:00 07-18 23:59 Match|", "07-25 00:00 07-25 23:59 Match|"} << 0 << 0 << QStringList();
    QTest::newRow("an extra date given as a period in a zone")
        << QByteArray("BEGIN:VEVENT\r\nUID:f3\r\nDTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\nSUMMARY:Clinic\r\n"
                      "RDATE;VALUE=PERIOD;TZID=Europe/Berlin:20261209T120000/PT2H\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 09:00 12-07 10:00 Clinic|", "12-09 11:00 12-09 12:00 Clinic|"} << 0 << 0
        << QStringList{"12-07 10:00 12-07 11:00 Clinic|", "12-09 12:00 12-09 13:00 Clinic|"};
    QTest::newRow("cancelled and outside")
        << QByteArray("BEGIN:VEVENT\r\nUID:g\r\nDTSTART:20261207T090000\r\nSTATUS:CANCELLED\r\nSUMMARY:Off\r\nEND:VEVENT\r\n"
                      "BEGIN:VEVENT\r\nUID:h\r\nDTSTART:20270107T090000\r\nSUMMARY:Later\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{} << 1 << 1 << QStringList();
    // As icalcomponent_get_summary and the like read them.
    QTest::newRow("a property twice: the first counts")
        << QByteArray("BEGIN:VEVENT\r\nUID:r\r\nDTSTART:20261207T090000\r\nSUMMARY:First\r\nCONTACT:Kim\r\n"
                      "SUMMARY:Second\r\nCONTACT:Lee\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 09:00 12-07 09:00 First|Kim"} << 0 << 0 << QStringList();
    QTest::newRow("folded inside a component's name, an empty value folded")
        << QByteArray("BEGIN:VEV\r\n ENT\r\nUID:s\r\nDTSTART:20261207T090000\r\nSUMMARY:Split\r\nLOCATION:\r\n \r\n"
                      "END:VEVE\r\n\tNT\r\n")
        << dec1 << dec31 << QStringList{"12-07 09:00 12-07 09:00 Split|"} << 0 << 0 << QStringList();
    QTest::newRow("a property newer than libical") << QByteArray("BEGIN:VEVENT\r\nUID:j\r\nDTSTART:20261207T090000\r\nCOLOR:red\r\n"
                                                                 "SUMMARY:New\r\nEND:VEVENT\r\n")
                                                   << dec1 << dec31 << QStringList{"12-07 09:00 12-07 09:00 New|"} << 0 << 0 << QStringList();
    QTest::newRow("escaped and folded text") << QByteArray("BEGIN:VEVENT\r\nUID:i\r\nDTSTART:20261207T090000\r\n"
                                                          "SUMMARY:A\\, B\\; C\\\\D \r\n \xe7\xb7\xb4\xe7\xbf\x92\r\nEND:VEVENT\r\n")
                                             << dec1 << dec31 << QStringList{QString::fromUtf8("12-07 09:00 12-07 09:00 A, B; C\\D 練習|")} << 0 << 0 << QStringList();
    // As Google and Thunderbird write them: empty values, Thunderbird's marks of what its libical dropped.
    QTest::newRow("empty values, X-LIC-ERROR")
        << QByteArray("BEGIN:VEVENT\r\nDTSTART:20261207T090000\r\nDTEND:20261207T100000\r\nUID:0a1b@google.com\r\n"
                      "CLASS:\r\nDESCRIPTION:\r\nLOCATION:\r\nSEQUENCE:0\r\nSTATUS:CONFIRMED\r\nSUMMARY:Team\r\nTRANSP:OPAQUE\r\n"
                      "X-LIC-ERROR;X-LIC-ERRORTYPE=VALUE-PARSE-ERROR:No value for LOCATION property. Removing entire p\r\n"
                      " roperty:\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 09:00 12-07 10:00 Team|"} << 0 << 0 << QStringList();
    QTest::newRow("spring-forward gap: the offset before it")
        << QByteArray("BEGIN:VEVENT\r\nUID:k\r\nDTSTART;TZID=America/New_York:20070311T023000\r\n"
                      "DTEND;TZID=America/New_York:20070311T040000\r\nSUMMARY:Gap\r\nEND:VEVENT\r\n")
        << QDate(2007, 3, 1) << QDate(2007, 3, 31) << QStringList{"03-11 07:30 03-11 08:00 Gap|"} << 0 << 0
        << QStringList{"03-11 08:30 03-11 09:00 Gap|"};
    QTest::newRow("Outlook's Windows zone name, not defined in the file")
        << QByteArray("BEGIN:VEVENT\r\nUID:040000008200E00074C5B7101A82E008\r\nDTSTART;TZID=Pacific Standard Time:20261207T090000\r\n"
                      "DTEND;TZID=Pacific Standard Time:20261207T100000\r\nSUMMARY;LANGUAGE=en-us:Review\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 17:00 12-07 18:00 Review|"} << 0 << 0 << QStringList{"12-07 18:00 12-07 19:00 Review|"};
    QTest::newRow("a zone found nowhere is named, not guessed")
        << QByteArray("BEGIN:VEVENT\r\nUID:l\r\nDTSTART;TZID=Mars/Olympus:20261207T090000\r\nSUMMARY:Far\r\nEND:VEVENT\r\n"
                      "BEGIN:VEVENT\r\nUID:m\r\nDTSTART:20261207T090000\r\nSUMMARY:Near\r\nRRULE:FREQ=DAILY;COUNT=2\r\n"
                      "EXDATE;TZID=Mars/Olympus:20261208T090000\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"zone: \"Far\" (Mars/Olympus)", "zone: \"Near\" (Mars/Olympus)"} << 0 << 0 << QStringList();
    QTest::newRow("override keeping its start, new title")
        << QByteArray("BEGIN:VEVENT\r\nUID:n\r\nDTSTART:20261207T070000\r\nSUMMARY:Jog\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEND:VEVENT\r\n"
                      "BEGIN:VEVENT\r\nUID:n\r\nRECURRENCE-ID:20261208T070000\r\nDTSTART:20261208T070000\r\nSUMMARY:Jog with ball\r\n"
                      "END:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 07:00 12-07 07:00 Jog|", "12-09 07:00 12-09 07:00 Jog|", "12-08 07:00 12-08 07:00 Jog with ball|"}
        << 0 << 0 << QStringList();
    QTest::newRow("all-day, DTEND equal to DTSTART; organizer only mailto:")
        << QByteArray("BEGIN:VEVENT\r\nUID:o\r\nDTSTART;VALUE=DATE:20261207\r\nDTEND;VALUE=DATE:20261207\r\nSUMMARY:Rest\r\n"
                      "ORGANIZER:mailto:\r\nEND:VEVENT\r\n")
        << dec1 << dec31 << QStringList{"12-07 00:00 12-07 23:59 Rest|"} << 0 << 0 << QStringList();
    // Rules that step thousands of times a day from years before: found all the same.
    // Its last second is 00:00:59 on the first day.
    QTest::newRow("SECONDLY with COUNT from years before")
        << QByteArray("BEGIN:VEVENT\r\nUID:p\r\nDTSTART:20200101T000000\r\nSUMMARY:Tick\r\nRRULE:FREQ=SECONDLY;COUNT=218764860\r\n"
                      "END:VEVENT\r\n")
        << QDate(2026, 12, 7) << QDate(2026, 12, 8) << QStringList{"12-07 00:00 12-07 00:00 Tick|"} << 0 << 0 << QStringList();
    QTest::newRow("MINUTELY until the range from years before")
        << QByteArray("BEGIN:VEVENT\r\nUID:q\r\nDTSTART:20200101T000000\r\nSUMMARY:Tock\r\nRRULE:FREQ=MINUTELY;INTERVAL=2;UNTIL=20261207T000400\r\n"
                      "END:VEVENT\r\n")
        << QDate(2026, 12, 7) << QDate(2026, 12, 8)
        << QStringList{"12-07 00:00 12-07 00:00 Tock|", "12-07 00:02 12-07 00:02 Tock|", "12-07 00:04 12-07 00:04 Tock|"} << 0 << 0
        << QStringList();
    {
        // A series at the start moved at the end, past where the second parser begins.
        QStringList many{"12-01 06:00 12-01 06:30 Early|", "12-15 06:00 12-15 06:30 Early|"};
        const QByteArray series("BEGIN:VEVENT\r\nUID:s\r\nDTSTART:20261201T060000\r\nDTEND:20261201T063000\r\n"
                                "SUMMARY:Early\r\nRRULE:FREQ=WEEKLY;COUNT=3\r\nEND:VEVENT\r\n");
        const QByteArray moved("BEGIN:VEVENT\r\nUID:s\r\nRECURRENCE-ID:20261208T060000\r\nDTSTART:20261208T070000\r\n"
                               "DTEND:20261208T073000\r\nSUMMARY:Later\r\nEND:VEVENT\r\n");
        const QByteArray entries = manyEntries(800, &many);
        many << "12-08 07:00 12-08 07:30 Later|";
        QTest::newRow("many entries, read in two halves") << series + entries + moved << dec1 << dec31 << many << 0 << 0 << QStringList();
        QTest::newRow("many entries, the calendar named after them")
            << series + entries + moved + "X-WR-CALNAME:Plan\r\n" << dec1 << dec31 << many << 0 << 0 << QStringList();
        QTest::newRow("many entries in two calendars")
            << series + manyEntries(500) + "END:VCALENDAR\r\nBEGIN:VCALENDAR\r\n"
                + manyEntries(800).mid(manyEntries(500).size()) + moved
            << dec1 << dec31 << many << 0 << 0 << QStringList();
    }
}

void tst_Exchange::read()
{
    QFETCH(QByteArray, events);
    QFETCH(QDate, first);
    QFETCH(QDate, last);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, inBerlin);
    if (QTimeZone::systemTimeZoneId() == "Europe/Berlin" && !inBerlin.isEmpty())
        expected = inBerlin;
    const exchange::ReadCalendar read = exchange::readCalendar(calendar(events), first, last);
    QStringList got = summary(read.events);
    for (const QString &e : read.unknownZone)
        got << QStringLiteral("zone: ") + e;
    QCOMPARE(got, expected);
    QTEST(read.cancelled, "cancelled");
    QTEST(read.outsideRange, "outside");
}

void tst_Exchange::malformed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::newRow("empty") << QByteArray() << 1;
    QTest::newRow("not a calendar") << QByteArray("hello\r\n") << 1;
    QTest::newRow("line without colon") << calendar("BEGIN:VEVENT\r\nDTSTART:20261207T090000\r\nSUMMARY Run\r\nEND:VEVENT\r\n") << 6;
    QTest::newRow("END missing") << calendar("BEGIN:VEVENT\r\nDTSTART:20261207T090000\r\n") << 6;
    QTest::newRow("END of another") << calendar("BEGIN:VEVENT\r\nDTSTART:20261207T090000\r\nEND:VTODO\r\n") << 6;
    QTest::newRow("impossible date") << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261307T090000\r\nEND:VEVENT\r\n") << 6;
    QTest::newRow("bad value after folded lines")
        << calendar("BEGIN:VEVENT\r\nSUMMARY:long\r\n  folded\r\n  twice\r\nDTSTART:tomorrow\r\nEND:VEVENT\r\n") << 8;
    QTest::newRow("bad rule in the second entry")
        << calendar("BEGIN:VEVENT\r\nDTSTART:20261207T090000\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nDTSTART:20261207T090000\r\n"
                    "RRULE:FREQ=SOMETIMES\r\nEND:VEVENT\r\n") << 9;
    QTest::newRow("no DTSTART") << calendar("BEGIN:VEVENT\r\nUID:x\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:y\r\nSUMMARY:x\r\nEND:VEVENT\r\n")
                                << 4;
    QTest::newRow("DTSTART without a value") << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:\r\nEND:VEVENT\r\n") << 6;
    QTest::newRow("a bad value in an entry's alarm")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261207T090000\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:soon\r\n"
                    "END:VALARM\r\nEND:VEVENT\r\n") << 9;
    QTest::newRow("an end that does not exist") << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261207T090000\r\nDTEND:20261232T100000\r\nEND:VEVENT\r\n")
                                                << 7;
    QTest::newRow("broken parameter list") << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART;;VALUE=DATE-TIME:20261207T090000\r\nEND:VEVENT\r\n")
                                           << 6;
    QTest::newRow("a 10 MB line, refused unread")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261207T090000\r\nDESCRIPTION:" + QByteArray(10 << 20, 'x') + "\r\nEND:VEVENT\r\n")
        << 7;
    QTest::newRow("a value over 1 MB in folded lines")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261207T090000\r\nSUMMARY:s\r\n" + QByteArray(" " + QByteArray(74, 'x') + "\r\n").repeated(15000)
                    + "END:VEVENT\r\n")
        << 7;
    QTest::newRow("DURATION past the year 9999")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20261207T090000\r\nDURATION:P99999999W\r\nEND:VEVENT\r\n") << 7;
    QTest::newRow("an end in the year 10000")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:99991231T090000\r\nDURATION:P1D\r\nEND:VEVENT\r\n") << 7;
    // libical steps through a minute sixty times for each occurrence: too long to wait for.
    QTest::newRow("a rule too slow to follow")
        << calendar("BEGIN:VEVENT\r\nUID:x\r\nDTSTART:19900101T000000\r\nRRULE:FREQ=SECONDLY;BYSECOND=0;COUNT=2000000000\r\n"
                    "END:VEVENT\r\n") << 4;
    QTest::newRow("a bad value late in a large file")
        << calendar(manyEntries(800, nullptr, 700, "BEGIN:VEVENT\r\nUID:x\r\nDTSTART:tomorrow\r\nEND:VEVENT\r\n")) << 3 + 700 * 10 + 3;
    QTest::newRow("a bad calendar property after many entries")
        << calendar(manyEntries(800) + "LAST-MODIFIED:never\r\n") << 3 + 800 * 10 + 1;
}

void tst_Exchange::malformed()
{
    QFETCH(QByteArray, text);
    try {
        exchange::ReadControl control;
        control.timeLimitMs = 1000;
        (void)exchange::readCalendar(text, QDate(2026, 1, 1), QDate(2026, 12, 31), control);
        QFAIL("accepted");
    } catch (const exchange::CalendarFileError &e) {
        QVERIFY2(!e.reason().isEmpty(), "no reason");
        QTEST(e.line(), "line");
    }
}

void tst_Exchange::importWritesAllOrNothing()
{
    TestDatabase db;
    // A calendar made before export and import existed: their tables come when it is opened.
    db.exec("DROP TABLE IF EXISTS tblImportedEvents");
    db.exec("DROP TABLE IF EXISTS tblCalendarIdentity");
    db.exec(TestDatabase::engine() == store::Engine::Postgres ? "DROP TABLE tblSchemaVersion" : "PRAGMA user_version = 0");
    const int dana = db.addStaff(QStringLiteral("Dana Whitfield"), QString());
    const int marco = db.addStaff(QStringLiteral("Marco"), QString());
    QList<CalendarEvent> events;
    for (const char *staff : {" dana whitfield ", "Unknown", "MARCO"}) {
        CalendarEvent e;
        e.uid = QString::fromLatin1(staff);
        e.title = QStringLiteral("T");
        e.staffName = QString::fromLatin1(staff);
        e.start = e.end = at("2026-12-07 09:00");
        events << e;
    }
    QCOMPARE(exchange::unknownStaff(events, {{"Dana Whitfield", dana}, {"Marco", marco}}), QStringList{"Unknown"});

    store::Connection conn;
    conn.open(db.connectionString());
    const bool server = TestDatabase::engine() == store::Engine::Postgres;
    // The file's page cache is as large after an import as before, also after one that failed.
    auto cacheSize = [&] {
        if (server)
            return 0;
        store::RowSet rs = conn.execute(QStringLiteral("PRAGMA cache_size"));
        return rs.integer(QStringLiteral("cache_size"));
    };
    const int cacheBefore = cacheSize();

    // A value the store refuses half way, in an event or in where it came
    // from: nothing of the import stays.
    for (QString CalendarEvent::*field : {&CalendarEvent::title, &CalendarEvent::uid}) {
        QList<CalendarEvent> failing = events;
        failing[2].*field = QStringLiteral("nul") + QChar(0);
        QVERIFY_THROWS_EXCEPTION(store::StoreError, exchange::importEvents(conn, failing, marco));
        QCOMPARE(db.count("tblScheduledEvents"), 0);
        QCOMPARE(db.count("tblImportedEvents"), 0);
    }
    QCOMPARE(cacheSize(), cacheBefore);

    // A write the database refuses after the events went in: none of them stays.
    db.exec(server ? "CREATE FUNCTION refuse_import() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'refused'; END $$ LANGUAGE plpgsql;"
                     "CREATE TRIGGER refuse BEFORE INSERT ON tblImportedEvents FOR EACH ROW EXECUTE FUNCTION refuse_import()"
                   : "CREATE TRIGGER refuse BEFORE INSERT ON tblImportedEvents BEGIN SELECT RAISE(ABORT, 'refused'); END");
    QVERIFY_THROWS_EXCEPTION(store::StoreError, exchange::importEvents(conn, events, marco));
    QCOMPARE(db.count("tblScheduledEvents"), 0);
    db.exec(server ? "DROP TRIGGER refuse ON tblImportedEvents; DROP FUNCTION refuse_import()" : "DROP TRIGGER refuse");

    // Keys past 32 bits, which the windows cannot read: nothing of the import stays.
    if (server) {
        db.exec("ALTER TABLE tblScheduledEvents ALTER COLUMN idScheduledEvent RESTART WITH 2147483647");
    } else {
        db.exec("DELETE FROM sqlite_sequence WHERE name = 'tblScheduledEvents'");
        db.exec("INSERT INTO sqlite_sequence(name, seq) VALUES('tblScheduledEvents', 2147483646)");
    }
    QVERIFY_THROWS_EXCEPTION(store::StoreError, exchange::importEvents(conn, events, marco));
    QCOMPARE(db.count("tblScheduledEvents"), 0);
    QCOMPARE(db.count("tblImportedEvents"), 0);
    // The largest that fits is taken.
    db.exec(server ? "ALTER TABLE tblScheduledEvents ALTER COLUMN idScheduledEvent RESTART WITH 2147483647"
                   : "UPDATE sqlite_sequence SET seq = 2147483646 WHERE name = 'tblScheduledEvents'");
    QCOMPARE(exchange::importEvents(conn, events.mid(0, 1), marco).added, QList<int>{std::numeric_limits<int>::max()});
    db.exec("DELETE FROM tblImportedEvents");
    db.exec("DELETE FROM tblScheduledEvents");
    db.exec(server ? "ALTER TABLE tblScheduledEvents ALTER COLUMN idScheduledEvent RESTART WITH 1"
                   : "UPDATE sqlite_sequence SET seq = 0 WHERE name = 'tblScheduledEvents'");

    const QList<int> added = exchange::importEvents(conn, events, marco).added;
    QList<int> staffOfAdded;
    for (int id : added)
        staffOfAdded << exchange::readEvent(conn, id).value().values.staffId;
    QCOMPARE(staffOfAdded, QList<int>({dana, marco, marco}));
    QCOMPARE(cacheSize(), cacheBefore);
}

void tst_Exchange::repeats_data()
{
    QTest::addColumn<int>("weeks");
    QTest::addColumn<QDate>("until");
    QTest::addColumn<QStringList>("starts");
    QTest::newRow("three weeks") << 3 << QDate() << QStringList{"12-14 18:00 12-14", "12-21 18:00 12-21", "12-28 18:00 12-28"};
    QTest::newRow("across the year, to the day") << 0 << QDate(2027, 1, 4)
                                                 << QStringList{"12-14 18:00 12-14", "12-21 18:00 12-21", "12-28 18:00 12-28",
                                                                "01-04 18:00 01-04"};
    QTest::newRow("until before the next week") << 0 << QDate(2026, 12, 13) << QStringList{};
}

void tst_Exchange::repeats()
{
    QFETCH(int, weeks);
    QFETCH(QDate, until);
    QFETCH(QStringList, starts);
    statements::EventValues v;
    v.title = QStringLiteral("Team");
    v.startDate = v.endDate = QDate(2026, 12, 7);
    v.startTime = QTime(18, 0);
    v.endTime = QTime(19, 30);
    v.staffId = 2;
    const QList<statements::EventValues> copies = until.isValid() ? exchange::weeklyCopiesUntil(v, until)
                                                                   : exchange::weeklyCopies(v, weeks);
    QStringList got;
    for (const statements::EventValues &c : copies) {
        got << c.startDate.toString("MM-dd ") + statements::timeText(c.startTime) + c.endDate.toString(" MM-dd");
        QCOMPARE(c.title, v.title);
        QCOMPARE(c.endTime, v.endTime);
        QCOMPARE(c.staffId, v.staffId);
    }
    QCOMPARE(got, starts);

    // Written in one go and taken back exactly.
    TestDatabase db;
    const int other = db.addEvent(QStringLiteral("Other"), at("2026-12-07 09:00"), at("2026-12-07 10:00"), 1);
    store::Connection conn;
    conn.open(db.connectionString());
    // Another copy of a shared calendar hears of the repeat and of its undo.
    store::ChangeListener listening;
    QSignalSpy heard(&listening, &store::ChangeListener::changed);
    listening.listen(db.connectionString());
    const bool live = TestDatabase::engine() == store::Engine::Postgres && !copies.isEmpty();
    const QList<int> ids = exchange::insertEvents(conn, copies);
    QCOMPARE(ids.size(), copies.size());
    QCOMPARE(db.count("tblScheduledEvents"), copies.size() + 1);
    // The days of the copies hold the copies, in order, the last day's too.
    if (!copies.isEmpty()) {
        QList<int> read;
        for (const exchange::StoredEvent &e : exchange::readEvents(conn, exchange::DayRange{copies.first().startDate, copies.last().startDate}))
            read << e.id;
        QCOMPARE(read, ids);
    }
    if (live) {
        QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 1000);
        QCOMPARE(heard.takeFirst().at(0).toString(), QStringLiteral("tblscheduledevents"));
    }
    exchange::deleteEvents(conn, ids);
    QCOMPARE(db.count("tblScheduledEvents"), 1);
    QCOMPARE(db.scalar("SELECT idScheduledEvent FROM tblScheduledEvents").toInt(), other);
    if (live) {
        QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 1000);
        QCOMPARE(heard.takeFirst().at(0).toString(), QStringLiteral("tblscheduledevents"));
    }
}

void tst_Exchange::commandLine_data()
{
    QTest::addColumn<QString>("arguments"); // %1: the folder; the calendar option follows
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("told");  // all of standard output for 0, else the first line of standard error
    QTest::addColumn<int>("events");    // in the calendar afterwards (two before)
    QTest::newRow("export all") << "export %1/plan" << 0 << "Exported 2 events to %1/plan.ics." << 2;
    // No calendar named: the per-user one, where the calendar keeps it when installed system-wide.
    QTest::newRow("export, calendar by default") << "export %1/plan" << 0 << "Exported 2 events to %1/plan.ics." << 2;
    QTest::newRow("export a range") << "export %1/plan.ics --from 12/8/2026 --to 2026-12-31" << 0
                                    << "Exported 1 events to %1/plan.ics." << 2;
    QTest::newRow("export into no folder") << "export %1/none/plan.ics" << 1
                                           << "orvenna-ics: The calendar file could not be written." << 2;
    QTest::newRow("import, staff named") << "import %1/in.ics --from 2026-12-01 --to 2026-12-31 --staff \" dana \"" << 0
                                         << "Added 2 events." << 4;
    QTest::newRow("import, dates left out") << "import %1/in.ics --from 2026-12-01 --to 2026-12-07 --staff Dana" << 0
                                            << "Added 1 event.\nSkipped: 1 outside the chosen dates." << 3;
    QTest::newRow("import, staff unknown") << "import %1/in.ics --from 2026-12-01 --to 2026-12-31" << 1
                                           << "orvenna-ics: No staff member is called Nobody." << 2;
    QTest::newRow("import, no such staff member") << "import %1/in.ics --from 2026-12-01 --to 2026-12-31 --staff Kim" << 1
                                                  << "orvenna-ics: No staff member is called Kim." << 2;
    QTest::newRow("import, no calendar file") << "import %1/plan.txt --from 2026-12-01 --to 2026-12-31 --staff Dana" << 1
                                              << "orvenna-ics: The calendar file could not be read." << 2;
    QTest::newRow("import, no dates") << "import %1/in.ics --staff Dana" << 2 << "orvenna-ics: give both --from and --to." << 2;
    QTest::newRow("dates the wrong way") << "export %1/x.ics --from 2026-12-31 --to 2026-12-01" << 2
                                         << "orvenna-ics: --to is before --from." << 2;
    QTest::newRow("no such command") << "print %1/x.ics" << 2 << "orvenna-ics: unexpected argument 'print'." << 2;
    QTest::newRow("two files") << "export %1/x.ics %1/y.ics" << 2 << "orvenna-ics: unexpected argument '%1/y.ics'." << 2;
    QTest::newRow("help") << "--help" << 0 << "" << 2;
}

// The tool without a window, on this engine's calendar, with the texts of the File menu.
void tst_Exchange::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, told);
    TestDatabase db;
    const int dana = db.addStaff(QStringLiteral("Dana"), QString());
    db.addEvent(QStringLiteral("A"), at("2026-12-07 09:00"), at("2026-12-07 10:00"), dana);
    db.addEvent(QStringLiteral("B"), at("2026-12-08 09:00"), at("2026-12-08 10:00"), dana);
    QFile in(db.folder() + QStringLiteral("/in.ics"));
    QVERIFY(in.open(QIODevice::WriteOnly));
    in.write(calendar("BEGIN:VEVENT\r\nUID:i1\r\nSUMMARY:Away\r\nCONTACT:Nobody\r\nDTSTART:20261207T150000\r\n"
                      "DTEND:20261207T160000\r\nEND:VEVENT\r\n"
                      "BEGIN:VEVENT\r\nUID:i2\r\nSUMMARY:Home\r\nCONTACT:Nobody\r\nDTSTART:20261210T150000\r\n"
                      "DTEND:20261210T160000\r\nEND:VEVENT\r\n"));
    in.close();

    told.replace(QStringLiteral("%1"), db.folder());
    QStringList args = QProcess::splitCommand(QString(arguments).replace(QStringLiteral("%1"), db.folder()));
    QProcess tool;
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/orvenna-ics");
    if (QTest::currentDataTag() == QLatin1String("export, calendar by default")) {
        if (TestDatabase::engine() == store::Engine::Postgres)
            QSKIP("The calendar by default is a file.");
        if (QFileInfo::exists(QFileInfo(program).path() + QStringLiteral("/eventDB.mdb")))
            QSKIP("A calendar beside the tool comes first.");
        QVERIFY(QDir(db.folder()).mkpath(QStringLiteral("data")));
        QVERIFY(QFile::link(db.folder(), db.folder() + QStringLiteral("/data/orvenna")));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), db.folder() + QStringLiteral("/data"));
        tool.setProcessEnvironment(env);
    } else if (!arguments.startsWith(QLatin1String("--help"))) {
        args << (TestDatabase::engine() == store::Engine::Postgres ? QStringLiteral("--database") : QStringLiteral("--calendar"))
             << db.path();
    }
    tool.start(program, args);
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromUtf8(tool.readAllStandardOutput());
    const QString err = QString::fromUtf8(tool.readAllStandardError());
    QCOMPARE(tool.exitCode(), exitCode);
    if (exitCode != 0)
        QCOMPARE(err.section(QLatin1Char('\n'), 0, 0), told);
    else if (!told.isEmpty())
        QCOMPARE(out, told + QLatin1Char('\n'));
    QVERIFY2((exitCode == 0 ? err : out).isEmpty(), qPrintable(out + err));
    QTEST(db.count("tblScheduledEvents"), "events");
    if (arguments.startsWith(QLatin1String("export")) && exitCode == 0) {
        QFile file(db.folder() + QStringLiteral("/plan.ics"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const exchange::ReadCalendar read = exchange::readCalendar(file.readAll(), QDate(2026, 1, 1), QDate(2026, 12, 31));
        QCOMPARE(read.events.size(), told.contains(QLatin1String(" 2 ")) ? 2 : 1);
        QCOMPARE(read.events.last().title, QStringLiteral("B"));
    }
    if (arguments == QLatin1String("--help")) {
        QVERIFY(out.startsWith(QLatin1String("usage: orvenna-ics export FILE")));
        QVERIFY(out.contains(QLatin1String("Exit status: 0 done, 1 failed (nothing was imported), 2 wrong command line.")));
    }
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    tst_Exchange test;
    return TestDatabase::runOnEachEngine(&test, argc, argv);
}
#include "tst_exchange.moc"
