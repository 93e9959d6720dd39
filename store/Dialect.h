#pragma once

#include <QDateTime>
#include <QString>

#include "store/Engine.h"

namespace store {

// Turns a statement written in the program's dialect into SQLite's: each
// #M/D/YYYY H:MM[:SS]# literal outside quoted text becomes the stored text form
// 'YYYY-MM-DD HH:MM:SS'. A range of whole days, "<column> BETWEEN #d 00:00:00#
// AND #e 23:59:59#", becomes one that takes in every stored text beginning with
// those dates. Quoted text is passed through untouched.
// Throws StoreError for a malformed or impossible literal.
[[nodiscard]] QString toSqlite(const QString &statement);
// The same for PostgreSQL: TIMESTAMP 'YYYY-MM-DD HH:MM:SS'.
[[nodiscard]] QString toPostgres(const QString &statement);
[[nodiscard]] QString toEngine(const QString &statement, Engine engine);

// The stored text form of a date-time value, and back. fromStored also takes
// the forms other tools write (see there) and throws StoreError when the text
// is no date-time.
[[nodiscard]] QString storedText(const QDate &date, const QTime &time);
[[nodiscard]] QString toStored(const QDateTime &value);
[[nodiscard]] QDateTime fromStored(const QString &text);

} // namespace store
