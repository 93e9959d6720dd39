#pragma once

#include "store/Event.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace store {

class Connection;

// Find: the events whose title, description, notes or staff member's name
// hold every word typed, each word as the beginning of a stored word, without
// regard to case or accents, newest first. The file searches its FTS5 index,
// the server its full-text index (schema version 3); both are kept by the
// store's own triggers, so no write of the program has to remember them.
class EventSearch
{
public:
    EventSearch() = delete;

    // The words of a typed text: its runs of letters and digits. Whatever else
    // was typed (quotes, apostrophes, the indexes' own operators) only parts
    // words, so no typed text can make a statement fail.
    [[nodiscard]] static QStringList words(const QString &typed);

    // Up to `limit` events with their staff member's name (empty when the
    // member is gone); none without a word. Throws StoreError, saying so
    // plainly when the calendar could not be given its index.
    [[nodiscard]] static QList<Event> find(Connection &conn, const QString &typed, int limit);
};

} // namespace store
