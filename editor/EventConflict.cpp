#include "editor/EventConflict.h"

#include "store/ChangeHistory.h"
#include "store/Connection.h"
#include "store/Events.h"
#include "store/StaffMembers.h"
#include "ui/Prompt.h"
#include "ui/Regional.h"

namespace {

QString staffName(const QString &connectionString, int staffId)
{
    try {
        store::Connection conn;
        conn.open(connectionString);
        if (const std::optional<store::StaffMember> s = store::StaffMembers::readOne(conn, staffId))
            return s->name;
    } catch (const store::StoreError &) {
    }
    return QStringLiteral("staff member %1").arg(staffId);
}

} // namespace

QString changedByLine(const QString &connectionString, int eventId)
{
    try {
        store::Connection conn;
        conn.open(connectionString);
        if (const std::optional<store::RowHistory> h = store::ChangeHistory::read(conn, store::ChangeHistory::Table::Events, eventId))
            return store::ChangeHistory::latest(*h);
    } catch (const store::StoreError &) {
        // A calendar not yet brought up to date keeps no history: nothing to tell.
    }
    return QString();
}

QString describeChanges(const store::Event &opened, const store::Event &now, const QString &connectionString)
{
    QStringList lines;
    auto line = [&lines](const char *field, const QString &was, const QString &is) {
        lines << QStringLiteral("%1: was %2, now %3").arg(QLatin1String(field), was, is);
    };
    const statements::EventValues &was = opened.values, &is = now.values;
    if (was.title != is.title)
        line("Title", quotedShort(was.title), quotedShort(is.title));
    if (opened.start() != now.start())
        line("Start", longDateTimeText(opened.start()), longDateTimeText(now.start()));
    if (opened.end() != now.end())
        line("End", longDateTimeText(opened.end()), longDateTimeText(now.end()));
    if (was.staffId != is.staffId)
        line("Staff member", staffName(connectionString, was.staffId), staffName(connectionString, is.staffId));
    if (was.description != is.description)
        line("Description", quotedShort(was.description), quotedShort(is.description));
    if (was.notes != is.notes)
        line("Notes", quotedShort(was.notes), quotedShort(is.notes));
    return lines.join(QStringLiteral("\r\n"));
}

bool keepOthersVersion(Prompt &prompt, QWidget *parent, const QString &connectionString,
                       const store::Event &opened, const store::Event &now)
{
    const QString who = changedByLine(connectionString, now.id);
    return !prompt.ask(parent, QStringLiteral("Someone else changed this event since you opened it:\r\n")
                                   + (who.isEmpty() ? QString() : who + QStringLiteral("\r\n")) + QStringLiteral("\r\n")
                                   + describeChanges(opened, now, connectionString)
                                   + QStringLiteral("\r\n\r\nOverwrite it with your version? Choose No to keep the "
                                                    "other version; what you changed here is then not saved."));
}

QString clashText(const store::Event &event, const QList<store::Event> &clashes)
{
    if (clashes.isEmpty())
        return QString();
    QStringList named;
    for (const store::Event &c : clashes) {
        QString one = QStringLiteral("'%1' %2-%3").arg(c.values.title, statements::timeText(c.values.startTime),
                                                       statements::timeText(c.values.endTime));
        if (c.values.startDate != event.values.startDate)
            one += QStringLiteral(" from ") + c.values.startDate.toString(QStringLiteral("ddd M/d/yyyy"));
        named << one;
    }
    const QString last = named.takeLast();
    const QString listed = named.isEmpty() ? last : named.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
    const QString who = clashes.first().staffName.isEmpty() ? QStringLiteral("This staff member") : clashes.first().staffName;
    return QStringLiteral("%1 already has %2 that day.").arg(who, listed);
}

bool clashesAccepted(Prompt &prompt, QWidget *parent, store::Connection &conn, const store::Event &event, const QString &verb)
{
    QList<store::Event> clashes;
    try {
        clashes = store::Events::clashes(conn, event);
    } catch (const store::StoreError &) {
        return true;
    }
    if (clashes.isEmpty())
        return true;
    return prompt.ask(parent, clashText(event, clashes) + QStringLiteral(" %1 anyway?").arg(verb));
}
