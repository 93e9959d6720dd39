#include "sync/SyncState.h"

#include "store/Connection.h"
#include "store/StoreError.h"

#include <QDir>
#include <QFileInfo>

namespace caldav::state {
namespace {

using statements::exactText;

QString number(int value)
{
    return QString::number(value);
}

const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QString timeText(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, Qt::UTC).toString(kTimeFormat);
}

// Read by hand: QDateTime::fromString with a format costs a sync with
// nothing to do most of its time over a few thousand rows.
QDateTime timeOf(const QString &text)
{
    const QStringView v(text);
    if (v.size() != 19 || v[4] != u'-' || v[7] != u'-' || v[10] != u'T' || v[13] != u':' || v[16] != u':')
        return {};
    const auto at = [v](qsizetype from, qsizetype length) { return v.mid(from, length).toInt(); };
    return QDateTime(QDate(at(0, 4), at(5, 2), at(8, 2)), QTime(at(11, 2), at(14, 2), at(17, 2)), Qt::UTC);
}

} // namespace

bool hasTables(store::Connection &conn)
{
    const QString sql = conn.engine() == store::Engine::Postgres
        ? QStringLiteral("SELECT count(*) AS tables FROM pg_catalog.pg_tables WHERE schemaname = current_schema()"
                         " AND tablename IN ('tblsyncbinding', 'tblsyncresources', 'tblsyncevents')")
        : QStringLiteral("SELECT count(*) AS tables FROM sqlite_master WHERE type = 'table'"
                         " AND lower(name) IN ('tblsyncbinding', 'tblsyncresources', 'tblsyncevents')");
    return conn.execute(sql).integer(QStringLiteral("tables")) == 3;
}

QString locationOf(store::Connection &conn)
{
    if (conn.engine() == store::Engine::Postgres) {
        store::RowSet rs = conn.execute(QStringLiteral("SELECT current_database() || '/' || current_schema() AS location"));
        return QStringLiteral("postgresql:") + rs.text(QStringLiteral("location"));
    }
    const QFileInfo file(conn.path());
    const QString canonical = file.canonicalFilePath();
    return canonical.isEmpty() ? file.absoluteFilePath() : canonical;
}

std::optional<StoredBinding> readBinding(store::Connection &conn)
{
    store::RowSet rs = conn.execute(QStringLiteral("SELECT * FROM tblSyncBinding"));
    if (rs.eof())
        return std::nullopt;
    StoredBinding s;
    s.binding.calendar = QUrl(rs.text(QStringLiteral("calendarUrl")));
    s.binding.user = rs.text(QStringLiteral("userName"));
    s.binding.trustedFingerprint = rs.text(QStringLiteral("fingerprint"));
    s.binding.reminderMinutes = rs.integer(QStringLiteral("reminderMinutes"));
    s.binding.fallbackStaffId = rs.integer(QStringLiteral("fallbackStaff"));
    s.binding.weeksBack = rs.integer(QStringLiteral("weeksBack"));
    s.binding.weeksAhead = rs.integer(QStringLiteral("weeksAhead"));
    s.identity = rs.text(QStringLiteral("identity"));
    s.location = rs.text(QStringLiteral("location"));
    s.syncToken = rs.text(QStringLiteral("syncToken"));
    s.ctag = rs.text(QStringLiteral("ctag"));
    return s;
}

void writeBinding(store::Connection &conn, const StoredBinding &s)
{
    const Binding &b = s.binding;
    conn.execute(QStringLiteral("DELETE FROM tblSyncBinding"));
    conn.execute(QStringLiteral("INSERT INTO tblSyncBinding(calendarUrl, userName, fingerprint, reminderMinutes, fallbackStaff,"
                                " weeksBack, weeksAhead, identity, location, syncToken, ctag) VALUES(")
                 + QStringList{exactText(b.calendar.toString(QUrl::FullyEncoded)), exactText(b.user), exactText(b.trustedFingerprint),
                               number(b.reminderMinutes), number(b.fallbackStaffId), number(b.weeksBack), number(b.weeksAhead),
                               exactText(s.identity), exactText(s.location), exactText(s.syncToken), exactText(s.ctag)}
                       .join(QStringLiteral(", "))
                 + QLatin1Char(')'));
}

void saveProgress(store::Connection &conn, const QString &syncToken, const QString &ctag)
{
    conn.execute(QStringLiteral("UPDATE tblSyncBinding SET syncToken = %1, ctag = %2").arg(exactText(syncToken), exactText(ctag)));
}

