#pragma once

#include "exchange/CalendarStore.h"
#include "exchange/ICalendar.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Reading and writing a calendar file whole, as the program's windows and a
// tool without windows do it.

// What reading a calendar file came to.
struct CalendarFileRead
{
    exchange::ReadCalendar read;
    QString failure; // what to tell, when it failed
    bool cancelled = false;
};

// Reads the file and expands what starts within `range`, on the calling
// thread; `control` can stop it and hears how far it got. A file that cannot
// be read, or is no calendar, is told in `failure`.
[[nodiscard]] CalendarFileRead readCalendarFile(const QString &path, const exchange::DayRange &range,
                                                const exchange::ReadControl &control);

// The .ics file could not be written: what to tell, and the system's words.
struct CalendarFileWriteError
{
    QString text;
    QString reason;
};

// Replaces the file whole; a failed write leaves the previous file as it was.
// Throws CalendarFileWriteError.
void writeCalendarFile(const QString &path, const QByteArray &bytes);

// Writes the events of `range` (every one without it) from the calendar of
// `connectionString` to the file, in this machine's zone, and returns how
// many. Throws store::StoreError or CalendarFileWriteError.
int exportCalendarFile(const QString &connectionString, const std::optional<exchange::DayRange> &range,
                       const QString &path);
