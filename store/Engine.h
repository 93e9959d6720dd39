#pragma once

#include <QList>
#include <QString>

#include <utility>

namespace store {

// The database engines the store speaks. The engine is chosen once, from the
// connection string: a postgresql:// URL names a shared calendar on a
// PostgreSQL server, anything else the SQLite file of the DBQ part.
enum class Engine { Sqlite, Postgres };

[[nodiscard]] Engine engineOf(const QString &connectionString);

// postgresql://user@host[:port][,host[:port]...]/dbname[?option=value&...].
// A host may be a folder holding the server's Unix socket, written
// percent-encoded (%2Frun%2Fpostgresql). Several hosts are tried in turn
// (target_session_attrs=read-write picks the primary). The options are libpq's
// (kServerOptions). A password is never taken from the URL: libpq finds it in
// ~/.pgpass or PGPASSWORD.
struct ServerAddress
{
    QString user;
    QString host; // the first host; empty: libpq's default socket
    int port = 5432;
    QList<std::pair<QString, int>> moreHosts; // host and port of the others, in order
    QString database;
    QList<std::pair<QString, QString>> options; // as written, percent-decoded

    // The URL again, as a user would write it.
    [[nodiscard]] QString url() const;
    // The option's value as written; empty when it is not given.
    [[nodiscard]] QString option(const QString &key) const;
    // Every host is this computer: a socket folder, the default socket, or a
    // loopback address.
    [[nodiscard]] bool isLocal() const;
    // The sslmode libpq is given: as written, else verify-full for a server
    // on another computer.
    [[nodiscard]] QString sslMode() const;
};

// The options an address may carry.
inline constexpr const char *kServerOptions[] = {"sslmode",     "sslrootcert",      "sslcert",
                                                 "sslkey",      "sslcrl",           "connect_timeout",
                                                 "application_name", "target_session_attrs", "passfile"};

// Throws StoreError with the reason when the text is no usable URL.
[[nodiscard]] ServerAddress parseServerUrl(const QString &url);

[[nodiscard]] bool isServerUrl(const QString &text);

// Whether the link to the shared calendar at `url` is known to reach the
// server it names: every host is this computer, or the server proved its name
// with a certificate (sslmode=verify-full). False for a file, and for an
// address the user lowered to less.
[[nodiscard]] bool isVerifiedLink(const QString &url);

// The text with the password of every address in it (scheme://user:password@,
// or ?password=) replaced by asterisks: what may be shown, logged or kept of
// an address.
[[nodiscard]] QString withoutPassword(const QString &text);

} // namespace store
