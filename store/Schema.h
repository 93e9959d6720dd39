#pragma once

#include <QDate>
#include <QString>

namespace store {

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

// Adds a small demonstration set: templates, staff members, and events in the
// week around `today`.
void addDemoData(const QString &path, const QDate &today);

} // namespace store
