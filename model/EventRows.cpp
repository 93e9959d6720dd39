#include "model/EventRows.h"

#include "model/Calendar.h"
#include "store/Events.h"

#include <algorithm>

namespace model {

int EventRows::key(const Calendar &calendar, int id) const
{
    return calendar.currentKey(Table::Events, id);
}

QHash<int, EventRows::Row> EventRows::readMany(store::Connection &conn, const QList<int> &keys, bool lockRows) const
{
    return store::Events::readMany(conn, keys, lockRows);
}

int EventRows::restore(store::Connection &conn, int key, const Row &row) const
{
    return store::Events::restore(conn, key, row.values);
}

void EventRows::rewrite(store::Connection &conn, int key, const Row &row) const
{
    store::Events::rewrite(conn, key, row.values);
}

void EventRows::removeMany(store::Connection &conn, const QList<int> &keys) const
{
    store::Events::removeMany(conn, keys);
}

bool EventRows::same(const Row &a, const Row &b) const
{
    const statements::EventValues &x = a.values, &y = b.values;
    return x.title == y.title && x.description == y.description && x.notes == y.notes && a.start() == b.start()
        && a.end() == b.end() && x.staffId == y.staffId;
}

bool EventRows::ask(UndoQuestions &questions, const QList<UndoQuestions::Conflict<Row>> &conflicts) const
{
    return questions.overwriteEvents(conflicts);
}

void EventRows::tell(Calendar &calendar, const QList<Row> &rows) const
{
    const auto [first, last] = std::minmax_element(rows.cbegin(), rows.cend(), [](const Row &a, const Row &b) {
        return a.values.startDate < b.values.startDate;
    });
    calendar.tellEvents(first->values.startDate, last->values.startDate);
}

} // namespace model
