#pragma once

#include "store/Engine.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace store {

class Connection;

// Creates a new database file with the three tables and the index the day
// query uses. The calendar itself never calls this; the companion tool and the
// tests do. Throws StoreError when the file exists already or cannot be made.
// Given a postgresql:// URL, makes the tables on that server's database.
void createDatabase(const QString &path);

// The server's schema: the same three tables (32-bit identity keys, the index
// on the start time) and triggers that announce every change on the channel
// kChangeChannel, with the table's name as payload. Refuses when any of the
// tables exists.
void createServerTables(const QString &url);
inline const char *const kChangeChannel = "orvenna_changes";

// The two small tables calendar exchange keeps beside the calendar: which
// event came from which imported entry (uid and start, the start typed as the
// engine types EventTime), and the calendar's name for itself in exported
// UIDs. The server's schema makes them with the rest; a file, or a server
// calendar made before, gets them on first use. Only a missing table is
// created, so a server user without the right to create tables can still use
// them, also inside a transaction.
void addExchangeTables(Connection &conn);
[[nodiscard]] QStringList exchangeTableStatements(Engine engine);

// Adds a small demonstration set: templates, staff members, and events in the
// week around `today`.
void addDemoData(const QString &path, const QDate &today);

} // namespace store
