#include "exchange/CalendarStore.h"

#include "store/Connection.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/StaffMembers.h"
#include "store/Transaction.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

namespace exchange {
namespace {

QString nameKey(const QString &name)
{
    return name.trimmed().toCaseFolded();
}

} // namespace

QList<StoredEvent> readEvents(store::Connection &conn, const std::optional<DayRange> &range)
{
    return range ? store::Events::readRange(conn, range->first, range->last) : store::Events::readAll(conn);
}

std::optional<StoredEvent> readEvent(store::Connection &conn, int eventId)
{
    return store::Events::readOne(conn, eventId);
}

QMap<QString, int> readStaff(store::Connection &conn)
{
    QMap<QString, int> staff;
    store::StaffMembers::readAll(conn, [&staff](const store::StaffMember &s) { staff.insert(s.name, s.id); });
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
    for (const statements::EventValues &row : rows)
        ids.append(store::Events::insert(conn, row));
    transaction.commit();
    return ids;
}

void deleteEvents(store::Connection &conn, const QList<int> &eventIds)
{
    store::Transaction transaction(conn);
    for (int id : eventIds)
        store::Events::remove(conn, id);
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

int insertEntry(store::Connection &conn, const CalendarEvent &e, int staffId)
{
    const QDate day = e.start.date();
    const QTime time = e.start.time();
    statements::EventValues v;
    v.title = e.title;
    v.description = e.description;
    v.notes = e.notes;
    v.startDate = day;
    v.startTime = time;
    v.endDate = e.end.date();
    v.endTime = e.end.time();
    v.staffId = staffId;
    const int id = store::Events::insert(conn, v);
    conn.execute(statements::forgetImportedEvent(e.uid, day, time));
    conn.execute(statements::recordImportedEvent(e.uid, day, time, id));
    return id;
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
        result.added.append(insertEntry(conn, e, known.value()));
    }
    transaction.commit();
    return result;
}

} // namespace exchange
