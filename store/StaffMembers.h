#pragma once

#include "store/StaffMember.h"

#include <QHash>

#include <functional>
#include <optional>

namespace store {

class Connection;

// Staff members through the fixed statements. A NULL name fails the read
// (StoreError); notes left NULL read as empty.
class StaffMembers
{
public:
    StaffMembers() = delete;

    // Hands each staff member on in the store's order. A row that cannot be
    // read ends the read with its failure, the rows before it handed on.
    static void readAll(Connection &conn, const std::function<void(const StaffMember &)> &each);
    // Key to name of every staff member that can be read; a damaged row is left out.
    [[nodiscard]] static QHash<int, QString> names(Connection &conn);
    [[nodiscard]] static std::optional<StaffMember> readOne(Connection &conn, int id);
    // How many events name the staff member.
    [[nodiscard]] static int eventsNaming(Connection &conn, int id);
    // Returns the new row's key.
    static int insert(Connection &conn, const QString &name, const QString &notes);
    static void update(Connection &conn, int id, const QString &name, const QString &notes);
    static void remove(Connection &conn, int id);
    // For undo and redo: stores the row under `id` when that key is free,
    // else under a new one (returned), every character kept.
    static int restore(Connection &conn, int id, const QString &name, const QString &notes);
    static void rewrite(Connection &conn, int id, const QString &name, const QString &notes);
};

} // namespace store
