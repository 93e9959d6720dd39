#pragma once

#include "store/Event.h"
#include "store/StoreError.h"

#include <QDate>
#include <QHash>
#include <QList>

#include <optional>

namespace store {

class Connection;

// Scheduled events through the fixed statements, every row read by one
// mapping. A value that is needed and cannot be read (a NULL title, a start
// another tool wrote in a form of its own) fails the read with StoreError;
// description and notes left NULL read as empty.
class Events
{
public:
    Events() = delete;

    // How much of a row must be readable.
    enum class Reading {
        Whole,
        // The key, title and start: an end or staff key that cannot be read is
        // left out (an invalid end, staff key -1), as a listing needs neither.
        Listed,
    };

    // The day's events in the store's order, read as Listed. A row that cannot
    // be read is left out, the rest are read, and the first such failure is
    // returned, so one bad row does not hide the rest of the day. A failed
    // query throws, `rows` keeping what was read. A day the store's dates
    // cannot name is empty without a query.
    static std::optional<StoreError> readDay(Connection &conn, const QDate &day, QList<Event> &rows);
    // Whole events with their staff member's name, in order of start.
    [[nodiscard]] static QList<Event> readRange(Connection &conn, const QDate &first, const QDate &last);
    [[nodiscard]] static QList<Event> readAll(Connection &conn);
    [[nodiscard]] static std::optional<Event> readOne(Connection &conn, int id, Reading reading = Reading::Whole);
    // The event as the report prints it, with its staff member's name and
    // notes; none when the event or its staff member is gone.
    [[nodiscard]] static std::optional<Event> readForReport(Connection &conn, int id);

    // Returns the new row's key.
    static int insert(Connection &conn, const statements::EventValues &values);
    static void update(Connection &conn, int id, const statements::EventValues &values);

    struct UpdateResult
    {
        enum class Outcome {
            Updated,
            Changed, // another copy saved the event since `expected` was read; nothing was written
            Gone,    // the event is no longer stored; nothing was written
        };
        Outcome outcome = Outcome::Updated;
        std::optional<Event> current; // Changed: the event as stored now
    };
    // Writes `values` over the event only while it is still `expected`, the
    // whole row as last read. Check and write are one transaction that holds
    // the write lock from the read on, so a save by another copy cannot land
    // between them and be lost. `Texts::Exact` writes the texts as they are
    // (a move, which must not blank an imported apostrophe); the editor's
    // save cleans them as always.
    enum class Texts { Cleaned, Exact };
    [[nodiscard]] static UpdateResult updateIfUnchanged(Connection &conn, int id, const Event &expected,
                                                        const statements::EventValues &values,
                                                        Texts texts = Texts::Cleaned);

    static void remove(Connection &conn, int id);
    // Deletes the event and returns it as it was, read whole just before;
    // none when it was gone already or another tool left it unreadable (it
    // is deleted all the same). A lost connection throws.
    static std::optional<Event> removeReturning(Connection &conn, int id);

    // The staff member's other events that overlap the event's time (those
    // starting up to a day before it), with the staff member's name; one
    // indexed query. Rows that cannot be read whole are left out.
    [[nodiscard]] static QList<Event> clashes(Connection &conn, const Event &event);

    // For undo and redo, which put rows back exactly as they were.
    // Whole events by key; a key not stored is left out. `lockRows`: inside a
    // WriteLocked transaction, the server locks them too until it ends.
    [[nodiscard]] static QHash<int, Event> readMany(Connection &conn, const QList<int> &ids, bool lockRows = false);
    // Stores the event under `id` when that key is free, else under a new one;
    // returns the key it got.
    static int restore(Connection &conn, int id, const statements::EventValues &values);
    static void rewrite(Connection &conn, int id, const statements::EventValues &values);
    static void removeMany(Connection &conn, const QList<int> &ids);
};

} // namespace store
