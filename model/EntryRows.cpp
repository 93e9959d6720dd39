#include "model/EntryRows.h"

#include "model/Calendar.h"
#include "store/Connection.h"
#include "store/StaffMembers.h"
#include "store/Statements.h"
#include "store/Templates.h"

namespace model {

std::optional<Entry> EntryRows::readOne(store::Connection &conn, Table table, int id)
{
    if (table == Table::Templates) {
        if (const std::optional<store::Template> t = store::Templates::readOne(conn, id))
            return Entry{t->id, t->title, t->description};
    } else if (const std::optional<store::StaffMember> s = store::StaffMembers::readOne(conn, id)) {
        return Entry{s->id, s->name, s->notes};
    }
    return std::nullopt;
}

int EntryRows::key(const Calendar &calendar, int id) const
{
    return calendar.currentKey(m_table, id);
}

QHash<int, Entry> EntryRows::readMany(store::Connection &conn, const QList<int> &keys, bool lockRows) const
{
    // A step holds one entry. The file's transaction locks it whole; the
    // server locks the row first.
    const bool server = lockRows && conn.engine() == store::Engine::Postgres;
    QHash<int, Entry> rows;
    for (int key : keys) {
        if (server)
            conn.execute((m_table == Table::Templates ? statements::templateById(key) : statements::staffById(key))
                         + QStringLiteral(" FOR UPDATE"));
        if (const std::optional<Entry> e = readOne(conn, m_table, key))
            rows.insert(key, *e);
    }
    return rows;
}

int EntryRows::restore(store::Connection &conn, int key, const Row &row) const
{
    return m_table == Table::Templates ? store::Templates::restore(conn, key, row.title, row.text)
                                       : store::StaffMembers::restore(conn, key, row.title, row.text);
}

void EntryRows::rewrite(store::Connection &conn, int key, const Row &row) const
{
    if (m_table == Table::Templates)
        store::Templates::rewrite(conn, key, row.title, row.text);
    else
        store::StaffMembers::rewrite(conn, key, row.title, row.text);
}

void EntryRows::removeMany(store::Connection &conn, const QList<int> &keys) const
{
    for (int key : keys) {
        if (m_table == Table::Templates)
            store::Templates::remove(conn, key);
        else
            store::StaffMembers::remove(conn, key);
    }
}

bool EntryRows::ask(UndoQuestions &questions, const QList<UndoQuestions::Conflict<Row>> &conflicts) const
{
    return questions.overwriteEntries(m_table, conflicts);
}

void EntryRows::tell(Calendar &calendar, const QList<Row> &) const
{
    if (m_table == Table::Templates)
        calendar.tellTemplates();
    else
        calendar.tellStaff();
}

} // namespace model
