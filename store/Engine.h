#pragma once

#include <QString>

namespace store {

// The database engines the store speaks. The engine is chosen once, from the
// connection string: a postgresql:// URL names a shared calendar on a
// PostgreSQL server, anything else the SQLite file of the DBQ part.
enum class Engine { Sqlite, Postgres };

[[nodiscard]] Engine engineOf(const QString &connectionString);

// postgresql://user@host[:port]/dbname. The host may be a folder holding the
// server's Unix socket, written percent-encoded (%2Frun%2Fpostgresql). A
// password is never taken from the URL: libpq finds it in ~/.pgpass or
// PGPASSWORD.
struct ServerAddress
{
    QString user;
    QString host; // empty: libpq's default socket
    int port = 5432;
    QString database;

    // The URL again, as a user would write it.
    [[nodiscard]] QString url() const;
};

// Throws StoreError with the reason when the text is no usable URL.
[[nodiscard]] ServerAddress parseServerUrl(const QString &url);

[[nodiscard]] bool isServerUrl(const QString &text);

// The text with the password of every address in it (scheme://user:password@)
// replaced by asterisks: what may be shown, logged or kept of an address.
[[nodiscard]] QString withoutPassword(const QString &text);

} // namespace store
