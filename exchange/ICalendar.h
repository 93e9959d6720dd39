#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <stdexcept>

// The calendar's events to and from iCalendar text (RFC 5545), through
// libical. Nothing here knows the store; times are the calendar's local
// wall-clock times, carried as UTC values like the store's so that no
// daylight-saving gap moves them.
namespace exchange {

struct CalendarEvent
{
    QString uid;
    QString title;
    QString description; // line breaks as the calendar stores them (CR LF)
    QString notes;       // written after the description, and apart as X-ORVENNA-NOTES
    QString staffName;
    QDateTime start;
    QDateTime end;
    bool allDay = false; // read only: the entry had dates without times
    int reminderMinutes = -1; // written only: a VALARM DISPLAY this many minutes before the start; -1: none
};

// Writes one VCALENDAR. Times carry the zone `zoneId` (an IANA name such as
// "Europe/Berlin") with its VTIMEZONE; a zone libical does not know makes the
// times UTC instead.
[[nodiscard]] QByteArray writeCalendar(const QList<CalendarEvent> &events, const QByteArray &zoneId);

// DESCRIPTION as written for an event: description, a blank line, notes.
[[nodiscard]] QString descriptionText(const QString &description, const QString &notes);

// A file that is no iCalendar or breaks its rules; `line` is the 1-based line
// where it goes wrong.
class CalendarFileError : public std::runtime_error
{
public:
    CalendarFileError(int line, const QString &reason)
        : std::runtime_error(reason.toStdString()), m_line(line), m_reason(reason) {}
    [[nodiscard]] int line() const { return m_line; }
    [[nodiscard]] QString reason() const { return m_reason; }

private:
    int m_line;
    QString m_reason;
};

struct ReadCalendar
{
    QList<CalendarEvent> events; // one per occurrence starting in the range, in file order
    int cancelled = 0;           // entries with STATUS:CANCELLED
    int outsideRange = 0;        // entries with no occurrence in the range
    int repeating = 0;           // entries with RRULE, RDATE or RECURRENCE-ID, in the range or not
    QStringList unknownZone;     // entries skipped for a zone that is nowhere defined: "title" (zone)
};

// The longest line (unfolded) or value read; longer ones are refused unread.
inline constexpr qsizetype kLongestLine = 1024 * 1024;
// The most occurrences one file may give between the chosen dates.
inline constexpr int kMostOccurrences = 200000;

// The reading was stopped from outside; nothing of it is kept.
class ReadCancelled : public std::exception
{
};

// How a reading on another thread is watched and stopped. `cancel` is read,
// `percent` written, from the reading thread.
struct ReadControl
{
    const std::atomic<bool> *cancel = nullptr;
    std::atomic<int> *percent = nullptr;
    int timeLimitMs = 8000; // a file that takes longer is refused where it was
};

// Reads every VEVENT with an occurrence starting between `first` and `last`
// (both included), expanding RRULE/RDATE less EXDATE and moved occurrences.
// All-day entries start at 00:00 and end at 23:59 of their last day. Throws
// CalendarFileError, or ReadCancelled once `control.cancel` is set.
[[nodiscard]] ReadCalendar readCalendar(const QByteArray &text, const QDate &first, const QDate &last,
                                        const ReadControl &control = ReadControl());

} // namespace exchange
