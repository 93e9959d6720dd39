#pragma once

#include <QString>

namespace store {

// The data source text the windows keep as `connectionString`; the store takes
// the database path from its DBQ part.
[[nodiscard]] QString connectionStringFor(const QString &programFolder);
// The same, unless a shared calendar's postgresql:// URL is given: then the URL
// itself is the connection string.
[[nodiscard]] QString connectionStringFor(const QString &programFolder, const QString &databaseUrl);

// The text between "DBQ=" and the final ";"; empty when there is none. For a
// shared calendar, the URL without its password: what a user is told the
// calendar lives in.
[[nodiscard]] QString databasePathOf(const QString &connectionString);

// The user's settings file, $XDG_CONFIG_HOME/orvenna/orvenna.conf (the folder
// QSettings uses for the user's INI files). An orvenna.ini an earlier version
// wrote there becomes it the first time.
[[nodiscard]] QString settingsFilePath();

inline const char *const kDatabaseFileName = "eventDB.mdb";

} // namespace store
