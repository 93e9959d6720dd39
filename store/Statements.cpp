#include "store/Statements.h"

namespace statements {

QString cleanText(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1Char(' '));
    return out;
}

QString id(int value)
{
    return QString::number(value);
}

QString dateText(const QDate &date)
{
    return date.toString(QStringLiteral("M/d/yyyy"));
}

QString timeText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm"));
}

namespace {
QString literal(const QDate &date, const QTime &time)
{
    return QLatin1Char('#') + dateText(date) + QLatin1Char(' ') + timeText(time) + QLatin1Char('#');
}
} // namespace

QString eventsOfDay(const QDate &day)
{
    const QString d = dateText(day);
    return QStringLiteral("SELECT * FROM tblScheduledEvents WHERE eventTime BETWEEN #") + d + QStringLiteral(" 00:00:00# ")
        + QStringLiteral("AND #") + d + QStringLiteral(" 23:59:59#");
}

QString eventById(int eventId)
{
    return QStringLiteral("SELECT * from tblScheduledEvents where idScheduledEvent = ") + id(eventId);
}

QString insertEvent(const EventValues &v)
{
    return QStringLiteral("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) ")
        + QStringLiteral("VALUES('") + cleanText(v.title) + QStringLiteral("', ")
        + QStringLiteral("'") + cleanText(v.description) + QStringLiteral("', ")
        + QStringLiteral("'") + cleanText(v.notes) + QStringLiteral("', ")
        + literal(v.startDate, v.startTime) + QStringLiteral(", ")
        + literal(v.endDate, v.endTime) + QStringLiteral(", ")
        + id(v.staffId) + QStringLiteral(")");
}

QString updateEvent(const EventValues &v, int eventId)
{
    return QStringLiteral("UPDATE tblScheduledEvents SET title='") + cleanText(v.title) + QStringLiteral("', ")
        + QStringLiteral("Description = '") + cleanText(v.description) + QStringLiteral("', ")
        + QStringLiteral("Notes = '") + cleanText(v.notes) + QStringLiteral("', ")
        + QStringLiteral("EventTime = ") + literal(v.startDate, v.startTime) + QStringLiteral(", ")
        + QStringLiteral("EventTimeEnd = ") + literal(v.endDate, v.endTime) + QStringLiteral(", ")
        + QStringLiteral("idPOC = ") + id(v.staffId) + QStringLiteral(" ")
        + QStringLiteral("WHERE idScheduledEvent = ") + id(eventId);
}

QString deleteEvent(int eventId)
{
    return QStringLiteral("DELETE FROM tblScheduledEvents WHERE idScheduledEvent = ") + id(eventId);
}

QString eventReport(int eventId)
{
    return QStringLiteral("SELECT tblScheduledEvents.Title, tblScheduledEvents.Description, tblScheduledEvents.Notes, ")
        + QStringLiteral("tblScheduledEvents.EventTime, tblScheduledEvents.EventTimeEnd, tblPOCs.pocName, tblPOCs.pocDescription ")
        + QStringLiteral("From tblScheduledEvents, tblPOCs ")
        + QStringLiteral("WHERE tblScheduledEvents.idScheduledEvent = ") + id(eventId) + QStringLiteral(" ")
        + QStringLiteral("AND tblScheduledEvents.idPOC = tblPOCs.idPOC ");
}

QString allTemplates()
{
    return QStringLiteral("SELECT * from tblPredefinedEvents");
}

QString templateById(int templateId)
{
    return QStringLiteral("SELECT * from tblPredefinedEvents where idPredefinedEvent = ") + id(templateId);
}

QString insertTemplate(const QString &title, const QString &description)
{
    return QStringLiteral("INSERT INTO tblPredefinedEvents(title, Description) ")
        + QStringLiteral("VALUES('") + cleanText(title) + QStringLiteral("', ")
        + QStringLiteral("'") + cleanText(description) + QStringLiteral("')");
}

QString updateTemplate(const QString &title, const QString &description, int templateId)
{
    return QStringLiteral("UPDATE tblPredefinedEvents SET title='") + cleanText(title) + QStringLiteral("', ")
        + QStringLiteral("Description = '") + cleanText(description) + QStringLiteral("' ")
        + QStringLiteral("WHERE idPredefinedEvent = ") + id(templateId);
}

QString deleteTemplate(int templateId)
{
    return QStringLiteral("DELETE FROM tblPredefinedEvents WHERE idPredefinedEvent = ") + id(templateId);
}

QString allStaff()
{
    return QStringLiteral("SELECT * from tblPOCs");
}

QString staffById(int staffId)
{
    return QStringLiteral("SELECT * from tblPOCs where idPOC = ") + id(staffId);
}

QString insertStaff(const QString &name, const QString &notes)
{
    return QStringLiteral("INSERT INTO tblPOCs(pocName, pocDescription) ")
        + QStringLiteral("VALUES('") + cleanText(name) + QStringLiteral("', ")
        + QStringLiteral("'") + cleanText(notes) + QStringLiteral("')");
}

