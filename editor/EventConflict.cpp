#include "editor/EventConflict.h"

#include "store/Connection.h"
#include "store/Statements.h"
#include "ui/Prompt.h"
#include "ui/Regional.h"

EventSnapshot EventSnapshot::of(const store::RowSet &row)
{
    EventSnapshot s;
    s.title = row.text(QStringLiteral("title"));
    s.description = row.optionalText(QStringLiteral("description"));
    s.notes = row.optionalText(QStringLiteral("Notes"));
    s.start = row.dateTime(QStringLiteral("EventTime"));
    s.end = row.dateTime(QStringLiteral("EventTimeEnd"));
    s.staffId = row.integer(QStringLiteral("idPOC"));
    return s;
}

bool EventSnapshot::operator==(const EventSnapshot &o) const
{
    return title == o.title && description == o.description && notes == o.notes && start == o.start && end == o.end
        && staffId == o.staffId;
}

namespace {

QString shortText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    text.replace(QLatin1Char('\n'), QLatin1String(" / "));
    if (text.size() > 80)
        text = text.left(77) + QStringLiteral("...");
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString when(const QDateTime &t)
{
    return longDateText(t.date()) + QLatin1Char(' ') + t.time().toString(QStringLiteral("HH:mm"));
}

QString staffName(const QString &connectionString, int staffId)
{
    try {
        store::Connection conn;
        conn.open(connectionString);
        store::RowSet rs = conn.execute(statements::staffById(staffId));
        if (!rs.eof())
            return rs.text(QStringLiteral("pocName"));
    } catch (const store::StoreError &) {
    }
    return QStringLiteral("staff member %1").arg(staffId);
}

} // namespace

QString describeChanges(const EventSnapshot &opened, const EventSnapshot &now, const QString &connectionString)
{
    QStringList lines;
    auto line = [&lines](const char *field, const QString &was, const QString &is) {
        lines << QStringLiteral("%1: was %2, now %3").arg(QLatin1String(field), was, is);
    };
    if (opened.title != now.title)
        line("Title", shortText(opened.title), shortText(now.title));
    if (opened.start != now.start)
        line("Start", when(opened.start), when(now.start));
    if (opened.end != now.end)
        line("End", when(opened.end), when(now.end));
    if (opened.staffId != now.staffId)
        line("Staff member", staffName(connectionString, opened.staffId), staffName(connectionString, now.staffId));
    if (opened.description != now.description)
        line("Description", shortText(opened.description), shortText(now.description));
    if (opened.notes != now.notes)
        line("Notes", shortText(opened.notes), shortText(now.notes));
    return lines.join(QStringLiteral("\r\n"));
}

bool keepOthersVersion(Prompt &prompt, QWidget *parent, const QString &connectionString,
                       const EventSnapshot &opened, const EventSnapshot &now)
{
    return !prompt.ask(parent, QStringLiteral("Someone else changed this event since you opened it:\r\n\r\n")
                                   + describeChanges(opened, now, connectionString)
                                   + QStringLiteral("\r\n\r\nOverwrite it with your version? Choose No to keep the "
                                                    "other version; what you changed here is then not saved."));
}
