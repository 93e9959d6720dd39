#pragma once

#include "store/Engine.h"

#include <QDate>
#include <QString>
#include <QStringList>

class QSqlDatabase;

namespace store {

class Connection;

// Creates a new database file with the three tables and the index the day
// query uses, at the latest schema version. The calendar itself never calls
// this; the companion tool and the tests do. Throws StoreError when the file
// exists already or cannot be made.
// Given a postgresql:// URL, makes the tables on that server's database.
void createDatabase(const QString &path);

// The server's schema: the same three tables (32-bit identity keys, the index
// on the start time) and triggers that announce every change on the channel
// kChangeChannel, with the table's name as payload; at the latest schema
// version. Refuses when any of the three tables exists.
void createServerTables(const QString &url);
inline const char *const kChangeChannel = "orvenna_changes";

// The schema has a version: a file keeps it in PRAGMA user_version, a server
// calendar in the one row of tblSchemaVersion. Version 1 is the three tables
// (and the server's triggers); 2 adds calendar exchange's two tables; 3 Find's
// index (EventSearch.h) and the triggers that keep it; 4 calendar sync's
// state (sync/SyncState.h); 5 the side table of who made and who last
// changed each row, and its triggers (ChangeHistory.h). A
// calendar with no version but the three tables was made before versions and
// holds version 1. Each engine's steps are in SchemaVersions.cpp.
inline constexpr int kSchemaVersion = 5;
// The server's advisory lock under which one copy at a time updates a calendar.
inline constexpr qint64 kSchemaLockKey = 0x6f7276656e6e61; // "orvenna"

// A new calendar's schema, at the latest version, as one list of statements.
[[nodiscard]] QStringList newSchemaStatements(Engine engine);

// Run where a calendar is opened (the file, or a new server connection), on
// the open database: brings an older calendar up to kSchemaVersion in one
// transaction, one copy at a time. Throws StoreError (Reason::Newer) for a
// calendar of a newer version, and writes nothing to it. Any other failure (a
// read-only file, a login that may not create tables) leaves the calendar as
// it was, readable; requireExchangeTables then says why.
enum class SchemaUpdate { Current, Updated, Behind };
SchemaUpdate bringUpToDate(QSqlDatabase &db, Engine engine, const QString &path);
// The history triggers of one connection to a calendar file (schema version
// 5 on): TEMP, so that other SQLite tools, which lack orvenna_user(), still
// write the file; their writes are not recorded.
[[nodiscard]] QStringList fileHistoryTriggers();

// Throws StoreError (Reason::Outdated) when the calendar could not be brought
// up to date in this run and lacks the tables imports keep their records in.
void requireExchangeTables(Connection &conn);

// Adds a small demonstration set: templates, staff members, and events in the
// week around `today`.
void addDemoData(const QString &path, const QDate &today);

} // namespace store
