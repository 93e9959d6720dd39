#include "exchange/CalendarStore.h"

#include "store/Connection.h"
#include "store/Dialect.h"
#include "store/Events.h"
#include "store/Schema.h"
#include "store/StaffMembers.h"
#include "store/Transaction.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <optional>

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

namespace {

// A start or end as the dialect's literal stores it: to the minute. Written
// digit by digit: QDate's formats cost more than the rest of an entry.
QString storedMinute(const QDateTime &t)
{
    const QDate d = t.date();
    const QTime time(t.time().hour(), t.time().minute());
    if (d.year() < 1 || d.year() > 9999)
        return store::storedText(d, time);
    char text[] = "yyyy-MM-dd HH:mm:00";
    auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, d.year(), 4);
    put(5, d.month(), 2);
    put(8, d.day(), 2);
    put(11, time.hour(), 2);
    put(14, time.minute(), 2);
    return QString::fromLatin1(text, sizeof(text) - 1);
}

// An entry as tblImportedEvents keys it: the cleaned uid and the stored start.
using ImportKey = QPair<QString, QString>;

ImportKey importKey(const CalendarEvent &e)
{
    return {statements::cleanText(e.uid), storedMinute(e.start)};
}

// The keys the entries of an import have already, read once: those whose
// event is stored (`live`) and those whose event was deleted since (`stale`),
// whose row must go before the entry is recorded again.
struct ImportedKeys
{
    QSet<ImportKey> live;
    QSet<ImportKey> stale;
};

ImportedKeys importedKeys(store::Connection &conn, const QList<CalendarEvent> &events)
{
    ImportedKeys keys;
    if (events.isEmpty())
        return keys;
    QDateTime first = events.first().start, last = first;
    for (const CalendarEvent &e : events) {
        first = std::min(first, e.start);
        last = std::max(last, e.start);
    }
    store::RowSet rs = conn.execute(statements::importedEventsBetween(first, last));
    while (!rs.eof()) {
        const ImportKey key{rs.text(QStringLiteral("uid")), rs.text(QStringLiteral("eventStart"))};
        (rs.value(QStringLiteral("idScheduledEvent")).isNull() ? keys.stale : keys.live).insert(key);
        rs.moveNext();
    }
    return keys;
}

// The event an exported UID of this database names, else -1.
int ownEventId(const CalendarEvent &e, const QString &identity)
{
    static const QRegularExpression own(QStringLiteral("^orvenna-(\\d+)-(.+)$"));
    // Most entries are told apart without the expression: another calendar's end differently.
    if (identity.isEmpty() || !e.uid.startsWith(QLatin1String("orvenna-")) || !e.uid.endsWith(identity))
        return -1;
    const QRegularExpressionMatch m = own.match(e.uid);
    return m.hasMatch() && m.captured(2) == identity ? m.captured(1).toInt() : -1;
}

// Which of the keys (-1: none) are stored events.
QSet<int> storedAmong(store::Connection &conn, const QList<int> &ids)
{
    QList<int> named;
    for (int id : ids)
        if (id >= 0)
            named.append(id);
    QSet<int> stored;
    constexpr qsizetype kKeysPerStatement = 500;
    for (qsizetype from = 0; from < named.size(); from += kKeysPerStatement) {
        store::RowSet rs = conn.execute(statements::storedEventIds(named.mid(from, kKeysPerStatement)));
        for (; !rs.eof(); rs.moveNext())
            stored.insert(rs.integer(QStringLiteral("idScheduledEvent")));
    }
    return stored;
}

// Writes an import's new entries a batch at a time: their events, then where
// each came from.
class ImportWriter
{
public:
    explicit ImportWriter(store::Connection &conn) : m_conn(conn) { m_events.reserve(kRows * 6); }

    void add(const CalendarEvent &e, const ImportKey &key, int staffId, bool stale)
    {
        m_events << statements::cleanText(e.title) << statements::cleanText(e.description)
                 << statements::cleanText(e.notes) << key.second << storedMinute(e.end) << staffId;
        m_keys.append(key);
        if (stale)
            m_stale.append(key);
        if (m_keys.size() == kRows)
            flush();
    }

    // Writes what is pending and returns every key written, in order.
    QList<int> finish()
    {
        flush();
        return m_added;
    }

private:
    // Rows a statement: past some hundred a larger batch saves nothing.
    static constexpr int kRows = 500;

