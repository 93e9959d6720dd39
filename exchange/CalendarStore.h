#pragma once

#include "exchange/ICalendar.h"
#include "store/Event.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace store { class Connection; }

// The store's side of exchange, week plan and repeats: reading events with
// their staff member, and writing batches in one transaction each. Throws
// store::StoreError.
namespace exchange {

using StoredEvent = store::Event;

// A closed range of days; none means every event.
struct DayRange
{
    QDate first;
    QDate last;
};

[[nodiscard]] QList<StoredEvent> readEvents(store::Connection &conn, const std::optional<DayRange> &range);
[[nodiscard]] std::optional<StoredEvent> readEvent(store::Connection &conn, int eventId);
// Staff members by name (as stored) to key.
[[nodiscard]] QMap<QString, int> readStaff(store::Connection &conn);

// This database's name for itself in exported UIDs, made on first export.
[[nodiscard]] QString calendarIdentity(store::Connection &conn);
[[nodiscard]] QString uidFor(int eventId, const QString &identity);
[[nodiscard]] CalendarEvent toCalendarEvent(const StoredEvent &event, const QString &identity);

// Inserts the rows in one transaction and returns their keys in order.
QList<int> insertEvents(store::Connection &conn, const QList<statements::EventValues> &rows);
// Deletes the rows in one transaction.
void deleteEvents(store::Connection &conn, const QList<int> &eventIds);

struct ImportResult
{
    QList<int> added;
    int alreadyImported = 0; // same UID and start as an event imported before and still there
    int ownEvents = 0;       // exported from this very database and still there
};

// The staff member an entry's name stands for: the stored one of that name
// (ignoring case and surrounding blanks), else `fallbackStaffId`.
[[nodiscard]] int staffFor(const QString &name, const QMap<QString, int> &staff, int fallbackStaffId);
// Names of entries no stored staff member carries.
[[nodiscard]] QStringList unknownStaff(const QList<CalendarEvent> &events, const QMap<QString, int> &staff);

// Writes one entry as a new event of the staff member `staffId` (see
// staffFor) and records where it came from, inside the caller's
// transaction; returns its key.
int insertEntry(store::Connection &conn, const CalendarEvent &entry, int staffId);

// Writes the entries as events, skipping those already here, in one
// transaction: on any failure nothing is written.
ImportResult importEvents(store::Connection &conn, const QList<CalendarEvent> &events, int fallbackStaffId);

} // namespace exchange
