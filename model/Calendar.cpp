#include "model/Calendar.h"

#include "model/EntryRows.h"
#include "model/EventRows.h"
#include "model/Step.h"
#include "store/Events.h"
#include "store/Roles.h"

#include <algorithm>

namespace model {

Calendar::Calendar(const QString &connectionString, QObject *parent)
    : QObject(parent), m_connectionString(connectionString)
{
    connect(&m_listener, &store::ChangeListener::changed, this, &Calendar::heard);
    m_undo.setUndoLimit(100);
    try {
        m_readOnly = !store::loginMayWrite(connectionString);
    } catch (const store::StoreError &) {
        // The week's own read says why the calendar cannot be used.
    }
}

void Calendar::listen()
{
    m_listener.listen(m_connectionString);
}

void Calendar::tellEvents(const QDate &first, const QDate &last)
{
    emit eventsChanged(first, last, Origin::ThisCopy);
}

void Calendar::tellTemplates()
{
    emit templatesChanged(Origin::ThisCopy);
}

void Calendar::tellStaff()
{
    emit staffChanged(Origin::ThisCopy);
}

bool Calendar::touches(const QDate &first, const QDate &last, const QDate &from, const QDate &to)
{
    if (!first.isValid() || !last.isValid())
        return true;
    return std::min(first, last) <= to && std::max(first, last) >= from;
}

void Calendar::heard(const QString &table)
{
    // The announcement names a table only; an empty one: changes were missed.
    const bool any = table.isEmpty();
    if (any || table == QLatin1String("tblscheduledevents"))
        emit eventsChanged(QDate(), QDate(), Origin::OtherCopy);
    if (any || table == QLatin1String("tblpredefinedevents"))
        emit templatesChanged(Origin::OtherCopy);
    if (any || table == QLatin1String("tblpocs"))
        emit staffChanged(Origin::OtherCopy);
}

void Calendar::undo()
{
    step(true);
}

void Calendar::redo()
{
    step(false);
}

void Calendar::step(bool back)
{
    if (back ? !m_undo.canUndo() : !m_undo.canRedo())
        return;
    m_failure.reset();
    const int index = m_undo.index();
    if (back)
        m_undo.undo();
    else
        m_undo.redo();
    if (!m_failure)
        return;
    const store::StoreError failure = *m_failure;
    m_failure.reset();
    m_replaying = true;
    m_undo.setIndex(index);
    m_replaying = false;
    if (m_questions)
        m_questions->failed(back ? QStringLiteral("An error occured while undoing; nothing was changed.")
                                 : QStringLiteral("An error occured while redoing; nothing was changed."),
                            failure);
}

void Calendar::stepFailed(const store::StoreError &error)
{
    m_failure = error;
}

int Calendar::currentKey(Table table, int key) const
{
    const QHash<int, int> &moved = m_movedKeys[int(table)];
    // A file of an old program may give a freed key again: a chain never runs longer than the moves.
    qsizetype steps = moved.size();
    for (auto it = moved.constFind(key); it != moved.constEnd() && steps-- > 0; it = moved.constFind(key))
        key = it.value();
    return key;
}

void Calendar::keyMoved(Table table, int from, int to)
{
    if (from == to)
        return;
    QHash<int, int> &moved = m_movedKeys[int(table)];
    moved.remove(to);
    moved.insert(from, to);
}

void Calendar::claimed(Table table, const QList<int> &keys)
{
    QHash<int, int> &moved = m_movedKeys[int(table)];
    if (moved.isEmpty())
        return;
    for (int key : keys)
        moved.remove(key);
}

void Calendar::eventsWritten(store::Connection &conn, const QString &name, const QList<EventWrite> &writes)
{
    QList<Step<EventRows>::Change> changes;
    QDate first, last;
    auto day = [&first, &last](const store::Event &e) {
        const QDate d = e.values.startDate;
        first = first.isValid() ? std::min(first, d) : d;
        last = last.isValid() ? std::max(last, d) : d;
    };
    try {
        QList<int> ids, added;
        ids.reserve(writes.size());
        for (const EventWrite &w : writes) {
            ids << w.id;
            if (!w.before)
                added << w.id;
        }
        claimed(Table::Events, added);
        const QHash<int, store::Event> now = store::Events::readMany(conn, ids);
        changes.reserve(writes.size());
        for (const EventWrite &w : writes) {
            Step<EventRows>::Change c{w.id, w.before, std::nullopt};
            if (now.contains(w.id))
                c.after = now.value(w.id);
            if (c.before)
                day(*c.before);
            if (c.after)
                day(*c.after);
            changes << c;
        }
    } catch (const store::StoreError &) {
        // Written but not read back: no step, and the windows read the days anew.
        tellEvents(QDate(), QDate());
        return;
    }
    if (!changes.isEmpty())
        m_undo.push(new Step<EventRows>(*this, EventRows(), name, std::move(changes)));
    if (first.isValid())
        tellEvents(first, last);
}

void Calendar::entryWritten(store::Connection &conn, Table table, const QString &name, int id,
                            const std::optional<Entry> &before)
{
    try {
        if (!before)
            claimed(table, {id});
        Step<EntryRows>::Change c{id, before, EntryRows::readOne(conn, table, id)};
        m_undo.push(new Step<EntryRows>(*this, EntryRows(table), name, {c}));
    } catch (const store::StoreError &) {
    }
    if (table == Table::Templates)
        tellTemplates();
    else
        tellStaff();
}

} // namespace model
