#include "store/Events.h"

#include "store/Connection.h"
#include "store/Transaction.h"

#include <algorithm>

namespace store {
namespace {

// The columns a statement's rows hold, as each reader has always named them
// (a failure names the column as spelled here). An empty name: the row has
// no such column.
struct Columns
{
    QString id;
    QString title;
    QString description;
    QString notes;
    QString start;
    QString end;
    QString staffId;
    QString staffName;
    QString staffNotes;
    bool staffRequired = false; // the report's join: the staff member is there
};

const Columns &storedColumns()
{
    static const Columns c{QStringLiteral("idScheduledEvent"), QStringLiteral("title"), QStringLiteral("Description"),
                           QStringLiteral("Notes"), QStringLiteral("EventTime"), QStringLiteral("EventTimeEnd"),
                           QStringLiteral("idPOC"), QString(), QString()};
    return c;
}

const Columns &withStaffColumns()
{
    static const Columns c = [] {
        Columns w = storedColumns();
        w.staffName = QStringLiteral("pocName");
        return w;
    }();
    return c;
}

const Columns &dayColumns()
{
    static const Columns c{QStringLiteral("idScheduledEvent"), QStringLiteral("Title"), QStringLiteral("Description"),
                           QStringLiteral("Notes"), QStringLiteral("eventTime"), QStringLiteral("EventTimeEnd"),
                           QStringLiteral("idPOC"), QString(), QString()};
    return c;
}

const Columns &reportColumns()
{
    static const Columns c{QString(), QStringLiteral("title"), QStringLiteral("description"), QStringLiteral("notes"),
                           QStringLiteral("eventTime"), QStringLiteral("eventTimeEnd"), QString(),
                           QStringLiteral("pocName"), QStringLiteral("pocDescription"), true};
    return c;
}

// The one mapping of a stored event row.
Event eventOf(const RowSet &row, const Columns &c, Events::Reading reading)
{
    const bool listed = reading == Events::Reading::Listed;
    Event e;
    if (!c.id.isEmpty())
        e.id = row.integer(c.id);
    e.values.title = row.text(c.title);
    e.values.description = row.optionalText(c.description);
    e.values.notes = row.optionalText(c.notes);
    const QDateTime start = row.dateTime(c.start);
    e.values.startDate = start.date();
    e.values.startTime = start.time();
    try {
        const QDateTime end = row.dateTime(c.end);
        e.values.endDate = end.date();
        e.values.endTime = end.time();
    } catch (const StoreError &) {
        if (!listed)
            throw;
    }
    if (!c.staffId.isEmpty()) {
        try {
            e.values.staffId = row.integer(c.staffId);
        } catch (const StoreError &) {
            if (!listed)
                throw;
            e.values.staffId = -1;
        }
    }
    if (!c.staffName.isEmpty())
        e.staffName = c.staffRequired ? row.text(c.staffName) : row.optionalText(c.staffName);
    if (!c.staffNotes.isEmpty())
        e.staffNotes = row.optionalText(c.staffNotes);
    return e;
}

QList<Event> readEvents(Connection &conn, const QString &statement, const Columns &columns)
{
    QList<Event> events;
    RowSet rs = conn.execute(statement);
    while (!rs.eof()) {
        events.append(eventOf(rs, columns, Events::Reading::Whole));
        rs.moveNext();
    }
    return events;
}

} // namespace

std::optional<StoreError> Events::readDay(Connection &conn, const QDate &day, QList<Event> &rows)
{
    // A date literal holds a four-digit year; no stored event can fall on other days.
    if (day.year() < 1 || day.year() > 9999)
        return std::nullopt;
    std::optional<StoreError> unreadable;
    RowSet rs = conn.execute(statements::eventsOfDay(day));
    while (!rs.eof()) {
        // One bad row (written by another tool) must not hide the rest of the day.
        try {
            rows.append(eventOf(rs, dayColumns(), Reading::Listed));
        } catch (const StoreError &e) {
            if (!unreadable)
                unreadable = e;
        }
        rs.moveNext();
    }
    return unreadable;
}

QList<Event> Events::readRange(Connection &conn, const QDate &first, const QDate &last)
{
    return readEvents(conn, statements::eventsWithStaffBetween(first, last), withStaffColumns());
}

QList<Event> Events::readAll(Connection &conn)
{
    return readEvents(conn, statements::allEventsWithStaff(), withStaffColumns());
}

std::optional<Event> Events::readOne(Connection &conn, int id, Reading reading)
{
    RowSet rs = conn.execute(statements::eventById(id));
    if (rs.eof())
        return std::nullopt;
    return eventOf(rs, reading == Reading::Listed ? dayColumns() : storedColumns(), reading);
}

std::optional<Event> Events::readForReport(Connection &conn, int id)
{
    RowSet rs = conn.execute(statements::eventReport(id));
    if (rs.eof())
        return std::nullopt;
    Event e = eventOf(rs, reportColumns(), Reading::Whole);
    e.id = id;
    return e;
}

int Events::insert(Connection &conn, const statements::EventValues &values)
{
    conn.execute(statements::insertEvent(values));
    return conn.lastInsertId();
}

void Events::update(Connection &conn, int id, const statements::EventValues &values)
{
    conn.execute(statements::updateEvent(values, id));
}

Events::UpdateResult Events::updateIfUnchanged(Connection &conn, int id, const Event &expected,
                                               const statements::EventValues &values, Texts texts)
{
    Transaction transaction(conn, Connection::Begin::WriteLocked);
    QString read = statements::eventById(id);
    // The file is locked whole by the transaction; the server locks the row here.
    if (conn.engine() == Engine::Postgres)
        read += QStringLiteral(" FOR UPDATE");
    std::optional<Event> current;
    {
        RowSet rs = conn.execute(read);
        if (!rs.eof())
            current = eventOf(rs, storedColumns(), Reading::Whole);
    }
    if (!current)
        return {UpdateResult::Outcome::Gone, std::nullopt};
    if (*current != expected)
        return {UpdateResult::Outcome::Changed, current};
    if (texts == Texts::Exact)
        rewrite(conn, id, values);
    else
        update(conn, id, values);
    transaction.commit();
    return {UpdateResult::Outcome::Updated, std::nullopt};
}

void Events::remove(Connection &conn, int id)
{
    conn.execute(statements::deleteEvent(id));
}

std::optional<Event> Events::removeReturning(Connection &conn, int id)
{
    std::optional<Event> before;
    try {
        before = readOne(conn, id);
    } catch (const StoreError &) {
        if (!conn.isOpen())
            throw;
    }
    remove(conn, id);
    return before;
}

namespace {
// Keeps a statement's key list short enough for either engine.
constexpr qsizetype kKeysPerStatement = 500;
} // namespace

QList<Event> Events::clashes(Connection &conn, const Event &event)
{
    QList<Event> found;
    if (!event.start().isValid() || !event.end().isValid())
        return found;
    // An event without length still takes its minute.
    const QDateTime end = std::max(event.end(), event.start().addSecs(60));
    RowSet rs = conn.execute(statements::clashingEvents(event.values.staffId, event.start(), end, event.id));
    while (!rs.eof()) {
        try {
            found.append(eventOf(rs, withStaffColumns(), Reading::Whole));
        } catch (const StoreError &) {
        }
        rs.moveNext();
    }
    return found;
}

QHash<int, Event> Events::readMany(Connection &conn, const QList<int> &ids, bool lockRows)
{
    const QString lock = lockRows && conn.engine() == Engine::Postgres ? QStringLiteral(" FOR UPDATE") : QString();
    QHash<int, Event> events;
    events.reserve(ids.size());
    for (qsizetype from = 0; from < ids.size(); from += kKeysPerStatement) {
        RowSet rs = conn.execute(statements::eventsByIds(ids.mid(from, kKeysPerStatement)) + lock);
        while (!rs.eof()) {
            const Event e = eventOf(rs, storedColumns(), Reading::Whole);
            events.insert(e.id, e);
            rs.moveNext();
        }
    }
    return events;
}

int Events::restore(Connection &conn, int id, const statements::EventValues &values)
{
    if (id <= 0 || !conn.execute(statements::eventById(id)).eof()) {
        conn.execute(statements::insertEvent(values));
        const int key = conn.lastInsertId();
        // Only the apostrophes the insert blanks need writing again.
        if (values.title.contains(QLatin1Char('\'')) || values.description.contains(QLatin1Char('\''))
            || values.notes.contains(QLatin1Char('\'')))
            rewrite(conn, key, values);
        return key;
    }
    conn.execute(statements::restoreEvent(values, id));
    return id;
}

void Events::rewrite(Connection &conn, int id, const statements::EventValues &values)
{
    conn.execute(statements::rewriteEvent(values, id));
}

void Events::removeMany(Connection &conn, const QList<int> &ids)
{
    for (qsizetype from = 0; from < ids.size(); from += kKeysPerStatement)
        conn.execute(statements::deleteEventsByIds(ids.mid(from, kKeysPerStatement)));
}

} // namespace store
