#pragma once

#include <QString>

namespace store {

// The data source text the windows keep as `connectionString`; the store takes
// the database path from its DBQ part.
[[nodiscard]] QString connectionStringFor(const QString &programFolder);

// The text between "DBQ=" and the final ";"; empty when there is none.
[[nodiscard]] QString databasePathOf(const QString &connectionString);

inline const char *const kDatabaseFileName = "eventDB.mdb";

} // namespace store
