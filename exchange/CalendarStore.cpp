#include "exchange/CalendarStore.h"

#include "store/Connection.h"
#include "store/Transaction.h"

#include <QRegularExpression>
#include <QSet>
#include <QUuid>

namespace exchange {
namespace {

StoredEvent readRow(const store::RowSet &rs, bool withStaff)
{
    StoredEvent e;
    e.id = rs.integer(QStringLiteral("idScheduledEvent"));
    e.values.title = rs.text(QStringLiteral("title"));
    e.values.description = rs.text(QStringLiteral("Description"));
    e.values.notes = rs.text(QStringLiteral("Notes"));
    const QDateTime start = rs.dateTime(QStringLiteral("EventTime"));
    const QDateTime end = rs.dateTime(QStringLiteral("EventTimeEnd"));
    e.values.startDate = start.date();
    e.values.startTime = start.time();
    e.values.endDate = end.date();
    e.values.endTime = end.time();
    e.values.staffId = rs.integer(QStringLiteral("idPOC"));
    if (withStaff) {
        // A staff member deleted after the event was made leaves no name.
        const QVariant name = rs.value(QStringLiteral("pocName"));
        e.staffName = name.isNull() ? QString() : name.toString();
    }
    return e;
}

int lastId(store::Connection &conn)
{
    return conn.execute(statements::lastInsertedId()).integer(QStringLiteral("id"));
}

QString nameKey(const QString &name)
{
    return name.trimmed().toCaseFolded();
}

} // namespace

QList<StoredEvent> readEvents(store::Connection &conn, const std::optional<DayRange> &range)
{
    QList<StoredEvent> events;
    store::RowSet rs = conn.execute(range ? statements::eventsWithStaffBetween(range->first, range->last)
                                          : statements::allEventsWithStaff());
    while (!rs.eof()) {
        events.append(readRow(rs, true));
        rs.moveNext();
    }
    return events;
}

std::optional<StoredEvent> readEvent(store::Connection &conn, int eventId)
{
    store::RowSet rs = conn.execute(statements::eventById(eventId));
    if (rs.eof())
        return std::nullopt;
    return readRow(rs, false);
}

QMap<QString, int> readStaff(store::Connection &conn)
{
    QMap<QString, int> staff;
    store::RowSet rs = conn.execute(statements::allStaff());
    while (!rs.eof()) {
        staff.insert(rs.text(QStringLiteral("pocName")), rs.integer(QStringLiteral("idPOC")));
        rs.moveNext();
    }
    return staff;
}

QString calendarIdentity(store::Connection &conn)
{
    conn.execute(statements::createCalendarIdentityTable());
    {
        store::RowSet rs = conn.execute(statements::calendarIdentity());
        if (!rs.eof())
            return rs.text(QStringLiteral("identity"));
    }
    const QString identity = QUuid::createUuid().toString(QUuid::WithoutBraces);
    conn.execute(statements::insertCalendarIdentity(identity));
    return identity;
}

QString uidFor(int eventId, const QString &identity)
{
    return QStringLiteral("orvenna-%1-%2").arg(eventId).arg(identity);
}

CalendarEvent toCalendarEvent(const StoredEvent &event, const QString &identity)
{
    CalendarEvent c;
    c.uid = uidFor(event.id, identity);
    c.title = event.values.title;
    c.description = event.values.description;
    c.notes = event.values.notes;
    c.staffName = event.staffName;
    c.start = QDateTime(event.values.startDate, event.values.startTime);
    c.end = QDateTime(event.values.endDate, event.values.endTime);
    return c;
}

QList<int> insertEvents(store::Connection &conn, const QList<statements::EventValues> &rows)
{
    QList<int> ids;
    ids.reserve(rows.size());
    store::Transaction transaction(conn);
    for (const statements::EventValues &row : rows) {
        conn.execute(statements::insertEvent(row));
        ids.append(lastId(conn));
    }
    transaction.commit();
    return ids;
}

void deleteEvents(store::Connection &conn, const QList<int> &eventIds)
{
    store::Transaction transaction(conn);
    for (int id : eventIds)
        conn.execute(statements::deleteEvent(id));
    transaction.commit();
}

int staffFor(const QString &name, const QMap<QString, int> &staff, int fallbackStaffId)
{
    const QString key = nameKey(name);
    if (!key.isEmpty()) {
        for (auto it = staff.cbegin(); it != staff.cend(); ++it) {
            if (nameKey(it.key()) == key)
                return it.value();
        }
    }
    return fallbackStaffId;
}

QStringList unknownStaff(const QList<CalendarEvent> &events, const QMap<QString, int> &staff)
{
    QSet<QString> known;
    for (auto it = staff.cbegin(); it != staff.cend(); ++it)
        known.insert(nameKey(it.key()));
    QStringList unknown;
    QSet<QString> listed;
    for (const CalendarEvent &e : events) {
        const QString key = nameKey(e.staffName);
        if (known.contains(key) || listed.contains(key))
            continue;
        listed.insert(key);
        unknown.append(e.staffName.trimmed());
    }
    return unknown;
}

ImportResult importEvents(store::Connection &conn, const QList<CalendarEvent> &events, int fallbackStaffId)
{
    ImportResult result;
    const QMap<QString, int> staff = readStaff(conn);
    // Names resolved once, not per entry.
    QHash<QString, int> staffIds;
    QString identity;
    static const QRegularExpression own(QStringLiteral("^orvenna-(\\d+)-(.+)$"));

    store::Transaction transaction(conn);
    conn.execute(statements::createImportedEventsTable());
    conn.execute(statements::createCalendarIdentityTable());
    {
        store::RowSet rs = conn.execute(statements::calendarIdentity());
        if (!rs.eof())
            identity = rs.text(QStringLiteral("identity"));
    }
    for (const CalendarEvent &e : events) {
        const QDate day = e.start.date();
        const QTime time = e.start.time();
        // An event this database exported comes home: it is here already.
        const QRegularExpressionMatch m = own.match(e.uid);
        if (m.hasMatch() && m.captured(2) == identity && !conn.execute(statements::eventById(m.captured(1).toInt())).eof()) {
            ++result.ownEvents;
            continue;
        }
        if (!conn.execute(statements::importedEvent(e.uid, day, time)).eof()) {
            ++result.alreadyImported;
            continue;
        }
        auto known = staffIds.constFind(e.staffName);
        if (known == staffIds.constEnd())
            known = staffIds.insert(e.staffName, staffFor(e.staffName, staff, fallbackStaffId));
        statements::EventValues v;
        v.title = e.title;
        v.description = e.description;
        v.notes = e.notes;
        v.startDate = day;
        v.startTime = time;
        v.endDate = e.end.date();
        v.endTime = e.end.time();
        v.staffId = known.value();
        conn.execute(statements::insertEvent(v));
        const int id = lastId(conn);
        conn.execute(statements::recordImportedEvent(e.uid, day, time, id));
        result.added.append(id);
    }
    transaction.commit();
    return result;
}

} // namespace exchange
