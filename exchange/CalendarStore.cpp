#include "exchange/CalendarStore.h"

#include "store/Connection.h"
#include "store/Schema.h"
#include "store/Transaction.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>

namespace exchange {
namespace {

// The stored form 'YYYY-MM-DD HH:MM:SS' read without the general parser,
// which is most of the time of reading 100,000 rows; anything else goes the
// store's way (and fails there with its description).
QDateTime storedDateTime(const store::RowSet &rs, const QString &column)
{
    const QVariant v = rs.value(column);
    const QString t = v.toString();
    if (!v.isNull() && t.size() == 19 && t.at(4) == QLatin1Char('-') && t.at(7) == QLatin1Char('-')
        && t.at(10) == QLatin1Char(' ') && t.at(13) == QLatin1Char(':') && t.at(16) == QLatin1Char(':')) {
        bool ok[6] = {};
        const int parts[6] = {QStringView(t).mid(0, 4).toInt(&ok[0]), QStringView(t).mid(5, 2).toInt(&ok[1]),
                              QStringView(t).mid(8, 2).toInt(&ok[2]), QStringView(t).mid(11, 2).toInt(&ok[3]),
                              QStringView(t).mid(14, 2).toInt(&ok[4]), QStringView(t).mid(17, 2).toInt(&ok[5])};
        const QDate date(parts[0], parts[1], parts[2]);
        const QTime time(parts[3], parts[4], parts[5]);
        if (std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) && date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return rs.dateTime(column);
}

StoredEvent readRow(const store::RowSet &rs, bool withStaff)
{
    StoredEvent e;
    e.id = rs.integer(QStringLiteral("idScheduledEvent"));
    e.values.title = rs.text(QStringLiteral("title"));
    e.values.description = rs.optionalText(QStringLiteral("Description"));
    e.values.notes = rs.optionalText(QStringLiteral("Notes"));
    const QDateTime start = storedDateTime(rs, QStringLiteral("EventTime"));
    const QDateTime end = storedDateTime(rs, QStringLiteral("EventTimeEnd"));
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
    try {
        {
            store::RowSet rs = conn.execute(statements::calendarIdentity());
            if (!rs.eof())
                return rs.text(QStringLiteral("identity"));
        }
        const QString identity = QUuid::createUuid().toString(QUuid::WithoutBraces);
        conn.execute(statements::insertCalendarIdentity(identity));
        return identity;
    } catch (const store::StoreError &) {
        // A database that cannot be written still exports, named by its file.
        return QString::fromLatin1(
            QCryptographicHash::hash(conn.path().toUtf8(), QCryptographicHash::Sha1).toHex().left(32));
    }
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
    c.start = QDateTime(event.values.startDate, event.values.startTime, Qt::UTC);
    c.end = QDateTime(event.values.endDate, event.values.endTime, Qt::UTC);
    return c;
}

QList<int> insertEvents(store::Connection &conn, const QList<statements::EventValues> &rows)
{
    QList<int> ids;
    ids.reserve(rows.size());
    store::Transaction transaction(conn);
    for (const statements::EventValues &row : rows) {
        conn.execute(statements::insertEvent(row));
        ids.append(conn.lastInsertId());
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
    store::requireExchangeTables(conn);
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
        const int id = conn.lastInsertId();
        conn.execute(statements::forgetImportedEvent(e.uid, day, time));
        conn.execute(statements::recordImportedEvent(e.uid, day, time, id));
        result.added.append(id);
    }
    transaction.commit();
    return result;
}

} // namespace exchange
