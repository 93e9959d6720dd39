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
// shared calendar, the URL: what a user is told the calendar lives in.
[[nodiscard]] QString databasePathOf(const QString &connectionString);

inline const char *const kDatabaseFileName = "eventDB.mdb";

} // namespace store
