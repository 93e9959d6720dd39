#pragma once

#include "model/Calendar.h"
#include "model/UndoQuestions.h"
#include "store/Connection.h"
#include "store/Transaction.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QUndoCommand>

#include <optional>

namespace model {

// One write of this copy on the undo stack: each row it wrote, whole, as it
// was before and as the write left it (none: not stored). The write itself
// was done by the window that made it, so the first redo, on the push, does
// nothing. Undo and redo write only over rows still as the step left them;
// a row another copy changed meanwhile is asked about first.
// `Rows` reads and writes one table (EventRows, EntryRows).
template <class Rows>
class Step : public QUndoCommand
{
public:
    using Row = typename Rows::Row;
    struct Change
    {
        int id = -1;
        std::optional<Row> before;
        std::optional<Row> after;
    };

    Step(Calendar &calendar, Rows rows, const QString &name, QList<Change> changes)
        : m_calendar(calendar), m_rows(rows), m_changes(std::move(changes))
    {
        setText(name);
    }

    void undo() override { apply(false); }
    void redo() override
    {
        if (m_pushed) {
            m_pushed = false;
            return;
        }
        apply(true);
    }

private:
    enum class Act { None, Restore, Rewrite, Remove, Ask };
    using Maybe = std::optional<Row>;
    using Conflict = UndoQuestions::Conflict<Row>;

    [[nodiscard]] bool same(const Maybe &a, const Maybe &b) const
    {
        return a.has_value() == b.has_value() && (!a || m_rows.same(*a, *b));
    }

    // What takes a row from `now` to `to`, it having been `from`.
    [[nodiscard]] Act decide(const Maybe &from, const Maybe &to, const Maybe &now) const
    {
        if (same(now, to))
            return Act::None;
        if (!from)
            return Act::Restore; // its key may be taken meanwhile: it then gets a new one
        if (!same(now, from))
            return Act::Ask;
        return to ? Act::Rewrite : Act::Remove;
    }

    void apply(bool forward)
    {
        if (m_calendar.replaying())
            return;
        QList<int> keys;
        keys.reserve(m_changes.size());
        for (const Change &c : m_changes)
            keys << m_rows.key(m_calendar, c.id);
        auto from = [forward](const Change &c) -> const Maybe & { return forward ? c.before : c.after; };
        auto to = [forward](const Change &c) -> const Maybe & { return forward ? c.after : c.before; };
        QHash<int, Maybe> seen;   // key -> the other copy's version the user chose to overwrite
        QSet<int> kept;           // keys whose other version stays
        QList<std::pair<int, int>> moved;
        QList<Row> touched;
        try {
            store::Connection conn;
            conn.open(m_calendar.connectionString());
            for (int round = 0;; ++round) {
                const QHash<int, Row> now = m_rows.readMany(conn, keys, false);
                QList<Conflict> conflicts;
                QList<int> conflictKeys;
                for (qsizetype i = 0; i < m_changes.size(); ++i) {
                    const int key = keys[i];
                    const Maybe current = now.contains(key) ? Maybe(now.value(key)) : Maybe();
                    if (kept.contains(key) || decide(from(m_changes[i]), to(m_changes[i]), current) != Act::Ask)
                        continue;
                    if (seen.contains(key) && same(seen.value(key), current))
                        continue;
                    conflicts.append(Conflict{*from(m_changes[i]), current});
                    conflictKeys.append(key);
                }
                if (!conflicts.isEmpty()) {
                    UndoQuestions *questions = m_calendar.questions();
                    const bool overwrite = questions && m_rows.ask(*questions, conflicts);
                    for (qsizetype i = 0; i < conflicts.size(); ++i) {
                        if (overwrite)
                            seen.insert(conflictKeys[i], conflicts[i].now);
                        else
                            kept.insert(conflictKeys[i]);
                    }
                }
                // Written only over what was read and asked about above.
                store::Transaction transaction(conn, store::Connection::Begin::WriteLocked);
                const QHash<int, Row> locked = m_rows.readMany(conn, keys, true);
                bool changedMeanwhile = false;
                for (int key : keys)
                    changedMeanwhile = changedMeanwhile || locked.contains(key) != now.contains(key)
                        || (now.contains(key) && !m_rows.same(now.value(key), locked.value(key)));
                if (changedMeanwhile) {
                    if (round < 5)
                        continue;
                    throw store::StoreError(QStringLiteral("Another copy of Orvenna keeps changing these rows; try again."));
                }
                moved.clear();
                touched.clear();
                QList<int> removed;
                for (qsizetype i = 0; i < m_changes.size(); ++i) {
                    const int key = keys[i];
                    const Maybe current = now.contains(key) ? Maybe(now.value(key)) : Maybe();
                    const Maybe &target = to(m_changes[i]);
                    Act act = decide(from(m_changes[i]), target, current);
                    if (act == Act::None || kept.contains(key))
                        continue;
                    if (act == Act::Ask)
                        act = !target ? Act::Remove : current ? Act::Rewrite : Act::Restore;
                    if (current)
                        touched << *current;
                    if (target)
                        touched << *target;
                    if (act == Act::Remove) {
                        removed << key;
                    } else if (act == Act::Rewrite) {
                        m_rows.rewrite(conn, key, *target);
                    } else if (const int stored = m_rows.restore(conn, key, *target); stored != key) {
                        moved.append({key, stored});
                    }
                }
                m_rows.removeMany(conn, removed);
                transaction.commit();
                break;
            }
        } catch (const store::StoreError &e) {
            m_calendar.stepFailed(e);
            return;
        }
        for (const auto &[key, stored] : moved)
            m_calendar.keyMoved(m_rows.table(), key, stored);
        if (!touched.isEmpty())
            m_rows.tell(m_calendar, touched);
    }

    Calendar &m_calendar;
    Rows m_rows;
    QList<Change> m_changes;
    bool m_pushed = true;
};

} // namespace model
