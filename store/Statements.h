#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

// The texts of every statement the program issues, built by concatenation from
// fixed pieces. Text values lose their apostrophes (each becomes one blank);
// nothing else is escaped.
namespace statements {

[[nodiscard]] QString cleanText(const QString &value);
[[nodiscard]] QString id(int value);
// Month/day/four-digit year, whatever the user's regional settings.
[[nodiscard]] QString dateText(const QDate &date);
// 24-hour hours and minutes.
[[nodiscard]] QString timeText(const QTime &time);

struct EventValues
{
    QString title;
    QString description;
    QString notes;
    QDate startDate;
    QTime startTime;
    QDate endDate;
    QTime endTime;
    int staffId = 0;
};

// Scheduled events
[[nodiscard]] QString eventsOfDay(const QDate &day);
[[nodiscard]] QString eventById(int eventId);
[[nodiscard]] QString insertEvent(const EventValues &v);
[[nodiscard]] QString updateEvent(const EventValues &v, int eventId);
[[nodiscard]] QString deleteEvent(int eventId);
[[nodiscard]] QString eventReport(int eventId);
// Templates
[[nodiscard]] QString allTemplates();
[[nodiscard]] QString templateById(int templateId);
[[nodiscard]] QString insertTemplate(const QString &title, const QString &description);
[[nodiscard]] QString updateTemplate(const QString &title, const QString &description, int templateId);
[[nodiscard]] QString deleteTemplate(int templateId);
// Staff members
[[nodiscard]] QString allStaff();
[[nodiscard]] QString staffById(int staffId);
[[nodiscard]] QString insertStaff(const QString &name, const QString &notes);
[[nodiscard]] QString updateStaff(const QString &name, const QString &notes, int staffId);
[[nodiscard]] QString deleteStaff(int staffId);
// How many events name the staff member, in the column "events".
[[nodiscard]] QString eventsNamingStaff(int staffId);

// Calendar exchange, week plan and repeats. Events with their staff member's
// name (empty when the member is gone), in order of start.
[[nodiscard]] QString eventsWithStaffBetween(const QDate &first, const QDate &last);
[[nodiscard]] QString allEventsWithStaff();
// Which stored event came from which calendar entry (uid and start), so a
// second import of the same file adds nothing. The tables are the store's
// (schema version 2). An entry whose event was deleted is forgotten
// before it is recorded again.
[[nodiscard]] QString importedEvent(const QString &uid, const QDate &startDate, const QTime &startTime);
[[nodiscard]] QString forgetImportedEvent(const QString &uid, const QDate &startDate, const QTime &startTime);
[[nodiscard]] QString recordImportedEvent(const QString &uid, const QDate &startDate, const QTime &startTime, int eventId);
// The same for a whole import, in the engine's own SQL with ? for the values
// in the order named (texts cleaned and times in the stored form by the
// caller), each prepared once for many entries. `rows` rows a statement: one
// statement, not one a row, is what lets Find's index on the file keep the
// new words in memory until the commit.
[[nodiscard]] QString insertEventsReturningKeys(int rows);     // title, Description, Notes, EventTime, EventTimeEnd, idPOC
[[nodiscard]] QString forgetImportedEventWithValues();         // uid, eventStart
[[nodiscard]] QString recordImportedEventsWithValues(int rows); // uid, eventStart, idScheduledEvent
// The entries recorded with a start between the two (both included): uid,
// eventStart as the stored text and idScheduledEvent of the event, NULL when
// it was deleted since.
[[nodiscard]] QString importedEventsBetween(const QDateTime &first, const QDateTime &last);
// Which of the keys are stored events, in idScheduledEvent.
[[nodiscard]] QString storedEventIds(const QList<int> &eventIds);
// A random name this database gives itself for exported UIDs; the first in
// order, should two copies of a shared calendar have made one at once.
[[nodiscard]] QString calendarIdentity();
[[nodiscard]] QString insertCalendarIdentity(const QString &identity);

// The staff member's other events overlapping start..end, with the staff
// member's name, in order of start: those starting up to a day before
// `start`, so the index on the start time bounds the rows read.
[[nodiscard]] QString clashingEvents(int staffId, const QDateTime &start, const QDateTime &end, int exceptEventId);

// Undo and redo put rows back as they were: at their old key, with every
// character of their texts (apostrophes doubled, not blanked).
[[nodiscard]] QString exactText(const QString &value);
[[nodiscard]] QString eventsByIds(const QList<int> &eventIds);
[[nodiscard]] QString restoreEvent(const EventValues &v, int eventId);
[[nodiscard]] QString rewriteEvent(const EventValues &v, int eventId);
[[nodiscard]] QString deleteEventsByIds(const QList<int> &eventIds);
[[nodiscard]] QString restoreTemplate(const QString &title, const QString &description, int templateId);
[[nodiscard]] QString restoreStaff(const QString &name, const QString &notes, int staffId);
[[nodiscard]] QString rewriteTemplate(const QString &title, const QString &description, int templateId);
[[nodiscard]] QString rewriteStaff(const QString &name, const QString &notes, int staffId);

} // namespace statements
