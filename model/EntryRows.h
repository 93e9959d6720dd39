#pragma once

#include "model/Entry.h"
#include "model/UndoQuestions.h"

#include <QHash>
#include <QList>

#include <optional>

namespace store { class Connection; }

namespace model {

class Calendar;

// How an undo step reads and writes templates or staff members.
class EntryRows
{
public:
    using Row = Entry;

    explicit EntryRows(Table table) : m_table(table) {}

    [[nodiscard]] static std::optional<Entry> readOne(store::Connection &conn, Table table, int id);

    [[nodiscard]] Table table() const { return m_table; }
    [[nodiscard]] int key(const Calendar &calendar, int id) const;
    [[nodiscard]] QHash<int, Row> readMany(store::Connection &conn, const QList<int> &keys, bool lockRows) const;
    int restore(store::Connection &conn, int key, const Row &row) const;
    void rewrite(store::Connection &conn, int key, const Row &row) const;
    void removeMany(store::Connection &conn, const QList<int> &keys) const;
    [[nodiscard]] bool same(const Row &a, const Row &b) const { return a.title == b.title && a.text == b.text; }
    [[nodiscard]] bool ask(UndoQuestions &questions, const QList<UndoQuestions::Conflict<Row>> &conflicts) const;
    void tell(Calendar &calendar, const QList<Row> &rows) const;

private:
    Table m_table;
};

} // namespace model