QString updateStaff(const QString &name, const QString &notes, int staffId)
{
    return QStringLiteral("UPDATE tblPOCs SET pocName='") + cleanText(name) + QStringLiteral("', ")
        + QStringLiteral("pocDescription = '") + cleanText(notes) + QStringLiteral("' ")
        + QStringLiteral("WHERE idPOC = ") + id(staffId);
}

QString deleteStaff(int staffId)
{
    return QStringLiteral("DELETE FROM tblPOCs WHERE idPOC = ") + id(staffId);
}

namespace {
QString eventsWithStaffWhere(const QString &condition)
{
    return QStringLiteral("SELECT tblScheduledEvents.*, tblPOCs.pocName FROM tblScheduledEvents ")
        + QStringLiteral("LEFT JOIN tblPOCs ON tblScheduledEvents.idPOC = tblPOCs.idPOC ") + condition
        + QStringLiteral("ORDER BY tblScheduledEvents.EventTime, tblScheduledEvents.idScheduledEvent");
}
} // namespace

QString eventsWithStaffBetween(const QDate &first, const QDate &last)
{
    return eventsWithStaffWhere(QStringLiteral("WHERE tblScheduledEvents.EventTime BETWEEN #") + dateText(first)
                                + QStringLiteral(" 00:00:00# AND #") + dateText(last) + QStringLiteral(" 23:59:59# "));
}

QString allEventsWithStaff()
{
    return eventsWithStaffWhere(QString());
}

QString importedEvent(const QString &uid, const QDate &startDate, const QTime &startTime)
{
    return QStringLiteral("SELECT tblImportedEvents.idScheduledEvent FROM tblImportedEvents ")
        + QStringLiteral("INNER JOIN tblScheduledEvents ON tblImportedEvents.idScheduledEvent = tblScheduledEvents.idScheduledEvent ")
        + QStringLiteral("WHERE tblImportedEvents.uid = '") + cleanText(uid) + QStringLiteral("' ")
        + QStringLiteral("AND tblImportedEvents.eventStart = ") + literal(startDate, startTime);
}

QString forgetImportedEvent(const QString &uid, const QDate &startDate, const QTime &startTime)
{
    return QStringLiteral("DELETE FROM tblImportedEvents WHERE uid = '") + cleanText(uid) + QStringLiteral("' ")
        + QStringLiteral("AND eventStart = ") + literal(startDate, startTime);
}

QString recordImportedEvent(const QString &uid, const QDate &startDate, const QTime &startTime, int eventId)
{
    return QStringLiteral("INSERT INTO tblImportedEvents(uid, eventStart, idScheduledEvent) VALUES('")
        + cleanText(uid) + QStringLiteral("', ") + literal(startDate, startTime) + QStringLiteral(", ") + id(eventId)
        + QStringLiteral(")");
}

namespace {
// `rows` times the parenthesised list of `columns` question marks.
QString valueRows(int rows, int columns)
{
    QString row = QStringLiteral("(?");
    for (int c = 1; c < columns; ++c)
        row += QStringLiteral(", ?");
    row += QLatin1Char(')');
    QStringList all;
    all.reserve(rows);
    for (int r = 0; r < rows; ++r)
        all << row;
    return all.join(QStringLiteral(", "));
}
} // namespace

QString insertEventsReturningKeys(int rows)
{
    return QStringLiteral("INSERT INTO tblScheduledEvents(title, Description, Notes, EventTime, EventTimeEnd, idPOC) VALUES")
        + valueRows(rows, 6) + QStringLiteral(" RETURNING idScheduledEvent");
}

QString forgetImportedEventWithValues()
{
    return QStringLiteral("DELETE FROM tblImportedEvents WHERE uid = ? AND eventStart = ?");
}

QString recordImportedEventsWithValues(int rows)
{
    return QStringLiteral("INSERT INTO tblImportedEvents(uid, eventStart, idScheduledEvent) VALUES") + valueRows(rows, 3);
}

QString importedEventsBetween(const QDateTime &first, const QDateTime &last)
{
    return QStringLiteral("SELECT tblImportedEvents.uid AS uid, CAST(tblImportedEvents.eventStart AS TEXT) AS eventStart, ")
        + QStringLiteral("tblScheduledEvents.idScheduledEvent AS idScheduledEvent FROM tblImportedEvents ")
        + QStringLiteral("LEFT JOIN tblScheduledEvents ON tblImportedEvents.idScheduledEvent = tblScheduledEvents.idScheduledEvent ")
        + QStringLiteral("WHERE tblImportedEvents.eventStart >= ") + literal(first.date(), first.time())
        + QStringLiteral(" AND tblImportedEvents.eventStart <= ") + literal(last.date(), last.time());
}

QString calendarIdentity()
{
    return QStringLiteral("SELECT identity FROM tblCalendarIdentity ORDER BY identity");
}

QString insertCalendarIdentity(const QString &identity)
{
    return QStringLiteral("INSERT INTO tblCalendarIdentity(identity) VALUES('") + cleanText(identity) + QStringLiteral("')");
}

