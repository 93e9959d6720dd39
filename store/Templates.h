#pragma once

#include "store/Template.h"

#include <functional>
#include <optional>

namespace store {

class Connection;

// Activity and drill templates through the fixed statements. A NULL title
// fails the read (StoreError); a description left NULL reads as empty.
class Templates
{
public:
    Templates() = delete;

    // Hands each template on in the store's order. A row that cannot be read
    // ends the read with its failure, the rows before it handed on.
    static void readAll(Connection &conn, const std::function<void(const Template &)> &each);
    [[nodiscard]] static std::optional<Template> readOne(Connection &conn, int id);
    // Returns the new row's key.
    static int insert(Connection &conn, const QString &title, const QString &description);
    static void update(Connection &conn, int id, const QString &title, const QString &description);
    static void remove(Connection &conn, int id);
    // For undo and redo: stores the row under `id` when that key is free,
    // else under a new one (returned), every character kept.
    static int restore(Connection &conn, int id, const QString &title, const QString &description);
    static void rewrite(Connection &conn, int id, const QString &title, const QString &description);
};

} // namespace store