    void flush()
    {
        const int rows = int(m_keys.size());
        if (rows == 0)
            return;
        store::PreparedWrite &insert = rows == kRows ? prepared(m_insertFull, statements::insertEventsReturningKeys(rows))
                                                     : prepared(m_insertRest, statements::insertEventsReturningKeys(rows));
        const QList<int> ids = insert.insertReturningKeys(m_events, rows);
        // An entry whose event was deleted since it was imported: its old row goes first.
        if (!m_stale.isEmpty()) {
            store::PreparedWrite &forget = prepared(m_forget, statements::forgetImportedEventWithValues());
            for (const ImportKey &key : std::as_const(m_stale))
                forget.run({key.first, key.second});
        }
        QVariantList records;
        records.reserve(rows * 3);
        for (int i = 0; i < rows; ++i)
            records << m_keys.at(i).first << m_keys.at(i).second << ids.at(i);
        store::PreparedWrite &record = rows == kRows ? prepared(m_recordFull, statements::recordImportedEventsWithValues(rows))
                                                     : prepared(m_recordRest, statements::recordImportedEventsWithValues(rows));
        record.run(records);
        m_added.append(ids);
        m_events.clear();
        m_keys.clear();
        m_stale.clear();
    }

    store::PreparedWrite &prepared(std::optional<store::PreparedWrite> &slot, const QString &sql)
    {
        if (!slot)
            slot.emplace(m_conn.prepareWrite(sql));
        return *slot;
    }

    store::Connection &m_conn;
    std::optional<store::PreparedWrite> m_insertFull, m_insertRest, m_recordFull, m_recordRest, m_forget;
    QVariantList m_events;
    QList<ImportKey> m_keys;
    QList<ImportKey> m_stale;
    QList<int> m_added;
};

// On the file, a larger page cache while it lives: an import's pages stay in
// memory until the commit instead of being written out half way, through the
// journal, once SQLite's 2 MB are full.
class LargerCache
{
public:
    explicit LargerCache(store::Connection &conn) : m_conn(conn)
    {
        if (conn.engine() != store::Engine::Sqlite)
            return;
        {
            store::RowSet rs = conn.execute(QStringLiteral("PRAGMA cache_size"));
            if (rs.eof())
                return;
            m_before = rs.integer(QStringLiteral("cache_size"));
        }
        conn.execute(QStringLiteral("PRAGMA cache_size = -32768"));
    }
    LargerCache(const LargerCache &) = delete;
    LargerCache &operator=(const LargerCache &) = delete;
    ~LargerCache()
    {
        if (!m_before)
            return;
        try {
            m_conn.execute(QStringLiteral("PRAGMA cache_size = %1").arg(*m_before));
        } catch (const store::StoreError &) {
            // The connection is gone; so is its cache.
        }
    }

private:
    store::Connection &m_conn;
    std::optional<int> m_before;
};

} // namespace

ImportResult importEvents(store::Connection &conn, const QList<CalendarEvent> &events, int fallbackStaffId)
{
    ImportResult result;
    const QMap<QString, int> staff = readStaff(conn);
    // Names resolved once, not per entry.
    QHash<QString, int> staffIds;
    QString identity;

    const LargerCache cache(conn);
    store::Transaction transaction(conn);
    store::requireExchangeTables(conn);
    {
        store::RowSet rs = conn.execute(statements::calendarIdentity());
        if (!rs.eof())
            identity = rs.text(QStringLiteral("identity"));
    }
    // What is here already is read once, not asked entry by entry.
    QList<int> ownIds;
    ownIds.reserve(events.size());
    for (const CalendarEvent &e : events)
        ownIds.append(ownEventId(e, identity));
    const QSet<int> ownStored = storedAmong(conn, ownIds);
    ImportedKeys imported = importedKeys(conn, events);

    imported.live.reserve(imported.live.size() + events.size());
    ImportWriter writer(conn);
    for (qsizetype i = 0; i < events.size(); ++i) {
        const CalendarEvent &e = events.at(i);
        // An event this database exported comes home: it is here already.
        if (ownIds.at(i) >= 0 && ownStored.contains(ownIds.at(i))) {
            ++result.ownEvents;
            continue;
        }
        const ImportKey key = importKey(e);
        // The file may hold an entry twice: the first one counts.
        if (imported.live.contains(key)) {
            ++result.alreadyImported;
            continue;
        }
        auto known = staffIds.constFind(e.staffName);
        if (known == staffIds.constEnd())
            known = staffIds.insert(e.staffName, staffFor(e.staffName, staff, fallbackStaffId));
        writer.add(e, key, known.value(), imported.stale.remove(key));
        imported.live.insert(key);
    }
    result.added = writer.finish();
    transaction.commit();
    return result;
}

} // namespace exchange
