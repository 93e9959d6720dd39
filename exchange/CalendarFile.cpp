#include "exchange/CalendarFile.h"

#include "store/Connection.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>

CalendarFileRead readCalendarFile(const QString &path, const exchange::DayRange &range, const exchange::ReadControl &control)
{
    CalendarFileRead out;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        out.failure = QStringLiteral("The calendar file could not be read.\r\n") + file.errorString();
        return out;
    }
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        out.failure = QStringLiteral("The calendar file could not be read.\r\n") + file.errorString();
        return out;
    }
    try {
        out.read = exchange::readCalendar(text, range.first, range.last, control);
    } catch (const exchange::CalendarFileError &e) {
        out.failure = QStringLiteral("%1 is no calendar file Orvenna can read: line %2: %3\r\nNothing was imported.")
                          .arg(QDir::toNativeSeparators(path))
                          .arg(e.line())
                          .arg(e.reason());
    } catch (const exchange::ReadCancelled &) {
        out.cancelled = true;
    }
    return out;
}

// Replaces the file whole, unbuffered so that a full disk shows at the write
// that meets it; a failed write leaves the previous file as it was.
void writeCalendarFile(const QString &path, const QByteArray &bytes)
{
    const QString shown = QDir::toNativeSeparators(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw CalendarFileWriteError{QStringLiteral("Cannot make %1. Choose another place for it, then export again.").arg(shown),
                                     file.errorString()};
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0)
            break;
        done += written;
    }
    if (done < bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw CalendarFileWriteError{
            QStringLiteral("Cannot write %1. Make room on its disk or choose another place for it, then export again.").arg(shown),
            reason};
    }
}

int exportCalendarFile(const QString &connectionString, const std::optional<exchange::DayRange> &range,
                       const QString &path)
{
    store::Connection conn;
    conn.open(connectionString);
    const QString identity = exchange::calendarIdentity(conn);
    QList<exchange::CalendarEvent> events;
    for (const exchange::StoredEvent &e : exchange::readEvents(conn, range))
        events.append(exchange::toCalendarEvent(e, identity));
    conn.close();
    writeCalendarFile(path, exchange::writeCalendar(events, QTimeZone::systemTimeZoneId()));
    return int(events.size());
}