QString eventsNamingStaff(int staffId)
{
    return QStringLiteral("SELECT count(*) AS events FROM tblScheduledEvents WHERE idPOC = ") + id(staffId);
}

QString clashingEvents(int staffId, const QDateTime &start, const QDateTime &end, int exceptEventId)
{
    const QDateTime from = start.addDays(-1);
    return QStringLiteral("SELECT tblScheduledEvents.*, tblPOCs.pocName FROM tblScheduledEvents ")
        + QStringLiteral("LEFT JOIN tblPOCs ON tblScheduledEvents.idPOC = tblPOCs.idPOC ")
        + QStringLiteral("WHERE tblScheduledEvents.idPOC = ") + id(staffId)
        + QStringLiteral(" AND tblScheduledEvents.EventTime >= ") + literal(from.date(), from.time())
        + QStringLiteral(" AND tblScheduledEvents.EventTime < ") + literal(end.date(), end.time())
        + QStringLiteral(" AND tblScheduledEvents.EventTimeEnd > ") + literal(start.date(), start.time())
        + QStringLiteral(" AND tblScheduledEvents.idScheduledEvent <> ") + id(exceptEventId)
        + QStringLiteral(" ORDER BY tblScheduledEvents.EventTime, tblScheduledEvents.idScheduledEvent");
}

QString exactText(const QString &value)
{
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

namespace {
QString idList(const QList<int> &ids)
{
    QStringList out;
    out.reserve(ids.size());
    for (int value : ids)
        out << id(value);
    return out.join(QLatin1Char(','));
}
} // namespace

QString eventsByIds(const QList<int> &eventIds)
{
    return QStringLiteral("SELECT * from tblScheduledEvents where idScheduledEvent IN (") + idList(eventIds)
        + QStringLiteral(")");
}

QString storedEventIds(const QList<int> &eventIds)
{
    return QStringLiteral("SELECT idScheduledEvent FROM tblScheduledEvents WHERE idScheduledEvent IN (") + idList(eventIds)
        + QStringLiteral(")");
}

QString restoreEvent(const EventValues &v, int eventId)
{
    return QStringLiteral("INSERT INTO tblScheduledEvents(idScheduledEvent, title, Description, Notes, EventTime, "
                          "EventTimeEnd, idPOC) VALUES(")
        + id(eventId) + QStringLiteral(", ") + exactText(v.title) + QStringLiteral(", ") + exactText(v.description)
        + QStringLiteral(", ") + exactText(v.notes) + QStringLiteral(", ") + literal(v.startDate, v.startTime)
        + QStringLiteral(", ") + literal(v.endDate, v.endTime) + QStringLiteral(", ") + id(v.staffId) + QStringLiteral(")");
}

QString rewriteEvent(const EventValues &v, int eventId)
{
    return QStringLiteral("UPDATE tblScheduledEvents SET title = ") + exactText(v.title) + QStringLiteral(", Description = ")
        + exactText(v.description) + QStringLiteral(", Notes = ") + exactText(v.notes) + QStringLiteral(", EventTime = ")
        + literal(v.startDate, v.startTime) + QStringLiteral(", EventTimeEnd = ") + literal(v.endDate, v.endTime)
        + QStringLiteral(", idPOC = ") + id(v.staffId) + QStringLiteral(" WHERE idScheduledEvent = ") + id(eventId);
}

QString deleteEventsByIds(const QList<int> &eventIds)
{
    return QStringLiteral("DELETE FROM tblScheduledEvents WHERE idScheduledEvent IN (") + idList(eventIds)
        + QStringLiteral(")");
}

QString restoreTemplate(const QString &title, const QString &description, int templateId)
{
    return QStringLiteral("INSERT INTO tblPredefinedEvents(idPredefinedEvent, title, Description) VALUES(")
        + id(templateId) + QStringLiteral(", ") + exactText(title) + QStringLiteral(", ") + exactText(description)
        + QStringLiteral(")");
}

QString restoreStaff(const QString &name, const QString &notes, int staffId)
{
    return QStringLiteral("INSERT INTO tblPOCs(idPOC, pocName, pocDescription) VALUES(") + id(staffId)
        + QStringLiteral(", ") + exactText(name) + QStringLiteral(", ") + exactText(notes) + QStringLiteral(")");
}

QString rewriteTemplate(const QString &title, const QString &description, int templateId)
{
    return QStringLiteral("UPDATE tblPredefinedEvents SET title = ") + exactText(title) + QStringLiteral(", Description = ")
        + exactText(description) + QStringLiteral(" WHERE idPredefinedEvent = ") + id(templateId);
}

QString rewriteStaff(const QString &name, const QString &notes, int staffId)
{
    return QStringLiteral("UPDATE tblPOCs SET pocName = ") + exactText(name) + QStringLiteral(", pocDescription = ")
        + exactText(notes) + QStringLiteral(" WHERE idPOC = ") + id(staffId);
}

} // namespace statements
