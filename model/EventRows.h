#pragma once

#include "model/Entry.h"
#include "model/UndoQuestions.h"
#include "store/Event.h"

#include <QHash>
#include <QList>

namespace store { class Connection; }

namespace model {

class Calendar;

// How an undo step reads and writes scheduled events.
class EventRows
{
public:
    using Row = store::Event;

    [[nodiscard]] Table table() const { return Table::Events; }
    [[nodiscard]] int key(const Calendar &calendar, int id) const;
    [[nodiscard]] QHash<int, Row> readMany(store::Connection &conn, const QList<int> &keys, bool lockRows) const;
    int restore(store::Connection &conn, int key, const Row &row) const;
    void rewrite(store::Connection &conn, int key, const Row &row) const;
    void removeMany(store::Connection &conn, const QList<int> &keys) const;
    // Same values; the key and the staff member's name do not count.
    [[nodiscard]] bool same(const Row &a, const Row &b) const;
    [[nodiscard]] bool ask(UndoQuestions &questions, const QList<UndoQuestions::Conflict<Row>> &conflicts) const;
    // Tells the calendar which days changed.
    void tell(Calendar &calendar, const QList<Row> &rows) const;
};

} // namespace model