void removeBinding(store::Connection &conn)
{
    conn.execute(QStringLiteral("DELETE FROM tblSyncBinding"));
    clearState(conn);
}

void clearState(store::Connection &conn)
{
    conn.execute(QStringLiteral("DELETE FROM tblSyncEvents"));
    conn.execute(QStringLiteral("DELETE FROM tblSyncResources"));
}

QHash<QString, ResourceRow> readResources(store::Connection &conn)
{
    QHash<QString, ResourceRow> out;
    for (store::RowSet rs = conn.execute(QStringLiteral("SELECT * FROM tblSyncResources")); !rs.eof(); rs.moveNext()) {
        ResourceRow r;
        r.href = rs.text(QStringLiteral("href"));
        r.uid = rs.text(QStringLiteral("uid"));
        r.etag = rs.text(QStringLiteral("etag"));
        r.repeating = rs.integer(QStringLiteral("repeating")) != 0;
        r.digest = rs.text(QStringLiteral("digest"));
        r.data = rs.optionalText(QStringLiteral("data")).toUtf8();
        out.insert(r.href, r);
    }
    return out;
}

void putResource(store::Connection &conn, const ResourceRow &r)
{
    conn.execute(QStringLiteral("DELETE FROM tblSyncResources WHERE href = %1").arg(exactText(r.href)));
    conn.execute(QStringLiteral("INSERT INTO tblSyncResources(href, uid, etag, repeating, digest, data) VALUES(%1, %2, %3, %4, %5, %6)")
                     .arg(exactText(r.href), exactText(r.uid), exactText(r.etag), number(r.repeating ? 1 : 0),
                          exactText(r.digest), r.repeating ? exactText(QString::fromUtf8(r.data)) : QStringLiteral("NULL")));
}

void dropResource(store::Connection &conn, const QString &href)
{
    conn.execute(QStringLiteral("DELETE FROM tblSyncEvents WHERE href = %1").arg(exactText(href)));
    conn.execute(QStringLiteral("DELETE FROM tblSyncResources WHERE href = %1").arg(exactText(href)));
}

QList<SyncedEvent> readSyncedEvents(store::Connection &conn)
{
    QList<SyncedEvent> out;
    for (store::RowSet rs = conn.execute(QStringLiteral("SELECT * FROM tblSyncEvents")); !rs.eof(); rs.moveNext()) {
        SyncedEvent e;
        e.eventId = rs.integer(QStringLiteral("idScheduledEvent"));
        e.href = rs.text(QStringLiteral("href"));
        e.occurrence = rs.text(QStringLiteral("occurrence"));
        e.last.title = rs.optionalText(QStringLiteral("title"));
        e.last.description = rs.optionalText(QStringLiteral("Description"));
        e.last.notes = rs.optionalText(QStringLiteral("Notes"));
        const QDateTime start = timeOf(rs.text(QStringLiteral("eventStart")));
        const QDateTime end = timeOf(rs.text(QStringLiteral("eventEnd")));
        e.last.startDate = start.date();
        e.last.startTime = start.time();
        e.last.endDate = end.date();
        e.last.endTime = end.time();
        e.last.staffId = rs.integer(QStringLiteral("idPOC"));
        out.append(e);
    }
    return out;
}

void putSyncedEvent(store::Connection &conn, const SyncedEvent &e)
{
    dropSyncedEvent(conn, e.eventId);
    const statements::EventValues &v = e.last;
    conn.execute(QStringLiteral("INSERT INTO tblSyncEvents(idScheduledEvent, href, occurrence, title, Description, Notes,"
                                " eventStart, eventEnd, idPOC) VALUES(")
                 + QStringList{number(e.eventId), exactText(e.href), exactText(e.occurrence), exactText(v.title),
                               exactText(v.description), exactText(v.notes), exactText(timeText(v.startDate, v.startTime)),
                               exactText(timeText(v.endDate, v.endTime)), number(v.staffId)}
                       .join(QStringLiteral(", "))
                 + QLatin1Char(')'));
}

void dropSyncedEvent(store::Connection &conn, int eventId)
{
    conn.execute(QStringLiteral("DELETE FROM tblSyncEvents WHERE idScheduledEvent = %1").arg(eventId));
}

} // namespace caldav::state
